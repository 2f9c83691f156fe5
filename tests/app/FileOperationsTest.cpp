#include "app/AppTestSupport.h"
#include "app/Utility.h"
#include "app/VeskFileListController.h"
#include "model/Bookmarks.h"
#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "model/ZipArchive.h"
#include "model/ZipTestSupport.h"
#include "platform/foundation/Dispatch.h"
#include "platform/uikit/UIActivityIndicatorView.h"
#include "platform/uikit/UIAlertControllerView.h"
#include "platform/uikit/UIProgressView.h"
#include "platform/uikit/UIStoryboard.h"
#include "platform/uikit/UIViewRendering.h"

#include <fstream>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace vesk;
using namespace vesk::platform;
using namespace vesk::ziptest;
using Strings = std::vector<std::string>;

namespace {

// A desktop of the tests' own, made before the first look at the desktop's applications: two
// applications registered for text files that note what they are started with, "Fake Viewer"
// taking paths and "Fake Writer" taking URLs.
struct PrivateDesktop {
    PrivateDesktop()
    {
        char pattern[] = "/tmp/vesk-desktop-XXXXXX";
        folder = ::mkdtemp(pattern);
        fs::create_directories(folder + "/data/applications");
        fs::create_directories(folder + "/system");
        // The file-name patterns of the types; no application from the machine.
        fs::create_directory_symlink("/usr/share/mime", folder + "/system/mime");
        for (auto [name, program, takes] : { std::tuple { "Fake Viewer", "viewer", "%f" }, std::tuple { "Fake Writer", "writer", "%U" } }) {
            writeText(folder + "/" + program, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> " + folder + "/opened-by-" + program + "\n");
            fs::permissions(folder + "/" + program, fs::perms::owner_all);
            writeText(folder + "/data/applications/fake-" + program + ".desktop",
                std::string("[Desktop Entry]\nType=Application\nName=") + name + "\nExec=" + folder + "/" + program + " " + takes + "\nMimeType=text/plain;\n");
        }
        writeText(folder + "/data/applications/mimeinfo.cache", "[MIME Cache]\ntext/plain=fake-viewer.desktop;fake-writer.desktop;\n");
        ::setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (folder + "/system").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (folder + "/config").c_str(), 1);
    }
    ~PrivateDesktop() { fs::remove_all(folder); }
    std::string opened(const std::string& program) const
    {
        std::ifstream file(folder + "/opened-by-" + program);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }
    std::string folder;
};

const PrivateDesktop& privateDesktop()
{
    static PrivateDesktop desktop;
    return desktop;
}

class FileOperationsTest : public test::AppTest {
protected:
    void SetUp() override
    {
        privateDesktop();
        AppTest::SetUp();
        list->setFile(VeskFile::initWithPath(dir = makeFolder("w")));
        window->setRootViewController(list);
        window->makeKeyAndVisible();
    }
    std::string at(const std::string& name) const { return name.starts_with('/') ? name : dir + "/" + name; }
    std::shared_ptr<VeskFile> file(const std::string& name) { return VeskFile::initWithPath(at(name)); }
    // Files holding "x", and folders for names ending in "/", with the folders above them.
    void put(const Strings& names)
    {
        for (auto& name : names) {
            fs::create_directories(fs::path(at(name)).parent_path());
            name.ends_with('/') ? void(fs::create_directory(at(name))) : writeText(at(name), "x");
        }
    }
    // Notes what the person sees, the alert on top ("title | message | actions"), chooses in
    // it (unless the choice is empty) and lets the work run; then notes the banners it raised
    // ("Type: text"). Delegate calls and callbacks are noted as they come, so before them.
    void choose(const std::string& choice, bool wait = true)
    {
        auto alert = driver.alert();
        ASSERT_TRUE(alert) << choice;
        seen_.push_back(alert->title().value_or("") + " | " + alert->message().value_or("-") + " |");
        for (auto& action : alert->actions())
            seen_.back() += " " + action->title().value_or("");
        EXPECT_TRUE(choice.empty() || driver.chooseAlertAction(choice)) << seen_.back();
        if (wait && driver.drain())
            for (auto& banner : VeskNotificationManager::queue())
                seen_.push_back(std::string(notificationTypeName(banner->type())) + ": " + banner->message().value_or(""));
        VeskNotificationManager::reset();
    }
    void paste(const std::string& folder, const std::string& entry)
    {
        utility.addFileOrDir(at(folder), list, CGRectZero);
        choose(entry);
    }
    Value clipboard(const char* methode, const std::string& name) { return Value(Dictionary { { "methode", Value(methode) }, { "paths", Value(Array { Value(at(name)) }) } }); }
    std::optional<Value> clipboard() { return NSUserDefaults::standardUserDefaults()->objectForKey(hashedDefaultsKey6()); }

