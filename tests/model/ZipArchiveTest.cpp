#include "model/ZipArchive.h"

#include "ZipTestSupport.h"

#include <gmock/gmock.h>

using namespace vesk;
using namespace vesk::ziptest;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

namespace {

// An even time, since DOS dates count seconds in steps of two.
constexpr time_t sourceTime = 1700000000;

class ZipArchiveTest : public ::testing::Test {
protected:
    TemporaryFolder folder;

    std::string makeTree()
    {
        std::string root = folder / "tree";
        writeText(root + "/top.txt", "top level\n");
        writeText(root + "/sub/deep/leaf.bin", std::string("\0\1\2\3binary", 10));
        writeText(root + "/sub/script.sh", "#!/bin/sh\necho hi\n");
        ::chmod((root + "/sub/script.sh").c_str(), 0750);
        fs::create_directories(root + "/empty");
        for (const char* name : { "/top.txt", "/sub/deep/leaf.bin", "/sub/script.sh" })
            fs::last_write_time(root + name, fs::file_time_type::clock::from_sys(std::chrono::system_clock::from_time_t(sourceTime)));
        return root;
    }
};

TEST_F(ZipArchiveTest, FolderRoundTripKeepsContentsDatesPermissionsAndEmptyFolders)
{
    std::string root = makeTree();
    std::string archive = folder / "Archive.zip";
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(archive, root));

    EXPECT_THAT(entryNames(archive), UnorderedElementsAre("top.txt", "sub/deep/leaf.bin", "sub/script.sh", "empty/.DS_Store"));
    EXPECT_FALSE(fs::exists(root + "/empty/.DS_Store")) << "no placeholder is left in the source";

    std::string out = folder / "out";
    ASSERT_TRUE(ZipArchive::unzipFileAtPath(archive, out));
    EXPECT_EQ(readText(out + "/top.txt"), "top level\n");
    EXPECT_EQ(readText(out + "/sub/deep/leaf.bin"), std::string("\0\1\2\3binary", 10));
    EXPECT_EQ(readText(out + "/empty/.DS_Store"), "");
    EXPECT_EQ(permissions(out + "/sub/script.sh"), 0750u);
    EXPECT_EQ(modificationTime(out + "/sub/deep/leaf.bin"), sourceTime);

    // Keeping the parent folder puts every entry under its name.
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(archive, root, true));
    EXPECT_THAT(entryNames(archive), UnorderedElementsAre("tree/top.txt", "tree/sub/deep/leaf.bin", "tree/sub/script.sh", "tree/empty/.DS_Store"));
}

TEST_F(ZipArchiveTest, ListedFilesLandAtTheTopLevelAndThoseNotReadWholeAreLeftOut)
{
    writeText(folder / "one/a.txt", "first");
    writeText(folder / "two/caf\xc3\xa9.txt", "second");
    fs::create_directories(folder / "adir");
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    std::string archive = folder / "Archive.zip";
    writeText(archive, "an old archive that must not end up inside the new one");

    // "/proc/self/mem" opens as a regular file, but reading its first page fails. What cannot
    // be added fails the call; the rest is there.
    ASSERT_FALSE(ZipArchive::createZipFileAtPath(archive,
        { folder / "one/a.txt", folder / "missing.txt", folder / "adir", folder / "pipe", "/proc/self/mem", archive, folder / "two/caf\xc3\xa9.txt" }));
    auto entries = listArchive(archive);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].name, "adir/") << "an empty folder keeps an entry";
    entries.erase(entries.begin() + 1);
    EXPECT_EQ(entries[0].name + entries[0].content + entries[1].name + entries[1].content, "a.txtfirstcaf\xc3\xa9.txtsecond");
    EXPECT_EQ(entries[0].externalAttributes >> 16 & 0170000, 0100000u) << "regular-file type bits";
    EXPECT_EQ(entries[0].versionMadeBy >> 8, 3u) << "made on Unix, so readers apply the permissions";
    EXPECT_EQ(entries[0].flag & 0x800, 0u);
    EXPECT_EQ(entries[1].flag & 0x800, 0x800u) << "a name that is not ASCII is marked as UTF-8";

    // An archive of a folder, made inside it, leaves itself out.
    writeText(folder / "tree/b.txt", "b");
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(folder / "tree/Archive.zip", folder / "tree"));
    EXPECT_THAT(entryNames(folder / "tree/Archive.zip"), ElementsAre("b.txt"));
}

