#include "http/Socket.h"

#include "http/ByteText.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vesk {

SocketError::SocketError(Code code, std::string message)
    : std::runtime_error(std::string(caseName(code)) + (message.empty() ? "" : ": " + message))
    , m_code(code)
    , m_message(std::move(message))
{
}

const char* SocketError::caseName(Code code)
{
    switch (code) {
    case Code::SocketCreationFailed:
        return "SocketCreationFailed";
    case Code::SocketSettingReUseAddrFailed:
        return "SocketSettingReUseAddrFailed";
    case Code::BindFailed:
        return "BindFailed";
    case Code::ListenFailed:
        return "ListenFailed";
    case Code::WriteFailed:
        return "WriteFailed";
    case Code::GetPeerNameFailed:
        return "GetPeerNameFailed";
    case Code::ConvertingPeerNameFailed:
        return "ConvertingPeerNameFailed";
    case Code::GetNameInfoFailed:
        return "GetNameInfoFailed";
    case Code::AcceptFailed:
        return "AcceptFailed";
    case Code::RecvFailed:
        return "RecvFailed";
    }
    return "SocketError";
}

std::string SocketError::errnoMessage(int error)
{
    char buffer[256];
    // The GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    if (text && platform::isValidUTF8(text))
        return text;
    return "Error: " + std::to_string(error);
}

namespace {

    SocketError failure(SocketError::Code code, int error)
    {
        SocketError result(code, SocketError::errnoMessage(error));
        result.setSystemError(error);
        return result;
    }

    void setOption(int descriptor, int level, int name, int value)
    {
        ::setsockopt(descriptor, level, name, &value, sizeof value);
    }

} // namespace

Socket Socket::makeListeningSocket(uint16_t port, int32_t backlog, const std::string& address)
{
    int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor == -1)
        throw failure(SocketError::Code::SocketCreationFailed, errno);
    Socket socket(descriptor);
    int one = 1;
    if (::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == -1) {
        int error = errno;
        socket.close();
        throw failure(SocketError::Code::SocketSettingReUseAddrFailed, error);
    }
    sockaddr_in socketAddress {};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(port);
    socketAddress.sin_addr.s_addr = inet_addr(address.c_str());
    if (::bind(descriptor, reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) == -1) {
        int error = errno;
        socket.close();
        throw failure(SocketError::Code::BindFailed, error);
    }
    if (::listen(descriptor, backlog) == -1) {
        int error = errno;
        socket.close();
        throw failure(SocketError::Code::ListenFailed, error);
    }
    return socket;
}

void Socket::close() const
{
    ::shutdown(socketFileDescriptor, SHUT_RDWR);
    ::close(socketFileDescriptor);
}

void Socket::shutdown() const
{
    ::shutdown(socketFileDescriptor, SHUT_RDWR);
}

Socket Socket::acceptClient() const
{
    int client;
    do
        client = ::accept4(socketFileDescriptor, nullptr, nullptr, SOCK_CLOEXEC);
    while (client == -1 && errno == EINTR);
    if (client == -1)
        throw failure(SocketError::Code::AcceptFailed, errno);
    // Keep-alive clients would otherwise wait on delayed acknowledgements.
    setOption(client, IPPROTO_TCP, TCP_NODELAY, 1);
    return Socket(client);
}

void Socket::writeString(const std::string& text) const
{
    writeBuffer(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void Socket::writeBytes(const std::vector<uint8_t>& bytes) const
{
    writeBuffer(bytes.data(), bytes.size());
}

void Socket::writeBytes(const void* bytes, size_t count) const
{
    writeBuffer(static_cast<const uint8_t*>(bytes), count);
}

void Socket::writeBuffer(const uint8_t* bytes, size_t count) const
{
    size_t sent = 0;
    while (sent < count) {
        // Linux has no per-socket SIGPIPE switch: a peer that has gone must cost
        // this write, never the process.
        ssize_t result = ::send(socketFileDescriptor, bytes + sent, count - sent, MSG_NOSIGNAL);
        if (result == -1 && errno == EINTR)
            continue;
        if (result <= 0)
            throw failure(SocketError::Code::WriteFailed, result == 0 ? EPIPE : errno);
        sent += static_cast<size_t>(result);
    }
}

int Socket::readByte() const
{
    uint8_t byte = 0;
    ssize_t result;
    do
        result = ::recv(socketFileDescriptor, &byte, 1, 0);
    while (result == -1 && errno == EINTR);
    if (result > 0)
        return byte;
    return static_cast<int>(result);
}

std::string Socket::readLine() const
{
    std::string line;
    int value;
    do {
        value = readByte();
        if (value >= 14)
            line.push_back(static_cast<char>(value));
    } while (value >= 1 && value != '\n');
    if (value == -1)
        throw failure(SocketError::Code::RecvFailed, errno);
    return line;
}

std::string Socket::peerName() const
{
    sockaddr_storage address {};
    socklen_t length = sizeof address;
    if (::getpeername(socketFileDescriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw failure(SocketError::Code::GetPeerNameFailed, errno);
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        throw failure(SocketError::Code::GetNameInfoFailed, errno);
    if (!platform::isValidUTF8(host))
        throw SocketError(SocketError::Code::ConvertingPeerNameFailed, "");
    return host;
}

uint16_t Socket::localPort() const
{
    sockaddr_in address {};
    socklen_t length = sizeof address;
    if (::getsockname(socketFileDescriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

} // namespace vesk
