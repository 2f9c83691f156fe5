#include "renderer/protocol/RendererProtocol.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <type_traits>

namespace vesk::platform::renderer {

namespace {

    // At most this many descriptors may wait unclaimed; a peer that sends more is cut off.
    constexpr std::size_t maximumWaitingDescriptors = 4;

    class Writer {
    public:
        explicit Writer(MessageType type)
        {
            put32(static_cast<std::uint32_t>(type));
            put32(0);
        }
        void put8(std::uint8_t value) { m_bytes.push_back(value); }
        void put32(std::uint32_t value) { append(&value, sizeof value); }
        void put64(std::uint64_t value) { append(&value, sizeof value); }
        void putDouble(double value) { append(&value, sizeof value); }
        void putBytes(const void* data, std::size_t size)
        {
            put32(static_cast<std::uint32_t>(size));
            append(data, size);
        }
        void putString(const std::string& text) { putBytes(text.data(), text.size()); }
        void putViewport(const Viewport& viewport)
        {
            putDouble(viewport.width);
            putDouble(viewport.height);
            putDouble(viewport.scale);
            putDouble(viewport.top);
            putDouble(viewport.left);
        }
        Bytes finish()
        {
            auto length = static_cast<std::uint32_t>(m_bytes.size() - 8);
            std::memcpy(m_bytes.data() + 4, &length, sizeof length);
            return std::move(m_bytes);
        }

    private:
        void append(const void* data, std::size_t size)
        {
            auto* bytes = static_cast<const std::uint8_t*>(data);
            m_bytes.insert(m_bytes.end(), bytes, bytes + size);
        }
        Bytes m_bytes;
    };

    // Every read is checked; the first failure sticks, and a reader with bytes left over fails.
    class Reader {
    public:
        Reader(const std::uint8_t* data, std::size_t size)
            : m_data(data)
            , m_size(size)
        {
        }
        bool ok() const { return m_ok; }
        bool done() const { return m_ok && m_offset == m_size; }

        std::uint8_t get8()
        {
            std::uint8_t value = 0;
            take(&value, sizeof value);
            return value;
        }
        std::uint32_t get32()
        {
            std::uint32_t value = 0;
            take(&value, sizeof value);
            return value;
        }
        std::uint64_t get64()
        {
            std::uint64_t value = 0;
            take(&value, sizeof value);
            return value;
        }
        bool getBool()
        {
            auto value = get8();
            if (value > 1)
                m_ok = false;
            return value == 1;
        }
        double getDouble(double lowest, double highest)
        {
            double value = 0;
            take(&value, sizeof value);
            if (!std::isfinite(value) || value < lowest || value > highest) {
                m_ok = false;
                return lowest;
            }
            return value;
        }
        Bytes getBytes(std::size_t most)
        {
            auto size = get32();
            if (!m_ok || size > most || size > m_size - m_offset) {
                m_ok = false;
                return {};
            }
            Bytes bytes(m_data + m_offset, m_data + m_offset + size);
            m_offset += size;
            return bytes;
        }
        std::string getString(std::size_t most)
        {
            auto bytes = getBytes(most);
            return std::string(bytes.begin(), bytes.end());
        }
        // A count of items that each take at least `least` bytes of what is left.
        std::size_t getCount(std::size_t most, std::size_t least)
        {
            auto count = get32();
            if (!m_ok || count > most || count > (m_size - m_offset) / least) {
                m_ok = false;
                return 0;
            }
            return count;
        }
        Viewport getViewport()
        {
            Viewport viewport;
            viewport.width = getDouble(1, maximumPoints);
            viewport.height = getDouble(1, maximumPoints);
            viewport.scale = getDouble(0.25, 4);
            viewport.top = getDouble(0, maximumPageHeight);
            viewport.left = getDouble(0, maximumPageWidth);
            return viewport;
        }