    std::string dir;
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRectMake(0, 0, 375, 667));
    std::shared_ptr<VeskFileListController> list = std::make_shared<VeskFileListController>();
    Strings seen_;
    Utility utility;
    Utility::FinishedCallBack counted = [this] { seen_.push_back("callback"); };
};

TEST_F(FileOperationsTest, MoreSheetOffersWhatItemAndScreenAllowAndRenameTakesOnlyAFreePlainName)
{
    auto documents = makeFolder("home/Documents");
    put({ documents + "/d.txt", "f/", "a.zip", "a.txt", "taken.txt", "x/" });
    Bookmarks().save(file("a.zip"));
    // "home" holds Documents: saving it would copy a folder into itself.
    // "Share File" offers the desktop's applications for the file's type, when there are any.
    const std::tuple<std::string, bool, const char*, const char*> cases[] = { { "a.zip", false, "Remove from bookmarks", "" }, { "a.zip", true, "Save to bookmarks", "" }, { "a.zip", true, "Share File", "" }, { documents + "/d.txt", true, "Share File", "Fake Viewer" }, { documents + "/d.txt", true, "Share File", "Fake Writer" }, { "f", true, "Save to documents", "" }, { "f", true, "Save to documents", "" }, { root() + "/home", true, "Save to documents", "" } };
    for (auto& [name, fromList, choice, then] : cases) {
        window->setRootViewController(fromList ? list : std::make_shared<UIViewController>());
        utility.shareFile(driver.topViewController(), CGRectZero, { file(name) });
        choose(choice);
        if (*then)
            choose(then);
    }
    EXPECT_TRUE(RunLoop::main().runUntil([] { return !privateDesktop().opened("viewer").empty() && !privateDesktop().opened("writer").empty(); }))
        << "both applications were started";
    EXPECT_EQ(privateDesktop().opened("viewer"), documents + "/d.txt\n") << "a path for a launcher that takes files";
    // One that takes URLs gets a local file's path, or its URL where its entry forbids paths.
    auto writer = privateDesktop().opened("writer");
    EXPECT_TRUE(writer == documents + "/d.txt\n" || writer == "file://" + documents + "/d.txt\n") << writer;
    EXPECT_EQ(seen_, (Strings { "\"a.zip\" | - | Cancel Share File Copy/Move Save to documents Remove from bookmarks", "Info: \"a.zip\" has been removed from bookmarks", "\"a.zip\" | - | Cancel Share File Copy/Move Save to documents Open as... Rename Save to bookmarks", "Info: \"a.zip\" has been added to bookmarks", "\"a.zip\" | - | Cancel Share File Copy/Move Save to documents Open as... Rename Remove from bookmarks", "Warning: No App can open \"a.zip\"", "\"d.txt\" | - | Cancel Share File Copy/Move Open as... Zip Rename Save to bookmarks", "d.txt | - | Fake Viewer Fake Writer Cancel", "\"d.txt\" | - | Cancel Share File Copy/Move Open as... Zip Rename Save to bookmarks", "d.txt | - | Fake Viewer Fake Writer Cancel", "\"f\" | - | Cancel Copy/Move Save to documents Zip Rename Save to bookmarks", "Success: \"f\" has successfully been saved", "\"f\" | - | Cancel Copy/Move Save to documents Zip Rename Save to bookmarks", "Error: \"f\" could not be saved", "\"home\" | - | Cancel Copy/Move Save to documents Zip Rename Save to bookmarks", "Error: \"home\" could not be saved" }));
    EXPECT_EQ(filesBelow(documents), (Strings { "d.txt", "f/" }));

    seen_.clear();
    for (auto choice : { "Text", "Image", "Website" }) {
        utility.openAs(list, CGRectZero, file("a.txt"));
        choose(choice);
        seen_.push_back(driver.visibleScreen()->storyboardIdentifier());
        list->dismissViewControllerAnimated(false);
    }
    EXPECT_EQ(seen_, (Strings { "Open \"a.txt\"as... | - | Cancel Text Image Website", "text", "Open \"a.txt\"as... | - | Cancel Text Image Website", "image", "Open \"a.txt\"as... | - | Cancel Text Image Website", "web" }));
    for (auto& name : Strings { "", ".", "..", "x/a.txt", "../a.txt", "taken.txt", std::string("a\0b", 3) }) {
        utility.shareFile(list, CGRectZero, { file("a.txt") });
        choose("Rename");
        EXPECT_EQ(driver.alert()->textFields().at(0)->placeholder(), at("a.txt"));
        driver.typeIntoField(0, name);
        choose("Rename");
        choose("OK");
    }
    EXPECT_EQ(std::count(seen_.begin(), seen_.end(), "Error | There was an error with renaming the file, try another one name... | OK"), 7);
    EXPECT_EQ(filesBelow(dir), (Strings { "a.txt", "a.zip", "f/", "taken.txt", "x/" }));
}

