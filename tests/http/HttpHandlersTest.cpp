// The file handlers and the sample routes over loopback: ranges, listings, escapes, each route's answer.

#include "http/HttpServer.h"
#include "http/Loopback.h"
#include "http/TestBundle.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace vesk;
using namespace vesk::test;
namespace fs = std::filesystem;

namespace {

std::string answer(const std::string& status, const std::string& headers = "", const std::string& body = "", bool frame = false)
{
    std::string framed = frame ? "<html><meta charset=\"UTF-8\"><body>" + body + "</body></html>" : body;
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(framed.size()) + "\r\nConnection: close\r\n" + headers + (frame ? "Content-Type: text/html\r\n" : "") + serverHeader + "\r\n" + framed;
}

class HttpHandlersTest : public testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(www / "sub");
        fs::create_directories(www / "empty");
        for (auto& [name, bytes] : std::map<std::string, std::string> { { "../secret.txt", "secret" }, { "ten.txt", "0123456789" }, { "login.html", "<form>sign in</form>" }, { "sub/<img src=x onerror=alert(1)>", "" }, { "sub/a#b", "hash" } })
            write(name, bytes);
        fs::create_symlink("../../secret.txt", www / "sub/out");
        fs::create_symlink("../ten.txt", www / "sub/in");
        ::setenv("HOME", www.c_str(), 1);
        server->start(0, "127.0.0.1");
    }
    void TearDown() override { fs::remove_all(root); }
    void write(const std::string& name, const std::string& bytes) { std::ofstream(www / name, std::ios::binary) << bytes; }
    std::string ask(const std::string& head, const std::string& body = "")
    {
        Client client(server->port());
        return client.send(head + "\r\n\r\n" + body) ? client.readAll() : "send failed";
    }

    fs::path root = fs::temp_directory_path() / ("vesk-handlers-" + std::to_string(::getpid()));
    fs::path www = root / "www";
    std::unique_ptr<HttpServer> server = HttpServer::makeDemoServer(www.string() + "/");
};

} // namespace

TEST_F(HttpHandlersTest, ServesTheFileWholeOrOneRangeEvenFarIntoAHugeFile)
{
    const std::string partial = "206 Partial Content", refused = "416 Requested range not satisfiable", whole = "0123456789";
    std::tuple<std::string, std::string, std::string, std::string> cases[] = {
        { "", "200 OK", "", whole }, { "bytes=-", "200 OK", "", whole }, { "bytes=0-0", partial, "bytes 0-0/10", "0" }, { "bytes=0-9", partial, "bytes 0-9/10", whole },
        { "BYTES=02-004", partial, "bytes 02-004/10", "234" }, { "bytes=7-", "200 OK", "", whole }, { "bytes=-3", "200 OK", "", whole },
        { "bytes=0-10", refused, "bytes */10", "" }, { "bytes=10-11", refused, "bytes */10", "" }, { "bytes=5-4", refused, "bytes */10", "" },
        { "bytes=99999999999999999999-", refused, "bytes */10", "" }, { "bytes=0-99999999999999999999", refused, "bytes */10", "" },
        { "bytes=0-9223372036854775807", refused, "bytes */10", "" }, { "items=0-1", "400 Bad Request", "", "" }, { "bytes=5", "400 Bad Request", "", "" }, { "x bytes=0-1", "400 Bad Request", "", "" }
    };
    for (auto& [range, status, contentRange, body] : cases)
        EXPECT_EQ(ask("GET /resources/ten.txt HTTP/1.1" + (range.empty() ? "" : "\r\nRange: " + range)), answer(status, contentRange.empty() ? "" : "Content-Range: " + contentRange + "\r\n", body)) << range;
    fs::resize_file(www / "ten.txt", (5ull << 30) - 1);
    EXPECT_EQ(ask("GET /resources/ten.txt HTTP/1.1\r\nRange: bytes=5368709116-5368709118"), answer(partial, "Content-Range: bytes 5368709116-5368709118/5368709119\r\n", std::string(3, '\0')));
}

