// The Firebird target, through the project's Firebird session. That session
// commits every call, so rows travel in batches: one EXECUTE BLOCK of literal
// INSERTs per call, which saves a round trip and a commit per row.
#include "demogen.h"

#include "data/firebird_session.h"

#include <stdexcept>

namespace {
std::string literal(const std::optional<std::string> &value)
{
    if (!value)
        return "NULL";
    std::string out = "'";
    for (char c : *value)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

class FirebirdSink : public DemoSink {
public:
    FirebirdSink(const FirebirdConnection &c, int batchRows) : batchRows_(batchRows)
    {
        if (batchRows_ < 1 || batchRows_ > 255)
            throw std::invalid_argument("batch size must be between 1 and 255");
        session_ = OpenFirebirdSession(c);
        // Refuses a database without the fixture: the rows would be orphans.
        if (session_->Query("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = '01'", {}).rows.empty())
            throw std::runtime_error("the Firebird database does not hold the reference data");
    }

    std::vector<std::string> Existing(const std::string &table, const std::string &column,
                                      const std::string &where) override
    {
        std::vector<std::string> out;
        for (auto &row : session_->Query("SELECT " + column + " FROM " + table + (where.empty() ? "" : " WHERE " + where),
                                         {}).rows)
            if (row.at(0))
                out.push_back(std::move(*row[0]));
        return out;
    }

    void Insert(const DemoTable &table, const DemoRow &row) override
    {
        std::string sql = std::string("INSERT INTO ") + table.name + " (";
        for (std::size_t i = 0; i < table.columns.size(); ++i)
            sql += (i ? ", " : "") + std::string(table.columns[i]);
        sql += ") VALUES (";
        for (std::size_t i = 0; i < row.size(); ++i)
            sql += (i ? ", " : "") + literal(row[i]);
        block_ += sql + ");\n";
        if (++rows_ == batchRows_)
            flush();
    }

    void Finish() override
    {
        flush();
        // Index statistics are taken when an index is built, here on the empty
        // fixture tables: without fresh ones the optimizer plans as if they
        // were still empty.
        const ResultSet indexes = session_->Query(
            "SELECT TRIM(RDB$INDEX_NAME) FROM RDB$INDICES WHERE RDB$RELATION_NAME IN "
            "('NOTAFISCAL', 'ITEMNOTAFISC', 'IMPOSTOITEMNF', 'PRODUTO', 'EMPRESA', 'INSCRESTAD', 'INSCRMUNICIP', "
            "'SERIENF', 'FILIAL')",
            {});
        for (const auto &row : indexes.rows)
            if (row.at(0))
                session_->Execute("SET STATISTICS INDEX \"" + *row[0] + "\"");
    }

private:
    void flush()
    {
        if (rows_ == 0)
            return;
        session_->Execute("EXECUTE BLOCK AS BEGIN\n" + block_ + "END");
        block_.clear();
        rows_ = 0;
    }

    std::unique_ptr<DatabaseSession> session_;
    int batchRows_;
    std::string block_;
    int rows_ = 0;
};
} // namespace

DemoCounts GrowDemoFirebird(const FirebirdConnection &connection, const DemoSize &size, int batchRows)
{
    CheckDemoSize(size);
    FirebirdSink sink(connection, batchRows);
    return GenerateDemoData(sink, size);
}
