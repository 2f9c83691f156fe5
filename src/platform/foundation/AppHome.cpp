#include "platform/foundation/AppHome.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/NSString.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

namespace vesk::platform {

namespace {

    std::string configuredHome()
    {
        if (const char* home = std::getenv("VESK_HOME"); home && *home)
            return stringByAppendingPathComponent(home, "");
        if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
            return stringByAppendingPathComponent(data, "vesk");
        return stringByAppendingPathComponent(expandingTildeInPath("~"), ".local/share/vesk");
    }

    // Each home gets its folders once; later calls only read the environment.
    std::string preparedHome()
    {
        static std::mutex mutex;
        static std::set<std::string> prepared;
        auto home = configuredHome();
        std::lock_guard lock(mutex);
        if (prepared.insert(home).second) {
            for (auto const* folder : { "Documents", "Library/Preferences", "Library/Caches", "tmp" }) {
                auto path = stringByAppendingPathComponent(home, folder);
                if (!createDirectories(path))
                    std::fprintf(stderr, "vesk: cannot create %s\n", path.c_str());
            }
        }
        return home;
    }

}

std::string NSHomeDirectory()
{
    return preparedHome();
}

std::string NSTemporaryDirectory()
{
    return stringByAppendingPathComponent(preparedHome(), "tmp") + "/";
}

std::string documentsDirectory()
{
    return stringByAppendingPathComponent(preparedHome(), "Documents");
}

std::string libraryDirectory()
{
    return stringByAppendingPathComponent(preparedHome(), "Library");
}

std::string cachesDirectory()
{
    return stringByAppendingPathComponent(preparedHome(), "Library/Caches");
}

std::string preferencesDirectory()
{
    return stringByAppendingPathComponent(preparedHome(), "Library/Preferences");
}

} // namespace vesk::platform
