#include "data/sqlite/functions.h"

#include "data/dberrors.h"

#include <sqlite3.h>

#include <cstdio>
#include <string>

namespace {
// NVL(a, b) / NVLSTR(a, b): a unless NULL, else b.
void nvl(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    sqlite3_result_value(ctx, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0]);
}

// DIASEGUINTE(d): the day after the day of d ("2026-01-31" or
// "2026-01-31 15:30:00" give "2026-02-01"), so a period's last day takes a
// document written with its time of day. NULL, or text that is no date,
// gives NULL.
void nextDay(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) != SQLITE_TEXT) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(argv[0]));
    const int size = sqlite3_value_bytes(argv[0]);
    int part[3] = {0, 0, 0};
    const int widths[3] = {4, 2, 2};
    int at = 0;
    for (int p = 0; p < 3; ++p) {
        if (p > 0 && (at >= size || text[at++] != '-')) {
            sqlite3_result_null(ctx);
            return;
        }
        for (int i = 0; i < widths[p]; ++i, ++at) {
            if (at >= size || text[at] < '0' || text[at] > '9') {
                sqlite3_result_null(ctx);
                return;
            }
            part[p] = part[p] * 10 + (text[at] - '0');
        }
    }
    int y = part[0], m = part[1], d = part[2];
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    const int lengths[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1 || d > lengths[m - 1]) {
        sqlite3_result_null(ctx);
        return;
    }
    if (++d > lengths[m - 1]) {
        d = 1;
        if (++m > 12) {
            m = 1;
            ++y;
        }
    }
    char out[32];  // y is at most 9999, m and d two digits each
    std::snprintf(out, sizeof out, "%04d-%02d-%02d", y, m, d);
    sqlite3_result_text(ctx, out, 10, SQLITE_TRANSIENT);
}

// PARAM(x): an eponymous table with one row, column PARAM = x.
struct ParamCursor {
    sqlite3_vtab_cursor base{};
    sqlite3_value *value = nullptr;
    bool eof = true;
};

enum { kColParam = 0, kColArg = 1 };

int paramConnect(sqlite3 *db, void *, int, const char *const *, sqlite3_vtab **vtab, char **)
{
    int rc = sqlite3_declare_vtab(db, "CREATE TABLE x(PARAM, arg HIDDEN)");
    if (rc != SQLITE_OK)
        return rc;
    *vtab = static_cast<sqlite3_vtab *>(sqlite3_malloc(sizeof(sqlite3_vtab)));
    if (!*vtab)
        return SQLITE_NOMEM;
    **vtab = sqlite3_vtab{};
    return SQLITE_OK;
}

int paramDisconnect(sqlite3_vtab *vtab)
{
    sqlite3_free(vtab);
    return SQLITE_OK;
}

int paramBestIndex(sqlite3_vtab *, sqlite3_index_info *info)
{
    info->idxNum = 0;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto &c = info->aConstraint[i];
        if (c.iColumn != kColArg || c.op != SQLITE_INDEX_CONSTRAINT_EQ)
            continue;
        if (!c.usable)
            return SQLITE_CONSTRAINT;  // the planner must supply the argument first
        // Without omit SQLite would re-test "arg = x", which fails for NULL and drops the row.
        info->aConstraintUsage[i].argvIndex = 1;
        info->aConstraintUsage[i].omit = 1;
        info->idxNum = 1;
    }
    info->estimatedCost = 1;
    info->estimatedRows = 1;
    return SQLITE_OK;
}

int paramOpen(sqlite3_vtab *, sqlite3_vtab_cursor **cursor)
{
    auto *c = new (std::nothrow) ParamCursor;
    if (!c)
        return SQLITE_NOMEM;
    *cursor = &c->base;
    return SQLITE_OK;
}

int paramClose(sqlite3_vtab_cursor *cursor)
{
    auto *c = reinterpret_cast<ParamCursor *>(cursor);
    sqlite3_value_free(c->value);
    delete c;
    return SQLITE_OK;
}

int paramFilter(sqlite3_vtab_cursor *cursor, int idxNum, const char *, int argc,
                sqlite3_value **argv)
{
    auto *c = reinterpret_cast<ParamCursor *>(cursor);
    sqlite3_value_free(c->value);
    c->value = nullptr;
    if (idxNum == 1 && argc > 0) {
        c->value = sqlite3_value_dup(argv[0]);
        if (!c->value)
            return SQLITE_NOMEM;
    }
    c->eof = false;
    return SQLITE_OK;
}

int paramNext(sqlite3_vtab_cursor *cursor)
{
    reinterpret_cast<ParamCursor *>(cursor)->eof = true;
    return SQLITE_OK;
}

int paramEof(sqlite3_vtab_cursor *cursor) { return reinterpret_cast<ParamCursor *>(cursor)->eof; }

int paramColumn(sqlite3_vtab_cursor *cursor, sqlite3_context *ctx, int)
{
    auto *c = reinterpret_cast<ParamCursor *>(cursor);
    if (c->value)
        sqlite3_result_value(ctx, c->value);
    else
        sqlite3_result_null(ctx);
    return SQLITE_OK;
}

int paramRowid(sqlite3_vtab_cursor *, sqlite3_int64 *rowid)
{
    *rowid = 1;
    return SQLITE_OK;
}

sqlite3_module makeParamModule()
{
    sqlite3_module m{};
    m.iVersion = 0;
    m.xCreate = nullptr;  // eponymous-only: PARAM exists without CREATE VIRTUAL TABLE
    m.xConnect = paramConnect;
    m.xBestIndex = paramBestIndex;
    m.xDisconnect = paramDisconnect;
    m.xDestroy = nullptr;
    m.xOpen = paramOpen;
    m.xClose = paramClose;
    m.xFilter = paramFilter;
    m.xNext = paramNext;
    m.xEof = paramEof;
    m.xColumn = paramColumn;
    m.xRowid = paramRowid;
    return m;
}

const sqlite3_module paramModule = makeParamModule();

void check(sqlite3 *db, int rc, const char *what)
{
    if (rc != SQLITE_OK)
        throw EDatabaseError(std::string("Não foi possível registrar ") + what + ": " +
                             sqlite3_errmsg(db));
}
} // namespace

void RegisterSqliteFunctions(void *handle)
{
    auto *db = static_cast<sqlite3 *>(handle);
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    check(db, sqlite3_create_function_v2(db, "NVL", 2, flags, nullptr, nvl, nullptr, nullptr, nullptr), "NVL");
    check(db, sqlite3_create_function_v2(db, "NVLSTR", 2, flags, nullptr, nvl, nullptr, nullptr, nullptr), "NVLSTR");
    check(db, sqlite3_create_function_v2(db, "DIASEGUINTE", 1, flags, nullptr, nextDay, nullptr, nullptr, nullptr),
          "DIASEGUINTE");
    check(db, sqlite3_create_module_v2(db, "PARAM", &paramModule, nullptr, nullptr), "PARAM");
}
