#include "data/sqlite/statements.h"

#include "data/dberrors.h"
#include "data/numbertext.h"

#include <sqlite3.h>

#include <charconv>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

std::string SqliteFailureText(int code)
{
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return "O banco de dados está bloqueado por outra operação; tente de novo em instantes.";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return "O arquivo do banco de dados está danificado ou não é um banco de dados.";
    case SQLITE_CANTOPEN: return "O arquivo do banco de dados não pôde ser aberto.";
    case SQLITE_IOERR: return "Erro de leitura ou gravação no arquivo do banco de dados.";
    case SQLITE_FULL: return "O disco do banco de dados está cheio.";
    case SQLITE_READONLY: return "O banco de dados só pode ser lido.";
    case SQLITE_NOMEM: return "Memória insuficiente para o banco de dados.";
    case SQLITE_PERM:
    case SQLITE_AUTH: return "Sem permissão para acessar o banco de dados.";
    default: return {};
    }
}

[[noreturn]] void FailSqlite(void *handle)
{
    auto *db = static_cast<sqlite3 *>(handle);
    const int code = sqlite3_extended_errcode(db);
    if ((code & 0xff) == SQLITE_INTERRUPT)
        throw EDatabaseCancelled("Comando interrompido.");
    // The engine's own words stay for the log; a statement's mistakes
    // (a column it lacks, its syntax) keep them, since they name the spot.
    if (std::string text = SqliteFailureText(code); !text.empty())
        throw EDatabaseError(std::move(text), sqlite3_errmsg(db));
    const std::string engine = sqlite3_errmsg(db);
    if (std::string text = SqliteMissingTableText(engine); !text.empty())
        throw EDatabaseError(std::move(text), engine);
    throw EDatabaseError(engine);
}

std::string SqliteMissingTableText(const std::string &engine)
{
    // A database with only the reference tables lacks the documents' ones.
    constexpr std::string_view noTable = "no such table: ";
    if (engine.rfind(noTable, 0) != 0)
        return {};
    std::string table = engine.substr(noTable.size());
    if (table.rfind("main.", 0) == 0)
        table.erase(0, 5);
    return "A tabela " + table + " não existe neste banco de dados (um banco só com as tabelas de referência não tem "
           "as dos documentos).";
}

namespace {
// Binds by marker name; a null value binds NULL.
void bindValues(sqlite3 *db, sqlite3_stmt *stmt, const std::vector<BoundValue> &bound)
{
    for (const BoundValue &b : bound) {
        const std::string marker = ":" + b.name;
        const int index = sqlite3_bind_parameter_index(stmt, marker.c_str());
        if (index == 0)
            throw EDatabaseError("Parâmetro '" + b.name + "' não encontrado no comando.");
        int rc;
        if (b.value.isNull())
            rc = sqlite3_bind_null(stmt, index);
        else if (b.value.kind() == Variant::Kind::Number)
            rc = sqlite3_bind_double(stmt, index, b.value.asNumber());
        else {
            const std::string text = b.value.asString();
            rc = sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        }
        if (rc != SQLITE_OK)
            throw EDatabaseError(sqlite3_errmsg(db));
    }
}

void setCell(std::optional<std::string> &cell, const char *text, std::size_t size)
{
    if (cell)
        cell->assign(text, size);  // keeps the buffer of the row before
    else
        cell.emplace(text, size);
}

// The cell as text: integers in full, reals as NumberText gives them.
void readCell(sqlite3_stmt *stmt, int i, std::optional<std::string> &cell)
{
    switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_NULL:
        cell.reset();
        break;
    case SQLITE_INTEGER: {
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(sqlite3_column_int64(stmt, i)));
        setCell(cell, buf, static_cast<std::size_t>(r.ptr - buf));
        break;
    }
    case SQLITE_FLOAT: {
        const std::string text = NumberText(sqlite3_column_double(stmt, i));
        setCell(cell, text.data(), text.size());
        break;
    }
    case SQLITE_TEXT: {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, i));
        setCell(cell, text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, i)));
        break;
    }
    default:
        throw EDatabaseError(std::string("Tipo sem suporte na coluna '") + sqlite3_column_name(stmt, i) + "'.");
    }
}
// Statements that read may still attach another file (which creates it) or
// detach one; those are refused while such a statement is prepared.
int authorize(void *reading, int action, const char *, const char *, const char *, const char *)
{
    if (*static_cast<bool *>(reading) && (action == SQLITE_ATTACH || action == SQLITE_DETACH))
        return SQLITE_DENY;
    return SQLITE_OK;
}

