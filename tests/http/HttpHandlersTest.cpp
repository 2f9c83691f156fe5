// The file handlers and the sample route set over loopback: byte ranges, listings,
// paths that try to leave the served folder, and what each sample route answers.

#include "http/DemoServer.h"
#include "http/Loopback.h"
#include "http/TestBundle.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace vesk;
using namespace vesk::test;
namespace fs = std::filesystem;

namespace {

class HttpHandlersTest : public testing::Test {
protected:
    void SetUp() override
    {
        root = fs::temp_directory_path() / ("vesk-handlers-" + std::to_string(::getpid()));
        www = root / "www";
        fs::create_directories(www / "sub");
        fs::create_directories(www / "empty");
        std::ofstream(root / "secret.txt") << "secret";
        write("ten.txt", "0123456789");
        write("login.html", "<form>sign in</form>");
        write("sub/<img src=x onerror=alert(1)>", "");
        write("sub/a#b", "hash");
        fs::create_symlink("../../secret.txt", www / "sub/out");
        fs::create_symlink("../ten.txt", www / "sub/in");
        ::setenv("HOME", www.c_str(), 1);
        server = makeDemoServer(www.string() + "/");
        server->start(0, "127.0.0.1");
    }
    void TearDown() override
    {
        server->stop();
        fs::remove_all(root);
    }
    void write(const std::string& name, const std::string& bytes) { std::ofstream(www / name, std::ios::binary) << bytes; }
    std::string ask(const std::string& head, const std::string& body = "")
    {
        Client client(server->port());
        client.send(head + "\r\n\r\n" + body);
        return client.readAll();
    }
    static std::string answer(const std::string& status, const std::string& headers, const std::string& body)
    {
        return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers + serverHeader + "\r\n" + body;
    }

    fs::path root;
    fs::path www;
    std::unique_ptr<HttpServer> server;
};

} // namespace

TEST_F(HttpHandlersTest, ServesTheFileWholeOrOneRange)
{
    struct Case {
        std::string range, status, contentRange, body;
    } cases[] = {
        { "", "200 OK", "", "0123456789" }, { "bytes=-", "200 OK", "", "0123456789" },
        { "bytes=0-0", "206 Partial Content", "bytes 0-0/10", "0" }, { "bytes=0-9", "206 Partial Content", "bytes 0-9/10", "0123456789" },
        { "BYTES=02-004", "206 Partial Content", "bytes 02-004/10", "234" }, { "bytes=7-", "206 Partial Content", "bytes 7-9/10", "789" },
        { "bytes=-3", "206 Partial Content", "bytes 7-9/10", "789" }, { "bytes=-30", "206 Partial Content", "bytes 0-9/10", "0123456789" },
        { "bytes=0-10", "416 Requested range not satisfiable", "bytes */10", "" }, { "bytes=10-", "416 Requested range not satisfiable", "bytes */10", "" },
        { "bytes=5-4", "416 Requested range not satisfiable", "bytes */10", "" }, { "bytes=-0", "416 Requested range not satisfiable", "bytes */10", "" },
        { "bytes=0-99999999999999999999", "416 Requested range not satisfiable", "bytes */10", "" },
        { "bytes=0-9223372036854775807", "416 Requested range not satisfiable", "bytes */10", "" },
        { "items=0-1", "400 Bad Request", "", "" }, { "bytes=5", "400 Bad Request", "", "" }, { "x bytes=0-1", "400 Bad Request", "", "" }
    };
    for (auto& [range, status, contentRange, body] : cases) {
        EXPECT_EQ(ask("GET /resources/ten.txt HTTP/1.1" + (range.empty() ? "" : "\r\nRange: " + range)),
            answer(status, contentRange.empty() ? "" : "Content-Range: " + contentRange + "\r\n", body))
            << range;
    }
}

TEST_F(HttpHandlersTest, NothingOutsideTheFolderIsServedOrListed)
{
    for (std::string target : std::vector<std::string> { "/resources/../secret.txt", "/resources/..%2Fsecret.txt", "/resources/%2e%2e/secret.txt",
             "/resources/sub/%252e%252e%252f%252e%252e%252fsecret.txt", "/resources/sub/out", "/resources/ten.txt%2500", "/resources/sub",
             "/resources/" + (root / "secret.txt").string(), "/files/..%2Fsecret.txt", "/files/%2e%2e%2f", "/files/sub/out", "/files/nothing" })
        EXPECT_EQ(ask("GET " + target + " HTTP/1.1"), answer("404 Not Found", "", "")) << target;
    EXPECT_EQ(ask("GET /resources/sub/in HTTP/1.1"), answer("200 OK", "", "0123456789"));
}

TEST_F(HttpHandlersTest, ListsAFolderAsEscapedLinksThatLeadToItsFiles)
{
    auto listing = ask("GET /files/sub HTTP/1.1");
    EXPECT_NE(listing.find("<h3>" + (www / "sub").string() + "</h3></br><table>"), std::string::npos);
    EXPECT_NE(listing.find("<tr><td><a href=\"/files/sub/%3Cimg%20src=x%20onerror=alert(1)%3E\">&lt;img src=x onerror=alert(1)&gt;</a></td></tr>"), std::string::npos);
    EXPECT_NE(listing.find("<a href=\"/files/sub/a%23b\">a#b</a>"), std::string::npos);
    EXPECT_EQ(listing.find("<img"), std::string::npos);
    EXPECT_EQ(ask("GET /files/sub/a%23b HTTP/1.1"), answer("200 OK", "", "hash"));
    std::string frame = "<html><meta charset=\"UTF-8\"><body><h3>" + (www / "empty").string() + "</h3></br><table></table></body></html>";
    EXPECT_EQ(ask("GET /files/empty HTTP/1.1"), answer("200 OK", "Content-Type: text/html\r\n", frame));
}

