// Generated files imported, then the CFOP summary of their year against
// figures worked out from the files alone (read here with pugixml, not
// through the import's reader): per side and CFOP the Valor Contábil, the
// ICMS base and tax and the ST; in all, the documents' vNF, cancelled ones
// excluded.
#include "import/importer.h"
#include "import_target.h"
#include "nfe_files.h"
#include "report_runner.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>

namespace {

long long cents(pugi::xml_node parent, const char *name)
{
    const char *text = parent.child_value(name);
    return *text ? std::llround(std::stod(text) * 100) : 0;
}

struct Figures {
    long long value = 0, base = 0, tax = 0, st = 0;
};

// The entry CFOP of a received document, as the shipped conversion table
// and the default rule give it.
std::string entryCfop(const std::string &exit)
{
    static const std::map<std::string, std::string> table = {{"5401", "1403"}, {"5403", "1403"}, {"5405", "1403"},
                                                             {"6401", "2403"}, {"6403", "2403"}, {"6404", "2403"}};
    if (auto it = table.find(exit); it != table.end())
        return it->second;
    return std::string(1, static_cast<char>(exit[0] - 4)) + exit.substr(1);
}

class RoundTrip : public ::testing::TestWithParam<const ImportEngine *> {};

TEST_P(RoundTrip, TheCfopSummaryOfImportedFilesEqualsTheFilesOwnFigures)
{
    if (auto why = ImportTarget::Unavailable(*GetParam()); !why.empty())
        GTEST_SKIP() << why;
    ImportTarget target(*GetParam());
    NfeFileOptions files;
    files.dir = target.Dir() + "/nfe";
    files.count = 400;
    files.year = 2027;
    const NfeFileCounts written = WriteNfeFiles(files);
    ASSERT_GT(written.cancellations, 0);

    auto db = target.Open();
    const ImportReport report = ImportFiles(*db, {files.dir});
    ASSERT_TRUE(report.refused.empty()) << report.Text();
    ASSERT_EQ(report.imported, written.documents);
    // The generator's imports whose total leaves out the II: a line of adjustment each.
    ASSERT_FALSE(report.importTaxAdjusted.empty());
    EXPECT_TRUE(report.differences.empty()) << report.Text();

    // The files' own figures.
    std::set<std::string> cancelled;
    std::vector<std::filesystem::path> paths;
    for (const auto &e : std::filesystem::recursive_directory_iterator(files.dir))
        if (e.is_regular_file())
            paths.push_back(e.path());
    for (const auto &p : paths) {
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_file(p.c_str()));
        if (auto ev = doc.child("procEventoNFe"))
            if (std::string(ev.child("evento").child("infEvento").child_value("tpEvento")) == "110111")
                cancelled.insert(ev.child("evento").child("infEvento").child_value("chNFe"));
    }
    std::map<std::string, Figures> want;  // side + CFOP
    long long total = 0;
    for (const auto &p : paths) {
        pugi::xml_document doc;
        doc.load_file(p.c_str());
        pugi::xml_node nfe = doc.child("nfeProc") ? doc.child("nfeProc").child("NFe") : doc.child("NFe");
        if (!nfe)
            continue;
        pugi::xml_node inf = nfe.child("infNFe");
        if (cancelled.count(std::string(inf.attribute("Id").value()).substr(3)))
            continue;
        const bool issued = std::string(inf.child("emit").child_value("IE")) == files.registration;
        const std::string side = issued && std::string(inf.child("ide").child_value("tpNF")) == "1" ? "S" : "E";
        const long long vNF = cents(inf.child("total").child("ICMSTot"), "vNF");
        total += vNF;
        std::vector<std::pair<std::string, Figures>> items;
        long long sum = 0;
        for (pugi::xml_node det : inf.children("det")) {
            pugi::xml_node prod = det.child("prod"), tax = det.child("imposto");
            pugi::xml_node icms = tax.child("ICMS").first_child();
            const std::string cfop = issued ? prod.child_value("CFOP") : entryCfop(prod.child_value("CFOP"));
            Figures f;
            f.st = cents(icms, "vICMSST");
            f.value = cents(prod, "vProd") - cents(prod, "vDesc") + cents(prod, "vFrete") + cents(prod, "vSeg") +
                      cents(prod, "vOutro") + cents(tax.child("IPI").child("IPITrib"), "vIPI") + f.st +
                      cents(icms, "vFCPST") + cents(tax.child("II"), "vII");
            const bool credit = !(side == "E" && (cfop == "1403" || cfop == "2403"));
            if (credit) {
                f.base = cents(icms, "vBC");
                f.tax = cents(icms, "vICMS");
            }
            sum += f.value;
            items.emplace_back(side + cfop, f);
        }
        if (sum != vNF) {
            // The generator keeps a document whose total differs on one CFOP.
            for (const auto &[key, f] : items)
                ASSERT_EQ(key, items[0].first) << p;
            items[0].second.value += vNF - sum;
        }
        for (const auto &[key, f] : items) {
            Figures &w = want[key];
            w.value += f.value;
            w.base += f.base;
            w.tax += f.tax;
            w.st += f.st;
        }
    }

    // The report's own statement.
    ReportInputs in;
    in.company = "01";
    in.from = "2027-01-01";
    in.to = "2027-12-31";
    in.side = 'A';
    const DbSetup setup{GetParam()->label, *GetParam(), GetParam()->engine.defaultDialect};
    auto session = target.Reports();
    const ResultSet rows = RunReport(*session, setup, LoadReport(kCfopSummary), in);
    auto column = [&](const char *name) {
        for (std::size_t i = 0; i < rows.columns.size(); ++i)
            if (rows.columns[i] == name)
                return i;
        ADD_FAILURE() << "no column " << name;
        return std::size_t(0);
    };
    const std::size_t side = column("IDENTRSAIDA"), cfop = column("CDCFOP"), value = column("VLCONTABIL"),
                      base = column("VLBASECALC"), tax = column("VLIMPOSTO"), st = column("VLIMPOSTOST");
    auto amount = [](const std::optional<std::string> &cell) { return std::llround(std::stod(cell.value_or("0")) * 100); };
    std::map<std::string, Figures> got;
    long long reported = 0;
    for (const auto &row : rows.rows) {
        Figures &g = got[*row[side] + *row[cfop]];
        g.value = amount(row[value]);
        g.base = amount(row[base]);
        g.tax = amount(row[tax]);
        g.st = amount(row[st]);
        reported += g.value;
    }
    ASSERT_EQ(got.size(), want.size());
    for (const auto &[key, w] : want) {
        const Figures &g = got[key];
        EXPECT_EQ(g.value, w.value) << key;
        EXPECT_EQ(g.base, w.base) << key;
        EXPECT_EQ(g.tax, w.tax) << key;
        EXPECT_EQ(g.st, w.st) << key;
    }
    EXPECT_EQ(reported, total);
}

INSTANTIATE_TEST_SUITE_P(Engines, RoundTrip, ::testing::Values(&kImportSqlite, &kImportFirebird, &kImportPostgresql),
                         [](const auto &info) { return std::string(info.param->label); });

} // namespace
