#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// What a web view and its renderer process say to each other over a socket pair. Every message
// is a header (type and payload length, 32 bits each) and its payload; a frame's pixels go in
// memory the app lends, a memfd of exactly their size beside the message, and come back with it. Each side takes the other for hostile: a message that is
// too big, cut short, carries a value out of range or has bytes left over is refused, and the
// connection ends.
namespace vesk::platform::renderer {

using Bytes = std::vector<std::uint8_t>;

// An HTML document is parsed at most this far. No document or resource bigger than the body cap
// is sent inline; a bigger document comes in shared memory, up to the most the app reads.
constexpr std::size_t maximumDocument = 16u << 20;
constexpr std::size_t maximumResourceBody = 32u << 20;
constexpr std::size_t maximumSharedDocument = 128u << 20;
constexpr std::size_t maximumMessage = maximumResourceBody + (1u << 20);
constexpr std::size_t maximumURL = 16u << 10;
constexpr std::size_t maximumText = 64u << 10;
constexpr std::size_t maximumListed = 4096;
// A frame's pixels: no side longer than a big screen at scale 4.
constexpr std::uint32_t maximumFramePixels = 8192;
constexpr double maximumPoints = 16384;
// Descriptors a renderer may hold at once, set before it reads its document and never raised:
// its standard ones, the socket, the memory lent for a frame and the few files a library reads
// at a time. Memory it keeps a descriptor of past its frame is bounded by it.
constexpr unsigned maximumDescriptors = 16;
// Threads a renderer runs at once, its first included.
constexpr std::size_t maximumThreads = 64;
// Threads a renderer may make over its life, however briefly each lives: at first as many as a
// page naming hundreds of fonts makes while it is laid out and drawn (pango matches and sorts each
// font in threads of their own; a page of a few fonts makes a few dozen), then a few a second.
constexpr std::size_t maximumThreadsMade = 2048;
constexpr double threadsMadePerSecond = 4;
constexpr double maximumPageHeight = 1e8;
constexpr double maximumPageWidth = 1e8;

// A parse, layout or draw that takes longer than this much processor time ends the renderer;
// ThreadSanitizer's builds run it several times slower, AddressSanitizer's about twice.
#if defined(__SANITIZE_THREAD__)
constexpr int workSeconds = 60;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int workSeconds = 20;
#else
constexpr int workSeconds = 10;
#endif

enum class MessageType : std::uint32_t {
    // App to renderer.
    Load = 1,
    Viewport,
    Click,
    Resource,
    FrameMemory,
    // Renderer to app.
    Ready = 100,
    Request,
    PageInfo,
    Frame,
    LinkAt,
    Failed,
    Threads,
};

enum class DocumentKind : std::uint8_t {
    HTML,
    Word,
    // A picture shown as itself: PNG, JPEG, GIF, TIFF or SVG.
    Picture,
    // Pages stacked on grey.
    PDF,
};

// The part of the page shown: its width and height in points, the device scale, and the top
// and left of the shown part in page coordinates. The page is laid out at the width.
struct Viewport {
    double width = 0;
    double height = 0;
    double scale = 1;
    double top = 0;
    double left = 0;
    bool operator==(const Viewport&) const = default;
};

struct Load {
    DocumentKind kind = DocumentKind::HTML;
    std::string URL;
    // The HTTP Content-Type as it came, with its charset; empty for files.
    std::string contentType;
    // Empty when the document is shared instead.
    Bytes data;
    Viewport viewport;
    // Not 0: the document is this many bytes in a sealed memfd beside the message.
    std::uint64_t sharedSize = 0;
};

struct Click {
    std::uint64_t serial = 0;
    double x = 0;
    double y = 0;
};

// A resource the renderer asked for, or a picture of the page; no body when it failed.
struct Resource {
    std::string URL;
    bool loaded = false;
    std::string MIMEType;
    Bytes body;
};

// Memory for the next frame, lent by the app: a memfd beside the message, exactly the size of
// the frame for the last viewport sent, that can neither grow nor shrink. The renderer draws into
// it and hands it back with the frame; it makes no memory of its own that no limit counts.
struct FrameMemory {
    // The descriptor as the renderer took it from beside the message; never sent as such.
    int descriptor = -1;
};

struct Ready { };

struct Request {
    std::string URL;
};

// What the renderer knows of the page: first of its first part, which it shows before the
// whole is laid out (not complete, with no references), then of the whole.
struct PageInfo {
    bool complete = true;
    std::string title;
    double height = 0;
    std::optional<std::string> base;
    std::vector<std::string> resources;
    std::vector<std::pair<std::string, std::string>> links;
    std::vector<std::string> pictures;
};

struct Frame {
    Viewport viewport;
    std::uint32_t pixelWidth = 0;
    std::uint32_t pixelHeight = 0;
    std::uint32_t stride = 0;
    double contentHeight = 0;
    // As wide as the viewport, or as what the page draws beyond it on the right.
    double contentWidth = 0;
};

// Where a click leads; for a link to a fragment, where that fragment's target starts in the page.
struct LinkAt {
    std::uint64_t serial = 0;
    std::optional<std::string> URL;
    std::optional<double> anchorTop;
};

struct Failed {
    std::string reason;
};

// Sent once, as the sandbox closes: beside it the descriptor through which the renderer's
// system-call filter asks the app for each new thread (ThreadWarden). The renderer keeps no copy.
struct Threads { };

using AppMessage = std::variant<Load, Viewport, Click, Resource, FrameMemory>;
using RendererMessage = std::variant<Ready, Request, PageInfo, Frame, LinkAt, Failed, Threads>;

// A message as it goes over the socket: header and payload.
Bytes encode(const AppMessage& message);
Bytes encode(const RendererMessage& message);

// A payload of the given type; nothing when it is malformed.
std::optional<AppMessage> decodeAppMessage(std::uint32_t type, const std::uint8_t* data, std::size_t size);
std::optional<RendererMessage> decodeRendererMessage(std::uint32_t type, const std::uint8_t* data, std::size_t size);

// A frame's pixel buffer: how many bytes it must hold.
std::optional<std::size_t> frameBytes(const Frame& frame);
// The frame drawn for a viewport: its pixels (each side at least 1, at most the cap) and rows.
Frame frameFor(const Viewport& viewport);

// Memory for a frame of the size: a memfd sealed against growing and shrinking (and further
// seals), its pixels zero; -1 (with errno set) when it can't be made.
int makeFrameMemory(std::size_t size);

// A memfd holding the bytes, sealed against any change, to go beside a message; -1 (with errno
// set) when it can't be made.
int makeSharedDocument(const std::uint8_t* data, std::size_t size);
// The size bytes of a received document, read through a read-only mapping; nothing when the
// memory could still change or shrink under the reader, or holds fewer bytes.
std::optional<Bytes> readSharedDocument(int memory, std::size_t size);

// One end of the socket pair. Reads gather bytes into a buffer from which whole messages are
// taken, so a reader that must never stall reads only what is there. A received descriptor
// waits beside the messages until one is taken; descriptors nobody takes are closed.
class Channel {
public:
    explicit Channel(int fd)
        : m_fd(fd)
    {
    }
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    int fd() const { return m_fd; }
    // Writes the whole message (and hands over the descriptor), waiting while the peer's buffer
    // is full; false when the peer is gone.
    bool send(const Bytes& message, int descriptor = -1);
    // Writes what the socket takes now without waiting; the bytes written, or nothing when the
    // peer is gone. A descriptor goes with the first byte written; with none written, it is
    // still to send.
    std::optional<std::size_t> sendSome(const std::uint8_t* data, std::size_t size, int descriptor = -1);

