#include "data/postgresql/session.h"

#include "data/dberrors.h"
#include "data/sqlparams.h"
#include "data/postgresql/client.h"

#include <libpq-fe.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <regex>

namespace {
// Type identifiers of the server's catalogue that read differently.
constexpr Oid kBool = 16;
constexpr Oid kText = 25;
constexpr Oid kBpchar = 1042;
constexpr Oid kTimestamp = 1114;
constexpr Oid kNumeric = 1700;

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// A failure the server or the client library reported.
struct Failure {
    std::string state;  // SQLSTATE, empty when the client library failed
    std::string message;
    std::string primary;  // the message's first line alone, without the statement's text
};

Failure failureOf(PGconn *conn, const PGresult *r)
{
    Failure f;
    if (r) {
        if (const char *s = PQresultErrorField(r, PG_DIAG_SQLSTATE))
            f.state = s;
        if (const char *p = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY))
            f.primary = p;
        f.message = PQresultErrorMessage(r);
    }
    if (f.message.empty())
        f.message = PQerrorMessage(conn);
    while (!f.message.empty() && (f.message.back() == '\n' || f.message.back() == ' '))
        f.message.pop_back();
    return f;
}

// "1.50" -> "1.5", "2.00" -> "2": the form the other engines give a number.
std::string decimalText(std::string s)
{
    if (s.find('.') == std::string::npos)
        return s;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string cellText(const char *value, int length, Oid type)
{
    std::string s(value, static_cast<std::size_t>(length));
    switch (type) {
    case kNumeric:
        return decimalText(std::move(s));
    case kBpchar:
        s.erase(s.find_last_not_of(' ') + 1);
        return s;
    case kBool:
        return s == "t" ? "1" : "0";
    case kTimestamp:
        if (s.size() == 19 && s.compare(10, 9, " 00:00:00") == 0)
            s.resize(10);
        return s;
    default:
        return s;
    }
}

// PostgreSQL folds an unquoted name to lower case, where the other engines
// keep it as written or fold it to capitals; a name with a capital was quoted
// and stays.
std::string columnName(const char *name)
{
    std::string s = name;
    if (std::any_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
        return s;
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The parameter the server could not give a type: "... parameter $3"
// (indeterminate, or ambiguous where only IS NULL tests it).
std::optional<std::size_t> untypedParameter(const Failure &f, std::size_t count)
{
    if (f.state != "42P18" && f.state != "42P08")
        return std::nullopt;
    // The primary message only: the statement's text quoted after it may be cut short.
    const std::size_t dollar = f.primary.rfind('$');
    if (dollar == std::string::npos)
        return std::nullopt;
    std::size_t n = 0;
    for (std::size_t i = dollar + 1; i < f.primary.size() && f.primary[i] >= '0' && f.primary[i] <= '9'; ++i)
        n = n * 10 + static_cast<std::size_t>(f.primary[i] - '0');
    if (n == 0 || n > count)
        return std::nullopt;
    return n - 1;
}

// An integer parameter of an optional filter as a decimal: a number too large
// for the column then matches nothing, as on the other engines, instead of
// failing the statement.
Oid widened(Oid type)
{
    constexpr Oid kInt8 = 20, kInt2 = 21, kInt4 = 23;
    return type == kInt8 || type == kInt2 || type == kInt4 ? kNumeric : type;
}

class PostgresqlSession : public DatabaseSession {
public:
    explicit PostgresqlSession(const PostgresqlConnection &c)
        : connect_(PostgresqlConnectString(c)),
          where_(c.host + ":" + std::to_string(c.port) + "/" + c.database),
          calls_(c.timeoutMs, {[this] { canceller_.Cancel(); }, [this] { canceller_.Cut(); }})
    {
        attach();
    }

    ~PostgresqlSession() override { drop(); }

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
        run(sql, params, false, receiver);
    }

    // EXPLAIN's lines, the statement planned with its values.
    std::string Plan(const std::string &sql, const NamedValues &params) override
    {
        struct Lines : RowReceiver {
            std::string text;
            bool Columns(const std::vector<std::string> &) override { return true; }
            bool Row(const std::vector<std::optional<std::string>> &cells) override
            {
                text += cells.at(0).value_or("") + "\n";
                return true;
            }
        } lines;
        run(sql, params, true, lines);
        return lines.text;
    }

    void Execute(const std::string &sql) override
    {
        const PostgresqlStatementText text = PreparePostgresqlStatement(sql);
        if (!text.names.empty())
            throw EDatabaseError("Comando com parâmetro ou variável (:" + text.names.front() +
                                 ") não pode ser executado sem valores.");
        calls_.Begin();
        if (!sql_)
            attach();
        const ServerCalls::Call call(calls_);
        try {
            Result r(PQexec(conn_, sql.c_str()), PQclear);
            if (PQresultStatus(r.get()) != PGRES_COMMAND_OK && PQresultStatus(r.get()) != PGRES_TUPLES_OK)
                throw failureOf(conn_, r.get());
        } catch (const Failure &f) {
            fail(f);
        }
    }

    std::string EngineName() const override { return "postgresql"; }

    // The first query's repeatable-read transaction is held until the end:
    // its every statement reads the snapshot its first one took.
    void BeginSnapshot() override { snapshot_ = true; }

    void EndSnapshot() noexcept override
    {
        snapshot_ = false;
        if (!held_)
            return;
        held_ = false;
        if (!conn_)
            return;
        try {
            const ServerCalls::Call call(calls_);
            command("COMMIT");
        } catch (...) {
            // Read only: nothing to keep. A connection gone is found by the
            // next call.
            rollbackQuietly();
        }
    }

    void Interrupt() override { calls_.Interrupt(); }

private:
    void run(const std::string &sql, const NamedValues &params, bool explain, RowReceiver &receiver)
    {
        const std::vector<BoundValue> bound = ResolveBindings(sql, params);
        PostgresqlStatementText text = PreparePostgresqlStatement(sql);
        if (explain)
            text.sql = "EXPLAIN " + text.sql;
        // A plain query only: the read-only transaction stops what would write,
        // this what would change the session instead (SET, LISTEN, CALL ...).
        if (!LooksLikePostgresqlQuery(sql))
            throw EDatabaseError(kWriteRefusedText);
        std::vector<std::string> values(text.names.size());
        std::vector<const char *> pointers(text.names.size(), nullptr);
        for (std::size_t i = 0; i < text.names.size(); ++i)
            for (const BoundValue &b : bound)
                if (SameName(b.name, text.names[i]) && !b.value.isNull()) {
                    values[i] = b.value.asString();
                    pointers[i] = values[i].c_str();
                    break;
                }
        calls_.Begin();
        if (!sql_)
            attach();
        const ServerCalls::Call call(calls_);
        try {
            prepare(text);
            Result described(PQdescribePrepared(conn_, ""), PQclear);
            check(described.get(), PGRES_COMMAND_OK);
            const int columns = PQnfields(described.get());
            std::vector<std::string> names;
            std::vector<Oid> types;
            for (int i = 0; i < columns; ++i) {
                names.push_back(columnName(PQfname(described.get(), i)));
                types.push_back(PQftype(described.get(), i));
            }
            calls_.Pause();
            const bool wanted = receiver.Columns(names);
            calls_.Resume();
            if (wanted)
                readRows(pointers, types, receiver);
            finish();
        } catch (const Failure &f) {
            fail(f);
        } catch (...) {
            rollbackQuietly();
            throw;
        }
    }


    // A read-only transaction for one statement; within a snapshot a
    // savepoint in the held one instead, since a failed prepare or a
    // cancelled read spoils what it runs in.
    void begin()
    {
        if (!snapshot_) {
            command("BEGIN TRANSACTION READ ONLY");
            return;
        }
        if (!held_) {
            command("BEGIN TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY");
            held_ = true;
        }
        command("SAVEPOINT fis_statement");
    }

    // Nothing was written, so within a snapshot the savepoint is rolled back
    // whether the statement ended well or was cancelled.
    void finish()
    {
        if (snapshot_ && held_)
            command("ROLLBACK TO SAVEPOINT fis_statement; RELEASE SAVEPOINT fis_statement");
        else
            command("COMMIT");
    }

    void check(const PGresult *r, ExecStatusType wanted)
    {
        if (!r || PQresultStatus(r) != wanted)
            throw failureOf(conn_, r);
    }

    void command(const char *sql)
    {
        Result r(PQexec(conn_, sql), PQclear);
        check(r.get(), PGRES_COMMAND_OK);
    }

    // The statement as the unnamed one, in a read-only transaction begun
    // for it. A parameter the server cannot type gets the type of its other
    // uses, or text, learnt once per statement: a failed prepare spoils the
    // transaction, so each try needs a fresh one.
    void prepare(const PostgresqlStatementText &text)
    {
        std::vector<Oid> &types = learntTypes(text);
        for (std::size_t tries = 0;; ++tries) {
            begin();
            Result r(PQprepare(conn_, "", text.sql.c_str(), static_cast<int>(types.size()), types.data()),
                     PQclear);
            if (PQresultStatus(r.get()) == PGRES_COMMAND_OK)
                return;
            const Failure f = failureOf(conn_, r.get());
            const std::optional<std::size_t> untyped = untypedParameter(f, types.size());
            if (!untyped || types[*untyped] != 0 || tries > types.size())
                throw f;
            finish();
            typeBesidesNullTests(text.sql, types);
            if (types[*untyped] == 0)
                types[*untyped] = kText;
        }
    }

    // Gives each parameter still without a type the one the server finds for
    // it where it is not only tested for NULL (`:P IS NULL OR N.NRNOTAFISC =
    // :P` is an integer), text where it finds none.
    void typeBesidesNullTests(const std::string &sql, std::vector<Oid> &types)
    {
        std::string probe = sql;
        for (std::size_t i = 0; i < types.size(); ++i)
            if (types[i] == 0) {
                const std::regex nullTest("\\$" + std::to_string(i + 1) + "(?![0-9])\\s+IS\\s+(NOT\\s+)?NULL",
                                          std::regex::icase);
                probe = std::regex_replace(probe, nullTest, "TRUE");
            }
        begin();
        Result r(PQprepare(conn_, "", probe.c_str(), static_cast<int>(types.size()), types.data()), PQclear);
        if (PQresultStatus(r.get()) == PGRES_COMMAND_OK) {
            Result described(PQdescribePrepared(conn_, ""), PQclear);
            if (PQresultStatus(described.get()) == PGRES_COMMAND_OK)
                for (std::size_t i = 0; i < types.size() && int(i) < PQnparams(described.get()); ++i)
                    if (types[i] == 0)
                        types[i] = widened(PQparamtype(described.get(), static_cast<int>(i)));
        }
        finish();
    }

    std::vector<Oid> &learntTypes(const PostgresqlStatementText &text)
    {
        if (learnt_.size() > 256)
            learnt_.clear();
        auto [at, added] = learnt_.try_emplace(text.sql);
        if (added)
            at->second.assign(text.names.size(), 0);
        return at->second;
    }

    void readRows(const std::vector<const char *> &values, const std::vector<Oid> &types, RowReceiver &receiver)
    {
        if (!PQsendQueryPrepared(conn_, "", static_cast<int>(values.size()), values.data(), nullptr, nullptr, 0) ||
            !PQsetSingleRowMode(conn_))
            throw failureOf(conn_, nullptr);
        std::vector<std::optional<std::string>> cells(types.size());
        std::optional<Failure> failure;
        bool stopped = false;
        std::exception_ptr raised;
        // Every result is taken, even after a stop, so the connection is
        // ready for the next command.
        while (PGresult *next = PQgetResult(conn_)) {
            Result r(next, PQclear);
            const ExecStatusType status = PQresultStatus(r.get());
            if (status == PGRES_SINGLE_TUPLE && !stopped) {
                // A stop asked for while this side handled a row finds
                // nothing to cancel on the server.
                if (calls_.Interrupted()) {
                    failure = Failure{"57014", kCancelledText, kCancelledText};
                    stopped = true;
                    cancel();
                    continue;
                }
                for (std::size_t i = 0; i < cells.size(); ++i) {
                    const int c = static_cast<int>(i);
                    if (PQgetisnull(r.get(), 0, c))
                        cells[i].reset();
                    else
                        cells[i] = cellText(PQgetvalue(r.get(), 0, c), PQgetlength(r.get(), 0, c), types[i]);
                }
                bool goOn = false;
                calls_.Pause();
                try {
                    goOn = receiver.Row(cells);
                } catch (...) {
                    raised = std::current_exception();
                }
                calls_.Resume();
                if (!goOn) {
                    stopped = true;
                    cancel();
                }
            } else if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK && !failure) {
                // The cancel asked for after a stop is no failure of the statement.
                if (!(stopped && !calls_.Interrupted() && !raised))
                    failure = failureOf(conn_, r.get());
            }
        }
        if (raised)
            std::rethrow_exception(raised);
        if (failure)
            throw *failure;
        if (PQstatus(conn_) == CONNECTION_BAD)
            throw failureOf(conn_, nullptr);
    }

    // Opening is under the deadline too, the session's own setting with it.
    void attach()
    {
        const std::string connect = connect_, what = "'" + where_ + "'";
        sql_ = calls_.Open<soci::session>([connect, what] {
            auto session = OpenPostgresqlSoci(connect, what);
            // The planner cannot count the rows of a common table expression
            // and then picks nested loops that run for minutes over a year of
            // documents; hash and merge joins are never far off for a report,
            // and a lookup by key still takes its index. (The writer keeps
            // them: its summary triggers join by a document's key.)
            PGconn *conn = PostgresqlConnectionOf(*session);
            Result set(PQexec(conn, "SET enable_nestloop = off"), PQclear);
            if (PQresultStatus(set.get()) != PGRES_COMMAND_OK)
                throw EDatabaseError("Não foi possível preparar a sessão do banco de dados " + what + ".",
                                     PQerrorMessage(conn));
            return session;
        });
        conn_ = PostgresqlConnectionOf(*sql_);
        canceller_.Set(conn_);
    }

    // Lets the connection go without throwing, whatever state it is in.
    void drop() noexcept
    {
        if (!sql_)
            return;
        canceller_.Set(nullptr);
        conn_ = nullptr;
        held_ = false;
        try {
            sql_.reset();
        } catch (...) {
        }
    }

    void cancel() { canceller_.Cancel(); }

    [[noreturn]] void fail(const Failure &f)
    {
        calls_.Raise(PostgresqlFailureOf(conn_, f.state, f.message), [this] { drop(); },
                     [this] { rollbackQuietly(); });
    }

    void rollbackQuietly() noexcept
    {
        held_ = false;
        if (!conn_)
            return;
        if (PQtransactionStatus(conn_) == PQTRANS_ACTIVE) {
            // Whatever is still on its way, taken so the connection can go on.
            while (PGresult *r = PQgetResult(conn_))
                PQclear(r);
        }
        if (PQtransactionStatus(conn_) != PQTRANS_IDLE)
            PQclear(PQexec(conn_, "ROLLBACK"));
    }

    const std::string connect_;
    const std::string where_;
    std::unique_ptr<soci::session> sql_;  // none after a loss, until the next call
    PGconn *conn_ = nullptr;              // SOCI's, inside sql_
    PostgresqlCanceller canceller_;       // the same, for other threads
    std::map<std::string, std::vector<Oid>> learnt_;  // parameter types by statement
    bool snapshot_ = false;
    bool held_ = false;  // the snapshot's transaction is open
    ServerCalls calls_;  // last: stopped before the rest goes
};
} // namespace

std::unique_ptr<DatabaseSession> OpenPostgresqlSession(const PostgresqlConnection &c)
{
    return std::make_unique<PostgresqlSession>(c);
}