TEST_F(HttpHandlersTest, NothingOutsideTheFolderIsServedOrListed)
{
    for (std::string target : std::vector<std::string> { "/resources/../secret.txt", "/resources/..%2Fsecret.txt", "/resources/%2e%2e/secret.txt",
             "/resources/sub/%252e%252e%252f%252e%252e%252fsecret.txt", "/resources/sub/out", "/resources/ten.txt%2500", "/resources/sub",
             "/resources/" + (root / "secret.txt").string(), "/files/..%2Fsecret.txt", "/files/%2e%2e%2f", "/files/sub/out", "/files/nothing" })
        EXPECT_EQ(ask("GET " + target + " HTTP/1.1"), answer("404 Not Found")) << target;
    EXPECT_EQ(ask("GET /resources/sub/in HTTP/1.1"), answer("200 OK", "", "0123456789"));
}

TEST_F(HttpHandlersTest, ListsAFolderAsEscapedLinksThatLeadToItsFiles)
{
    auto listing = ask("GET /files/sub HTTP/1.1");
    EXPECT_NE(listing.find("<tr><td><a href=\"/files/sub/%3Cimg%20src=x%20onerror=alert(1)%3E\">&lt;img src=x onerror=alert(1)&gt;</a></td></tr>"), std::string::npos);
    EXPECT_NE(listing.find("<a href=\"/files/sub/a%23b\">a#b</a>"), std::string::npos);
    EXPECT_EQ(ask("GET /files/sub/a%23b HTTP/1.1"), answer("200 OK", "", "hash"));
    EXPECT_EQ(ask("GET /files/empty HTTP/1.1"), answer("200 OK", "", "<h3>" + (www / "empty").string() + "</h3></br><table></table>", true));
}

TEST_F(HttpHandlersTest, EachSampleRouteAnswers)
{
    std::string routes;
    for (std::string pattern : { "/test", "/resources/(.+)", "/redirect", "/raw", "/params/(.+)/(.+)", "/magic", "/long", "/login", "/json", "/files(.+)", "/demo", "/" })
        routes += "<li><a href=\"" + pattern + "\">" + pattern + "</a></li>";
    EXPECT_EQ(ask("GET / HTTP/1.1"), answer("200 OK", "", "Available services:<br><ul>" + routes, true));
    EXPECT_EQ(ask("GET /magic?x=1 HTTP/1.1"), answer("200 OK", "", "You asked for /magic?x=1", true));
    EXPECT_EQ(ask("GET /params/a/b%20c HTTP/1.1"), answer("200 OK", "", "Url: /params/a/b%20c<br>Method: GET<br>Expression group 0 : a<br>Expression group 1 : b c<br>", true));
    EXPECT_EQ(ask("GET /test HTTP/1.1\r\nX-Note: <script>alert(1)</script>"),
        answer("200 OK", "", "<h3>Address: Optional(\"127.0.0.1\")</h3><h3>Url:</h3> /test<h3>Method: GET</h3><h3>Headers:</h3>x-note : &lt;script&gt;alert(1)&lt;/script&gt;<br><h3>Query:</h3> : <br>", true));
    EXPECT_EQ(ask("POST /login HTTP/1.1\r\nContent-Length: 24", "a=1&b=%3Cscript%3Ex+y%3D"), answer("200 OK", "", "a = 1<br>b = &lt;script&gt;x y=", true));
    EXPECT_EQ(ask("GET /login HTTP/1.1"), answer("200 OK", "", "<form>sign in</form>"));
    EXPECT_EQ(ask("PUT /login HTTP/1.1"), answer("404 Not Found"));
    EXPECT_EQ(ask("GET /raw HTTP/1.1"), "HTTP/1.1 200 OK\r\nContent-Length: 15\r\nConnection: close\r\n" + serverHeader + "XXX-Custom-Header: value\r\n\r\nSample Response");
    EXPECT_EQ(ask("GET /redirect HTTP/1.1"), answer("301 Moved Permanently", "Location: https://www.example.com/\r\n"));
    EXPECT_NE(ask("GET /long HTTP/1.1").find("<body>(0),->(1),->(2),->"), std::string::npos);
    EXPECT_NE(ask("GET /demo HTTP/1.1").find("<body><center><h2>"), std::string::npos);
    EXPECT_NE(ask("GET /json HTTP/1.1").find("\"message\" : \"sample message\""), std::string::npos);
}

