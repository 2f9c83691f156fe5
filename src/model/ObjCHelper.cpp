#include "model/ObjCHelper.h"

#include "platform/foundation/MimeType.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/system/MobileGestalt.h"
#include "platform/uikit/UIApplication.h"

namespace vesk {

using namespace platform;

namespace {

    // "%@" of a missing object reads "(null)".
    std::optional<std::string> formattedAnswer(const char* question)
    {
        auto answer = MGCopyAnswer(question);
        if (!answer)
            return std::string("(null)");
        return stringWithFormat("%@", { *answer });
    }

}

std::string ObjCHelper::getMimeTypeOfFile(const std::string& path) const
{
    bool isDirectory = false;
    if (NSFileManager::defaultManager().fileExistsAtPath(path, &isDirectory) && isDirectory)
        return "text/directory";
    return mimeTypeForExtension(pathExtension(path)).value_or("unknown");
}

std::optional<std::string> ObjCHelper::getFire() const
{
    return formattedAnswer("DieId");
}
std::optional<std::string> ObjCHelper::getChicken() const
{
    return MGCopyAnswer("HWModelStr");
}
std::optional<std::string> ObjCHelper::getAngryGuy() const
{
    return formattedAnswer("BoardId");
}
std::optional<std::string> ObjCHelper::getBikini() const
{
    return formattedAnswer("ChipID");
}
std::optional<std::string> ObjCHelper::getACar() const
{
    return MGCopyAnswer("HardwarePlatform");
}

std::shared_ptr<platform::UIView> ObjCHelper::getStatusBar() const
{
    return platform::UIApplication::sharedApplication().statusBar();
}

}
