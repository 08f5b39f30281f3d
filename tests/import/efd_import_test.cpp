// The EFD ICMS/IPI file as an import source: what each record becomes in
// the books, what makes a file unreadable (and then nothing of it is
// written), and the round trip books → EFD → books through fisdemogen's
// writer, on every engine the suite reaches.
#include "efd_files.h"
#include "import/importer.h"
#include "import_case.h"
#include "nfe_files.h"
#include "report_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <thread>
#include <unistd.h>
#include <zip.h>

namespace {

// A small file of company 01's March 2027, its counts worked out when built.
struct TestEfd {
    std::vector<std::string> lines{
        "|0000|017|0|01032027|31032027|Empresa Teste Ltda|12345678000195||SP|110042490114|3550308|||A|1|",
        "|0001|0|",
        "|0150|F1|Fornecedor Um Ltda|1058|11222333000181||111222333444|3550308||Rua A|1||Centro|",
        "|0150|C1|Cliente Dois Ltda|1058|22333444000172|||3304557||Rua B|2||Centro|",
        "|0190|UN|Unidade|",
        "|0200|A1|Parafuso sextavado|||UN|00|||||||",
        "|0990|7|",
        "|C001|0|",
        // The company's own sale to another state: analytical lines only.
        "|C100|1|0|C1|55|00|1|501|35270312345678000195550010000005011000005010|05032027|05032027|1500,00|0|0,00|0,00|1500,00|9|0,00|0,00|0,00|800,00|96,00|0,00|0,00|0,00|0,00|0,00|0,00|0,00|",
        "|C190|020|6102|12,00|1000,00|800,00|96,00|0,00|0,00|200,00|0,00||",
        "|C190|060|6405|0,00|500,00|0,00|0,00|0,00|0,00|0,00|0,00||",
        // A purchase with its items.
        "|C100|0|1|F1|55|00|2|7001|35270311222333000181550020000070011000070010|02032027|04032027|1120,00|0|0,00|0,00|1000,00|9|20,00|0,00|0,00|1000,00|180,00|0,00|0,00|100,00|0,00|0,00|0,00|0,00|",
        "|C170|1|A1||10,00000|UN|1000,00|0,00|0|000|1102||1000,00|18,00|180,00|0,00|0,00|0,00|0|50||1000,00|10,00|100,00||||||||||||||0,00|",
        "|C190|000|1102|18,00|1120,00|1000,00|180,00|0,00|0,00|0,00|100,00||",
        "|C197|SP10090718|Estorno de credito|A1|0,00|0,00|5,00|0,00|",
        // A number cancelled.
        "|C100|1|0||55|02|1|502|35270312345678000195550010000005021000005020|||||||||||||||||||||",
        "|C500|0|1|F1|06|00|||123|4567|10032027|12032027|300,00|0,00|300,00|0,00|0,00|0,00|300,00|54,00|0,00|0,00||0,00|0,00||||||||||||||||",
        "|C590|000|1253|18,00|300,00|300,00|54,00|0,00|0,00|0,00||",
        "|C990|0|",
        "|D001|0|",
        "|D100|0|1|F1|57|00|1||88|35270311222333000181570010000000881000000880|15032027|16032027|0||200,00|0,00|1|200,00|200,00|24,00|0,00|||3550308|3304557|",
        "|D190|000|1353|12,00|200,00|200,00|24,00|0,00||",
        "|D990|0|",
        "|E001|0|",
        "|E100|01032027|31032027|",
        "|E110|96,00|5,00|0,00|12,34|258,00|0,00|0,00|0,00|0,00|0,00|0,00|0,00|144,66|0,00|",
        "|E111|SP019999|Estorno de credito de mercadoria deteriorada|12,34|",
        "|E990|0|",
    };