TEST_F(FileOperationsTest, ClipboardCopiesPastesAndMovesWithoutEverReplacing)
{
    put({ "a.txt", "b.txt", "f/c.txt", "to/b.txt", "to2/", "f/New Directory" });
    paste("f", "Add Dirctory");
    utility.copyCutContent({ file("a.txt") }, list, counted);
    choose("Copy");
    EXPECT_EQ(clipboard(), clipboard("copy", "a.txt"));
    paste("to", "Past \"a.txt\"");
    paste("to", "Past \"a.txt\"");
    for (auto folder : { "to", "" }) {
        utility.copyCutContent({ file("a.txt"), file("b.txt"), file("f") }, list);
        choose("Copy");
        paste(folder, "Past 3 item(s)");
    }
    utility.copyCutContent({ file("f") }, list);
    choose("Copy");
    paste("f", "Past \"f\"");
    utility.copyCutContent({ file("f") }, list);
    choose("Move");
    paste("f", "Past \"f\"");
    choose("Move");
    EXPECT_EQ(clipboard(), clipboard("cut", "f")) << "a failed move keeps the entry";
    Bookmarks().save(file("b.txt"));
    utility.copyCutContent({ file("b.txt") }, list);
    choose("Move");
    paste("to2", "Past \"b.txt\"");
    choose("Move");
    EXPECT_EQ(clipboard(), std::nullopt);
    EXPECT_TRUE(Bookmarks().isInBookmarks(*file("to2/b.txt")));
    const std::string copyMove = "Copy/Move | If you select move the file(s) will be deleted after you past it (them) to the new direction. | Cancel Copy Move";
    auto add = [](std::string entry) { return "Add file of Directory | - | " + entry + "Cancel Add Dirctory Add from Web"; };
    EXPECT_EQ(seen_, (Strings { add(""), "Error: New directory could not be created", copyMove, "callback", "Info: \"a.txt\" has been coppied", add("Past \"a.txt\" "), "Success: \"a.txt\" has been past", add("Past \"a.txt\" "), "Error: \"a.txt\" could not be past", copyMove, "Info: 3 items have been coppied", add("Past 3 item(s) "), "Warning: 2 item(s) could not be past", "Success: 1 item(s) have been past", copyMove, "Info: 3 items have been coppied", add("Past 3 item(s) "), "Warning: 3 item(s) could not be past", copyMove, "Info: \"f\" has been coppied", add("Past \"f\" "), "Error: \"f\" could not be past", copyMove, "Info: \"f\" has been coppied", add("Past \"f\" "), "Move \"f\" | This action will delete the file(s) in its original directory and pasts it (them) to the current directory! | Cancel Move", "Error: \"f\" could not be moved", copyMove, "Info: \"b.txt\" has been coppied", add("Past \"b.txt\" "), "Move \"b.txt\" | This action will delete the file(s) in its original directory and pasts it (them) to the current directory! | Cancel Move", "Success: \"b.txt\" has been moved" }));
    EXPECT_EQ(filesBelow(dir), (Strings { "a.txt", "f/", "f/New Directory", "f/c.txt", "to/", "to/a.txt", "to/b.txt", "to/f/", "to/f/New Directory", "to/f/c.txt", "to2/", "to2/b.txt" }));

    // Root writes everywhere, so the add sheets are built as an ordinary user.
    put({ "ro/" });
    ::chmod(root().c_str(), 0755);
    ::chmod(at("ro").c_str(), 0555);
    ::chmod(at("to2").c_str(), 0777);
    utility.copyCutContent({ file("a.txt") }, list);
    choose("Copy");
    bool isRoot = ::geteuid() == 0;
    ASSERT_TRUE(!isRoot || ::setresuid(65534, 65534, 0) == 0);
    paste("ro", "Cancel");
    paste("to2", "Cancel");
    ASSERT_TRUE(!isRoot || ::setresuid(0, 0, 0) == 0);
    EXPECT_EQ(Strings(seen_.end() - 2, seen_.end()), (Strings { add(""), add("Past \"a.txt\" ") }));
}

