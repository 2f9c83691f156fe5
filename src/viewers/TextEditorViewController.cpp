#include "viewers/TextEditorViewController.h"

#include "assets/VeskAssets.h"
#include "model/VeskFile.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSString.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIKeyboard.h"
#include "platform/uikit/UINavigationBar.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vesk {

using namespace platform;

namespace {

    // The file itself, not a link to it: the write replaces what it renames over.
    std::string resolvedTarget(const std::string& path)
    {
        char buffer[PATH_MAX];
        if (::realpath(path.c_str(), buffer))
            return buffer;
        return path;
    }

    // A file marked read-only stays so, whoever runs the app.
    bool mayWrite(const std::string& path)
    {
        struct stat info { };
        if (::stat(path.c_str(), &info) != 0)
            return errno == ENOENT;
        return S_ISREG(info.st_mode) && (info.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
    }

    // Over the file's own inode, for when a replacement could not keep its owner. The space is
    // reserved first, so a full disk fails before any old byte is overwritten.
    bool writeInPlace(const std::string& path, const struct stat& expected, const Bytes& contents)
    {
        int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            return false;
        struct stat info { };
        auto size = static_cast<off_t>(contents.size());
        bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_dev == expected.st_dev && info.st_ino == expected.st_ino
            && (size <= info.st_size || ::posix_fallocate(fd, 0, size) == 0)
            && writeAll(fd, contents.data(), contents.size())
            && ::ftruncate(fd, size) == 0
            && ::fsync(fd) == 0;
        return (::close(fd) == 0) && ok;
    }

    // The saved file keeps its owner and group: a replacement made by whoever runs the app
    // would belong to them. Where the replacement cannot be given the owner, the file is
    // written in place instead.
    bool saveKeepingOwner(const std::string& path, const Bytes& contents)
    {
        struct stat existing { };
        if (::stat(path.c_str(), &existing) != 0)
            return writeFileAtomically(path, contents);
        std::string temporary = parentFolder(path) + "/." + path.substr(path.rfind('/') + 1) + ".XXXXXX";
        int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0)
            return writeInPlace(path, existing, contents);
        bool owned = ::fchown(fd, existing.st_uid, existing.st_gid) == 0;
        bool ok = owned && ::fchmod(fd, existing.st_mode & 07777) == 0
            && writeAll(fd, contents.data(), contents.size())
            && ::fsync(fd) == 0;
        ok = (::close(fd) == 0) && ok;
        if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
            ::unlink(temporary.c_str());
            return !owned && writeInPlace(path, existing, contents);
        }
        return true;
    }

}

TextEditorViewController::TextEditorViewController() = default;

TextEditorViewController::~TextEditorViewController()
{
    NSNotificationCenter::defaultCenter().removeObserver(this);
}

void TextEditorViewController::loadView()
{
    UIViewController::loadView();
    auto bounds = view()->bounds();
    auto top = topLayoutGuide().length;
    auto text = std::make_shared<UITextView>(CGRectMake(0, top, bounds.size.width, bounds.size.height - top));
    text->setAutoresizingMask(UIViewAutoresizing::FlexibleWidth | UIViewAutoresizing::FlexibleHeight);
    view()->addSubview(text);
    setTextView(text);
    std::weak_ptr<UIViewController> weak = weak_from_this();
    auto action = [weak](void (TextEditorViewController::*member)()) {
        return [weak, member](UIBarButtonItem&) {
            if (auto editor = std::dynamic_pointer_cast<TextEditorViewController>(weak.lock()))
                ((*editor).*member)();
        };
    };
    navigationItem().setLeftBarButtonItem(std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::Cancel, action(&TextEditorViewController::cancelEdit)));
    navigationItem().leftBarButtonItem()->setTitle("Cancel");
    navigationItem().setRightBarButtonItem(std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::Save, action(&TextEditorViewController::save)));
    navigationItem().rightBarButtonItem()->setTitle("Save");
}

