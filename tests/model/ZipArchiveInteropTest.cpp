#include "model/ZipArchive.h"

#include "ZipTestSupport.h"

#include <gmock/gmock.h>

using namespace vesk;
using namespace vesk::ziptest;
using ::testing::ElementsAre;

namespace {

// Archives go both ways between the wrapper and Info-ZIP and Python's zipfile.
class ZipArchiveInteropTest : public ::testing::Test {
protected:
    TemporaryFolder folder;
    std::string source = folder / "source";

    void SetUp() override
    {
        writeText(source + "/readme.txt", "Read me.\n");
        std::string big;
        for (int i = 0; i < 20000; ++i)
            big += "line " + std::to_string(i * 7919 % 10007) + " of a file that compresses\n";
        writeText(source + "/docs/big.txt", big);
        writeText(source + "/docs/na\xc3\xafve \xe2\x82\xac.txt", "unicode name");
        std::string binary;
        for (int i = 0; i < 4096; ++i)
            binary += static_cast<char>((i * 131) & 0xff);
        writeText(source + "/bin/data.bin", binary);
        ::chmod((source + "/bin/data.bin").c_str(), 0751);
        fs::create_directories(source + "/empty");
    }

    void requireTools(std::initializer_list<const char*> tools)
    {
        for (const char* tool : tools) {
            if (run(std::string("command -v ") + tool + " >/dev/null 2>&1") != 0)
                GTEST_SKIP() << tool << " is not installed";
        }
    }

    // Runs a Python script with the archive path (and the password) as its arguments; its exit status.
    int python(const std::string& script, const std::string& archive, const std::string& password = {})
    {
        writeText(folder / "check.py", script);
        return run("python3 " + shellQuoted(folder / "check.py") + " " + shellQuoted(archive) + (password.empty() ? "" : " " + shellQuoted(password)));
    }

    void expectSameTree(const std::string& extracted)
    {
        EXPECT_EQ(readText(extracted + "/readme.txt"), readText(source + "/readme.txt"));
        EXPECT_EQ(readText(extracted + "/docs/big.txt"), readText(source + "/docs/big.txt"));
        EXPECT_EQ(readText(extracted + "/docs/na\xc3\xafve \xe2\x82\xac.txt"), "unicode name");
        EXPECT_EQ(readText(extracted + "/bin/data.bin"), readText(source + "/bin/data.bin"));
        EXPECT_EQ(permissions(extracted + "/bin/data.bin"), 0751u);
    }
};

// Python tests every CRC and lists the names; unzip has checked contents and modes.
const char* pythonCheck = R"(import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    z.setpassword(sys.argv[2].encode() if len(sys.argv) > 2 else None)
    expected = ['bin/data.bin', 'docs/big.txt', 'docs/na\u00efve \u20ac.txt', 'empty/.DS_Store', 'readme.txt']
    sys.exit(0 if z.testzip() is None and sorted(z.namelist()) == expected else 1)
)";

TEST_F(ZipArchiveInteropTest, OurArchivesPassInfoZipAndPython)
{
    requireTools({ "unzip", "python3" });
    std::string archive = folder / "ours.zip";
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(archive, source));

    EXPECT_EQ(run("unzip -tqq " + shellQuoted(archive)), 0);
    EXPECT_EQ(run("unzip -qq " + shellQuoted(archive) + " -d " + shellQuoted(folder / "byunzip")), 0);
    expectSameTree(folder / "byunzip");
    EXPECT_EQ(python(pythonCheck, archive), 0);
}

