#include "import/efd_report.h"

#include "data/sqlite/session.h"
#include "report/layout.h"
#include "report/report_output.h"
#include "report/reportdef.h"
#include "rtl/files.h"

#include <ctime>
#include <filesystem>
#include <unistd.h>

namespace {

std::string quoted(const std::string &s)
{
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

std::string brDate(const std::string &iso)
{
    return iso.size() < 10 ? iso : iso.substr(8, 2) + "/" + iso.substr(5, 2) + "/" + iso.substr(0, 4);
}

// The findings as a table the definitions read, in a file removed after the run.
class Findings {
public:
    explicit Findings(const EfdCheck &check)
    {
        path_ = (std::filesystem::temp_directory_path() / ("fis-efd-check-" + std::to_string(::getpid()) + "-" +
                                                           std::to_string(reinterpret_cast<std::uintptr_t>(this)) +
                                                           ".sqlite"))
                    .string();
        std::filesystem::remove(path_);
        session_ = OpenSqliteSession(path_, false);
        session_->Execute("CREATE TABLE EFDSECAO (NRORDEM INTEGER, DSSECAO VARCHAR(20))");
        session_->Execute("CREATE TABLE EFDACHADO (NRORDEM INTEGER, DSSECAO VARCHAR(20), IDGRAVIDADE VARCHAR(5), "
                          "CDREGISTRO VARCHAR(4), NRLINHA VARCHAR(12), NRDOCUMENTO VARCHAR(12), CHNFE VARCHAR(44), "
                          "CDCFOP VARCHAR(4), DSCAMPO VARCHAR(60), VLEFD VARCHAR(60), VLLIVROS VARCHAR(120), "
                          "VLDIFERENCA NUMERIC(15,2))");
        int n = 0;
        for (const char *s : kEfdSections)
            session_->Execute("INSERT INTO EFDSECAO VALUES (" + std::to_string(++n) + ", " + quoted(s) + ")");
        session_->Execute("BEGIN");
        n = 0;
        for (const EfdFinding &f : check.findings)
            session_->Execute("INSERT INTO EFDACHADO VALUES (" + std::to_string(++n) + ", " + quoted(f.section) + ", " +
                              quoted(f.severity) + ", " + quoted(f.record) + ", " +
                              quoted(f.line ? std::to_string(f.line) : "") + ", " +
                              quoted(f.document ? std::to_string(f.document) : "") + ", " + quoted(f.key) + ", " +
                              quoted(f.cfop) + ", " + quoted(f.field) + ", " + quoted(f.inFile) + ", " +
                              quoted(f.inBooks) + ", " +
                              (f.difference ? DecimalText(*f.difference, 2) : std::string("NULL")) + ")");
        session_->Execute("CREATE TABLE EFDAPURACAO (NRORDEM INTEGER, DSCAMPO VARCHAR(60), VLEFD NUMERIC(15,2), "
                          "VLLIVROS NUMERIC(15,2))");
        if (check.debits)
            session_->Execute("INSERT INTO EFDAPURACAO VALUES (1, '02 VL_TOT_DEBITOS (débitos)', " +
                              DecimalText(check.debits->first, 2) + ", " + DecimalText(check.debits->second, 2) + ")");
        if (check.credits)
            session_->Execute("INSERT INTO EFDAPURACAO VALUES (2, '06 VL_TOT_CREDITOS (créditos)', " +
                              DecimalText(check.credits->first, 2) + ", " + DecimalText(check.credits->second, 2) + ")");
        session_->Execute("CREATE TABLE EFDAJUSTE (NRORDEM INTEGER, NRLINHA VARCHAR(12), CDAJUSTE VARCHAR(10), "
                          "DSAJUSTE VARCHAR(500), VLAJUSTE NUMERIC(15,2))");
        n = 0;
        for (const EfdCheckAdjustment &a : check.adjustments)
            session_->Execute("INSERT INTO EFDAJUSTE VALUES (" + std::to_string(++n) + ", " +
                              quoted(std::to_string(a.line)) + ", " + quoted(a.code) + ", " + quoted(a.description) +
                              ", " + DecimalText(a.value, 2) + ")");
        session_->Execute("COMMIT");
    }
    ~Findings()
    {
        session_.reset();
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    DatabaseSession &Session() { return *session_; }

private:
    std::string path_;
    std::unique_ptr<DatabaseSession> session_;
};

ReportJob jobOf(const ReportDefinition &def, const EfdCheck &check)
{
    ReportJob job;
    job.layout = ParseLayout(def.layoutJson);
    job.statement = def.StatementFor("sqlite");
    for (const ReportSection &s : def.sections) {
        ReportJobSection part;
        part.title = s.title;
        part.layout = ParseLayout(s.layoutJson);
        part.statement = s.StatementFor("sqlite");
        job.sections.push_back(std::move(part));
    }
    const EfdIdentity &id = check.identity;
    job.heading.title = def.title;
    job.heading.code = def.code;
    char now[32];
    const std::time_t t = std::time(nullptr);
    std::strftime(now, sizeof now, "%d/%m/%Y %H:%M", std::localtime(&t));
    job.heading.generatedAt = now;
    const std::string company =
        (check.company.empty() ? std::string() : check.company + " – ") + (check.companyName.empty() ? id.name : check.companyName);
    job.heading.header = {{"Empresa", company}, {"Período", brDate(id.from) + " a " + brDate(id.to)}};
    char layout[8];
    std::snprintf(layout, sizeof layout, "%03d", id.layout);
    job.heading.parameters = {{"Arquivo", std::filesystem::path(check.file).filename().string()},
                              {"Empresa", company},
                              {"CNPJ / IE", id.cnpj + " / " + id.registration + " " + id.state},
                              {"Período", brDate(id.from) + " a " + brDate(id.to)},
                              {"Leiaute", layout},
                              {"Finalidade", id.finality == "1" ? "Substituta" : "Original"},
                              {"Linhas", std::to_string(check.totals.closingLine)}};
    return job;
}

} // namespace

std::vector<std::string> WriteEfdCheckReport(const EfdCheck &check, const std::string &reportsDir,
                                             const std::string &outDir, const std::vector<std::string> &formats)
{
    const std::string dir = reportsDir + "/EFD/";
    const ReportDefinition sections =
        ParseReportDefinition(ReadWholeFile(dir + "010-conferencia-efd.json"), dir + "010-conferencia-efd.json");
    const ReportDefinition list = ParseReportDefinition(ReadWholeFile(dir + "020-conferencia-efd-divergencias.json"),
                                                        dir + "020-conferencia-efd-divergencias.json");
    std::filesystem::create_directories(outDir);
    const std::string stem =
        (std::filesystem::path(outDir) / (std::filesystem::path(check.file).stem().string() + "-conferencia")).string();
    std::vector<ReportOutput> whole, rows;
    std::vector<std::string> paths;
    for (const std::string &f : formats) {
        (f == "csv" ? rows : whole).push_back({f, stem + "." + f});
        paths.push_back(stem + "." + f);
    }
    Findings findings(check);
    if (!whole.empty())
        WriteReport(&findings.Session(), jobOf(sections, check), whole, nullptr);
    if (!rows.empty())
        WriteReport(&findings.Session(), jobOf(list, check), rows, nullptr);
    return paths;
}
