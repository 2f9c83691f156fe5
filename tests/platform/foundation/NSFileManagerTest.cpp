#include "platform/foundation/NSFileManager.h"

#include "platform/foundation/FoundationTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vesk::platform;
namespace fs = std::filesystem;

namespace {

class FileManagerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Give back permissions a case took away, so the folder can go.
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_symlink())
                ::chmod(it->path().c_str(), 0700);
        }
        ::chmod(root.c_str(), 0700);
    }

    std::string path(const std::string& relative) const { return root + "/" + relative; }

    void write(const std::string& relative, const std::string& text, mode_t mode = 0644)
    {
        std::ofstream(path(relative), std::ios::binary) << text;
        ::chmod(path(relative).c_str(), mode);
    }

    std::string read(const std::string& relative)
    {
        std::ifstream in(path(relative), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    void setMtime(const std::string& relative, time_t seconds)
    {
        timespec times[2] = { { seconds, 0 }, { seconds, 0 } };
        ASSERT_EQ(::utimensat(AT_FDCWD, path(relative).c_str(), times, 0), 0);
    }

    static struct stat lstatOf(const std::string& p)
    {
        struct stat st { };
        EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
        return st;
    }

    static bool isRoot() { return ::geteuid() == 0; }

    NSFileManager& fm = NSFileManager::defaultManager();
    vesk::testing::TemporaryFolder scratch;
    std::string root = scratch.path().string();
};

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

TEST_F(FileManagerTest, ListsNamesWithoutDotEntriesAndSkipsHiddenOnRequest)
{
    write("notes.txt", "n");
    write(".profile", "p");
    fs::create_directory(path("folder"));
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0644), 0); // listed, never opened

    auto all = fm.contentsOfDirectoryAtPath(root);
    ASSERT_TRUE(all);
    EXPECT_EQ(sorted(*all), (std::vector<std::string> { ".profile", "folder", "notes.txt", "pipe" }));

    auto visible = fm.contentsOfDirectoryAtPath(root, nullptr, DirectoryEnumerationOptions::SkipsHiddenFiles);
    ASSERT_TRUE(visible);
    EXPECT_EQ(sorted(*visible), (std::vector<std::string> { "folder", "notes.txt", "pipe" }));

    auto empty = fm.contentsOfDirectoryAtPath(path("folder"));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST_F(FileManagerTest, ListingSomethingThatIsNoFolderFailsWithTheSystemError)
{
    write("file", "x");
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    struct Case {
        std::string path;
        int code;
    };
    for (const Case& c : { Case { path("missing"), ENOENT }, Case { path("file"), ENOTDIR }, Case { path("fifo"), ENOTDIR } }) {
        NSError error;
        EXPECT_FALSE(fm.contentsOfDirectoryAtPath(c.path, &error)) << c.path;
        EXPECT_EQ(error.code, c.code) << c.path;
        EXPECT_EQ(error.domain, NSPOSIXErrorDomain);
        EXPECT_EQ(error.localizedDescription.rfind("Error: ", 0), 0u) << error.localizedDescription;
        EXPECT_EQ(error.path, c.path);
    }
    if (isRoot())
        return; // root reads every folder
    fs::create_directory(path("closed"));
    ::chmod(path("closed").c_str(), 0000);
    NSError error;
    EXPECT_FALSE(fm.contentsOfDirectoryAtPath(path("closed"), &error));
    EXPECT_EQ(error.code, EACCES);
}

