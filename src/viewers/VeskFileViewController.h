#pragma once

#include "app/Utility.h"
#include "model/FileWatcher.h"
#include "platform/uikit/UIToolbar.h"
#include "platform/uikit/UIViewController.h"

#include <memory>
#include <string>
#include <vector>

namespace vesk::platform {
class NSFileManager;
}

namespace vesk {

class VeskFile;

// The base of the screens that show one file: the title (starred while the file is
// bookmarked), the done and info buttons, a bottom toolbar with share and delete, a Utility for
// the file operations and a watcher for bookmark changes while the screen is up. The presenter
// sets `file` before the view loads.
class VeskFileViewController : public platform::UIViewController, public UtilityDelegate, public FileWatcherDelegate {
public:
    VeskFileViewController();
    ~VeskFileViewController() override;

    // Outlets, connected by the storyboard scene.
    std::shared_ptr<platform::UIBarButtonItem> doneButton() const { return m_doneButton.lock(); }
    void setDoneButton(const std::shared_ptr<platform::UIBarButtonItem>& item) { m_doneButton = item; }
    std::shared_ptr<platform::UIBarButtonItem> infoButton() const { return m_infoButton.lock(); }
    void setInfoButton(const std::shared_ptr<platform::UIBarButtonItem>& item) { m_infoButton = item; }
    std::shared_ptr<platform::UIBarButtonItem> shareButton() const { return m_shareButton.lock(); }
    void setShareButton(const std::shared_ptr<platform::UIBarButtonItem>& item) { m_shareButton = item; }
    std::shared_ptr<platform::UIBarButtonItem> deleteButton() const { return m_deleteButton.lock(); }
    void setDeleteButton(const std::shared_ptr<platform::UIBarButtonItem>& item) { m_deleteButton = item; }
    std::shared_ptr<platform::UIToolbar> toolBar() const { return m_toolBar.lock(); }
    void setToolBar(const std::shared_ptr<platform::UIToolbar>& toolbar) { m_toolBar = toolbar; }

    Utility& utility() const { return *m_utility; }
    const std::shared_ptr<FileWatcher>& fw() const { return m_fw; }
    std::shared_ptr<VeskFile> file() const { return m_file; }
    void setFile(std::shared_ptr<VeskFile> file) { m_file = std::move(file); }

    void viewDidLoad() override;
    void viewDidDisappear(bool animated) override;
    virtual void deleteFile();
    virtual void shareFile();
    // The memory report of a subclass's didReceiveMemoryWarning, with its source path.
    virtual void gotMemoryWarning(const std::string& path);
    virtual bool isIpad() const;
    virtual void dismiss();
    virtual void fileInfo();
    virtual bool isDeletableFile() const;
    // The error banner, then the screen closes. Any thread.
    virtual void showErrorAndClose();
    virtual void didDeleteFileAtPath(const std::string& path);

    // The file deleted through this screen's own toolbar closes it.
    bool didDeleteFile(const std::shared_ptr<VeskFile>& file) override;
    bool changedBookmark(const std::shared_ptr<VeskFile>& file, bool removed) override;

protected:
    // What the storyboard scene holds: the done and info buttons in the navigation bar and, unless
    // the items go to the navigation controller's toolbar, a bottom toolbar of share, the given
    // middle items and delete. Answers the area left between the bars.
    platform::CGRect loadScene(std::vector<std::shared_ptr<platform::UIBarButtonItem>> middleItems, bool ownToolbar = true);
    // A bar button whose action calls the member on this screen, if it is still there.
    template<typename Screen>
    std::shared_ptr<platform::UIBarButtonItem> barButton(const std::string& title, void (Screen::*member)());

private:
    std::weak_ptr<platform::UIBarButtonItem> m_doneButton;
    std::weak_ptr<platform::UIBarButtonItem> m_infoButton;
    std::weak_ptr<platform::UIBarButtonItem> m_shareButton;
    std::weak_ptr<platform::UIBarButtonItem> m_deleteButton;
    std::weak_ptr<platform::UIToolbar> m_toolBar;
    platform::NSFileManager& m_fm;
    std::unique_ptr<Utility> m_utility;
    std::shared_ptr<FileWatcher> m_fw;
    std::shared_ptr<VeskFile> m_file;
};

template<typename Screen>
std::shared_ptr<platform::UIBarButtonItem> VeskFileViewController::barButton(const std::string& title, void (Screen::*member)())
{
    std::weak_ptr<platform::UIViewController> weak = weak_from_this();
    return std::make_shared<platform::UIBarButtonItem>(title, platform::UIBarButtonItemStyle::Plain, [weak, member](platform::UIBarButtonItem&) {
        if (auto screen = std::dynamic_pointer_cast<Screen>(weak.lock()))
            ((*screen).*member)();
    });
}

}

// The viewers themselves, for the code that chooses among them.
#include "viewers/ImageViewController.h"
#include "viewers/PlistViewController.h"
#include "viewers/TextViewController.h"
#include "viewers/UnknownViewController.h"
#include "viewers/WebViewController.h"
