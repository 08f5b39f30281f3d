#include "data/sqlite_session.h"

#include "data/dberrors.h"
#include "data/sqlite_functions.h"

#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>

namespace {
std::string numberText(double n)
{
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, n);
    return std::string(buf, res.ptr);
}

std::string dateText(const std::tm &t)
{
    char buf[80];
    if (t.tm_hour || t.tm_min || t.tm_sec)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                      t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    return buf;
}

std::optional<std::string> cellText(const soci::row &row, std::size_t i)
{
    if (row.get_indicator(i) == soci::i_null)
        return std::nullopt;
    switch (row.get_properties(i).get_data_type()) {
    case soci::dt_string: return row.get<std::string>(i);
    case soci::dt_double: return numberText(row.get<double>(i));
    case soci::dt_integer: return std::to_string(row.get<int>(i));
    case soci::dt_long_long: return std::to_string(row.get<long long>(i));
    case soci::dt_unsigned_long_long: return std::to_string(row.get<unsigned long long>(i));
    case soci::dt_date: return dateText(row.get<std::tm>(i));
    default:
        throw EDatabaseError("Tipo sem suporte na coluna '" + row.get_properties(i).get_name() + "'.");
    }
}

// SOCI does not export the backend's type information, so the sanitizer's
// dynamic-type check on this downcast could not even link.
__attribute__((no_sanitize("vptr"))) void *rawHandle(soci::session &session)
{
    return static_cast<soci::sqlite3_session_backend *>(session.get_backend())->conn_;
}

class SqliteSession : public DatabaseSession {
public:
    SqliteSession(const std::string &path, bool readOnly)
    {
        std::string connect = "db=" + (path.find(' ') == std::string::npos ? path : '"' + path + '"');
        if (readOnly)
            connect += " readonly=1";
        try {
            sql_.open(soci::sqlite3, connect);
        } catch (const soci::soci_error &e) {
            throw EDatabaseError("Não foi possível abrir o banco de dados '" + path + "': " +
                                 e.get_error_message());
        }
        RegisterSqliteFunctions(rawHandle(sql_));
    }

    ResultSet Query(const std::string &sql, const NamedValues &params) override
    {
        const std::vector<BoundValue> bound = ResolveBindings(sql, params);
        // SOCI keeps pointers to the bound values: they must not move before execution.
        std::deque<std::string> texts;
        std::deque<double> numbers;
        std::deque<soci::indicator> indicators;
        try {
            soci::row row;
            soci::statement st(sql_);
            for (const BoundValue &b : bound) {
                indicators.push_back(b.value.isNull() ? soci::i_null : soci::i_ok);
                if (b.value.kind() == Variant::Kind::Number) {
                    numbers.push_back(b.value.asNumber());
                    st.exchange(soci::use(numbers.back(), indicators.back(), b.name));
                } else {
                    texts.push_back(b.value.asString());
                    st.exchange(soci::use(texts.back(), indicators.back(), b.name));
                }
            }
            st.exchange(soci::into(row));
            st.alloc();
            st.prepare(sql);
            st.define_and_bind();
            ResultSet result;
            bool more = st.execute(true);
            for (std::size_t i = 0; i < row.size(); ++i)
                result.columns.push_back(row.get_properties(i).get_name());
            for (; more; more = st.fetch()) {
                auto &cells = result.rows.emplace_back();
                for (std::size_t i = 0; i < row.size(); ++i)
                    cells.push_back(cellText(row, i));
            }
            return result;
        } catch (const soci::soci_error &e) {
            throw EDatabaseError(e.get_error_message());
        }
    }

    void Execute(const std::string &sql) override
    {
        try {
            sql_ << sql;
        } catch (const soci::soci_error &e) {
            throw EDatabaseError(e.get_error_message());
        }
    }

    std::string EngineName() const override { return "sqlite"; }

private:
    soci::session sql_;
};
} // namespace

std::unique_ptr<DatabaseSession> OpenSqliteSession(const std::string &path, bool readOnly)
{
    std::error_code ec;
    if (readOnly && !std::filesystem::is_regular_file(path, ec))
        throw EDatabaseError("Banco de dados '" + path + "' não encontrado.");
    return std::make_unique<SqliteSession>(path, readOnly);
}
