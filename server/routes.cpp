#include "routes.h"

#include "appserver.h"
#include "data/clientdataset.h"
#include "data/dberrors.h"
#include "resumo_module.h"

#include <cstdio>
#include <ctime>
#include <optional>

namespace {
bool sameSecret(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

// Raised where a call asks for a database session while being answered at
// once; not an exception of the call, so no handler of the call's own
// failures takes it.
struct NeedsWorker {};

// The I/O thread parses no large body: those always go to a worker.
constexpr std::size_t kImmediateBodyLimit = 4096;

std::string pathOf(const std::string &target) { return target.substr(0, target.find('?')); }

std::string statusText(int status, std::size_t maxBody)
{
    switch (status) {
    case 400: return "Requisição HTTP mal formada.";
    case 408: return "Tempo esgotado aguardando a requisição.";
    case 413: return "Corpo da requisição excede o limite de " + std::to_string(maxBody) + " bytes.";
    case 414: return "Endereço da requisição longo demais.";
    case 503: return "Servidor de aplicação sem conexões livres; tente novamente em instantes.";
    default: return "Erro HTTP " + std::to_string(status) + ".";
    }
}

std::string utcTimestamp()
{
    auto now = std::chrono::system_clock::now();
    std::time_t secs = std::chrono::system_clock::to_time_t(now);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return buf;
}
} // namespace

std::string LogSafe(const std::string &text, std::size_t maxLength)
{
    std::string out;
    for (char c : text) {
        if (out.size() >= maxLength) {
            out += "...";
            break;
        }
        auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7f) ? '?' : c;
    }
    return out;
}

std::string RequestLogLine(const std::string &peer, const std::string &method, int status,
                           std::chrono::steady_clock::time_point start, const std::string &detail)
{
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    char tail[64];
    std::snprintf(tail, sizeof tail, " %d %.2fms", status, ms);
    std::string line = utcTimestamp() + " " + peer + " " + LogSafe(method) + tail;
    if (!detail.empty())
        line += " [" + LogSafe(detail, 300) + "]";
    return line;
}

Routes::Routes(const AppServerSettings &settings, SessionPool &sessions)
    : settings_(settings), sessions_(sessions), lookups_(settings.lookupCacheTime)
{
}

HttpAnswer Routes::error(int status, const std::string &text, std::string logMethod) const
{
    HttpAnswer a;
    a.status = status;
    a.body = MakeErrorReply(text);
    a.logMethod = std::move(logMethod);
    return a;
}

HttpAnswer Routes::Refusal(int status, std::string logMethod) const
{
    return error(status, statusText(status, settings_.maxBodyBytes), std::move(logMethod));
}

HttpAnswer Routes::Handle(const HttpCall &req) const { return handle(req, false); }

std::optional<HttpAnswer> Routes::Immediate(const HttpCall &req) const
{
    if (req.body.size() > kImmediateBodyLimit)
        return std::nullopt;
    try {
        return handle(req, true);
    } catch (const NeedsWorker &) {
        return std::nullopt;
    }
}

HttpAnswer Routes::handle(const HttpCall &req, bool immediate) const
{
    const std::string path = pathOf(req.target);
    std::string label = req.method + " " + path;
    // HEAD is GET without the body; the connection leaves the body out.
    const bool get = req.method == "GET" || req.method == "HEAD";
    try {
        if (path == appserver::kCallPath) {
            if (req.method == "POST")
                return call(req, immediate);
            if (get) {
                HttpAnswer a = error(405, "Use POST para chamar métodos.", std::move(label));
                a.headers.emplace_back("Allow", "POST");
                return a;
            }
        } else if (path == appserver::kHealthPath && get) {
            HttpAnswer a;
            a.body = std::string(R"({"status":"ok","server":")") + ResumoModule::Name() + "\"}";
            a.logMethod = std::move(label);
            return a;
        }
        return error(404, "Recurso não encontrado: " + LogSafe(path, 200), std::move(label));
    } catch (const NeedsWorker &) {
        throw;
    } catch (...) {
        // Whatever escaped a route never reaches the client as text.
        return error(500, "Erro interno do servidor de aplicação.", std::move(label));
    }
}

HttpAnswer Routes::call(const HttpCall &req, bool immediate) const
{
    std::string label = req.method + " " + pathOf(req.target);
    if (!settings_.token.empty()) {
        std::optional<std::string> given = appserver::BearerToken(req.authorization);
        if (!given || !sameSecret(*given, settings_.token)) {
            HttpAnswer a = error(401, "Token de acesso ausente ou inválido.", std::move(label));
            a.headers.emplace_back("WWW-Authenticate", "Bearer");
            return a;
        }
    }
    std::string parseError;
    std::optional<appserver::CallRequest> call = appserver::ParseCallBody(req.body, parseError);
    if (!call)
        return error(400, parseError, std::move(label));
    label = call->method;
    if (call->server != ResumoModule::Name())
        return error(404, "Servidor '" + LogSafe(call->server, 200) + "' não existe neste servidor de aplicação.",
                     std::move(label));
    // Method and arguments, each with its length: no two calls share a key.
    std::string key = std::to_string(call->method.size()) + ':' + call->method;
    for (const std::string &arg : call->args)
        key += std::to_string(arg.size()) + ':' + arg;
    if (std::optional<std::string> kept = lookups_.Find(key)) {
        HttpAnswer a;
        a.body = std::move(*kept);
        a.logMethod = std::move(label);
        return a;
    }
    std::optional<SessionPool::Lease> lease;
    auto session = [&]() -> DatabaseSession & {
        if (immediate)
            throw NeedsWorker{};
        if (!lease)
            lease.emplace(sessions_);
        return lease->Session();
    };
    try {
        HttpAnswer a;
        a.body = ResumoModule::Call(call->method, call->args, session);
        a.logMethod = std::move(label);
        if (lease)  // what read the database, and only what it answered
            lookups_.Store(key, a.body);
        return a;
    } catch (const EDatabaseError &e) {
        if (lease)
            lease->Discard();
        HttpAnswer a = error(200, e.Message(), std::move(label));
        a.logDetail = e.EngineText();
        return a;
    } catch (const Exception &e) {
        return error(200, e.Message(), std::move(label));
    } catch (const std::exception &) {
        if (lease)
            lease->Discard();
        return error(500, "Erro interno do servidor de aplicação.", std::move(label));
    }
}