    private:
        void take(void* out, std::size_t size)
        {
            if (!m_ok || size > m_size - m_offset) {
                m_ok = false;
                return;
            }
            std::memcpy(out, m_data + m_offset, size);
            m_offset += size;
        }
        const std::uint8_t* m_data;
        std::size_t m_size;
        std::size_t m_offset = 0;
        bool m_ok = true;
    };

    template<typename T>
    std::optional<T> finished(Reader& reader, T value)
    {
        if (!reader.done())
            return std::nullopt;
        return value;
    }

}

Bytes encode(const AppMessage& message)
{
    return std::visit(
        [](const auto& value) -> Bytes {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, Load>) {
                Writer writer(MessageType::Load);
                writer.put8(static_cast<std::uint8_t>(value.kind));
                writer.putString(value.URL);
                writer.putString(value.contentType);
                writer.putBytes(value.data.data(), value.data.size());
                writer.putViewport(value.viewport);
                writer.put64(value.sharedSize);
                return writer.finish();
            } else if constexpr (std::is_same_v<T, Viewport>) {
                Writer writer(MessageType::Viewport);
                writer.putViewport(value);
                return writer.finish();
            } else if constexpr (std::is_same_v<T, Click>) {
                Writer writer(MessageType::Click);
                writer.put64(value.serial);
                writer.putDouble(value.x);
                writer.putDouble(value.y);
                return writer.finish();
            } else if constexpr (std::is_same_v<T, FrameMemory>) {
                return Writer(MessageType::FrameMemory).finish();
            } else {
                Writer writer(MessageType::Resource);
                writer.putString(value.URL);
                writer.put8(value.loaded);
                writer.putString(value.MIMEType);
                writer.putBytes(value.body.data(), value.body.size());
                return writer.finish();
            }
        },
        message);
}

Bytes encode(const RendererMessage& message)
{
    return std::visit(
        [](const auto& value) -> Bytes {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, Ready>) {
                return Writer(MessageType::Ready).finish();
            } else if constexpr (std::is_same_v<T, Request>) {
                Writer writer(MessageType::Request);
                writer.putString(value.URL);
                return writer.finish();
            } else if constexpr (std::is_same_v<T, PageInfo>) {
                Writer writer(MessageType::PageInfo);
                writer.put8(value.complete);
                writer.putString(value.title);
                writer.putDouble(value.height);
                writer.put8(value.base.has_value());
                writer.putString(value.base.value_or(""));
                writer.put32(static_cast<std::uint32_t>(value.resources.size()));
                for (auto& resource : value.resources)
                    writer.putString(resource);
                writer.put32(static_cast<std::uint32_t>(value.links.size()));
                for (auto& [text, href] : value.links) {
                    writer.putString(text);
                    writer.putString(href);
                }
                writer.put32(static_cast<std::uint32_t>(value.pictures.size()));
                for (auto& picture : value.pictures)
                    writer.putString(picture);
                return writer.finish();
            } else if constexpr (std::is_same_v<T, Frame>) {
                Writer writer(MessageType::Frame);
                writer.putViewport(value.viewport);
                writer.put32(value.pixelWidth);
                writer.put32(value.pixelHeight);
                writer.put32(value.stride);
                writer.putDouble(value.contentHeight);
                writer.putDouble(value.contentWidth);
                return writer.finish();
            } else if constexpr (std::is_same_v<T, LinkAt>) {
                Writer writer(MessageType::LinkAt);
                writer.put64(value.serial);
                writer.put8(value.URL.has_value());
                writer.putString(value.URL.value_or(""));
                writer.put8(value.anchorTop.has_value());
                writer.putDouble(value.anchorTop.value_or(0));
                return writer.finish();
            } else if constexpr (std::is_same_v<T, Threads>) {
                return Writer(MessageType::Threads).finish();
            } else {
                Writer writer(MessageType::Failed);
                writer.putString(value.reason);
                return writer.finish();
            }
        },
        message);
}

