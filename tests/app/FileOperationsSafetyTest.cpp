// Paste, move, delete, rename and new folder, driven as a person taps them, on trees with what
// is easy to lose: read-only folders, unreadable files, FIFOs, links in, out and nowhere, hard
// links, extended attributes and sparse files. What the banners say must be what happened.

#include "app/AppTestSupport.h"
#include "app/Utility.h"
#include "app/VeskFileListController.h"
#include "model/Bookmarks.h"
#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "model/ZipTestSupport.h"
#include "platform/uikit/UIStoryboard.h"

#include <fcntl.h>
#include <functional>
#include <iostream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace vesk;
using namespace vesk::platform;
using namespace vesk::ziptest;
using Strings = std::vector<std::string>;

namespace {

constexpr uid_t nobody = 65534;

class FileOperationsSafetyTest : public test::AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        list->setFile(VeskFile::initWithPath(dir = makeFolder("w")));
        window->setRootViewController(list);
        window->makeKeyAndVisible();
    }
    void TearDown() override
    {
        for (auto& folder : elsewhere)
            fs::remove_all(folder);
        AppTest::TearDown();
    }
    std::string at(const std::string& name) const { return name.starts_with('/') ? name : dir + "/" + name; }
    std::shared_ptr<VeskFile> file(const std::string& name) { return VeskFile::initWithPath(at(name)); }
    void put(const Strings& names, mode_t mode = 0644)
    {
        for (auto& name : names) {
            fs::create_directories(fs::path(at(name)).parent_path());
            name.ends_with('/') ? void(fs::create_directory(at(name))) : writeText(at(name), name);
            ::chmod(at(name).c_str(), name.ends_with('/') ? mode | 0111 : mode);
        }
    }
    // A folder on the other file system, when there is one.
    std::optional<std::string> otherFileSystem()
    {
        struct stat shm {
        }, here {};
        if (::stat("/dev/shm", &shm) != 0 || ::stat(dir.c_str(), &here) != 0 || shm.st_dev == here.st_dev || ::access("/dev/shm", W_OK) != 0)
            return std::nullopt;
        std::string folder = "/dev/shm/vesk-safety-XXXXXX";
        if (!::mkdtemp(folder.data()))
            return std::nullopt;
        elsewhere.push_back(folder);
        return folder;
    }
    // The alert on top ("title | actions"), the choice, then the banners it raised.
    void choose(const std::string& choice)
    {
        auto alert = driver.alert();
        ASSERT_TRUE(alert) << choice;
        seen.push_back(alert->title().value_or("") + " |");
        for (auto& action : alert->actions())
            seen.back() += " " + action->title().value_or("");
        EXPECT_TRUE(driver.chooseAlertAction(choice)) << seen.back();
        if (driver.drain())
            for (auto& banner : VeskNotificationManager::queue())
                seen.push_back(std::string(notificationTypeName(banner->type())) + ": " + banner->message().value_or(""));
        VeskNotificationManager::reset();
    }
    void setClipboard(const char* methode, const Strings& names)
    {
        Array paths;
        for (auto& name : names)
            paths.push_back(Value(at(name)));
        NSUserDefaults::standardUserDefaults()->setObject(Value(Dictionary { { "methode", Value(methode) }, { "paths", Value(std::move(paths)) } }), hashedDefaultsKey6());
    }
    bool clipboardIsEmpty() { return !NSUserDefaults::standardUserDefaults()->objectForKey(hashedDefaultsKey6()); }
    void paste(const std::string& folder, const std::string& entry)
    {
        utility.addFileOrDir(at(folder), list, CGRectZero);
        choose(entry);
    }
    // Root passes every permission test: the work runs as an ordinary user, who owns the test's
    // folders but for the items `keptByRoot`.
    void asOrdinaryUser(const std::function<void()>& work, const Strings& keptByRoot = {})
    {
        bool isRoot = ::geteuid() == 0;
        if (isRoot) {
            for (auto& top : Strings { root(), elsewhere.empty() ? root() : elsewhere.front() }) {
                ::lchown(top.c_str(), nobody, nobody);
                for (auto& entry : fs::recursive_directory_iterator(top))
                    ::lchown(entry.path().c_str(), nobody, nobody);
            }
            for (auto& item : keptByRoot)
                ::lchown(at(item).c_str(), 0, 0);
            ::chmod(root().c_str(), 0755);
            ASSERT_EQ(::setresuid(nobody, nobody, 0), 0);
        }
        struct Back {
            bool isRoot;
            ~Back()
            {
                if (isRoot) {
                    EXPECT_EQ(::setresuid(0, 0, 0), 0);
                }
            }
        } back { isRoot };
        work();
    }
    // Every name below the folder, folders with a "/" and links as "name -> target".
    static Strings namesBelow(const std::string& folder)
    {
        Strings names;
        for (auto& entry : fs::recursive_directory_iterator(folder)) {
            auto name = entry.path().lexically_relative(folder).string();
            auto kind = entry.symlink_status().type();
            names.push_back(kind == fs::file_type::symlink ? name + " -> " + fs::read_symlink(entry.path()).string() : kind == fs::file_type::directory ? name + "/"
                                                                                                                                                        : name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    static blkcnt_t blocks(const std::string& item)
    {
        struct stat st { };
        EXPECT_EQ(::stat(item.c_str(), &st), 0) << item;
        return st.st_blocks;
    }
    static bool sameItem(const std::string& a, const std::string& b)
    {
        struct stat x {
        }, y {};
        return ::lstat(a.c_str(), &x) == 0 && ::lstat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
    }
    static unsigned mode(const std::string& item)
    {
        struct stat st { };
        EXPECT_EQ(::lstat(item.c_str(), &st), 0) << item;
        return st.st_mode & 07777;
    }
    static std::string attribute(const std::string& item, const char* name)
    {
        char value[64] = {};
        return ::lgetxattr(item.c_str(), name, value, sizeof value - 1) > 0 ? value : "";
    }
    // A sparse file: 64 MiB long, 8 KiB of data.
    static void makeSparse(const std::string& item)
    {
        int fd = ::open(item.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0) << item;
        std::string block(4096, 's');
        EXPECT_EQ(::pwrite(fd, block.data(), block.size(), 1 << 20), 4096);
        EXPECT_EQ(::pwrite(fd, block.data(), block.size(), (64 << 20) - 4096), 4096);
        ::close(fd);
    }

    std::string dir;
    Strings elsewhere;
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>(CGRectMake(0, 0, 375, 667));
    std::shared_ptr<VeskFileListController> list = std::make_shared<VeskFileListController>();
    Strings seen;
    Utility utility;
};

TEST_F(FileOperationsSafetyTest, AFailedCopyTakesAwayAllItMadeAndNothingElse)
{
    // Read-only folders the copy finishes before it meets the file it cannot read: the last
    // folder it comes to holds that file.
    put({ "tree/a/file", "tree/b/file", "tree/c/file", "tree/d/file" }, 0444);
    put({ "tree/private", "tree/own/x" }, 0600);
    ::chmod(at("tree/own").c_str(), 0700);
    ASSERT_EQ(::mkfifo(at("tree/fifo").c_str(), 0644), 0);
    fs::create_symlink("private", at("tree/in"));
    fs::create_symlink("/usr", at("tree/out"));
    makeSparse(at("tree/sparse"));
    std::string last;
    for (auto& entry : fs::directory_iterator(at("tree")))
        if (entry.path().filename().string().size() == 1 && entry.is_directory())
            last = entry.path().filename();
    put({ "tree/" + last + "/secret" }, 0000);
    for (auto name : { "a", "b", "c", "d" })
        ::chmod(at(std::string("tree/") + name).c_str(), 0555);
    put({ "to/old.txt", "to/empty/" });
    auto before = namesBelow(at("to"));

    setClipboard("copy", { "tree" });
    asOrdinaryUser([&] { paste("to", "Past \"tree\""); });
    EXPECT_EQ(namesBelow(at("to")), before) << "the destination is as it was";
    ::chmod(at("tree/" + last + "/secret").c_str(), 0444);
    asOrdinaryUser([&] { paste("to", "Past \"tree\""); });
    EXPECT_EQ(seen, (Strings { "Add file of Directory | Past \"tree\" Cancel Add Dirctory Add from Web", "Error: \"tree\" could not be past", "Add file of Directory | Past \"tree\" Cancel Add Dirctory Add from Web", "Success: \"tree\" has been past" }));
    EXPECT_EQ(namesBelow(at("to/tree")), namesBelow(at("tree")));
    EXPECT_EQ(mode(at("to/tree/a")), 0555u);
    EXPECT_LT(blocks(at("to/tree/sparse")), 1024) << "a copy keeps the holes";
}

TEST_F(FileOperationsSafetyTest, AMoveFromAnotherFileSystemKeepsWhatMvKeeps)
{
    auto other = otherFileSystem();
    if (!other)
        GTEST_SKIP() << "no second file system: /dev/shm is missing, read-only or on the same one as the test folder";
    auto tree = *other + "/tree";
    put({ tree + "/private", tree + "/own/twin" }, 0600);
    fs::remove(tree + "/own/twin");
    ASSERT_EQ(::link((tree + "/private").c_str(), (tree + "/own/twin").c_str()), 0);
    put({ tree + "/ro.txt" }, 0444);
    put({ tree + "/ro/inside" });
    ::chmod((tree + "/ro").c_str(), 0555);
    ::chmod((tree + "/own").c_str(), 0700);
    ASSERT_EQ(::mkfifo((tree + "/fifo").c_str(), 0600), 0);
    fs::create_symlink("private", tree + "/in");
    fs::create_symlink("/usr", tree + "/out");
    fs::create_symlink("nowhere", tree + "/dangling");
    makeSparse(tree + "/sparse");
    bool attributes = ::setxattr((tree + "/private").c_str(), "user.note", "kept", 4, 0) == 0;
    if (!attributes)
        std::cerr << "this kernel's tmpfs takes no user attributes: they are not checked\n";
    timespec times[2] = { { 1'200'000'000, 0 }, { 1'200'000'000, 0 } };
    ::utimensat(AT_FDCWD, (tree + "/sparse").c_str(), times, 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::lchown((tree + "/ro.txt").c_str(), 1234, 5678), 0);
    }
    auto names = namesBelow(tree);

    setClipboard("cut", { tree });
    paste("", "Past \"tree\"");
    choose("Move");
    EXPECT_EQ(Strings(seen.end() - 1, seen.end()), Strings { "Success: \"tree\" has been moved" });
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
    EXPECT_EQ(namesBelow(at("tree")), names);
    EXPECT_TRUE(sameItem(at("tree/private"), at("tree/own/twin"))) << "one file under two names still";
    EXPECT_LT(blocks(at("tree/sparse")), 1024) << "the holes stay holes";
    EXPECT_EQ(fs::file_size(at("tree/sparse")), 64u << 20);
    struct stat sparse { };
    ASSERT_EQ(::stat(at("tree/sparse").c_str(), &sparse), 0);
    EXPECT_EQ(sparse.st_mtim.tv_sec, 1'200'000'000);
    EXPECT_EQ((std::vector<unsigned> { mode(at("tree/private")), mode(at("tree/own")), mode(at("tree/ro.txt")), mode(at("tree/ro")), mode(at("tree/fifo")) }),
        (std::vector<unsigned> { 0600, 0700, 0444, 0555, 0600 }));
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(at("tree/fifo"))));
    EXPECT_EQ(fs::read_symlink(at("tree/dangling")), "nowhere");
    EXPECT_EQ(fs::read_symlink(at("tree/out")), "/usr");
    if (attributes) {
        EXPECT_EQ(attribute(at("tree/private"), "user.note"), "kept");
    }
    struct stat owner { };
    ASSERT_EQ(::lstat(at("tree/ro.txt").c_str(), &owner), 0);
    if (::geteuid() == 0) {
        EXPECT_EQ(std::pair(owner.st_uid, owner.st_gid), std::pair(1234u, 5678u));
    }
}