TEST_F(ZipArchiveTest, AnArchiveThatCannotBeWrittenOutIsAFailure)
{
    writeText(folder / "a.txt", std::string(200000, 'a'));
    EXPECT_FALSE(ZipArchive::createZipFileAtPath(folder / "no/such/folder/Archive.zip", { folder / "a.txt" }));
    if (fs::exists("/dev/full")) {
        EXPECT_FALSE(ZipArchive::createZipFileAtPath("/dev/full", { folder / "a.txt" })) << "the device is full";
    }
}

TEST_F(ZipArchiveTest, InstanceWritesDataFoldersAndFilesUnderChosenNames)
{
    writeText(folder / "src.txt", "source");
    fs::create_directories(folder / "dir");
    ::chmod((folder / "dir").c_str(), 0705);
    std::string archive = folder / "made.zip";
    ZipArchive writer(archive);
    EXPECT_FALSE(writer.writeData({ 'x' }, "early.txt")) << "nothing is open yet";
    ASSERT_TRUE(writer.open());
    EXPECT_TRUE(writer.writeData({ 'h', 'i' }, "data.txt"));
    EXPECT_TRUE(writer.writeData({}, "nothing.txt"));
    EXPECT_TRUE(writer.writeFolderAtPath(folder / "dir", "dir"));
    EXPECT_TRUE(writer.writeFileAtPath(folder / "src.txt", std::string("renamed/src.txt")));
    EXPECT_FALSE(writer.writeFile(folder / "absent.txt"));
    EXPECT_TRUE(writer.close());
    EXPECT_TRUE(writer.close()) << "closing twice is harmless";
    EXPECT_FALSE(writer.writeData({ 'x' }, "late.txt"));

    auto entries = listArchive(archive);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].content, "hi");
    EXPECT_EQ(entries[1].content, "");
    EXPECT_EQ(entries[2].name, "dir/");
    EXPECT_EQ(entries[2].externalAttributes >> 16, 040705u);
    EXPECT_EQ(entries[3].name, "renamed/src.txt");
    EXPECT_EQ(entries[3].content, "source");
}

struct RecordingDelegate : ZipArchiveDelegate {
    std::vector<std::string> calls;
    std::optional<bool> answer;
    bool withFileInformation = true;

    bool note(std::string call)
    {
        calls.push_back(std::move(call));
        return true;
    }
    bool zipArchiveWillUnzipArchiveAtPath(const std::string&, const unz_global_info64& info) override { return note("willArchive " + std::to_string(info.number_entry)); }
    bool zipArchiveDidUnzipArchiveAtPath(const std::string&, const unz_global_info64&, const std::string&) override { return note("didArchive"); }
    std::optional<bool> zipArchiveShouldUnzipFileAtIndex(int64_t index, int64_t, const std::string&, const unz_file_info64&) override
    {
        note("should " + std::to_string(index));
        return answer;
    }
    bool zipArchiveWillUnzipFileAtIndex(int64_t index, int64_t total, const std::string&, const unz_file_info64&) override { return note("will " + std::to_string(index) + "/" + std::to_string(total)); }
    bool zipArchiveDidUnzipFileAtIndexTotalFilesArchivePathFileInformation(int64_t index, int64_t, const std::string&, const unz_file_info64&) override
    {
        return withFileInformation && note("didInfo " + std::to_string(index));
    }
    bool zipArchiveDidUnzipFileAtIndexTotalFilesArchivePathUnzippedFilePath(int64_t index, int64_t, const std::string&, const std::string& path) override { return note("didPath " + std::to_string(index) + " " + path); }
    bool zipArchiveProgressEvent(uint64_t done, uint64_t total) override { return note(done == total ? "progress all" : "progress"); }
};

TEST_F(ZipArchiveTest, OverwriteOffLeavesExistingFilesAloneUncountedAndFails)
{
    writeRawArchive(folder / "a.zip", { { .name = "keep.txt", .content = "from archive" }, { .name = "new.txt", .content = "new" } });
    writeText(folder / "out/keep.txt", "mine");
    time_t mine = modificationTime(folder / "out/keep.txt");
    RecordingDelegate delegate;
    std::optional<bool> completion;
    EXPECT_FALSE(ZipArchive::unzipFileAtPath(
        folder / "a.zip", folder / "out", false, std::nullopt, nullptr, &delegate,
        [&](const std::string& name, const unz_file_info64&, int64_t done, int64_t total) { delegate.note("handler " + name + " " + std::to_string(done) + "/" + std::to_string(total)); },
        [&](const std::optional<std::string>& path, bool succeeded, const std::optional<ZipArchiveError>& error) {
            completion = succeeded && path == folder / "a.zip" && !error;
        }));

    EXPECT_EQ(completion, false) << "an entry left out is no success";
    EXPECT_EQ(readText(folder / "out/keep.txt"), "mine");
    EXPECT_EQ(readText(folder / "out/new.txt"), "new");
    // The skipped entry is announced, but neither reported done nor counted.
    EXPECT_THAT(delegate.calls, ElementsAre("willArchive 2", "progress", "should 0", "will 0/2", "progress", "should 0", "will 0/2", "progress", "didInfo 0", "handler new.txt 1/2", "progress all"));
    EXPECT_EQ(modificationTime(folder / "out/keep.txt"), mine) << "not even its date changes";

    // A file that already holds the entry's bytes is no loss: the run succeeds.
    writeText(folder / "out/keep.txt", "from archive");
    EXPECT_TRUE(ZipArchive::unzipFileAtPath(folder / "a.zip", folder / "out", false, std::nullopt, nullptr));
}

