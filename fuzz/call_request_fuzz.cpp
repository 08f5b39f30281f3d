// A request as the application server reads it: the bytes of a connection
// through the HTTP/1.1 parser with the server's limits and framing checks,
// then the routes (no database behind them), and the call body alone.
#include "appserver.h"
#include "data/dberrors.h"
#include "net/appserver_protocol.h"
#include "request_framing.h"
#include "routes.h"

#include <boost/beast/http/error.hpp>

#include "fuzz_require.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
struct Server {
    Server(const std::string &token)
        : sessions([]() -> std::unique_ptr<DatabaseSession> { throw EDatabaseError("sem banco de dados"); }),
          routes(settingsWith(token), sessions)
    {
    }
    static const AppServerSettings &settingsWith(const std::string &token)
    {
        static AppServerSettings open, closed = [] {
            AppServerSettings s;
            s.token = "s3cret";
            return s;
        }();
        return token.empty() ? open : closed;
    }
    SessionPool sessions;
    Routes routes;
};

// Feeds the bytes in pieces (the first byte says how long) as reads would.
void serve(const std::string &bytes, std::size_t piece, const Routes &routes)
{
    framing::RequestParser parser;
    framing::Prepare(parser, appserver::kDefaultMaxBodyBytes);
    std::string buffered;
    bool checked = false;
    std::size_t consumed = 0;
    for (std::size_t at = 0; at < bytes.size();) {
        buffered.append(bytes, at, piece);
        at += piece;
        boost::beast::error_code ec;
        const std::size_t used = parser.put(boost::asio::buffer(buffered), ec);
        require(used <= buffered.size());
        buffered.erase(0, used);
        consumed += used;
        if (ec && ec != boost::beast::http::error::need_more) {
            const int status = framing::StatusForError(ec, consumed > 0);
            require(status == 400 || status == 413 || status == 414);
            (void)routes.Refusal(status, "-");
            return;
        }
        if (!checked && parser.is_header_done()) {
            checked = true;
            if (const int status = framing::CheckHeader(parser)) {
                require(status == 400 || status == 414);
                return;
            }
            (void)framing::ExpectsContinue(parser);
        }
        if (parser.is_done()) {
            auto &req = parser.get();
            require(req.body().size() <= appserver::kDefaultMaxBodyBytes);
            const HttpAnswer a = routes.Handle({std::string(req.method_string()), std::string(req.target()),
                                                std::string(req[boost::beast::http::field::authorization]),
                                                req.body()});
            require(a.status >= 200 && a.status <= 599 && !a.body.empty());
            return;
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Server open(""), closed("s3cret");
    if (size == 0)
        return 0;
    const std::string bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
    const std::size_t piece = 1 + data[0] % 64;
    serve(bytes, piece, data[0] & 0x80 ? closed.routes : open.routes);

    // The body alone: what parses survives being written and read again.
    std::string error;
    if (auto call = appserver::ParseCallBody(bytes, error)) {
        auto again = appserver::ParseCallBody(appserver::BuildCallBody(*call), error);
        require(again && again->server == call->server && again->method == call->method &&
                again->args == call->args);
    } else {
        require(!error.empty());
    }
    return 0;
}
