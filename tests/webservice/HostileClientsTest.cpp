// The web file service over loopback against clients that never read, send heads without end,
// or send bodies no service reads.

#include "app/AppTestSupport.h"
#include "http/HeapFigure.h"
#include "webservice/WebRouteTestSupport.h"

#include "platform/foundation/Digest.h"
#include "platform/foundation/NSString.h"
#include "webservice/VeskHTTPServer.h"
#include "webservice/VeskWebServices.h"
#include "webservice/WebServiceEnvelope.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>

namespace vesk::test {
namespace {

    using namespace std::chrono_literals;
    using platform::lastPathComponent;
    using platform::Value;

    // Every byte value, so that the Base64 holds "/" and "+", then a tail of the given length.
    std::string fileBytes(size_t size)
    {
        std::string bytes(size, '\0');
        for (size_t index = 0; index < size; ++index)
            bytes[index] = static_cast<char>((index * 131 + index / 256) & 0xFF);
        return bytes;
    }

    // The answer as it was made whole in memory: the envelope around the file's Base64 text.
    std::string wholeBase64Envelope(const std::string& path, const std::string& bytes)
    {
        platform::Dictionary info;
        info.set("fileName", Value(lastPathComponent(path)));
        info.set("path", Value(path));
        info.set("base64String", Value(platform::base64Encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())));
        auto body = *webServiceEnvelope(okOutcome(), "\"" + lastPathComponent(path) + "\" as base64 string", std::move(info)).body();
        return std::string(body.begin(), body.end());
    }

    size_t openDescriptors()
    {
        size_t count = 0;
        if (DIR* folder = ::opendir("/proc/self/fd")) {
            while (::readdir(folder))
                ++count;
            ::closedir(folder);
        }
        return count;
    }


    // The Base64 answer as an in-process caller gets it.
    HttpResponse base64Answer(const std::string& path)
    {
        HttpRequest request;
        request.url = "/getFile?path=" + path + "&type=base64";
        request.method = "GET";
        request.address = "127.0.0.1";
        request.urlParams = extractUrlParams(request.url);
        return VeskHTTPServer::sharedInstance().getFile(request);
    }

    // What the reader makes when asked for pieces of ever-changing sizes, so that escaped "/"
    // and groups of digits are split at every point; `ended` is its last answer.
    std::string readInPieces(HttpStreamBody::Reader& reader, ssize_t& ended)
    {
        constexpr size_t sizes[] = { 1, 2, 3, 5, 8, 13, 4099, 65536 };
        std::string text;
        std::vector<uint8_t> buffer(65536);
        for (size_t turn = 0;; ++turn) {
            ended = reader.read(buffer.data(), sizes[turn % std::size(sizes)]);
            if (ended <= 0)
                return text;
            text.append(buffer.begin(), buffer.begin() + ended);
        }
    }

    // The bytes the Base64 text in an answer's envelope stands for, read as a client would.
    std::string base64StringOf(const std::string& answer)
    {
        constexpr std::string_view key = "\"base64String\" : \"";
        auto start = answer.find(key);
        auto end = start == std::string::npos ? start : answer.find('"', start + key.size());
        if (end == std::string::npos)
            return "<no base64String>";
        std::string text;
        // Only "/" comes escaped in Base64.
        for (auto at = start + key.size(); at < end;) {
            auto escape = std::min(answer.find('\\', at), end);
            text.append(answer, at, escape - at);
            at = escape + 1;
        }
        auto bytes = platform::base64Decode(text);
        return bytes ? std::string(bytes->begin(), bytes->end()) : "<not base64>";
    }

    class HostileClientsTest : public AppTest {
    protected:
        void SetUp() override
        {
            // Before the service is first made: it takes its routes then.
            installWebServices(false);
            AppTest::SetUp();
        }

        void TearDown() override
        {
            VeskHTTPServer::stop();
            VeskHTTPServer::sharedInstance().server().setLimits({});
            AppTest::TearDown();
        }

        void startWith(const HttpLimits& limits = {})
        {
            VeskHTTPServer::sharedInstance().server().setLimits(limits);
            VeskHTTPServer::start();
            ASSERT_TRUE(VeskHTTPServer::isRunning());
        }

        // "/debug" on a new connection, given at most the time.
        std::string debugAnswer(std::chrono::milliseconds within = 5s)
        {
            Client client(port);
            client.send("GET /debug HTTP/1.1\r\n\r\n");
            return client.readResponse(within);
        }