    // The text with the block and file counts right.
    std::string Text() const
    {
        std::vector<std::string> all = lines;
        std::map<char, long> block;
        for (const std::string &l : all)
            ++block[l[1]];
        for (std::string &l : all)
            if (l.size() > 5 && l.compare(2, 3, "990") == 0)
                l = l.substr(0, 6) + std::to_string(block[l[1]]) + "|";
        all.push_back("|9001|0|");
        std::map<std::string, long> count;
        for (const std::string &l : all)
            ++count[l.substr(1, 4)];
        count["9990"] = count["9999"] = 1;
        count["9900"] = static_cast<long>(count.size()) + 1;
        for (const auto &[name, n] : count)
            all.push_back("|9900|" + name + "|" + std::to_string(n) + "|");
        all.push_back("|9990|" + std::to_string(count["9900"] + 3) + "|");
        all.push_back("|9999|" + std::to_string(all.size() + 1) + "|");
        std::string text;
        for (const std::string &l : all)
            text += l + "\r\n";
        return text;
    }
    std::string &Line(const std::string &start)
    {
        for (std::string &l : lines)
            if (l.rfind(start, 0) == 0)
                return l;
        throw std::runtime_error("no line " + start);
    }
};

class EfdImport : public ImportCase {
protected:
    void TearDown() override
    {
        if (db_) {
            // The documents without key and the adjustments are the tests' own (2027).
            for (const char *table : {"IMPOSTOITEMNF", "ITEMNOTAFISC"})
                db_->Execute(std::string("DELETE FROM ") + table + " WHERE CDNOTAFISC IN (SELECT CDNOTAFISC FROM "
                             "NOTAFISCAL WHERE DTENTRSAIDA >= '2027-01-01')");
            db_->Execute("DELETE FROM NOTAFISCAL WHERE DTENTRSAIDA >= '2027-01-01'");
            db_->Execute("DELETE FROM APURACAOAJUSTE WHERE DTMES >= '2027-01-01'");
            if (db_->HasTable("NFEIDENTIDADE"))
                db_->Execute("DELETE FROM NFEIDENTIDADE WHERE DTENTRSAIDA >= '2027-01-01'");
        }
    }
    ImportReport import(const std::string &text)
    {
        return ImportFiles(*db_, {target_->Write("efd.txt", text)});
    }
    long documents2027()
    {
        return std::stol(one("SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM NOTAFISCAL WHERE DTENTRSAIDA >= '2027-01-01'"));
    }
    std::string sum(const std::string &column, const std::string &cfop, const char *tax = "01")
    {
        return one("SELECT CAST(SUM(" + column + ") AS VARCHAR(30)) FROM IMPOSTOITEMNF T JOIN ITEMNOTAFISC I ON "
                   "I.CDNOTAFISC = T.CDNOTAFISC AND I.NRITEM = T.NRITEM JOIN NOTAFISCAL N ON N.CDNOTAFISC = "
                   "I.CDNOTAFISC WHERE N.DTENTRSAIDA >= '2027-01-01' AND I.CDCFOP = ? AND T.CDIMPOSTONFE = ?",
                   {cfop, tax});
    }
};

double number(const std::string &s) { return s.empty() ? 0 : std::stod(s); }

// "1000,00" as the file writes it.
double filed(std::string s)
{
    std::replace(s.begin(), s.end(), ',', '.');
    return std::stod(s);
}

TEST_P(EfdImport, EachDocumentOfTheFileIsBookedForItsCompanyOnce)
{
    const ImportReport first = import(TestEfd().Text());
    ASSERT_TRUE(first.refused.empty()) << first.Text();
    EXPECT_EQ(first.imported, 5);  // two sales and purchases, the cancelled number, energy, transport
    EXPECT_EQ(first.adjustments, 2) << first.Text();
    EXPECT_EQ(documents2027(), 5);

    // Booked on DT_E_S, the side from IND_OPER, the participant from 0150.
    EXPECT_EQ(one("SELECT IDENTRSAIDA || CAST(DTENTRSAIDA AS VARCHAR(10)) || NMPARTICIPANTE || SGUF FROM NOTAFISCAL "
                  "WHERE NRNOTAFISC = 7001 AND DTENTRSAIDA >= '2027-01-01'"),
              "E2027-03-04Fornecedor Um LtdaSP");
    EXPECT_EQ(one("SELECT IDSITUACAO FROM NOTAFISCAL WHERE NRNOTAFISC = 502 AND DTENTRSAIDA >= '2027-01-01'"), "C");
    EXPECT_EQ(one("SELECT SGUF FROM NOTAFISCAL WHERE NRNOTAFISC = 501 AND DTENTRSAIDA >= '2027-01-01'"), "RJ");

    // The ICMS split follows the CST of each analytical line.
    struct Case {
        const char *cfop, *column;
        double want;
    } cases[] = {
        {"6102", "T.VLBASECALC", 800}, {"6102", "T.VLISENTO", 200}, {"6102", "T.VLOUTROS", 0},
        {"6405", "T.VLOUTROS", 500},   {"6405", "T.VLISENTO", 0},   {"1102", "T.VLIMPOSTO", 180},
        {"1253", "T.VLIMPOSTO", 54},   {"1353", "T.VLBASECALC", 200},
    };
    for (const Case &c : cases)
        EXPECT_DOUBLE_EQ(number(sum(c.column, c.cfop)), c.want) << c.cfop << " " << c.column;
    EXPECT_DOUBLE_EQ(number(sum("T.VLIMPOSTO", "1102", "03")), 100);
    // The purchase's freight reaches its Valor Contábil through VL_DOC.
    EXPECT_DOUBLE_EQ(number(one("SELECT CAST(SUM(I.VLCONTABIL) AS VARCHAR(30)) FROM ITEMNOTAFISC I JOIN NOTAFISCAL N "
                                "ON N.CDNOTAFISC = I.CDNOTAFISC WHERE N.NRNOTAFISC = 7001 AND N.DTENTRSAIDA >= "
                                "'2027-01-01'")),
                     1120);
    // The adjustments by their use: E111's fourth character, C197's third.
    EXPECT_EQ(one("SELECT IDTIPO || CDAJUSTE FROM APURACAOAJUSTE WHERE DTMES = '2027-03-01' AND NRAJUSTE = 1"),
              "1SP10090718");
    EXPECT_EQ(one("SELECT IDTIPO || CDAJUSTE FROM APURACAOAJUSTE WHERE DTMES = '2027-03-01' AND NRAJUSTE = 2"),
              "1SP019999");

    const ImportReport again = import(TestEfd().Text());
    EXPECT_EQ(again.imported, 0);
    EXPECT_EQ(again.alreadyPresent, 5);
    EXPECT_EQ(again.adjustments, 0);
    EXPECT_EQ(documents2027(), 5);
}

TEST_P(EfdImport, AFileThatCannotBeReadIsRefusedWithItsPlaceAndWritesNothing)
{
    struct Case {
        const char *what;
        std::function<void(TestEfd &)> change;
        std::string text;  // when set, the file as is
        std::string place, reason;
    } cases[] = {
        {"another company", [](TestEfd &e) { e.lines[0] = "|0000|017|0|01032027|31032027|Outra Ltda|99888777000166||SP|999888777666|3550308|||A|1|"; },
         {}, "linha 1", "nenhuma empresa cadastrada"},
        {"wrong layout", [](TestEfd &e) { e.lines[0].replace(6, 3, "009"); }, {}, "linha 1", "versão do leiaute 009"},
        {"too few fields", [](TestEfd &e) { e.Line("|C590|") = "|C590|000|1253|18,00|300,00|300,00|54,00|0,00|0,00|0,00|"; },
         {}, "linha 18", "C590 COD_OBS"},
        {"not a number", [](TestEfd &e) { e.Line("|D190|") = "|D190|000|1353|12,00|2x0,00|200,00|24,00|0,00||"; }, {}, "linha 22", "valor não numérico"},
        {"line too long", [](TestEfd &e) { e.Line("|0200|") = "|0200|A1|" + std::string(10050, 'x') + "|||UN|00|||||||"; },
         {}, "linha 6", "limite de 10000"},
        {"truncated", nullptr, "", "", "sem o registro 9999"},
    };
    for (Case &c : cases) {
        TestEfd e;
        std::string text;
        if (c.change) {
            c.change(e);
            text = e.Text();
        } else {
            text = e.Text();
            text.resize(text.find("|E001|"));
        }
        const ImportReport r = import(text);
        ASSERT_EQ(r.refused.size(), 1u) << c.what << "\n" << r.Text();
        const std::string said = r.refused[0].file + " [" + r.refused[0].field + "] " + r.refused[0].reason;
        EXPECT_NE(said.find(c.place), std::string::npos) << c.what << ": " << said;
        EXPECT_NE(said.find(c.reason), std::string::npos) << c.what << ": " << said;
        EXPECT_EQ(r.imported, 0) << c.what;
        for (const ImportEntry &entry : r.entries)
            EXPECT_EQ(entry.outcome == ImportOutcome::Imported, false) << c.what << ": " << entry.file;
        EXPECT_EQ(documents2027(), 0) << c.what;
        EXPECT_EQ(one("SELECT CAST(COUNT(*) AS VARCHAR(10)) FROM APURACAOAJUSTE WHERE DTMES >= '2027-01-01'"), "0")
            << c.what;
    }
}

// A line without items is booked as one item: base and tax as filed, the
// rest of its value isentas or outras by its CST (the origin digit dropped),
// IPI and ST in their columns, and the books' identity on every line.
TEST_P(EfdImport, TheIcmsSplitOfALineWithoutItemsFollowsItsCst)
{
    struct Case {
        const char *cst;
        const char *opr, *base, *icms, *stBase, *st, *reduction, *ipi;
        double isentas, outras;
    } cases[] = {
        {"000", "1000,00", "1000,00", "120,00", "0,00", "0,00", "0,00", "0,00", 0, 0},
        {"020", "1000,00", "800,00", "96,00", "0,00", "0,00", "200,00", "0,00", 200, 0},
        {"030", "1100,00", "0,00", "0,00", "1000,00", "100,00", "0,00", "0,00", 1000, 0},
        {"040", "1000,00", "0,00", "0,00", "0,00", "0,00", "0,00", "0,00", 1000, 0},
        {"041", "1000,00", "0,00", "0,00", "0,00", "0,00", "0,00", "0,00", 1000, 0},
        {"140", "1000,00", "0,00", "0,00", "0,00", "0,00", "0,00", "0,00", 1000, 0},
        {"050", "1000,00", "0,00", "0,00", "0,00", "0,00", "0,00", "0,00", 0, 1000},
        {"051", "1000,00", "0,00", "0,00", "0,00", "0,00", "0,00", "0,00", 0, 1000},
        {"060", "1000,00", "0,00", "0,00", "0,00", "0,00", "0,00", "0,00", 0, 1000},
        {"070", "1200,00", "800,00", "96,00", "500,00", "100,00", "300,00", "0,00", 300, 0},
        {"090", "1000,00", "500,00", "60,00", "0,00", "0,00", "0,00", "0,00", 0, 500},
        {"000", "1100,00", "1000,00", "120,00", "0,00", "0,00", "0,00", "100,00", 0, 0},
        {"040", "1100,00", "0,00", "0,00", "0,00", "0,00", "0,00", "100,00", 1000, 0},
    };
    for (const Case &k : cases) {
        const std::string what = std::string(k.cst) + " " + k.opr;
        TestEfd e;
        std::string &sale = e.Line("|C100|1|0|C1|55|00|1|501|");
        sale = "|C100|1|0|C1|55|00|1|501|35270312345678000195550010000005011000005010|05032027|05032027|" +
               std::string(k.opr) + "|0|0,00|0,00|" + k.opr + "|9|0,00|0,00|0,00|" + k.base + "|" + k.icms + "|" +
               k.stBase + "|" + k.st + "|" + k.ipi + "|0,00|0,00|0,00|0,00|";
        e.Line("|C190|020|6102|") = std::string("|C190|") + k.cst + "|6102|12,00|" + k.opr + "|" + k.base + "|" +
                                    k.icms + "|" + k.stBase + "|" + k.st + "|" + k.reduction + "|" + k.ipi + "||";
        e.lines.erase(std::find(e.lines.begin(), e.lines.end(), e.Line("|C190|060|6405|")));
        const ImportReport r = import(e.Text());
        ASSERT_TRUE(r.refused.empty()) << what << "\n" << r.Text();
        EXPECT_DOUBLE_EQ(number(sum("T.VLBASECALC", "6102")), filed(k.base)) << what;
        EXPECT_DOUBLE_EQ(number(sum("T.VLISENTO", "6102")), k.isentas) << what;
        EXPECT_DOUBLE_EQ(number(sum("T.VLOUTROS", "6102")), k.outras) << what;
        const std::string rest = one(
            "SELECT CAST(SUM(I.VLCONTABIL - T.VLBASECALC - T.VLISENTO - T.VLOUTROS - COALESCE(T.VLIMPOSTOST, 0) - "
            "COALESCE(P.VLIMPOSTO, 0)) AS VARCHAR(30)) FROM ITEMNOTAFISC I JOIN NOTAFISCAL N ON N.CDNOTAFISC = "
            "I.CDNOTAFISC JOIN IMPOSTOITEMNF T ON T.CDNOTAFISC = I.CDNOTAFISC AND T.NRITEM = I.NRITEM AND "
            "T.CDIMPOSTONFE = '01' LEFT JOIN IMPOSTOITEMNF P ON P.CDNOTAFISC = I.CDNOTAFISC AND P.NRITEM = I.NRITEM "
            "AND P.CDIMPOSTONFE = '03' WHERE N.DTENTRSAIDA >= '2027-01-01'");
        EXPECT_DOUBLE_EQ(number(rest), 0) << what;
        db_->Execute("DELETE FROM NFECHAVE WHERE CDNOTAFISC IN (SELECT CDNOTAFISC FROM NOTAFISCAL WHERE "
                     "DTENTRSAIDA >= '2027-01-01')");
        TearDown();
    }
}

TEST_P(EfdImport, TheBooksWrittenAsAnEfdAndImportedIntoEmptyBooksGiveTheSameCfopSummary)
{
    NfeFileOptions files;
    files.dir = target_->Dir() + "/nfe";
    files.count = 300;
    files.year = 2027;
    WriteNfeFiles(files);
    const ImportReport nfe = ImportFiles(*db_, {files.dir});
    ASSERT_TRUE(nfe.refused.empty()) << nfe.Text();

    auto summary = [&](ImportTarget &t) {
        ReportInputs in;
        in.company = "01";
        in.from = "2027-03-01";
        in.to = "2027-03-31";
        in.side = 'A';
        auto session = t.Reports();
        const DbSetup setup{GetParam()->label, *GetParam(), GetParam()->engine.defaultDialect};
        const ResultSet rows = RunReport(*session, setup, LoadReport(kCfopSummary), in);
        std::map<std::string, std::string> out;
        for (const auto &row : rows.rows) {
            std::string key, values;
            for (std::size_t i = 0; i < rows.columns.size(); ++i) {
                const std::string &c = rows.columns[i];
                if (c == "IDENTRSAIDA" || c == "CDCFOP")
                    key += row[i].value_or("");
                else if (c == "VLCONTABIL" || c == "VLBASECALC" || c == "VLIMPOSTO" || c == "VLIMPOSTOST")
                    values += c + "=" + std::to_string(std::llround(number(row[i].value_or("0")) * 100)) + " ";
            }
            out[key] = values;
        }
        return out;
    };
    const auto books = summary(*target_);
    ASSERT_GT(books.size(), 3u);

    const std::string efd =
        (std::filesystem::temp_directory_path() / ("fis-efd-" + std::to_string(::getpid()) + ".txt")).string();
    EfdFileOptions o;
    o.path = efd;
    o.registration = "110042490114";
    o.month = "2027-03";
    const EfdFileCounts written = WriteEfdFile(*db_, o);
    ASSERT_GT(written.documents, 10);
    ASSERT_GT(written.items, 0);

    // Empty books of the same companies.
    TearDown();
    db_.reset();
    target_.reset();
    target_ = std::make_unique<ImportTarget>(*GetParam());
    db_ = target_->Open();
    const ImportReport r = ImportFiles(*db_, {efd});
    ASSERT_TRUE(r.refused.empty()) << r.Text();
    EXPECT_EQ(r.imported, written.documents);
    EXPECT_EQ(summary(*target_), books);

    const ImportReport again = ImportFiles(*db_, {efd});
    EXPECT_EQ(again.imported, 0);
    EXPECT_EQ(again.alreadyPresent, written.documents);
    std::filesystem::remove(efd);
}

INSTANTIATE_TEST_SUITE_P(Engines, EfdImport, ::testing::Values(&kImportSqlite, &kImportFirebird),
                         [](const auto &info) { return std::string(info.param->label); });

// A file of documents without an access key only (energy bills, C500): a
// repeat of one is found by its identity alone.
std::string keylessEfd(int documents)
{
    TestEfd e;
    std::vector<std::string> lines;
    for (const std::string &l : e.lines) {
        const std::string record = l.substr(1, 4);
        if (record == "C100" || record == "C170" || record == "C190" || record == "C197" || record == "C500" ||
            record == "C590" || record == "D100" || record == "D190" || record == "E111")
            continue;
        lines.push_back(l);
        if (record == "C001")
            for (int i = 0; i < documents; ++i) {
                lines.push_back("|C500|0|1|F1|06|00|||123|" + std::to_string(4000 + i) +
                                "|10032027|12032027|300,00|0,00|300,00|0,00|0,00|0,00|300,00|54,00|0,00|0,00||0,00|"
                                "0,00||||||||||||||||");
                lines.push_back("|C590|000|1253|18,00|300,00|300,00|54,00|0,00|0,00|0,00||");
            }
        if (record == "D001")
            lines.back() = "|D001|1|";
    }
    e.lines = lines;
    return e.Text();
}

// Two imports of the same file at once, each through its own connection.
// The first to book a document holds it until its file is committed; the
// other waits, fails on the document's identity, and books its file again
// in a new transaction, which finds every document booked.
class EfdSideBySide : public EfdImport {};

TEST_P(EfdSideBySide, TwoImportsOfTheSameKeylessFileAtOnceBookEachDocumentOnce)
{
    constexpr int kDocuments = 8;
    const std::string path = target_->Write("keyless.txt", keylessEfd(kDocuments));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Each waits a moment after its first document for the other to
        // start, so their files overlap however the threads are scheduled.
        std::promise<void> started[2];
        std::shared_future<void> seen[2] = {started[0].get_future().share(), started[1].get_future().share()};
        ImportReport reports[2];
        std::string failures[2];
        auto run = [&](int which) {
            bool first = true;
            ImportOptions options;
            options.progress = [&](const ImportProgress &) {
                if (first) {
                    first = false;
                    started[which].set_value();
                    seen[1 - which].wait_for(std::chrono::milliseconds(300));
                }
                return true;
            };
            try {
                auto db = target_->Open();
                reports[which] = ImportFiles(*db, {path}, options);
            } catch (const std::exception &e) {
                failures[which] = e.what();
            }
            if (first)
                started[which].set_value();
        };
        std::thread one(run, 0), two(run, 1);
        one.join();
        two.join();
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(failures[i], "");
            EXPECT_TRUE(reports[i].refused.empty()) << reports[i].Text();
            EXPECT_EQ(reports[i].imported + reports[i].alreadyPresent, kDocuments) << reports[i].Text();
        }
        EXPECT_EQ(reports[0].imported + reports[1].imported, kDocuments) << reports[0].Text() << reports[1].Text();
        // Counted afresh: the fixture's connection may hold an older snapshot.
        EXPECT_EQ(One(*target_->Open(), "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM NOTAFISCAL WHERE DTENTRSAIDA >= "
                                        "'2027-01-01'"),
                  std::to_string(kDocuments));
        TearDown();
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, EfdSideBySide, ::testing::Values(&kImportSqlite, &kImportFirebird, &kImportPostgresql),
                         [](const auto &info) { return std::string(info.param->label); });

