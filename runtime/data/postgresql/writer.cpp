// The PostgreSQL writer over SOCI's PostgreSQL backend: values
// travel as text and the server converts them to the column's type. A
// document's items go in one multi-row INSERT, so the summary's statement
// triggers sum the document once instead of once per item. Reads go through
// libpq on SOCI's connection, which gives every column as the server's text.
// Every call is under the connection's deadline; once the connection is lost
// or late, every later call fails with that same error and a rollback does
// nothing.
#include "data/postgresql/session.h"

#include "data/engine.h"
#include "data/postgresql/client.h"
#include "data/soci_bound.h"
#include "data/writer.h"

#include <libpq-fe.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>

#include <algorithm>
#include <regex>

namespace {

class PostgresqlWriter : public DatabaseWriter {
public:
    explicit PostgresqlWriter(const PostgresqlConnection &c)
        : calls_(c.timeoutMs, {[this] { canceller_.Cancel(); }, [this] { canceller_.Cut(); }})
    {
        const std::string connect = PostgresqlConnectString(c);
        const std::string what = "PostgreSQL para gravação com o usuário '" + c.user + "'";
        sql_ = calls_.Open<soci::session>([connect, what] { return OpenPostgresqlSoci(connect, what); });
        conn_ = PostgresqlConnectionOf(*sql_);
        canceller_.Set(conn_);
    }
    ~PostgresqlWriter() override
    {
        if (inTransaction_ && !failed_) {
            const ServerCalls::Call call(calls_);
            PQclear(PQexec(conn_, "ROLLBACK"));
        }
        close();
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

    void Run(int statement, const Values &values) override
    {
        Prepared &p = prepared(statement, values);
        // Bound once to the held values: each run is an execute only.
        guard([&] { p.Execute(*sql_); });
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

    // Outside Begin/Commit a statement is committed at once, as on SQLite.
    void Execute(const std::string &text) override { exec(text, {}); }

    void Begin() override
    {
        guard([&] { sql_->begin(); });
        inTransaction_ = true;
    }
    void Commit() override
    {
        guard([&] { sql_->commit(); });
        inTransaction_ = false;
    }
    // Nothing to undo on a lost connection: the server dropped the
    // transaction with it.
    void Rollback() override
    {
        inTransaction_ = false;
        if (!failed_)
            guard([&] { sql_->rollback(); });
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
    };

    Prepared &prepared(int statement, const Values &values)
    {
        Prepared &p = *statements_.at(static_cast<std::size_t>(statement));
        p.Hold(values);
        return p;
    }

    Result exec(const std::string &sql, const std::vector<const char *> &values)
    {
        Result r(nullptr, PQclear);
        guard([&] {
            r.reset(PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                                 nullptr, nullptr, 0));
            const ExecStatusType status = PQresultStatus(r.get());
            if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
                throw PostgresqlFailureOf(conn_, r.get());
        });
        return r;
    }

    // Runs one call under the deadline. A lost or late connection is let go
    // at once and its error kept for every later call.
    template <typename F>
    void guard(F &&f)
    {
        if (failed_)
            std::rethrow_exception(failed_);
        const ServerCalls::Call call(calls_);
        ServerFailure failure;
        try {
            f();
            return;
        } catch (const soci::soci_error &e) {
            failure = PostgresqlFailureOf(conn_, "", e.get_error_message());
        } catch (const ServerFailure &f) {
            failure = f;
        }
        calls_.RaiseEnding(failure, [this] { close(); }, failed_);
    }

    // Frees every statement and the connection without throwing or waiting:
    // the socket is shut first, so a statement's deallocation on a frozen
    // server fails at once instead of waiting for it.
    void close() noexcept
    {
        if (!sql_)
            return;
        if (failed_ || PQstatus(conn_) == CONNECTION_BAD)
            canceller_.Cut();
        canceller_.Set(nullptr);
        try {
            for (auto &p : statements_)
                p->statement.reset();  // the handles given out stay valid
            sql_.reset();
        } catch (...) {
        }
        conn_ = nullptr;
    }

    std::vector<std::unique_ptr<Prepared>> statements_;
    std::unique_ptr<soci::session> sql_;  // none once lost
    PGconn *conn_ = nullptr;              // SOCI's, inside sql_
    PostgresqlCanceller canceller_;
    bool inTransaction_ = false;
    std::exception_ptr failed_;  // the loss or the silence that ended the connection
    ServerCalls calls_;          // last: stopped before the rest goes
};

} // namespace

std::unique_ptr<DatabaseWriter> OpenPostgresqlWriter(const PostgresqlConnection &c)
{
    return std::make_unique<PostgresqlWriter>(c);
}
