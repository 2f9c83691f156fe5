#include "platform/foundation/TextBuffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace vesk::platform;

namespace {

std::string times(const std::string& text, std::size_t count)
{
    std::string out;
    while (count-- > 0)
        out += text;
    return out;
}

// Each block as its start and its count of lines.
std::vector<std::pair<std::size_t, std::size_t>> blocksOf(const TextBuffer& text)
{
    std::vector<std::pair<std::size_t, std::size_t>> blocks;
    for (std::size_t index = 0; index < text.blockCount(); ++index)
        blocks.emplace_back(text.blockStart(index), text.blockLineCount(index));
    return blocks;
}

}

TEST(TextBufferTest, CutsTheTextIntoBlocksOfWholeLinesAndPiecesOfLongOnes)
{
    const std::pair<std::string, std::vector<std::pair<std::size_t, std::size_t>>> cases[] = {
        { "", { { 0, 1 } } },
        { "a\nb", { { 0, 2 } } },
        { "a\nb\n", { { 0, 2 }, { 4, 1 } } }, // the empty last line after the break
        { times("x\n", 600), { { 0, 512 }, { 1024, 88 }, { 1200, 1 } } },
        { times(std::string(99, 'y') + "\n", 100), { { 0, 41 }, { 4100, 41 }, { 8200, 18 }, { 10000, 1 } } },
        // A long line starts a block of its own and is cut into pieces: after the last space of
        // its second half, else sooner, and never inside a character.
        { "short\n" + std::string(6000, 'a') + "\nend", { { 0, 1 }, { 6, 1 }, { 1030, 1 }, { 2054, 2 } } },
        { std::string(3000, 'b') + " " + std::string(3000, 'c'), { { 0, 1 }, { 3001, 1 } } },
        { times("€", 2000), { { 0, 1 }, { 1023, 1 }, { 2046, 1 } } },
    };
    for (auto& [text, blocks] : cases) {
        TextBuffer buffer(text);
        EXPECT_EQ(blocksOf(buffer), blocks) << text.substr(0, 20);
        EXPECT_EQ(buffer.blockStart(buffer.blockCount()), text.size());
        EXPECT_EQ(buffer.blockOfOffset(text.size()), buffer.blockCount() - 1) << "the end is in the last block";
    }
}

TEST(TextBufferTest, ABlockIsLaidOutWithoutTheBreakAfterItsLastLine)
{
    TextBuffer buffer(times(std::string(99, 'y') + "\n", 50) + "last");
    ASSERT_EQ(buffer.blockCount(), 2u);
    EXPECT_EQ(buffer.blockText(0), times(std::string(99, 'y') + "\n", 40) + std::string(99, 'y'));
    EXPECT_EQ(buffer.blockText(1), times(std::string(99, 'y') + "\n", 8) + std::string(99, 'y') + "\nlast");
    EXPECT_EQ(buffer.blockOfOffset(4099), 0u);
    EXPECT_EQ(buffer.blockOfOffset(4100), 1u);
}

// A read asked to stop between its chunks gives up with no text, whatever the encoding; one
// never asked reads the whole file.
TEST(TextBufferTest, AReadThatIsStoppedGivesUpWithNoText)
{
    char pattern[] = "/tmp/vesk-textbuffer-XXXXXX";
    int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::string utf8 = times("a line of the log\n", 200'000);
    std::string utf16 = "\xFF\xFE" + times(std::string("a\0\n\0", 4), 1'000'000);
    for (auto& contents : { utf8, utf16 }) {
        ASSERT_TRUE(std::ofstream(pattern, std::ios::binary) << contents);
        for (int chunks : { 0, 1, 2 }) {
            int asked = 0;
            auto stop = [&] { return asked++ >= chunks; };
            EXPECT_EQ(TextBuffer::readFile(pattern, nullptr, contents.size(), stop), nullptr) << contents.size() << " stopped after " << chunks;
        }
        auto whole = TextBuffer::readFile(pattern, nullptr, contents.size(), [] { return false; });
        ASSERT_NE(whole, nullptr);
        EXPECT_EQ(whole->size(), contents == utf8 ? utf8.size() : 2'000'000u);
    }
    ::unlink(pattern);
}
