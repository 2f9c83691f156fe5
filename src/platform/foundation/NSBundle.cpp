#include "platform/foundation/NSBundle.h"

#include "platform/foundation/NSString.h"
#include "platform/foundation/PropertyList.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vesk::platform {

namespace {

    bool isFolder(const std::string& path)
    {
        struct stat info { };
        return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }

    std::string executableFolder()
    {
        std::vector<char> buffer(PATH_MAX + 1);
        auto length = ::readlink("/proc/self/exe", buffer.data(), PATH_MAX);
        if (length <= 0)
            return {};
        return stringByDeletingLastPathComponent(std::string(buffer.data(), static_cast<std::size_t>(length)));
    }

    std::string findBundle()
    {
        if (const char* bundle = std::getenv("VESK_BUNDLE"); bundle && *bundle)
            return stringByAppendingPathComponent(bundle, "");
        auto folder = executableFolder();
        if (!folder.empty()) {
            for (auto const* candidate : { "resources", "../share/vesk" }) {
                auto path = stringByAppendingPathComponent(folder, candidate);
                if (isFolder(path))
                    return path;
            }
        }
        for (auto const* candidate : { "/usr/local/share/vesk", "/usr/share/vesk" }) {
            if (isFolder(candidate))
                return candidate;
        }
        return stringByAppendingPathComponent(folder.empty() ? "." : folder, "resources");
    }

}

const NSBundle& NSBundle::mainBundle()
{
    static const NSBundle bundle(findBundle());
    return bundle;
}

NSBundle::NSBundle(std::string path)
    : m_path(std::move(path))
{
    auto info = propertyListFromFile(stringByAppendingPathComponent(m_path, "Info.plist"));
    if (info && info->dictionary())
        m_info = std::make_shared<const Dictionary>(*info->dictionary());
    else
        m_info = std::make_shared<const Dictionary>();
}

std::optional<std::string> NSBundle::pathForResource(std::string_view name, std::string_view type, std::string_view directory) const
{
    if (name.empty())
        return std::nullopt;
    std::string file(name);
    if (!type.empty()) {
        file += '.';
        file += type;
    }
    // A resource name never leaves the bundle.
    for (auto const& part : pathComponents(std::string(directory) + "/" + file)) {
        if (part == "..")
            return std::nullopt;
    }
    auto path = stringByAppendingPathComponent(stringByAppendingPathComponent(m_path, directory), file);
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return path;
}

const Dictionary& NSBundle::infoDictionary() const
{
    return *m_info;
}

const Value& NSBundle::objectForInfoDictionaryKey(std::string_view key) const
{
    static const Value null;
    auto const* value = m_info->find(key);
    return value ? *value : null;
}

std::string NSBundle::bundleIdentifier() const
{
    auto const* text = objectForInfoDictionaryKey("CFBundleIdentifier").string();
    return text ? *text : std::string {};
}

} // namespace vesk::platform
