#include "net/appserver_protocol.h"

#include "rtl/json_depth.h"
#include "rtl/sysutils.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <charconv>

using nlohmann::json;

namespace appserver {

std::string BuildCallBody(const CallRequest &call)
{
    json body = {{"server", call.server}, {"method", call.method}, {"args", call.args}};
    try {
        return body.dump();
    } catch (const json::exception &) {
        throw Exception("Chamada ao servidor de aplicação com texto UTF-8 inválido.");
    }
}

std::optional<CallRequest> ParseCallBody(const std::string &body, std::string &error)
{
    // A call nests two levels; anything much deeper is refused unread.
    if (JsonNestingDepth(body) > 8) {
        error = "Corpo da requisição aninha listas ou objetos demais.";
        return std::nullopt;
    }
    // Parsing without exceptions: nothing of a malformed body may escape.
    json j = json::parse(body, nullptr, false);
    if (j.is_discarded()) {
        error = "Corpo da requisição não é JSON válido.";
        return std::nullopt;
    }
    if (!j.is_object()) {
        error = "Corpo da requisição deve ser um objeto JSON.";
        return std::nullopt;
    }
    auto text = [&](const char *key) -> const std::string * {
        auto it = j.find(key);
        return it != j.end() && it->is_string() ? it->get_ptr<const std::string *>() : nullptr;
    };
    CallRequest call;
    if (const std::string *s = text("server"); s && !s->empty())
        call.server = *s;
    else {
        error = "Campo \"server\" ausente ou não é texto.";
        return std::nullopt;
    }
    if (const std::string *m = text("method"); m && !m->empty())
        call.method = *m;
    else {
        error = "Campo \"method\" ausente ou não é texto.";
        return std::nullopt;
    }
    auto args = j.find("args");
    if (args == j.end() || !args->is_array()) {
        error = "Campo \"args\" ausente ou não é uma lista.";
        return std::nullopt;
    }
    for (const json &a : *args) {
        if (!a.is_string()) {
            error = "Campo \"args\" deve conter apenas textos.";
            return std::nullopt;
        }
        call.args.push_back(a.get<std::string>());
    }
    return call;
}

std::string BearerHeader(const std::string &token) { return "Bearer " + token; }

std::optional<std::string> BearerToken(const std::string &headerValue)
{
    static const std::string scheme = "bearer ";
    if (headerValue.size() <= scheme.size())
        return std::nullopt;
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(headerValue[i])) != scheme[i])
            return std::nullopt;
    std::size_t start = headerValue.find_first_not_of(' ', scheme.size());
    if (start == std::string::npos)
        return std::nullopt;
    std::size_t end = headerValue.find_last_not_of(' ');
    return headerValue.substr(start, end - start + 1);
}

std::optional<int> ParsePortLine(const std::string &line)
{
    static const std::string prefix = "port ";
    if (line.rfind(prefix, 0) != 0)
        return std::nullopt;
    std::string digits = line.substr(prefix.size());
    while (!digits.empty() && (digits.back() == '\r' || digits.back() == ' '))
        digits.pop_back();
    int port = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty() || port <= 0 ||
        port > 65535)
        return std::nullopt;
    return port;
}

} // namespace appserver
