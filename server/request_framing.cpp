#include "request_framing.h"

#include "rtl/sysutils.h"

#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>

namespace framing {
namespace http = boost::beast::http;

namespace {
// A header's value without the optional blanks around it.
boost::beast::string_view trimmed(boost::beast::string_view v)
{
    const std::string_view t = TrimBlanks(std::string_view(v.data(), v.size()));
    return {t.data(), t.size()};
}
} // namespace

void Prepare(RequestParser &parser, std::size_t maxBodyBytes)
{
    parser.header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
    parser.body_limit(maxBodyBytes);
    // Header and body in one pass when both are already buffered.
    parser.eager(true);
}

int CheckHeader(const RequestParser &parser)
{
    const auto &req = parser.get();
    if (req.target().size() > kMaxTargetBytes)
        return 414;
    const auto codings = req.equal_range(http::field::transfer_encoding);
    if (codings.first == codings.second)
        return 0;
    // The parser refuses a coding after a length and a length after
    // "chunked", but not a length beside another coding, a coding that does
    // not end in "chunked", or a second Transfer-Encoding field.
    if (std::next(codings.first) != codings.second || req.count(http::field::content_length) > 0 ||
        req.version() < 11)
        return 400;
    return boost::beast::iequals(trimmed(codings.first->value()), "chunked") ? 0 : 400;
}

int StatusForError(const boost::beast::error_code &error, bool consumed)
{
    if (error == http::error::body_limit)
        return 413;
    if (error == http::error::header_limit)
        return consumed ? 400 : 414;
    return 400;
}

bool ExpectsContinue(const RequestParser &parser)
{
    const auto &req = parser.get();
    auto it = req.find(http::field::expect);
    if (it == req.end())
        return false;
    return boost::beast::iequals(trimmed(it->value()), "100-continue");
}

} // namespace framing
