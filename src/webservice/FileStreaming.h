#pragma once

#include "http/HttpResponse.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace vesk {

// Files above this size are not answered as Base64: the text and its JSON copies would
// hold several times the file in memory.
inline constexpr std::size_t maxBase64FileSize = 32 * 1024 * 1024;
// Pictures above this size get the drawn icon of their type instead of being decoded.
inline constexpr std::size_t maxIconPictureSize = 16 * 1024 * 1024;
// Pictures declaring more pixels than this get it too, before any is decoded: a small file can
// declare a canvas of hundreds of megabytes. Room for a photo; more than any thumbnail needs.
inline constexpr std::uint64_t maxIconPicturePixels = 4096 * 4096;

// A few memory-heavy jobs at once; the others wait for a place.
class WorkRation {
public:
    explicit WorkRation(std::size_t places)
        : m_free(places)
    {
    }
    // Waits for a place; it is given back when the last copy of the token goes.
    std::shared_ptr<const void> take();

    // Base64 answers, held until their bytes are sent.
    static WorkRation& base64Answers();
    // Pictures decoded for icons.
    static WorkRation& pictureDecodings();

private:
    std::mutex m_lock;
    std::condition_variable m_freed;
    std::size_t m_free;
};

// The item's icon fitted into 35 by 25 points at the main screen's scale, as PNG bytes: the
// model's icon, else the drawn icon of the file type; empty when neither can be drawn.
std::vector<std::uint8_t> fittedIconPNG(const std::string& path);

// An item opened for reading without waiting (a FIFO opens at once) and looked at once.
class OpenedItem {
public:
    explicit OpenedItem(const std::string& path);
    ~OpenedItem();
    OpenedItem(const OpenedItem&) = delete;
    OpenedItem& operator=(const OpenedItem&) = delete;

    bool isRegularFile() const { return m_descriptor >= 0 && S_ISREG(m_status.st_mode); }
    bool isDirectory() const { return m_descriptor >= 0 && S_ISDIR(m_status.st_mode); }
    std::uint64_t size() const { return static_cast<std::uint64_t>(m_status.st_size); }
    // The regular file's bytes; absent when it is no regular file, cannot be read or grows past the cap.
    std::optional<HttpBytes> read(std::size_t maxBytes);
    // A 200 "OK" answer whose body is the regular file's bytes, sent from the file as the
    // connection takes them; the answer keeps the descriptor. Absent for anything else.
    std::optional<HttpResponse> rawResponse();

private:
    int m_descriptor { -1 };
    struct stat m_status { };
};

}