TEST_F(FileManagerTest, AttributesDescribeTheItemItselfWithoutFollowingLinks)
{
    write("data.bin", "12345", 0640);
    setMtime("data.bin", 1'000'000'000);
    fs::create_directory(path("folder"));
    ::chmod(path("folder").c_str(), 0755);
    fs::create_directory_symlink(path("folder"), path("link"));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);

    auto file = fm.attributesOfItemAtPath(path("data.bin"));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->type, FileType::Regular);
    EXPECT_EQ(file->size, 5);
    EXPECT_EQ(file->posixPermissions, 0640);
    EXPECT_EQ(file->ownerAccountID, ::geteuid());
    EXPECT_EQ(file->groupOwnerAccountID, ::getegid());
    if (passwd* pw = ::getpwuid(::geteuid())) {
        EXPECT_EQ(file->ownerAccountName, pw->pw_name);
    }
    EXPECT_EQ(file->modificationDate, std::chrono::system_clock::from_time_t(1'000'000'000));
    EXPECT_EQ(file->referenceCount, 1u);
    EXPECT_NE(file->systemFileNumber, 0u);

    auto folder = fm.attributesOfItemAtPath(path("folder"));
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->type, FileType::Directory);
    EXPECT_EQ(folder->posixPermissions, 0755);
    EXPECT_EQ(folder->size, 0);

    auto link = fm.attributesOfItemAtPath(path("link"));
    ASSERT_TRUE(link);
    EXPECT_EQ(link->type, FileType::SymbolicLink);
    EXPECT_EQ(fileTypeName(link->type), "NSFileTypeSymbolicLink");
    EXPECT_EQ(fileTypeName(folder->type), "NSFileTypeDirectory");

    // A FIFO's size is never read from the FIFO.
    auto fifo = fm.attributesOfItemAtPath(path("fifo"));
    ASSERT_TRUE(fifo);
    EXPECT_EQ(fifo->type, FileType::Unknown);
    EXPECT_EQ(fifo->size, 0);
    auto null = fm.attributesOfItemAtPath("/dev/null");
    ASSERT_TRUE(null);
    EXPECT_EQ(null->type, FileType::CharacterSpecial);
    EXPECT_EQ(null->size, 0);

    NSError error;
    EXPECT_FALSE(fm.attributesOfItemAtPath(path("missing"), &error));
    EXPECT_EQ(error.code, ENOENT);
}

TEST_F(FileManagerTest, ExistenceFollowsAFinalLink)
{
    fs::create_directory(path("folder"));
    write("file", "x");
    fs::create_directory_symlink(path("folder"), path("folderLink"));
    fs::create_symlink(path("gone"), path("dangling"));

    struct Case {
        std::string name;
        bool exists;
        bool isDirectory;
    };
    for (const Case& c : { Case { "folder", true, true }, Case { "file", true, false }, Case { "folderLink", true, true },
             Case { "dangling", false, false }, Case { "missing", false, false } }) {
        bool isDirectory = !c.isDirectory;
        EXPECT_EQ(fm.fileExistsAtPath(path(c.name), &isDirectory), c.exists) << c.name;
        EXPECT_EQ(isDirectory, c.isDirectory) << c.name;
        EXPECT_EQ(fm.fileExistsAtPath(path(c.name)), c.exists) << c.name;
    }
    EXPECT_FALSE(fm.fileExistsAtPath(""));
}

TEST_F(FileManagerTest, AccessTestsFollowTheModeBits)
{
    write("rw", "x", 0600);
    write("exec", "x", 0700);
    EXPECT_TRUE(fm.isReadableFileAtPath(path("rw")));
    EXPECT_TRUE(fm.isWritableFileAtPath(path("rw")));
    EXPECT_FALSE(fm.isExecutableFileAtPath(path("rw")));
    EXPECT_TRUE(fm.isExecutableFileAtPath(path("exec")));
    EXPECT_FALSE(fm.isReadableFileAtPath(path("missing")));
    EXPECT_FALSE(fm.isWritableFileAtPath(path("missing")));
}

TEST_F(FileManagerTest, DeletableNeedsAWritableParent)
{
    fs::create_directory(path("open"));
    write("open/item", "x", 0400); // the item's own mode does not matter
    EXPECT_TRUE(fm.isDeletableFileAtPath(path("open/item")));
    EXPECT_TRUE(fm.isDeletableFileAtPath(path("open/")));
    EXPECT_FALSE(fm.isDeletableFileAtPath(path("open/missing")));
    EXPECT_FALSE(fm.isDeletableFileAtPath("/"));

    // A sticky folder of our own still lets its owner delete.
    fs::create_directory(path("sticky"));
    write("sticky/mine", "x");
    ::chmod(path("sticky").c_str(), 01777);
    EXPECT_TRUE(fm.isDeletableFileAtPath(path("sticky/mine")));

    if (isRoot())
        return;
    fs::create_directory(path("closed"));
    write("closed/item", "x");
    ::chmod(path("closed").c_str(), 0500);
    EXPECT_FALSE(fm.isDeletableFileAtPath(path("closed/item")));
}