// A writer whose document inserts fail as another import's key would, a
// given number of times: what the booking does with a conflict, on any engine.
class ConflictingWriter : public DatabaseWriter {
public:
    ConflictingWriter(DatabaseWriter &inner, int conflicts, int afterDocuments)
        : inner_(inner), conflicts_(conflicts), after_(afterDocuments)
    {
    }
    const DatabaseEngine &Engine() const override { return inner_.Engine(); }
    int Prepare(const std::string &sql) override
    {
        const int n = inner_.Prepare(sql);
        if (sql.rfind("INSERT INTO NOTAFISCAL ", 0) == 0)
            documentInsert_ = n;
        return n;
    }
    void Run(int statement, const Values &values) override
    {
        if (statement == documentInsert_ && conflicts_ > 0 && ++documents_ > after_) {
            --conflicts_;
            documents_ = 0;
            throw EDatabaseConflict("chave gravada por outra importação");
        }
        inner_.Run(statement, values);
    }
    void RunMany(int statement, const std::vector<Values> &rows) override { inner_.RunMany(statement, rows); }
    std::vector<Values> Select(int statement, const Values &values) override { return inner_.Select(statement, values); }
    bool HasTable(const std::string &name) override { return inner_.HasTable(name); }
    std::string NextKey(const KeySequence &key) override { return inner_.NextKey(key); }
    void Execute(const std::string &sql) override { inner_.Execute(sql); }
    void Begin() override { inner_.Begin(); }
    void Commit() override { inner_.Commit(); }
    void Rollback() override { inner_.Rollback(); }
    void Mark() override { inner_.Mark(); }
    void Release() override { inner_.Release(); }
    void Undo() override { inner_.Undo(); }

private:
    DatabaseWriter &inner_;
    int conflicts_, after_, documents_ = 0, documentInsert_ = -1;
};

