// The Firebird writer over SOCI: values travel as text and the server
// converts them to the column's type; a statement for many rows is bound in
// bulk, one round trip. One transaction at a time. Every call is under the
// connection's deadline; once the connection is lost or late, every later
// call fails with that same error and a rollback does nothing.
#include "data/firebird/session.h"

#include "data/engine.h"
#include "data/firebird/client.h"
#include "data/soci_bound.h"
#include "data/writer.h"

#include <soci/firebird/soci-firebird.h>
#include <soci/soci.h>

#include <set>

namespace {

class FirebirdWriter : public DatabaseWriter {
public:
    explicit FirebirdWriter(const FirebirdConnection &c)
        : calls_(c.timeoutMs, {[this] { canceller_.Cancel(fb_cancel_raise); },
                               [this] { canceller_.Cancel(fb_cancel_abort); }})
    {
        const std::string connect = FirebirdConnectString(c);
        const std::string what = "Firebird para gravação com o usuário '" + c.user + "'";
        sql_ = calls_.Open<soci::session>([connect, what] { return OpenFirebirdSoci(connect, what); });
        canceller_.Set(FirebirdAttachmentOf(*sql_));
    }
    ~FirebirdWriter() override
    {
        if (inTransaction_ && !failed_) {
            const ServerCalls::Call call(calls_);
            try {
                sql_->rollback();
            } catch (...) {
            }
        }
        close();
    }

    const DatabaseEngine &Engine() const override { return FirebirdEngine(); }

    int Prepare(const std::string &text) override
    {
        // '?' becomes :p1, :p2 ... (the statements here hold no '?' in literals)
        auto p = std::make_unique<Prepared>();
        p->Number(text, ":p");
        statements_.push_back(std::move(p));
        return static_cast<int>(statements_.size() - 1);
    }

    void Run(int statement, const Values &values) override
    {
        Prepared &p = prepared(statement, values);
        // Bound once to the held values: each run is an execute only.
        guard([&] { p.Execute(*sql_); });
    }

    // One round trip for a document's items (or tax rows) instead of one each.
    void RunMany(int statement, const std::vector<Values> &rows) override
    {
        if (rows.size() < 2) {
            DatabaseWriter::RunMany(statement, rows);
            return;
        }
        Prepared &p = *statements_.at(static_cast<std::size_t>(statement));
        const std::size_t columns = p.values.size();
        p.bulkValues.resize(columns);
        p.bulkNulls.resize(columns);
        for (std::size_t c = 0; c < columns; ++c) {
            p.bulkValues[c].resize(rows.size());
            p.bulkNulls[c].resize(rows.size());
        }
        for (std::size_t r = 0; r < rows.size(); ++r) {
            if (rows[r].size() != columns)
                throw EDatabaseError("número de valores diferente do de marcadores em '" + p.sql + "'");
            for (std::size_t c = 0; c < columns; ++c) {
                p.bulkValues[c][r] = rows[r][c].value_or("");
                p.bulkNulls[c][r] = rows[r][c] ? soci::i_ok : soci::i_null;
            }
        }
        guard([&] {
            if (!p.bulk) {
                p.bulk = std::make_unique<soci::statement>(*sql_);
                for (std::size_t c = 0; c < columns; ++c)
                    p.bulk->exchange(soci::use(p.bulkValues[c], p.bulkNulls[c]));
                p.bulk->alloc();
                p.bulk->prepare(p.sql);
                p.bulk->define_and_bind();
            }
            try {
                p.bulk->execute(true);
            } catch (...) {
                FreeFirebirdStatement(p.bulk);  // its bindings are gone, as in SociBoundStatement
                throw;
            }
        });
    }

    std::vector<Values> Select(int statement, const Values &values) override
    {
        Prepared &p = prepared(statement, values);
        std::vector<Values> rows;
        guard([&] {
            soci::row r;
            FirebirdStatement st(*sql_);
            for (std::size_t i = 0; i < p.values.size(); ++i)
                st->exchange(soci::use(p.values[i], p.nulls[i]));
            st->exchange(soci::into(r));
            st->alloc();
            st->prepare(p.sql);
            st->define_and_bind();
            st->execute(false);
            while (st->fetch()) {
                Values row;
                for (std::size_t i = 0; i < r.size(); ++i)
                    if (r.get_indicator(i) == soci::i_null)
                        row.emplace_back(std::nullopt);
                    else
                        row.emplace_back(r.get<std::string>(i));
                rows.push_back(std::move(row));
            }
        });
        return rows;
    }

    bool HasTable(const std::string &name) override
    {
        int n = 0;
        guard([&] {
            FirebirdStatement st(*sql_);
            st->exchange(soci::use(name));
            st->exchange(soci::into(n));
            st->alloc();
            st->prepare("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = :n");
            st->define_and_bind();
            st->execute(true);
        });
        return n > 0;
    }

