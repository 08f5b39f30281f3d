#include "data/firebird_session.h"

#include "data/dberrors.h"
#include "data/sqlparams.h"
#include "rtl/utf8.h"

#include <soci/firebird/soci-firebird.h>
#include <soci/soci.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <deque>
#include <set>

namespace {
// SOCI does not export the Firebird backend's type information, so the
// sanitizer's dynamic-type check on these downcasts could not even link.
__attribute__((no_sanitize("vptr"))) XSQLDA *inputArea(soci::statement &st)
{
    return static_cast<soci::firebird_statement_backend *>(st.get_backend())->sqlda2p_;
}
__attribute__((no_sanitize("vptr"))) XSQLDA *outputArea(soci::statement &st)
{
    return static_cast<soci::firebird_statement_backend *>(st.get_backend())->sqldap_;
}

int baseType(const XSQLVAR &v) { return v.sqltype & ~1; }
bool isText(int type) { return type == SQL_TEXT || type == SQL_VARYING; }
bool isInteger(int type) { return type == SQL_SHORT || type == SQL_LONG || type == SQL_INT64; }

bool isAsciiName(const std::string &s)
{
    if (s.empty() || (s[0] >= '0' && s[0] <= '9'))
        return false;
    for (char c : s)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

void blank(std::string &s, std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to; ++i)
        if (s[i] != '\n')
            s[i] = ' ';
}

std::string numberText(double n)
{
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, n);
    return std::string(buf, res.ptr);
}

std::string floatText(float n)
{
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, n);
    return std::string(buf, res.ptr);
}