std::optional<AppMessage> decodeAppMessage(std::uint32_t type, const std::uint8_t* data, std::size_t size)
{
    Reader reader(data, size);
    switch (static_cast<MessageType>(type)) {
    case MessageType::Load: {
        Load load;
        auto kind = reader.get8();
        if (!reader.ok())
            return std::nullopt;
        if (kind > static_cast<std::uint8_t>(DocumentKind::PDF))
            return std::nullopt;
        load.kind = static_cast<DocumentKind>(kind);
        load.URL = reader.getString(maximumURL);
        load.contentType = reader.getString(maximumText);
        load.data = reader.getBytes(maximumResourceBody);
        load.viewport = reader.getViewport();
        load.sharedSize = reader.get64();
        // A document comes one way only: inline, or shared and not empty.
        if (load.sharedSize > maximumSharedDocument || (load.sharedSize > 0 && !load.data.empty()))
            return std::nullopt;
        return finished<AppMessage>(reader, std::move(load));
    }
    case MessageType::Viewport: {
        auto viewport = reader.getViewport();
        return finished<AppMessage>(reader, viewport);
    }
    case MessageType::Click: {
        Click click;
        click.serial = reader.get64();
        click.x = reader.getDouble(-maximumPoints, maximumPoints);
        click.y = reader.getDouble(-maximumPoints, maximumPageHeight);
        return finished<AppMessage>(reader, click);
    }
    case MessageType::Resource: {
        Resource resource;
        resource.URL = reader.getString(maximumURL);
        resource.loaded = reader.getBool();
        resource.MIMEType = reader.getString(maximumText);
        resource.body = reader.getBytes(maximumResourceBody);
        return finished<AppMessage>(reader, std::move(resource));
    }
    case MessageType::FrameMemory:
        return finished<AppMessage>(reader, FrameMemory {});
    default:
        return std::nullopt;
    }
}

std::optional<RendererMessage> decodeRendererMessage(std::uint32_t type, const std::uint8_t* data, std::size_t size)
{
    Reader reader(data, size);
    switch (static_cast<MessageType>(type)) {
    case MessageType::Ready:
        return finished<RendererMessage>(reader, Ready {});
    case MessageType::Threads:
        return finished<RendererMessage>(reader, Threads {});
    case MessageType::Request: {
        Request request;
        request.URL = reader.getString(maximumURL);
        return finished<RendererMessage>(reader, std::move(request));
    }
    case MessageType::PageInfo: {
        PageInfo info;
        info.complete = reader.getBool();
        info.title = reader.getString(maximumText);
        info.height = reader.getDouble(0, maximumPageHeight);
        bool hasBase = reader.getBool();
        auto base = reader.getString(maximumURL);
        // Absent is written as empty, so that every message has one spelling.
        if (hasBase)
            info.base = std::move(base);
        else if (!base.empty())
            return std::nullopt;
        auto count = reader.getCount(maximumListed, 4);
        for (std::size_t index = 0; index < count && reader.ok(); ++index)
            info.resources.push_back(reader.getString(maximumURL));
        count = reader.getCount(maximumListed, 8);
        for (std::size_t index = 0; index < count && reader.ok(); ++index) {
            auto text = reader.getString(maximumText);
            info.links.emplace_back(std::move(text), reader.getString(maximumURL));
        }
        count = reader.getCount(maximumListed, 4);
        for (std::size_t index = 0; index < count && reader.ok(); ++index)
            info.pictures.push_back(reader.getString(maximumURL));
        return finished<RendererMessage>(reader, std::move(info));
    }
    case MessageType::Frame: {
        Frame frame;
        frame.viewport = reader.getViewport();
        frame.pixelWidth = reader.get32();
        frame.pixelHeight = reader.get32();
        frame.stride = reader.get32();
        frame.contentHeight = reader.getDouble(0, maximumPageHeight);
        frame.contentWidth = reader.getDouble(0, maximumPageWidth);
        if (!reader.done() || !frameBytes(frame))
            return std::nullopt;
        return frame;
    }
    case MessageType::LinkAt: {
        LinkAt link;
        link.serial = reader.get64();
        bool hasURL = reader.getBool();
        auto url = reader.getString(maximumURL);
        if (hasURL)
            link.URL = std::move(url);
        else if (!url.empty())
            return std::nullopt;
        bool hasTop = reader.getBool();
        auto top = reader.getDouble(0, maximumPageHeight);
        if (hasTop)
            link.anchorTop = top;
        else if (top != 0 || std::signbit(top))
            return std::nullopt;
        return finished<RendererMessage>(reader, std::move(link));
    }
    case MessageType::Failed: {
        Failed failed;
        failed.reason = reader.getString(maximumText);
        return finished<RendererMessage>(reader, std::move(failed));
    }
    default:
        return std::nullopt;
    }
}

