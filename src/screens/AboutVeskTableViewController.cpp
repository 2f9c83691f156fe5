#include "screens/AboutVeskTableViewController.h"

#include "app/Utility.h"
#include "assets/VeskAssets.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/system/UIDevice.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIApplication.h"
#include "sdk/Analytics.h"

#include <cstdlib>

namespace vesk {

using namespace platform;

namespace {

    constexpr const char* developerName = "The Vesk developers";
    constexpr const char* developerPage = "https://vesk.example.org/developers";
    constexpr const char* issueTracker = "https://vesk.example.org/issues";
    constexpr const char* supportAddress = "bugs@vesk.example.org";

    // The major number of the system version, compared as a number ("10.0" is above "9.0").
    bool systemIsAtLeast(long major)
    {
        return std::strtol(UIDevice::currentDevice().systemVersion().c_str(), nullptr, 10) >= major;
    }

    void showBanner(const std::string& text, NotificationType type)
    {
        VeskNotificationManager::showNotification(localized(text), type, nullptr, nullptr, 3);
    }

}

AboutVeskIconTableViewCell::AboutVeskIconTableViewCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : UITableViewCell(style, std::move(reuseIdentifier))
{
}

void AboutVeskIconTableViewCell::layoutSubviews()
{
    contentView()->setFrame(bounds());
    if (auto icon = iconImageView())
        icon->setFrame(bounds().insetBy(10, 10));
}

AboutVeskTableViewController::AboutVeskTableViewController()
    : UITableViewController(UITableViewStyle::Grouped)
{
}

void AboutVeskTableViewController::viewDidLoad()
{
    UITableViewController::viewDidLoad();
    setTitle(localized("About Vesk"));
}

void AboutVeskTableViewController::didReceiveMemoryWarning()
{
    UITableViewController::didReceiveMemoryWarning();
}

int AboutVeskTableViewController::numberOfSectionsInTableView(UITableView&)
{
    return 3;
}

int AboutVeskTableViewController::numberOfRowsInSection(UITableView&, int section)
{
    switch (section) {
    case 0:
    case 2:
        return 1;
    case 1:
        return 3;
    default:
        return 0;
    }
}

std::shared_ptr<UITableViewCell> AboutVeskTableViewController::cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    if (indexPath.section == 0 && indexPath.row == 0)
        return tableView.dequeueReusableCellWithIdentifier("iconCell");
    if (indexPath.section == 2 && indexPath.row == 0) {
        auto cell = tableView.dequeueReusableCellWithIdentifier("buttonCell");
        // The button cell's label is its text label.
        if (auto label = cell ? cell->textLabel() : nullptr) {
            label->setText(localized("Report a bug"));
            label->setTextColor(VeskAssets::flatRed());
        }
        return cell;
    }
    auto cell = tableView.dequeueReusableCellWithIdentifier("infoCell");
    if (!cell || indexPath.section != 1 || indexPath.row > 2)
        return cell;
    static constexpr const char* titles[] = { "Version", "Build", "Developer" };
    std::string values[] = { Utility::getVersion(), Utility::getBuildNumber(), developerName };
    cell->textLabel()->setText(localized(titles[indexPath.row]));
    if (auto detail = cell->detailTextLabel())
        detail->setText(values[indexPath.row]);
    if (indexPath.row == 2)
        cell->setAccessoryType(UITableViewCellAccessoryType::DisclosureIndicator);
    return cell;
}

std::optional<CGFloat> AboutVeskTableViewController::heightForRowAtIndexPath(UITableView&, const NSIndexPath& indexPath)
{
    return indexPath.section == 0 ? 138 : 44;
}

void AboutVeskTableViewController::didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    tableView.deselectRowAtIndexPath(indexPath, true);
    if (indexPath.section == 1 && indexPath.row == 2)
        openPage(developerPage);
    else if (indexPath.section == 2 && indexPath.row == 0)
        reportBug(tableView, indexPath);
}

void AboutVeskTableViewController::openPage(const std::string& address)
{
    auto url = urlFromString(address);
    if (!url)
        return;
    if (systemIsAtLeast(9)) {
        auto page = std::make_shared<SFSafariViewController>(*url, true);
        page->setDelegate(std::static_pointer_cast<AboutVeskTableViewController>(shared_from_this()));
        presentViewController(page, true);
    } else {
        UIApplication::sharedApplication().openURL(url->absoluteString());
    }
}

void AboutVeskTableViewController::reportBug(UITableView& tableView, const NSIndexPath& indexPath)
{
    std::weak_ptr<AboutVeskTableViewController> weakSelf = std::static_pointer_cast<AboutVeskTableViewController>(shared_from_this());
    auto sheet = UIAlertController::alertControllerWithTitle(localized("How do you want to report it?"), std::nullopt, UIAlertControllerStyle::ActionSheet);
    sheet->addAction(UIAlertAction::actionWithTitle("Github", UIAlertActionStyle::Default, [weakSelf](UIAlertAction&) {
        if (auto self = weakSelf.lock())
            self->openPage(issueTracker);
        Analytics::logCustomEventWithName("Opened Github issue tracker");
    }));
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Email"), UIAlertActionStyle::Default, [weakSelf](UIAlertAction&) {
        if (auto self = weakSelf.lock())
            self->sendBugMail();
    }));
    sheet->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, nullptr));
    // A pad shows the sheet as a popover, which needs the tapped row as its anchor.
    auto& popover = sheet->popoverPresentationController();
    popover.setSourceView(tableView.shared_from_this());
    popover.setSourceRect(tableView.rectForRowAtIndexPath(indexPath));
    presentViewController(sheet, true);
}

void AboutVeskTableViewController::sendBugMail()
{
    auto composer = std::make_shared<MFMailComposeViewController>();
    composer->setMailComposeDelegate(std::static_pointer_cast<AboutVeskTableViewController>(shared_from_this()));
    if (!MFMailComposeViewController::canSendMail()) {
        showBanner("Mail is not configured!", NotificationType::Error);
        return;
    }
    composer->setToRecipients({ supportAddress });
    composer->setMessageBody("\n\n\n\nDon't change this:\n==========\niOS: " + UIDevice::currentDevice().systemVersion()
            + "\nDevice: " + Utility::platform()
            + "\nJailbroken: " + (Utility::isJailbroken() ? "true" : "false")
            + "\n==========",
        false);
    composer->setSubject("Vesk bugreport " + Utility::getVersion() + " (" + Utility::getBuildNumber() + ")");
    composer->setModalPresentationStyle(Utility().isIpad() ? UIModalPresentationStyle::FormSheet : UIModalPresentationStyle::FullScreen);
    presentViewController(composer, true);
}

void AboutVeskTableViewController::didFinishWithResult(MFMailComposeViewController&, MFMailComposeResult result, const std::optional<NSError>&)
{
    dismissViewControllerAnimated(true);
    switch (result) {
    case MFMailComposeResult::Cancelled:
        showBanner("Don't hesitate to contact me:)", NotificationType::Success);
        break;
    case MFMailComposeResult::Saved:
        showBanner("I hope you'll send it later:)", NotificationType::Success);
        break;
    case MFMailComposeResult::Sent:
        showBanner("Thanks for reporting this bug!", NotificationType::Success);
        Analytics::logCustomEventWithName("Send bug email");
        break;
    case MFMailComposeResult::Failed:
        showBanner("Opps, there was an error!", NotificationType::Error);
        break;
    }
}

}
