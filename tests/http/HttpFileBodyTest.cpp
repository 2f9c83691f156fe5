// Answers whose body is sent from an open file: exact bytes on the wire, keep-alive after a
// whole body, and a file that shrinks while it is sent ending its connection.

#include "http/HttpServer.h"
#include "http/Loopback.h"
#include "http/TestBundle.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vesk;
using namespace vesk::test;

namespace {

class HttpFileBodyTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vesk-http-file-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_folder = pattern;
        server.registerHandler("/file", [this](const HttpRequest&) {
            int descriptor = ::open(path().c_str(), O_RDONLY | O_CLOEXEC);
            struct stat status { };
            ::fstat(descriptor, &status);
            return HttpResponse::RAW(200, "OK", HttpHeaders { { "X-Kind", "file" } },
                std::make_shared<const HttpFileBody>(descriptor, static_cast<uint64_t>(status.st_size)));
        });
        server.start(0, "127.0.0.1");
        port = server.port();
    }
    void TearDown() override
    {
        server.stop();
        std::filesystem::remove_all(m_folder);
    }

    std::string path() const { return m_folder + "/data.bin"; }
    void writeFile(const std::string& bytes) const { ASSERT_TRUE(std::ofstream(path()) << bytes); }

    HttpServer server;
    uint16_t port { 0 };

private:
    std::string m_folder;
};

std::string head(size_t length, bool keepAlive)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n" + (keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n")
        + serverHeader + "X-Kind: file\r\n\r\n";
}

} // namespace

TEST_F(HttpFileBodyTest, SendsTheFileByteForByteAndKeepsTheConnection)
{
    // Small files go in one write with their head, larger ones behind it from the file.
    for (size_t size : { 0, 1000, 300000 }) {
        std::string bytes;
        for (size_t i = 0; i < size; ++i)
            bytes += static_cast<char>((i * 31) % 251);
        writeFile(bytes);
        Client client(port);
        client.send("GET /file HTTP/1.1\r\nConnection: keep-alive\r\n\r\nGET /file HTTP/1.1\r\n\r\n");
        EXPECT_EQ(client.readResponse(), head(size, true) + bytes);
        // Again on the same connection: each answer starts at the file's start.
        EXPECT_EQ(client.readResponse(), head(size, false) + bytes);
        EXPECT_TRUE(client.closedByServer());
    }
}

TEST_F(HttpFileBodyTest, AFileThatShrinksWhileSentEndsTheConnection)
{
    // Larger than the socket buffers, so the server is still sending when the file shrinks.
    constexpr off_t announced = 64 * 1024 * 1024;
    writeFile("");
    ASSERT_EQ(::truncate(path().c_str(), announced), 0);
    Client client(port);
    client.send("GET /file HTTP/1.1\r\nConnection: keep-alive\r\n\r\n");
    std::string received;
    while (received.find("\r\n\r\n") == std::string::npos) {
        char buffer[4096];
        ssize_t count = ::recv(client.fd(), buffer, sizeof buffer, 0);
        ASSERT_GT(count, 0);
        received.append(buffer, static_cast<size_t>(count));
    }
    ASSERT_EQ(::truncate(path().c_str(), 4096), 0);
    auto rest = client.readAll(std::chrono::seconds(20));
    EXPECT_TRUE(client.closedByServer(std::chrono::seconds(1)));
    EXPECT_LT(received.size() + rest.size(), head(announced, true).size() + static_cast<size_t>(announced));
}

TEST_F(HttpFileBodyTest, TheBodyOwnsItsDescriptor)
{
    int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(descriptor, 0);
    {
        auto body = std::make_shared<const HttpFileBody>(descriptor, 0);
        auto response = HttpResponse::RAW(200, "OK", std::nullopt, body);
        auto copy = response;
        body.reset();
        EXPECT_EQ(copy.fileBody()->descriptor(), descriptor);
        EXPECT_FALSE(copy.body());
        EXPECT_EQ(::fcntl(descriptor, F_GETFD), FD_CLOEXEC) << "still open while a response holds it";
    }
    EXPECT_EQ(::fcntl(descriptor, F_GETFD), -1) << "closed with the last response";
}
