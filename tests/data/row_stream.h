#pragma once
// The streaming read checked against the whole-result read on any session:
// the same columns and rows, a receiver that stops early stops the statement,
// and one that raises leaves the session usable.
#include "data/session.h"

#include <gtest/gtest.h>

#include <stdexcept>

struct RowCollector : RowReceiver {
    long stopAfter = -1;  // rows to take; 0 stops at the columns; -1 takes all
    bool raise = false;   // raises on the first row instead
    std::vector<std::string> columns;
    std::vector<std::vector<std::optional<std::string>>> rows;

    bool Columns(const std::vector<std::string> &names) override
    {
        columns = names;
        return stopAfter != 0;
    }
    bool Row(const std::vector<std::optional<std::string>> &cells) override
    {
        if (raise)
            throw std::runtime_error("stop");
        rows.push_back(cells);
        return stopAfter < 0 || static_cast<long>(rows.size()) < stopAfter;
    }
};

// `sql` must give at least three rows.
inline void CheckRowStreaming(DatabaseSession &db, const std::string &sql, const NamedValues &params)
{
    const ResultSet whole = db.Query(sql, params);
    ASSERT_GE(whole.rows.size(), 3u);
    const struct {
        const char *what;
        long stopAfter;
        std::size_t rows;
    } cases[] = {
        {"every row", -1, whole.rows.size()},
        {"described only", 0, 0},
        {"two rows then stop", 2, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RowCollector collector;
        collector.stopAfter = c.stopAfter;
        db.QueryRows(sql, params, collector);
        EXPECT_EQ(collector.columns, whole.columns);
        ASSERT_EQ(collector.rows.size(), c.rows);
        for (std::size_t i = 0; i < c.rows; ++i)
            EXPECT_EQ(collector.rows[i], whole.rows[i]) << "row " << i;
    }
    RowCollector failing;
    failing.raise = true;
    EXPECT_THROW(db.QueryRows(sql, params, failing), std::runtime_error);
    EXPECT_EQ(db.Query(sql, params).rows, whole.rows);  // the session goes on
}
