#include "http/HttpResponse.h"

#include "http/ByteText.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/PropertyList.h"

#include <unistd.h>

namespace vesk {

using platform::Value;

SerializationError::SerializationError(Code code)
    : std::runtime_error(caseName(code))
    , m_code(code)
{
}

const char* SerializationError::caseName(Code code)
{
    switch (code) {
    case Code::InvalidObject:
        return "InvalidObject";
    case Code::NotSupported:
        return "NotSupported";
    case Code::EncodingError:
        return "EncodingError";
    }
    return "SerializationError";
}

namespace {

    const Value& objectReference(const std::any& object)
    {
        if (auto* value = std::any_cast<Value>(&object))
            return *value;
        if (auto* shared = std::any_cast<std::shared_ptr<Value>>(&object); shared && *shared)
            return **shared;
        if (auto* shared = std::any_cast<std::shared_ptr<const Value>>(&object); shared && *shared)
            return **shared;
        throw SerializationError(SerializationError::Code::InvalidObject);
    }

    std::string checkedText(std::string text)
    {
        if (!platform::isValidUTF8(text))
            throw SerializationError(SerializationError::Code::EncodingError);
        return text;
    }

    std::string jsonText(const Value& object)
    {
        if (!platform::isValidJSONObject(object))
            throw SerializationError(SerializationError::Code::InvalidObject);
        auto text = platform::dataWithJSONObject(object, { .prettyPrinted = true });
        if (!text)
            throw std::runtime_error("The data couldn’t be written because it isn’t in the correct format.");
        return checkedText(std::move(*text));
    }

    std::string plistText(const Value& object)
    {
        if (!platform::propertyListIsValid(object))
            throw SerializationError(SerializationError::Code::InvalidObject);
        auto text = platform::xmlPropertyListString(object);
        if (!text)
            throw std::runtime_error("The data couldn’t be written because it isn’t in the correct format.");
        return checkedText(std::move(*text));
    }

    HttpBytes bytesOf(const std::string& text)
    {
        return HttpBytes(text.begin(), text.end());
    }

} // namespace

std::string JSONSerializer::serialize(const std::any& object) const
{
    return jsonText(objectReference(object));
}

std::string XMLSerializer::serialize(const std::any&) const
{
    throw SerializationError(SerializationError::Code::NotSupported);
}

std::string PLISTSerializer::serialize(const std::any& object) const
{
    return plistText(objectReference(object));
}

const std::string& httpServerVersionString()
{
    static const std::string version = [] {
        auto& bundle = platform::NSBundle::mainBundle();
        auto text = [&](std::string_view key) {
            auto* string = bundle.objectForInfoDictionaryKey(key).string();
            return string ? *string : std::string();
        };
        return text("CFBundleShortVersionString") + " (" + text("CFBundleVersion") + ")";
    }();
    return version;
}

HttpResponseBody HttpResponseBody::withObject(Kind kind, Value object)
{
    HttpResponseBody body(kind);
    body.m_object = std::move(object);
    return body;
}

HttpResponseBody HttpResponseBody::Json(Value object)
{
    return withObject(Kind::Json, std::move(object));
}

HttpResponseBody HttpResponseBody::Xml(Value object)
{
    return withObject(Kind::Xml, std::move(object));
}

HttpResponseBody HttpResponseBody::Plist(Value object)
{
    return withObject(Kind::Plist, std::move(object));
}

HttpResponseBody HttpResponseBody::Html(std::string fragment)
{
    HttpResponseBody body(Kind::Html);
    body.m_text = std::move(fragment);
    return body;
}

HttpResponseBody HttpResponseBody::Text(std::string text)
{
    HttpResponseBody body(Kind::Text);
    body.m_text = std::move(text);
    return body;
}

HttpResponseBody HttpResponseBody::Custom(std::shared_ptr<const Serializer> serializer, std::any object)
{
    HttpResponseBody body(Kind::Custom);
    body.m_serializer = std::move(serializer);
    body.m_any = std::move(object);
    return body;
}

HttpBytes HttpResponseBody::data() const
{
    try {
        switch (m_kind) {
        case Kind::Json:
            return bytesOf(jsonText(m_object));
        case Kind::Xml:
            throw SerializationError(SerializationError::Code::NotSupported);
        case Kind::Plist:
            return bytesOf(plistText(m_object));
        case Kind::Html:
            return bytesOf("<html><meta charset=\"UTF-8\"><body>" + m_text + "</body></html>");
        case Kind::Text:
            return bytesOf(m_text);
        case Kind::Custom:
            if (!m_serializer)
                throw SerializationError(SerializationError::Code::NotSupported);
            return bytesOf(m_serializer->serialize(m_any));
        }
    } catch (const std::exception& error) {
        return bytesOf(std::string("Serialisation error: ") + error.what());
    }
    return {};
}

std::optional<std::string> HttpResponseBody::contentType() const
{
    switch (m_kind) {
    case Kind::Json:
        return "application/json";
    case Kind::Xml:
    case Kind::Plist:
        return "application/xml";
    case Kind::Html:
        return "text/html";
    case Kind::Text:
    case Kind::Custom:
        break;
    }
    return std::nullopt;
}

HttpResponse HttpResponse::OK(HttpResponseBody body)
{
    HttpResponse response(Kind::OK);
    response.m_body = std::move(body);
    return response;
}

HttpResponse HttpResponse::MovedPermanently(std::string location)
{
    HttpResponse response(Kind::MovedPermanently);
    response.m_text = std::move(location);
    return response;
}

HttpResponse HttpResponse::RAW(int64_t statusCode, std::string reasonPhrase, std::optional<HttpHeaders> headers, std::optional<HttpBytes> body)
{
    HttpResponse response(Kind::RAW);
    response.m_code = statusCode;
    response.m_text = std::move(reasonPhrase);
    response.m_rawHeaders = std::move(headers);
    response.m_rawBody = std::move(body);
    return response;
}

HttpResponse HttpResponse::RAW(int64_t statusCode, std::string reasonPhrase, std::optional<HttpHeaders> headers,
    std::shared_ptr<const HttpFileBody> fileBody)
{
    HttpResponse response = RAW(statusCode, std::move(reasonPhrase), std::move(headers));
    response.m_fileBody = std::move(fileBody);
    return response;
}

HttpResponse HttpResponse::RAW(int64_t statusCode, std::string reasonPhrase, std::optional<HttpHeaders> headers,
    std::shared_ptr<const HttpStreamBody> streamBody)
{
    HttpResponse response = RAW(statusCode, std::move(reasonPhrase), std::move(headers));
    response.m_streamBody = std::move(streamBody);
    return response;
}

HttpFileBody::HttpFileBody(int descriptor, uint64_t length)
    : m_descriptor(descriptor)
    , m_length(length)
{
}

HttpFileBody::HttpFileBody(int descriptor, uint64_t offset, uint64_t length)
    : m_descriptor(descriptor)
    , m_offset(offset)
    , m_length(length)
{
}

HttpFileBody::~HttpFileBody()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

namespace {
    // The cases without payload, from Created on, in declaration order.
    constexpr int64_t plainCodes[] = { 201, 202, 400, 401, 403, 404, 500 };
    constexpr const char* plainPhrases[] = { "Created", "Accepted", "Bad Request", "Unauthorized", "Forbidden", "Not Found", "Internal Server Error" };

