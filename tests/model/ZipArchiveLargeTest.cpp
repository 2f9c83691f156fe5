#include "model/ZipArchive.h"

#include "ZipTestSupport.h"

using namespace vesk;
using namespace vesk::ziptest;

namespace {

// One entry of 4 GiB and a byte, zeros but for marks where a size or an
// offset cut to 32 bits would show, then a small entry behind it.
constexpr std::uint64_t bigSize = (std::uint64_t(1) << 32) + 1;
const std::vector<std::pair<std::uint64_t, std::string>> marks = { { 0, "head" }, { std::uint64_t(1) << 31, "mid!" }, { bigSize - 1, "z" } };

// "write ARCHIVE stored|deflated" streams the entries into a new archive;
// "check ARCHIVE" tests an archive's CRCs and the big entry's size and CRC.
const char* python = R"(import sys, zipfile, zlib
size, marks = (1 << 32) + 1, [(0, b'head'), (1 << 31, b'mid!'), ((1 << 32), b'z')]
def pieces():
    chunk, at = bytes(1 << 20), 0
    for offset, mark in marks:
        while offset - at > len(chunk):
            yield chunk
            at += len(chunk)
        yield chunk[:offset - at] + mark
        at = offset + len(mark)
if sys.argv[1] == 'write':
    method = zipfile.ZIP_STORED if sys.argv[3] == 'stored' else zipfile.ZIP_DEFLATED
    with zipfile.ZipFile(sys.argv[2], 'w', method, compresslevel=1) as z:
        with z.open('big.bin', 'w', force_zip64=True) as f:
            for piece in pieces():
                f.write(piece)
        z.writestr('after.txt', b'after')
else:
    crc = 0
    for piece in pieces():
        crc = zlib.crc32(piece, crc)
    with zipfile.ZipFile(sys.argv[2]) as z:
        info = z.getinfo('big.bin')
        sys.exit(0 if info.file_size == size and info.CRC == crc and z.testzip() is None else 1)
)";

void expectBigFile(const std::string& path)
{
    EXPECT_EQ(static_cast<std::uint64_t>(statOf(path).st_size), bigSize);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    for (const auto& [offset, mark] : marks) {
        std::string read(mark.size(), '\0');
        EXPECT_EQ(::pread(fd, read.data(), read.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(read.size()));
        EXPECT_EQ(read, mark) << "at " << offset;
    }
    ::close(fd);
}

TEST(ZipArchiveLargeTest, EntriesOfFourGiBAndMoreGoBothWaysWithPython)
{
    if (run("command -v python3 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 is not installed";
    TemporaryFolder folder;
    writeText(folder / "script.py", python);
    auto script = [&](const std::string& arguments) { return run("python3 " + shellQuoted(folder / "script.py") + " " + arguments); };

    std::string big = folder / "big.bin";
    int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(bigSize)), 0);
    for (const auto& [offset, mark] : marks)
        ASSERT_EQ(::pwrite(fd, mark.data(), mark.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(mark.size()));
    ::close(fd);
    writeText(folder / "after.txt", "after");
    std::string ours = folder / "ours.zip";
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(ours, { big, folder / "after.txt" }));
    fs::remove(big);
    EXPECT_EQ(script("check " + shellQuoted(ours)), 0);

    // Ours back through the wrapper, then Python's, stored (the small entry lies past 4 GiB) and deflated.
    std::string out = folder / "out";
    for (const std::string method : { "", "stored", "deflated" }) {
        SCOPED_TRACE(method);
        std::string archive = method.empty() ? ours : folder / (method + ".zip");
        if (!method.empty()) {
            ASSERT_EQ(script("write " + shellQuoted(archive) + " " + method), 0);
        }
        ASSERT_TRUE(ZipArchive::unzipFileAtPath(archive, out));
        expectBigFile(out + "/big.bin");
        EXPECT_EQ(readText(out + "/after.txt"), "after");
        fs::remove_all(out);
        fs::remove(archive);
    }
}

}
