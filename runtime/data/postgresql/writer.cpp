// The PostgreSQL writer over SOCI's PostgreSQL backend: values
// travel as text and the server converts them to the column's type. A
// document's items go in one multi-row INSERT, so the summary's statement
// triggers sum the document once instead of once per item. Reads go through
// libpq on SOCI's connection, which gives every column as the server's text.
#include "data/postgresql/session.h"

#include "data/engine.h"
#include "data/soci_bound.h"
#include "data/writer.h"

#include <libpq-fe.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>

#include <algorithm>
#include <regex>
#include <set>

namespace {

// SOCI exports no type information for its backends (see the read session).
__attribute__((no_sanitize("vptr"))) PGconn *connectionOf(soci::session &session)
{
    return static_cast<soci::postgresql_session_backend *>(session.get_backend())->conn_;
}

class PostgresqlWriter : public DatabaseWriter {
public:
    explicit PostgresqlWriter(const PostgresqlConnection &c)
    {
        try {
            sql_.open(soci::postgresql, PostgresqlConnectString(c));
        } catch (const soci::soci_error &e) {
            throw EDatabaseError("Não foi possível abrir o banco PostgreSQL para gravação com o usuário '" + c.user +
                                     "': " + PostgresqlConnectFailureText(e.get_error_message()),
                                 e.get_error_message());
        }
        conn_ = connectionOf(sql_);
    }
    ~PostgresqlWriter() override
    {
        statements_.clear();
        try {
            if (inTransaction_)
                sql_.rollback();
        } catch (...) {
        }
    }

    const DatabaseEngine &Engine() const override { return PostgresqlEngine(); }

    int Prepare(const std::string &text) override
    {
        // '?' becomes $1, $2 ... (the statements here hold no '?' in literals)
        auto p = std::make_unique<Prepared>();
        p->Number(text, "$");
        // "INSERT ... VALUES (...)" as its head and its row, for several rows at once.
        static const std::regex insert(R"(^\s*(INSERT\s+INTO\s+[^(]+\([^)]*\)\s*VALUES\s*)(\([^)]*\))\s*$)",
                                       std::regex::icase);
        std::smatch m;
        if (std::regex_match(text, m, insert)) {
            p->insertHead = m[1].str();
            p->insertRow = m[2].str();
        }
        statements_.push_back(std::move(p));
        return static_cast<int>(statements_.size() - 1);
    }

    // Prepared once on the server under a name of its own; each run sends
    // the values only. Through libpq, whose failures keep their SQLSTATE
    // (SOCI's lose it on a duplicate key, which the import must tell).
    void Run(int statement, const Values &values) override
    {
        Prepared &p = prepared(statement, values);
        if (p.serverName.empty()) {
            const std::string name = "fis_writer_" + std::to_string(statement);
            check(Result(PQprepare(conn_, name.c_str(), p.sql.c_str(), static_cast<int>(p.values.size()), nullptr),
                         PQclear));
            p.serverName = name;
        }
        std::vector<const char *> pointers;
        for (const auto &v : values)
            pointers.push_back(v ? v->c_str() : nullptr);
        check(Result(PQexecPrepared(conn_, p.serverName.c_str(), static_cast<int>(pointers.size()), pointers.data(),
                                    nullptr, nullptr, 0),
                     PQclear));
    }

    void RunMany(int statement, const std::vector<Values> &rows) override
    {
        Prepared &p = *statements_.at(static_cast<std::size_t>(statement));
        if (rows.size() < 2 || p.insertHead.empty() || p.values.empty()) {
            DatabaseWriter::RunMany(statement, rows);
            return;
        }
        const std::size_t columns = p.values.size();
        // The server takes at most 65535 parameters in one statement.
        const std::size_t perStatement = 65535 / columns;
        for (std::size_t from = 0; from < rows.size(); from += perStatement) {
            const std::size_t to = std::min(rows.size(), from + perStatement);
            std::string sql = p.insertHead;
            std::vector<const char *> values;
            for (std::size_t r = from; r < to; ++r) {
                if (rows[r].size() != columns)
                    throw EDatabaseError("número de valores diferente do de marcadores em '" + p.sql + "'");
                if (r != from)
                    sql += ", ";
                // The row as written, its literals kept, each marker numbered on.
                std::size_t c = 0;
                for (char ch : p.insertRow) {
                    if (ch != '?') {
                        sql += ch;
                        continue;
                    }
                    values.push_back(rows[r][c] ? rows[r][c]->c_str() : nullptr);
                    ++c;
                    sql += "$" + std::to_string(values.size());
                }
            }
            exec(sql, values);
        }
    }

    std::vector<Values> Select(int statement, const Values &values) override
    {
        Prepared &p = prepared(statement, values);
        std::vector<const char *> pointers;
        for (const auto &v : values)
            pointers.push_back(v ? v->c_str() : nullptr);
        Result r = exec(p.sql, pointers);
        std::vector<Values> rows;
        for (int i = 0; i < PQntuples(r.get()); ++i) {
            Values row;
            for (int c = 0; c < PQnfields(r.get()); ++c)
                if (PQgetisnull(r.get(), i, c))
                    row.emplace_back(std::nullopt);
                else
                    row.emplace_back(std::string(PQgetvalue(r.get(), i, c),
                                                 static_cast<std::size_t>(PQgetlength(r.get(), i, c))));
            rows.push_back(std::move(row));
        }
        return rows;
    }

