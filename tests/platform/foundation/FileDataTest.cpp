#include "platform/foundation/FileData.h"

#include "platform/foundation/FoundationTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace vesk::platform;
namespace fs = std::filesystem;

class FileDataTest : public testing::Test {
protected:
    vesk::testing::TemporaryFolder m_scratch;
    const fs::path& m_folder = m_scratch.path();
};

TEST_F(FileDataTest, ReadsRegularFilesWithinTheLimitAndNeverAFifoOrDevice)
{
    std::ofstream(m_folder / "ten") << "0123456789";
    EXPECT_EQ(readFileContents((m_folder / "ten").string()), (Bytes { '0', '1', '2', '3', '4', '5', '6', '7', '8', '9' }));
    EXPECT_TRUE(readFileContents((m_folder / "ten").string(), 10));
    EXPECT_FALSE(readFileContents((m_folder / "ten").string(), 9));
    EXPECT_FALSE(readFileContents((m_folder / "missing").string()));
    EXPECT_FALSE(readFileContents(m_folder.string()));
    auto fifo = m_folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(readFileContents(fifo.string()));
    EXPECT_FALSE(readFileContents("/dev/zero"));
}

TEST_F(FileDataTest, AtomicWriteReplacesWholeAndKeepsTheMode)
{
    auto path = (m_folder / "store").string();
    ASSERT_TRUE(writeFileAtomically(path, Bytes { 'o', 'l', 'd' }));
    ::chmod(path.c_str(), 0600);
    ASSERT_TRUE(writeFileAtomically(path, Bytes { 'n', 'e', 'w', '!' }));
    EXPECT_EQ(readFileContents(path), (Bytes { 'n', 'e', 'w', '!' }));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder), fs::directory_iterator()), 1);
    EXPECT_FALSE(writeFileAtomically((m_folder / "no/such/folder/file").string(), Bytes { 1 }));
}
