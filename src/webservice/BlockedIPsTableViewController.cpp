#include "webservice/BlockedIPsTableViewController.h"

#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/uikit/UIAlertController.h"
#include "platform/uikit/UIBarButtonItem.h"
#include "webservice/VeskHTTPServer.h"

#include <algorithm>
#include <arpa/inet.h>

namespace vesk {

using namespace platform;

namespace {

    // The text as the server sees a client's address (the numeric host form), or none when it
    // is no IPv4 address: the server listens on IPv4 only, so no other entry could ever match.
    std::optional<std::string> numericAddress(const std::string& typed)
    {
        auto first = typed.find_first_not_of(" \t\r\n");
        if (first == std::string::npos)
            return std::nullopt;
        auto text = typed.substr(first, typed.find_last_not_of(" \t\r\n") - first + 1);
        char buffer[INET_ADDRSTRLEN] {};
        in_addr v4 {};
        if (::inet_pton(AF_INET, text.c_str(), &v4) == 1)
            return ::inet_ntop(AF_INET, &v4, buffer, sizeof buffer);
        // An IPv4 address written in its IPv6-mapped form is still that IPv4 address.
        in6_addr v6 {};
        if (::inet_pton(AF_INET6, text.c_str(), &v6) != 1 || !IN6_IS_ADDR_V4MAPPED(&v6))
            return std::nullopt;
        std::copy_n(v6.s6_addr + 12, 4, reinterpret_cast<unsigned char*>(&v4.s_addr));
        return ::inet_ntop(AF_INET, &v4, buffer, sizeof buffer);
    }

    void showBanner(const char* text, NotificationType type)
    {
        VeskNotificationManager::showNotification(localized(text), type, nullptr, nullptr, 3);
    }

}

BlockedIPsTableViewController::BlockedIPsTableViewController()
    : m_blockedIPs(VeskHTTPServer::loadBlockedIPs())
{
}

void BlockedIPsTableViewController::loadView()
{
    UITableViewController::loadView();
    tableView()->registerClass("blockCell", [](const std::string& identifier) {
        return std::make_shared<UITableViewCell>(UITableViewCellStyle::Subtitle, identifier);
    });
    std::weak_ptr<UIViewController> weak = weak_from_this();
    navigationItem().setRightBarButtonItem(std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::Add, [weak](UIBarButtonItem&) {
        if (auto screen = std::dynamic_pointer_cast<BlockedIPsTableViewController>(weak.lock()))
            screen->addIP();
    }));
}

void BlockedIPsTableViewController::viewDidLoad()
{
    UITableViewController::viewDidLoad();
    setTitle(localized("Blocked IPs"));
    tableView()->reloadData();
}

std::vector<std::string> BlockedIPsTableViewController::addresses() const
{
    auto keys = m_blockedIPs.keys();
    std::sort(keys.begin(), keys.end());
    return keys;
}

int BlockedIPsTableViewController::numberOfSectionsInTableView(UITableView&)
{
    return 1;
}

int BlockedIPsTableViewController::numberOfRowsInSection(UITableView&, int)
{
    return static_cast<int>(m_blockedIPs.size());
}

std::shared_ptr<UITableViewCell> BlockedIPsTableViewController::cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    auto cell = tableView.dequeueReusableCellWithIdentifier("blockCell", indexPath);
    auto keys = addresses();
    if (indexPath.row < 0 || indexPath.row >= static_cast<int>(keys.size()))
        return cell;
    auto& address = keys[static_cast<std::size_t>(indexPath.row)];
    auto* name = m_blockedIPs.find(address);
    cell->textLabel()->setText(name && name->string() ? std::optional(*name->string()) : std::nullopt);
    if (auto detail = cell->detailTextLabel())
        detail->setText(address);
    return cell;
}

std::optional<bool> BlockedIPsTableViewController::canEditRowAtIndexPath(UITableView&, const NSIndexPath&)
{
    return true;
}

