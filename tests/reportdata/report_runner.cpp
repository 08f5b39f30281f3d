#include "report_runner.h"

#include "data/params.h"
#include "host/hostconfig.h"
#include "rtl/datetime.h"
#include "rtl/files.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

ReportDefinition LoadReport(const std::string &file)
{
    const std::string path = DefaultReportsDir() + "/FIS028/" + file;
    return ParseReportDefinition(ReadWholeFile(path), path);
}

namespace {
Variant date(const std::string &iso)
{
    return Variant(EncodeDate(std::atoi(iso.substr(0, 4).c_str()), std::atoi(iso.substr(5, 2).c_str()),
                              std::atoi(iso.substr(8, 2).c_str())));
}
std::string flagFor(const std::string &value) { return value.empty() ? "T" : ""; }

Variant screenValue(const std::string &name, const ReportInputs &in)
{
    const std::string side = in.side == 'A' ? "" : std::string(1, in.side);
    if (name == "P_CDEMPRESA") return in.company;
    if (name == "P_DTINICIAL") return date(in.from);
    if (name == "P_DTFINAL") return date(in.to);
    if (name == "P_CDIMPOSTO") return in.tax;
    if (name == "P_IDENTRSAIDOP") return side;
    if (name == "P_TIDENTRSAIDOP") return in.side == 'A' ? "T" : "";
    if (name == "P_CDCFOP") return in.cfop;
    if (name == "P_TCDCFOP") return flagFor(in.cfop);
    if (name == "P_CDINSCESTA") return in.registration;
    if (name == "P_TCDINSCESTA") return flagFor(in.registration);
    if (name == "P_CDINSCMUNI") return in.municipal;
    if (name == "P_TCDINSCMUNI") return flagFor(in.municipal);
    if (name == "P_NRNOTAFISC") return in.number;
    if (name == "P_PRODUTOINI") return in.productFrom;
    if (name == "P_PRODUTOFIN") return in.productTo;
    if (name == "P_CDSERIE") return in.series;
    if (name == "P_CDFILIAL") return in.branch;
    if (name == "P_CDTIPOOPER") return in.operationTypes;
    if (name == "P_TCDTIPOOPER") return flagFor(in.operationTypes);
    if (name == "P_CDMODDOCFISC") return in.models;
    if (name == "P_TCDMODDOCFISC") return flagFor(in.models);
    throw std::runtime_error("the screen fills no parameter " + name);
}

double parse(const std::string &text)
{
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end)
        throw std::runtime_error("not a number: '" + text + "'");
    return v;
}

std::string shown(const std::optional<std::string> &v) { return v ? "'" + *v + "'" : "NULL"; }
} // namespace

NamedValues ScreenParameters(const std::string &sql, const ReportInputs &in)
{
    TParams params;
    params.ParseSQL(sql);
    NamedValues values;
    for (int i = 0; i < params.Count(); ++i)
        values.emplace_back(params.Items(i)->Name, screenValue(params.Items(i)->Name, in));
    return values;
}

ResultSet RunReport(DatabaseSession &db, const DbSetup &setup, const ReportDefinition &report,
                    const ReportInputs &in)
{
    const std::string &sql = report.StatementFor(setup.dialect);
    return db.Query(sql, ScreenParameters(sql, in));
}

ResultSet RunSection(DatabaseSession &db, const DbSetup &setup, const ReportSection &section, const ReportInputs &in)
{
    const std::string &sql = section.StatementFor(setup.dialect);
    return db.Query(sql, ScreenParameters(sql, in));
}

std::string CompareRows(const ResultSet &got, const std::vector<std::string> &columns,
                        const std::vector<ModelRow> &want)
{
    if (got.columns != columns) {
        std::string names;
        for (const auto &c : got.columns)
            names += c + " ";
        return "columns: " + names;
    }
    if (got.rows.size() != want.size())
        return std::to_string(got.rows.size()) + " rows, expected " + std::to_string(want.size());
    for (std::size_t r = 0; r < want.size(); ++r) {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const auto &cell = got.rows[r][c];
            const Cell &w = want[r][c];
            const std::string where = "row " + std::to_string(r + 1) + " " + columns[c] + ": ";
            if (w.kind == Cell::Kind::Text) {
                if (cell != w.text)
                    return where + shown(cell) + ", expected " + shown(w.text);
                continue;
            }
            if (!cell)
                return where + "NULL, expected a number";
            const double scale = std::pow(10.0, w.decimals);
            const double v = parse(*cell) * scale;
            // Rounded by the statement, not only close: a float sum left
            // unrounded shows here.
            if (std::fabs(v - std::round(v)) > 1e-6 || std::llround(v) != w.scaled)
                return where + *cell + ", expected " + std::to_string(static_cast<double>(w.scaled) / scale);
        }
    }
    return {};
}

long long SumColumn(const ResultSet &rows, const std::string &column, int decimals, const std::string &keyColumn,
                    const std::string &key)
{
    std::size_t c = 0, k = 0;
    for (std::size_t i = 0; i < rows.columns.size(); ++i) {
        if (rows.columns[i] == column)
            c = i;
        if (rows.columns[i] == keyColumn)
            k = i;
    }
    long long sum = 0;
    for (const auto &row : rows.rows)
        if (keyColumn.empty() || row[k] == key)
            sum += std::llround(parse(row[c].value_or("0")) * std::pow(10.0, decimals));
    return sum;
}
