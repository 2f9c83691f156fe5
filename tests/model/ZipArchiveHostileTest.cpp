#include "model/ZipArchive.h"

#include "ZipTestSupport.h"

#include <gmock/gmock.h>

using namespace vesk;
using namespace vesk::ziptest;
using ::testing::ElementsAre;

namespace {

// Each case extracts into <tmp>/dest while <tmp>/outside holds a file that
// a successful attack would change or a place it would write to.
class ZipArchiveHostileTest : public ::testing::Test {
protected:
    TemporaryFolder folder;
    std::string destination = folder / "dest";
    std::string outside = folder / "outside";
    std::string archive = folder / "hostile.zip";

    void SetUp() override
    {
        writeText(outside + "/victim.txt", "precious");
        fs::create_directories(destination);
    }

    struct Outcome : ZipArchiveDelegate {
        bool result;
        std::optional<bool> completion;
        std::vector<std::string> told;

        bool zipArchiveDidUnzipFileAtIndexTotalFilesArchivePathUnzippedFilePath(int64_t, int64_t, const std::string&, const std::string& path) override
        {
            told.push_back(path);
            return true;
        }
    };

    // The delegate hears of paths inside the destination only.
    Outcome extract(const std::optional<std::string>& password = std::nullopt)
    {
        Outcome outcome {};
        outcome.result = ZipArchive::unzipFileAtPath(archive, destination, true, password, nullptr, &outcome, nullptr,
            [&](const std::optional<std::string>&, bool succeeded, const std::optional<ZipArchiveError>&) { outcome.completion = succeeded; });
        for (const auto& path : outcome.told)
            EXPECT_TRUE(fs::weakly_canonical(path).string().starts_with(fs::canonical(destination).string() + "/")) << path;
        return outcome;
    }
};

TEST_F(ZipArchiveHostileTest, NamesThatLeaveTheDestinationAreRefused)
{
    std::vector<std::string> names = { "../outside/victim.txt", "..\\outside\\victim.txt", "sub/../../outside/victim.txt",
        "sub\\..\\..\\outside\\victim.txt", outside + "/victim.txt", outside + "/made.txt", "..", "../outside/newdir/" };
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        auto before = snapshot(folder.path() + "/outside");
        // Backslashes separate folders only in archives made on DOS or Windows.
        uLong maker = name.find('\\') == std::string::npos ? (3 << 8) | 30 : 20;
        writeRawArchive(archive, { { .name = name, .content = "evil", .versionMadeBy = maker }, { .name = "good.txt", .content = "good" } });
        Outcome outcome = extract();
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(outcome.completion, false);
        EXPECT_EQ(snapshot(outside), before);
        EXPECT_EQ(readText(destination + "/good.txt"), "good") << "the other entries are still extracted";
        EXPECT_THAT(outcome.told, ElementsAre(destination + "/good.txt"));
        fs::remove_all(destination);
    }
}

TEST_F(ZipArchiveHostileTest, ALinkEntryCannotCarryALaterEntryOutside)
{
    auto before = snapshot(outside);
    // A symbolic link stored as an entry, then a file written through it.
    writeRawArchive(archive, { { .name = "link", .content = outside, .externalAttributes = 0120777u << 16 }, { .name = "link/victim.txt", .content = "evil" }, { .name = "link/new.txt", .content = "evil" } });
    EXPECT_FALSE(extract().result);
    EXPECT_EQ(snapshot(outside), before);
    EXPECT_FALSE(fs::is_symlink(destination + "/link")) << "links are never made";
    mode_t mask = ::umask(022);
    ::umask(mask);
    EXPECT_EQ(permissions(destination + "/link"), 0666u & ~mask) << "nor executable files";
}

TEST_F(ZipArchiveHostileTest, ALinkAlreadyInTheDestinationIsFollowedOnlyInside)
{
    fs::create_directory_symlink(outside, destination + "/out");
    fs::create_symlink(outside + "/victim.txt", destination + "/victim-link.txt");
    fs::create_directories(destination + "/real");
    fs::create_directory_symlink("real", destination + "/alias");
    auto before = snapshot(outside);
    writeRawArchive(archive, { { .name = "out/victim.txt", .content = "evil" }, { .name = "out/newdir/x.txt", .content = "evil" }, { .name = "out/folder/", .content = "" }, { .name = "victim-link.txt", .content = "replaced link" }, { .name = "alias/x.txt", .content = "inside" } });
    EXPECT_FALSE(extract().result);
    EXPECT_EQ(snapshot(outside), before);
    EXPECT_FALSE(fs::is_symlink(destination + "/victim-link.txt")) << "the link itself was replaced";
    EXPECT_EQ(readText(destination + "/victim-link.txt"), "replaced link");
    EXPECT_EQ(readText(destination + "/real/x.txt"), "inside");
}

