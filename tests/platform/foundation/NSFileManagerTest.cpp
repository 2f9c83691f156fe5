#include "platform/foundation/NSFileManager.h"

#include "platform/foundation/FoundationTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sys/stat.h>
#include <sys/xattr.h>
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

// A tree with what a move must keep: modes 0600/0700/0444, a read-only folder, a FIFO, links
// in, out and nowhere, a hard link inside it, extended attributes and a sparse file.
class KeepingTest : public FileManagerTest {
protected:
    static constexpr off_t sparseSize = 64 << 20;

    static bool userAttributesWork(const std::string& folder)
    {
        std::string probe = folder + "/.probe";
        std::ofstream(probe) << "";
        bool works = ::setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
        ::unlink(probe.c_str());
        return works;
    }

    void makeTree(const std::string& base)
    {
        fs::create_directories(base + "/own");
        fs::create_directories(base + "/ro");
        auto write = [&](const std::string& name, const std::string& text, mode_t mode) {
            std::ofstream(base + "/" + name, std::ios::binary) << text;
            ::chmod((base + "/" + name).c_str(), mode);
        };
        write("private", "mine", 0600);
        write("ro.txt", "read only", 0444);
        write("ro/inside", "kept", 0644);
        ASSERT_EQ(::link((base + "/private").c_str(), (base + "/own/twin").c_str()), 0);
        ASSERT_EQ(::mkfifo((base + "/fifo").c_str(), 0666), 0);
        ::chmod((base + "/fifo").c_str(), 0666);
        fs::create_symlink("private", base + "/in");
        fs::create_symlink("/usr", base + "/out");
        fs::create_symlink("nowhere", base + "/dangling");
        int fd = ::open((base + "/sparse").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        std::string block(4096, 's');
        ASSERT_EQ(::pwrite(fd, block.data(), block.size(), 1 << 20), 4096);
        ASSERT_EQ(::pwrite(fd, block.data(), block.size(), sparseSize - 4096), 4096);
        ::close(fd);
        if (userAttributesWork(base)) {
            ASSERT_EQ(::setxattr((base + "/private").c_str(), "user.note", "kept", 4, 0), 0);
            ASSERT_EQ(::setxattr((base + "/own").c_str(), "user.tag", "folder", 6, 0), 0);
        }
        if (::geteuid() == 0) {
            ASSERT_EQ(::lchown((base + "/ro.txt").c_str(), 1234, 5678), 0);
        }
        for (auto name : { "private", "own", "fifo", "in", "sparse", "ro/inside", "ro" })
            setMtime(base + "/" + name, 1'200'000'000);
        ::chmod((base + "/own").c_str(), 0700);
        ::chmod((base + "/ro").c_str(), 0555);
    }

    // Each item as a line: type, mode, owner, time, size, target or data, attributes.
    static std::vector<std::string> describe(const std::string& base)
    {
        std::vector<std::string> lines;
        for (auto& entry : fs::recursive_directory_iterator(base)) {
            auto item = entry.path().string();
            struct stat st { };
            EXPECT_EQ(::lstat(item.c_str(), &st), 0);
            std::string line = item.substr(base.size()) + " " + std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
            if (!S_ISLNK(st.st_mode))
                line += " " + std::to_string(st.st_mtim.tv_sec);
            if (S_ISLNK(st.st_mode))
                line += " -> " + fs::read_symlink(item).string();
            if (S_ISREG(st.st_mode)) {
                line += " " + std::to_string(st.st_size) + " data";
                int fd = ::open(item.c_str(), O_RDONLY);
                for (off_t at = 0, data; (data = ::lseek(fd, at, SEEK_DATA)) >= 0; at = ::lseek(fd, data, SEEK_HOLE)) {
                    std::string bytes(4096, '\0');
                    bytes.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::pread(fd, bytes.data(), bytes.size(), data))));
                    line += " @" + std::to_string(data) + ":" + bytes.substr(0, 4);
                }
                ::close(fd);
            }
            char names[256] = {};
            ssize_t length = ::llistxattr(item.c_str(), names, sizeof names);
            for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
                char value[64] = {};
                ::lgetxattr(item.c_str(), names + at, value, sizeof value - 1);
                line += std::string(" ") + (names + at) + "=" + value;
            }
            lines.push_back(line);
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    static std::vector<std::string> withoutAttributes(std::vector<std::string> lines)
    {
        for (auto& line : lines)
            line = line.substr(0, line.find(" user."));
        return lines;
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
};

TEST_F(KeepingTest, MoveAcrossFileSystemsKeepsWhatMvKeepsAndCopiesKeepHoles)
{
    struct stat here {
    }, shm {};
    if (::access("/dev/shm", W_OK) != 0 || ::stat("/dev/shm", &shm) != 0 || ::stat(root.c_str(), &here) != 0 || here.st_dev == shm.st_dev)
        GTEST_SKIP() << "no second writable file system: /dev/shm is missing or on the same one as " << root;
    std::string elsewhere = "/dev/shm/vesk-fm-XXXXXX";
    ASSERT_NE(::mkdtemp(elsewhere.data()), nullptr);
    makeTree(path("tree"));
    auto before = describe(path("tree"));
    ASSERT_TRUE(std::any_of(before.begin(), before.end(), [](auto& line) { return line.find("user.note=kept") != std::string::npos; }) || !userAttributesWork(root))
        << "this file system takes user attributes";
    if (!userAttributesWork(elsewhere))
        std::cerr << "/dev/shm takes no user attributes on this kernel: they are left out there\n";

    // There and back: each file system is source once.
    for (auto [from, to] : { std::pair { path("tree"), elsewhere + "/tree" }, std::pair { elsewhere + "/tree", path("tree") } }) {
        NSError error;
        ASSERT_TRUE(fm.moveItemAtPath(from, to, &error)) << from << ": " << error.localizedDescription;
        EXPECT_FALSE(fs::exists(fs::symlink_status(from)));
        auto after = describe(to);
        if (!userAttributesWork(elsewhere))
            after = withoutAttributes(after), before = withoutAttributes(before);
        EXPECT_EQ(after, before) << to;
        EXPECT_TRUE(sameItem(to + "/private", to + "/own/twin")) << "the hard link stays one file";
        EXPECT_LT(blocks(to + "/sparse"), 1024) << "the holes stay holes";
    }
    // A copy keeps the holes too, on one file system and across.
    ASSERT_TRUE(fm.copyItemAtPath(path("tree/sparse"), path("copy")));
    ASSERT_TRUE(fm.copyItemAtPath(path("tree/sparse"), elsewhere + "/copy"));
    for (auto copy : { path("copy"), elsewhere + "/copy" }) {
        EXPECT_EQ(fs::file_size(copy), static_cast<std::uintmax_t>(sparseSize));
        EXPECT_LT(blocks(copy), 1024) << copy;
    }
    ::chmod(path("tree/ro").c_str(), 0755);
    fs::remove_all(elsewhere);
}

// As an ordinary user: the copy meets an unreadable file after it made read-only folders of its
// own, and still takes everything it made away; then a second try succeeds.
TEST_F(KeepingTest, FailedCopyRemovesItsOwnReadOnlyFolders)
{
    fs::create_directories(path("src"));
    for (auto name : { "a", "b", "c", "d" }) {
        fs::create_directories(path("src/") + name);
        write(std::string("src/") + name + "/file", name, 0444);
    }
    // The last folder the copy comes to holds the file it cannot read.
    std::string last;
    for (auto& entry : fs::directory_iterator(path("src")))
        last = entry.path().filename();
    write("src/" + last + "/secret", "x", 0000);
    for (auto name : { "a", "b", "c", "d" })
        ::chmod(path(std::string("src/") + name).c_str(), 0555);
    fs::create_directories(path("to/old"));
    EXPECT_TRUE(vesk::testing::runUnprivileged(root, [&] {
        NSError error;
        bool failed = !fm.copyItemAtPath(path("src"), path("to/src"), &error) && error.code == EACCES;
        return failed && !fs::exists(fs::symlink_status(path("to/src"))) && fs::exists(path("to/old"));
    }));
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("to/src"))));
    ::chmod(path("src/" + last + "/secret").c_str(), 0444);
    EXPECT_TRUE(vesk::testing::runUnprivileged(root, [&] { return fm.copyItemAtPath(path("src"), path("to/src")); })) << "nothing left blocks a second try";
    EXPECT_EQ(modeAndTime(path("to/src/a")).first, 0555u);
}

