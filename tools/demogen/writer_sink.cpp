// The generator's rows go through the engine's writer: one prepared INSERT
// per table, a table's rows bound in bulk batch by batch. A literal statement
// per row (or a block of them) would cost a server a parse each, which made
// a million items take hours.
#include "demogen.h"

#include "data/engine.h"
#include "data/writer.h"
#include "host/hostsession.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace {
class WriterSink : public DemoSink {
public:
    // `commitEachBatch`: a run cut short keeps what it sent; otherwise
    // everything is one transaction.
    WriterSink(std::unique_ptr<DatabaseWriter> writer, int batchRows, bool commitEachBatch)
        : writer_(std::move(writer)), batchRows_(batchRows), commitEachBatch_(commitEachBatch)
    {
        if (batchRows_ < 1 || batchRows_ > kMaxBatch)
            throw EDemoArgument("batch size must be between 1 and " + std::to_string(kMaxBatch));
        writer_->Begin();
        // Refuses a database without the fixture: the rows would be orphans.
        if (Existing("EMPRESA", "CDEMPRESA", "CDEMPRESA = '01'").empty())
            throw Exception("the database does not hold the reference data");
    }
    ~WriterSink() override
    {
        try {
            if (open_)
                writer_->Rollback();
        } catch (...) {
        }
    }

    std::vector<std::string> Existing(const std::string &table, const std::string &column,
                                      const std::string &where) override
    {
        flushAll();  // what was sent so far counts as existing
        const int select = writer_->Prepare("SELECT CAST(" + column + " AS VARCHAR(60)) FROM " + table + " WHERE " +
                                            column + " IS NOT NULL" + (where.empty() ? "" : " AND (" + where + ")"));
        std::vector<std::string> out;
        for (auto &row : writer_->Select(select, {}))
            if (row.at(0))
                out.push_back(std::move(*row[0]));
        return out;
    }

    void Insert(const DemoTable &table, const DemoRow &row) override
    {
        Batch &b = batches_[table.name];
        if (!b.table) {
            b.table = &table;
            std::string sql = std::string("INSERT INTO ") + table.name + " (";
            std::string marks;
            for (std::size_t i = 0; i < table.columns.size(); ++i) {
                sql += (i ? ", " : "") + std::string(table.columns[i]);
                marks += i ? ", ?" : "?";
            }
            b.statement = writer_->Prepare(sql + ") VALUES (" + marks + ")");
        }
        b.rows.push_back(row);
        if (static_cast<int>(b.rows.size()) >= batchRows_)
            flush(b);
    }

    void Finish() override
    {
        flushAll();
        writer_->Commit();
        open_ = false;
        writer_->RefreshIndexStatistics({"NOTAFISCAL", "ITEMNOTAFISC", "IMPOSTOITEMNF", "PRODUTO", "EMPRESA",
                                         "INSCRESTAD", "INSCRMUNICIP", "SERIENF", "FILIAL", "RESUMOCFOPNF"});
    }

private:
    static constexpr int kMaxBatch = 100000;

    struct Batch {
        const DemoTable *table = nullptr;
        int statement = -1;
        std::vector<DatabaseWriter::Values> rows;
    };

    void flush(Batch &b)
    {
        if (b.rows.empty())
            return;
        try {
            writer_->RunMany(b.statement, b.rows);
            if (commitEachBatch_) {
                writer_->Commit();
                writer_->Begin();
            }
        } catch (const Exception &e) {
            throw Exception(std::string("inserting into ") + b.table->name + ": " + e.Message());
        }
        b.rows.clear();
    }

    void flushAll()
    {
        for (auto &[name, batch] : batches_)
            flush(batch);
    }

    std::unique_ptr<DatabaseWriter> writer_;
    int batchRows_;
    bool commitEachBatch_;
    bool open_ = true;
    std::map<std::string, Batch> batches_;
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
            EngineConnection c;
            c.database = partial;
            WriterSink sink(DefaultEngine().openWriter(c, {.scratch = true}), 2000, false);
            counts = GenerateDemoData(sink, size);
        }
        fs::rename(partial, path);
        return counts;
    } catch (...) {
        fs::remove(partial, ec);
        throw;
    }
}

DemoCounts GrowDemoDatabase(const DatabaseEngine &engine, const EngineConnection &connection, const DemoSize &size,
                            int batchRows)
{
    CheckDemoSize(size);
    WriterSink sink(engine.openWriter(connection, {}), batchRows, true);
    return GenerateDemoData(sink, size);
}
