#pragma once

#include "platform/foundation/Value.h"

#include <any>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <variant>
#include <vector>

namespace vesk {

using HttpHeaders = std::map<std::string, std::string>;
using HttpBytes = std::vector<uint8_t>;

class SerializationError : public std::runtime_error {
public:
    enum class Code {
        InvalidObject,
        NotSupported,
        EncodingError,
    };

    explicit SerializationError(Code code);
    Code code() const { return m_code; }
    bool operator==(const SerializationError& other) const { return m_code == other.m_code; }
    static const char* caseName(Code);

private:
    Code m_code;
};

// Turns an object into body text; throws SerializationError, or the
// platform writer's own error.
class Serializer {
public:
    virtual ~Serializer() = default;
    virtual std::string serialize(const std::any& object) const = 0;
};

// Objects are platform::Value (or a shared pointer to one); anything else is InvalidObject.
class JSONSerializer : public Serializer {
public:
    std::string serialize(const std::any& object) const override;
};

class XMLSerializer : public Serializer {
public:
    std::string serialize(const std::any& object) const override;
};

class PLISTSerializer : public Serializer {
public:
    std::string serialize(const std::any& object) const override;
};

// "<version> (<build>)" from the main bundle's Info.plist, read once.
const std::string& httpServerVersionString();

class HttpResponseBody {
public:
    enum class Kind {
        Json,
        Xml,
        Plist,
        Html,
        Text,
        Custom,
    };

    static HttpResponseBody Json(platform::Value object);
    static HttpResponseBody Xml(platform::Value object);
    static HttpResponseBody Plist(platform::Value object);
    static HttpResponseBody Html(std::string fragment);
    static HttpResponseBody Text(std::string text);
    static HttpResponseBody Custom(std::shared_ptr<const Serializer> serializer, std::any object);

    Kind kind() const { return m_kind; }
    // Serialized anew on every call; a failure becomes the text
    // "Serialisation error: " and the error.
    HttpBytes data() const;
    // The "Content-Type" this kind of body brings, if any.
    std::optional<std::string> contentType() const;

private:
    static HttpResponseBody withObject(Kind kind, platform::Value object);
    HttpResponseBody(Kind kind)
        : m_kind(kind)
    {
    }

    Kind m_kind;
    platform::Value m_object;
    std::string m_text;
    std::shared_ptr<const Serializer> m_serializer;
    std::any m_any;
};

// A body sent straight from an open file, `length` bytes from `offset` (the file's start
// unless given), so that a large file is never held in memory. Owns the descriptor and
// closes it when the last response holding it goes.
class HttpFileBody {
public:
    HttpFileBody(int descriptor, uint64_t length);
    HttpFileBody(int descriptor, uint64_t offset, uint64_t length);
    ~HttpFileBody();
    HttpFileBody(const HttpFileBody&) = delete;
    HttpFileBody& operator=(const HttpFileBody&) = delete;

    int descriptor() const { return m_descriptor; }
    uint64_t offset() const { return m_offset; }
    uint64_t length() const { return m_length; }

private:
    int m_descriptor;
    uint64_t m_offset { 0 };
    uint64_t m_length;
};

// A body made piece by piece as the connection takes it, so that a large answer is never held
// whole; its length is known before its first byte.
class HttpStreamBody {
public:
    class Reader {
    public:
        virtual ~Reader() = default;
        // The next bytes into the buffer: how many, 0 at the end, -1 when the body cannot be
        // made as announced (the connection then ends).
        virtual ssize_t read(uint8_t* buffer, size_t size) = 0;
    };

    virtual ~HttpStreamBody() = default;
    virtual uint64_t length() const = 0;
    // A reader from the first byte; each reader makes the whole body.
    virtual std::unique_ptr<Reader> open() const = 0;
};

// What a route handler answers with.
class HttpResponse {
public:
    enum class Kind {
        OK,
        MovedPermanently,
        RAW,
        Created,
        Accepted,
        BadRequest,
        Unauthorized,
        Forbidden,
        NotFound,
        InternalServerError,
    };

    static HttpResponse OK(HttpResponseBody body);
    static HttpResponse MovedPermanently(std::string location);
    static HttpResponse RAW(int64_t statusCode, std::string reasonPhrase, std::optional<HttpHeaders> headers = std::nullopt,
        std::optional<HttpBytes> body = std::nullopt);
    // RAW whose body is sent from the file as the connection takes it; body() is then absent.
    static HttpResponse RAW(int64_t statusCode, std::string reasonPhrase, std::optional<HttpHeaders> headers,
        std::shared_ptr<const HttpFileBody> fileBody);
    // RAW whose body is made as the connection takes it; body() makes it whole.
    static HttpResponse RAW(int64_t statusCode, std::string reasonPhrase, std::optional<HttpHeaders> headers,
        std::shared_ptr<const HttpStreamBody> streamBody);
    static HttpResponse Created() { return HttpResponse(Kind::Created); }
    static HttpResponse Accepted() { return HttpResponse(Kind::Accepted); }
    static HttpResponse BadRequest() { return HttpResponse(Kind::BadRequest); }
    static HttpResponse Unauthorized() { return HttpResponse(Kind::Unauthorized); }
    static HttpResponse Forbidden() { return HttpResponse(Kind::Forbidden); }
    static HttpResponse NotFound() { return HttpResponse(Kind::NotFound); }
    static HttpResponse InternalServerError() { return HttpResponse(Kind::InternalServerError); }

    Kind kind() const { return m_kind; }
    int64_t statusCode() const;
    std::string reasonPhrase() const;
    // Built on every call: "Server" first, then what the case brings.
    HttpHeaders headers() const;
    // Absent when the response has no body.
    std::optional<HttpBytes> body() const;
    // Present only for a RAW answer made with a file body.
    std::shared_ptr<const HttpFileBody> fileBody() const { return m_fileBody; }
    // Present only for a RAW answer made with a stream body.
    std::shared_ptr<const HttpStreamBody> streamBody() const { return m_streamBody; }
    // Keeps the resource until the response has been written or its connection has ended,
    // such as the ration of memory a large answer was built under.
    void holdUntilSent(std::shared_ptr<const void> resource) { m_held = std::move(resource); }
    const std::shared_ptr<const void>& heldUntilSent() const { return m_held; }

private:
    explicit HttpResponse(Kind kind)
        : m_kind(kind)
    {
    }

    Kind m_kind;
    std::optional<HttpResponseBody> m_body;
    std::string m_text;
    int64_t m_code { 0 };
    std::optional<HttpHeaders> m_rawHeaders;
    std::optional<HttpBytes> m_rawBody;
    std::shared_ptr<const HttpFileBody> m_fileBody;
    std::shared_ptr<const HttpStreamBody> m_streamBody;
    std::shared_ptr<const void> m_held;
};

} // namespace vesk
