#pragma once
// How the server reads a request off the wire: the HTTP/1.1 parser with the
// server's limits, and the framing rules checked once the header is in. A
// request whose length could be read two ways is refused, never guessed at:
// what one reader takes for a body another would take for the next request.
// Shared by the connections and the fuzzer.
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <cstddef>

namespace framing {

using RequestParser = boost::beast::http::request_parser<boost::beast::http::string_body>;

inline constexpr std::size_t kMaxHeaderBytes = 16 * 1024;  // request line and header fields
inline constexpr std::size_t kMaxTargetBytes = 8192;       // longer targets get 414

// Sets the limits on a fresh parser.
void Prepare(RequestParser &parser, std::size_t maxBodyBytes);

// Once the parser reports the header done: 0 when the framing is sound, else
// the status to answer before closing the connection (400: a transfer coding
// beside a length, one other than chunked, or on HTTP/1.0; 414: target too
// long). Conflicting or malformed lengths the parser refuses itself.
int CheckHeader(const RequestParser &parser);

// The status for an error the parser reported. `consumed` tells whether it
// took any byte of this request: it takes the request line as soon as the
// line is whole, so a header over the limit with nothing taken is a target
// too long.
int StatusForError(const boost::beast::error_code &error, bool consumed);

// Whether the client waits for "100 Continue" before it sends the body.
bool ExpectsContinue(const RequestParser &parser);

} // namespace framing
