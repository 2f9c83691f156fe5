#include "http/HttpResponse.h"
#include "http/TestBundle.h"
#include "platform/foundation/PropertyList.h"

#include <gtest/gtest.h>

using namespace vesk;
using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

std::string text(const std::optional<HttpBytes>& bytes)
{
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<absent>";
}

const std::string server = "VeskHTTPServer 2.1 (37)";

} // namespace

TEST(HttpResponseStatus, CasesWithoutPayload)
{
    struct Case {
        HttpResponse response;
        int64_t code;
        std::string phrase;
        HttpHeaders headers { { "Server", server } };
    };
    const Case cases[] = {
        { HttpResponse::Created(), 201, "Created" },
        { HttpResponse::Accepted(), 202, "Accepted" },
        { HttpResponse::BadRequest(), 400, "Bad Request" },
        { HttpResponse::Unauthorized(), 401, "Unauthorized" },
        { HttpResponse::Forbidden(), 403, "Forbidden" },
        { HttpResponse::NotFound(), 404, "Not Found" },
        { HttpResponse::InternalServerError(), 500, "Internal Server Error" },
        { HttpResponse::MovedPermanently("/index.html"), 301, "Moved Permanently", { { "Server", server }, { "Location", "/index.html" } } },
        { HttpResponse::RAW(299, "Whatever"), 299, "Whatever" },
    };
    for (auto& testCase : cases) {
        EXPECT_EQ(testCase.response.statusCode(), testCase.code);
        EXPECT_EQ(testCase.response.reasonPhrase(), testCase.phrase);
        EXPECT_EQ(testCase.response.headers(), testCase.headers) << testCase.code;
        EXPECT_FALSE(testCase.response.body()) << testCase.code;
    }
}

TEST(HttpResponseRaw, HeadersAndBodyAsGiven)
{
    auto full = HttpResponse::RAW(200, "OK", HttpHeaders { { "Server", "mine" }, { "server", "other" }, { "X-A", "1" } }, HttpBytes {});
    EXPECT_EQ(full.headers(), (HttpHeaders { { "Server", "mine" }, { "server", "other" }, { "X-A", "1" } }));
    ASSERT_TRUE(full.body());
    EXPECT_TRUE(full.body()->empty());
    EXPECT_EQ(text(HttpResponse::RAW(206, "Partial Content", std::nullopt, HttpBytes { 'a', 0, 'b' }).body()), std::string("a\0b", 3));
}

TEST(HttpResponseBody, KindsBringTheirContentType)
{
    auto contentType = [](HttpResponseBody body) {
        auto headers = HttpResponse::OK(std::move(body)).headers();
        auto found = headers.find("Content-Type");
        return found == headers.end() ? std::string("<none>") : found->second;
    };
    EXPECT_EQ(contentType(HttpResponseBody::Json(Dictionary {})), "application/json");
    EXPECT_EQ(contentType(HttpResponseBody::Xml(Value(1))), "application/xml");
    EXPECT_EQ(contentType(HttpResponseBody::Plist(Value(1))), "application/xml");
    EXPECT_EQ(contentType(HttpResponseBody::Html("")), "text/html");
    EXPECT_EQ(contentType(HttpResponseBody::Text("")), "<none>");
    EXPECT_EQ(contentType(HttpResponseBody::Custom(std::make_shared<JSONSerializer>(), Value(Array {}))), "<none>");
}

TEST(HttpResponseBody, JsonIsPrettyPrinted)
{
    Dictionary object { { "name", "a/b" }, { "list", Array { 1, true } } };
    EXPECT_EQ(text(HttpResponse::OK(HttpResponseBody::Json(object)).body()), "{\n  \"name\" : \"a\\/b\",\n  \"list\" : [\n    1,\n    true\n  ]\n}");
    // A shared value is serialised as the value it holds.
    EXPECT_EQ(JSONSerializer().serialize(std::make_shared<Value>(Array { "x" })), "[\n  \"x\"\n]");
}

TEST(HttpResponseBody, FailuresBecomeBodyText)
{
    const std::pair<HttpResponseBody, std::string> cases[] = {
        { HttpResponseBody::Xml(Dictionary { { "a", "b" } }), "NotSupported" },
        // A date, or a bare string at the top, is no JSON document.
        { HttpResponseBody::Json(platform::Date { 5 }), "InvalidObject" },
        { HttpResponseBody::Json(Value("x")), "InvalidObject" },
        { HttpResponseBody::Plist(Array { Value() }), "InvalidObject" },
        { HttpResponseBody::Custom(std::make_shared<XMLSerializer>(), Value(1)), "NotSupported" },
        // Not an object the serializers know.
        { HttpResponseBody::Custom(std::make_shared<JSONSerializer>(), 42), "InvalidObject" },
    };
    for (auto& [body, error] : cases) {
        auto response = HttpResponse::OK(body);
        EXPECT_EQ(response.statusCode(), 200);
        EXPECT_EQ(text(response.body()), "Serialisation error: " + error);
    }
}

TEST(HttpResponseBody, HtmlAndTextFrames)
{
    auto empty = HttpResponse::OK(HttpResponseBody::Text(""));
    ASSERT_TRUE(empty.body());
    EXPECT_TRUE(empty.body()->empty());
    EXPECT_EQ(text(HttpResponseBody::Html("").data()), "<html><meta charset=\"UTF-8\"><body></body></html>");
    EXPECT_EQ(text(HttpResponseBody::Html("<p>é</p>").data()), "<html><meta charset=\"UTF-8\"><body><p>é</p></body></html>");
}

TEST(HttpResponseBody, CustomPlistSerializerWritesAnXmlPropertyList)
{
    Dictionary object { { "a", "b" }, { "c", "d" } };
    auto response = HttpResponse::OK(HttpResponseBody::Custom(std::make_shared<PLISTSerializer>(), Value(object)));
    auto body = response.body();
    ASSERT_TRUE(body);
    EXPECT_TRUE(text(body).starts_with("<?xml")) << text(body);
    platform::PropertyListFormat format;
    auto parsed = platform::propertyListFromData(*body, &format);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(format, platform::PropertyListFormat::XML);
    EXPECT_EQ(*parsed, Value(object));
}
