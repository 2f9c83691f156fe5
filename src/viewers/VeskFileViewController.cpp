#include "viewers/VeskFileViewController.h"

#include "assets/VeskAssets.h"
#include "model/PlatformUtilities.h"
#include "model/VeskFile.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NSFileManager.h"
#include "sdk/Analytics.h"

#include <cstdio>

namespace vesk {

using namespace platform;

namespace {

    const std::string star = "\u2B50\uFE0F";

    constexpr CGFloat toolbarHeight = 44;

}

VeskFileViewController::VeskFileViewController()
    : m_fm(NSFileManager::defaultManager())
    , m_utility(std::make_unique<Utility>())
    , m_fw(std::make_shared<FileWatcher>())
{
}

VeskFileViewController::~VeskFileViewController() = default;

CGRect VeskFileViewController::loadScene(std::vector<std::shared_ptr<UIBarButtonItem>> middleItems, bool ownToolbar)
{
    auto root = view();
    auto bounds = root->bounds();
    auto barTop = topLayoutGuide().length;
    auto done = barButton<VeskFileViewController>("Done", &VeskFileViewController::dismiss);
    done->setStyle(UIBarButtonItemStyle::Done);
    auto info = barButton<VeskFileViewController>("Info", &VeskFileViewController::fileInfo);
    info->setImage(VeskAssets::imageOfInfoButton());
    navigationItem().setLeftBarButtonItem(done);
    navigationItem().setRightBarButtonItem(info);
    setDoneButton(done);
    setInfoButton(info);

    // Their actions are set when the view has loaded.
    auto share = std::make_shared<UIBarButtonItem>(std::optional<std::string>("Share"), UIBarButtonItemStyle::Plain, nullptr);
    share->setImage(VeskAssets::imageOfShareIcon());
    auto trash = std::make_shared<UIBarButtonItem>(std::optional<std::string>("Delete"), UIBarButtonItemStyle::Plain, nullptr);
    trash->setImage(VeskAssets::imageOfTrashIcon());
    setShareButton(share);
    setDeleteButton(trash);

    std::vector<std::shared_ptr<UIBarButtonItem>> items { share };
    auto flexible = [] { return std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::FlexibleSpace, nullptr); };
    for (auto& item : middleItems) {
        items.push_back(flexible());
        items.push_back(item);
    }
    items.push_back(flexible());
    items.push_back(trash);
    if (!ownToolbar) {
        setToolbarItems(std::move(items));
        return CGRectMake(0, barTop, bounds.size.width, bounds.size.height - barTop - toolbarHeight);
    }
    auto toolbar = std::make_shared<UIToolbar>(CGRectMake(0, bounds.size.height - toolbarHeight, bounds.size.width, toolbarHeight));
    toolbar->setAutoresizingMask(UIViewAutoresizing::FlexibleWidth | UIViewAutoresizing::FlexibleTopMargin);
    toolbar->setItems(std::move(items));
    root->addSubview(toolbar);
    setToolBar(toolbar);
    return CGRectMake(0, barTop, bounds.size.width, bounds.size.height - barTop - toolbarHeight);
}

void VeskFileViewController::viewDidLoad()
{
    UIViewController::viewDidLoad();
    auto self = std::dynamic_pointer_cast<VeskFileViewController>(shared_from_this());
    m_utility->setDelegate(self);
    m_utility->setup();
    m_fw->setDelegate(std::weak_ptr<FileWatcherDelegate>(self));
    m_fw->setup(m_file);
    if (auto share = shareButton())
        share->setAction([weak = std::weak_ptr(self)](UIBarButtonItem&) {
            if (auto screen = weak.lock())
                screen->shareFile();
        });
    if (auto trash = deleteButton())
        trash->setAction([weak = std::weak_ptr(self)](UIBarButtonItem&) {
            if (auto screen = weak.lock())
                screen->deleteFile();
        });
    if (m_file)
        setTitle(m_file->isInBookmarks() ? star + m_file->name() : m_file->name());
}

void VeskFileViewController::viewDidDisappear(bool animated)
{
    UIViewController::viewDidDisappear(animated);
    m_fw->stop();
}

void VeskFileViewController::deleteFile()
{
    // The anchor is the button's place in the root view's coordinates.
    CGRect anchor {};
    if (auto item = deleteButton()) {
        anchor = item->frame();
        auto bar = toolBar();
        if (bar && bar->superview()) {
            anchor = bar->convertRectToView(anchor, view().get());
        } else if (bar) {
            // The navigation controller's toolbar is outside this view's tree, at its frame on screen.
            auto root = view()->convertRectToView(CGRect {}, nullptr).origin;
            anchor.origin.x += bar->frame().origin.x - root.x;
            anchor.origin.y += bar->frame().origin.y - root.y;
        }
    }
    auto self = std::dynamic_pointer_cast<VeskFileViewController>(shared_from_this());
    m_utility->deleteFile(self, { m_file }, anchor);
}

void VeskFileViewController::shareFile()
{
    // The button's x and size, the toolbar's y; nothing converted.
    CGRect anchor {};
    if (auto item = shareButton())
        anchor = item->frame();
    if (auto bar = toolBar())
        anchor.origin.y = bar->frame().origin.y;
    auto self = std::dynamic_pointer_cast<VeskFileViewController>(shared_from_this());
    m_utility->shareFile(self, anchor, { m_file });
}

void VeskFileViewController::gotMemoryWarning(const std::string& path)
{
    UIViewController::didReceiveMemoryWarning();
    auto megabytes = reportMemory();
    std::printf("==============================\n");
    std::fflush(stdout);
    debugLog("Got memory warning from file: " + path, __FILE__, __LINE__, __func__);
    Analytics::logCustomEventWithName("Memory Warning", { { "File", Value(path) }, { "RAM", Value(static_cast<unsigned long long>(megabytes)) } });
}

bool VeskFileViewController::isIpad() const
{
    return Utility().isIpad();
}

void VeskFileViewController::dismiss()
{
    dismissViewControllerAnimated(true);
}

void VeskFileViewController::fileInfo()
{
    m_utility->showInfo(shared_from_this(), m_file);
}

bool VeskFileViewController::isDeletableFile() const
{
    return m_file && m_fm.isDeletableFileAtPath(m_file->path());
}

void VeskFileViewController::showErrorAndClose()
{
    DispatchQueue::main().async([self = shared_from_this()] {
        VeskNotificationManager::showNotification(localized("There was an unidentefied issue with this file!"), NotificationType::Error, {}, {}, 3.0);
        self->dismissViewControllerAnimated(true);
    });
}

void VeskFileViewController::didDeleteFileAtPath(const std::string&)
{
    dismissViewControllerAnimated(true);
}

bool VeskFileViewController::didDeleteFile(const std::shared_ptr<VeskFile>& file)
{
    if (file && m_file && *file == *m_file)
        didDeleteFileAtPath(file->path());
    return true;
}

bool VeskFileViewController::changedBookmark(const std::shared_ptr<VeskFile>& file, bool removed)
{
    if (file)
        setTitle(removed ? file->name() : star + file->name());
    return true;
}

}