TEST_F(FileManagerTest, RemoveTakesAFolderWholeButNeverFollowsLinks)
{
    fs::create_directories(path("outside/keep"));
    write("outside/keep/precious", "data");
    fs::create_directories(path("tree/a/b"));
    write("tree/a/b/file", "x");
    write("tree/.hidden", "x");
    fs::create_directory_symlink(path("outside"), path("tree/a/linkToOutside"));
    fs::create_symlink(path("outside/keep/precious"), path("tree/fileLink"));

    EXPECT_TRUE(fm.removeItemAtPath(path("tree")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("tree"))));
    EXPECT_EQ(read("outside/keep/precious"), "data");

    // A link to a folder given directly, even with a trailing slash, goes alone.
    fs::create_directory_symlink(path("outside"), path("direct"));
    EXPECT_TRUE(fm.removeItemAtPath(path("direct") + "/"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("direct"))));
    EXPECT_EQ(read("outside/keep/precious"), "data");

    NSError error;
    EXPECT_FALSE(fm.removeItemAtPath(path("missing"), &error));
    EXPECT_EQ(error.code, ENOENT);
}

TEST_F(FileManagerTest, RemoveReportsTheFirstFailure)
{
    if (isRoot())
        GTEST_SKIP() << "root may remove anything";
    fs::create_directories(path("tree/locked"));
    write("tree/locked/file", "x");
    ::chmod(path("tree/locked").c_str(), 0500);
    NSError error;
    EXPECT_FALSE(fm.removeItemAtPath(path("tree"), &error));
    EXPECT_EQ(error.code, EACCES);
    EXPECT_EQ(error.path, path("tree/locked/file"));
    EXPECT_TRUE(fs::exists(path("tree/locked/file")));
}

