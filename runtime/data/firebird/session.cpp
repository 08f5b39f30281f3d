#include "data/firebird/session.h"

#include "data/dberrors.h"
#include "data/engine.h"
#include "data/firebird/values.h"
#include "data/firebird/client.h"

#include <soci/firebird/soci-firebird.h>
#include <soci/soci.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>

namespace {
// SOCI does not export the Firebird backend's type information, so the
// sanitizer's dynamic-type check on this downcast could not even link.
__attribute__((no_sanitize("vptr"))) isc_stmt_handle statementOf(soci::statement &st)
{
    return static_cast<soci::firebird_statement_backend *>(st.get_backend())->stmtp_;
}
} // namespace

namespace {
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

using Statement = FirebirdStatement;

class FirebirdSession : public DatabaseSession {
public:
    explicit FirebirdSession(const FirebirdConnection &c)
        : calls_(c.timeoutMs, {[this] { canceller_.Cancel(fb_cancel_raise); },
                               [this] { canceller_.Cancel(fb_cancel_abort); }})
    {
        if (c.database.empty())
            throw EDatabaseError("Banco de dados Firebird não informado.");
        connect_ = FirebirdConnectString(c);
        service_ = c.host.empty() ? c.database : c.host + "/" + std::to_string(c.port) + ":" + c.database;
        attach();
    }

    ~FirebirdSession() override { drop(); }

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

    // Reading runs on the client library itself, in a read-only transaction
    // and a statement of this session's own on SOCI's attachment.
    void QueryRows(const std::string &sql, const NamedValues &params, RowReceiver &receiver) override
    {
        const std::vector<BoundValue> bound = ResolveBindings(sql, params);
        const FirebirdStatementText text = PrepareFirebirdStatement(sql);
        calls_.Begin();
        if (!sql_)
            attach();
        const ServerCalls::Call call(calls_);
        try {
            // Within a snapshot the first query's transaction stays open for
            // the next ones: a concurrency transaction reads as of its start.
            std::unique_ptr<ReadTransaction> own;
            if (!snapshot_ || !held_)
                own = std::make_unique<ReadTransaction>(attachment_);
            ReadTransaction &transaction = own ? *own : *held_;
            OwnStatement st(attachment_);
            Area out(20);
            check(st, isc_dsql_prepare(st.status, &transaction.handle, &st.handle, 0, text.positional.c_str(),
                                   SQL_DIALECT_V6, out.get()));
            if (out->sqld > out->sqln) {
                out = Area(out->sqld);
                check(st, isc_dsql_describe(st.status, &st.handle, 1, out.get()));
            }
            refuseUnlessSelect(st.handle);
            Area in(std::max<int>(1, static_cast<int>(text.markers.size())));
            check(st, isc_dsql_describe_bind(st.status, &st.handle, 1, in.get()));
            if (in->sqld > in->sqln) {
                in = Area(in->sqld);
                check(st, isc_dsql_describe_bind(st.status, &st.handle, 1, in.get()));
            }
            Buffers buffers;
            bindParams(*in.get(), text, bound, buffers);
            const std::vector<FirebirdColumnType> columns = readColumnsAsText(*out.get(), buffers);
            std::vector<std::string> names;
            for (int i = 0; i < out->sqld; ++i)
                names.emplace_back(out->sqlvar[i].aliasname, static_cast<std::size_t>(out->sqlvar[i].aliasname_length));
            calls_.Pause();
            const bool wanted = receiver.Columns(names);
            calls_.Resume();
            if (wanted) {
                check(st, isc_dsql_execute(st.status, &transaction.handle, &st.handle, 1, in->sqld ? in.get() : nullptr));
                std::vector<std::optional<std::string>> cells(names.size());
                for (;;) {
                    const ISC_STATUS fetched = isc_dsql_fetch(st.status, &st.handle, 1, out.get());
                    if (fetched == 100)
                        break;
                    check(st, fetched);
                    // A stop asked for while this side handled a row finds
                    // nothing to cancel on the server.
                    if (calls_.Interrupted())
                        throw EDatabaseCancelled(kCancelledText);
                    for (std::size_t i = 0; i < cells.size(); ++i)
                        cells[i] = FirebirdCellText(out->sqlvar[i], columns.at(i));
                    calls_.Pause();
                    const bool goOn = receiver.Row(cells);
                    calls_.Resume();
                    if (!goOn)
                        break;
                }
            }
            st.Close();
            if (!snapshot_)
                transaction.Commit();
            else if (own)
                held_ = std::move(own);
        } catch (const soci::soci_error &e) {
            fail(e);
        }
    }