        static bool isDebugEnvelope(const std::string& answer)
        {
            return answer.starts_with("HTTP/1.1 200 OK\r\n") && answer.find("This is doing nothing right now...") != std::string::npos;
        }
    };

    TEST_F(HostileClientsTest, TheBase64FormIsTheEnvelopeOfTheWholeTextForAnySize)
    {
        startWith();
        for (size_t size : { 0, 1, 2, 3, 4, 5, 3 * 1024 * 1024 + 1 }) {
            auto bytes = fileBytes(size);
            auto path = makeFile("f" + std::to_string(size) + ".bin", bytes);
            auto expected = wholeBase64Envelope(path, bytes);

            auto answer = httpGet(port, "/getFile?path=" + path + "&type=base64");
            EXPECT_EQ(answer.status, 200) << size;
            EXPECT_EQ(answer.headers["content-type"], "application/json") << size;
            EXPECT_TRUE(answer.complete) << size;
            EXPECT_TRUE(answer.body == expected) << size;
            // Handed to a caller in-process, the body is made whole.
            auto response = base64Answer(path);
            auto made = response.body();
            EXPECT_TRUE(made && std::string(made->begin(), made->end()) == expected) << size;
            // Or piece by piece, in pieces of any size.
            ssize_t ended = 0;
            EXPECT_TRUE(readInPieces(*response.streamBody()->open(), ended) == expected) << size;
            EXPECT_EQ(ended, 0) << size;
        }
    }

    TEST_F(HostileClientsTest, AFileChangedWhileSentAsBase64EndsItsAnswer)
    {
        startWith();
        auto bytes = fileBytes(1024 * 1024);
        struct Change {
            const char* name;
            std::string bytes;
        };
        // Shorter; as long with more "/" in its text; as long with none.
        for (auto& change : { Change { "shrunk", bytes.substr(0, bytes.size() / 2) }, Change { "more slashes", std::string(bytes.size(), '\xFF') },
                 Change { "no slashes", std::string(bytes.size(), '\0') } }) {
            auto path = makeFile("changing.bin", bytes);
            auto response = base64Answer(path);
            auto length = response.streamBody()->length();
            auto reader = response.streamBody()->open();
            std::vector<uint8_t> start(1000);
            ASSERT_EQ(reader->read(start.data(), start.size()), 1000) << change.name;
            writeBytes(path, change.bytes);
            ssize_t ended = 0;
            auto rest = readInPieces(*reader, ended);
            EXPECT_EQ(ended, -1) << change.name;
            EXPECT_LT(1000 + rest.size(), length) << change.name;
        }
    }