TEST_F(ZipArchiveInteropTest, DataEntriesExtractAsReadableFilesAndADroppedEntryLeavesASoundArchive)
{
    requireTools({ "unzip" });
    // An odd second, which only the UTC time field holds: the archive rewritten without the
    // dropped entry keeps it.
    setModificationTime(source + "/readme.txt", 1700000001);
    mode_t previous = ::umask(022);
    ZipArchive writer(folder / "data.zip");
    ASSERT_TRUE(writer.open());
    EXPECT_TRUE(writer.writeData({ 'h', 'i' }, "data.txt"));
    EXPECT_FALSE(writer.writeFile("/proc/self/mem"));
    EXPECT_TRUE(writer.writeFile(source + "/readme.txt"));
    EXPECT_TRUE(writer.close());
    ::umask(previous);
    EXPECT_THAT(entryNames(folder / "data.zip"), ElementsAre("data.txt", "readme.txt"));
    EXPECT_EQ(run("unzip -qq " + shellQuoted(folder / "data.zip") + " -d " + shellQuoted(folder / "out")), 0);
    EXPECT_EQ(readText(folder / "out/data.txt"), "hi");
    EXPECT_EQ(permissions(folder / "out/data.txt"), 0644u);
    EXPECT_EQ(modificationTime(folder / "out/readme.txt"), 1700000001);
    ASSERT_TRUE(ZipArchive::unzipFileAtPath(folder / "data.zip", folder / "ours"));
    EXPECT_EQ(modificationTime(folder / "ours/readme.txt"), 1700000001);
}

TEST_F(ZipArchiveInteropTest, OurEncryptedArchivesOpenWithThePasswordOnly)
{
    requireTools({ "unzip", "python3" });
    std::string archive = folder / "secret.zip";
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(archive, source, false, std::string("s3cret pass")));
    for (const auto& entry : listArchive(archive)) {
        EXPECT_EQ(entry.flag & 1, 1u) << entry.name;
        EXPECT_EQ(entry.flag & 8, 0u) << entry.name;
    }

    EXPECT_EQ(run("unzip -tqq -P " + shellQuoted("s3cret pass") + " " + shellQuoted(archive)), 0);
    EXPECT_NE(run("unzip -tqq -P wrong " + shellQuoted(archive) + " >/dev/null 2>&1"), 0);
    EXPECT_EQ(python(pythonCheck, archive, "s3cret pass"), 0);

    ASSERT_TRUE(ZipArchive::unzipFileAtPath(archive, folder / "byus", true, std::string("s3cret pass"), nullptr));
    expectSameTree(folder / "byus");
}

TEST_F(ZipArchiveInteropTest, WeExtractInfoZipArchivesPlainAndEncrypted)
{
    requireTools({ "zip" });
    std::string plain = folder / "plain.zip";
    std::string secret = folder / "secret.zip";
    ASSERT_EQ(run("cd " + shellQuoted(source) + " && zip -qr " + shellQuoted(plain) + " ."), 0);
    ASSERT_EQ(run("cd " + shellQuoted(source) + " && zip -qr -P pa55 " + shellQuoted(secret) + " ."), 0);

    ASSERT_TRUE(ZipArchive::unzipFileAtPath(plain, folder / "plain"));
    expectSameTree(folder / "plain");
    EXPECT_TRUE(fs::is_directory(folder / "plain/empty"));

    // Info-ZIP puts the sizes after the data, so the password check uses the DOS time.
    bool descriptorSeen = false;
    for (const auto& entry : listArchive(secret))
        descriptorSeen = descriptorSeen || ((entry.flag & 9) == 9);
    EXPECT_TRUE(descriptorSeen);
    ASSERT_TRUE(ZipArchive::unzipFileAtPath(secret, folder / "secret", true, std::string("pa55"), nullptr));
    expectSameTree(folder / "secret");

    writeText(folder / "wrong/readme.txt", "existing");
    EXPECT_FALSE(ZipArchive::unzipFileAtPath(secret, folder / "wrong", true, std::string("nope"), nullptr));
    EXPECT_EQ(readText(folder / "wrong/readme.txt"), "existing");
}

