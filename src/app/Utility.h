#pragma once

#include "platform/foundation/NSString.h"
#include "platform/foundation/NSURL.h"
#include "platform/foundation/Value.h"
#include "platform/graphics/CGGeometry.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::platform {
class UIAlertAction;
class UIAlertController;
class UIProgressView;
class UIStoryboard;
class UIView;
class UIViewController;
}

namespace vesk {

class AppDelegate;
class Bookmarks;
struct MoveProgress;
class VeskFile;
struct ZipItem;

class UtilityDelegate {
public:
    virtual ~UtilityDelegate() = default;
    // Answers false when not implemented.
    virtual bool didDeleteFile(const std::shared_ptr<VeskFile>&) { return false; }
};

// The operation hub: app facts, the storyboard "Main", the presentation of screens over what
// is on screen and the choice of the viewer for a file. Not shared: every user makes its own.
// The screen operations belong to the main thread; the class-level facts to any thread.
class Utility {
public:
    Utility();
    virtual ~Utility();
    Utility(const Utility&) = delete;
    Utility& operator=(const Utility&) = delete;

    // Held weakly: the screen that owns this Utility is usually its delegate.
    std::shared_ptr<UtilityDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UtilityDelegate>& delegate) { m_delegate = delegate; }

    // App facts.
    static std::string getVersion();
    static std::string getBuildNumber();
    // Stores the empty bookmark list when there is none yet.
    void setup();
    bool isIpad() const;
    std::shared_ptr<AppDelegate> getAppDelegate() const;
    std::shared_ptr<platform::UIView> getStatusBar() const;
    static std::string platform();
    static std::string getADID();
    static bool hasRoot();
    static bool hasCydia();
    static bool isJailbroken();
    // The text of a string value; the empty text for a value of any other type.
    std::string convertCfTypeToString(const platform::Value& value) const;

    // Storyboard and screens.
    platform::UIStoryboard& mainStoryboard() const;
    // The last controller of the presentation chain from the key window's root.
    std::shared_ptr<platform::UIViewController> getTopMostViewController() const;
    // Present the screen over the top-most controller unless it is already in the front
    // navigation stack; nothing when no navigation controller is in front.
    void openSettings();
    void openBookmarks();

    // Opening a file: the viewer chosen by extension in the order image, text, zip, property
    // list, web, else the unknown-type screen; each wrapped in a navigation controller and
    // presented modally by `viewController`.
    void openItem(const std::shared_ptr<platform::UIViewController>& viewController, const std::shared_ptr<VeskFile>& file, platform::CGRect rect);
    void openImage(const std::shared_ptr<VeskFile>& file, const std::shared_ptr<platform::UIViewController>& viewController);
    void openText(const std::shared_ptr<VeskFile>& file, const std::shared_ptr<platform::UIViewController>& viewController);
    void openPlist(const std::shared_ptr<VeskFile>& file, const std::shared_ptr<platform::UIViewController>& viewController);
    void openWeb(const std::shared_ptr<VeskFile>& file, const std::shared_ptr<platform::UIViewController>& viewController);
    void showInfo(const std::shared_ptr<platform::UIViewController>& viewController, const std::shared_ptr<VeskFile>& file);
    // The screen a peek shows, not presented: a bare file list for a folder, else the viewer
    // (zip archives included: "unknown") inside a navigation controller. Null when the
    // storyboard lacks the screen.
    std::shared_ptr<platform::UIViewController> getViewControllerForPath(const std::shared_ptr<VeskFile>& file);

    // File operations: each returns at once; confirmations, work and banners follow.
    using FinishedCallBack = std::function<void()>;
    using Files = std::vector<std::shared_ptr<VeskFile>>;
    void deleteFile(const std::shared_ptr<platform::UIViewController>& viewController, const Files& files, platform::CGRect rect, FinishedCallBack finishedCallBack = {});
    // The "More" sheet; every entry acts on the first item but "Copy/Move", which takes them all.
    void shareFile(const std::shared_ptr<platform::UIViewController>& viewController, platform::CGRect rect, const Files& files);
    void openAs(const std::shared_ptr<platform::UIViewController>& viewController, platform::CGRect rect, const std::shared_ptr<VeskFile>& file);
    void copyCutContent(const Files& files, const std::shared_ptr<platform::UIViewController>& viewController, FinishedCallBack finishedCallBack = {});
    // Zips the selected items, folders with everything below them, each entry named by its path
    // from the folder the selection is in. The sheet lists and counts what is not a folder.
    void zipContent(const std::string& path, const std::vector<std::string>& files, const std::shared_ptr<platform::UIViewController>& viewController, platform::CGRect rect, FinishedCallBack finishedCallBack = {});
    void openZip(const std::string& path, const std::shared_ptr<platform::UIViewController>& viewController, platform::CGRect rect);
    void addFileOrDir(const std::string& path, const std::shared_ptr<platform::UIViewController>& viewController, platform::CGRect rect);
    // The in-app browser for the folder, presented from the screen that showed the add sheet.
    void openDownloadWebView(const std::string& path, const std::shared_ptr<platform::UIViewController>& viewController);

private:
    template<typename Screen>
    void openFrontScreen(const std::string& identifier);
    template<typename Screen>
    void presentFileScreen(const std::string& identifier, const std::shared_ptr<VeskFile>& file, const std::shared_ptr<platform::UIViewController>& viewController);
    std::shared_ptr<platform::UIViewController> wrapForPresentation(const std::shared_ptr<platform::UIViewController>& screen) const;

