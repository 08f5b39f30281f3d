#pragma once
// The SQL dialects a statement may have its own variant for, each with its
// name as report files, query components and the `dialect` setting spell it.
// Everything that turns a name into a dialect reads this list, so a new
// dialect is its enumerator and its row.
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

enum class SqlDialect { Oracle, MSSQL, InterBase };

struct SqlDialectName {
    SqlDialect dialect;
    const char *name;
};

// In enumerator order: a dialect's row is at its own index.
inline constexpr std::array kSqlDialects{
    SqlDialectName{SqlDialect::Oracle, "oracle"},
    SqlDialectName{SqlDialect::MSSQL, "mssql"},
    SqlDialectName{SqlDialect::InterBase, "interbase"},
};

constexpr std::size_t SqlDialectIndex(SqlDialect dialect) { return static_cast<std::size_t>(dialect); }

static_assert(
    [] {
        for (std::size_t i = 0; i < kSqlDialects.size(); ++i)
            if (SqlDialectIndex(kSqlDialects[i].dialect) != i)
                return false;
        return true;
    }(),
    "kSqlDialects must list the dialects in enumerator order");

constexpr const char *SqlDialectNameOf(SqlDialect dialect) { return kSqlDialects[SqlDialectIndex(dialect)].name; }

// Nothing when `name` is no dialect's (names are compared as written).
constexpr std::optional<SqlDialect> SqlDialectNamed(std::string_view name)
{
    for (const SqlDialectName &d : kSqlDialects)
        if (name == d.name)
            return d.dialect;
    return std::nullopt;
}

// Every dialect's name, in the list's order.
constexpr std::array<const char *, kSqlDialects.size()> SqlDialectNames()
{
    std::array<const char *, kSqlDialects.size()> names{};
    for (std::size_t i = 0; i < kSqlDialects.size(); ++i)
        names[i] = kSqlDialects[i].name;
    return names;
}