TEST_F(FileOperationsTest, ZipNeverReplacesAnArchiveAndUnzipReportsEachEntryAndEveryFailure)
{
    put({ "a.txt", "b.txt", "Archive.zip", "f/c.txt", "in/1", "in/2", "in/3", "in/4" });
    utility.zipContent(at("Archive.zip"), { at("a.txt"), at("b.txt"), at("Archive.zip") }, list, CGRectZero, counted);
    choose("Zip", false);
    auto spinner = std::dynamic_pointer_cast<UIActivityIndicatorView>(driver.alert()->view()->subviews().at(0));
    EXPECT_TRUE(spinner && spinner->isAnimating() && spinner->center() == CGPointMake(130.5, 65.5));
    choose("");
    EXPECT_EQ(readText(at("Archive.zip")), "x");
    fs::remove(at("Archive.zip"));
    utility.shareFile(list, CGRectZero, { file("f") });
    choose("Zip");
    choose("Zip");
    EXPECT_EQ(entryNames(at("Archive.zip")), (Strings { "f/", "f/c.txt" }));
    utility.zipContent(at("f"), { at("a.txt") }, list, CGRectZero, counted);
    choose("Zip");
    EXPECT_EQ(seen_, (Strings { "Zip 2 file(s) | • a.txt\r• b.txt\r | Cancel Zip", "Zipping 2 file(s)\"\r\r | This may take some time... |", "callback", "Error: Error zipping \"2\" file(s)", "\"f\" | - | Cancel Copy/Move Save to documents Zip Rename Save to bookmarks", "Zip 1 file(s) | • f/c.txt\r | Cancel Zip", "Success: Done zipping \"1\" file(s)", "Zip 1 file(s) | • a.txt\r | Cancel Zip", "callback", "Error: Error zipping \"1\" file(s)" }));
    EXPECT_EQ(filesBelow(dir).size(), 10u) << "no temporary file stays";

    // Four entries; a broken header at entry k ends the run after k - 1 of them.
    utility.zipContent(at("four.zip"), { at("in/1"), at("in/2"), at("in/3"), at("in/4") }, list, CGRectZero);
    choose("Zip");
    auto archive = readText(at("four.zip"));
    for (std::size_t broken = 1; broken <= 5; ++broken) { // the four entries are alike in size
        writeText(at("four.zip"), broken < 5 ? std::string(archive).replace((broken - 1) * archive.find("PK\3\4", 1), 1, "X") : archive);
        put({ "four/" });
        writeText(at("four/4"), broken == 5 ? "x" : "kept"); // a file already holding an entry's bytes is no loss
        utility.openItem(list, file("four.zip"), CGRectZero);
        choose("Unzip in folder \"four\"", false);
        auto alert = driver.alert();
        auto bar = std::dynamic_pointer_cast<UIProgressView>(alert->view()->subviews().at(0));
        choose("");
        EXPECT_EQ(bar->progress(), (broken - 1) / 4.0f);
        EXPECT_EQ(bar->frame(), CGRectMake(0, 667 - 2.5, 375, 2.5));
        EXPECT_EQ(alert->message(), broken > 1 ? std::to_string(broken - 1) : "");
        EXPECT_EQ(readText(at("four/4")), broken == 5 ? "x" : "kept");
        EXPECT_EQ(seen_.back(), broken == 5 ? "Success: Succesfully unzipped \"four.zip\"" : "Error: Error unzipping \"four.zip\"");
    }
    utility.openItem(list, file("four.zip"), CGRectZero);
    choose("Unzip here");
    utility.openZip(at("a.txt"), list, CGRectZero);
    choose("Unzip here");
    EXPECT_EQ(readText(at("4")), "x");
    EXPECT_EQ(Strings(seen_.end() - 6, seen_.end()), (Strings { "Unziping \"four.zip\" |  |", "Success: Succesfully unzipped \"four.zip\"", "Unzip \"four.zip\" | - | Cancel Unzip here Unzip in folder \"four\"", "Success: Succesfully unzipped \"four.zip\"", "Unzip \"a.txt\" | - | Cancel Unzip here Unzip in folder \"a\"", "Error: Error unzipping \"a.txt\"" }));
}

