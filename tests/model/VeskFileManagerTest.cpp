#include "ModelTestSupport.h"

#include "model/SettingsKeys.h"
#include "model/VeskFile.h"
#include "model/VeskFileManager.h"
#include "platform/foundation/AppHome.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace vesk {
namespace {

    using ::testing::ElementsAre;
    using ::testing::IsEmpty;
    using ::testing::UnorderedElementsAre;

    class VeskFileManagerTest : public test::TemporaryHome {
    protected:
        void showHiddenFiles(bool on) { platform::NSUserDefaults::standardUserDefaults()->setBool(on, hashedDefaultsKey2()); }

        static std::vector<std::string> namesOf(const std::vector<std::shared_ptr<VeskFile>>& files)
        {
            std::vector<std::string> names;
            for (auto const& file : files)
                names.push_back(file->name());
            return names;
        }

        VeskFileManager fm;
    };

    // The names in the folder in name order (all lower case here), "." and ".." left out.
    std::vector<std::string> namesInOrder(const std::string& folder)
    {
        std::vector<std::string> names;
        DIR* dir = ::opendir(folder.c_str());
        EXPECT_NE(dir, nullptr) << folder;
        while (dirent* entry = dir ? ::readdir(dir) : nullptr) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        if (dir)
            ::closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

    TEST_F(VeskFileManagerTest, ListingsFollowTheHiddenFilesSwitchInNameOrder)
    {
        std::string folder = makeFolder("mixed");
        makeFolder("mixed/b-folder");
        makeFile("mixed/a.txt", "hello");
        makeLink("mixed/c-link", at("mixed/b-folder"));
        makeFolder("mixed/d.veskDL");
        makeLink("mixed/e-dangling", at("nowhere"));
        // Enough names that the file system's own order would differ, some of them hidden.
        for (int i = 0; i < 40; ++i)
            makeFile("mixed/" + std::string(i % 7 == 0 ? "." : "") + static_cast<char>('a' + i % 26) + std::to_string(i));

        // Never set, on, then off again.
        for (std::optional<bool> setting : { std::optional<bool>(), std::optional(true), std::optional(false) }) {
            if (setting)
                showHiddenFiles(*setting);
            bool hidden = setting.value_or(false);
            // Off: hidden entries left out, full paths. On: bare entry names.
            std::vector<std::string> names;
            std::vector<std::string> paths;
            for (auto const& name : namesInOrder(folder)) {
                if (hidden || !name.starts_with('.')) {
                    names.push_back(name);
                    paths.push_back(hidden ? name : folder + "/" + name);
                }
            }
            auto files = fm.getFiles(folder);
            EXPECT_EQ(namesOf(files), names);
            EXPECT_EQ(fm.getFilePaths(folder), paths);
            for (auto const& file : files) {
                EXPECT_EQ(file->path(), folder + "/" + file->name());
                // Folder links are folders; placeholders are not.
                EXPECT_EQ(file->isDir(), file->name() == "b-folder" || file->name() == "c-link");
                EXPECT_EQ(file->isReadable(), file->name() != "e-dangling");
                // Listed records equal records made from the path.
                EXPECT_TRUE(file->isEqual(VeskFile::initWithPath(file->path()).get()));
            }
        }
    }

    TEST_F(VeskFileManagerTest, ListingsOfWhatCannotBeListedAreEmpty)
    {
        std::string file = makeFile("plain.txt");
        std::string locked = makeFolder("locked", 0000);
        for (bool hidden : { false, true }) {
            showHiddenFiles(hidden);
            for (const auto& path : { at("missing"), file, makeFolder(hidden ? "empty-on" : "empty-off") }) {
                EXPECT_THAT(fm.getFiles(path), IsEmpty()) << path;
                EXPECT_THAT(fm.getFilePaths(path), IsEmpty()) << path;
            }
            EXPECT_TRUE(asUnprivilegedUser([&] { return fm.getFiles(locked).empty() && fm.getFilePaths(locked).empty(); }));
            // The check itself can fail: the folder beside it lists.
            EXPECT_FALSE(asUnprivilegedUser([&] { return fm.getFilePaths(scratch()).empty(); }));
        }
    }

    TEST_F(VeskFileManagerTest, PermissionTextsForEachTypeAndMode)
    {
        struct Case {
            mode_t mode;
            const char* file;
            const char* folder;
        };
        const Case cases[] = {
            { 0644, "-rw-r--r--", "drw-r--r--" },
            { 0755, "-rwxr-xr-x", "drwxr-xr-x" },
            { 0000, "----------", "d---------" },
            { 0777, "-rwxrwxrwx", "drwxrwxrwx" },
            { 0421, "-r---w---x", "dr---w---x" },
            { 0536, "-r-x-wxrw-", "dr-x-wxrw-" },
            // Set-id and sticky bits are not shown.
            { 07755, "-rwxr-xr-x", "drwxr-xr-x" },
            { 01777, "-rwxrwxrwx", "drwxrwxrwx" },
        };
        int n = 0;
        for (auto const& c : cases) {
            std::string file = makeFile("file" + std::to_string(n));
            std::string folder = makeFolder("folder" + std::to_string(n));
            ++n;
            ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
            ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
            EXPECT_EQ(fm.getPosixPermisionsOfPath(file), c.file) << std::oct << c.mode;
            EXPECT_EQ(fm.getPosixPermisionsOfPath(folder), c.folder) << std::oct << c.mode;
        }

        // Links describe themselves, not their target; other types read "-".
        std::string target = makeFolder("target");
        std::string link = makeLink("link", target);
        EXPECT_EQ(fm.getPosixPermisionsOfPath(link), "-rwxrwxrwx");
        EXPECT_TRUE(fm.isDirectoryAtPath(link));
        std::string fifo = at("pipe");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0640), 0);
        EXPECT_EQ(fm.getPosixPermisionsOfPath(fifo), "-rw-r-----");
        EXPECT_EQ(fm.getPosixPermisionsOfPath(at("missing")), "");
    }

    TEST_F(VeskFileManagerTest, AttributesUseThePlatformKeys)
    {
        std::string file = makeFile("data.bin", "12345", 0640);
        platform::Value attributes(fm.getAttributesOfFile(file));
        EXPECT_EQ(attributes["NSFileType"], platform::Value("NSFileTypeRegular"));
        EXPECT_EQ(attributes["NSFileSize"].integerValue(), 5);
        EXPECT_EQ(attributes["NSFilePosixPermissions"].integerValue(), 0640);
        EXPECT_TRUE(attributes["NSFileModificationDate"].isDate());
        EXPECT_EQ(attributes["NSFileOwnerAccountID"].integerValue(), static_cast<std::int64_t>(::geteuid()));

        std::string link = makeLink("data-link", file);
        EXPECT_EQ(platform::Value(fm.getAttributesOfFile(link))["NSFileType"], platform::Value("NSFileTypeSymbolicLink"));

        auto missing = fm.getAttributesOfFile(at("missing"));
        ASSERT_EQ(missing.size(), 1u);
        EXPECT_EQ(platform::Value(missing)[""], platform::Value(""));
    }

    TEST_F(VeskFileManagerTest, SizesCountFileContentsOnly)
    {
        std::string tree = makeFolder("tree");
        makeFile("tree/a", std::string(1000, 'a'));
        makeFolder("tree/sub");
        makeFile("tree/sub/b", std::string(234, 'b'));
        makeFile("tree/sub/.hidden", "xyz");
        makeFolder("tree/sub/empty");
        EXPECT_EQ(fm.getSizeOf(tree), 1237);
        EXPECT_EQ(fm.getSizeOf(at("tree/a")), 1000);
        EXPECT_EQ(fm.getSizeOfFileAsString(tree), "1 KB");
        EXPECT_EQ(fm.getSizeOfFileAsString(at("tree/sub/b")), "234 bytes");

        std::string hollow = makeFolder("hollow");
        makeFolder("hollow/x");
        makeFolder("hollow/x/y");
        EXPECT_EQ(fm.getSizeOf(hollow), 0);
        EXPECT_EQ(fm.getSizeOf(at("missing")), 0);

        // A placeholder folder is measured as a file, and a folder has no contents to read.
        std::string placeholder = makeFolder("download.veskDL");
        makeFile("download.veskDL/part", "0123456789");
        EXPECT_FALSE(fm.isDirectoryAtPath(placeholder));
        EXPECT_EQ(fm.getSizeOf(placeholder), 0);
        // A placeholder file counts its bytes, and a placeholder folder inside a tree adds nothing.
        makeFile("movie.veskDL", "123456");
        EXPECT_EQ(fm.getSizeOf(at("movie.veskDL")), 6);
        makeFolder("tree/partial.veskDL");
        makeFile("tree/partial.veskDL/chunk", "12345");
        EXPECT_EQ(fm.getSizeOf(tree), 1237);

        // A link to a file counts the file's contents.
        makeLink("a-link", at("tree/a"));
        EXPECT_EQ(fm.getSizeOf(at("a-link")), 1000);
        makeLink("dangling", at("nowhere"));
        EXPECT_EQ(fm.getSizeOf(at("dangling")), 0);
    }

    TEST_F(VeskFileManagerTest, SizesOfSpecialAndUnreadableFilesAreZeroAndNeverBlock)
    {
        std::string folder = makeFolder("special");
        makeFile("special/f", "abc");
        ASSERT_EQ(::mkfifo(at("special/pipe").c_str(), 0644), 0);
        // Nobody writes to the FIFO: reading it would block for ever.
        EXPECT_EQ(fm.getSizeOf(at("special/pipe")), 0);
        EXPECT_EQ(fm.getSizeOf(folder), 3);
        EXPECT_EQ(fm.getSizeOf("/dev/null"), 0);
        EXPECT_EQ(fm.getSizeOf("/dev/zero"), 0);

        // Nor are files and folders read that can't be.
        std::string file = makeFile("secret", "0123456789", 0000);
        std::string openFile = makeFile("open", "0123456789", 0644);
        std::string locked = makeFolder("locked");
        makeFile("locked/inside", "abc");
        ::chmod(locked.c_str(), 0000);
        EXPECT_TRUE(asUnprivilegedUser([&] { return fm.getSizeOf(file) == 0 && fm.getSizeOf(locked) == 0 && fm.getSizeOf(scratch()) == 13; }))
            << "only \"open\" and \"special/f\" count";
        EXPECT_TRUE(asUnprivilegedUser([&] { return fm.getSizeOf(openFile) == 10; }));
    }

    TEST_F(VeskFileManagerTest, SizesFollowFolderLinksButNeverLoop)
    {
        std::string tree = makeFolder("cycle");
        makeFile("cycle/a", "12345");
        makeFolder("cycle/sub");
        makeFile("cycle/sub/b", "678");
        makeLink("cycle/sub/back", tree); // back up to the top: a cycle
        makeLink("cycle/self", ".");
        EXPECT_EQ(fm.getSizeOf(tree), 8);

        // A link to a folder outside the tree is followed.
        std::string outside = makeFolder("outside");
        makeFile("outside/c", "1234567");
        makeLink("cycle/out", outside);
        EXPECT_EQ(fm.getSizeOf(tree), 15);

        // Two links into each other's folders.
        makeFolder("ping");
        makeFolder("pong");
        makeFile("ping/p", "1");
        makeLink("ping/to-pong", at("pong"));
        makeLink("pong/to-ping", at("ping"));
        EXPECT_EQ(fm.getSizeOf(at("ping")), 1);
        // A link that points at itself is nothing.
        makeLink("loop", at("loop"));
        EXPECT_EQ(fm.getSizeOf(at("loop")), 0);
        // A diamond: one folder reached through two links counts twice.
        makeFolder("diamond");
        makeLink("diamond/left", at("outside"));
        makeLink("diamond/right", at("outside"));
        EXPECT_EQ(fm.getSizeOf(at("diamond")), 14);

        // Relative paths and relative link targets, from the current folder.
        makeLink("relative", "cycle/a");
        std::string previous = platform::NSFileManager::defaultManager().currentDirectoryPath();
        ASSERT_EQ(::chdir(scratch().c_str()), 0);
        EXPECT_EQ(fm.getSizeOf("relative"), 5);
        EXPECT_EQ(fm.getSizeOf("cycle"), 15);
        ASSERT_EQ(::chdir(previous.c_str()), 0);
    }

    TEST_F(VeskFileManagerTest, RecursiveContents)
    {
        std::string file = makeFile("single.txt");
        EXPECT_THAT(fm.getAllContentOfDirectory(file), ElementsAre(file));
        EXPECT_THAT(fm.getAllContentOfDirectory(at("missing")), ElementsAre(at("missing")));

        std::string hollow = makeFolder("hollow");
        makeFolder("hollow/a");
        makeFolder("hollow/a/b");
        EXPECT_THAT(fm.getAllContentOfDirectory(hollow), IsEmpty());

        std::string tree = makeFolder("tree");
        makeFile("tree/.hidden");
        makeFolder("tree/sub");
        makeFile("tree/sub/inner.txt");
        makeFolder("tree/sub/deeper");
        makeFile("tree/sub/deeper/deep.txt");
        std::string placeholder = makeFolder("tree/item.veskDL");
        makeFile("tree/item.veskDL/chunk");
        auto content = fm.getAllContentOfDirectory(tree);
        // Folders never appear; hidden items always do; a placeholder folder is one item.
        EXPECT_THAT(content, UnorderedElementsAre(tree + "/.hidden", tree + "/sub/inner.txt", tree + "/sub/deeper/deep.txt", placeholder));
        // Depth first: a folder's items stay together.
        auto inner = std::find(content.begin(), content.end(), tree + "/sub/inner.txt");
        auto deep = std::find(content.begin(), content.end(), tree + "/sub/deeper/deep.txt");
        EXPECT_EQ(std::abs(inner - deep), 1);

        // A link back up is followed once; a link to a file is an item.
        std::string cycle = makeFolder("cycle");
        makeFile("cycle/a");
        makeFolder("cycle/sub");
        makeFile("cycle/sub/b");
        makeLink("cycle/sub/up", "..");
        makeLink("cycle/file-link", at("cycle/a"));
        EXPECT_THAT(fm.getAllContentOfDirectory(cycle), UnorderedElementsAre(cycle + "/a", cycle + "/sub/b", cycle + "/file-link"));
        // A folder reached through two links is listed under both.
        makeLink("cycle/again", "sub");
        EXPECT_THAT(fm.getAllContentOfDirectory(cycle), UnorderedElementsAre(cycle + "/a", cycle + "/sub/b", cycle + "/again/b", cycle + "/file-link"));
    }

    TEST_F(VeskFileManagerTest, RecursiveContentsPassOverAFolderThatCannotBeListed)
    {
        std::string tree = makeFolder("partly");
        makeFile("partly/open.txt");
        makeFolder("partly/locked");
        makeFile("partly/locked/secret.txt");
        ::chmod(at("partly/locked").c_str(), 0000);
        EXPECT_TRUE(asUnprivilegedUser([&] {
            return fm.getAllContentOfDirectory(tree) == std::vector<std::string> { tree + "/open.txt" }
            && fm.getAllContentOfDirectory(at("partly/locked")).empty();
        }));
    }

    TEST_F(VeskFileManagerTest, PlaceholderNames)
    {
        for (const char* path : { "movie.veskDL", "/a/b.mp4.veskDL" })
            EXPECT_TRUE(fm.isVeskDownloadFileAtPath(path)) << path;
        for (const char* path : { "movie.veskdl", "movie.VESKDL", "veskDL", "movie.veskDL.part", "" })
            EXPECT_FALSE(fm.isVeskDownloadFileAtPath(path)) << path;
    }

    TEST_F(VeskFileManagerTest, FoldersOfTheApp)
    {
        std::string documents = fm.getDocumentDirectory();
        EXPECT_EQ(documents, platform::documentsDirectory());
        EXPECT_TRUE(fm.isDirectoryAtPath(documents));
        // Made again when it has gone.
        ASSERT_TRUE(platform::NSFileManager::defaultManager().removeItemAtPath(documents));
        EXPECT_EQ(fm.getDocumentDirectory(), documents);
        EXPECT_TRUE(fm.isDirectoryAtPath(documents));

        EXPECT_TRUE(fm.createDirectoryAtPath(at("x/y/z")));
        EXPECT_TRUE(fm.isDirectoryAtPath(at("x/y/z")));
        EXPECT_TRUE(fm.createDirectoryAtPath(at("x/y/z")));
        std::string file = makeFile("blocker");
        EXPECT_FALSE(fm.createDirectoryAtPath(file + "/child"));
    }

    TEST_F(VeskFileManagerTest, DanglingLinksAreLinksWhoseTargetCannotBeReached)
    {
        std::string file = makeFile("file");
        std::filesystem::create_directories(at("folder"));
        std::filesystem::create_symlink(file, at("toFile"));
        std::filesystem::create_symlink(at("folder"), at("toFolder"));
        std::filesystem::create_symlink("nowhere", at("dangling"));
        std::filesystem::create_symlink("loop", at("loop"));
        std::filesystem::create_symlink("dangling", at("toDangling"));
        for (auto [name, dangling] : { std::pair { "file", false }, { "folder", false }, { "toFile", false }, { "toFolder", false }, { "missing", false }, { "dangling", true }, { "loop", true }, { "toDangling", true } })
            EXPECT_EQ(fm.isDanglingLinkAtPath(at(name)), dangling) << name;
    }

}
}