    void Execute(const std::string &sql) override
    {
        const FirebirdStatementText text = PrepareFirebirdStatement(sql);
        if (!text.markers.empty())
            throw EDatabaseError("Comando com parâmetro ou variável (:" + text.markers.front() +
                                 ") não pode ser executado sem valores.");
        calls_.Begin();
        if (!sql_)
            attach();
        const ServerCalls::Call call(calls_);
        try {
            sql_->commit();
            {
                Statement st(*sql_);
                st->alloc();
                st->prepare(text.sql);
                st->define_and_bind();
                st->execute(true);
            }
            sql_->commit();
        } catch (const soci::soci_error &e) {
            fail(e);
        }
    }

    std::string EngineName() const override { return FirebirdEngine().name; }

    std::string Plan(const std::string &sql, const NamedValues &) override
    {
        const FirebirdStatementText text = PrepareFirebirdStatement(sql);
        if (!sql_)
            attach();
        const ServerCalls::Call call(calls_);
        std::string plan;
        try {
            sql_->commit();
            {
                Statement st(*sql_);
                st->alloc();
                st->prepare(text.sql);
                const char item[] = {isc_info_sql_get_plan};
                std::vector<char> answer(16384);
                ISC_STATUS_ARRAY status;
                isc_stmt_handle handle = statementOf(*st);
                if (isc_dsql_sql_info(status, &handle, sizeof item, item, static_cast<short>(answer.size()),
                                      answer.data()))
                    throw soci::firebird_soci_error(FirebirdStatusText(status), status);
                if (answer[0] == isc_info_sql_get_plan) {
                    const int length = isc_vax_integer(answer.data() + 1, 2);
                    plan.assign(answer.data() + 3, static_cast<std::size_t>(length));
                    plan.erase(0, plan.find_first_not_of('\n'));
                    if (!plan.empty() && plan.back() != '\n')
                        plan += '\n';
                }
            }
            sql_->commit();
        } catch (const soci::soci_error &e) {
            fail(e);
        }
        return plan;
    }

    // The read-only concurrency transaction the first query starts, kept
    // open across queries until the end.
    void BeginSnapshot() override { snapshot_ = true; }

    void EndSnapshot() noexcept override
    {
        snapshot_ = false;
        if (!held_)
            return;
        try {
            const ServerCalls::Call call(calls_);
            held_->Commit();
        } catch (...) {
            // Read only: nothing to keep. A connection gone is found by the
            // next call.
        }
        held_.reset();
    }

    // The one client call Firebird allows from another thread while the
    // attachment is busy. With no request running the server answers that
    // there is nothing to cancel, which is no error here.
    void Interrupt() override { calls_.Interrupt(); }

private:
    // The values and NULL flags the areas point into; a deque never moves them.
    struct Buffers {
        std::deque<std::string> values;
        std::deque<ISC_SHORT> nulls;
    };