    // A generator hands out numbers outside transactions; the first use
    // moves it past what was written without it (demo rows, a bulk load).
    // Adding a step is atomic, so two writers catching up at once only skip numbers.
    std::string NextKey(const KeySequence &key) override
    {
        const std::string step = std::string("SELECT GEN_ID(") + key.name + ", ";
        long long next = 0;
        const bool first = caughtUp_.insert(key.name).second;
        try {
            guard([&] { *sql_ << step + "1) FROM RDB$DATABASE", soci::into(next); });
        } catch (const EDatabaseError &e) {
            if (!first)
                throw;
            caughtUp_.erase(key.name);
            throw EDatabaseError(MissingSequenceText(key, Engine()), e.Message());
        }
        if (first) {
            std::string highest;
            soci::indicator known = soci::i_null;
            guard([&] { *sql_ << key.HighestSql(Engine()), soci::into(highest, known); });
            if (known == soci::i_ok && std::stoll(highest) >= next)
                guard([&] {
                    *sql_ << step + std::to_string(std::stoll(highest) - next + 1) + ") FROM RDB$DATABASE",
                        soci::into(next);
                });
        }
        return std::to_string(next);
    }

    // Outside Begin/Commit a statement is committed at once, as on SQLite.
    void Execute(const std::string &text) override
    {
        guard([&] {
            {
                FirebirdStatement st(*sql_);
                st->alloc();
                st->prepare(text);
                st->define_and_bind();
                st->execute(true);
            }
            if (!inTransaction_)
                sql_->commit();
        });
    }

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
    // Index statistics are taken when an index is built: after a bulk load
    // into tables that were empty the optimizer would plan as if they still were.
    void RefreshIndexStatistics(const std::vector<std::string> &tables) override
    {
        if (tables.empty())
            return;
        std::string list;
        for (const std::string &table : tables)
            list += (list.empty() ? "'" : ", '") + table + "'";
        std::vector<std::string> indexes;
        guard([&] {
            std::string name;
            FirebirdStatement st(*sql_);
            st->exchange(soci::into(name));
            st->alloc();
            st->prepare("SELECT TRIM(RDB$INDEX_NAME) FROM RDB$INDICES WHERE RDB$RELATION_NAME IN (" + list + ")");
            st->define_and_bind();
            st->execute(false);
            while (st->fetch())
                indexes.push_back(name);
        });
        for (const std::string &index : indexes)
            Execute("SET STATISTICS INDEX \"" + index + "\"");
    }

    void Mark() override { Execute("SAVEPOINT DOCUMENTO"); }
    void Release() override { Execute("RELEASE SAVEPOINT DOCUMENTO"); }
    void Undo() override
    {
        Execute("ROLLBACK TO SAVEPOINT DOCUMENTO");
        Execute("RELEASE SAVEPOINT DOCUMENTO");
    }

private:
    struct Prepared : SociBoundStatement {
        std::vector<std::vector<std::string>> bulkValues;
        std::vector<std::vector<soci::indicator>> bulkNulls;
        std::unique_ptr<soci::statement> bulk;
    };

    Prepared &prepared(int statement, const Values &values)
    {
        Prepared &p = *statements_.at(static_cast<std::size_t>(statement));
        p.Hold(values);
        return p;
    }

    // Runs one call under the deadline. A lost or late connection is let go
    // at once and its error kept for every later call.
    template <typename F>
    void guard(F &&f)
    {
        if (failed_)
            std::rethrow_exception(failed_);
        const ServerCalls::Call call(calls_);
        try {
            f();
        } catch (const soci::soci_error &e) {
            calls_.RaiseEnding(FirebirdFailureOf(e), [this] { close(); }, failed_);
        }
    }

    // Frees every statement and the connection without throwing.
    void close() noexcept
    {
        canceller_.Set(0);
        for (auto &p : statements_) {
            FreeFirebirdStatement(p->statement);
            FreeFirebirdStatement(p->bulk);
        }
        CloseFirebirdSoci(sql_);
    }


    std::set<std::string> caughtUp_;  // keys moved past the table's highest
    std::vector<std::unique_ptr<Prepared>> statements_;
    std::unique_ptr<soci::session> sql_;  // none once lost
    FirebirdCanceller canceller_;
    bool inTransaction_ = false;
    std::exception_ptr failed_;  // the loss or the silence that ended the connection
    ServerCalls calls_;          // last: stopped before the rest goes
};

} // namespace

std::unique_ptr<DatabaseWriter> OpenFirebirdWriter(const FirebirdConnection &c)
{
    return std::make_unique<FirebirdWriter>(c);
}
