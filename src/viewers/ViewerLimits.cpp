#include "viewers/ViewerLimits.h"

#include "model/VeskFile.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"

#include <cstdint>
#include <sys/stat.h>

namespace vesk {

namespace {

    // The limits as the README gives them, in binary units.
    std::string sizeText(std::size_t bytes)
    {
        constexpr std::size_t gibibyte = std::size_t(1) << 30;
        if (bytes >= gibibyte && bytes % gibibyte == 0)
            return std::to_string(bytes / gibibyte) + " GiB";
        return std::to_string(bytes >> 20) + " MiB";
    }

}

bool isLargerThan(const std::string& path, std::size_t limit)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) > limit;
}

void showTooBig(const char* format, std::size_t limit, const std::shared_ptr<VeskFile>& file)
{
    auto message = VeskNotification::messageFittingName([&](const std::string& name) { return localizedFormat(format, { sizeText(limit), name }); },
        file ? file->name() : std::string());
    VeskNotificationManager::showNotification(message, NotificationType::Warning, {}, {}, 3.0);
}

}
