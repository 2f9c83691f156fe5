#pragma once

// Request heads that servers read in different ways (smuggling shapes among them), for the
// parser's and the server's tests alike.

#include "http/HttpParser.h"

#include <string>

namespace vesk::test {

// Each is refused whole, wherever its bytes are split.
struct StrictHead {
    std::string name, input;
    HttpParserError::Code error;
};
inline const StrictHead strictHeads[] = {
    { "bare CR inside a length", "GET / HTTP/1.1\r\nContent-Length: 1\r0\r\n\r\n", HttpParserError::Code::InvalidFraming },
    { "bare CR hiding a length", "GET / HTTP/1.1\r\nX: a\rContent-Length: 5\r\n\r\nhello", HttpParserError::Code::InvalidFraming },
    { "bare CR before the CR LF", "GET / HTTP/1.1\r\nX: a\r\r\n\r\n", HttpParserError::Code::InvalidFraming },
    { "bare CR as a line", "GET / HTTP/1.1\r\n\r\r\n\r\n", HttpParserError::Code::InvalidFraming },
    { "bare CR in the request line", "GET /\r HTTP/1.1\r\n\r\n", HttpParserError::Code::InvalidRequestLine },
    { "zero byte, then a header", std::string("GET / HTTP/1.1") + '\0' + "Content-Length: 5\r\n\r\nhello", HttpParserError::Code::InvalidRequestLine },
    { "control bytes in the target", "GET /de\x01\x02"
                                     "bug HTTP/1.1\r\n\r\n",
        HttpParserError::Code::InvalidRequestLine },
    { "tab in the target", "GET /a\tb HTTP/1.1\r\n\r\n", HttpParserError::Code::InvalidRequestLine },
    { "DEL in the target", "GET /\x7F HTTP/1.1\r\n\r\n", HttpParserError::Code::InvalidRequestLine },
    { "escape in the method", "G\x1B[31mET / HTTP/1.1\r\n\r\n", HttpParserError::Code::InvalidRequestLine },
    { "four tokens", "GET / HTTP/1.1 extra\r\n\r\n", HttpParserError::Code::InvalidRequestLine },
    { "leading space", " GET / HTTP/1.1\r\n\r\n", HttpParserError::Code::InvalidRequestLine },
    { "trailing space", "GET / HTTP/1.1 \r\n\r\n", HttpParserError::Code::InvalidRequestLine },
    { "method no token", "G@T / HTTP/1.1\r\n\r\n", HttpParserError::Code::InvalidRequestLine },
    { "version with a tail", "GET / HTTP/1.1x\r\n\r\n", HttpParserError::Code::InvalidRequestLine },
    { "version in lower case", "GET / http/1.1\r\n\r\n", HttpParserError::Code::InvalidRequestLine },
    { "version 2", "GET / HTTP/2.0\r\n\r\n", HttpParserError::Code::InvalidRequestLine },
    { "version 0.9", "GET / HTTP/0.9\r\n\r\n", HttpParserError::Code::InvalidRequestLine },
    { "header without a colon", "GET / HTTP/1.1\r\nnocolon\r\n\r\n", HttpParserError::Code::InvalidFraming },
    { "header without a name", "GET / HTTP/1.1\r\n:novalue\r\n\r\n", HttpParserError::Code::InvalidFraming },
    { "space before the colon", "GET / HTTP/1.1\r\nHost : x\r\n\r\n", HttpParserError::Code::InvalidFraming },
    { "space inside the name", "GET / HTTP/1.1\r\nX Y: z\r\n\r\n", HttpParserError::Code::InvalidFraming },
    { "tab before the colon", "GET / HTTP/1.1\r\nHost\t: x\r\n\r\n", HttpParserError::Code::InvalidFraming },
    { "name no token", "GET / HTTP/1.1\r\nX(y): z\r\n\r\n", HttpParserError::Code::InvalidFraming },
    { "DEL in a value", "GET / HTTP/1.1\r\nX: a\x7F\r\n\r\n", HttpParserError::Code::InvalidFraming },
};

} // namespace vesk::test