// As an ordinary user, a read-only folder in the source can't be emptied once its copy is whole:
// the items arrived, so they are past, not "could not be moved", and the clipboard is emptied.
TEST_F(FileOperationsSafetyTest, AMoveThatCannotRemoveAllOfItsSourceSaysItArrived)
{
    auto other = otherFileSystem();
    if (!other)
        GTEST_SKIP() << "no second file system: /dev/shm is missing, read-only or on the same one as the test folder";
    for (auto name : { "one", "two" }) {
        auto tree = *other + "/" + name;
        put({ tree + "/a.txt", tree + "/ro/inside" });
        ::chmod((tree + "/ro").c_str(), 0555);
    }
    put({ "to/", "to2/" });
    asOrdinaryUser([&] {
        setClipboard("cut", { *other + "/one" });
        paste("to", "Past \"one\"");
        choose("Move");
        EXPECT_TRUE(clipboardIsEmpty());
        setClipboard("cut", { *other + "/two", at("to/one") });
        paste("to2", "Past 2 item(s)");
        choose("Move");
    });
    EXPECT_EQ(Strings(seen.begin() + 1, seen.begin() + 3), (Strings { "Move \"one\" | Cancel Move", "Warning: \"one\" has been past" }));
    EXPECT_EQ(Strings(seen.end() - 2, seen.end()), (Strings { "Move 2 items | Cancel Move", "Warning: 2 item(s) have been past" }));
    EXPECT_EQ(namesBelow(at("to2")), (Strings { "one/", "one/a.txt", "one/ro/", "one/ro/inside", "two/", "two/a.txt", "two/ro/", "two/ro/inside" }));
    for (auto name : { "one", "two" })
        EXPECT_TRUE(fs::exists(*other + "/" + name + "/ro/inside")) << "what could not be removed stays";
    for (auto name : { "one", "two" })
        ::chmod((*other + "/" + name + "/ro").c_str(), 0755);
}

