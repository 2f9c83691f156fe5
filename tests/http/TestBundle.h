#pragma once

// A bundle of the tests' own, so the "Server" header carries a known version.
// It must be in place before anything asks for the main bundle.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace vesk::test {

class BundleEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        m_folder = std::filesystem::temp_directory_path() / ("vesk-http-bundle-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_folder);
        std::ofstream(m_folder / "Info.plist") << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>CFBundleShortVersionString</key>
	<string>2.1</string>
	<key>CFBundleVersion</key>
	<string>37</string>
</dict>
</plist>
)";
        ::setenv("VESK_BUNDLE", m_folder.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

private:
    std::filesystem::path m_folder;
};

inline const std::string serverHeader = "Server: VeskHTTPServer 2.1 (37)\r\n";

inline testing::Environment* const bundleEnvironment = testing::AddGlobalTestEnvironment(new BundleEnvironment);

} // namespace vesk::test
