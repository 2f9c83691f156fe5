#include "app/Utility.h"

#include "app/AppDelegate.h"
#include "app/BookmarksController.h"
#include "app/VeskFileListController.h"
#include "model/Bookmarks.h"
#include "model/ObjCHelper.h"
#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "model/VeskFileTypes.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/system/UIDevice.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIView.h"
#include "platform/uikit/UIViewController.h"
#include "screens/SettingsTableViewController.h"
#include "viewers/InfoTableViewController.h"
#include "viewers/VeskFileViewController.h"

#include <algorithm>
#include <cstring>
#include <sys/utsname.h>
#include <unistd.h>

namespace vesk {

using namespace platform;

Utility::Utility()
    : m_bookmarks(std::make_shared<Bookmarks>())
{
}

Utility::~Utility() = default;

namespace {

    std::string infoText(std::string_view key)
    {
        auto* text = NSBundle::mainBundle().objectForInfoDictionaryKey(key).string();
        return text ? *text : std::string();
    }

}

std::string Utility::getVersion()
{
    return infoText("CFBundleShortVersionString");
}

std::string Utility::getBuildNumber()
{
    return infoText("CFBundleVersion");
}

void Utility::setup()
{
    m_bookmarks->setup();
}

bool Utility::isIpad() const
{
    return UIDevice::currentDevice().userInterfaceIdiom() == UIUserInterfaceIdiom::Pad;
}

std::shared_ptr<AppDelegate> Utility::getAppDelegate() const
{
    return std::dynamic_pointer_cast<AppDelegate>(UIApplication::sharedApplication().delegate());
}

std::shared_ptr<UIView> Utility::getStatusBar() const
{
    return ObjCHelper().getStatusBar();
}

std::string Utility::platform()
{
    struct utsname names { };
    if (::uname(&names) != 0)
        return {};
    return std::string(names.machine, strnlen(names.machine, sizeof(names.machine)));
}

std::string Utility::getADID()
{
    return deviceIdentity();
}

bool Utility::hasRoot()
{
    return ::getgid() < 11;
}

bool Utility::hasCydia()
{
    return NSFileManager::defaultManager().fileExistsAtPath("/Applications/Cydia.app");
}

bool Utility::isJailbroken()
{
    return hasRoot() || hasCydia();
}

std::string Utility::convertCfTypeToString(const Value& value) const
{
    auto* text = value.string();
    return text ? *text : std::string();
}

UIStoryboard& Utility::mainStoryboard() const
{
    return UIStoryboard::storyboardWithName("Main");
}

std::shared_ptr<UIViewController> Utility::getTopMostViewController() const
{
    auto window = UIApplication::sharedApplication().keyWindow();
    if (!window)
        return nullptr;
    auto current = window->rootViewController();
    if (!current)
        return nullptr;
    while (auto presented = current->presentedViewController())
        current = presented;
    return current;
}

std::shared_ptr<UIViewController> Utility::wrapForPresentation(const std::shared_ptr<UIViewController>& screen) const
{
    auto navigation = UINavigationController::initWithRootViewController(screen);
    navigation->setModalPresentationStyle(isIpad() ? UIModalPresentationStyle::FormSheet : UIModalPresentationStyle::FullScreen);
    return navigation;
}

template<typename Screen>
void Utility::openFrontScreen(const std::string& identifier)
{
    auto top = getTopMostViewController();
    if (!top)
        return;
    // An alert or action sheet may be in front: then there is no stack to search, and
    // presenting over it would be refused anyway.
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(top);
    if (!navigation)
        return;
    auto& stack = navigation->viewControllers();
    if (std::any_of(stack.begin(), stack.end(), [](auto& controller) { return std::dynamic_pointer_cast<Screen>(controller) != nullptr; }))
        return;
    auto screen = mainStoryboard().instantiate<Screen>(identifier);
    if (!screen)
        return;
    top->presentViewController(wrapForPresentation(screen), true);
}

void Utility::openSettings()
{
    openFrontScreen<SettingsTableViewController>("settings");
}

void Utility::openBookmarks()
{
    openFrontScreen<BookmarksController>("bookmarks");
}

template<typename Screen>
void Utility::presentFileScreen(const std::string& identifier, const std::shared_ptr<VeskFile>& file, const std::shared_ptr<UIViewController>& viewController)
{
    if (!viewController)
        return;
    auto screen = mainStoryboard().instantiate<Screen>(identifier);
    if (!screen)
        return;
    screen->setFile(file);
    viewController->presentViewController(wrapForPresentation(screen), true);
}

void Utility::openImage(const std::shared_ptr<VeskFile>& file, const std::shared_ptr<UIViewController>& viewController)
{
    presentFileScreen<ImageViewController>("image", file, viewController);
}

void Utility::openText(const std::shared_ptr<VeskFile>& file, const std::shared_ptr<UIViewController>& viewController)
{
    presentFileScreen<TextViewController>("text", file, viewController);
}

void Utility::openPlist(const std::shared_ptr<VeskFile>& file, const std::shared_ptr<UIViewController>& viewController)
{
    presentFileScreen<PlistViewController>("plist", file, viewController);
}

void Utility::openWeb(const std::shared_ptr<VeskFile>& file, const std::shared_ptr<UIViewController>& viewController)
{
    presentFileScreen<WebViewController>("web", file, viewController);
}

void Utility::showInfo(const std::shared_ptr<UIViewController>& viewController, const std::shared_ptr<VeskFile>& file)
{
    presentFileScreen<InfoTableViewController>("info", file, viewController);
}

void Utility::openItem(const std::shared_ptr<UIViewController>& viewController, const std::shared_ptr<VeskFile>& file, CGRect rect)
{
    if (!file)
        return;
    auto path = file->path();
    if (isImageFileAtPath(path))
        openImage(file, viewController);
    else if (isTextFileAtPath(path))
        openText(file, viewController);
    else if (isZipFileAtPath(path))
        openZip(path, viewController, rect);
    else if (isListFileAtPath(path))
        openPlist(file, viewController);
    else if (isWebFileAtPath(path))
        openWeb(file, viewController);
    else
        presentFileScreen<UnknownViewController>("unknown", file, viewController);
}

std::shared_ptr<UIViewController> Utility::getViewControllerForPath(const std::shared_ptr<VeskFile>& file)
{
    if (!file)
        return nullptr;
    if (file->isDir()) {
        auto list = mainStoryboard().instantiate<VeskFileListController>("fileList");
        if (list)
            list->setFile(file);
        return list;
    }
    auto path = file->path();
    std::string identifier = "unknown";
    if (isImageFileAtPath(path))
        identifier = "image";
    else if (isTextFileAtPath(path))
        identifier = "text";
    else if (isListFileAtPath(path))
        identifier = "plist";
    else if (isWebFileAtPath(path))
        identifier = "web";
    auto screen = mainStoryboard().instantiate<VeskFileViewController>(identifier);
    if (!screen)
        return nullptr;
    screen->setFile(file);
    return wrapForPresentation(screen);
}

std::optional<NSURL> urlFromString(std::string_view text)
{
    return NSURL::URLWithString(text);
}

}