// What unzip made, a person can delete: folders to which the archive gave their owner no write
// or no search go too. A delete that fails part-way gives each folder it opened its mode back.
TEST_F(FileOperationsSafetyTest, DeleteTakesTheFoldersAnArchiveLockedAndChangesNothingItLeaves)
{
    writeRawArchive(at("locked.zip"), { { .name = "locked/", .content = "", .externalAttributes = 040500u << 16 }, { .name = "locked/none/", .content = "", .externalAttributes = 040000u << 16 }, { .name = "locked/writeOnly/", .content = "", .externalAttributes = 040200u << 16 }, { .name = "locked/none/a.txt", .content = "a" }, { .name = "locked/writeOnly/b.txt", .content = "b" } });
    asOrdinaryUser([&] {
        utility.openItem(list, file("locked.zip"), CGRectZero);
        choose("Unzip here");
        EXPECT_EQ((std::vector { mode(at("locked")), mode(at("locked/none")), mode(at("locked/writeOnly")) }), (std::vector { 0500u, 0000u, 0200u }));
        utility.deleteFile(list, { file("locked") }, CGRectZero);
        choose("Delete");
    });
    EXPECT_EQ(seen, (Strings { "Unzip \"locked.zip\" | Cancel Unzip here Unzip in folder \"locked\"", "Success: Succesfully unzipped \"locked.zip\"", "Delete \"locked\" | Cancel Delete", "Success: \"locked\" has been deleted" }));
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("locked"))));

    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can make a folder someone else's";
    put({ "kept/inner/foreign/file" });
    ::chmod(at("kept/inner").c_str(), 0);
    ::chmod(at("kept").c_str(), 0500);
    seen.clear();
    asOrdinaryUser([&] {
        utility.deleteFile(list, { file("kept") }, CGRectZero);
        choose("Delete");
    },
        { "kept/inner/foreign", "kept/inner/foreign/file" });
    EXPECT_EQ(seen, (Strings { "Delete \"kept\" | Cancel Delete", "Error: \"kept\" can't be deleted" }));
    EXPECT_EQ(mode(at("kept")), 0500u);
    EXPECT_EQ(mode(at("kept/inner")), 0000u);
    EXPECT_EQ(readText(at("kept/inner/foreign/file")), "kept/inner/foreign/file");
}

