#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vesk {

// A failed socket call. The code is the case's position; the message is the
// system's text for errno, taken right after the failing call.
class SocketError : public std::runtime_error {
public:
    enum class Code {
        SocketCreationFailed = 0,
        SocketSettingReUseAddrFailed = 1,
        BindFailed = 2,
        ListenFailed = 3,
        WriteFailed = 4,
        GetPeerNameFailed = 5,
        ConvertingPeerNameFailed = 6,
        GetNameInfoFailed = 7,
        AcceptFailed = 8,
        RecvFailed = 9,
    };

    SocketError(Code code, std::string message);

    Code code() const { return m_code; }
    const std::string& message() const { return m_message; }
    // The system errno behind the failure, 0 when there is none.
    int systemError() const { return m_errno; }
    void setSystemError(int error) { m_errno = error; }

    static const char* caseName(Code);
    // The message text for an errno value: strerror when it is valid UTF-8,
    // else "Error: " and the number.
    static std::string errnoMessage(int error);

private:
    Code m_code;
    std::string m_message;
    int m_errno { 0 };
};

// Thin wrapper over one descriptor. Copies share the descriptor; destroying a
// Socket never closes it, only close() does.
class Socket {
public:
    explicit Socket(int descriptor = -1)
        : socketFileDescriptor(descriptor)
    {
    }

    // An IPv4 listener on the address (all interfaces by default).
    static Socket makeListeningSocket(uint16_t port = 8080, int32_t backlog = 128, const std::string& address = "0.0.0.0");

    int descriptor() const { return socketFileDescriptor; }
    void close() const;
    void shutdown() const;
    Socket acceptClient() const;
    void writeString(const std::string& text) const;
    void writeBytes(const std::vector<uint8_t>& bytes) const;
    void writeBytes(const void* bytes, size_t count) const;
    // The byte read (0 to 255), 0 at end of stream, -1 when the read failed.
    int readByte() const;
    std::string readLine() const;
    std::string peerName() const;
    // The bound port, for listeners made on port 0.
    uint16_t localPort() const;

    bool operator==(const Socket& other) const { return socketFileDescriptor == other.socketFileDescriptor; }

private:
    void writeBuffer(const uint8_t* bytes, size_t count) const;

    int socketFileDescriptor;
};

} // namespace vesk

template<>
struct std::hash<vesk::Socket> {
    size_t operator()(const vesk::Socket& socket) const noexcept { return std::hash<int>()(socket.descriptor()); }
};