TEST_F(ZipArchiveInteropTest, WeExtractArchivesWrittenByPython)
{
    requireTools({ "python3" });
    std::string archive = folder / "python.zip";
    // Every size and offset goes into ZIP64 fields, as for entries of 4 GiB and more.
    const char* script = R"(import sys, zipfile
zipfile.ZIP64_LIMIT = -1
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr('stored.txt', b'stored bytes', compress_type=zipfile.ZIP_STORED)
    z.writestr('deflated.txt', b'deflate me ' * 1000, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr('dir/', b'')
    info = zipfile.ZipInfo('dir/\u00e9t\u00e9.txt')
    info.external_attr = 0o100640 << 16
    info.create_system = 3
    z.writestr(info, b'summer', compress_type=zipfile.ZIP_DEFLATED)
)";
    ASSERT_EQ(python(script, archive), 0);
    std::string out = folder / "out";
    ASSERT_TRUE(ZipArchive::unzipFileAtPath(archive, out));
    EXPECT_EQ(readText(out + "/stored.txt"), "stored bytes");
    EXPECT_EQ(readText(out + "/deflated.txt").size(), 11000u) << "its CRC was checked";
    std::string summer = out + "/dir/\xc3\xa9t\xc3\xa9.txt";
    EXPECT_EQ(readText(summer), "summer");
    EXPECT_EQ(permissions(summer), 0640u);
}

// Linux allows backslashes in names: in archives made on Unix they are part of the name, as
// Info-ZIP and Python read them; only archives made on DOS or Windows separate folders with them.
TEST_F(ZipArchiveInteropTest, BackslashesSeparateFoldersOnlyInArchivesMadeOnDosOrWindows)
{
    requireTools({ "zip", "unzip" });
    std::string named = folder / "named";
    writeText(named + "/notes\\", "twelve bytes");
    writeText(named + "/a\\b.txt", "a and b");
    std::string ours = folder / "ours.zip";
    std::string infoZip = folder / "info-zip.zip";
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(ours, { named + "/notes\\", named + "/a\\b.txt" }));
    ASSERT_EQ(run("cd " + shellQuoted(named) + " && zip -q " + shellQuoted(infoZip) + " 'notes\\' 'a\\b.txt'"), 0);
    ASSERT_EQ(run("mkdir " + shellQuoted(folder / "by-unzip") + " && cd " + shellQuoted(folder / "by-unzip") + " && unzip -qq " + shellQuoted(ours)), 0);
    for (auto& [made, out] : { std::pair { ours, folder / "ours" }, std::pair { infoZip, folder / "info-zip" }, std::pair { std::string(), folder / "by-unzip" } }) {
        SCOPED_TRACE(out);
        if (!made.empty()) {
            EXPECT_TRUE(ZipArchive::unzipFileAtPath(made, out));
        }
        EXPECT_THAT(filesBelow(out), ElementsAre("a\\b.txt", "notes\\"));
        EXPECT_EQ(readText(out + "/notes\\"), "twelve bytes");
    }

    // Made on Windows, and on DOS, as Info-ZIP reads it too.
    for (uLong maker : { (10ul << 8) | 20, 20ul }) {
        std::string dos = folder / "dos.zip";
        writeRawArchive(dos, { { .name = "dir\\", .content = "", .versionMadeBy = maker }, { .name = "dir\\sub\\file.txt", .content = "inside", .versionMadeBy = maker } });
        std::string out = folder / ("dos-" + std::to_string(maker));
        EXPECT_TRUE(ZipArchive::unzipFileAtPath(dos, out));
        EXPECT_THAT(filesBelow(out), ElementsAre("dir/", "dir/sub/", "dir/sub/file.txt")) << maker;
    }
    ASSERT_EQ(run("cd " + shellQuoted(folder.path()) + " && unzip -qq dos.zip -d by-unzip-dos 2>/dev/null; test -f by-unzip-dos/dir/sub/file.txt"), 0);

    // A folder entry that holds data is made no folder: it is left out, and the run fails.
    for (auto& [name, maker] : { std::pair { std::string("x/"), (3ul << 8) | 30 }, std::pair { std::string("x\\"), 20ul } }) {
        writeRawArchive(folder / "full.zip", { { .name = name, .content = "data", .versionMadeBy = maker }, { .name = "good.txt", .content = "good" } });
        std::string out = folder / "full";
        EXPECT_FALSE(ZipArchive::unzipFileAtPath(folder / "full.zip", out)) << name;
        EXPECT_THAT(filesBelow(out), ElementsAre("good.txt")) << name;
        fs::remove_all(out);
    }
}