// An item cut together with the folder that holds it goes along with that folder: it has
// arrived, keeps its bookmark at its new place, and nothing is reported as left behind.
TEST_F(FileOperationsSafetyTest, AMoveOfAFolderWithItsOwnChildSaysAllArrived)
{
    put({ "tree/child.txt", "tree/sub/deep.txt", "tree/dangling/", "to/" });
    fs::remove(at("tree/dangling"));
    fs::create_symlink("/nonexistent/target", at("tree/dangling"));
    Bookmarks().save(file("tree/sub/deep.txt"));
    setClipboard("cut", { "tree", "tree/child.txt", "tree/sub/deep.txt", "tree/dangling" });
    paste("to", "Past 4 item(s)");
    choose("Move");
    EXPECT_EQ(Strings(seen.begin() + 1, seen.end()), (Strings { "Move 4 items | Cancel Move", "Success: 4 item(s) have been past" }));
    EXPECT_EQ(namesBelow(at("to")), (Strings { "tree/", "tree/child.txt", "tree/dangling -> /nonexistent/target", "tree/sub/", "tree/sub/deep.txt" }));
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("tree"))));
    EXPECT_TRUE(Bookmarks().isInBookmarks(*file("to/tree/sub/deep.txt")));
    EXPECT_TRUE(clipboardIsEmpty());
}