// A database made before the identities' table books and finds a document
// without a key as before.
TEST_P(EfdImport, ADatabaseWithoutTheIdentitiesBooksKeylessDocumentsAsBefore)
{
    if (!GetParam()->engine.localFile)
        GTEST_SKIP() << "a server's table belongs to its setup script";
    // Without the table, and with it but without the identities of the
    // documents booked before it was kept: each is found in the day's
    // documents, booked once.
    for (const bool dropped : {false, true}) {
        SCOPED_TRACE(dropped ? "without the table" : "without the identities");
        if (dropped)
            db_->Execute("DROP TABLE NFEIDENTIDADE");
        // The second file holds the first's three documents and one more.
        const int documents = dropped ? 4 : 3;
        const std::string path = target_->Write("keyless-" + std::to_string(documents) + ".txt", keylessEfd(documents));
        const ImportReport first = ImportFiles(*db_, {path});
        EXPECT_TRUE(first.refused.empty()) << first.Text();
        EXPECT_EQ(first.imported, dropped ? 1 : 3);
        if (!dropped)
            db_->Execute("DELETE FROM NFEIDENTIDADE");
        const ImportReport again = ImportFiles(*db_, {path});
        EXPECT_EQ(again.imported, 0);
        EXPECT_EQ(again.alreadyPresent, documents);
        EXPECT_EQ(documents2027(), documents);
    }
}