    // Binds the markers in order. Every parameter is declared as text of the
    // value's length, which the server converts to the parameter's type (and
    // refuses where it does not fit): no conversion of numbers or dates here.
    static void bindParams(XSQLDA &in, const FirebirdStatementText &text, const std::vector<BoundValue> &bound,
                           Buffers &buffers)
    {
        if (in.sqld != static_cast<int>(text.markers.size()))
            throw EDatabaseError("O comando tem " + std::to_string(text.markers.size()) +
                                 " parâmetros, mas o servidor reconheceu " + std::to_string(in.sqld) + ".");
        for (std::size_t i = 0; i < text.markers.size(); ++i) {
            const Variant *value = nullptr;
            for (const BoundValue &b : bound)
                if (b.name == text.markers[i])
                    value = &b.value;
            if (!value)
                throw EDatabaseError("Parâmetro '" + text.markers[i] + "' sem valor.");
            XSQLVAR &var = in.sqlvar[i];
            const int type = baseType(var);
            std::string &data = buffers.values.emplace_back();
            if (!value->isNull()) {
                data = FirebirdParamText(*value, type);
                if (data.size() > 32765)
                    throw EDatabaseError("Valor longo demais para o parâmetro '" + text.markers[i] + "'.");
            }
            const auto length = static_cast<ISC_USHORT>(data.size());
            data.insert(0, reinterpret_cast<const char *>(&length), sizeof length);
            // Firebird leaves the nullable flag off where it derives a parameter's
            // type from a literal or a function argument, and then ignores the NULL
            // flag: the value would arrive as whatever the buffer holds.
            var.sqltype = SQL_VARYING | 1;
            var.sqllen = static_cast<ISC_SHORT>(std::max<std::size_t>(length, 1));
            if (!isText(type))
                var.sqlsubtype = 0;  // a text's character set stays
            var.sqlscale = 0;
            var.sqldata = data.data();
            var.sqlind = &buffers.nulls.emplace_back(value->isNull() ? -1 : 0);
        }
    }

    // Integer, decimal, boolean and text-blob columns are fetched as text the
    // server formats, which keeps every digit; every column gets a buffer.
    // Returns the types as declared.
    static std::vector<FirebirdColumnType> readColumnsAsText(XSQLDA &out, Buffers &buffers)
    {
        std::vector<FirebirdColumnType> columns;
        for (int i = 0; i < out.sqld; ++i) {
            XSQLVAR &var = out.sqlvar[i];
            columns.push_back({baseType(var), var.sqlscale, var.sqlsubtype});
            if (isInteger(baseType(var)) || baseType(var) == SQL_BOOLEAN) {
                var.sqltype = static_cast<ISC_SHORT>(SQL_VARYING | (var.sqltype & 1));
                var.sqllen = 48;
                var.sqlsubtype = 0;
                var.sqlscale = 0;
            } else if (baseType(var) == SQL_BLOB && var.sqlsubtype == isc_blob_text) {
                // A longer text fails on the server with a truncation error
                // rather than arriving cut.
                var.sqltype = static_cast<ISC_SHORT>(SQL_VARYING | (var.sqltype & 1));
                var.sqllen = 32765;
                var.sqlsubtype = var.sqlscale;  // a text blob keeps its character set there
                var.sqlscale = 0;
            }
            var.sqldata = buffers.values.emplace_back(FirebirdBufferSize(var), '\0').data();
            var.sqlind = &buffers.nulls.emplace_back(0);
        }
        return columns;
    }

    struct OwnStatement;
    // Raises the failure of a call on the statement, as SOCI would.
    static void check(OwnStatement &st, ISC_STATUS failed)
    {
        if (failed)
            throw soci::firebird_soci_error(FirebirdStatusText(st.status), st.status);
    }

    // An XSQLDA for n variables.
    class Area {
    public:
        explicit Area(int n) : raw_(XSQLDA_LENGTH(n))
        {
            get()->version = SQLDA_VERSION1;
            get()->sqln = static_cast<ISC_SHORT>(n);
        }
        XSQLDA *get() { return reinterpret_cast<XSQLDA *>(raw_.data()); }
        XSQLDA *operator->() { return get(); }

    private:
        std::vector<char> raw_;
    };

    // A read-only transaction, so whatever the statement calls (a procedure,
    // a block) cannot write either; rolled back unless committed.
    struct ReadTransaction {
        explicit ReadTransaction(isc_db_handle &attachment)
        {
            static const char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_concurrency, isc_tpb_wait};
            ISC_STATUS_ARRAY status;
            if (isc_start_transaction(status, &handle, 1, &attachment, static_cast<short>(sizeof tpb), tpb))
                throw soci::firebird_soci_error(FirebirdStatusText(status), status);
        }
        ~ReadTransaction()
        {
            if (handle) {
                ISC_STATUS_ARRAY status;
                // On a broken connection the client library takes this for done.
                isc_rollback_transaction(status, &handle);
            }
        }
        void Commit()
        {
            ISC_STATUS_ARRAY status;
            if (isc_commit_transaction(status, &handle))
                throw soci::firebird_soci_error(FirebirdStatusText(status), status);
        }
        isc_tr_handle handle = 0;
    };