// Dates from 1980 to 2106 come back to the second through our archives and Info-ZIP's, made five
// hours west and unzipped nine hours east; Python, which reads only the DOS date, sees the local
// time of the maker to two seconds, and its archives come back so.
TEST_F(ZipArchiveInteropTest, DatesFrom1980To2106ComeBackExactly)
{
    requireTools({ "zip", "unzip", "python3" });
    // Odd seconds, which a DOS date can't hold; just past the signed 32-bit range; the last second
    // the UTC field can hold but two.
    const std::vector<time_t> times { 315964801, 2147483649, 2222222223, 4294967293 };
    std::string dated = folder / "dated";
    std::vector<std::string> paths;
    for (time_t time : times) {
        paths.push_back(dated + "/" + std::to_string(time));
        writeText(paths.back(), "dated");
        setModificationTime(paths.back(), time);
    }
    std::string ours = folder / "ours.zip";
    std::string infoZip = folder / "info-zip.zip";
    ASSERT_TRUE(inTimeZone("EST5", [&] { return ZipArchive::createZipFileAtPath(ours, paths); }));
    ASSERT_EQ(run("cd " + shellQuoted(dated) + " && TZ=EST5 zip -q " + shellQuoted(infoZip) + " *"), 0);
    ASSERT_EQ(run("cd " + shellQuoted(folder.path()) + " && TZ=JST-9 unzip -qq ours.zip -d by-unzip"), 0);
    for (auto& [made, out] : { std::pair { ours, folder / "ours" }, std::pair { infoZip, folder / "info-zip" }, std::pair { std::string(), folder / "by-unzip" } }) {
        if (!made.empty()) {
            EXPECT_TRUE(inTimeZone("JST-9", [&] { return ZipArchive::unzipFileAtPath(made, out); }));
        }
        for (time_t time : times)
            EXPECT_EQ(modificationTime(out + "/" + std::to_string(time)), time) << out;
    }

    // Python: the DOS dates of ours, and its own archive of those dates unzipped by us.
    std::string localTimes;
    for (time_t time : times) {
        time_t even = time & ~time_t(1);
        struct tm local { };
        inTimeZone("EST5", [&] { return ::localtime_r(&even, &local); });
        char line[64];
        std::snprintf(line, sizeof line, "%lld %d %d %d %d %d %d\n", static_cast<long long>(time), local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        localTimes += line;
    }
    writeText(folder / "local.txt", localTimes);
    const char* script = R"(import sys, zipfile
expected = [line.split() for line in open(sys.argv[1].replace('ours.zip', 'local.txt'))]
with zipfile.ZipFile(sys.argv[1]) as z:
    seen = sorted([info.filename] + [str(n) for n in info.date_time] for info in z.infolist())
with zipfile.ZipFile(sys.argv[1].replace('ours.zip', 'python.zip'), 'w') as z:
    for name, *fields in expected:
        z.writestr(zipfile.ZipInfo(name, tuple(int(n) for n in fields)), b'dated')
sys.exit(0 if seen == sorted(expected) else 1)
)";
    EXPECT_EQ(python(script, ours), 0);
    std::string out = folder / "python";
    ASSERT_TRUE(inTimeZone("EST5", [&] { return ZipArchive::unzipFileAtPath(folder / "python.zip", out); }));
    for (time_t time : times)
        EXPECT_EQ(modificationTime(out + "/" + std::to_string(time)), time & ~time_t(1));

    // A time before 1970 that Info-ZIP wrote as a negative number (its DOS date is the first
    // there is) stays before 1970.
    writeText(folder / "old/1960.txt", "old");
    setModificationTime(folder / "old/1960.txt", -315619200);
    ASSERT_EQ(run("cd " + shellQuoted(folder / "old") + " && zip -q " + shellQuoted(folder / "old.zip") + " 1960.txt"), 0);
    ASSERT_TRUE(ZipArchive::unzipFileAtPath(folder / "old.zip", folder / "old-out"));
    EXPECT_EQ(modificationTime(folder / "old-out/1960.txt"), -315619200);
}
}