TEST_F(FileOperationsTest, UnzipShowsItsProgressAlertOnThePhoneAndOnThePad)
{
    put({ "in/1", "in/2", "in/3" });
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(at("three.zip"), { at("in/1"), at("in/2"), at("in/3") }));
    for (bool pad : { false, true }) {
        if (pad) {
            UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 768, 1024));
            UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
            window = std::make_shared<UIWindow>(UIScreen::mainScreen().bounds());
            window->setRootViewController(list);
            window->makeKeyAndVisible();
        }
        auto screen = UIScreen::mainScreen().bounds().size;
        auto row = CGRectMake(0, 44, screen.width, 44);
        utility.openItem(list, file("three.zip"), row);
        auto sheet = driver.alert();
        ASSERT_TRUE(sheet) << pad;
        if (pad) {
            EXPECT_EQ(sheet->popoverPresentationController().sourceView(), list->view());
            EXPECT_EQ(sheet->popoverPresentationController().sourceRect(), row);
        }
        // Tapped where it is drawn, as a person does.
        driver.render();
        auto drawn = std::dynamic_pointer_cast<UIAlertControllerView>(sheet->view());
        ASSERT_TRUE(drawn);
        auto button = std::find_if(drawn->buttons().begin(), drawn->buttons().end(), [](auto& shown) { return shown.action->title() == "Unzip in folder \"three\""; });
        ASSERT_NE(button, drawn->buttons().end());
        auto place = drawn->convertRectToView(button->frame, nullptr);
        driver.tapAt(CGPointMake(CGRectGetMidX(place), CGRectGetMidY(place)));
        auto alert = driver.alert();
        ASSERT_TRUE(alert) << "the progress alert is in front, pad: " << pad;
        EXPECT_EQ(alert->title(), "Unziping \"three.zip\"");
        auto bar = std::dynamic_pointer_cast<UIProgressView>(alert->view()->subviews().at(0));
        ASSERT_TRUE(bar);
        EXPECT_EQ(bar->frame(), CGRectMake(0, screen.height - 2.5, screen.width, 2.5));
        choose("");
        EXPECT_EQ(bar->progress(), 1.0f);
        EXPECT_EQ(seen_.back(), "Success: Succesfully unzipped \"three.zip\"");
        EXPECT_EQ(driver.alert(), nullptr) << "the alert went once the work was done";
        EXPECT_EQ(readText(at("three/3")), "x");
        fs::remove_all(at("three"));
    }
}