TEST_F(HttpHandlersTest, HeadOfEachSampleRouteIsTheHeadOfItsGet)
{
    const std::pair<std::string, std::string> cases[] = {
        { "/", "" },
        { "/magic?x=1", "" },
        { "/test", "" },
        { "/params/a/b", "" },
        { "/json", "" },
        { "/raw", "" },
        { "/redirect", "" },
        { "/long", "" },
        { "/demo", "" },
        { "/login", "" },
        { "/resources/ten.txt", "" },
        { "/resources/ten.txt", "Range: bytes=2-4\r\n" },
        { "/resources/ten.txt", "Range: bytes=5-4\r\n" },
        { "/resources/nothing", "" },
        { "/files/sub", "" },
    };
    auto ask = [](const std::string& method, const std::pair<std::string, std::string>& target) {
        return method + " " + target.first + " HTTP/1.1\r\nConnection: keep-alive\r\n" + target.second + "\r\n";
    };
    // Sent all at once on one connection: a body after a HEAD answer would be read as the next answer.
    std::string requests;
    for (auto& target : cases)
        requests += ask("HEAD", target) + ask("GET", target);
    Client client(server->port());
    client.send(requests);
    for (auto& target : cases) {
        auto head = client.readHeadAnswer();
        auto get = client.readResponse();
        EXPECT_TRUE(get.starts_with(head) && head.ends_with("\r\n\r\n")) << target.first << "\n"
                                                                         << head << "\n"
                                                                         << get;
    }
}

TEST_F(HttpHandlersTest, CurlAndWgetResumeToTheSameBytes)
{
    if (std::system("command -v curl >/dev/null && command -v wget >/dev/null") != 0)
        GTEST_SKIP() << "curl or wget missing";
    // Bytes of some variety (the test program's); a marked first part shows wget resumed rather than fetched again.
    auto read = [](const fs::path& path) { return std::string(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}); };
    std::string bytes(400000, '\0');
    std::ifstream("/proc/self/exe", std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    write("data.bin", bytes);
    std::ofstream(root / "data.bin", std::ios::binary) << std::string(123457, 'X');
    std::string url = "http://127.0.0.1:" + std::to_string(server->port()) + "/resources/data.bin";
    ASSERT_EQ(std::system(("curl -sf --range 1000-99999 -o " + (root / "part").string() + " " + url + " && wget -q -c -P " + root.string() + " " + url).c_str()), 0);
    EXPECT_EQ(read(root / "part"), bytes.substr(1000, 99000));
    EXPECT_EQ(read(root / "data.bin"), std::string(123457, 'X') + bytes.substr(123457));
}

TEST_F(HttpHandlersTest, WithoutAFolderTheDemoServesNoResourcesAndNoLoginPage)
{
    server = HttpServer::makeDemoServer(std::nullopt);
    server->start(0, "127.0.0.1");
    auto routes = server->routes();
    EXPECT_EQ(std::count(routes.begin(), routes.end(), "/resources/(.+)"), 0);
    EXPECT_EQ(ask("GET /login HTTP/1.1"), answer("404 Not Found"));
    EXPECT_EQ(ask("POST /login HTTP/1.1\r\nContent-Length: 3", "a=1"), answer("200 OK", "", "a = 1", true));
    // The catch-all lists the routes instead.
    EXPECT_EQ(ask("GET /resources/ten.txt HTTP/1.1").find("/ten.txt"), std::string::npos);
    EXPECT_EQ(ask("GET /files/ten.txt HTTP/1.1"), answer("200 OK", "", "0123456789"));
}
