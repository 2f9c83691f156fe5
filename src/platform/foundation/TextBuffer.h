#pragma once

#include "platform/foundation/NSStringEncoding.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::platform {

// A text held once and never changed, cut into blocks that a view lays out one at a time, so
// a text of a gigabyte shows and scrolls without being laid out whole. A block is whole lines
// (about blockBytes of them, at most blockLines), or one piece of a line longer than
// longestPiece: up to its last space before that, or unbrokenPiece bytes when it has none
// there. A text that is empty or ends in a line break ends in an empty block, its last (empty)
// line.
class TextBuffer {
public:
    static constexpr std::size_t blockBytes = 4096;
    static constexpr std::size_t blockLines = 512;
    static constexpr std::size_t longestPiece = 4096;
    static constexpr std::size_t unbrokenPiece = 1024;

    explicit TextBuffer(std::string text);
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    // A file's text, read once into one buffer: a byte-order mark picks UTF-8, UTF-16 or UTF-32
    // in either byte order, and without one the bytes must be UTF-8. The mark is not part of
    // the text.
    // Absent when the file is no readable regular file, is larger than maxBytes or does not
    // decode. Slow for big files: call it off the main thread. A read whose `stop` answers true
    // between chunks gives up, absent too, and frees what it read.
    static std::shared_ptr<const TextBuffer> readFile(const std::string& path, NSStringEncoding* usedEncoding, std::size_t maxBytes, const std::function<bool()>& stop = {});

    std::string_view text() const { return { m_data, m_size }; }
    std::size_t size() const { return m_size; }

    std::size_t blockCount() const { return m_starts.size(); }
    // The byte offset where the block starts; blockStart(blockCount()) is the text's size.
    std::size_t blockStart(std::size_t index) const { return index < m_starts.size() ? static_cast<std::size_t>(m_starts[index]) : m_size; }
    std::size_t blockLineCount(std::size_t index) const { return m_lines[index]; }
    // The block's text as it is laid out: without the line break that ends its last line.
    std::string_view blockText(std::size_t index) const;
    // The block that holds the byte offset; the text's end is in the last block.
    std::size_t blockOfOffset(std::size_t offset) const;

private:
    TextBuffer() = default;
    void makeBlocks();

    std::string m_string;
    std::unique_ptr<char[]> m_owned;
    const char* m_data = nullptr;
    std::size_t m_size = 0;
    std::vector<std::uint64_t> m_starts;
    std::vector<std::uint16_t> m_lines;
};

}
