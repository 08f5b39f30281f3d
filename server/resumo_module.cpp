#include "resumo_module.h"

#include "data/clientdataset.h"
#include "net/appserver_protocol.h"
#include "rtl/utf8.h"

#include <algorithm>

namespace {
// A value longer than its column can never be equal to it. Such a filter is
// answered without asking the database, which on Firebird would reject the
// over-long parameter instead of finding nothing.
bool fits(const std::string &value, std::size_t size) { return utf8::length(value) <= size; }

ResultSet named(ResultSet rows, std::vector<std::string> columns)
{
    // Engines differ in how they spell result columns: the packet names are fixed.
    rows.columns = std::move(columns);
    return rows;
}

const std::vector<std::string> kSeriesColumns = {"CDSERIE", "DSSERIE", "TIPO"};
const std::vector<int> kSeriesSizes = {5, 20, 1};
const std::vector<std::string> kSubstituteColumns = {"CDEMPRESA", "CDINSCESTAST", "CDINSCESTA",
                                                     "NRINSJURIEST", "SGESTADO"};
const std::vector<int> kSubstituteSizes = {2, 16, 16, 20, 2};

void expectArgs(const std::string &method, const std::vector<std::string> &args, std::size_t count)
{
    if (args.size() != count)
        throw ECallError("Método '" + method + "' espera " + std::to_string(count) +
                         " argumento(s), recebeu " + std::to_string(args.size()) + ".");
}
} // namespace

ResultSet SeriesRows(DatabaseSession &db, const std::string &company, const std::string &stateRegistration,
                     const std::string &municipalRegistration, const std::string &series)
{
    // Filters are added only for informed values, so a NULL registration is
    // listed when unfiltered and never matches a filter.
    std::string sql;
    NamedValues params;
    if (fits(series, 5)) {
        sql = "SELECT CDSERIEENTR, DSSERIEENTR, 'E' FROM SERIEENTR";
        if (!series.empty()) {
            sql += " WHERE CDSERIEENTR = :SERIEENTR";
            params.emplace_back("SERIEENTR", series);
        }
    }
    if (!company.empty() && fits(company, 2) && fits(stateRegistration, 16) &&
        fits(municipalRegistration, 16) && fits(series, 5)) {
        if (!sql.empty())
            sql += " UNION ALL ";
        sql += "SELECT CDSERIE, DSSERIE, 'S' FROM SERIENF WHERE CDEMPRESA = :EMPRESA";
        params.emplace_back("EMPRESA", company);
        if (!stateRegistration.empty()) {
            sql += " AND CDINSCESTA = :INSCESTA";
            params.emplace_back("INSCESTA", stateRegistration);
        }
        if (!municipalRegistration.empty()) {
            sql += " AND CDINSCMUNI = :INSCMUNI";
            params.emplace_back("INSCMUNI", municipalRegistration);
        }
        if (!series.empty()) {
            sql += " AND CDSERIE = :SERIENF";
            params.emplace_back("SERIENF", series);
        }
    }
    if (sql.empty())
        return named({}, kSeriesColumns);
    ResultSet rows = named(db.Query(sql, params), kSeriesColumns);

    // Ordering and one row per code and kind are done here rather than with
    // GROUP BY / ORDER BY, which cost the database temporary tables and
    // doubled the time of the call. Byte order is the order of SQLite's
    // BINARY and Firebird's UCS_BASIC collations. A series registered under
    // several registrations keeps its smallest non-NULL description, as
    // MIN(DSSERIE) would.
    auto key = [](const std::vector<std::optional<std::string>> &r, std::size_t i) -> const std::string & {
        static const std::string none;
        return r[i] ? *r[i] : none;
    };
    std::sort(rows.rows.begin(), rows.rows.end(), [&](const auto &a, const auto &b) {
        if (int c = key(a, 0).compare(key(b, 0)))
            return c < 0;
        if (int c = key(a, 2).compare(key(b, 2)))
            return c < 0;
        if (a[1].has_value() != b[1].has_value())
            return a[1].has_value();  // NULL descriptions last
        return key(a, 1) < key(b, 1);
    });
    rows.rows.erase(std::unique(rows.rows.begin(), rows.rows.end(),
                                [&](const auto &a, const auto &b) {
                                    return key(a, 0) == key(b, 0) && key(a, 2) == key(b, 2);
                                }),
                    rows.rows.end());
    return rows;
}

ResultSet SubstituteRegistrationRows(DatabaseSession &db, const std::string &registration,
                                     const std::string &company, const std::string &allFlag)
{
    const bool all = allFlag == "T";
    if (company.empty() || !fits(company, 2) ||
        (!all && (registration.empty() || !fits(registration, 16))))
        return named({}, kSubstituteColumns);
    std::string sql =
        "SELECT ST.CDEMPRESA, ST.CDINSCESTAST, ST.CDINSCESTA, IE.NRINSJURIEST, ST.SGESTADO"
        " FROM INSCRESTADST ST"
        " LEFT JOIN INSCRESTAD IE ON IE.CDEMPRESA = ST.CDEMPRESA AND IE.CDINSCESTA = ST.CDINSCESTA"
        " WHERE ST.CDEMPRESA = :EMPRESA";
    NamedValues params = {{"EMPRESA", company}};
    if (!all) {
        sql += " AND ST.CDINSCESTAST = :INSCESTAST";
        params.emplace_back("INSCESTAST", registration);
    }
    sql += " ORDER BY ST.CDINSCESTAST";
    return named(db.Query(sql, params), kSubstituteColumns);
}

const char *ResumoModule::Name() { return appserver::kResumoServerName; }

std::string ResumoModule::Call(const std::string &method, const std::vector<std::string> &args,
                               const SessionSource &session)
{
    if (method == "GetSerie") {
        expectArgs(method, args, 4);
        return MakeDataPacket(SeriesRows(session(), args[0], args[1], args[2], args[3]), kSeriesSizes);
    }
    if (method == "getInscEstaSt") {
        expectArgs(method, args, 3);
        return MakeDataPacket(SubstituteRegistrationRows(session(), args[0], args[1], args[2]),
                              kSubstituteSizes);
    }
    if (method == "Ping") {
        // The protocol's own cost, without the database: the benchmark baseline.
        expectArgs(method, args, 0);
        ResultSet pong;
        pong.columns = {"PING"};
        pong.rows.push_back({std::string("PONG")});
        return MakeDataPacket(pong, {4});
    }
    throw ECallError("Método '" + method + "' não existe no servidor " + Name() + ".");
}