std::optional<std::size_t> frameBytes(const Frame& frame)
{
    if (frame.pixelWidth == 0 || frame.pixelHeight == 0 || frame.pixelWidth > maximumFramePixels || frame.pixelHeight > maximumFramePixels)
        return std::nullopt;
    if (frame.stride < frame.pixelWidth * 4u || frame.stride % 4 != 0 || frame.stride > maximumFramePixels * 4u + 64)
        return std::nullopt;
    return std::size_t(frame.stride) * frame.pixelHeight;
}

Frame frameFor(const Viewport& viewport)
{
    Frame frame;
    frame.viewport = viewport;
    auto pixels = [](double points) {
        // Whole pixels, compared as doubles so that no value overflows on the way.
        return static_cast<std::uint32_t>(std::clamp(std::ceil(points), 1.0, double(maximumFramePixels)));
    };
    frame.pixelWidth = pixels(viewport.width * viewport.scale);
    frame.pixelHeight = pixels(viewport.height * viewport.scale);
    // Four bytes a pixel, as cairo lays out ARGB32 rows.
    frame.stride = frame.pixelWidth * 4;
    return frame;
}

namespace {

    // Sealed once made, so that its size stays what it was made with; -1 with errno kept.
    int sealedMemory(int memory, int seals)
    {
        if (::fcntl(memory, F_ADD_SEALS, seals) != 0) {
            int error = errno;
            ::close(memory);
            errno = error;
            return -1;
        }
        return memory;
    }

}

