// The Firebird target. Rows go through one prepared INSERT per table, bound
// in bulk as texts the client library converts to the column's type, and are
// committed batch by batch: a literal statement per row (or a block of them)
// costs the server a parse each, which made a million items take hours.
// Reads go through the project's session.
#include "demogen.h"

#include "data/firebird/session.h"

#include <soci/firebird/soci-firebird.h>
#include <soci/soci.h>

#include <map>

namespace {
class FirebirdSink : public DemoSink {
public:
    FirebirdSink(const FirebirdConnection &c, int batchRows) : batchRows_(batchRows)
    {
        if (batchRows_ < 1 || batchRows_ > kMaxBatch)
            throw EDemoArgument("batch size must be between 1 and " + std::to_string(kMaxBatch));
        session_ = OpenFirebirdSession(c);
        // Refuses a database without the fixture: the rows would be orphans.
        if (session_->Query("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = '01'", {}).rows.empty())
            throw Exception("the Firebird database does not hold the reference data");
        try {
            writer_.open(soci::firebird, FirebirdConnectString(c));
        } catch (const soci::soci_error &e) {
            throw Exception(std::string("cannot open the Firebird database for writing: ") +
                                     e.get_error_message());
        }
    }

    std::vector<std::string> Existing(const std::string &table, const std::string &column,
                                      const std::string &where) override
    {
        flushAll();  // what was sent so far counts as existing
        std::vector<std::string> out;
        for (auto &row : session_->Query("SELECT " + column + " FROM " + table + (where.empty() ? "" : " WHERE " + where),
                                         {}).rows)
            if (row.at(0))
                out.push_back(std::move(*row[0]));
        return out;
    }

    void Insert(const DemoTable &table, const DemoRow &row) override
    {
        Batch &b = batches_[table.name];
        if (b.values.empty()) {
            b.table = &table;
            b.values.resize(table.columns.size());
            b.nulls.resize(table.columns.size());
        }
        for (std::size_t i = 0; i < row.size(); ++i) {
            b.values[i].push_back(row[i].value_or(""));
            b.nulls[i].push_back(row[i] ? soci::i_ok : soci::i_null);
        }
        if (static_cast<int>(b.values[0].size()) >= batchRows_)
            flush(b);
    }

    void Finish() override
    {
        flushAll();
        // Index statistics are taken when an index is built, here on the empty
        // fixture tables: without fresh ones the optimizer plans as if they
        // were still empty.
        const ResultSet indexes = session_->Query(
            "SELECT TRIM(RDB$INDEX_NAME) FROM RDB$INDICES WHERE RDB$RELATION_NAME IN "
            "('NOTAFISCAL', 'ITEMNOTAFISC', 'IMPOSTOITEMNF', 'PRODUTO', 'EMPRESA', 'INSCRESTAD', 'INSCRMUNICIP', "
            "'SERIENF', 'FILIAL', 'RESUMOCFOPNF')",
            {});
        for (const auto &row : indexes.rows)
            if (row.at(0))
                session_->Execute("SET STATISTICS INDEX \"" + *row[0] + "\"");
    }

private:
    static constexpr int kMaxBatch = 100000;

    struct Batch {
        const DemoTable *table = nullptr;
        std::vector<std::vector<std::string>> values;  // per column
        std::vector<std::vector<soci::indicator>> nulls;
    };

    void flush(Batch &b)
    {
        if (b.values.empty() || b.values[0].empty())
            return;
        std::string sql = std::string("INSERT INTO ") + b.table->name + " (";
        std::string marks;
        for (std::size_t i = 0; i < b.table->columns.size(); ++i) {
            sql += (i ? ", " : "") + std::string(b.table->columns[i]);
            marks += (i ? ", :v" : ":v") + std::to_string(i);
        }
        sql += ") VALUES (" + marks + ")";
        try {
            soci::statement st(writer_);
            st.alloc();
            st.prepare(sql);
            for (std::size_t i = 0; i < b.values.size(); ++i)
                st.exchange(soci::use(b.values[i], b.nulls[i]));
            st.define_and_bind();
            st.execute(true);
            writer_.commit();
        } catch (const soci::soci_error &e) {
            throw Exception(std::string("inserting into ") + b.table->name + ": " + e.get_error_message());
        }
        for (auto &column : b.values)
            column.clear();
        for (auto &column : b.nulls)
            column.clear();
    }

    void flushAll()
    {
        for (auto &[name, batch] : batches_)
            flush(batch);
    }

    std::unique_ptr<DatabaseSession> session_;
    soci::session writer_;
    int batchRows_;
    std::map<std::string, Batch> batches_;
};
} // namespace

DemoCounts GrowDemoFirebird(const FirebirdConnection &connection, const DemoSize &size, int batchRows)
{
    CheckDemoSize(size);
    FirebirdSink sink(connection, batchRows);
    return GenerateDemoData(sink, size);
}
