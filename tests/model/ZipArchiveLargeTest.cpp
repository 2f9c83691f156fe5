#include "model/ZipArchive.h"

#include "ZipTestSupport.h"

using namespace vesk;
using namespace vesk::ziptest;

namespace {

// big.bin: 4 GiB and a byte, zeros but for marks where a size or an offset
// cut to 32 bits would show. "source FILE" makes it sparse; "file FILE"
// compares a file with it; "write ARCHIVE stored|deflated" streams it and a
// small entry into an archive; "check ARCHIVE" tests an archive's CRCs and
// that its big.bin is this one.
const char* python = R"(import functools, sys, zipfile, zlib
marks = {0: b'head', 1 << 31: b'mid!', 1 << 32: b'z'}
def pieces():
    at = 0
    for offset, mark in sorted(marks.items()):
        for start in range(at, offset, 1 << 20):
            yield bytes(min(offset - start, 1 << 20))
        yield mark
        at = offset + len(mark)
crc = lambda chunks: functools.reduce(lambda value, chunk: zlib.crc32(chunk, value), chunks, 0)
command, path = sys.argv[1:3]
if command == 'source':
    with open(path, 'wb') as f:
        for offset, mark in marks.items():
            f.seek(offset)
            f.write(mark)
elif command == 'file':
    with open(path, 'rb') as f:
        sys.exit(0 if crc(iter(lambda: f.read(1 << 20), b'')) == crc(pieces()) else 1)
elif command == 'write':
    method = zipfile.ZIP_STORED if sys.argv[3] == 'stored' else zipfile.ZIP_DEFLATED
    with zipfile.ZipFile(path, 'w', method, compresslevel=1) as z:
        with z.open('big.bin', 'w', force_zip64=True) as f:
            for piece in pieces():
                f.write(piece)
        z.writestr('after.txt', b'after')
else:
    with zipfile.ZipFile(path) as z:
        info = z.getinfo('big.bin')
        sys.exit(0 if info.file_size == (1 << 32) + 1 and info.CRC == crc(pieces()) and z.testzip() is None else 1)
)";

TEST(ZipArchiveLargeTest, EntriesOfFourGiBAndMoreGoBothWaysWithPython)
{
    if (run("command -v python3 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 is not installed";
    TemporaryFolder folder;
    // The archives and the extracted copies are sparse only in part: about 8 GiB are written, and
    // an unzip keeps 5% of the disk free.
    auto space = std::filesystem::space(folder.path());
    if (space.available < (10ull << 30) + space.capacity / 20)
        GTEST_SKIP() << "less than 10 GiB and 5% of the disk free in the temporary folder";
    writeText(folder / "script.py", python);
    auto script = [&](const std::string& command, const std::string& path, const std::string& more = {}) {
        return run("python3 " + shellQuoted(folder / "script.py") + " " + command + " " + shellQuoted(path) + " " + more);
    };

    std::string big = folder / "big.bin";
    ASSERT_EQ(script("source", big), 0);
    writeText(folder / "after.txt", "after");
    std::string ours = folder / "ours.zip";
    ASSERT_TRUE(ZipArchive::createZipFileAtPath(ours, { big, folder / "after.txt" }));
    fs::remove(big);
    EXPECT_EQ(script("check", ours), 0);

    // Ours back through the wrapper, then Python's, stored (the small entry lies past 4 GiB) and deflated.
    std::string out = folder / "out";
    for (const std::string method : { "", "stored", "deflated" }) {
        SCOPED_TRACE(method);
        std::string archive = method.empty() ? ours : folder / (method + ".zip");
        if (!method.empty()) {
            ASSERT_EQ(script("write", archive, method), 0);
        }
        ASSERT_TRUE(ZipArchive::unzipFileAtPath(archive, out));
        EXPECT_EQ(script("file", out + "/big.bin"), 0);
        EXPECT_EQ(readText(out + "/after.txt"), "after");
        fs::remove_all(out);
        fs::remove(archive);
    }
}

}