struct CorruptCase {
    const char* name;
    RawEntry entry;
    // Header fields to overwrite: offset (as in the central header) and bytes.
    std::vector<std::pair<std::size_t, std::string>> patches = {};
    // An entry that can't even be opened ends the run.
    std::vector<std::string> left = { "after.txt", "file.txt" };
};

TEST_F(ZipArchiveHostileTest, CorruptEntriesFailAndLeaveTheExistingFileAlone)
{
    std::string content(100000, 'x');
    for (std::size_t i = 0; i < content.size(); i += 7)
        content[i] = static_cast<char>('a' + i % 26);
    std::string deflated = rawDeflate(content);
    std::string beyondTheEnd("\xff\xff\x0f\x00", 4);
    std::vector<CorruptCase> cases = {
        { "truncated deflate data", { .name = "file.txt", .content = content, .storedBytes = deflated.substr(0, deflated.size() / 2) } },
        { "garbage instead of deflate data", { .name = "file.txt", .content = content, .storedBytes = std::string(500, '\xff') } },
        { "bad CRC", { .name = "file.txt", .content = content, .crc = crcOf(content) ^ 1 } },
        { "bad CRC, stored", { .name = "file.txt", .content = "short", .method = 0, .crc = 1234 } },
        { "more data than recorded", { .name = "file.txt", .content = content, .uncompressedSize = 10 } },
        { "less data than recorded", { .name = "file.txt", .content = content, .uncompressedSize = content.size() + 10 } },
        { "encrypted, no password", { .name = "file.txt", .content = "x", .flag = 1, .storedBytes = std::string(20, 'k') } },
        { "sizes beyond the end of the archive", { .name = "file.txt", .content = std::string(50000, 'q'), .method = 0 }, { { 20, beyondTheEnd }, { 24, beyondTheEnd } } },
        { "unknown method", { .name = "file.txt", .content = "x" }, { { 10, std::string("\x63\0", 2) } }, { "file.txt" } },
    };
    for (const auto& c : cases) {
        for (std::string existing : { "existing", "" }) {
            SCOPED_TRACE(std::string(c.name) + (existing.empty() ? ", new file" : ""));
            if (!existing.empty())
                writeText(destination + "/file.txt", existing);
            writeRawArchive(archive, { c.entry, { .name = "after.txt", .content = "after" } });
            for (const auto& [offset, bytes] : c.patches)
                patchEntry(archive, "file.txt", offset, bytes);
            Outcome outcome = extract();
            EXPECT_FALSE(outcome.result);
            EXPECT_EQ(outcome.completion, false) << "the completion hears the real result";
            EXPECT_EQ(readText(destination + "/file.txt"), existing);
            auto left = c.left;
            if (existing.empty())
                left.erase(std::find(left.begin(), left.end(), "file.txt"));
            EXPECT_EQ(filesBelow(destination), left) << "no temporary or broken file is left";
            fs::remove_all(destination);
        }
    }
}

TEST_F(ZipArchiveHostileTest, AWrongPasswordFailsAndTheExistingFileSurvives)
{
    writeText(folder / "src/file.txt", "secret contents");
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(archive, std::vector<std::string> { folder / "src/file.txt" }, std::string("right")));
    writeText(destination + "/file.txt", "existing");

    EXPECT_FALSE(extract(std::string("wrong")).result);
    EXPECT_EQ(readText(destination + "/file.txt"), "existing");
    EXPECT_FALSE(extract().result) << "no password at all";
    EXPECT_EQ(readText(destination + "/file.txt"), "existing");
    EXPECT_TRUE(extract(std::string("right")).result);
    EXPECT_EQ(readText(destination + "/file.txt"), "secret contents");
}