// Zip and unzip lose nothing: a folder goes with its tree, links stay links, what cannot be
// added or written ends in the error banner, and no file of the person's is written over.
mode_t linkFileMode()
{
    mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

TEST_F(FileOperationsTest, ZipOfAFolderKeepsItsTreeAndUnzipBringsItBackWhole)
{
    makeTestTree(at("proj"));
    writeText(at("notes.txt"), "beside");
    utility.zipContent(at("Archive.zip"), { at("proj"), at("notes.txt") }, list, CGRectZero, counted);
    choose("Zip");
    auto entries = listArchive(at("Archive.zip"));
    auto files = std::count_if(entries.begin(), entries.end(), [](auto& entry) { return !entry.name.ends_with('/'); });
    EXPECT_EQ(files, 12) << "the sheet's count is what is written";
    EXPECT_EQ(entries.size(), 20u) << "every folder has an entry";
    EXPECT_EQ(seen_, (Strings { "Zip 12 file(s) | • proj/a.txt\r• proj/caf\xe9.txt\r• proj/dangling\r• proj/docs/a.txt\r• proj/docs/notes/a.txt\r• proj/docs/private.txt\r• proj/link-folder\r• proj/link-in\r• proj/link-out\r… and 3 more file(s)\r | Cancel Zip", "callback", "Success: Done zipping \"12\" file(s)" }));
    EXPECT_EQ(run("unzip -tq " + shellQuoted(at("Archive.zip")) + " >/dev/null"), 0);
    EXPECT_EQ(run("python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' " + shellQuoted(at("Archive.zip"))), 0);

    // Unzipped beside the file it already holds, which is no loss.
    fs::rename(at("proj"), at("original"));
    utility.openItem(list, file("Archive.zip"), CGRectZero);
    choose("Unzip here");
    EXPECT_EQ(seen_.back(), "Success: Succesfully unzipped \"Archive.zip\"");
    EXPECT_EQ(treeOf(at("proj"), linkFileMode()), treeOf(at("original"), linkFileMode()));
    EXPECT_EQ(readText(at("notes.txt")), "beside");
    ASSERT_EQ(run("mkdir " + shellQuoted(at("info-zip")) + " && cd " + shellQuoted(at("info-zip")) + " && unzip -q ../Archive.zip"), 0);
    EXPECT_EQ(treeOf(at("info-zip/proj")), treeOf(at("original"))) << "links included";
}

TEST_F(FileOperationsTest, ZipOfATreeWithWhatCannotBeAddedReportsAnErrorAndLeavesNoArchive)
{
    makeTestTree(at("proj"));
    ASSERT_EQ(::mkfifo(at("proj/pipe").c_str(), 0600), 0);
    utility.shareFile(list, CGRectZero, { file("proj") });
    choose("Zip");
    choose("Zip");
    ASSERT_EQ(seen_.size(), 3u);
    EXPECT_TRUE(seen_[1].starts_with("Zip 12 file(s) | ") && seen_[1].find("… and 3 more file(s)\r") != std::string::npos) << "the pipe counts: " << seen_[1];
    EXPECT_EQ(seen_[2], "Error: Error zipping \"12\" file(s)");
    for (auto& name : filesBelow(dir))
        EXPECT_EQ(name.find("Archive.zip"), std::string::npos) << name;
}

// A big folder's zip sheet names a few files as the archive will, with their folders, counts
// the rest, and once drawn, has nothing to draw again while it waits for the person.
TEST_F(FileOperationsTest, ZipSheetOfABigFolderNamesAFewPathsCountsTheRestAndWaitsQuietly)
{
    Strings names { "big/a/long.txt", "big/b/long.txt" };
    for (int i = 0; i < 300; ++i)
        names.push_back("big/c/" + std::to_string(1000 + i));
    put(names);
    driver.advance(1.5);
    driver.drain();
    utility.shareFile(list, CGRectZero, { file("big") });
    choose("Zip");
    auto sheet = driver.alert();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->title(), "Zip 302 file(s)");
    EXPECT_EQ(sheet->message(), "• big/a/long.txt\r• big/b/long.txt\r• big/c/1000\r• big/c/1001\r• big/c/1002\r• big/c/1003\r• big/c/1004\r• big/c/1005\r• big/c/1006\r… and 293 more file(s)\r");

    // Once it has come in and been drawn, with the rows below it.
    for (int settle = 0; settle < 2; ++settle) {
        driver.advance(1.0);
        driver.render();
    }
    for (int frame = 0; frame < 120; ++frame) {
        // What the window does each turn: looks for a field that takes typing, then asks
        // whether anything changed.
        UIEventDispatcher::shared().acceptsText();
        ASSERT_FALSE(UIRenderer::needsDisplay()) << "frame " << frame;
        driver.advance(1.0 / 60);
    }
    choose("Zip");
    EXPECT_EQ(entryNames(at("Archive.zip")).size(), 306u) << "every file and folder";
    EXPECT_EQ(seen_.back(), "Success: Done zipping \"302\" file(s)");
}