std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>> BlockedIPsTableViewController::editActionsForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    auto keys = addresses();
    if (indexPath.row < 0 || indexPath.row >= static_cast<int>(keys.size()))
        return std::vector<std::shared_ptr<UITableViewRowAction>> {};
    std::weak_ptr<UIViewController> weak = weak_from_this();
    std::weak_ptr<UIView> weakTable = tableView.shared_from_this();
    auto unblock = UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Default, localized("Unblock"),
        [weak, weakTable, address = keys[static_cast<std::size_t>(indexPath.row)]](UITableViewRowAction&, const NSIndexPath&) {
            if (auto table = std::dynamic_pointer_cast<UITableView>(weakTable.lock()))
                table->setEditing(false, true);
            if (auto screen = std::dynamic_pointer_cast<BlockedIPsTableViewController>(weak.lock()))
                screen->unblock(address);
        });
    return std::vector { unblock };
}

bool BlockedIPsTableViewController::commitEditingStyle(UITableView&, UITableViewCellEditingStyle, const NSIndexPath&)
{
    return true;
}

void BlockedIPsTableViewController::didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    tableView.deselectRowAtIndexPath(indexPath, true);
}

void BlockedIPsTableViewController::addIP()
{
    auto alert = UIAlertController::alertControllerWithTitle(localized("Block IP"),
        localized("Please add the IP you want to block. You also need to add a name..."), UIAlertControllerStyle::Alert);
    alert->addTextFieldWithConfigurationHandler([](UITextField& field) { field.setPlaceholder(localized("IP")); });
    alert->addTextFieldWithConfigurationHandler([](UITextField& field) { field.setPlaceholder(localized("Name")); });
    std::weak_ptr<UIViewController> weak = weak_from_this();
    std::weak_ptr<UIAlertController> weakAlert = alert;
    alert->addAction(UIAlertAction::actionWithTitle(localized("Block"), UIAlertActionStyle::Default, [weak, weakAlert](UIAlertAction&) {
        auto screen = std::dynamic_pointer_cast<BlockedIPsTableViewController>(weak.lock());
        auto shown = weakAlert.lock();
        if (screen && shown && shown->textFields().size() == 2)
            screen->block(shown->textFields()[0]->text(), shown->textFields()[1]->text());
    }));
    alert->addAction(UIAlertAction::actionWithTitle(localized("Cancel"), UIAlertActionStyle::Cancel, nullptr));
    presentViewController(alert, true);
}

void BlockedIPsTableViewController::block(const std::string& ip, const std::string& name)
{
    // A text that is no address counts as no address.
    auto address = numericAddress(ip);
    if (!address && name.empty())
        return showBanner("Error, please try again!", NotificationType::Error);
    if (!address)
        return showBanner("Please enter an IP!", NotificationType::Error);
    if (name.empty())
        return showBanner("Please enter a name!", NotificationType::Error);
    VeskHTTPServer::updateBlockedIP(*address, name, false);
    m_blockedIPs = VeskHTTPServer::loadBlockedIPs();
    tableView()->reloadData();
    showBanner("IP has been blocked!", NotificationType::Success);
}

void BlockedIPsTableViewController::unblock(const std::string& address)
{
    auto remaining = addresses();
    auto found = std::find(remaining.begin(), remaining.end(), address);
    std::optional<int> row;
    if (found != remaining.end()) {
        row = static_cast<int>(found - remaining.begin());
        remaining.erase(found);
    }
    VeskHTTPServer::updateBlockedIP(address, "", true);
    m_blockedIPs = VeskHTTPServer::loadBlockedIPs();
    // The service may have reloaded its list while the screen was open: only the plain
    // removal of the one row is animated, anything else shows the list afresh.
    if (row && remaining == addresses())
        tableView()->deleteRowsAtIndexPaths({ NSIndexPath { 0, *row } }, UITableViewRowAnimation::Fade);
    else
        tableView()->reloadData();
}

}