// "1.50" -> "1.5", "2.00" -> "2": the form the other engines give a number.
std::string decimalText(std::string s)
{
    if (s.find('.') == std::string::npos)
        return s;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string dateText(const std::tm &t, int type)
{
    char buf[80];
    if (type == SQL_TYPE_TIME)
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    else if (type == SQL_TIMESTAMP && (t.tm_hour || t.tm_min || t.tm_sec))
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                      t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    return buf;
}

// True when `s` has the shape of `pattern`, where '9' stands for a digit; the
// optional tail of `pattern` starts at each '|'.
bool hasShape(const std::string &s, const std::string &pattern)
{
    std::size_t i = 0;
    for (std::size_t p = 0; p < pattern.size(); ++p) {
        if (pattern[p] == '|') {
            if (i == s.size())
                return true;
            continue;
        }
        if (i == s.size())
            return false;
        const bool ok = pattern[p] == '9' ? (s[i] >= '0' && s[i] <= '9') : s[i] == pattern[p];
        if (!ok)
            return false;
        ++i;
    }
    return i == s.size();
}

// The text a parameter of the given Firebird type receives; the server converts it.
std::string paramText(const Variant &v, int type)
{
    const bool isDate = type == SQL_TYPE_DATE || type == SQL_TYPE_TIME || type == SQL_TIMESTAMP;
    if (isDate && v.kind() == Variant::Kind::Text) {
        // The server would also take "01/02/2024", as month first: only the ISO
        // form the other engines compare is let through.
        std::string text = v.asString();
        if (text.size() > 10 && text[10] == 'T')
            text[10] = ' ';
        const bool ok = type == SQL_TYPE_TIME ? hasShape(text, "99:99|:99|.9|9|9|9")
                                              : hasShape(text, "9999-99-99| 99:99|:99|.9|9|9|9");
        if (!ok)
            throw EDatabaseError("Data ou hora fora do formato AAAA-MM-DD HH:MM:SS: '" + text + "'.");
        return text;
    }
    if (!isDate)
        return v.asString();
    const std::string full = Variant(v.asDateTime()).asString();  // "YYYY-MM-DD[ HH:MM:SS]"
    if (type == SQL_TYPE_DATE)
        return full.substr(0, 10);
    if (type == SQL_TYPE_TIME)
        return full.size() > 11 ? full.substr(11) : "00:00:00";
    return full;
}

// What a column held before its type was changed for reading.
struct ColumnType {
    int type = 0;
    int scale = 0;
    int charset = 0;  // of text columns
};

constexpr int kCharsetOctets = 1;

std::optional<std::string> cellText(const soci::row &row, std::size_t i, const ColumnType &col)
{
    if (row.get_indicator(i) == soci::i_null)
        return std::nullopt;
    switch (row.get_properties(i).get_data_type()) {
    case soci::dt_string: {
        std::string s = row.get<std::string>(i);
        // CHAR pads to its length; VARCHAR blanks are data, and so is every byte of a
        // binary CHAR (OCTETS pads with zero bytes, and a trailing 0x20 is data).
        if (col.type == SQL_TEXT && col.charset != kCharsetOctets)
            s.erase(s.find_last_not_of(' ') + 1);
        else if (isInteger(col.type) && col.scale < 0)
            s = decimalText(std::move(s));
        return s;
    }
    case soci::dt_double:
        if (col.type == SQL_FLOAT)
            return floatText(static_cast<float>(row.get<double>(i)));
        return numberText(row.get<double>(i));
    case soci::dt_integer: return std::to_string(row.get<int>(i));
    case soci::dt_long_long: return std::to_string(row.get<long long>(i));
    case soci::dt_date: return dateText(row.get<std::tm>(i), col.type);
    default:
        throw EDatabaseError("Tipo sem suporte na coluna '" + row.get_properties(i).get_name() + "'.");
    }
}

// SOCI reads a value up to the first blank unless it is double-quoted, and a
// quoted value ends at the next double quote.
std::string connectValue(const std::string &what, const std::string &value)
{
    const bool blank = value.find_first_of(" \t\r\n\v\f") != std::string::npos;
    if (!value.empty() && !blank && value[0] != '"')
        return value;
    if (value.find('"') != std::string::npos)
        throw EDatabaseError("O valor de '" + what + "' não pode ter aspas duplas junto com espaços.");
    return '"' + value + '"';
}

class FirebirdSession : public DatabaseSession {
public:
    explicit FirebirdSession(const FirebirdConnection &c)
    {
        if (c.database.empty())
            throw EDatabaseError("Banco de dados Firebird não informado.");
        if (!c.host.empty() && (c.port <= 0 || c.port > 65535))
            throw EDatabaseError("Porta inválida: " + std::to_string(c.port) + ".");
        const std::string service =
            c.host.empty() ? c.database : c.host + "/" + std::to_string(c.port) + ":" + c.database;
        // Firebird takes each login item with a one-byte length; longer ones would wrap.
        for (const auto *item : {&c.user, &c.password, &c.charset})
            if (item->size() > 255)
                throw EDatabaseError("Usuário, senha ou conjunto de caracteres longo demais.");
        std::string connect = "service=" + connectValue("database", service);
        if (!c.user.empty())
            connect += " user=" + connectValue("user", c.user);
        if (!c.password.empty())
            connect += " password=" + connectValue("password", c.password);
        if (!c.charset.empty())
            connect += " charset=" + connectValue("charset", c.charset);
        try {
            sql_.open(soci::firebird, connect);
        } catch (const soci::soci_error &e) {
            throw EDatabaseError("Não foi possível abrir o banco de dados '" + service + "': " +
                                 e.get_error_message());
        }
    }

    ResultSet Query(const std::string &sql, const NamedValues &params) override
    {
        // The whole result, gathered by the streaming read.
        struct Gather : RowReceiver {
            ResultSet result;
            bool Columns(const std::vector<std::string> &names) override
            {
                result.columns = names;
                return true;
            }
            bool Row(const std::vector<std::optional<std::string>> &cells) override
            {
                result.rows.push_back(cells);
                return true;
            }
        } gather;
        QueryRows(sql, params, gather);
        return std::move(gather.result);
    }

    void QueryRows(const std::string &sql, const NamedValues &params, RowReceiver &receiver) override
    {
        const std::vector<BoundValue> bound = ResolveBindings(sql, params);
        const FirebirdStatementText text = PrepareFirebirdStatement(sql);
        // SOCI keeps pointers to the bound values: they must not move before execution.
        std::deque<std::string> values;
        std::deque<soci::indicator> indicators;
        try {
            // A transaction left open would pin the snapshot of its start.
            sql_.commit();
            {
                soci::row row;
                soci::statement st(sql_);
                st.alloc();
                st.prepare(text.sql);
                bindParams(st, text, bound, values, indicators);
                const std::vector<ColumnType> columns = readColumnsAsText(st);
                std::vector<std::string> names;
                XSQLDA *out = outputArea(st);
                for (int i = 0; i < out->sqld; ++i)
                    names.emplace_back(out->sqlvar[i].aliasname,
                                       static_cast<std::size_t>(out->sqlvar[i].aliasname_length));
                if (receiver.Columns(names)) {
                    st.exchange(soci::into(row));
                    st.define_and_bind();
                    // Firebird leaves the nullable flag off where it derives a parameter's
                    // type from a literal or a function argument, and then ignores the NULL
                    // indicator: the value would arrive as whatever the buffer holds.
                    XSQLDA *in = inputArea(st);
                    for (int i = 0; i < in->sqld; ++i)
                        in->sqlvar[i].sqltype |= 1;
                    std::vector<std::optional<std::string>> cells(names.size());
                    for (bool more = st.execute(true); more; more = st.fetch()) {
                        for (std::size_t i = 0; i < row.size() && i < cells.size(); ++i)
                            cells[i] = cellText(row, i, columns.at(i));
                        if (!receiver.Row(cells))
                            break;
                    }
                }
            }
            sql_.commit();
        } catch (const soci::soci_error &e) {
            rollbackQuietly();
            throw EDatabaseError(e.get_error_message());
        } catch (...) {
            rollbackQuietly();
            throw;
        }
    }

    void Execute(const std::string &sql) override
    {
        const FirebirdStatementText text = PrepareFirebirdStatement(sql);
        if (!text.markers.empty())
            throw EDatabaseError("Comando com parâmetro ou variável (:" + text.markers.front() +
                                 ") não pode ser executado sem valores.");
        try {
            sql_.commit();
            sql_ << text.sql;
            sql_.commit();
        } catch (const soci::soci_error &e) {
            rollbackQuietly();
            throw EDatabaseError(e.get_error_message());
        }
    }

    std::string EngineName() const override { return "firebird"; }

private:
    // Binds each marker by its rewritten name. A parameter of a non-text type is
    // declared as text of the value's length, which the server converts: SOCI's
    // own numeric and date conversions are not used.
    static void bindParams(soci::statement &st, const FirebirdStatementText &text,
                           const std::vector<BoundValue> &bound, std::deque<std::string> &values,
                           std::deque<soci::indicator> &indicators)
    {
        XSQLDA *in = inputArea(st);
        if (in->sqld != static_cast<int>(text.markers.size()))
            throw EDatabaseError("O comando tem " + std::to_string(text.markers.size()) +
                                 " parâmetros, mas o servidor reconheceu " +
                                 std::to_string(in->sqld) + ".");
        for (std::size_t i = 0; i < text.markers.size(); ++i) {
            const Variant *value = nullptr;
            for (const BoundValue &b : bound)
                if (b.name == text.markers[i])
                    value = &b.value;
            if (!value)
                throw EDatabaseError("Parâmetro '" + text.markers[i] + "' sem valor.");
            XSQLVAR &var = in->sqlvar[i];
            const int type = baseType(var);
            values.push_back(value->isNull() ? std::string() : paramText(*value, type));
            indicators.push_back(value->isNull() ? soci::i_null : soci::i_ok);
            if (!value->isNull() && !isText(type)) {
                if (values.back().size() > 32765)
                    throw EDatabaseError("Valor longo demais para o parâmetro '" + text.markers[i] + "'.");
                var.sqltype = SQL_VARYING;
                var.sqllen = static_cast<ISC_SHORT>(std::max<std::size_t>(values.back().size(), 1));
                var.sqlsubtype = 0;
                var.sqlscale = 0;
            }
            st.exchange(soci::use(values.back(), indicators.back(), text.bindNames[i]));
        }
    }

    // Integer, decimal, boolean and text-blob columns are fetched as text the
    // server formats, which keeps every digit. Returns the types as declared.
    static std::vector<ColumnType> readColumnsAsText(soci::statement &st)
    {
        XSQLDA *out = outputArea(st);
        std::vector<ColumnType> columns;
        for (int i = 0; i < out->sqld; ++i) {
            XSQLVAR &var = out->sqlvar[i];
            columns.push_back({baseType(var), var.sqlscale, var.sqlsubtype});
            if (isInteger(baseType(var)) || baseType(var) == SQL_BOOLEAN) {
                var.sqltype = static_cast<ISC_SHORT>(SQL_VARYING | (var.sqltype & 1));
                var.sqllen = 48;
                var.sqlsubtype = 0;
                var.sqlscale = 0;
            } else if (baseType(var) == SQL_BLOB && var.sqlsubtype == isc_blob_text) {
                // SOCI cannot read blobs in a row; a longer text fails on the server
                // with a truncation error rather than arriving cut.
                var.sqltype = static_cast<ISC_SHORT>(SQL_VARYING | (var.sqltype & 1));
                var.sqllen = 32765;
                var.sqlsubtype = var.sqlscale;  // a text blob keeps its character set there
                var.sqlscale = 0;
            }
        }
        return columns;
    }

    void rollbackQuietly() noexcept
    {
        try {
            sql_.rollback();
        } catch (...) {
            // The original error is the one worth reporting.
        }
    }

    soci::session sql_;
};
} // namespace

