#include "net/appserver_client.h"

#include "net/appserver_protocol.h"
#include "rtl/sysutils.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <csignal>

namespace {
void ignoreSigpipe()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            sigaction(SIGPIPE, &ignore, nullptr);
        }
    });
}

std::string replyErrorText(const std::string &body)
{
    nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
    if (j.is_object()) {
        auto it = j.find("error");
        if (it != j.end() && it->is_string())
            return it->get<std::string>();
    }
    return {};
}
} // namespace

struct AppServerClient::Connection {
    httplib::Client http;
    // A kept-alive socket may have been closed by the server while idle.
    bool mayBeStale = false;

    Connection(const std::string &host, int port, const AppServerClientTimeouts &t)
        : http(host, port)
    {
        http.set_keep_alive(true);
        http.set_tcp_nodelay(true);
        http.set_connection_timeout(t.connect);
        http.set_read_timeout(t.read);
        http.set_write_timeout(t.write);
    }
};

AppServerClient::AppServerClient(std::string host, int port, std::string token,
                                 AppServerClientTimeouts timeouts)
    : host_(std::move(host)), port_(port), token_(std::move(token)),
      serverName_(appserver::kResumoServerName), timeouts_(timeouts)
{
    ignoreSigpipe();
}

AppServerClient::~AppServerClient() = default;

void AppServerClient::SetServerName(const std::string &name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    serverName_ = name;
}

std::string AppServerClient::unavailable() const
{
    return "Servidor de aplicação indisponível em " + host_ + ":" + std::to_string(port_) + ".";
}

std::string AppServerClient::Call(const std::string &method, const std::vector<std::string> &args)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string body = appserver::BuildCallBody({serverName_, method, args});
    httplib::Headers headers;
    if (!token_.empty())
        headers.emplace("Authorization", appserver::BearerHeader(token_));

    if (!connection_)
        connection_ = std::make_unique<Connection>(host_, port_, timeouts_);
    for (int attempt = 0;; ++attempt) {
        const bool mayBeStale = connection_->mayBeStale;
        const auto started = std::chrono::steady_clock::now();
        httplib::Result res =
            connection_->http.Post(appserver::kCallPath, headers, body, appserver::kJsonType);
        if (res) {
            connection_->mayBeStale = true;
            return checkedReply(method, *res);
        }
        connection_->mayBeStale = false;
        // A connection the server closed just as we reused it fails at once;
        // the calls only read, so sending again once is safe.
        const httplib::Error e = res.error();
        const bool quick = std::chrono::steady_clock::now() - started < timeouts_.connect;
        if (attempt == 0 && mayBeStale && quick &&
            (e == httplib::Error::Read || e == httplib::Error::Write || e == httplib::Error::Unknown))
            continue;
        // The next call starts from a fresh client: nothing of a broken one is kept.
        connection_.reset();
        throw Exception(unavailable());
    }
}

std::string AppServerClient::checkedReply(const std::string &method, httplib::Response &res) const
{
    const std::string where = host_ + ":" + std::to_string(port_);
    if (res.status != 200) {
        std::string text = replyErrorText(res.body);
        if (text.empty())
            text = "resposta sem descrição do erro.";
        throw Exception("Servidor de aplicação em " + where + " recusou a chamada de '" + method +
                        "' (HTTP " + std::to_string(res.status) + "): " + text);
    }
    if (!nlohmann::json::accept(res.body))
        throw Exception("Servidor de aplicação em " + where + " respondeu à chamada de '" + method +
                        "' com um conteúdo que não é JSON.");
    return std::move(res.body);
}

bool AppServerClient::Ping()
{
    try {
        std::string reply = Call("Ping", {});
        return replyErrorText(reply).empty();
    } catch (const Exception &e) {
        if (e.Message() == unavailable())
            return false;
        throw;
    }
}
