#include "screens/DownloadAboutScreens.h"

#include "assets/VeskAssets.h"
#include "platform/uikit/UIStoryboard.h"
#include "screens/AboutVeskTableViewController.h"
#include "screens/EditIconTableViewController.h"
#include "screens/VeskDownloadWebController.h"

namespace vesk {

using namespace platform;

namespace {

    std::shared_ptr<UIBarButtonItem> titled(const std::string& title, UIBarButtonItem::Action action)
    {
        return std::make_shared<UIBarButtonItem>(title, UIBarButtonItemStyle::Plain, std::move(action));
    }

    // The browser scene: Done and Home on the left; the items list, off until the first page
    // finishes, and the address entry on the right.
    std::shared_ptr<UIViewController> makeBrowser()
    {
        using Screen = VeskDownloadWebController;
        auto browser = std::make_shared<Screen>();
        auto done = std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::Done, actionOf(browser, &Screen::dismiss));
        auto home = titled("Home", [weak = std::weak_ptr<Screen>(browser)](UIBarButtonItem&) {
            if (auto target = weak.lock())
                target->backToGoogle();
        });
        auto items = titled("Items", actionOf(browser, &Screen::openDownloadableItems));
        items->setEnabled(false);
        auto address = titled("Address", actionOf(browser, &Screen::enterAddress));
        browser->navigationItem().setLeftBarButtonItems({ done, home });
        browser->navigationItem().setRightBarButtonItems({ items, address });
        browser->setDownloadableItemsButton(items);
        return browser;
    }

    std::shared_ptr<UIViewController> makeItemsList()
    {
        using Screen = VeskDownloadTableViewController;
        auto list = std::make_shared<Screen>();
        list->navigationItem().setLeftBarButtonItem(
            std::make_shared<UIBarButtonItem>(UIBarButtonSystemItem::Done, actionOf(list, &Screen::dismiss)));
        return list;
    }

    // The icon row: its image view is one of the app icon's targets, so the drawn icon shows.
    std::shared_ptr<UITableViewCell> makeIconCell(const std::string& identifier)
    {
        auto cell = std::make_shared<AboutVeskIconTableViewCell>(UITableViewCellStyle::Default, identifier);
        auto icon = std::make_shared<UIImageView>(cell->bounds());
        icon->setContentMode(UIViewContentMode::ScaleAspectFit);
        cell->contentView()->addSubview(icon);
        cell->setIconImageView(icon);
        VeskAssets().setVeskIconTargets({ icon });
        cell->layoutSubviews();
        return cell;
    }

}

void registerDownloadAboutScreens()
{
    auto& storyboard = UIStoryboard::storyboardWithName("Main");
    storyboard.registerViewController("downloadWebView", makeBrowser);
    storyboard.registerViewController("downloadView", makeItemsList);
    storyboard.registerViewController("aboutVesk", [] { return std::make_shared<AboutVeskTableViewController>(); });
    UITableView::registerPrototypeCell("dlCell", [](const std::string& identifier) {
        return std::make_shared<UITableViewCell>(UITableViewCellStyle::Subtitle, identifier);
    });
    UITableView::registerPrototypeCell("infoCell", [](const std::string& identifier) {
        return std::make_shared<UITableViewCell>(UITableViewCellStyle::Value1, identifier);
    });
    UITableView::registerPrototypeCell("iconCell", makeIconCell);
    UITableView::registerPrototypeCell("colorCell", [](const std::string& identifier) {
        return std::make_shared<ColorTableViewCell>(UITableViewCellStyle::Default, identifier);
    });
}

}