TEST_F(HttpHandlersTest, StreamsARangeFarIntoAFileLargerThanMemoryWouldHold)
{
    constexpr uintmax_t size = 5ull << 30;
    write("big.bin", "");
    fs::resize_file(www / "big.bin", size - 3);
    std::ofstream(www / "big.bin", std::ios::binary | std::ios::app) << "END";
    EXPECT_EQ(ask("GET /resources/big.bin HTTP/1.1\r\nRange: bytes=5368709116-"),
        answer("206 Partial Content", "Content-Range: bytes 5368709116-5368709119/5368709120\r\n", std::string(1, '\0') + "END"));
    Client whole(server->port());
    whole.send("GET /resources/big.bin HTTP/1.1\r\n\r\n");
    std::string head;
    for (char byte; !head.ends_with("\r\n\r\n") && ::recv(whole.fd(), &byte, 1, 0) == 1;)
        head += byte;
    EXPECT_EQ(head, "HTTP/1.1 200 OK\r\nContent-Length: 5368709120\r\n" + serverHeader + "\r\n");
}

TEST_F(HttpHandlersTest, EachSampleRouteAnswers)
{
    auto html = [](const std::string& fragment) { return "<html><meta charset=\"UTF-8\"><body>" + fragment + "</body></html>"; };
    std::string routes;
    for (std::string pattern : { "/test", "/resources/(.+)", "/redirect", "/raw", "/params/(.+)/(.+)", "/magic", "/long", "/login", "/json", "/files(.+)", "/demo", "/" })
        routes += "<li><a href=\"" + pattern + "\">" + pattern + "</a></li>";
    EXPECT_EQ(ask("GET / HTTP/1.1"), answer("200 OK", "Content-Type: text/html\r\n", html("Available services:<br><ul>" + routes)));
    EXPECT_EQ(ask("GET /magic?x=1 HTTP/1.1"), answer("200 OK", "Content-Type: text/html\r\n", html("You asked for /magic?x=1")));
    EXPECT_EQ(ask("GET /params/a/b%20c HTTP/1.1"), answer("200 OK", "Content-Type: text/html\r\n", html("Url: /params/a/b%20c<br>Method: GET<br>Expression group 0 : a<br>Expression group 1 : b c<br>")));
    EXPECT_EQ(ask("GET /test HTTP/1.1\r\nX-Note: <script>alert(1)</script>"),
        answer("200 OK", "Content-Type: text/html\r\n", html("<h3>Address: Optional(\"127.0.0.1\")</h3><h3>Url:</h3> /test<h3>Method: GET</h3><h3>Headers:</h3>x-note : &lt;script&gt;alert(1)&lt;/script&gt;<br><h3>Query:</h3> : <br>")));
    EXPECT_EQ(ask("POST /login HTTP/1.1\r\nContent-Length: 24", "a=1&b=%3Cscript%3Ex+y%3D"), answer("200 OK", "Content-Type: text/html\r\n", html("a = 1<br>b = &lt;script&gt;x y=")));
    EXPECT_EQ(ask("GET /login HTTP/1.1"), answer("200 OK", "", "<form>sign in</form>"));
    EXPECT_EQ(ask("PUT /login HTTP/1.1"), answer("404 Not Found", "", ""));
    EXPECT_EQ(ask("GET /raw HTTP/1.1"), "HTTP/1.1 200 OK\r\nContent-Length: 15\r\n" + serverHeader + "XXX-Custom-Header: value\r\n\r\nSample Response");
    EXPECT_EQ(ask("GET /redirect HTTP/1.1"), answer("301 Moved Permanently", "Location: https://www.example.com/\r\n", ""));
    EXPECT_NE(ask("GET /long HTTP/1.1").find("<body>(0),->(1),->"), std::string::npos);
    EXPECT_NE(ask("GET /long HTTP/1.1").find("(998),->(999),-></body>"), std::string::npos);
    EXPECT_NE(ask("GET /demo HTTP/1.1").find("<body><center><h2>"), std::string::npos);
    EXPECT_NE(ask("GET /json HTTP/1.1").find("\"message\" : \"sample message\""), std::string::npos);
    auto bare = makeDemoServer();
    EXPECT_EQ(bare->routes().size(), 11u);
    bare->start(0, "127.0.0.1");
    Client client(bare->port());
    client.send("GET /login HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.readAll(), answer("404 Not Found", "", ""));
}

TEST_F(HttpHandlersTest, CurlAndWgetResumeToTheSameBytes)
{
    if (std::system("command -v curl >/dev/null && command -v wget >/dev/null") != 0)
        GTEST_SKIP() << "curl or wget missing";
    std::string bytes;
    for (int index = 0; index < 300000; ++index)
        bytes += static_cast<char>(index * 7 % 256);
    write("data.bin", bytes);
    fs::create_directories(root / "got");
    std::ofstream(root / "got/data.bin", std::ios::binary) << bytes.substr(0, 123457);
    std::string url = "http://127.0.0.1:" + std::to_string(server->port()) + "/resources/data.bin";
    ASSERT_EQ(std::system(("curl -sf --range 1000-99999 -o " + (root / "part").string() + " " + url).c_str()), 0);
    ASSERT_EQ(std::system(("wget -q -c -P " + (root / "got").string() + " " + url).c_str()), 0);
    auto read = [](const fs::path& path) { return std::string(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}); };
    EXPECT_EQ(read(root / "part"), bytes.substr(1000, 99000));
    EXPECT_EQ(read(root / "got/data.bin"), bytes);
}
