#include "http/HttpServer.h"

#include "http/HttpHandlers.h"

namespace vesk {

namespace {

    using platform::Dictionary;
    using platform::Value;

    // Request texts go into the pages escaped: they come from whoever asks.
    HttpResponse html(std::string fragment)
    {
        return HttpResponse::OK(HttpResponseBody::Html(std::move(fragment)));
    }

    HttpResponse requestEcho(const HttpRequest& request)
    {
        return html("You asked for " + escapeHtml(request.url));
    }

    HttpResponse requestReport(const HttpRequest& request)
    {
        std::string headers;
        for (auto& [name, value] : request.headers)
            headers += escapeHtml(name) + " : " + escapeHtml(value) + "<br>";
        std::string query;
        for (auto& [name, value] : request.urlParams)
            query += escapeHtml(name) + " : " + escapeHtml(value) + "<br>";
        std::string address = request.address ? "Optional(\"" + escapeHtml(*request.address) + "\")" : "nil";
        return html("<h3>Address: " + address + "</h3><h3>Url:</h3> " + escapeHtml(request.url) + "<h3>Method: "
            + escapeHtml(request.method) + "</h3><h3>Headers:</h3>" + headers + "<h3>Query:</h3>" + query);
    }

    HttpResponse groupReport(const HttpRequest& request)
    {
        std::string groups;
        for (size_t index = 0; index < request.capturedUrlGroups.size(); ++index)
            groups += "Expression group " + std::to_string(index) + " : " + escapeHtml(request.capturedUrlGroups[index]) + "<br>";
        return html("Url: " + escapeHtml(request.url) + "<br>Method: " + escapeHtml(request.method) + "<br>" + groups);
    }

    HttpResponse jsonSample(const HttpRequest&)
    {
        platform::Array posts {
            Value(Dictionary { { "id", Value(1) }, { "message", Value("hello world") } }),
            Value(Dictionary { { "id", Value(2) }, { "message", Value("sample message") } }),
        };
        return HttpResponse::OK(HttpResponseBody::Json(Value(Dictionary { { "posts", Value(std::move(posts)) }, { "new_updates", Value(false) } })));
    }

    HttpResponse longPage(const HttpRequest&)
    {
        std::string text;
        for (int index = 0; index < 1000; ++index)
            text += "(" + std::to_string(index) + "),->";
        return html(std::move(text));
    }

    HttpResponse login(const HttpRequest& request, const std::optional<std::string>& folder)
    {
        std::string method = request.method;
        for (char& character : method) {
            if (character >= 'a' && character <= 'z')
                character = static_cast<char>(character - 'a' + 'A');
        }
        if (method == "GET") {
            if (!folder)
                return HttpResponse::NotFound();
            return regularFileResponse(*folder + "/login.html").value_or(HttpResponse::NotFound());
        }
        if (method != "POST")
            return HttpResponse::NotFound();
        std::string fields;
        for (auto& [name, value] : parseUrlencodedForm(request)) {
            if (!fields.empty())
                fields += "<br>";
            fields += escapeHtml(name) + " = " + escapeHtml(value);
        }
        return html(fields);
    }

    HttpResponse routeList(const HttpServer& server)
    {
        std::string items;
        for (auto& pattern : server.routes())
            items += "<li><a href=\"" + escapeHtml(pattern) + "\">" + escapeHtml(pattern) + "</a></li>";
        return html("Available services:<br><ul>" + items);
    }

} // namespace

std::unique_ptr<HttpServer> HttpServer::makeDemoServer(const std::optional<std::string>& folder)
{
    auto server = std::make_unique<HttpServer>();
    if (folder)
        server->registerHandler("/resources/(.+)", HttpHandlers::makeFileHandler(*folder));
    server->registerHandler("/files(.+)", HttpHandlers::makeListingHandler("~/"));
    server->registerHandler("/magic", requestEcho);
    server->registerHandler("/test", requestReport);
    server->registerHandler("/params/(.+)/(.+)", groupReport);
    server->registerHandler("/json", jsonSample);
    server->registerHandler("/redirect", [](const HttpRequest&) { return HttpResponse::MovedPermanently("https://www.example.com/"); });
    server->registerHandler("/long", longPage);
    server->registerHandler("/demo", [](const HttpRequest&) {
        return html("<center><h2>Hello from the Vesk HTTP server</h2><img src=\"https://www.example.com/logo.png\"><br></center>");
    });
    server->registerHandler("/login", [folder](const HttpRequest& request) { return login(request, folder); });
    server->registerHandler("/raw", [](const HttpRequest&) {
        std::string body = "Sample Response";
        return HttpResponse::RAW(200, "OK", HttpHeaders { { "XXX-Custom-Header", "value" } }, HttpBytes(body.begin(), body.end()));
    });
    // The server owns this handler, so it never outlives what it lists.
    server->registerHandler("/", [list = server.get()](const HttpRequest&) { return routeList(*list); });
    return server;
}

} // namespace vesk
