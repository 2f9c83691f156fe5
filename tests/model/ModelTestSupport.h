#pragma once

// Scratch folders and files, and a runner that lets file modes bite even for root.

#include "platform/foundation/FoundationTestSupport.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Value.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk::test {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it, also what a test made unreadable.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "vesk-model-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        for (auto it = fs::recursive_directory_iterator(m_path, fs::directory_options::skip_permission_denied, ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void writeText(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::string readText(const std::string& path)
{
    std::stringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

using vesk::testing::classEntry;
using vesk::testing::keyedArchive;
using vesk::testing::runUnprivileged;

// A fresh app home (and so fresh user defaults) and a scratch folder per test.
class TemporaryHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* home = std::getenv("VESK_HOME"))
            m_previousHome = home;
        setenv("VESK_HOME", (m_root / "home").c_str(), 1);
        platform::NSUserDefaults::resetStandardUserDefaults();
        fs::create_directory(scratch());
    }

    void TearDown() override
    {
        if (m_previousHome)
            setenv("VESK_HOME", m_previousHome->c_str(), 1);
        else
            unsetenv("VESK_HOME");
        platform::NSUserDefaults::resetStandardUserDefaults();
    }

    std::string scratch() const { return m_root / "scratch"; }
    // A path inside the scratch folder.
    std::string at(const std::string& relative) const { return scratch() + "/" + relative; }

    std::string makeFile(const std::string& relative, const std::string& contents = {}, mode_t mode = 0644) const
    {
        writeText(at(relative), contents);
        EXPECT_EQ(::chmod(at(relative).c_str(), mode), 0) << relative;
        return at(relative);
    }

    std::string makeFolder(const std::string& relative, mode_t mode = 0755) const
    {
        EXPECT_EQ(::mkdir(at(relative).c_str(), 0755), 0) << relative;
        ::chmod(at(relative).c_str(), mode);
        return at(relative);
    }

    std::string makeLink(const std::string& relative, const std::string& target) const
    {
        EXPECT_EQ(::symlink(target.c_str(), at(relative).c_str()), 0) << relative;
        return at(relative);
    }

    bool asUnprivilegedUser(const std::function<bool()>& check) const { return runUnprivileged(m_root.path(), check); }

private:
    TemporaryFolder m_root;
    std::optional<std::string> m_previousHome;
};

}
