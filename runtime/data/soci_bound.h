#pragma once
// A writer's statement prepared once through SOCI and bound to values it
// holds, so that each later run only executes. Shared by the server engines'
// writers; the markers are numbered in each engine's own spelling.
#include "data/dberrors.h"
#include "data/writer.h"

#include <soci/soci.h>

#include <memory>
#include <string>
#include <vector>

struct SociBoundStatement {
    std::string sql;  // with the engine's numbered markers
    std::vector<std::string> values;
    std::vector<soci::indicator> nulls;
    std::unique_ptr<soci::statement> statement;
    bool spoilt = false;  // failed and could not be cleaned up: redone before the next run

    // `text` with each '?' replaced by `marker` and its number (":p1", "$1").
    void Number(const std::string &text, const char *marker)
    {
        sql.clear();
        std::size_t count = 0;
        for (char c : text) {
            if (c == '?')
                sql += marker + std::to_string(++count);
            else
                sql += c;
        }
        values.resize(count);
        nulls.resize(count);
    }
    // Raises EDatabaseError when the count differs from the markers'.
    void Hold(const DatabaseWriter::Values &row)
    {
        if (row.size() != values.size())
            throw EDatabaseError("número de valores diferente do de marcadores em '" + sql + "'");
        for (std::size_t i = 0; i < row.size(); ++i) {
            values[i] = row[i].value_or("");
            nulls[i] = row[i] ? soci::i_ok : soci::i_null;
        }
    }
    // Prepared and bound on its first run.
    void Execute(soci::session &session)
    {
        if (spoilt) {
            statement->clean_up();
            statement.reset();
            spoilt = false;
        }
        if (!statement) {
            statement = std::make_unique<soci::statement>(session);
            for (std::size_t i = 0; i < values.size(); ++i)
                statement->exchange(soci::use(values[i], nulls[i]));
            statement->alloc();
            statement->prepare(sql);
            statement->define_and_bind();
        }
        try {
            statement->execute(true);
        } catch (...) {
            // SOCI drops a statement's bindings when it fails: the next run
            // (a conflict's redo) prepares it again. One whose connection is
            // gone cannot be cleaned up, and SOCI's destructor would throw
            // out of it: it stays for the writer's close to free.
            try {
                statement->clean_up();
                statement.reset();
            } catch (...) {
                spoilt = true;
            }
            throw;
        }
    }
};