TEST_F(FileOperationsSafetyTest, NewFolderDeleteAndDanglingLinksReportWhatHappened)
{
    // "New Directory" that is a link to a folder elsewhere is no new folder here.
    auto outside = makeFolder("outside");
    put({ "in/" });
    fs::create_directory_symlink(outside, at("in/New Directory"));
    paste("in", "Add Dirctory");
    paste("", "Add Dirctory");
    paste("", "Add Dirctory");
    EXPECT_EQ(fs::read_symlink(at("in/New Directory")), outside);
    EXPECT_TRUE(fs::is_empty(outside));

    // A folder deleted together with its own child: both are gone, as asked; an item that was
    // never there still fails.
    put({ "f/c.txt", "g/d.txt" });
    utility.deleteFile(list, { file("f"), file("f/c.txt") }, CGRectZero);
    choose("Delete");
    utility.deleteFile(list, { file("g"), file("missing") }, CGRectZero);
    choose("Delete");
    const Strings expected { "Add file of Directory | Cancel Add Dirctory Add from Web", "Error: New directory could not be created", "Add file of Directory | Cancel Add Dirctory Add from Web", "Success: New directory has been created", "Add file of Directory | Cancel Add Dirctory Add from Web", "Success: New directory has been created", "Delete 2 files | Cancel Delete", "Success: 2 files have been deleted", "Delete 2 files | Cancel Delete", "Warning: Could not delete 1 Files!" };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(namesBelow(dir), (Strings { "New Directory/", "in/", "in/New Directory -> " + outside }));

    // A link that leads nowhere is renamed, copied and moved as a link, from its row's actions.
    fs::create_symlink("nowhere", at("dangling"));
    put({ "to/" });
    auto shown = UIStoryboard::storyboardWithName("Main").instantiate<VeskFileListController>("fileList");
    shown->setFile(VeskFile::initWithPath(dir));
    window->setRootViewController(list = shown);
    driver.drain();
    auto table = shown->tableView();
    ASSERT_TRUE(driver.rowWithText(*table, "dangling"));
    EXPECT_EQ(driver.swipeRow(*table, *driver.rowWithText(*table, "dangling")), (Strings { "Delete", "More" }));
    seen.clear();
    EXPECT_TRUE(driver.chooseRowAction(*table, *driver.rowWithText(*table, "dangling"), "More"));
    choose("Rename");
    driver.typeIntoField(0, "renamed");
    choose("Rename");
    utility.shareFile(shown, CGRectZero, { file("renamed") });
    choose("Copy/Move");
    choose("Copy");
    paste("to", "Past \"renamed\"");
    utility.shareFile(shown, CGRectZero, { file("to/renamed") });
    choose("Copy/Move");
    choose("Move");
    paste("in", "Past \"renamed\"");
    choose("Move");
    EXPECT_EQ(seen, (Strings { "\"dangling\" | Cancel Copy/Move Save to documents Rename Save to bookmarks", "Rename \"dangling\" | Cancel Rename", "Success: \"dangling\" has been renamed", "\"renamed\" | Cancel Copy/Move Save to documents Rename Save to bookmarks", "Copy/Move | Cancel Copy Move", "Info: \"renamed\" has been coppied", "Add file of Directory | Past \"renamed\" Cancel Add Dirctory Add from Web", "Success: \"renamed\" has been past", "\"renamed\" | Cancel Copy/Move Save to documents Rename Save to bookmarks", "Copy/Move | Cancel Copy Move", "Info: \"renamed\" has been coppied", "Add file of Directory | Past \"renamed\" Cancel Add Dirctory Add from Web", "Move \"renamed\" | Cancel Move", "Success: \"renamed\" has been moved" }));
    for (auto name : { "renamed", "in/renamed" })
        EXPECT_EQ(fs::read_symlink(at(name)), "nowhere") << name;
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("to/renamed"))));
}

}
