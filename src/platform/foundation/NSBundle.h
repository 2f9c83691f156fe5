#pragma once

#include "platform/foundation/Value.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vesk::platform {

// The app bundle: the folder of resources shipped with the program.
class NSBundle {
public:
    // $VESK_BUNDLE, else resources/ beside the executable, else the installed
    // data folder (<prefix>/share/vesk). Found once.
    static const NSBundle& mainBundle();

    explicit NSBundle(std::string path);

    const std::string& bundlePath() const { return m_path; }
    // The path of <name>.<type> (or <name> when the type is empty) in the bundle,
    // or in its folder `directory`; absent when no such file exists.
    std::optional<std::string> pathForResource(std::string_view name, std::string_view type, std::string_view directory = {}) const;
    // The bundle's Info.plist dictionary; empty when missing or unreadable.
    const Dictionary& infoDictionary() const;
    // A value of the Info.plist dictionary; null when absent.
    const Value& objectForInfoDictionaryKey(std::string_view key) const;
    // CFBundleIdentifier, or empty.
    std::string bundleIdentifier() const;

private:
    std::string m_path;
    std::shared_ptr<const Dictionary> m_info;
};

} // namespace vesk::platform
