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

// Files above this size are not answered as Base64: a browser holds the text and its copies.
inline constexpr std::size_t maxBase64FileSize = 32 * 1024 * 1024;
// Pictures above this size get the drawn icon of their type instead of being decoded.
inline constexpr std::size_t maxIconPictureSize = 16 * 1024 * 1024;
// Pictures declaring more pixels than this get it too, before any is decoded: a small file can
// declare a canvas of hundreds of megabytes. Room for a photo; more than any thumbnail needs.
inline constexpr std::uint64_t maxIconPicturePixels = 4096 * 4096;

// A few memory-heavy jobs at once; the others wait for a place. A place is held only while
// the work runs, never while a client is waited for.
class WorkRation {
public:
    explicit WorkRation(std::size_t places)
        : m_free(places)
    {
    }
    // Waits for a place; it is given back when the last copy of the token goes.
    std::shared_ptr<const void> take();

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
    // A 200 "OK" answer with the headers whose body is `before`, the regular file's bytes in
    // Base64 with each "/" written "\/" as the JSON writer writes it, then `after`. It is
    // encoded from the file straight into the connection's buffer as the connection takes it,
    // so it holds no text of its own and the same memory for any file, however slowly it is
    // read; the answer keeps the descriptor. Absent for anything but a regular file of at most
    // maxBytes that can be read.
    std::optional<HttpResponse> base64Response(std::string before, std::string after, HttpHeaders headers, std::size_t maxBytes);

private:
    int m_descriptor { -1 };
    struct stat m_status { };
};

}