// As an ordinary user: a person's delete takes their own folders whatever their modes; when a
// part owned by someone else stays, each folder opened on the way down gets its mode back.
TEST_F(FileManagerTest, RemoveOpensOwnFoldersOnlyWhenAskedAndGivesBackTheModesOfWhatStays)
{
    const std::vector<std::pair<std::string, mode_t>> shut { { "tree/none", 0000 }, { "tree/writeOnly", 0200 }, { "tree/readOnly", 0500 } };
    for (auto& [folder, mode] : shut) {
        fs::create_directories(path(folder + "/inner"));
        write(folder + "/inner/file", "x");
        ::chmod(path(folder + "/inner").c_str(), mode);
        ::chmod(path(folder).c_str(), mode);
    }
    EXPECT_TRUE(vesk::testing::runUnprivileged(root, [&] { return !fm.removeItemAtPath(path("tree")); })) << "not without being asked";
    for (auto& [folder, mode] : shut)
        EXPECT_EQ(modeAndTime(path(folder)).first, mode) << folder;
    EXPECT_TRUE(vesk::testing::runUnprivileged(root, [&] { return fm.removeItemAtPath(path("tree"), nullptr, RemovalOptions::OpensOwnFolders); }));
    EXPECT_FALSE(fs::exists(fs::symlink_status(path("tree"))));

    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can make a folder someone else's";
    fs::create_directories(path("kept/locked/inner/foreign"));
    write("kept/locked/inner/foreign/file", "x");
    ::chmod(path("kept/locked/inner").c_str(), 0000);
    ::chmod(path("kept/locked").c_str(), 0500);
    EXPECT_TRUE(vesk::testing::runUnprivileged(
        root, [&] {
            NSError error;
            return !fm.removeItemAtPath(path("kept"), &error, RemovalOptions::OpensOwnFolders) && error.code == EACCES;
        },
        { path("kept/locked/inner/foreign"), path("kept/locked/inner/foreign/file") }));
    EXPECT_EQ(modeAndTime(path("kept/locked")).first, 0500u);
    EXPECT_EQ(modeAndTime(path("kept/locked/inner")).first, 0000u);
    EXPECT_EQ(read("kept/locked/inner/foreign/file"), "x");
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