TEST_F(ZipArchiveHostileTest, NestingStopsAtEightLevels)
{
    // level10.zip holds deep.txt; level9.zip holds level10.zip; ... the archive holds level1.zip.
    std::string inner = folder / "level10.zip";
    writeRawArchive(inner, { { .name = "deep.txt", .content = "bottom" } });
    for (int level = 9; level >= 0; --level) {
        std::string next = level == 0 ? archive : folder / ("level" + std::to_string(level) + ".zip");
        writeRawArchive(next, { { .name = fs::path(inner).filename().string(), .content = readText(inner), .method = 0 } });
        inner = next;
    }
    EXPECT_TRUE(extract().result);
    EXPECT_THAT(filesBelow(destination), ElementsAre("level9.zip")) << "levels 1 to 8 were unzipped, level 9 stays a file";
}

TEST_F(ZipArchiveHostileTest, NestedArchivesStopUnpackingOnceTheyWroteAGibibyte)
{
    // Twenty nested archives of 60 MiB each, far more than 100 times this archive's size.
    std::string zeros(15 << 20, '\0');
    writeRawArchive(folder / "inner.zip", { { .name = "a", .content = zeros }, { .name = "b", .content = zeros }, { .name = "c", .content = zeros }, { .name = "d", .content = zeros } });
    std::vector<RawEntry> entries;
    for (int i = 10; i < 30; ++i)
        entries.push_back({ .name = std::to_string(i) + "/inner.zip", .content = readText(folder / "inner.zip"), .method = 0 });
    writeRawArchive(archive, entries);
    EXPECT_TRUE(extract().result);
    std::uintmax_t unpacked = 0;
    std::vector<std::string> left;
    for (auto& item : fs::recursive_directory_iterator(destination)) {
        if (item.path().extension() == ".zip")
            left.push_back(fs::relative(item.path(), destination));
        else if (item.is_regular_file())
            unpacked += item.file_size();
    }
    EXPECT_EQ(unpacked, 17u * (60 << 20)) << "17 whole, then no part of a file";
    EXPECT_THAT(left, ::testing::UnorderedElementsAre("27/inner.zip", "28/inner.zip", "29/inner.zip"));
}

TEST_F(ZipArchiveHostileTest, ANestedArchiveHoldingAFileOfItsOwnNameKeepsThatFile)
{
    writeRawArchive(folder / "self.zip", { { .name = "self.zip", .content = "placeholder", .method = 0 } });
    writeRawArchive(archive, { { .name = "self.zip", .content = readText(folder / "self.zip"), .method = 0 } });
    writeRawArchive(folder / "self.zip", { { .name = "self.zip", .content = readText(archive), .method = 0 } });
    writeRawArchive(archive, { { .name = "self.zip", .content = readText(folder / "self.zip"), .method = 0 } });
    EXPECT_TRUE(extract().result);
    EXPECT_EQ(readText(destination + "/self.zip"), "placeholder");
}

TEST_F(ZipArchiveHostileTest, NamesThatAreNotUtf8AreReadAsCp437FromDosAsBytesFromUnixAndOnlyPermissionBitsApply)
{
    writeRawArchive(archive, { { .name = "caf\x82.txt", .content = "e acute", .versionMadeBy = 20 }, { .name = "\xff\xfe\x80", .content = "odd", .versionMadeBy = 20 }, { .name = "unix-caf\xe9", .content = "latin-1" }, { .name = "ok-\xc3\xa9.txt", .content = "utf8" }, { .name = "setuid", .content = "x", .externalAttributes = 0104777u << 16 }, { .name = "sticky", .content = "x", .externalAttributes = 0101640u << 16 }, { .name = "plain", .content = "x", .externalAttributes = 0 } });
    EXPECT_TRUE(extract().result);
    EXPECT_EQ(readText(destination + "/caf\xc3\xa9.txt"), "e acute");
    EXPECT_EQ(readText(destination + "/\xc2\xa0\xe2\x96\xa0\xc3\x87"), "odd");
    EXPECT_EQ(readText(destination + "/ok-\xc3\xa9.txt"), "utf8");
    EXPECT_EQ(readText(destination + "/unix-caf\xe9"), "latin-1");
    EXPECT_EQ(permissions(destination + "/setuid"), 0777u);
    EXPECT_EQ(permissions(destination + "/sticky"), 0640u);
    EXPECT_EQ(permissions(destination + "/plain") & 07000u, 0u);
}

TEST_F(ZipArchiveHostileTest, NamesWithNulOrNothingAreRefused)
{
    writeRawArchive(archive, { { .name = "a", .content = "x" } });
    patchEntry(archive, "a", 46, std::string(1, '\0'), true); // the name itself
    EXPECT_FALSE(extract().result);
    EXPECT_TRUE(filesBelow(destination).empty());
}

}
