// The SQLite target, through the raw sqlite3 API: one prepared INSERT per
// table, values bound, every row in one transaction.
#include "demogen.h"

#include "host/hostsession.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace {
class SqliteSink : public DemoSink {
public:
    explicit SqliteSink(const std::string &path)
    {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw Exception("cannot open " + path + ": " + why);
        }
        // The file is discarded unless everything succeeds, so no journal is needed.
        exec("PRAGMA journal_mode=OFF");
        exec("PRAGMA synchronous=OFF");
        exec("PRAGMA cache_size=-65536");
        exec("BEGIN");
    }
    ~SqliteSink() override
    {
        for (auto &[name, st] : inserts_)
            sqlite3_finalize(st);
        sqlite3_close(db_);
    }

    std::vector<std::string> Existing(const std::string &table, const std::string &column,
                                      const std::string &where) override
    {
        std::vector<std::string> out;
        sqlite3_stmt *st = prepare("SELECT " + column + " FROM " + table + " WHERE " + column + " IS NOT NULL" +
                                   (where.empty() ? "" : " AND (" + where + ")"));
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW)
            out.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE)
            fail("reading " + table + "." + column);
        return out;
    }

    void Insert(const DemoTable &table, const DemoRow &row) override
    {
        sqlite3_stmt *&st = inserts_[table.name];
        if (!st) {
            std::string sql = std::string("INSERT INTO ") + table.name + " (";
            std::string marks;
            for (std::size_t i = 0; i < table.columns.size(); ++i) {
                sql += (i ? ", " : "") + std::string(table.columns[i]);
                marks += i ? ", ?" : "?";
            }
            st = prepare(sql + ") VALUES (" + marks + ")");
        }
        for (std::size_t i = 0; i < row.size(); ++i) {
            const int rc = row[i] ? sqlite3_bind_text(st, static_cast<int>(i + 1), row[i]->data(),
                                                      static_cast<int>(row[i]->size()), SQLITE_TRANSIENT)
                                  : sqlite3_bind_null(st, static_cast<int>(i + 1));
            if (rc != SQLITE_OK)
                fail(std::string("binding a value for ") + table.name);
        }
        if (sqlite3_step(st) != SQLITE_DONE)
            fail(std::string("inserting into ") + table.name);
        sqlite3_reset(st);
    }

    void Finish() override
    {
        exec("COMMIT");
        exec("PRAGMA journal_mode=DELETE");
    }

private:
    void exec(const std::string &sql)
    {
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            fail(sql);
    }
    sqlite3_stmt *prepare(const std::string &sql)
    {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
            fail("preparing " + sql);
        return st;
    }
    [[noreturn]] void fail(const std::string &what) { throw Exception(what + ": " + sqlite3_errmsg(db_)); }

    sqlite3 *db_ = nullptr;
    std::map<std::string, sqlite3_stmt *> inserts_;
};
} // namespace

DemoCounts BuildDemoSqlite(const std::string &path, const DemoSize &size, const std::vector<std::string> &fixturePaths,
                           bool replace)
{
    namespace fs = std::filesystem;
    CheckDemoSize(size);
    std::error_code ec;
    if (!replace && fs::exists(path, ec))
        throw Exception(path + " already exists (pass --replace to overwrite it)");
    // A temporary name beside the target, so a failed run leaves nothing behind
    // and a successful one appears whole.
    std::string partial = path + ".partial-XXXXXX";
    const int fd = mkstemp(partial.data());
    if (fd < 0)
        throw Exception("cannot create a file beside " + path);
    close(fd);
    try {
        BuildDemoDatabase(partial, fixturePaths);
        DemoCounts counts;
        {
            SqliteSink sink(partial);
            counts = GenerateDemoData(sink, size);
        }
        fs::rename(partial, path);
        return counts;
    } catch (...) {
        fs::remove(partial, ec);
        throw;
    }
}