// Prepares a statement that may only read; raises EDatabaseError otherwise.
sqlite3_stmt *prepareReading(sqlite3 *db, const std::string &sql, unsigned flags, bool &reading)
{
    sqlite3_stmt *stmt = nullptr;
    reading = true;
    const int rc = sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), flags, &stmt, nullptr);
    reading = false;
    if (rc == SQLITE_AUTH)
        throw EDatabaseError(kWriteRefusedText, sqlite3_errmsg(db));
    if (rc != SQLITE_OK)
        FailSqlite(db);
    if (!stmt)
        throw EDatabaseError("Comando vazio.");
    if (!sqlite3_stmt_readonly(stmt)) {
        sqlite3_finalize(stmt);
        throw EDatabaseError(kWriteRefusedText);
    }
    return stmt;
}
} // namespace

struct SqliteStatementCache::Cache {
    sqlite3 *db = nullptr;
    bool reading = false;  // a statement that may only read is being prepared
    std::list<std::pair<std::string, sqlite3_stmt *>> order;  // most recently used first
    std::unordered_map<std::string, decltype(order)::iterator> index;

    ~Cache()
    {
        sqlite3_set_authorizer(db, nullptr, nullptr);
        for (auto &entry : order)
            sqlite3_finalize(entry.second);
    }

    [[noreturn]] void fail() const { FailSqlite(db); }

    sqlite3_stmt *statement(const std::string &sql)
    {
        if (auto it = index.find(sql); it != index.end()) {
            order.splice(order.begin(), order, it->second);
            return it->second->second;
        }
        sqlite3_stmt *stmt = prepareReading(db, sql, SQLITE_PREPARE_PERSISTENT, reading);
        order.emplace_front(sql, stmt);
        index.emplace(sql, order.begin());
        if (order.size() > SqliteStatementCache::kCapacity) {
            sqlite3_finalize(order.back().second);
            index.erase(order.back().first);
            order.pop_back();
        }
        return stmt;
    }
};

SqliteStatementCache::SqliteStatementCache(void *db) : cache_(std::make_unique<Cache>())
{
    cache_->db = static_cast<sqlite3 *>(db);
    sqlite3_set_authorizer(cache_->db, authorize, &cache_->reading);
}

SqliteStatementCache::~SqliteStatementCache() = default;

ResultSet SqliteStatementCache::Query(const std::string &sql, const std::vector<BoundValue> &bound)
{
    sqlite3_stmt *stmt = cache_->statement(sql);
    // Whatever happens, the statement goes back reset and unbound.
    struct Reset {
        sqlite3_stmt *s;
        ~Reset()
        {
            sqlite3_reset(s);
            sqlite3_clear_bindings(s);
        }
    } reset{stmt};

    bindValues(cache_->db, stmt, bound);

    ResultSet result;
    const int columns = sqlite3_column_count(stmt);
    result.columns.reserve(static_cast<std::size_t>(columns));
    for (int i = 0; i < columns; ++i)
        result.columns.emplace_back(sqlite3_column_name(stmt, i));
    for (;;) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW)
            cache_->fail();
        auto &cells = result.rows.emplace_back(static_cast<std::size_t>(columns));
        for (int i = 0; i < columns; ++i)
            readCell(stmt, i, cells[static_cast<std::size_t>(i)]);
    }
    return result;
}

void SqliteStatementCache::QueryRows(const std::string &sql, const std::vector<BoundValue> &bound,
                                     RowReceiver &receiver)
{
    sqlite3 *db = cache_->db;
    sqlite3_stmt *stmt = prepareReading(db, sql, 0, cache_->reading);
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)> finalize(stmt, sqlite3_finalize);
    bindValues(db, stmt, bound);
    const int columns = sqlite3_column_count(stmt);
    std::vector<std::string> names;
    for (int i = 0; i < columns; ++i)
        names.emplace_back(sqlite3_column_name(stmt, i));
    if (!receiver.Columns(names))
        return;
    std::vector<std::optional<std::string>> cells(static_cast<std::size_t>(columns));
    for (;;) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE)
            return;
        if (rc != SQLITE_ROW)
            FailSqlite(db);
        for (int i = 0; i < columns; ++i)
            readCell(stmt, i, cells[static_cast<std::size_t>(i)]);
        if (!receiver.Row(cells))
            return;
    }
}
