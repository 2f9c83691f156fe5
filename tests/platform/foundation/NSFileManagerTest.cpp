#include "platform/foundation/NSFileManager.h"

#include "platform/foundation/FoundationTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
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

    void setMtime(const std::string& p, time_t seconds)
    {
        timespec times[2] = { { seconds, 0 }, { seconds, 0 } };
        ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }

    // Mode bits and modification time, the way a copy must keep them.
    static std::pair<unsigned, time_t> modeAndTime(const std::string& p)
    {
        struct stat st { };
        EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
        return { st.st_mode & 07777, st.st_mtim.tv_sec };
    }

    NSFileManager& fm = NSFileManager::defaultManager();
    vesk::testing::TemporaryFolder scratch;
    std::string root = scratch.path().string();
};

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

TEST_F(FileManagerTest, ListsNamesOrFailsWithTheSystemError)
{
    write("notes.txt", "n");
    write(".profile", "p");
    fs::create_directory(path("folder"));
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0644), 0); // listed, never opened
    EXPECT_EQ(sorted(*fm.contentsOfDirectoryAtPath(root)), (std::vector<std::string> { ".profile", "folder", "notes.txt", "pipe" }));
    auto visible = fm.contentsOfDirectoryAtPath(root, nullptr, DirectoryEnumerationOptions::SkipsHiddenFiles);
    EXPECT_EQ(sorted(*visible), (std::vector<std::string> { "folder", "notes.txt", "pipe" }));

    // In name order whatever order the entries were made in, case aside.
    const std::vector<std::string> names { "a", "B", "b", "c 2", "c10", "file_1997", "file_2510", "Zebra", "Äpfel", "ärger" };
    fs::create_directory(path("order"));
    for (auto index : { 7, 2, 9, 0, 5, 3, 8, 1, 6, 4 })
        write("order/" + names[std::size_t(index)], "x");
    EXPECT_EQ(*fm.contentsOfDirectoryAtPath(path("order")), names);

    struct Case {
        std::string path;
        int code;
    };
    for (const Case& c : { Case { path("missing"), ENOENT }, Case { path("notes.txt"), ENOTDIR }, Case { path("pipe"), ENOTDIR } }) {
        NSError error;
        EXPECT_FALSE(fm.contentsOfDirectoryAtPath(c.path, &error)) << c.path;
        EXPECT_EQ(error.code, c.code) << c.path;
        EXPECT_EQ(error.domain, NSPOSIXErrorDomain);
        EXPECT_EQ(error.localizedDescription.rfind("Error: ", 0), 0u) << error.localizedDescription;
        EXPECT_EQ(error.path, c.path);
    }
}

