#include "http/Socket.h"
#include "http/Loopback.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace vesk;
using vesk::test::SocketPair;

namespace {

auto openDescriptorCount()
{
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

std::vector<std::string> linesOf(const std::string& input, size_t count)
{
    SocketPair pair;
    pair.write(input);
    pair.closeWriter();
    Socket socket(pair.reader);
    std::vector<std::string> lines;
    for (size_t index = 0; index < count; ++index)
        lines.push_back(socket.readLine());
    return lines;
}

} // namespace

TEST(SocketReadLine, EndsAtLineFeedAndDropsControlBytes)
{
    struct Case {
        std::string input;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        { "GET / HTTP/1.1\r\n", { "GET / HTTP/1.1" } },
        { "a\tb\r\n", { "ab" } },
        { "\r\n", { "" } },
        { "\x0e\x1f~\x7f\n", { "\x0e\x1f~\x7f" } },
        { "\xE9\n", { "\xE9" } },
        { "\xC3\xA9\n", { "\xC3\xA9" } },
        // A zero byte ends the line; what follows is the next one.
        { std::string("one\r\ntwo\nth\0ree\n", 16), { "one", "two", "th", "ree" } },
        // The end of the stream mid-line gives what came, then empty lines.
        { "partial", { "partial", "", "" } },
    };
    for (auto& testCase : cases)
        EXPECT_EQ(linesOf(testCase.input, testCase.lines.size()), testCase.lines) << testCase.input;
}

TEST(SocketListening, PortInUseThrowsBindFailedAndLeaksNothing)
{
    Socket first = Socket::makeListeningSocket(0, 128, "127.0.0.1");
    uint16_t port = first.localPort();
    ASSERT_NE(port, 0);
    size_t before = openDescriptorCount();
    try {
        // SO_REUSEADDR does not let two listeners share a port.
        Socket::makeListeningSocket(port, 128, "127.0.0.1");
        FAIL() << "no error";
    } catch (const SocketError& error) {
        EXPECT_EQ(error.code(), SocketError::Code::BindFailed);
        EXPECT_EQ(error.message(), "Address already in use");
        EXPECT_EQ(error.systemError(), EADDRINUSE);
    }
    EXPECT_EQ(openDescriptorCount(), before);
    first.close();
}

TEST(SocketConnection, WritesReachThePeerAndAResetPeerThrowsInsteadOfEndingTheProcess)
{
    // The default disposition would end the process on a broken pipe.
    auto previous = std::signal(SIGPIPE, SIG_DFL);
    Socket listener = Socket::makeListeningSocket(0, 128, "127.0.0.1");
    vesk::test::Client client(listener.localPort()), gone(listener.localPort());
    Socket server = listener.acceptClient(), other = listener.acceptClient();
    EXPECT_EQ(server.peerName(), "127.0.0.1");
    server.writeString("héllo ");
    server.writeBytes(std::vector<uint8_t> { 'o', 0, 'k' });
    server.close();
    EXPECT_EQ(client.readAll(), std::string("héllo o\0k", 10));
    gone.reset();
    bool failed = false;
    for (int attempt = 0; attempt < 100 && !failed; ++attempt) {
        try {
            other.writeString(std::string(64 * 1024, 'x'));
        } catch (const SocketError& error) {
            EXPECT_EQ(error.code(), SocketError::Code::WriteFailed);
            failed = true;
        }
    }
    EXPECT_TRUE(failed);
    other.close();
    listener.close();
    std::signal(SIGPIPE, previous);
}