FirebirdStatementText PrepareFirebirdStatement(const std::string &sql)
{
    FirebirdStatementText out;
    std::string text = sql;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (c == '\'') {
            i = SkipQuotedRun(text, i);
        } else if (c == '"') {
            const std::size_t end = SkipQuotedRun(text, i);
            if (text.substr(i + 1, end - i - 1).find_first_of("':") != std::string::npos)
                throw EDatabaseError("Identificador entre aspas com apóstrofo ou dois-pontos não é "
                                     "suportado no Firebird: " + text.substr(i, end - i));
            i = end;
        } else if (c == '-' && next == '-') {
            std::size_t end = text.find('\n', i);
            end = end == std::string::npos ? text.size() : end;
            blank(text, i, end);
            i = end;
        } else if (c == '/' && next == '*') {
            std::size_t end = text.find("*/", i + 2);
            end = end == std::string::npos ? text.size() : end + 2;
            blank(text, i, end);
            i = end;
        } else {
            ++i;
        }
    }

    const std::vector<ParamMarker> markers = FindParamMarkers(sql);
    std::set<std::string> taken;  // every spelling, so a new name never meets a real one
    for (const ParamMarker &m : markers)
        taken.insert(utf8::upper(m.name));
    std::set<std::string> used;
    std::size_t copied = 0;
    for (const ParamMarker &m : markers) {
        std::string name = m.name;
        if (!isAsciiName(name) || used.count(utf8::upper(name))) {
            const std::string base = isAsciiName(m.name) ? m.name : "P";
            for (int n = 2;; ++n) {
                name = base + "__" + std::to_string(n);
                const std::string key = utf8::upper(name);
                if (!used.count(key) && !taken.count(key))
                    break;
            }
        }
        used.insert(utf8::upper(name));
        out.markers.push_back(m.name);
        out.bindNames.push_back(name);
        out.sql.append(text, copied, m.offset - copied);
        out.sql += ':' + name;
        copied = m.offset + m.length;
    }
    out.sql.append(text, copied, std::string::npos);
    return out;
}

std::unique_ptr<DatabaseSession> OpenFirebirdSession(const FirebirdConnection &c)
{
    return std::make_unique<FirebirdSession>(c);
}