TEST_F(FileOperationsTest, UnzipNeverWritesOverAPersonsFileAndSaysSo)
{
    writeText(at("src/notes.txt"), "from the archive");
    writeText(at("src/other.txt"), "other");
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(at("notes.zip"), Strings { at("src/notes.txt"), at("src/other.txt") }));
    writeText(at("notes.txt"), "MY OWN WORK");
    utility.openItem(list, file("notes.zip"), CGRectZero);
    choose("Unzip here");
    EXPECT_EQ(readText(at("notes.txt")), "MY OWN WORK");
    EXPECT_EQ(readText(at("other.txt")), "other");

    // Into a folder that already holds a file of an entry's name.
    writeText(at("notes/notes.txt"), "MINE TOO");
    utility.openItem(list, file("notes.zip"), CGRectZero);
    choose("Unzip in folder \"notes\"");
    EXPECT_EQ(readText(at("notes/notes.txt")), "MINE TOO");
    EXPECT_EQ(readText(at("notes/other.txt")), "other");

    // Once that file is gone, the archive unzips over what it wrote itself.
    fs::remove(at("notes/notes.txt"));
    utility.openItem(list, file("notes.zip"), CGRectZero);
    choose("Unzip in folder \"notes\"");
    EXPECT_EQ(readText(at("notes/notes.txt")), "from the archive");
    EXPECT_EQ(Strings(seen_.begin() + 1, seen_.end()), (Strings { "Error: Error unzipping \"notes.zip\"", "Unzip \"notes.zip\" | - | Cancel Unzip here Unzip in folder \"notes\"", "Error: Error unzipping \"notes.zip\"", "Unzip \"notes.zip\" | - | Cancel Unzip here Unzip in folder \"notes\"", "Success: Succesfully unzipped \"notes.zip\"" }));
}

TEST_F(FileOperationsTest, UnzipTakesFolderModesAndUtcTimesFromTheArchive)
{
    // Made by Info-ZIP five hours west of here, unzipped nine hours east.
    makeTestTree(at("src/proj"));
    ASSERT_EQ(run("cd " + shellQuoted(at("src")) + " && TZ=EST5 zip -qry ../made.zip proj"), 0);
    std::optional<std::string> zone;
    if (const char* current = std::getenv("TZ"))
        zone = current;
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    utility.openItem(list, file("made.zip"), CGRectZero);
    choose("Unzip here");
    zone ? ::setenv("TZ", zone->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(seen_.back(), "Success: Succesfully unzipped \"made.zip\"");
    EXPECT_EQ(treeOf(at("proj"), linkFileMode()), treeOf(at("src/proj"), linkFileMode()));
}

// Linux allows a backslash in a name: an archive made here brings such files back as files, one
// made on DOS makes folders of them. A folder entry that holds data is left out, and says so.
TEST_F(FileOperationsTest, UnzipKeepsBackslashesInNamesMadeOnLinuxAndFailsForWhatItLeavesOut)
{
    writeText(at("src/notes\\"), "twelve bytes");
    writeText(at("src/a\\b.txt"), "a and b");
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(at("linux.zip"), Strings { at("src/notes\\"), at("src/a\\b.txt") }));
    writeRawArchive(at("dos.zip"), { { .name = "dir\\sub\\file.txt", .content = "inside", .versionMadeBy = 20 } });
    writeRawArchive(at("full.zip"), { { .name = "notes/", .content = "twelve bytes" }, { .name = "b.txt", .content = "b" } });
    for (auto name : { "linux", "dos", "full" }) {
        utility.openItem(list, file(name + std::string(".zip")), CGRectZero);
        choose("Unzip in folder \"" + std::string(name) + "\"");
    }
    EXPECT_EQ(filesBelow(at("linux")), (Strings { "a\\b.txt", "notes\\" }));
    EXPECT_EQ(readText(at("linux/notes\\")), "twelve bytes");
    EXPECT_EQ(filesBelow(at("dos")), (Strings { "dir/", "dir/sub/", "dir/sub/file.txt" }));
    EXPECT_EQ(filesBelow(at("full")), (Strings { "b.txt" }));
    Strings banners;
    std::copy_if(seen_.begin(), seen_.end(), std::back_inserter(banners), [](auto& line) { return line.find(": ") != std::string::npos; });
    EXPECT_EQ(banners, (Strings { "Success: Succesfully unzipped \"linux.zip\"", "Success: Succesfully unzipped \"dos.zip\"", "Error: Error unzipping \"full.zip\"" }));
}