    // Sheets, alerts and workers outlive the call that starts them, and often the Utility too
    // (a cell drops its own after one call): they work on a Utility of their own, with the
    // same delegate.
    std::shared_ptr<Utility> handlerCopy() const;
    // Presents animated; an action sheet on a pad points at `rect` in the presenter's view.
    void presentSheet(const std::shared_ptr<platform::UIAlertController>& sheet, const std::shared_ptr<platform::UIViewController>& viewController, platform::CGRect rect) const;

    // Delete.
    void deleteWorker(const Files& files, FinishedCallBack finishedCallBack);
    void notifyDelegateDidDeleteFile(const std::shared_ptr<VeskFile>& file);

    // The "More" sheet's own entries, the bookmark toggle and rename.
    void saveToDocumentsWorker(const std::shared_ptr<VeskFile>& file);
    void saveToBookmarks(const std::shared_ptr<VeskFile>& file);
    void removeFromBookmarks(const std::shared_ptr<VeskFile>& file);
    void renameAlert(const std::shared_ptr<VeskFile>& file, const std::shared_ptr<platform::UIViewController>& viewController);
    void renameWorker(const std::shared_ptr<VeskFile>& file, const std::string& newName, const std::weak_ptr<platform::UIViewController>& viewController);

    // Clipboard.
    void storeClipboard(const std::string& methode, const std::vector<std::string>& paths, const std::optional<std::string>& singleName, FinishedCallBack finishedCallBack);
    // None without a usable clipboard entry or when the folder is not writable.
    std::shared_ptr<platform::UIAlertAction> pasteEntry(const std::string& folder, const std::shared_ptr<platform::UIViewController>& viewController);
    void paste(const std::string& methode, const std::vector<std::string>& paths, const std::string& folder, const std::weak_ptr<platform::UIViewController>& viewController);
    void moveClipboardItems(const std::vector<std::string>& paths, const std::string& folder, const std::string& title, const std::weak_ptr<platform::UIViewController>& viewController);
    void moveWorker(const std::vector<std::string>& paths, const std::string& folder, const std::shared_ptr<MoveProgress>& progress);

    // Zip and unzip.
    void zipWorker(const std::string& path, const std::vector<ZipItem>& items, std::size_t fileCount, const std::shared_ptr<platform::UIViewController>& viewController, platform::CGRect rect, FinishedCallBack finishedCallBack);
    // Presents the alert with a progress bar along its foot, as unzipping and long moves show it.
    std::shared_ptr<platform::UIProgressView> presentProgressAlert(const std::shared_ptr<platform::UIAlertController>& alert, const std::shared_ptr<platform::UIViewController>& viewController, platform::CGRect rect) const;
    void unzipProgressAlert(const std::string& destination, const std::string& path, const std::shared_ptr<platform::UIViewController>& viewController, platform::CGRect rect);
    static void unzipWorker(const std::string& path, const std::string& destination, const std::weak_ptr<platform::UIProgressView>& progressView, const std::weak_ptr<platform::UIAlertController>& alert);

    // "Add Dirctory".
    void newDirectory(const std::string& folder);

    std::weak_ptr<UtilityDelegate> m_delegate;
    std::shared_ptr<Bookmarks> m_bookmarks;
};

// The path helpers that live beside Utility.
using platform::lastPathComponent;
using platform::stringByAppendingPathComponent;
using platform::stringByDeletingLastPathComponent;
// Absent for a text that is no URL.
std::optional<platform::NSURL> urlFromString(std::string_view text);

}
