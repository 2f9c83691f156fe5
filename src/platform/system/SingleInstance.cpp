#include "platform/system/SingleInstance.h"

#include "platform/foundation/Digest.h"
#include "platform/foundation/Dispatch.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace vesk::platform {

namespace {

    // A request is two short lines; anything longer is not one of ours.
    constexpr std::size_t maxRequestBytes = 16 * 1024;
    constexpr int readTimeoutMs = 2000;
    // How long a later start waits for the running app to take its request; past it, the
    // running app is taken for stuck and the later start runs on its own.
    constexpr auto answerTimeout = std::chrono::seconds(20);

    struct FileDescriptor {
        int fd = -1;
        ~FileDescriptor()
        {
            if (fd >= 0)
                ::close(fd);
        }
    };

    bool makeAddress(const std::string& path, sockaddr_un& address)
    {
        address = {};
        address.sun_family = AF_UNIX;
        if (path.empty() || path.size() >= sizeof(address.sun_path))
            return false;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        return true;
    }

    bool writeAll(int fd, const std::string& text)
    {
        std::size_t done = 0;
        while (done < text.size()) {
            auto sent = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                return false;
            done += static_cast<std::size_t>(sent);
        }
        return true;
    }

    // Reads until the peer closes its side, the limit or the timeout; false on the last two.
    bool readAll(int fd, std::string& text, int timeoutMs)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buffer[1024];
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            pollfd waiting { fd, POLLIN, 0 };
            if (left <= 0 || ::poll(&waiting, 1, static_cast<int>(left)) == 0)
                return false;
            auto got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got < 0)
                return false;
            if (got == 0)
                return true;
            text.append(buffer, static_cast<std::size_t>(got));
            if (text.size() > maxRequestBytes)
                return false;
        }
    }

    enum class HandOver {
        Taken,
        NobodyListens,
        NotTaken, // a running app that is ending, or stuck
    };

    HandOver handOver(const std::string& path, const SingleInstance::Request& request, std::chrono::steady_clock::time_point deadline)
    {
        sockaddr_un address;
        if (!makeAddress(path, address))
            return HandOver::NobodyListens;
        FileDescriptor client { ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) };
        if (client.fd < 0)
            return HandOver::NobodyListens;
        if (::connect(client.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return HandOver::NobodyListens;
        std::string text;
        if (!request.url.empty())
            text += "url " + request.url + "\n";
        if (!request.shortcutType.empty())
            text += "action " + request.shortcutType + "\n";
        std::string reply;
        if (!writeAll(client.fd, text) || ::shutdown(client.fd, SHUT_WR) != 0 || !readAll(client.fd, reply, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count())))
            return HandOver::NotTaken;
        return reply == "ok\n" ? HandOver::Taken : HandOver::NotTaken;
    }

    std::optional<SingleInstance::Request> parseRequest(const std::string& text)
    {
        SingleInstance::Request request;
        std::size_t start = 0;
        while (start < text.size()) {
            auto end = text.find('\n', start);
            if (end == std::string::npos)
                return std::nullopt;
            auto line = text.substr(start, end - start);
            start = end + 1;
            if (line.starts_with("url "))
                request.url = line.substr(4);
            else if (line.starts_with("action "))
                request.shortcutType = line.substr(7);
            else
                return std::nullopt;
        }
        return request;
    }

}

std::string SingleInstance::socketPathForHome(const std::string& home)
{
    std::string folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        folder = runtime;
    else
        folder = home + "/tmp";
    return folder + "/vesk-" + sha1HexString(home).substr(0, 16) + ".socket";
}

std::unique_ptr<SingleInstance> SingleInstance::claim(const std::string& socketPath, const Request& request, bool& handedOver)
{
    handedOver = false;
    std::unique_ptr<SingleInstance> instance(new SingleInstance);
    instance->m_path = socketPath;
    sockaddr_un address;
    if (!makeAddress(socketPath, address))
        return instance; // no place for a socket: every start runs on its own
    std::error_code ignored;
    std::filesystem::create_directories(socketPath.substr(0, socketPath.rfind('/')), ignored);
    // Two starts at once take turns: one listens, the other hands over to it.
    FileDescriptor lock { ::open((socketPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600) };
    if (lock.fd >= 0)
        ::flock(lock.fd, LOCK_EX);
    // A running app that is ending takes nothing; wait for its socket to go.
    auto deadline = std::chrono::steady_clock::now() + answerTimeout;
    for (;;) {
        auto outcome = handOver(socketPath, request, deadline);
        if (outcome == HandOver::Taken) {
            handedOver = true;
            return nullptr;
        }
        if (outcome == HandOver::NobodyListens || std::chrono::steady_clock::now() >= deadline)
            break;
        ::usleep(100 * 1000);
    }
    // What is left at the path is the socket of an app that ended without removing it.
    ::unlink(socketPath.c_str());
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return instance;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0) {
        ::close(listener);
        return instance;
    }
    instance->m_socket = listener;
    return instance;
}

SingleInstance::~SingleInstance()
{
    m_stopping = true;
    if (m_wake[1] >= 0) {
        char byte = 0;
        [[maybe_unused]] auto written = ::write(m_wake[1], &byte, 1);
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_socket >= 0) {
        ::close(m_socket);
        ::unlink(m_path.c_str());
    }
    for (int fd : m_wake) {
        if (fd >= 0)
            ::close(fd);
    }
}

void SingleInstance::listen(Handler handler)
{
    if (m_socket < 0 || m_thread.joinable() || ::pipe2(m_wake, O_CLOEXEC) != 0)
        return;
    m_handler = std::move(handler);
    m_thread = std::thread([this] { serve(); });
}

void SingleInstance::serve()
{
    while (!m_stopping) {
        pollfd waiting[2] = { { m_socket, POLLIN, 0 }, { m_wake[0], POLLIN, 0 } };
        if (::poll(waiting, 2, -1) < 0 && errno != EINTR)
            return;
        if (waiting[1].revents)
            return;
        if (!(waiting[0].revents & POLLIN))
            continue;
        FileDescriptor client { ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC) };
        if (client.fd >= 0)
            answer(client.fd);
    }
}

void SingleInstance::answer(int client)
{
    // Only the same user's starts hand over.
    ucred peer {};
    socklen_t length = sizeof peer;
    if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != ::getuid())
        return;
    std::string text;
    if (!readAll(client, text, readTimeoutMs))
        return;
    auto request = parseRequest(text);
    if (!request)
        return;
    auto done = std::make_shared<std::promise<bool>>();
    auto taken = done->get_future();
    DispatchQueue::main().async([handler = m_handler, request = *request, done] { done->set_value(handler(request)); });
    // The run loop may have ended; then the request is not taken and the later start runs.
    while (taken.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (m_stopping)
            return;
    }
    if (taken.get())
        writeAll(client, "ok\n");
}

}
