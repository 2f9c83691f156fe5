#include "platform/foundation/RunLoop.h"
#include "platform/system/MemoryPressure.h"
#include "platform/uikit/UIDriver.h"
#include "platform/uikit/UIStoryboard.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace vesk::platform;

namespace {

// Records the appearance calls it hears.
class Screen : public UIViewController {
public:
    explicit Screen(std::string name, std::vector<std::string>* log = nullptr)
        : m_name(std::move(name))
        , m_log(log)
    {
    }
    void viewDidLoad() override { note("load"); }
    void viewWillAppear(bool) override { note("willAppear"); }
    void viewDidAppear(bool) override { note("didAppear"); }
    void viewWillDisappear(bool) override { note("willDisappear"); }
    void viewDidDisappear(bool) override { note("didDisappear"); }
    void didReceiveMemoryWarning() override { note("memoryWarning"); }

private:
    void note(const std::string& what)
    {
        if (m_log)
            m_log->push_back(m_name + " " + what);
    }
    std::string m_name;
    std::vector<std::string>* m_log;
};

class UIKitTest : public ::testing::Test {
protected:
    void SetUp() override { UIApplication::sharedApplication().reset(); }
    void TearDown() override
    {
        driver.drain();
        UIApplication::sharedApplication().reset();
        RunLoop::main().useSystemClock();
    }

    std::shared_ptr<UINavigationController> launchWith(const std::shared_ptr<UIViewController>& root)
    {
        auto navigation = UINavigationController::initWithRootViewController(root);
        UIStoryboard::storyboardWithName("Main").setInitialViewController([navigation] { return navigation; });
        UIApplication::sharedApplication().launch(std::make_shared<UIApplicationDelegate>());
        return navigation;
    }

    UIDriver driver;
};

TEST_F(UIKitTest, RemovingAnimationsEndsThemUnfinishedOnce)
{
    auto view = std::make_shared<UIView>();
    auto other = std::make_shared<UIView>();
    int calls = 0;
    bool lastFinished = true;
    UIView::animateWithDuration(
        1, [&] { view->setAlpha(0); }, [&](bool done) { ++calls; lastFinished = done; });
    bool otherFinished = false;
    UIView::animateWithDuration(
        1, [&] { other->setAlpha(0); }, [&](bool done) { otherFinished = done; });
    view->layer().removeAllAnimations();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(lastFinished);
    driver.advance(2);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(otherFinished);
}

TEST_F(UIKitTest, AViewBuiltWithItsSubviewsJoinsAndLeavesTheWindowWithThem)
{
    auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 320, 480));
    // A view that builds its subviews while it is being made, as cells do.
    struct Built : UIView {
        Built() { addSubview(part); }
        std::shared_ptr<UIView> part = std::make_shared<UIView>();
    };
    auto built = std::make_shared<Built>();
    window->addSubview(built);
    EXPECT_EQ(built->part->window(), window);
    auto orphan = built->part;
    built->removeFromSuperview();
    built.reset();
    EXPECT_EQ(orphan->superview(), nullptr);
}

TEST_F(UIKitTest, PushAndPopSendAppearanceInOrder)
{
    std::vector<std::string> log;
    auto root = std::make_shared<Screen>("root", &log);
    auto navigation = launchWith(root);
    EXPECT_EQ(log, (std::vector<std::string> { "root load", "root willAppear", "root didAppear" }));
    log.clear();
    auto next = std::make_shared<Screen>("next", &log);
    navigation->pushViewController(next, true);
    EXPECT_EQ(next->navigationController(), navigation);
    EXPECT_EQ(log, (std::vector<std::string> { "root willDisappear", "next load", "next willAppear", "root didDisappear", "next didAppear" }));
    log.clear();
    EXPECT_EQ(navigation->popViewControllerAnimated(true), next);
    EXPECT_EQ(log, (std::vector<std::string> { "next willDisappear", "root willAppear", "next didDisappear", "root didAppear" }));
    EXPECT_EQ(next->navigationController(), nullptr);
    EXPECT_EQ(navigation->popViewControllerAnimated(true), nullptr);
}