    // A statement handle of the session's own, freed without throwing.
    struct OwnStatement {
        explicit OwnStatement(isc_db_handle &attachment)
        {
            if (isc_dsql_allocate_statement(status, &attachment, &handle))
                throw soci::firebird_soci_error(FirebirdStatusText(status), status);
        }
        ~OwnStatement()
        {
            if (handle) {
                ISC_STATUS_ARRAY ignored;
                isc_dsql_free_statement(ignored, &handle, DSQL_drop);
            }
        }
        // Ends the cursor before its transaction does.
        void Close()
        {
            ISC_STATUS_ARRAY ignored;
            isc_dsql_free_statement(ignored, &handle, DSQL_close);
        }
        isc_stmt_handle handle = 0;
        ISC_STATUS_ARRAY status{};
    };

    // Opening is under the deadline too: the client library waits minutes
    // for a server that accepts the connection and then keeps silent.
    void attach()
    {
        const std::string connect = connect_, what = "'" + service_ + "'";
        sql_ = calls_.Open<soci::session>([connect, what] { return OpenFirebirdSoci(connect, what); });
        attachment_ = FirebirdAttachmentOf(*sql_);
        canceller_.Set(attachment_);
    }

    // A report or lookup must be a plain select: not an update, a procedure
    // call, nor a select that locks rows.
    static void refuseUnlessSelect(isc_stmt_handle &handle)
    {
        const char item[] = {isc_info_sql_stmt_type};
        char answer[16] = {};
        ISC_STATUS_ARRAY status;
        if (isc_dsql_sql_info(status, &handle, sizeof item, item, sizeof answer, answer))
            throw soci::firebird_soci_error(FirebirdStatusText(status), status);
        if (answer[0] != isc_info_sql_stmt_type)
            throw EDatabaseError(kWriteRefusedText);
        const short length = static_cast<short>(isc_vax_integer(answer + 1, 2));
        if (isc_vax_integer(answer + 3, length) != isc_info_sql_stmt_select)
            throw EDatabaseError(kWriteRefusedText);
    }

    // Lets the attachment go without throwing, whatever state it is in.
    void drop() noexcept
    {
        if (!sql_)
            return;
        held_.reset();  // before the attachment it belongs to can go
        canceller_.Set(0);
        attachment_ = 0;
        CloseFirebirdSoci(sql_);
    }

    [[noreturn]] void fail(const soci::soci_error &e)
    {
        calls_.Raise(FirebirdFailureOf(e), [this] { drop(); }, [this] { rollbackQuietly(); });
    }

    void rollbackQuietly() noexcept
    {
        held_.reset();  // before the attachment it belongs to can go
        try {
            if (sql_)
                sql_->rollback();
        } catch (...) {
            // The original error is the one worth reporting.
        }
    }

    std::string service_;
    std::string connect_;
    std::unique_ptr<soci::session> sql_;  // none after a loss, until the next call
    isc_db_handle attachment_ = 0;        // sql_'s
    FirebirdCanceller canceller_;         // the same handle, for other threads
    bool snapshot_ = false;
    std::unique_ptr<ReadTransaction> held_;  // the snapshot's, once its first query ran
    ServerCalls calls_;  // last: stopped before the rest goes
};
} // namespace

std::string FirebirdConnectString(const FirebirdConnection &c)
{
    if (!c.host.empty() && (c.port <= 0 || c.port > 65535))
        throw EDatabaseError("Porta inválida: " + std::to_string(c.port) + ".");
    const std::string service = c.host.empty() ? c.database : c.host + "/" + std::to_string(c.port) + ":" + c.database;
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
    return connect;
}

std::unique_ptr<DatabaseSession> OpenFirebirdSession(const FirebirdConnection &c)
{
    return std::make_unique<FirebirdSession>(c);
}