int makeFrameMemory(std::size_t size)
{
    int memory = static_cast<int>(::syscall(SYS_memfd_create, "vesk-frame", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (memory < 0)
        return -1;
    if (::ftruncate(memory, static_cast<off_t>(size)) != 0) {
        int error = errno;
        ::close(memory);
        errno = error;
        return -1;
    }
    return sealedMemory(memory, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL);
}

int makeSharedDocument(const std::uint8_t* data, std::size_t size)
{
    int memory = static_cast<int>(::syscall(SYS_memfd_create, "vesk-document", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (memory < 0)
        return -1;
    std::size_t written = 0;
    while (written < size) {
        auto step = ::pwrite(memory, data + written, size - written, static_cast<off_t>(written));
        if (step < 0 && errno == EINTR)
            continue;
        if (step <= 0) {
            int error = step < 0 ? errno : EIO;
            ::close(memory);
            errno = error;
            return -1;
        }
        written += static_cast<std::size_t>(step);
    }
    return sealedMemory(memory, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
}

std::optional<Bytes> readSharedDocument(int memory, std::size_t size)
{
    if (size == 0 || size > maximumSharedDocument)
        return std::nullopt;
    // Memory that could shrink would fault the reader; memory that could change would let the
    // document differ from one read to the next.
    int seals = ::fcntl(memory, F_GET_SEALS);
    constexpr int needed = F_SEAL_SHRINK | F_SEAL_WRITE;
    struct stat facts { };
    if (seals < 0 || (seals & needed) != needed || ::fstat(memory, &facts) != 0 || !S_ISREG(facts.st_mode) || facts.st_size < 0
        || static_cast<std::uint64_t>(facts.st_size) < size)
        return std::nullopt;
    auto* mapped = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, memory, 0);
    if (mapped == MAP_FAILED)
        return std::nullopt;
    auto* bytes = static_cast<const std::uint8_t*>(mapped);
    Bytes document(bytes, bytes + size);
    ::munmap(mapped, size);
    return document;
}

Channel::~Channel()
{
    close();
}

void Channel::close()
{
    for (int descriptor : m_descriptors)
        ::close(descriptor);
    m_descriptors.clear();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    Bytes().swap(m_buffer);
    m_start = 0;
}

bool Channel::send(const Bytes& message, int descriptor)
{
    std::size_t sent = 0;
    while (sent < message.size()) {
        iovec part { const_cast<std::uint8_t*>(message.data() + sent), message.size() - sent };
        msghdr header {};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] {};
        if (descriptor >= 0 && sent == 0) {
            header.msg_control = control;
            header.msg_controllen = sizeof control;
            auto* item = CMSG_FIRSTHDR(&header);
            item->cmsg_level = SOL_SOCKET;
            item->cmsg_type = SCM_RIGHTS;
            item->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(item), &descriptor, sizeof(int));
        }
        auto written = ::sendmsg(m_fd, &header, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        sent += static_cast<std::size_t>(written);
    }
    return true;
}

std::optional<std::size_t> Channel::sendSome(const std::uint8_t* data, std::size_t size, int descriptor)
{
    iovec part { const_cast<std::uint8_t*>(data), size };
    msghdr header {};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] {};
    if (descriptor >= 0) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        auto* item = CMSG_FIRSTHDR(&header);
        item->cmsg_level = SOL_SOCKET;
        item->cmsg_type = SCM_RIGHTS;
        item->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(item), &descriptor, sizeof(int));
    }
    for (;;) {
        auto written = ::sendmsg(m_fd, &header, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written >= 0)
            return static_cast<std::size_t>(written);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return std::nullopt;
    }
}

bool Channel::readSome(bool wait)
{
    // Reads in big steps, but never far past what a message may hold.
    constexpr std::size_t step = 256u << 10;
    if (m_start > 0 && m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    }
    auto used = m_buffer.size();
    m_buffer.resize(used + step);
    iovec part { m_buffer.data() + used, step };
    msghdr header {};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t got;
    do
        got = ::recvmsg(m_fd, &header, MSG_CMSG_CLOEXEC | (wait ? 0 : MSG_DONTWAIT));
    while (got < 0 && errno == EINTR);
    m_buffer.resize(used + std::max<ssize_t>(got, 0));
    if (got < 0)
        return !wait && (errno == EAGAIN || errno == EWOULDBLOCK);
    if (got == 0)
        return false;
    for (auto* item = CMSG_FIRSTHDR(&header); item; item = CMSG_NXTHDR(&header, item)) {
        if (item->cmsg_level != SOL_SOCKET || item->cmsg_type != SCM_RIGHTS)
            continue;
        auto count = (item->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t index = 0; index < count; ++index) {
            int descriptor = -1;
            std::memcpy(&descriptor, CMSG_DATA(item) + index * sizeof(int), sizeof(int));
            m_descriptors.push_back(descriptor);
        }
    }
    // Descriptors cut off for lack of room, or too many waiting: the peer misbehaves.
    return !(header.msg_flags & MSG_CTRUNC) && m_descriptors.size() <= maximumWaitingDescriptors;
}

bool Channel::readAvailable()
{
    return readSome(false);
}