TEST_F(UIKitTest, PresentationGoesThroughTheContainerAndDismissUnwindsTheChain)
{
    std::vector<std::string> log;
    auto root = std::make_shared<Screen>("root", &log);
    auto navigation = launchWith(root);
    log.clear();
    auto viewer = std::make_shared<Screen>("viewer", &log);
    auto wrapper = UINavigationController::initWithRootViewController(viewer);
    root->presentViewController(wrapper, true);
    EXPECT_EQ(navigation->presentedViewController(), wrapper);
    EXPECT_EQ(wrapper->presentingViewController(), navigation);
    EXPECT_EQ(log, (std::vector<std::string> { "root willDisappear", "viewer load", "viewer willAppear", "root didDisappear", "viewer didAppear" }));
    EXPECT_EQ(driver.screenStack().size(), 2u);
    EXPECT_EQ(driver.visibleScreen(), viewer);

    // A second presentation from the covered screen is refused.
    root->presentViewController(std::make_shared<Screen>("other"), false);
    EXPECT_EQ(navigation->presentedViewController(), wrapper);

    auto sheet = UIAlertController::alertControllerWithTitle("t", std::nullopt, UIAlertControllerStyle::ActionSheet);
    viewer->presentViewController(sheet, true);
    EXPECT_EQ(driver.alert(), sheet);
    log.clear();
    bool completed = false;
    viewer->dismissViewControllerAnimated(true, [&] { completed = true; });
    // The viewer presented nothing itself here, but its container did: that goes first.
    EXPECT_EQ(driver.screenStack().size(), 2u);
    driver.drain();
    EXPECT_TRUE(completed);
    viewer->dismissViewControllerAnimated(false);
    EXPECT_EQ(driver.screenStack().size(), 1u);
    EXPECT_EQ(log, (std::vector<std::string> { "viewer willDisappear", "root willAppear", "viewer didDisappear", "root didAppear" }));
}

TEST_F(UIKitTest, ChoosingAnAlertActionDismissesBeforeTheHandlerRuns)
{
    auto root = std::make_shared<Screen>("root");
    launchWith(root);
    auto alert = UIAlertController::alertControllerWithTitle("Rename", std::nullopt, UIAlertControllerStyle::Alert);
    std::string typed;
    std::size_t stackInHandler = 0;
    alert->addTextFieldWithConfigurationHandler([](UITextField& field) { field.setPlaceholder("Name"); });
    alert->addAction(UIAlertAction::actionWithTitle("Cancel", UIAlertActionStyle::Cancel, nullptr));
    alert->addAction(UIAlertAction::actionWithTitle("Cancel 2", UIAlertActionStyle::Cancel, nullptr));
    alert->addAction(UIAlertAction::actionWithTitle("OK", UIAlertActionStyle::Default, [&](UIAlertAction&) {
        typed = alert->textFields()[0]->text();
        stackInHandler = driver.screenStack().size();
    }));
    EXPECT_EQ(alert->actions().size(), 2u);
    root->presentViewController(alert, true);
    EXPECT_TRUE(driver.typeIntoField(0, "new.txt"));
    EXPECT_FALSE(driver.typeIntoField(1, "x"));
    EXPECT_FALSE(driver.chooseAlertAction("Missing"));
    EXPECT_TRUE(driver.chooseAlertAction("OK"));
    EXPECT_EQ(typed, "new.txt");
    EXPECT_EQ(stackInHandler, 1u);
    EXPECT_EQ(driver.alert(), nullptr);

    auto sheet = UIAlertController::alertControllerWithTitle(std::nullopt, std::nullopt, UIAlertControllerStyle::ActionSheet);
    sheet->addTextFieldWithConfigurationHandler(nullptr);
    EXPECT_TRUE(sheet->textFields().empty());
}

// A table of fruit names that edits with a Delete row action unless given actions of its own.
class Fruit : public UITableViewController {
public:
    std::vector<std::string> rows { "apple", "banana", "cherry" };
    std::vector<std::string> events;
    bool customActions = false;

    int numberOfRowsInSection(UITableView&, int) override { return static_cast<int>(rows.size()); }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& table, const NSIndexPath& indexPath) override
    {
        auto cell = table.dequeueReusableCellWithIdentifier("cell");
        if (!cell)
            cell = std::make_shared<UITableViewCell>(UITableViewCellStyle::Subtitle, "cell");
        cell->textLabel()->setText(rows[static_cast<std::size_t>(indexPath.row)]);
        return cell;
    }
    bool commitEditingStyle(UITableView& table, UITableViewCellEditingStyle, const NSIndexPath& indexPath) override
    {
        rows.erase(rows.begin() + indexPath.row);
        table.deleteRowsAtIndexPaths({ indexPath }, UITableViewRowAnimation::Automatic);
        return true;
    }
    void didSelectRowAtIndexPath(UITableView&, const NSIndexPath& indexPath) override { events.push_back("select " + std::to_string(indexPath.row)); }
    void didDeselectRowAtIndexPath(UITableView&, const NSIndexPath& indexPath) override { events.push_back("deselect " + std::to_string(indexPath.row)); }
    std::optional<std::vector<std::shared_ptr<UITableViewRowAction>>> editActionsForRowAtIndexPath(UITableView&, const NSIndexPath&) override
    {
        if (!customActions)
            return std::nullopt;
        return std::vector { UITableViewRowAction::rowActionWithStyle(UITableViewRowActionStyle::Normal, "Info",
            [this](UITableViewRowAction&, const NSIndexPath& indexPath) { events.push_back("info " + std::to_string(indexPath.row)); }) };
    }
};

