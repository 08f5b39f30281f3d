#pragma once
// Running a report's own statement as the screen does: the definition file's
// variant for the dialect, every parameter it declares filled from the
// fields' contents (an empty field as the empty text beside an all-flag "T").
#include "fiscal_model.h"

#include "../support/engines.h"
#include "data/session.h"
#include "report/reportdef.h"

#include <string>
#include <vector>

// One engine and the statement variant the host runs on it.
struct DbSetup {
    const char *label;
    const TestEngine &engine;
    const char *dialect;
};
inline const DbSetup kSqliteOracle{"SqliteOracle", kTestSqlite, "oracle"};
inline const DbSetup kSqliteInterBase{"SqliteInterBase", kTestSqlite, "interbase"};
inline const DbSetup kFirebirdInterBase{"FirebirdInterBase", kTestFirebird, "interbase"};
inline const DbSetup kPostgresqlOracle{"PostgresqlOracle", kTestPostgresql, "oracle"};

// The reports' files in reports/FIS028, in the catalogue's order.
inline const char *const kCfopSummary = "010-resumo-cfop.json";
inline const char *const kCfopProducts = "020-resumo-cfop-produtos.json";
inline const char *const kInvoiceList = "030-relacao-notas.json";
inline const char *const kStByProduct = "040-relacao-notas-icms-st.json";
inline const char *const kStRefund = "050-ressarcimento-icms-st.json";
inline const char *const kStateMap = "060-mapa-fiscal-ie.json";
inline const char *const kCfopCst = "070-resumo-cfop-cst-aliquota.json";
inline const char *const kApuracao = "080-apuracao-icms.json";

ReportDefinition LoadReport(const std::string &file);

// The value the screen gives a parameter it fills (Variant of a text or a date).
NamedValues ScreenParameters(const std::string &sql, const ReportInputs &in);

ResultSet RunReport(DatabaseSession &db, const DbSetup &setup, const ReportDefinition &report,
                    const ReportInputs &in);
// The statement of one of the report's sections, with the values it declares.
ResultSet RunSection(DatabaseSession &db, const DbSetup &setup, const ReportSection &section, const ReportInputs &in);

// Column names, then every row cell by cell; amounts to the cent (or to their
// own decimals) and rounded by the statement. Returns the first difference,
// empty when they agree.
std::string CompareRows(const ResultSet &got, const std::vector<std::string> &columns,
                        const std::vector<ModelRow> &want);

// Sum of one numeric column over the rows whose `keyColumn` equals `key`
// (every row when keyColumn is empty), in units of 10^-decimals.
long long SumColumn(const ResultSet &rows, const std::string &column, int decimals,
                    const std::string &keyColumn = {}, const std::string &key = {});