// On the pad a sheet leaves the list below in sight, but the list takes no touch: an archive's
// row tapped beside the sheet opens nothing, and one tapped once the sheet is gone offers to unzip.
TEST_F(FileOperationsTest, RowsBesideASheetOnThePadTakeNoTouch)
{
    put({ "in/1" });
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(at("one.zip"), { at("in/1") }));
    UIScreen::mainScreen().setBounds(CGRectMake(0, 0, 768, 1024));
    UIDevice::currentDevice().setUserInterfaceIdiom(UIUserInterfaceIdiom::Pad);
    // A list made now, so that it lists the archive.
    auto list = UIStoryboard::storyboardWithName("Main").instantiate<VeskFileListController>("fileList");
    list->setFile(VeskFile::initWithPath(dir));
    window = std::make_shared<UIWindow>(UIScreen::mainScreen().bounds());
    window->setRootViewController(list);
    window->makeKeyAndVisible();
    driver.drain();
    auto table = list->tableView();
    auto row = driver.rowWithText(*table, "one.zip");
    ASSERT_TRUE(row);
    auto place = table->convertRectToView(table->rectForRowAtIndexPath(*row), nullptr);
    auto tapRow = [&] { driver.tapAt(CGPointMake(CGRectGetMinX(place) + 40, CGRectGetMidY(place))); };
    utility.showInfo(list, file("in"));
    driver.drain();
    auto sheet = driver.topViewController();
    ASSERT_TRUE(sheet && sheet != list);
    driver.render();
    ASSERT_FALSE(CGRectContainsPoint(sheet->view()->frame(), CGPointMake(CGRectGetMinX(place) + 40, CGRectGetMidY(place))));
    ::testing::internal::CaptureStderr();
    tapRow();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "the list below tried to present over the sheet";
    EXPECT_FALSE(driver.alert()) << "nothing opens below the sheet";
    EXPECT_EQ(driver.topViewController(), sheet);
    sheet->dismissViewControllerAnimated(false);
    driver.drain();
    driver.render();
    tapRow();
    ASSERT_TRUE(driver.alert());
    EXPECT_EQ(driver.alert()->title(), "Unzip \"one.zip\"");
}

TEST_F(FileOperationsTest, LongWorkRunsBesideTheMainLoop)
{
    // The main queue turns while the work is provably part-way: some files arrived, not all.
    auto partway = [&](const std::string& target) {
        std::set<long> counts;
        std::function<void()> watch = [&] {
            counts.insert(fs::exists(target) ? std::distance(fs::directory_iterator(target), {}) : 0);
            if (VeskNotificationManager::queue().empty())
                DispatchQueue::main().async(watch);
        };
        DispatchQueue::main().async(watch);
        driver.drain();
        return std::any_of(counts.begin(), counts.end(), [](long arrived) { return arrived > 0 && arrived < 300; });
    };
    for (int i = 0; i < 300; ++i)
        put({ "many/" + std::to_string(i) });
    utility.copyCutContent({ file("many") }, list);
    choose("Copy");
    put({ "to/" });
    utility.addFileOrDir(at("to"), list, CGRectZero);
    choose("Past \"many\"", false);
    EXPECT_TRUE(partway(at("to/many")));

    // A move from another file system is a copy as well.
    struct stat shm { };
    struct stat here { };
    if (::stat("/dev/shm", &shm) != 0 || ::stat(dir.c_str(), &here) != 0 || shm.st_dev == here.st_dev || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second file system to move from";
    auto name = "vesk-move-" + std::to_string(::getpid());
    for (int i = 0; i < 300; ++i)
        put({ "/dev/shm/" + name + "/" + std::to_string(i) });
    NSUserDefaults::standardUserDefaults()->setObject(clipboard("cut", "/dev/shm/" + name), hashedDefaultsKey6());
    paste("to", "Past \"" + name + "\"");
    choose("Move", false);
    bool moving = partway(at("to/" + name));
    fs::remove_all("/dev/shm/" + name);
    EXPECT_TRUE(moving);
    EXPECT_EQ(VeskNotificationManager::queue().back()->message(), "\"" + name + "\" has been moved");
}

}