void TextEditorViewController::viewDidLoad()
{
    UIViewController::viewDidLoad();
    std::weak_ptr<UIViewController> weak = weak_from_this();
    auto keyboard = [weak](const NSNotification& notification) {
        if (auto editor = std::dynamic_pointer_cast<TextEditorViewController>(weak.lock()))
            editor->keyboardWasShown(notification);
    };
    NSNotificationCenter::defaultCenter().addObserver(this, UIKeyboardWillShowNotification, keyboard);
    NSNotificationCenter::defaultCenter().addObserver(this, UIKeyboardWillHideNotification, keyboard);
    if (auto navigation = navigationController()) {
        auto bar = navigation->navigationBar();
        bar->setBarTintColor(VeskAssets::flatRed());
        bar->setTintColor(UIColor::whiteColor());
        bar->setTitleTextAttributes({ { NSForegroundColorAttributeName, UIColor::whiteColor() } });
    }
    if (auto view = textView()) {
        view->setText(m_text);
        view->becomeFirstResponder();
    }
}

void TextEditorViewController::viewWillDisappear(bool animated)
{
    UIViewController::viewWillDisappear(animated);
    if (auto view = textView())
        view->resignFirstResponder();
}

void TextEditorViewController::keyboardWasShown(const NSNotification& notification)
{
    auto found = notification.userInfo.find(UIKeyboardFrameEndUserInfoKey);
    if (found == notification.userInfo.end())
        return;
    auto* frame = std::any_cast<CGRect>(&found->second);
    auto view = textView();
    if (!frame || !view)
        return;
    auto insets = view->contentInset();
    insets.bottom = frame->size.height;
    view->setContentInset(insets);
    auto indicators = view->scrollIndicatorInsets();
    indicators.bottom = frame->size.height;
    view->setScrollIndicatorInsets(indicators);
}

void TextEditorViewController::cancelEdit()
{
    auto alert = UIAlertController::alertControllerWithTitle("Cancel editmode", "This will not save your changes.", UIAlertControllerStyle::Alert);
    std::weak_ptr<UIViewController> weak = weak_from_this();
    alert->addAction(UIAlertAction::actionWithTitle("Yes, cancel...", UIAlertActionStyle::Destructive, [weak](UIAlertAction&) {
        if (auto editor = weak.lock())
            editor->dismissViewControllerAnimated(true);
    }));
    alert->addAction(UIAlertAction::actionWithTitle("No, keep on editing", UIAlertActionStyle::Default, nullptr));
    presentViewController(alert, true);
}

void TextEditorViewController::save()
{
    auto name = m_file ? m_file->name() : std::string();
    auto alert = UIAlertController::alertControllerWithTitle(localizedFormat("Save %@", { name }), "This will override the current file.", UIAlertControllerStyle::Alert);
    std::weak_ptr<UIViewController> weak = weak_from_this();
    alert->addAction(UIAlertAction::actionWithTitle(localized("Save"), UIAlertActionStyle::Destructive, [weak](UIAlertAction&) {
        if (auto editor = std::dynamic_pointer_cast<TextEditorViewController>(weak.lock()))
            editor->saveText();
    }));
    alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel, nullptr));
    presentViewController(alert, true);
}

void TextEditorViewController::saveText()
{
    auto view = textView();
    if (!m_file || !view)
        return;
    auto text = view->text();
    auto target = resolvedTarget(m_file->path());
    // Text that is no UTF-8 would turn into the bytes of "Error!": nothing is written then.
    bool saved = isValidUTF8(text) && mayWrite(target) && saveKeepingOwner(target, toData(text));
    if (!saved) {
        // The edits stay in the open editor; the file keeps what it had.
        VeskNotificationManager::showNotification(localizedFormat("\"%@\" could not be saved!", { m_file->name() }), NotificationType::Error, {}, {}, 3.0);
        return;
    }
    VeskNotificationManager::showNotification(localizedFormat("%@ has been saved!", { m_file->name() }), NotificationType::Info, {}, {}, 3.0, 0.25);
    if (m_savedFileCallback)
        m_savedFileCallback();
    view->resignFirstResponder();
    dismissViewControllerAnimated(true);
}

}