    size_t plainIndex(HttpResponse::Kind kind)
    {
        return static_cast<size_t>(kind) - static_cast<size_t>(HttpResponse::Kind::Created);
    }
} // namespace

int64_t HttpResponse::statusCode() const
{
    switch (m_kind) {
    case Kind::OK:
        return 200;
    case Kind::MovedPermanently:
        return 301;
    case Kind::RAW:
        return m_code;
    default:
        return plainCodes[plainIndex(m_kind)];
    }
}

std::string HttpResponse::reasonPhrase() const
{
    switch (m_kind) {
    case Kind::OK:
        return "OK";
    case Kind::MovedPermanently:
        return "Moved Permanently";
    case Kind::RAW:
        return m_text;
    default:
        return plainPhrases[plainIndex(m_kind)];
    }
}

HttpHeaders HttpResponse::headers() const
{
    HttpHeaders headers { { "Server", "VeskHTTPServer " + httpServerVersionString() } };
    switch (m_kind) {
    case Kind::OK:
        if (auto type = m_body->contentType())
            headers["Content-Type"] = *type;
        break;
    case Kind::MovedPermanently:
        headers["Location"] = m_text;
        break;
    case Kind::RAW:
        if (m_rawHeaders) {
            for (auto& [name, value] : *m_rawHeaders)
                headers[name] = value;
        }
        break;
    default:
        break;
    }
    return headers;
}

std::optional<HttpBytes> HttpResponse::body() const
{
    switch (m_kind) {
    case Kind::OK:
        return m_body->data();
    case Kind::RAW:
        if (m_streamBody) {
            HttpBytes bytes;
            auto reader = m_streamBody->open();
            uint8_t buffer[65536];
            for (;;) {
                ssize_t count = reader->read(buffer, sizeof buffer);
                if (count <= 0)
                    break;
                bytes.insert(bytes.end(), buffer, buffer + count);
            }
            return bytes;
        }
        return m_rawBody;
    default:
        return std::nullopt;
    }
}

} // namespace vesk