TEST_F(UIKitTest, TableRowsSelectionAndRowActions)
{
    auto fruit = std::make_shared<Fruit>();
    launchWith(fruit);
    auto table = fruit->tableView();
    EXPECT_EQ(driver.rowTitles(*table), (std::vector<std::string> { "apple", "banana", "cherry" }));
    EXPECT_EQ(table->cellForRowAtIndexPath({ 0, 3 }), nullptr);

    driver.tapRow(*table, 0);
    driver.tapRow(*table, 2);
    EXPECT_EQ(fruit->events, (std::vector<std::string> { "select 0", "deselect 0", "select 2" }));
    EXPECT_EQ(table->indexPathsForSelectedRows(), (std::vector<NSIndexPath> { { 0, 2 } }));

    EXPECT_EQ(driver.swipeRow(*table, { 0, 1 }), std::vector<std::string> { "Delete" });
    EXPECT_TRUE(driver.chooseRowAction(*table, { 0, 1 }, "Delete"));
    EXPECT_EQ(driver.rowTitles(*table), (std::vector<std::string> { "apple", "cherry" }));
    // The selected row moved up with its row.
    EXPECT_EQ(table->indexPathForSelectedRow(), (NSIndexPath { 0, 1 }));

    fruit->customActions = true;
    EXPECT_TRUE(driver.chooseRowAction(*table, { 0, 0 }, "Info"));
    EXPECT_FALSE(driver.chooseRowAction(*table, { 0, 0 }, "Delete"));
    EXPECT_EQ(fruit->events.back(), "info 0");
}

class LifeCycle : public UIApplicationDelegate {
public:
    std::vector<std::string> calls;
    bool didFinishLaunchingWithOptions(UIApplication&, const UIApplicationLaunchOptions&) override
    {
        calls.push_back("launch");
        return true;
    }
    void applicationWillResignActive(UIApplication&) override { calls.push_back("resign"); }
    void applicationDidEnterBackground(UIApplication&) override { calls.push_back("background"); }
    void applicationWillEnterForeground(UIApplication&) override { calls.push_back("foreground"); }
    void applicationDidBecomeActive(UIApplication&) override { calls.push_back("active"); }
};

TEST_F(UIKitTest, ApplicationLifeCycleRunsInThePlatformsOrder)
{
    auto delegate = std::make_shared<LifeCycle>();
    auto& application = UIApplication::sharedApplication();
    application.launch(delegate);
    EXPECT_NE(delegate->window(), nullptr);
    EXPECT_EQ(application.keyWindow(), delegate->window());
    application.enterBackground();
    application.enterBackground();
    application.becomeActive();
    application.resignActive();
    application.becomeActive();
    EXPECT_EQ(delegate->calls, (std::vector<std::string> { "launch", "active", "resign", "background", "foreground", "active", "resign", "active" }));
    EXPECT_EQ(application.applicationState(), UIApplicationState::Active);
}

TEST_F(UIKitTest, MemoryShortageWarnsEveryScreenOnTheMainRunLoop)
{
    std::vector<std::string> log;
    auto navigation = launchWith(std::make_shared<Screen>("list", &log));
    navigation->pushViewController(std::make_shared<Screen>("viewer", &log), false);
    navigation->presentViewController(std::make_shared<Screen>("sheet", &log), false);
    auto events = ::testing::TempDir() + "/memory.events";
    std::ofstream(events) << "low 0\nhigh 0\nmax 0\noom 0\noom_kill 0\n";
    MemoryPressureWatch watch({ "", events }, [] { UIApplication::sharedApplication().receiveMemoryWarning(); });
    ASSERT_TRUE(watch.isWatching());
    log.clear();
    // The control group went over its "high" limit once.
    std::ofstream(events) << "low 2\nhigh 1\nmax 0\noom 0\noom_kill 0\n";
    EXPECT_TRUE(RunLoop::main().runUntil([&] { return log.size() >= 3; }));
    EXPECT_EQ(log, (std::vector<std::string> { "list memoryWarning", "viewer memoryWarning", "sheet memoryWarning" }));
}

TEST_F(UIKitTest, TapsReachRecognizersAndEnabledBarButtonsOnly)
{
    auto view = std::make_shared<UIView>();
    int taps = 0;
    view->addGestureRecognizer(std::make_shared<UITapGestureRecognizer>([&](UIGestureRecognizer&) { ++taps; }));
    driver.tapView(*view);
    EXPECT_EQ(taps, 1);

    auto screen = std::make_shared<Screen>("s");
    int pressed = 0;
    auto item = std::make_shared<UIBarButtonItem>(std::optional<std::string>("Add"), UIBarButtonItemStyle::Plain, [&](UIBarButtonItem&) { ++pressed; });
    screen->navigationItem().setRightBarButtonItem(item);
    EXPECT_TRUE(driver.tapBarButton(*screen, "Add"));
    item->setEnabled(false);
    EXPECT_TRUE(driver.tapBarButton(*screen, "Add"));
    EXPECT_FALSE(driver.tapBarButton(*screen, "Missing"));
    EXPECT_EQ(pressed, 1);

    screen->setEditing(false, false);
    auto edit = screen->editButtonItem();
    edit->tap();
    EXPECT_TRUE(screen->isEditing());
    EXPECT_EQ(edit->title(), "Done");
}

}
