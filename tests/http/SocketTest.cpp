#include "http/Socket.h"
#include "http/Loopback.h"

#include <csignal>
#include <dirent.h>
#include <gtest/gtest.h>
#include <thread>
#include <unordered_set>

using namespace vesk;
using vesk::test::SocketPair;

namespace {

size_t openDescriptorCount()
{
    size_t count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (readdir(folder))
            ++count;
        closedir(folder);
    }
    return count;
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
        std::string line;
    };
    const Case cases[] = {
        { "GET / HTTP/1.1\r\n", "GET / HTTP/1.1" },
        { "abc\n", "abc" },
        { "a\tb\r\n", "ab" },
        { "\r\n", "" },
        { std::string("ab\0cd\n", 6), "ab" },
        { "\x0e\x1f~\x7f\n", "\x0e\x1f~\x7f" },
        { "\xE9\n", "\xE9" },
        { "\xC3\xA9\n", "\xC3\xA9" },
    };
    for (auto& testCase : cases)
        EXPECT_EQ(linesOf(testCase.input, 1)[0], testCase.line) << testCase.input;
}

TEST(SocketReadLine, KeepsWhatFollowsTheLine)
{
    auto lines = linesOf(std::string("one\r\ntwo\nth\0ree\n", 16), 4);
    EXPECT_EQ(lines, (std::vector<std::string> { "one", "two", "th", "ree" }));
}

TEST(SocketReadLine, EndOfStreamMidLineGivesWhatCame)
{
    auto lines = linesOf("partial", 3);
    EXPECT_EQ(lines, (std::vector<std::string> { "partial", "", "" }));
}

TEST(SocketReadLine, FailedReadThrowsRecvFailed)
{
    try {
        Socket(-1).readLine();
        FAIL() << "no error";
    } catch (const SocketError& error) {
        EXPECT_EQ(error.code(), SocketError::Code::RecvFailed);
        EXPECT_EQ(error.message(), "Bad file descriptor");
    }
}

TEST(SocketReadByte, ByteEndAndFailure)
{
    SocketPair pair;
    pair.write("\xff");
    pair.closeWriter();
    Socket socket(pair.reader);
    EXPECT_EQ(socket.readByte(), 255);
    EXPECT_EQ(socket.readByte(), 0);
    EXPECT_EQ(Socket(-1).readByte(), -1);
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

TEST(SocketListening, AcceptOnClosedListenerThrowsAcceptFailed)
{
    Socket listener = Socket::makeListeningSocket(0, 128, "127.0.0.1");
    listener.close();
    EXPECT_THROW(listener.acceptClient(), SocketError);
}

TEST(SocketConnection, PeerNameAndWritesReachThePeer)
{
    Socket listener = Socket::makeListeningSocket(0, 128, "127.0.0.1");
    vesk::test::Client client(listener.localPort());
    Socket server = listener.acceptClient();
    EXPECT_EQ(server.peerName(), "127.0.0.1");
    server.writeString("héllo ");
    server.writeBytes(std::vector<uint8_t> { 'o', 0, 'k' });
    server.close();
    EXPECT_EQ(client.readAll(), std::string("héllo o\0k", 10));
    listener.close();
}

TEST(SocketConnection, PeerNameOfUnconnectedSocketFails)
{
    try {
        Socket(-1).peerName();
        FAIL() << "no error";
    } catch (const SocketError& error) {
        EXPECT_EQ(error.code(), SocketError::Code::GetPeerNameFailed);
        EXPECT_EQ(error.message(), "Bad file descriptor");
    }
}

TEST(SocketConnection, WritingToAResetPeerThrowsInsteadOfEndingTheProcess)
{
    // The default disposition would end the process on a broken pipe.
    auto previous = std::signal(SIGPIPE, SIG_DFL);
    Socket listener = Socket::makeListeningSocket(0, 128, "127.0.0.1");
    vesk::test::Client client(listener.localPort());
    Socket server = listener.acceptClient();
    client.reset();
    std::string chunk(64 * 1024, 'x');
    bool failed = false;
    for (int attempt = 0; attempt < 100 && !failed; ++attempt) {
        try {
            server.writeString(chunk);
        } catch (const SocketError& error) {
            EXPECT_EQ(error.code(), SocketError::Code::WriteFailed);
            failed = true;
        }
    }
    EXPECT_TRUE(failed);
    server.close();
    listener.close();
    std::signal(SIGPIPE, previous);
}

TEST(SocketConnection, EmptyWriteMakesNoSystemCall)
{
    // A call on descriptor -1 would fail; an empty write must not try.
    EXPECT_NO_THROW(Socket(-1).writeBytes(std::vector<uint8_t> {}));
    EXPECT_NO_THROW(Socket(-1).writeString(""));
    EXPECT_THROW(Socket(-1).writeString("x"), SocketError);
}

TEST(SocketIdentity, EqualAndHashedByDescriptor)
{
    Socket a(7), b(7), c(8);
    EXPECT_EQ(a, b);
    EXPECT_FALSE(a == c);
    std::unordered_set<Socket> set { a, b, c };
    EXPECT_EQ(set.size(), 2u);
    EXPECT_EQ(std::hash<Socket>()(a), std::hash<Socket>()(b));
}

TEST(SocketError, MessageFollowsErrno)
{
    EXPECT_EQ(SocketError::errnoMessage(EADDRINUSE), "Address already in use");
    SocketError error(SocketError::Code::WriteFailed, "Broken pipe");
    EXPECT_STREQ(error.what(), "WriteFailed: Broken pipe");
    EXPECT_EQ(static_cast<int>(SocketError::Code::RecvFailed), 9);
}