    bool HasTable(const std::string &name) override
    {
        const Result r = exec("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = current_schema() "
                              "AND UPPER(table_name) = UPPER($1)",
                              {name.c_str()});
        return std::string(PQgetvalue(r.get(), 0, 0)) != "0";
    }

    // A sequence hands out numbers outside transactions; the first use moves
    // it past what was written without it (demo rows, a bulk load). Two
    // writers catching up at once may hand one number twice: the key's
    // uniqueness refuses the second as a conflict, redone with the next.
    std::string NextKey(const KeySequence &key) override
    {
        const std::string name = key.name;
        const bool first = caughtUp_.insert(name).second;
        std::string next;
        try {
            next = PQgetvalue(exec("SELECT nextval('" + name + "')", {}).get(), 0, 0);
        } catch (const EDatabaseError &e) {
            if (!first)
                throw;
            caughtUp_.erase(name);
            throw EDatabaseError(MissingSequenceText(key, Engine()), e.Message());
        }
        if (first) {
            const Result highest = exec(key.HighestSql(Engine()), {});
            if (!PQgetisnull(highest.get(), 0, 0) && std::stoll(PQgetvalue(highest.get(), 0, 0)) >= std::stoll(next)) {
                exec("SELECT setval('" + name + "', " + PQgetvalue(highest.get(), 0, 0) + ")", {});
                next = PQgetvalue(exec("SELECT nextval('" + name + "')", {}).get(), 0, 0);
            }
        }
        return next;
    }

    // Outside Begin/Commit a statement is committed at once, as on SQLite.
    void Execute(const std::string &text) override { exec(text, {}); }

    void Begin() override
    {
        guard([&] { sql_.begin(); });
        inTransaction_ = true;
    }
    void Commit() override
    {
        guard([&] { sql_.commit(); });
        inTransaction_ = false;
    }
    void Rollback() override
    {
        inTransaction_ = false;
        guard([&] { sql_.rollback(); });
    }
    void Mark() override { Execute("SAVEPOINT DOCUMENTO"); }
    void Release() override { Execute("RELEASE SAVEPOINT DOCUMENTO"); }
    void Undo() override
    {
        Execute("ROLLBACK TO SAVEPOINT DOCUMENTO");
        Execute("RELEASE SAVEPOINT DOCUMENTO");
    }

    // The planner's statistics lag behind a large import until autovacuum
    // comes by; the reports' plans should not wait for it.
    void RefreshStatistics() override
    {
        if (!inTransaction_)
            Execute("ANALYZE NOTAFISCAL, ITEMNOTAFISC, IMPOSTOITEMNF, RESUMOCFOPNF");
    }
    void RefreshIndexStatistics(const std::vector<std::string> &tables) override
    {
        std::string list;
        for (const std::string &table : tables)
            list += (list.empty() ? "" : ", ") + table;
        if (!list.empty())
            Execute("ANALYZE " + list);
    }

private:
    using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

    struct Prepared : SociBoundStatement {
        std::string insertHead;  // empty unless a one-row INSERT ... VALUES
        std::string insertRow;   // its "(...)" with the markers as written
        std::string serverName;  // once prepared on the server
    };

    Prepared &prepared(int statement, const Values &values)
    {
        Prepared &p = *statements_.at(static_cast<std::size_t>(statement));
        p.Hold(values);
        return p;
    }

    Result exec(const std::string &sql, const std::vector<const char *> &values)
    {
        Result r(PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                              nullptr, 0),
                 PQclear);
        return check(std::move(r));
    }

    Result check(Result r)
    {
        const ExecStatusType status = PQresultStatus(r.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const char *state = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
            std::string message = r ? PQresultErrorMessage(r.get()) : PQerrorMessage(conn_);
            while (!message.empty() && message.back() == '\n')
                message.pop_back();
            raise(state ? state : "", message);
        }
        return r;
    }

    // Another writer's key or lock (waited for, then refused) is a conflict.
    [[noreturn]] static void raise(const std::string &state, const std::string &message)
    {
        std::string text = PostgresqlFailureText(state);
        if (state == "23505" || state == "40P01" || state == "40001" || state == "55P03")
            throw EDatabaseConflict(text.empty() ? message : text, message);
        if (!text.empty())
            throw EDatabaseError(std::move(text), message);
        throw EDatabaseError(message);
    }

    template <typename F>
    void guard(F &&f)
    {
        try {
            f();
        } catch (const soci::postgresql_soci_error &e) {
            raise(e.sqlstate(), e.get_error_message());
        } catch (const soci::soci_error &e) {
            throw EDatabaseError(e.get_error_message());
        }
    }

    soci::session sql_;
    PGconn *conn_ = nullptr;  // SOCI's, inside sql_
    std::vector<std::unique_ptr<Prepared>> statements_;
    bool inTransaction_ = false;
    std::set<std::string> caughtUp_;
};

} // namespace

std::unique_ptr<DatabaseWriter> OpenPostgresqlWriter(const PostgresqlConnection &c)
{
    return std::make_unique<PostgresqlWriter>(c);
}
