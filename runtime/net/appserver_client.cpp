#include "net/appserver_client.h"

#include "net/appserver_protocol.h"
#include "net/http_connection.h"
#include "rtl/sysutils.h"

#include <nlohmann/json.hpp>

#include <algorithm>
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

AppServerClient::AppServerClient(std::string host, int port, std::string token,
                                 AppServerClientTimeouts timeouts)
    : host_(std::move(host)), port_(port), token_(std::move(token)),
      serverName_(appserver::kResumoServerName), timeouts_(timeouts)
{
    ignoreSigpipe();
}

AppServerClient::~AppServerClient()
{
    // The next client for this server (the screen opened again) starts on it.
    if (connection_)
        idle_connections::Give(host_, port_, std::move(connection_));
}

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
    std::string request;
    request.reserve(body.size() + 200 + token_.size());
    request += "POST ";
    request += appserver::kCallPath;
    request += " HTTP/1.1\r\nHost: ";
    request += host_.find(':') == std::string::npos ? host_ : '[' + host_ + ']';
    request += ':' + std::to_string(port_);
    request += "\r\nContent-Type: ";
    request += appserver::kJsonType;
    request += "\r\nContent-Length: " + std::to_string(body.size());
    if (!token_.empty())
        request += "\r\nAuthorization: " + appserver::BearerHeader(token_);
    request += "\r\n\r\n";
    request += body;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeouts_.call;
    for (int attempt = 0;; ++attempt) {
        bool reused = true;
        if (!connection_)
            connection_ = idle_connections::Take(host_, port_);
        if (!connection_) {
            reused = false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() > 0)
                connection_ = HttpConnection::Open(host_, port_, std::min(timeouts_.connect, left));
            if (!connection_)
                throw Exception(unavailable());
        }
        HttpReply reply;
        bool received = false;
        const HttpFailure failure = connection_->Exchange(request, reply, deadline, received);
        if (failure == HttpFailure::None) {
            if (!reply.keepAlive)
                connection_.reset();
            return checkedReply(method, reply);
        }
        // Nothing of a broken connection is kept.
        connection_.reset();
        // A kept connection the server closed just as we reused it fails at
        // once; the calls only read, so sending again once is safe.
        if (attempt == 0 && reused && !received && (failure == HttpFailure::Send || failure == HttpFailure::Closed))
            continue;
        if (failure == HttpFailure::Malformed || failure == HttpFailure::TooLarge)
            throw Exception("Servidor de aplicação em " + host_ + ":" + std::to_string(port_) +
                            " respondeu à chamada de '" + method + "' com " +
                            (failure == HttpFailure::TooLarge ? "uma resposta grande demais."
                                                              : "algo que não é uma resposta HTTP."));
        throw Exception(unavailable());
    }
}

std::string AppServerClient::checkedReply(const std::string &method, HttpReply &res) const
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