    struct Received {
        std::uint32_t type = 0;
        Bytes payload;
    };
    // Waits for one whole message; nothing on end of file, an error or a header out of bounds.
    std::optional<Received> receive();
    // Reads what has arrived without waiting; false on end of file, an error or a peer that
    // sends too many descriptors.
    bool readAvailable();
    // A whole message already read, if there is one.
    std::optional<Received> takeMessage();
    // Whether a message (or part of one) is waiting, read or not.
    bool hasInput();
    // Set when a header was out of bounds.
    bool isBroken() const { return m_broken; }
    // A descriptor that came with the messages, oldest first; -1 when none did.
    int takeDescriptor();
    // Messages longer than this from now on break the channel, as one past any message's cap does.
    void setMaximumMessage(std::size_t size) { m_maximumMessage = size; }
    // Closes the socket and lets go of what was read and not taken, descriptors and all.
    void close();

private:
    bool readSome(bool wait);
    int m_fd;
    Bytes m_buffer;
    std::size_t m_start = 0;
    bool m_broken = false;
    std::size_t m_maximumMessage = maximumMessage;
    std::vector<int> m_descriptors;
};

// Answers a sandboxed process's requests for new threads, which its system-call filter hands
// over through a seccomp listener: each is granted while the process runs fewer threads than the
// limit and has made fewer than its share so far, and refused (EAGAIN) past either, however fast
// they come. The share is refilled at its rate, up to what it was at first (maximumThreadsMade).
// One thread answers.
class ThreadWarden {
public:
    // Takes the listener.
    ThreadWarden(pid_t pid, int listener, std::size_t limit = maximumThreads);
    ~ThreadWarden();
    ThreadWarden(const ThreadWarden&) = delete;
    ThreadWarden& operator=(const ThreadWarden&) = delete;
    // Readable when a request waits.
    int fd() const { return m_listener; }
    // Answers the request waiting; false once the listener is broken.
    bool answer();
    // How many requests were refused so far.
    std::size_t refused() const { return m_refused; }

private:
    std::size_t running();

    pid_t m_pid;
    int m_listener;
    std::size_t m_limit;
    // Threads it may still make, and when that was last refilled.
    double m_left = maximumThreadsMade;
    std::chrono::steady_clock::time_point m_refilled = std::chrono::steady_clock::now();
    std::size_t m_refused = 0;
    std::set<pid_t> m_seen;
    // Threads granted that were not seen yet: one made and gone at once, or never made, counts
    // until it is due.
    std::deque<std::chrono::steady_clock::time_point> m_unseen;
};

}