    TEST_F(HostileClientsTest, ClientsThatNeverReadTheirBase64HoldUpNoOne)
    {
        // Fewer workers than the clients that wait for a place used to be.
        HttpLimits limits;
        limits.maxWorkers = 2;
        startWith(limits);
        // Its answer is larger than what the system buffers of a connection hold.
        auto bytes = fileBytes(4 * 1024 * 1024);
        auto path = makeFile("big.bin", bytes);
        ASSERT_TRUE(isDebugEnvelope(debugAnswer()));
        size_t descriptorsBefore = openDescriptors();

        std::vector<std::unique_ptr<Client>> stalled;
        for (int index = 0; index < 4 + 6; ++index) {
            auto client = std::make_unique<Client>(port, false);
            int small = 4096;
            ASSERT_EQ(::setsockopt(client->fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
            client->connect();
            client->send("GET /getFile?path=" + path + "&type=base64 HTTP/1.1\r\n\r\n");
            stalled.push_back(std::move(client));
            if (index == 3) {
                EXPECT_TRUE(isDebugEnvelope(debugAnswer())) << "with the first four waiting";
            }
        }
        EXPECT_TRUE(isDebugEnvelope(debugAnswer())) << "with all waiting";
        // A client that reads gets the whole answer beside them.
        auto answer = httpGet(port, "/getFile?path=" + path + "&type=base64");
        EXPECT_TRUE(answer.complete);
        EXPECT_TRUE(answer.body == wholeBase64Envelope(path, bytes));

        stalled.clear();
        // Their connections end with them.
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (openDescriptors() > descriptorsBefore && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        EXPECT_LE(openDescriptors(), descriptorsBefore);
        EXPECT_TRUE(isDebugEnvelope(debugAnswer()));
    }

    TEST_F(HostileClientsTest, SlowBase64ReadersHoldAtMostOneBufferEach)
    {
        startWith();
        // What the first answer makes once is there before the count starts.
        auto small = makeFile("small.bin", fileBytes(100));
        ASSERT_EQ(httpGet(port, "/getFile?path=" + small + "&type=base64").status, 200);
        // Small segments and a small window keep the system's buffers of each connection small:
        // every answer waits half sent.
        auto bytes = fileBytes(1024 * 1024);
        auto path = makeFile("slow.bin", bytes);
        auto before = static_cast<int64_t>(heapInUse());

        constexpr int readers = 50;
        std::vector<std::unique_ptr<Client>> clients;
        std::vector<std::string> received(readers);
        for (int index = 0; index < readers; ++index) {
            auto client = std::make_unique<Client>(port, false);
            int window = 4096;
            ASSERT_EQ(::setsockopt(client->fd(), SOL_SOCKET, SO_RCVBUF, &window, sizeof window), 0);
            int segment = 536;
            ASSERT_EQ(::setsockopt(client->fd(), IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment), 0);
            timeval patience { 10, 0 };
            ASSERT_EQ(::setsockopt(client->fd(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience), 0);
            client->connect();
            ASSERT_TRUE(client->send("GET /getFile?path=" + path + "&type=base64 HTTP/1.1\r\nConnection: close\r\n\r\n"));
            clients.push_back(std::move(client));
        }
        // Each takes a little of its answer, then stalls.
        for (int index = 0; index < readers; ++index) {
            char some[256];
            ssize_t count = ::recv(clients[index]->fd(), some, sizeof some, 0);
            ASSERT_GT(count, 0) << index;
            received[index].assign(some, static_cast<size_t>(count));
        }
        int64_t held = 0;
        for (int look = 0; look < 25; ++look) {
            std::this_thread::sleep_for(20ms);
            held = std::max(held, static_cast<int64_t>(heapInUse()) - before);
        }
        // One piece of the answer each, and the connection's own few kilobytes.
        EXPECT_LE(held / readers, 32 * 1024) << held << " bytes held for " << readers << " slow readers";

        // Read on, one in ten to the end: the text still decodes to the file. The others leave.
        for (int index = 0; index < readers; index += 10) {
            int large = 1 << 20;
            ASSERT_EQ(::setsockopt(clients[index]->fd(), SOL_SOCKET, SO_RCVBUF, &large, sizeof large), 0);
            received[index] += clients[index]->readAll(30s);
            EXPECT_TRUE(base64StringOf(received[index]) == bytes) << index;
        }
    }

    TEST_F(HostileClientsTest, HeadsPastTheCapAreRefusedAndBodiesAreNeverHeld)
    {
        startWith();
        // Lines each within their own limit, more of them than a head may hold.
        Client endless(port);
        std::string head = "GET /debug HTTP/1.1\r\n";
        for (int line = 0; line < 5; ++line)
            head += "X-Filler-" + std::to_string(line) + ": " + std::string(8000, 'a') + "\r\n";
        endless.send(head);
        EXPECT_TRUE(endless.readResponse().starts_with("HTTP/1.1 431 Request Header Fields Too Large\r\n"));
        EXPECT_TRUE(endless.closedByServer(5s));

        // "/setFile" is answered from the head: the body's bytes are dropped as they come.
        Client poster(port);
        poster.send("POST /setFile HTTP/1.1\r\nConnection: keep-alive\r\nContent-Length: 1048576\r\n\r\n");
        EXPECT_TRUE(poster.readResponse().starts_with("HTTP/1.1 501 Not implemented\r\n"));
        EXPECT_TRUE(poster.send(std::string(1 << 20, 'x') + "POST /setFile HTTP/1.1\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n"));
        auto empty = poster.readResponse();
        EXPECT_NE(empty.find("It looks like the body is empty!"), std::string::npos) << empty;
        EXPECT_TRUE(poster.send("GET /debug HTTP/1.1\r\n\r\n"));
        EXPECT_TRUE(isDebugEnvelope(poster.readResponse()));
    }

    TEST_F(HostileClientsTest, ABlockedClientIsRefusedBeforeItsBody)
    {
        startWith();
        VeskHTTPServer::updateBlockedIP("127.0.0.1", "Intruder", false);
        Client client(port);
        client.send("POST /setFile HTTP/1.1\r\nContent-Length: 33554432\r\n\r\n");
        auto answer = client.readResponse();
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
        EXPECT_NE(answer.find("You have been banned!"), std::string::npos) << answer;
        VeskHTTPServer::updateBlockedIP("127.0.0.1", "Intruder", true);
    }

}
}