TEST_F(FileManagerTest, AttributesKeepTheTimeAndNeverReadASpecialFile)
{
    write("data.bin", "12345", 0640);
    setMtime(path("data.bin"), 1'000'000'000);
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(fm.attributesOfItemAtPath(path("data.bin"))->modificationDate, std::chrono::system_clock::from_time_t(1'000'000'000));
    for (auto const& special : { path("fifo"), std::string("/dev/null") }) {
        auto attributes = fm.attributesOfItemAtPath(special);
        ASSERT_TRUE(attributes) << special;
        EXPECT_NE(attributes->type, FileType::Regular) << special;
        EXPECT_EQ(attributes->size, 0) << special;
    }
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
             Case { "dangling", false, false } }) {
        bool isDirectory = !c.isDirectory;
        EXPECT_EQ(fm.fileExistsAtPath(path(c.name), &isDirectory), c.exists) << c.name;
        EXPECT_EQ(isDirectory, c.isDirectory) << c.name;
    }
}

TEST_F(FileManagerTest, RemoveTakesAFolderWholeButNeverFollowsLinks)
{
    fs::create_directories(path("outside/keep"));
    write("outside/keep/precious", "data");
    fs::create_directories(path("tree/a/b"));
    write("tree/a/b/file", "x");
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

    // The first failure is reported, with its path.
    ::chmod(path("outside/keep").c_str(), 0500);
    EXPECT_TRUE(vesk::testing::runUnprivileged(root, [&] {
        NSError error;
        return !fm.removeItemAtPath(path("outside"), &error) && error.code == EACCES && error.path == path("outside/keep/precious");
    }));
    EXPECT_EQ(read("outside/keep/precious"), "data");
}

TEST_F(FileManagerTest, CopyKeepsModesTimesAndLinks)
{
    fs::create_directories(path("src/sub"));
    write("src/run.sh", "#!/bin/sh\n", 0751);
    write("src/sub/data", std::string(200000, 'z'), 0600);
    fs::create_symlink("sub/data", path("src/relativeLink"));
    ASSERT_EQ(::mkfifo(path("src/fifo").c_str(), 0640), 0);
    setMtime(path("src/run.sh"), 1'100'000'000);
    ::chmod(path("src/sub").c_str(), 0710);
    setMtime(path("src/sub"), 1'300'000'000);

    ASSERT_TRUE(fm.copyItemAtPath(path("src"), path("dst")));
    EXPECT_EQ(read("dst/sub/data"), std::string(200000, 'z'));
    EXPECT_EQ(modeAndTime(path("dst/run.sh")), std::make_pair(0751u, time_t { 1'100'000'000 }));
    EXPECT_EQ(modeAndTime(path("dst/sub")), std::make_pair(0710u, time_t { 1'300'000'000 }));
    EXPECT_EQ(modeAndTime(path("dst/sub/data")).first, 0600u);
    EXPECT_EQ(fs::read_symlink(path("dst/relativeLink")), "sub/data");
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(path("dst/fifo"))));
}

TEST_F(FileManagerTest, CopyAndMoveNeverReplaceNorGoIntoThemselves)
{
    write("a", "new");
    write("b", "old");
    fs::create_directories(path("folder/inner"));
    write("folder/b", "old inside");
    struct Case {
        const char* source;
        const char* destination;
        int code;
    };
    for (const Case& c : { Case { "a", "b", EEXIST }, Case { "a", "folder", EEXIST }, Case { "folder", "b", EEXIST }, Case { "a", "a", EEXIST },
             Case { "folder", "folder/inner/copy", EINVAL }, Case { "folder", "folder/copy", EINVAL } }) {
        NSError copyError, moveError;
        EXPECT_FALSE(fm.copyItemAtPath(path(c.source), path(c.destination), &copyError)) << c.source << " -> " << c.destination;
        EXPECT_EQ(copyError.code, c.code) << c.source << " -> " << c.destination;
        if (std::string(c.source) != c.destination) {
            EXPECT_FALSE(fm.moveItemAtPath(path(c.source), path(c.destination), &moveError)) << c.source << " -> " << c.destination;
        }
    }
    EXPECT_EQ(read("a"), "new");
    EXPECT_EQ(read("b"), "old");
    EXPECT_EQ(read("folder/b"), "old inside");
    EXPECT_FALSE(fs::exists(path("folder/inner/copy")));
    EXPECT_FALSE(fs::exists(path("folder/copy")));
}

TEST_F(FileManagerTest, FailedCopyLeavesNoHalfCopy)
{
    fs::create_directory(path("src"));
    write("src/a", "x");
    write("src/secret", "x", 0000);
    EXPECT_TRUE(vesk::testing::runUnprivileged(root, [&] {
        NSError error;
        return !fm.copyItemAtPath(path("src"), path("dst"), &error) && error.code == EACCES;
    }));
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("dst"))));
}

TEST_F(FileManagerTest, MoveRenamesOrCopiesAcrossFileSystemsKeepingLinks)
{
    fs::create_directory(path("folder"));
    write("folder/file", "content", 0604);
    setMtime(path("folder/file"), 1'000'000'000);
    fs::create_symlink("file", path("folder/link"));
    ASSERT_TRUE(fm.moveItemAtPath(path("folder"), path("moved")));
    EXPECT_FALSE(fs::exists(path("folder")));
    EXPECT_EQ(fs::read_symlink(path("moved/link")), "file");
    NSError error;
    EXPECT_FALSE(fm.moveItemAtPath(path("missing"), path("other"), &error));
    EXPECT_EQ(error.code, ENOENT);

    struct stat here {
    }, shm {};
    if (::access("/dev/shm", W_OK) != 0 || ::stat("/dev/shm", &shm) != 0 || ::stat(root.c_str(), &here) != 0 || here.st_dev == shm.st_dev)
        GTEST_SKIP() << "no second writable file system";
    std::string elsewhere = "/dev/shm/vesk-fm-XXXXXX";
    ASSERT_NE(::mkdtemp(elsewhere.data()), nullptr);
    ASSERT_TRUE(fm.moveItemAtPath(path("moved"), elsewhere + "/folder"));
    EXPECT_FALSE(fs::exists(path("moved")));
    EXPECT_EQ(modeAndTime(elsewhere + "/folder/file"), std::make_pair(0604u, time_t { 1'000'000'000 }));
    EXPECT_EQ(fs::read_symlink(elsewhere + "/folder/link"), "file");
    // Back across, onto an existing name: refused, nothing lost.
    fs::create_directory(path("folder"));
    EXPECT_FALSE(fm.moveItemAtPath(elsewhere + "/folder", path("folder")));
    EXPECT_TRUE(fs::exists(elsewhere + "/folder/file"));
    fs::remove_all(elsewhere);
}

TEST_F(FileManagerTest, CreatesFoldersWithParentsAndAttributes)
{
    FileCreationAttributes attributes;
    attributes.posixPermissions = 0700;
    EXPECT_TRUE(fm.createDirectoryAtPath(path("a/b/c"), true, &attributes));
    EXPECT_EQ(modeAndTime(path("a")).first, 0700u);
    EXPECT_TRUE(fm.createDirectoryAtPath(path("a/b/c/"), true));
    NSError error;
    EXPECT_FALSE(fm.createDirectoryAtPath(path("x/y"), false, nullptr, &error));
    EXPECT_EQ(error.code, ENOENT);
    write("file", "x");
    EXPECT_FALSE(fm.createDirectoryAtPath(path("file/sub"), true, nullptr, &error));
    EXPECT_EQ(error.code, ENOTDIR);
}

TEST_F(FileManagerTest, WritesFilesWholeAndReadsOnlyRegularFiles)
{
    FileCreationAttributes attributes;
    attributes.posixPermissions = 0600;
    attributes.modificationDate = std::chrono::system_clock::from_time_t(1'000'000'000);
    EXPECT_TRUE(fm.createFileAtPath(path("file"), { 0, 1, 2, 255 }));
    EXPECT_TRUE(fm.createFileAtPath(path("file"), { 'x' }, &attributes));
    EXPECT_EQ(fm.contentsAtPath(path("file")), (std::vector<std::uint8_t> { 'x' }));
    EXPECT_EQ(modeAndTime(path("file")), std::make_pair(0600u, time_t { 1'000'000'000 }));
    // No temporary file stays behind.
    EXPECT_EQ(*fm.contentsOfDirectoryAtPath(root), (std::vector<std::string> { "file" }));
    EXPECT_FALSE(fm.createFileAtPath(path("missing/file"), { 'x' }));

    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    EXPECT_FALSE(fm.contentsAtPath(path("fifo"))); // returns at once: nobody writes to it
    EXPECT_FALSE(fm.contentsAtPath("/dev/zero"));
    EXPECT_FALSE(fm.contentsAtPath(root));
}

}