std::optional<Channel::Received> Channel::takeMessage()
{
    if (m_broken || m_buffer.size() - m_start < 8)
        return std::nullopt;
    Received received;
    std::uint32_t length = 0;
    std::memcpy(&received.type, m_buffer.data() + m_start, 4);
    std::memcpy(&length, m_buffer.data() + m_start + 4, 4);
    if (length > m_maximumMessage) {
        m_broken = true;
        return std::nullopt;
    }
    if (m_buffer.size() - m_start - 8 < length)
        return std::nullopt;
    auto* begin = m_buffer.data() + m_start + 8;
    received.payload.assign(begin, begin + length);
    m_start += 8 + length;
    // Keeps the buffer from holding on to a big message already taken.
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        m_start = 0;
    } else if (m_start > (1u << 20)) {
        // Copied rather than moved to the front, so that the room a big message took goes too.
        m_buffer = Bytes(m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start), m_buffer.end());
        m_start = 0;
    }
    return received;
}

std::optional<Channel::Received> Channel::receive()
{
    for (;;) {
        if (auto message = takeMessage())
            return message;
        if (m_broken || !readSome(true))
            return std::nullopt;
    }
}

bool Channel::hasInput()
{
    if (m_buffer.size() > m_start)
        return true;
    pollfd watched { m_fd, POLLIN, 0 };
    return ::poll(&watched, 1, 0) > 0;
}

int Channel::takeDescriptor()
{
    if (m_descriptors.empty())
        return -1;
    int descriptor = m_descriptors.front();
    m_descriptors.erase(m_descriptors.begin());
    return descriptor;
}

ThreadWarden::ThreadWarden(pid_t pid, int listener, std::size_t limit)
    : m_pid(pid)
    , m_listener(listener)
    , m_limit(limit)
{
}

ThreadWarden::~ThreadWarden()
{
    if (m_listener >= 0)
        ::close(m_listener);
}

// The threads the process runs, those granted but not seen yet included.
std::size_t ThreadWarden::running()
{
    std::set<pid_t> now;
    if (auto* tasks = ::opendir(("/proc/" + std::to_string(m_pid) + "/task").c_str())) {
        while (auto* entry = ::readdir(tasks)) {
            if (entry->d_name[0] != '.')
                now.insert(static_cast<pid_t>(std::atoi(entry->d_name)));
        }
        ::closedir(tasks);
    }
    for (auto tid : now) {
        if (!m_seen.contains(tid) && !m_unseen.empty())
            m_unseen.pop_front();
    }
    m_seen = std::move(now);
    // A grant unseen for this long never made a thread, or made one that ended at once.
    auto due = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    while (!m_unseen.empty() && m_unseen.front() < due)
        m_unseen.pop_front();
    return m_seen.size() + m_unseen.size();
}

bool ThreadWarden::answer()
{
    seccomp_notif request {};
    if (::ioctl(m_listener, SECCOMP_IOCTL_NOTIF_RECV, &request) != 0)
        // ENOENT: the thread that asked is gone, or was interrupted.
        return errno == EINTR || errno == ENOENT;
    seccomp_notif_resp response {};
    response.id = request.id;
    // Each grant costs the answering thread more than a thread that ends at once costs the
    // process: one that makes them without end is refused once its share is spent.
    auto now = std::chrono::steady_clock::now();
    m_left = std::min<double>(maximumThreadsMade, m_left + std::chrono::duration<double>(now - m_refilled).count() * threadsMadePerSecond);
    m_refilled = now;
    bool granted = m_left >= 1 && running() < m_limit;
    if (granted) {
        response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        m_left -= 1;
    } else {
        response.error = -EAGAIN;
        ++m_refused;
    }
    if (::ioctl(m_listener, SECCOMP_IOCTL_NOTIF_SEND, &response) != 0)
        return errno == EINTR || errno == ENOENT;
    if (!granted)
        return true;
    // The thread shows within microseconds of the answer; the next request counts it only once
    // it has.
    auto waiting = m_unseen.size() + 1;
    m_unseen.push_back(std::chrono::steady_clock::now());
    for (int look = 0; look < 300; ++look) {
        running();
        if (m_unseen.size() < waiting)
            break;
        if (look > 100)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

}