TEST_F(FileManagerTest, CopyKeepsModesTimesAndLinks)
{
    fs::create_directories(path("src/sub"));
    write("src/run.sh", "#!/bin/sh\n", 0751);
    write("src/sub/data", std::string(200000, 'z'), 0600);
    fs::create_symlink("sub/data", path("src/relativeLink"));
    fs::create_directory_symlink(path("src/sub"), path("src/folderLink"));
    ASSERT_EQ(::mkfifo(path("src/fifo").c_str(), 0640), 0);
    setMtime("src/run.sh", 1'100'000'000);
    setMtime("src/sub/data", 1'200'000'000);
    ::chmod(path("src/sub").c_str(), 0710);
    setMtime("src/sub", 1'300'000'000);

    ASSERT_TRUE(fm.copyItemAtPath(path("src"), path("dst")));

    EXPECT_EQ(read("dst/run.sh"), "#!/bin/sh\n");
    EXPECT_EQ(read("dst/sub/data"), std::string(200000, 'z'));
    EXPECT_EQ(lstatOf(path("dst/run.sh")).st_mode & 07777, 0751u);
    EXPECT_EQ(lstatOf(path("dst/sub/data")).st_mode & 07777, 0600u);
    EXPECT_EQ(lstatOf(path("dst/sub")).st_mode & 07777, 0710u);
    EXPECT_EQ(lstatOf(path("dst/run.sh")).st_mtim.tv_sec, 1'100'000'000);
    EXPECT_EQ(lstatOf(path("dst/sub/data")).st_mtim.tv_sec, 1'200'000'000);
    EXPECT_EQ(lstatOf(path("dst/sub")).st_mtim.tv_sec, 1'300'000'000);

    EXPECT_TRUE(S_ISLNK(lstatOf(path("dst/relativeLink")).st_mode));
    EXPECT_EQ(fs::read_symlink(path("dst/relativeLink")), "sub/data");
    EXPECT_TRUE(S_ISLNK(lstatOf(path("dst/folderLink")).st_mode));
    EXPECT_EQ(fs::read_symlink(path("dst/folderLink")), path("src/sub"));
    EXPECT_TRUE(S_ISFIFO(lstatOf(path("dst/fifo")).st_mode));
    EXPECT_EQ(lstatOf(path("dst/fifo")).st_mode & 07777, 0640u);
}

TEST_F(FileManagerTest, CopyAndMoveNeverReplace)
{
    write("a", "new");
    write("b", "old");
    fs::create_directory(path("folder"));
    write("folder/b", "old inside");

    struct Case {
        const char* source;
        const char* destination;
    };
    for (const Case& c : { Case { "a", "b" }, Case { "a", "folder" }, Case { "folder", "b" } }) {
        NSError copyError;
        EXPECT_FALSE(fm.copyItemAtPath(path(c.source), path(c.destination), &copyError)) << c.source << " -> " << c.destination;
        EXPECT_EQ(copyError.code, EEXIST);
        NSError moveError;
        EXPECT_FALSE(fm.moveItemAtPath(path(c.source), path(c.destination), &moveError)) << c.source << " -> " << c.destination;
        EXPECT_EQ(moveError.code, EEXIST);
    }
    EXPECT_EQ(read("a"), "new");
    EXPECT_EQ(read("b"), "old");
    EXPECT_EQ(read("folder/b"), "old inside");

    // Onto itself fails the same way.
    EXPECT_FALSE(fm.copyItemAtPath(path("a"), path("a")));
    EXPECT_EQ(read("a"), "new");
}

TEST_F(FileManagerTest, CopyIntoItselfFailsAndLeavesNothing)
{
    fs::create_directories(path("folder/inner"));
    write("folder/inner/file", "x");
    NSError error;
    EXPECT_FALSE(fm.copyItemAtPath(path("folder"), path("folder/inner/copy"), &error));
    EXPECT_EQ(error.code, EINVAL);
    EXPECT_FALSE(fs::exists(path("folder/inner/copy")));
    EXPECT_FALSE(fm.copyItemAtPath(path("folder"), path("folder/copy")));
    EXPECT_FALSE(fs::exists(path("folder/copy")));
}

TEST_F(FileManagerTest, FailedCopyLeavesNoHalfCopy)
{
    if (isRoot())
        GTEST_SKIP() << "root reads every file";
    fs::create_directory(path("src"));
    write("src/a", "x");
    write("src/secret", "x", 0000);
    NSError error;
    EXPECT_FALSE(fm.copyItemAtPath(path("src"), path("dst"), &error));
    EXPECT_EQ(error.code, EACCES);
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("dst"))));
}

TEST_F(FileManagerTest, MoveRenamesAndKeepsLinksAsLinks)
{
    fs::create_directory(path("folder"));
    write("folder/file", "content");
    fs::create_symlink("file", path("folder/link"));
    ASSERT_TRUE(fm.moveItemAtPath(path("folder"), path("moved")));
    EXPECT_FALSE(fs::exists(path("folder")));
    EXPECT_EQ(read("moved/file"), "content");
    EXPECT_EQ(fs::read_symlink(path("moved/link")), "file");

    NSError error;
    EXPECT_FALSE(fm.moveItemAtPath(path("missing"), path("other"), &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_FALSE(fm.moveItemAtPath(path("moved"), path("moved/inside")));
    EXPECT_TRUE(fs::exists(path("moved/file")));
}

TEST_F(FileManagerTest, MoveAcrossFileSystemsCopiesThenRemoves)
{
    struct stat here {
    }, shm {};
    if (::access("/dev/shm", W_OK) != 0 || ::stat("/dev/shm", &shm) != 0 || ::stat(root.c_str(), &here) != 0
        || here.st_dev == shm.st_dev)
        GTEST_SKIP() << "no second writable file system";
    std::string templ = "/dev/shm/vesk-fm-XXXXXX";
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    std::string other = templ;

    fs::create_directory(path("folder"));
    write("folder/file", "content", 0604);
    setMtime("folder/file", 1'000'000'000);
    fs::create_symlink("file", path("folder/link"));
    ASSERT_TRUE(fm.moveItemAtPath(path("folder"), other + "/folder"));
    EXPECT_FALSE(fs::exists(path("folder")));
    EXPECT_EQ(lstatOf(other + "/folder/file").st_mode & 07777, 0604u);
    EXPECT_EQ(lstatOf(other + "/folder/file").st_mtim.tv_sec, 1'000'000'000);
    EXPECT_EQ(fs::read_symlink(other + "/folder/link"), "file");

    // Back across, onto an existing name: refused, nothing lost.
    fs::create_directory(path("folder"));
    EXPECT_FALSE(fm.moveItemAtPath(other + "/folder", path("folder")));
    EXPECT_TRUE(fs::exists(other + "/folder/file"));
    fs::remove_all(other);
}

TEST_F(FileManagerTest, CreatesFoldersWithParentsAndAttributes)
{
    FileCreationAttributes attributes;
    attributes.posixPermissions = 0700;
    EXPECT_TRUE(fm.createDirectoryAtPath(path("a/b/c"), true, &attributes));
    EXPECT_EQ(lstatOf(path("a/b/c")).st_mode & 07777, 0700u);
    EXPECT_EQ(lstatOf(path("a")).st_mode & 07777, 0700u);
    EXPECT_TRUE(fm.createDirectoryAtPath(path("a/b/c"), true));
    EXPECT_TRUE(fm.createDirectoryAtPath(path("a/b/c/"), true));

    NSError error;
    EXPECT_FALSE(fm.createDirectoryAtPath(path("x/y"), false, nullptr, &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_FALSE(fm.createDirectoryAtPath(path("a"), false, nullptr, &error));
    EXPECT_EQ(error.code, EEXIST);

    write("file", "x");
    EXPECT_FALSE(fm.createDirectoryAtPath(path("file/sub"), true, nullptr, &error));
    EXPECT_EQ(error.code, ENOTDIR);
    EXPECT_FALSE(fm.createDirectoryAtPath(path("file"), true, nullptr, &error));
}

TEST_F(FileManagerTest, WritesFilesWholeAndReadsOnlyRegularFiles)
{
    std::vector<std::uint8_t> bytes { 0, 1, 2, 255 };
    EXPECT_TRUE(fm.createFileAtPath(path("file"), bytes));
    EXPECT_EQ(fm.contentsAtPath(path("file")), bytes);

    FileCreationAttributes attributes;
    attributes.posixPermissions = 0600;
    attributes.modificationDate = std::chrono::system_clock::from_time_t(1'000'000'000);
    EXPECT_TRUE(fm.createFileAtPath(path("file"), { 'x' }, &attributes));
    EXPECT_EQ(read("file"), "x");
    EXPECT_EQ(lstatOf(path("file")).st_mode & 07777, 0600u);
    EXPECT_EQ(lstatOf(path("file")).st_mtim.tv_sec, 1'000'000'000);
    EXPECT_TRUE(fm.createFileAtPath(path("empty"), {}));
    EXPECT_EQ(fm.contentsAtPath(path("empty")), std::vector<std::uint8_t> {});

    // No temporary file stays behind.
    EXPECT_EQ(sorted(*fm.contentsOfDirectoryAtPath(root)), (std::vector<std::string> { "empty", "file" }));
    EXPECT_FALSE(fm.createFileAtPath(path("missing/file"), bytes));

    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    EXPECT_FALSE(fm.contentsAtPath(path("fifo"))); // returns at once: nobody writes to it
    EXPECT_FALSE(fm.contentsAtPath(root));
    EXPECT_FALSE(fm.contentsAtPath("/dev/zero"));
    EXPECT_FALSE(fm.contentsAtPath(path("missing")));
}

TEST_F(FileManagerTest, SubpathsGoDepthFirstAndNeverEnterLinks)
{
    fs::create_directories(path("tree/a/b"));
    write("tree/a/b/file", "x");
    write("tree/top", "x");
    fs::create_directory_symlink(path("tree"), path("tree/a/cycle"));
    auto subpaths = fm.subpathsOfDirectoryAtPath(path("tree"));
    ASSERT_TRUE(subpaths);
    EXPECT_EQ(sorted(*subpaths), (std::vector<std::string> { "a", "a/b", "a/b/file", "a/cycle", "top" }));
    auto a = std::find(subpaths->begin(), subpaths->end(), "a");
    auto ab = std::find(subpaths->begin(), subpaths->end(), "a/b");
    EXPECT_LT(a, ab);
    EXPECT_FALSE(fm.subpathsOfDirectoryAtPath(path("missing")));
}

TEST_F(FileManagerTest, SymbolicLinksAreMadeAndRead)
{
    EXPECT_TRUE(fm.createSymbolicLinkAtPath(path("link"), "target/name"));
    EXPECT_EQ(fm.destinationOfSymbolicLinkAtPath(path("link")), "target/name");
    NSError error;
    EXPECT_FALSE(fm.createSymbolicLinkAtPath(path("link"), "other", &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_FALSE(fm.destinationOfSymbolicLinkAtPath(root, &error));
    EXPECT_EQ(error.code, EINVAL);
}

}