// A conflict inside a file taken whole drops what the file wrote and books
// it again, up to three times; past them the file is refused whole. Inside
// an archive the entry is found again by its name.
TEST_P(EfdImport, AFileMeetingAConflictIsBookedAgainWholeUpToThreeTimes)
{
    constexpr int kDocuments = 5;
    const std::string text = keylessEfd(kDocuments);
    const std::string plain = target_->Write("keyless.txt", text);
    const std::string archive = target_->Dir() + "/lote.zip";
    {
        const std::string note = "nada fiscal aqui";
        int error = 0;
        zip_t *z = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        zip_file_add(z, "leia-me.txt", zip_source_buffer(z, note.data(), note.size(), 0), ZIP_FL_ENC_UTF_8);
        zip_file_add(z, "efd/keyless.txt", zip_source_buffer(z, text.data(), text.size(), 0), ZIP_FL_ENC_UTF_8);
        ASSERT_EQ(zip_close(z), 0);
    }
    const struct {
        int conflicts;
        bool booked;
    } cases[] = {{1, true}, {3, true}, {4, false}};
    for (const std::string &path : {plain, archive})
        for (const auto &c : cases) {
            SCOPED_TRACE(path + ", " + std::to_string(c.conflicts) + " conflicts");
            ConflictingWriter writer(*db_, c.conflicts, 2);  // the third document meets it
            const ImportReport r = ImportFiles(writer, {path});
            if (c.booked) {
                EXPECT_TRUE(r.refused.empty()) << r.Text();
                EXPECT_EQ(r.imported, kDocuments) << r.Text();
                EXPECT_EQ(documents2027(), kDocuments);
                long listed = 0;
                for (const ImportEntry &e : r.entries)
                    listed += e.outcome == ImportOutcome::Imported;
                EXPECT_EQ(listed, kDocuments) << "the tries before are not listed";
            } else {
                ASSERT_EQ(r.refused.size(), 1u) << r.Text();
                EXPECT_NE(r.refused[0].reason.find("nada do arquivo foi importado"), std::string::npos)
                    << r.refused[0].reason;
                EXPECT_EQ(r.imported, 0);
                EXPECT_EQ(documents2027(), 0);
            }
            EXPECT_EQ(r.unrecognised.size(), path == archive ? 1u : 0u) << r.Text();
            TearDown();
        }
}

} // namespace
