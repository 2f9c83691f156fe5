// The web file service over loopback against clients that never read, send heads without end,
// or send bodies no service reads.

#include "app/AppTestSupport.h"
#include "webservice/WebRouteTestSupport.h"

#include "platform/foundation/Digest.h"
#include "platform/foundation/NSString.h"
#include "webservice/VeskHTTPServer.h"
#include "webservice/VeskWebServices.h"
#include "webservice/WebServiceEnvelope.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <memory>
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
            HttpRequest request;
            request.url = "/getFile?path=" + path + "&type=base64";
            request.method = "GET";
            request.address = "127.0.0.1";
            request.urlParams = extractUrlParams(request.url);
            auto made = VeskHTTPServer::sharedInstance().getFile(request).body();
            EXPECT_TRUE(made && std::string(made->begin(), made->end()) == expected) << size;
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
