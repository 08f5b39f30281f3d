#include "data/clientdataset.h"

#include "rtl/streaming.h"

#include "data/dberrors.h"
#include "rtl/utf8.h"

#include <nlohmann/json.hpp>

// Property names compare by length first.
using namespace std::string_view_literals;

using nlohmann::json;

namespace {
struct Packet {
    ResultSet result;
    std::vector<int> sizes;
};

std::optional<json> parse(const std::string &text)
{
    json j = json::parse(text, nullptr, false);
    if (j.is_discarded())
        return std::nullopt;
    return j;
}

std::optional<std::string> errorText(const json &j)
{
    if (j.is_object() && j.contains("error") && j["error"].is_string())
        return j["error"].get<std::string>();
    return std::nullopt;
}

Packet readPacket(const std::string &text, const std::string &prefix)
{
    auto malformed = [&](const std::string &why) {
        return EDatabaseError(prefix + "Pacote de dados inválido: " + why);
    };
    std::optional<json> j = parse(text);
    if (!j)
        throw malformed("JSON mal formado.");
    if (auto error = errorText(*j))
        throw EDatabaseError(*error);
    if (!j->is_object() || !(*j)["fields"].is_array() || !(*j)["rows"].is_array())
        throw malformed("faltam \"fields\" ou \"rows\".");
    Packet p;
    for (const json &f : (*j)["fields"]) {
        if (!f.is_object() || !f.contains("name") || !f["name"].is_string())
            throw malformed("campo sem nome.");
        int size = 0;
        if (f.contains("size")) {
            if (!f["size"].is_number_integer() || f["size"].get<long long>() < 0 ||
                f["size"].get<long long>() > 1000000000)
                throw malformed("tamanho inválido no campo '" + f["name"].get<std::string>() + "'.");
            size = f["size"].get<int>();
        }
        p.result.columns.push_back(f["name"].get<std::string>());
        p.sizes.push_back(size);
    }
    for (const json &r : (*j)["rows"]) {
        if (!r.is_array() || r.size() != p.result.columns.size())
            throw malformed("linha com número de valores diferente dos campos.");
        auto &row = p.result.rows.emplace_back();
        for (const json &v : r) {
            if (v.is_null())
                row.emplace_back(std::nullopt);
            else if (v.is_string())
                row.emplace_back(v.get<std::string>());
            else
                throw malformed("valor que não é texto nem nulo.");
        }
    }
    return p;
}

void checkLength(const Packet &p, std::size_t column, int size, const std::string &fieldName,
                 const std::string &prefix)
{
    for (const auto &row : p.result.rows) {
        const auto &v = row[column];
        if (size > 0 && v && utf8::length(*v) > static_cast<std::size_t>(size))
            throw EDatabaseError(prefix + "Valor '" + *v + "' excede o tamanho " +
                                 std::to_string(size) + " do campo '" + fieldName + "'.");
    }
}
} // namespace

void TClientDataSet::SetData(const std::string &packet)
{
    Packet p = readPacket(packet, Prefix());
    if (PersistentFields().empty()) {
        // Default fields come from the packet: hold it to its own sizes.
        for (std::size_t i = 0; i < p.result.columns.size(); ++i)
            checkLength(p, i, p.sizes[i], p.result.columns[i], Prefix());
    }
    for (const TField *f : PersistentFields()) {
        std::size_t column = 0;
        while (column < p.result.columns.size() && p.result.columns[column] != f->FieldName)
            ++column;
        if (column == p.result.columns.size())
            throw EDatabaseError(Prefix() + "Campo '" + f->FieldName +
                                 "' ausente no pacote de dados.");
        checkLength(p, column, f->Size, f->FieldName, Prefix());
    }
    Close();
    packet_ = packet;
    rows_ = std::move(p.result);
    sizes_ = std::move(p.sizes);
    loaded_ = true;
    Open();
}

ResultSet TClientDataSet::InternalOpen()
{
    if (!loaded_)
        throw EDatabaseError(Prefix() + "Nenhum pacote de dados carregado.");
    return rows_;
}

int TClientDataSet::DefaultFieldSize(std::size_t column) const
{
    return column < sizes_.size() && sizes_[column] > 0 ? sizes_[column] : 20;
}

namespace {
// Appends `text` as a JSON string. The server answers every call with a
// packet, so it is written directly rather than through a document tree.
void appendJsonString(std::string &out, const std::string &text)
{
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            // A well-formed UTF-8 sequence is copied; anything else would
            // make a packet no client can read.
            const int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
            bool ok = extra > 0 && i + static_cast<std::size_t>(extra) < text.size() && c >= 0xC2 && c <= 0xF4;
            for (int k = 1; ok && k <= extra; ++k)
                ok = (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0xC0) == 0x80;
            if (ok) {
                // No overlong forms, no surrogates, nothing past U+10FFFF.
                const auto next = static_cast<unsigned char>(text[i + 1]);
                ok = !(c == 0xE0 && next < 0xA0) && !(c == 0xED && next >= 0xA0) && !(c == 0xF0 && next < 0x90) &&
                     !(c == 0xF4 && next >= 0x90);
            }
            if (!ok)
                throw EDatabaseError("Resultado não pode ser enviado: texto que não é UTF-8 válido.");
            out.append(text, i, static_cast<std::size_t>(extra) + 1);
            i += static_cast<std::size_t>(extra);
        }
    }
    out += '"';
}
} // namespace

std::string MakeDataPacket(const ResultSet &result, const std::vector<int> &sizes)
{
    std::string out = "{\"fields\":[";
    for (std::size_t i = 0; i < result.columns.size(); ++i) {
        if (i)
            out += ',';
        out += "{\"name\":";
        appendJsonString(out, result.columns[i]);
        if (i < sizes.size() && sizes[i] > 0)
            out += ",\"size\":" + std::to_string(sizes[i]);
        out += ",\"type\":\"string\"}";
    }
    out += "],\"rows\":[";
    for (std::size_t r = 0; r < result.rows.size(); ++r) {
        if (r)
            out += ',';
        out += '[';
        const auto &row = result.rows[r];
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i)
                out += ',';
            if (row[i])
                appendJsonString(out, *row[i]);
            else
                out += "null";
        }
        out += ']';
    }
    out += "]}";
    return out;
}

std::string MakeErrorReply(const std::string &text)
{
    // Invalid UTF-8 is replaced rather than losing the whole message.
    return json{{"error", text}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool IsErrorReply(const std::string &reply)
{
    std::optional<json> j = parse(reply);
    return j && errorText(*j).has_value();
}

std::string ErrorReplyText(const std::string &reply)
{
    std::optional<json> j = parse(reply);
    return j ? errorText(*j).value_or(std::string()) : std::string();
}

bool TClientDataSet::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    // Design-time settings with no effect on a packet-filled data set.
    if (p.name == "Aggregates"sv || p.name == "Params"sv || p.name == "AggregatesActive"sv)
        return true;
    return TDataSet::SetProperty(p, ctx);
}

void RegisterDataComponents()
{
    ClassRegistry::Register("TStringField",
                            [](TComponent *owner) -> TComponent * { return new TStringField(nullptr, {}, 20, owner); });
    RegisterComponentClass<TDataSource>("TDataSource");
    RegisterComponentClass<TClientDataSet>("TClientDataSet");
}
