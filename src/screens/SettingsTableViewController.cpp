#include "screens/SettingsTableViewController.h"

#include "app/Utility.h"
#include "model/PlatformUtilities.h"
#include "model/SettingsKeys.h"
#include "model/VeskLocalizer.h"
#include "model/VeskNotificationManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/uikit/UIBarButtonItem.h"
#include "platform/uikit/UIStoryboard.h"
#include "webservice/VeskHTTPServer.h"

#include <array>

namespace vesk {

using namespace platform;

namespace {

    enum class RowKind {
        Switch,
        Push,
        Plain,
    };

    struct Row {
        int section;
        int row;
        const char* text;
        RowKind kind;
        const char* target; // the screen a push row opens
    };

    constexpr std::array<const char*, 4> headers { "Files", "Server", "Clipboard", "About" };
    constexpr std::array<int, 4> rowCounts { 1, 3, 1, 1 };
    constexpr std::array<Row, 6> rows { {
        { 0, 0, "Show hidden files", RowKind::Switch, nullptr },
        { 1, 0, "HTTP Server", RowKind::Switch, nullptr },
        { 1, 1, "Webservices", RowKind::Push, "webservices" },
        { 1, 2, "Blocked IPs", RowKind::Push, "blockedIPs" },
        { 2, 0, "Clear Clipboard", RowKind::Plain, nullptr },
        { 3, 0, "About Vesk", RowKind::Push, "aboutVesk" },
    } };

    const Row* rowAt(const NSIndexPath& indexPath)
    {
        for (auto& row : rows) {
            if (row.section == indexPath.section && row.row == indexPath.row)
                return &row;
        }
        return nullptr;
    }

    const std::string& switchKey(const NSIndexPath& indexPath)
    {
        return indexPath.section == 0 ? hashedDefaultsKey2() : hashedDefaultsKey7();
    }

}

SettingsTableViewController::SettingsTableViewController()
    : UITableViewController(UITableViewStyle::Grouped)
    , m_utility(std::make_unique<Utility>())
    , m_userDefaults(NSUserDefaults::standardUserDefaults())
{
}

SettingsTableViewController::~SettingsTableViewController() = default;

void SettingsTableViewController::loadView()
{
    UITableViewController::loadView();
    auto table = tableView();
    table->registerClass("cell", [](const std::string& identifier) {
        return std::make_shared<UITableViewCell>(UITableViewCellStyle::Default, identifier);
    });
    table->registerClass("switchCell", [](const std::string& identifier) {
        return std::make_shared<VeskSwitchCell>(UITableViewCellStyle::Default, identifier);
    });
    navigationItem().setTitle("Settings");
    std::weak_ptr<UIViewController> weak = weak_from_this();
    navigationItem().setRightBarButtonItem(std::make_shared<UIBarButtonItem>(std::optional<std::string>("Done"), UIBarButtonItemStyle::Done, [weak](UIBarButtonItem&) {
        if (auto screen = std::dynamic_pointer_cast<SettingsTableViewController>(weak.lock()))
            screen->done();
    }));
}

void SettingsTableViewController::viewDidLoad()
{
    UITableViewController::viewDidLoad();
    m_utility->setup();
}

void SettingsTableViewController::viewDidDisappear(bool animated)
{
    NSNotificationCenter::defaultCenter().removeObserver(this);
    UITableViewController::viewDidDisappear(animated);
}

int SettingsTableViewController::numberOfSectionsInTableView(UITableView&)
{
    return static_cast<int>(headers.size());
}

std::optional<std::string> SettingsTableViewController::titleForHeaderInSection(UITableView&, int section)
{
    if (section < 0 || section >= static_cast<int>(headers.size()))
        return std::nullopt;
    return localized(headers[static_cast<std::size_t>(section)]);
}

int SettingsTableViewController::numberOfRowsInSection(UITableView&, int section)
{
    if (section < 0 || section >= static_cast<int>(rowCounts.size()))
        return 0;
    return rowCounts[static_cast<std::size_t>(section)];
}

std::shared_ptr<UITableViewCell> SettingsTableViewController::cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    auto fallback = tableView.dequeueReusableCellWithIdentifier("cell");
    if (!fallback)
        fallback = std::make_shared<UITableViewCell>(UITableViewCellStyle::Default, "cell");
    fallback->textLabel()->setText(localized("Error, please check the cells!"));
    auto row = rowAt(indexPath);
    if (!row)
        return fallback;

    if (row->kind == RowKind::Switch) {
        auto cell = std::dynamic_pointer_cast<VeskSwitchCell>(tableView.dequeueReusableCellWithIdentifier("switchCell", indexPath));
        if (!cell)
            return fallback;
        if (auto title = cell->title())
            title->setText(localized(row->text));
        cell->setOn(m_userDefaults->boolForKey(switchKey(indexPath)));
        cell->setDelegate(std::dynamic_pointer_cast<VeskSwitchCellDelegate>(shared_from_this()));
        cell->setup();
        return cell;
    }

    auto cell = std::make_shared<UITableViewCell>(UITableViewCellStyle::Default, "cell");
    cell->textLabel()->setText(localized(row->text));
    if (row->kind == RowKind::Push)
        cell->setAccessoryType(UITableViewCellAccessoryType::DisclosureIndicator);
    return cell;
}

void SettingsTableViewController::didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath)
{
    tableView.deselectRowAtIndexPath(indexPath, true);
    auto row = rowAt(indexPath);
    if (!row)
        return;
    if (row->kind == RowKind::Push) {
        auto screen = UIStoryboard::storyboardWithName("Main").instantiateViewControllerWithIdentifier(row->target);
        if (auto navigation = navigationController(); navigation && screen)
            navigation->pushViewController(screen, true);
        return;
    }
    if (row->kind == RowKind::Plain) {
        m_userDefaults->removeObjectForKey(hashedDefaultsKey6());
        VeskNotificationManager::showNotification(localized("Clipboard has been cleared!"), NotificationType::Info, nullptr, nullptr, 3);
    }
}

void SettingsTableViewController::done()
{
    dismissViewControllerAnimated(true);
}

void SettingsTableViewController::changedSwitch(bool isOn, VeskSwitchCell& cell)
{
    auto indexPath = tableView()->indexPathForCell(cell);
    if (!indexPath)
        return;
    if (*indexPath == NSIndexPath { 0, 0 }) {
        m_userDefaults->setBool(isOn, hashedDefaultsKey2());
        NSNotificationCenter::defaultCenter().postNotificationName(hashedDefaultsKey2());
        debugLog(std::string("Set showing hidden files: ") + (isOn ? "true" : "false"), __FILE__, __LINE__, __func__);
    } else if (*indexPath == NSIndexPath { 1, 0 }) {
        // The server first, so the stored switch never claims a state the server hasn't been asked for.
        if (isOn)
            VeskHTTPServer::start();
        else
            VeskHTTPServer::stop();
        m_userDefaults->setBool(isOn, hashedDefaultsKey7());
    }
}

}