TEST_F(ZipArchiveTest, OverwriteOnReplacesFilesKeepingTheirModeUnlessTheArchiveGivesOne)
{
    writeRawArchive(folder / "a.zip", { { .name = "a\\b.txt", .content = "inside", .versionMadeBy = 20 }, { .name = "script.sh", .content = "new script" }, { .name = "data.txt", .content = "new data", .externalAttributes = 0100600u << 16 } });
    writeText(folder / "out/script.sh", "old script");
    writeText(folder / "out/data.txt", "old data");
    ::chmod((folder / "out/script.sh").c_str(), 0750);
    ::chmod((folder / "out/data.txt").c_str(), 0755);
    ASSERT_TRUE(ZipArchive::unzipFileAtPath(folder / "a.zip", folder / "out"));
    EXPECT_EQ(readText(folder / "out/a/b.txt"), "inside") << "backslashes of an archive made on DOS become folders";
    EXPECT_EQ(readText(folder / "out/script.sh"), "new script");
    EXPECT_EQ(permissions(folder / "out/script.sh"), 0750u);
    EXPECT_EQ(readText(folder / "out/data.txt"), "new data");
    EXPECT_EQ(permissions(folder / "out/data.txt"), 0600u);
    EXPECT_THAT(filesBelow(folder / "out"), ElementsAre("a/", "a/b.txt", "data.txt", "script.sh")) << "no temporary files stay";
}

TEST_F(ZipArchiveTest, FolderEntriesGetTheirDatesAfterFilesWereWrittenIntoThem)
{
    uLong folderDate = 0x4A210000; // 2017-01-01 00:00:00
    writeRawArchive(folder / "a.zip", { { .name = "docs/", .content = "", .dosDate = folderDate }, { .name = "docs/a.txt", .content = "a" }, { .name = "zero.txt", .content = "z" } });
    patchEntry(folder / "a.zip", "zero.txt", 12, std::string(4, '\0'));
    ASSERT_TRUE(ZipArchive::unzipFileAtPath(folder / "a.zip", folder / "out"));
    auto dateOf = [](uint32_t dos) { return std::chrono::system_clock::to_time_t(ZipArchive::dateWithMicrosoftDOSFormat(dos)); };
    EXPECT_EQ(modificationTime(folder / "out/docs"), dateOf(folderDate));
    EXPECT_EQ(modificationTime(folder / "out/zero.txt"), dateOf(0)) << "the final pass dates even a DOS date of 0";
}

TEST_F(ZipArchiveTest, NestedArchivesAreUnzippedInPlaceUnlessBroken)
{
    writeRawArchive(folder / "inner.zip", { { .name = "inside.txt", .content = "nested" } });
    // The inner archive's mode forbids reading it; it is unzipped before that mode applies.
    writeRawArchive(folder / "outer.zip", { { .name = "sub/inner.zip", .content = readText(folder / "inner.zip"), .method = 0, .externalAttributes = 0100200u << 16 }, { .name = "broken.ZIP", .content = "not an archive", .externalAttributes = 0100604u << 16 } });
    EXPECT_TRUE(runUnprivileged(folder.path(), [&] { return ZipArchive::unzipFileAtPath(folder / "outer.zip", folder / "out"); }));
    EXPECT_EQ(readText(folder / "out/sub/inside.txt"), "nested");
    EXPECT_FALSE(fs::exists(folder / "out/sub/inner.zip"));
    EXPECT_EQ(readText(folder / "out/broken.ZIP"), "not an archive");
    EXPECT_EQ(permissions(folder / "out/broken.ZIP"), 0604u) << "a nested archive that stays gets its mode";
}

TEST_F(ZipArchiveTest, DelegateHearsEveryStepInOrder)
{
    writeRawArchive(folder / "a.zip", { { .name = "a.txt", .content = "a" }, { .name = "b.txt", .content = "b" } });
    RecordingDelegate delegate;
    ASSERT_TRUE(ZipArchive::unzipFileAtPath(folder / "a.zip", folder / "out", &delegate));
    EXPECT_THAT(delegate.calls, ElementsAre("willArchive 2", "progress", "should 0", "will 0/2", "progress", "didInfo 0", "should 1", "will 1/2", "progress", "didInfo 1", "didArchive", "progress all"));

    writeRawArchive(folder / "b.zip", { { .name = "docs/", .content = "" }, { .name = "docs\\b.txt", .content = "b", .versionMadeBy = 20 } });
    RecordingDelegate pathOnly;
    pathOnly.withFileInformation = false;
    ASSERT_TRUE(ZipArchive::unzipFileAtPath(folder / "b.zip", folder / "out2/", &pathOnly));
    EXPECT_THAT(pathOnly.calls, ::testing::IsSupersetOf({ "didPath 0 " + folder / "out2/docs", "didPath 1 " + folder / "out2/docs/b.txt" }));

    // A refused entry is still extracted; the run fails without its final progress.
    RecordingDelegate refusing;
    refusing.answer = false;
    EXPECT_FALSE(ZipArchive::unzipFileAtPath(folder / "a.zip", folder / "out3", &refusing));
    EXPECT_EQ(readText(folder / "out3/a.txt"), "a");
    EXPECT_THAT(refusing.calls, ElementsAre("willArchive 2", "progress", "should 0", "will 0/2", "progress", "didInfo 0", "should 1", "will 1/2", "progress", "didInfo 1"));
}

TEST_F(ZipArchiveTest, ArchivesThatCannotBeOpenedReportTheirErrors)
{
    struct Case {
        std::string name;
        std::function<void(const std::string&)> make;
        int code = -1;
        std::string description = "Failed to unzip file";
    };
    std::vector<Case> cases = {
        { "missing", [](const std::string&) {} },
        { "not an archive", [](const std::string& path) { writeText(path, "plain text"); } },
        { "a folder", [](const std::string& path) { fs::create_directories(path); } },
        { "a pipe", [](const std::string& path) { ::mkfifo(path.c_str(), 0600); } },
        { "unreachable first entry", [](const std::string& path) {
             writeRawArchive(path, { { .name = "a.txt", .content = "a" } });
             patchEntry(path, "a.txt", 0, "PK\1\3", true);
         },
            -2, "Failed to open the first file in Zip." },
    };
    int counter = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = folder / ("case" + std::to_string(counter++) + ".zip");
        c.make(path);
        ZipArchiveError error;
        int completions = 0;
        EXPECT_FALSE(ZipArchive::unzipFileAtPath(path, folder / "out", true, std::nullopt, &error, nullptr, nullptr,
            [&](const std::optional<std::string>& reported, bool succeeded, const std::optional<ZipArchiveError>& failure) {
                ++completions;
                EXPECT_FALSE(reported || succeeded);
                EXPECT_EQ(failure ? failure->code : 0, c.code);
            }));
        EXPECT_EQ(error.domain, "ZipArchiveErrorDomain");
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.localizedDescription, c.description);
        EXPECT_EQ(completions, 1);
    }
}

TEST(ZipArchiveDates, DosDatesAreLocalTimeAndEntryDatesClampToTheDosRange)
{
    auto localFields = [](time_t time) {
        struct tm local { };
        ::localtime_r(&time, &local);
        return std::vector<int> { local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec };
    };
    // 2017-03-04 05:06:08: year 37, month 3, day 4, hour 5, minute 6, seconds 4 * 2.
    uint32_t dos = (37u << 25) | (3u << 21) | (4u << 16) | (5u << 11) | (6u << 5) | 4u;
    EXPECT_EQ(localFields(std::chrono::system_clock::to_time_t(ZipArchive::dateWithMicrosoftDOSFormat(dos))), (std::vector<int> { 2017, 3, 4, 5, 6, 8 }));

    // Entry dates are local calendar fields, clamped to the DOS range.
    ZipArchive archive("/nonexistent/never-opened.zip");
    zip_fileinfo info {};
    archive.zipInformation(&info, std::chrono::system_clock::from_time_t(0));
    const tm_zip& date = info.tmz_date;
    EXPECT_EQ((std::vector<uLong> { date.tm_year, date.tm_mon, date.tm_mday, info.dosDate }), (std::vector<uLong> { 1980, 0, 1, 0 }));
}

}
