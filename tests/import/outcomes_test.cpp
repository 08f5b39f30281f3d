// What the import makes of documents of every layout and environment, with
// and without authorisation, of conflicting copies, of other companies'
// cancellations and of totals that leave out the II, and how it reports
// each outcome once, on every engine the suite reaches.
#include "import/importer.h"
#include "import_case.h"
#include "nfe_builder.h"

#include <gtest/gtest.h>

namespace {

class Outcomes : public ImportCase {
protected:
    ImportReport import(const std::vector<std::string> &paths, const ImportOptions &options = {})
    {
        return ImportFiles(*db_, paths, options);
    }
    ImportReport importText(const std::string &name, const std::string &xml, const ImportOptions &options = {})
    {
        return import({target_->Write(name, xml)}, options);
    }
    std::string documentOf(const TestNfe &n)
    {
        return one("SELECT CAST(CDNOTAFISC AS VARCHAR(20)) FROM NFECHAVE WHERE CHNFE = ?", {n.Key()});
    }
    std::string bookedOn(const TestNfe &n)
    {
        return one("SELECT CAST(DTENTRSAIDA AS VARCHAR(10)) FROM NOTAFISCAL WHERE CDNOTAFISC = " + documentOf(n))
            .substr(0, 10);
    }
    // A document received by company 02 from a supplier.
    static TestNfe received(int number)
    {
        TestNfe n;
        n.number = number;
        n.issuerTaxId = "11222333000181";
        n.issuerName = "Fornecedor Um Ltda";
        n.issuerIe = "111222333444";
        n.recipientTaxId = "22333444000172";
        n.recipientName = "Outra Empresa S.A.";
        n.recipientIe = "244123456119";
        n.items[0].code = "FORN-1";
        return n;
    }
};

bool has(const std::string &text, const std::string &what) { return text.find(what) != std::string::npos; }

TEST_P(Outcomes, EveryLayoutEnvironmentAndAuthorisationGetsItsOutcome)
{
    struct Row {
        const char *name, *version;
        int environment;
        bool protocol;
        const char *status;
        bool accept;
        bool imported, listedWithoutProtocol;
        const char *reason;  // of the refusal
    } rows[] = {
        {"2.00, production, authorised", "2.00", 1, true, "100", false, true, false, ""},
        {"3.10, production, authorised", "3.10", 1, true, "100", false, true, false, ""},
        {"4.00, production, authorised late", "4.00", 1, true, "150", false, true, false, ""},
        {"3.10, production, bare", "3.10", 1, false, "", false, true, true, ""},
        {"4.00, homologation", "4.00", 2, true, "100", false, false, false,
         "emitida em ambiente de homologação, sem valor fiscal"},
        {"3.10, homologation, bare", "3.10", 2, false, "", false, false, false, "sem valor fiscal"},
        {"2.00, homologation accepted for a trial", "2.00", 2, true, "100", true, true, false, ""},
        {"4.00, denied", "4.00", 1, true, "302", false, false, false, "situação 302"},
        {"3.10, denied even when trials are accepted", "3.10", 2, true, "110", true, false, false, "situação 110"},
    };
    int number = 0;
    for (const Row &r : rows) {
        TestNfe n;
        n.number = ++number;
        n.version = r.version;
        n.environment = r.environment;
        n.withProtocol = r.protocol;
        if (r.protocol)
            n.protocolStatus = r.status;
        ImportOptions options;
        options.acceptHomologation = r.accept;
        const ImportReport report = importText(std::to_string(number) + ".xml", n.Xml(), options);
        EXPECT_EQ(report.imported, r.imported ? 1 : 0) << r.name << '\n' << report.Text();
        EXPECT_EQ(documentOf(n).empty(), !r.imported) << r.name;
        EXPECT_EQ(report.withoutProtocol.size(), r.listedWithoutProtocol ? 1u : 0u) << r.name;
        if (r.listedWithoutProtocol) {
            EXPECT_TRUE(has(report.Text(), "sem protocolo de autorização: 1")) << report.Text();
        }
        if (!r.imported) {
            ASSERT_EQ(report.refused.size(), 1u) << r.name;
            EXPECT_TRUE(has(report.refused[0].reason, r.reason)) << r.name << ": " << report.refused[0].reason;
        }
        ASSERT_EQ(report.entries.size(), 1u) << r.name;
        EXPECT_EQ(report.entries[0].outcome, r.imported ? ImportOutcome::Imported : ImportOutcome::Refused) << r.name;
    }
    TestNfe trial;
    trial.number = 99;
    trial.environment = 2;
    const ImportReport refused = importText("trial.xml", trial.Xml());
    ASSERT_EQ(refused.refused.size(), 1u);
    EXPECT_EQ(refused.refused[0].field, "ide/tpAmb");
}

TEST_P(Outcomes, AReceivedDocumentIsBookedOnThePersonsEntryDate)
{
    struct Row {
        const char *name, *rule, *moved, *want;
        bool otherPeriod;
    } rows[] = {
        {"its exit date", "exit", "2027-02-01T08:00:00-03:00", "2027-02-01", true},
        {"no exit date: its issue date", "exit", "", "2027-01-30", false},
        {"its issue date", "issue", "2027-02-01T08:00:00-03:00", "2027-01-30", false},
        {"the batch's day", "2027-02-03", "", "2027-02-03", true},
        {"the batch's day, same month", "31/01/2027", "2027-02-01T08:00:00-03:00", "2027-01-31", false},
    };
    int number = 0;
    for (const Row &r : rows) {
        TestNfe n = received(++number);
        n.issued = "2027-01-30T10:00:00-03:00";
        n.moved = r.moved;
        ImportOptions options;
        options.entryDate = *ParseEntryDate(r.rule);
        const ImportReport report = importText("e" + std::to_string(number) + ".xml", n.Xml(), options);
        ASSERT_EQ(report.imported, 1) << r.name << '\n' << report.Text();
        EXPECT_EQ(bookedOn(n), r.want) << r.name;
        EXPECT_EQ(report.otherPeriod.size(), r.otherPeriod ? 1u : 0u) << r.name;
    }
    // A day before the issue is no entry date.
    TestNfe early = received(++number);
    early.issued = "2027-01-30T10:00:00-03:00";
    ImportOptions options;
    options.entryDate = *ParseEntryDate("2027-01-29");
    const ImportReport report = importText("early.xml", early.Xml(), options);
    EXPECT_EQ(report.imported, 0);
    ASSERT_EQ(report.refused.size(), 1u);
    EXPECT_TRUE(has(report.refused[0].reason, "anterior à emissão")) << report.refused[0].reason;
    // The company's own document keeps its dates whatever the rule.
    TestNfe own;
    own.number = 50;
    own.issued = "2027-01-30T10:00:00-03:00";
    own.moved = "2027-02-01T08:00:00-03:00";
    options.entryDate = *ParseEntryDate("issue");
    ASSERT_EQ(importText("own.xml", own.Xml(), options).imported, 1);
    EXPECT_EQ(bookedOn(own), "2027-02-01");
}

TEST_P(Outcomes, AnImportWhoseTotalLeavesOutTheIiKeepsItsItemsAndAddsOneLine)
{
    TestNfe n;  // company 01's own entry document of an import
    n.type = 0;
    n.recipientTaxId = "";
    n.recipientName = "Global Trading LLC";
    n.recipientIe = "";
    n.recipientUf = "EX";
    n.items = {TestItem{}, TestItem{}};
    for (TestItem &it : n.items) {
        it.cfop = "3102";
        it.goods = "1000.00";
        it.otherTaxes = "<II><vII>200.00</vII></II>";
        // The import's ICMS base holds the II: 1,200.00 of the 1,200.00 item.
        it.icms = "<ICMS00><orig>1</orig><CST>00</CST><modBC>3</modBC><vBC>1200.00</vBC><pICMS>18.00</pICMS>"
                  "<vICMS>216.00</vICMS></ICMS00>";
    }
    n.total = "2000.00";
    const ImportReport report = importText("import.xml", n.Xml());
    ASSERT_EQ(report.imported, 1) << report.Text();
    EXPECT_TRUE(report.differences.empty()) << report.Text();
    ASSERT_EQ(report.importTaxAdjusted.size(), 1u);
    const std::string id = documentOf(n);
    auto value = [&](const std::string &sql) {
        const std::string v = one(sql + id);
        const bool negative = !v.empty() && v[0] == '-';
        return (negative ? "-" : "") + DecimalText(*ParseDecimal(v.substr(negative ? 1 : 0), 2), 2);
    };
    // Each item as the file gives it, one line of its own for the II.
    EXPECT_EQ(value("SELECT CAST(VLCONTABIL AS VARCHAR(20)) FROM ITEMNOTAFISC WHERE NRITEM = 1 AND CDNOTAFISC = "),
              "1200.00");
    EXPECT_EQ(value("SELECT CAST(VLCONTABIL AS VARCHAR(20)) FROM ITEMNOTAFISC WHERE NRITEM = 3 AND CDNOTAFISC = "),
              "-400.00");
    EXPECT_EQ(one("SELECT CDCFOP FROM ITEMNOTAFISC WHERE NRITEM = 3 AND CDNOTAFISC = " + id), "3102");
    EXPECT_EQ(one("SELECT CAST(COUNT(*) AS VARCHAR(5)) FROM IMPOSTOITEMNF WHERE NRITEM = 3 AND CDNOTAFISC = " + id), "0");
    EXPECT_EQ(value("SELECT CAST(SUM(VLCONTABIL) AS VARCHAR(20)) FROM ITEMNOTAFISC WHERE CDNOTAFISC = "), "2000.00");
    // The kept summary: the CFOP's total is vNF and nothing exceeds it.
    EXPECT_EQ(one("SELECT CAST(VLCONTABIL AS VARCHAR(20)) FROM RESUMOCFOPNF WHERE CDIMPOSTONFE = '' AND CDNOTAFISC = " + id),
              "200000");
    EXPECT_EQ(one("SELECT CAST(SUM(VLEXCESSO) + SUM(VLEXCESSOSEMIPI) AS VARCHAR(20)) FROM RESUMOCFOPNF WHERE CDNOTAFISC = " +
                  id),
              "0");
    // Read again, it is the same document.
    EXPECT_EQ(importText("again.xml", n.Xml()).alreadyPresent, 1);
}

TEST_P(Outcomes, ATotalFarFromItsItemsIsRefusedWithBothValues)
{
    struct Row {
        const char *name, *total;
        bool imported;
    } rows[] = {
        {"a cent off", "100.01", true},
        {"vNF of zero", "0.00", false},
        {"a million times", "100000000.00", false},
    };
    int number = 0;
    for (const Row &r : rows) {
        TestNfe n;
        n.number = ++number;
        n.total = r.total;
        const ImportReport report = importText("t" + std::to_string(number) + ".xml", n.Xml());
        EXPECT_EQ(report.imported, r.imported ? 1 : 0) << r.name;
        if (!r.imported) {
            ASSERT_EQ(report.refused.size(), 1u) << r.name;
            EXPECT_EQ(report.refused[0].field, "total/ICMSTot/vNF");
            EXPECT_TRUE(has(report.refused[0].reason, "R$ 100,00")) << report.refused[0].reason;
            EXPECT_TRUE(documentOf(n).empty()) << r.name;
        }
    }
}

TEST_P(Outcomes, ACopyWithTheSameKeyAndOtherContentIsListedAndTheFirstKept)
{
    TestNfe first;
    TestNfe other = first;
    other.items[0].goods = "120.00";
    other.items[0].qty = "2.4000";
    const ImportReport report = import({target_->Write("c/1.xml", first.Xml()), target_->Write("c/2.xml", other.Xml()),
                                        target_->Write("c/3.xml", first.Xml())});
    EXPECT_EQ(report.imported, 1);
    EXPECT_EQ(report.alreadyPresent, 1);
    EXPECT_EQ(report.conflicting, 1);
    ASSERT_EQ(report.conflictingCopies.size(), 1u);
    EXPECT_TRUE(has(report.conflictingCopies[0].file, "c/2.xml"));
    EXPECT_TRUE(has(report.Text(), "Mesma chave, conteúdo diferente (mantido o primeiro): 1")) << report.Text();
    EXPECT_EQ(DecimalText(*ParseDecimal(one("SELECT CAST(VLCONTABIL AS VARCHAR(20)) FROM ITEMNOTAFISC WHERE CDNOTAFISC = " +
                                            documentOf(first)),
                                        2),
                          2),
              "100.00");
}

TEST_P(Outcomes, ACancellationOfNoRegisteredCompanysDocumentWritesNothing)
{
    TestNfe strangers;  // neither issued nor received by a registered company
    strangers.issuerTaxId = "99888777000166";
    strangers.issuerIe = "999888777666";
    strangers.recipientIe = "555444333222";
    TestNfe ours;
    ours.number = 7;
    const ImportReport report = import({target_->Write("x/1-cancel.xml", EventXml(strangers.Key())),
                                        target_->Write("x/2-cancel.xml", EventXml(ours.Key()))});
    ASSERT_FALSE(report.cancellationsNobody.empty());
    EXPECT_TRUE(has(report.cancellationsNobody[0].file, "1-cancel.xml"));
    EXPECT_EQ(report.cancellationsNobody[0].key, strangers.Key());
    EXPECT_EQ(one("SELECT CAST(COUNT(*) AS VARCHAR(5)) FROM NFECHAVE WHERE CHNFE = ?", {strangers.Key()}), "0");
    // The server demos' companies keep no CNPJ the key could name.
    if (GetParam()->engine.localFile) {
        EXPECT_EQ(report.cancellationsOfNobody, 1) << report.Text();
        EXPECT_TRUE(has(report.Text(), "nenhuma empresa cadastrada (nada gravado): 1")) << report.Text();
        // Company 01 was registered with its CNPJ: its cancellation waits for the document.
        EXPECT_EQ(report.cancelledByEvent, 1);
        ASSERT_EQ(importText("x/3.xml", ours.Xml()).imported, 1);
        EXPECT_EQ(one("SELECT IDSITUACAO FROM NOTAFISCAL WHERE CDNOTAFISC = " + documentOf(ours)), "C");
    }
}

TEST_P(Outcomes, EachFileAppearsOnceWithItsOutcomeInTheTextAndTheCsv)
{
    TestNfe a, b, bad;
    b.number = 2;
    bad.number = 3;
    bad.issuerName = "Empresa \xC3\x28 Ltda";  // declared UTF-8, not UTF-8
    const std::string folder = target_->Dir() + "/all";
    target_->Write("all/1.xml", a.Xml());
    target_->Write("all/2.xml", b.Xml());
    target_->Write("all/3.xml", bad.Xml());
    target_->Write("all/4-cce.xml", EventXml(a.Key(), "110110"));
    target_->Write("all/5-cancel.xml", EventXml(b.Key()));
    target_->Write("all/6.txt", "não é XML");
    import({folder});
    const ImportReport report = import({folder});  // the second time: present, and the cancellation applied before
    const std::string csv = report.Csv();
    const std::string lines[] = {
        "arquivo;resultado;chave;detalhe\r\n",
        "/all/1.xml;já presente;" + a.Key() + ";\r\n",
        "/all/2.xml;já presente;" + b.Key() + ";\r\n",
        "/all/3.xml;recusado;;NFe/infNFe/emit/xNome: texto com bytes inválidos em UTF-8",
        "/all/4-cce.xml;evento ignorado;" + a.Key() + ";evento 110110\r\n",
        "/all/5-cancel.xml;cancelamento já aplicado;" + b.Key() + ";",
        "/all/6.txt;não é documento fiscal;;",
    };
    for (const std::string &line : lines)
        EXPECT_TRUE(has(csv, line)) << line << "\nin\n" << csv;
    EXPECT_EQ(report.entries.size(), 6u) << csv;
    EXPECT_EQ(report.alreadyPresent, 2);
    EXPECT_EQ(report.cancellationsRepeated, 1);
    EXPECT_EQ(report.cancelledByEvent, 0);
    // The bytes never reach the database, on any engine.
    EXPECT_TRUE(documentOf(bad).empty());
    // A field with the separator or a quote stays one field.
    ImportReport quoted;
    quoted.entries.push_back({"a;b.xml", ImportOutcome::Refused, "", "disse \"não\""});
    EXPECT_TRUE(has(quoted.Csv(), "\"a;b.xml\";recusado;;\"disse \"\"não\"\"\"\r\n")) << quoted.Csv();
}

INSTANTIATE_TEST_SUITE_P(Engines, Outcomes, ::testing::Values(&kImportSqlite, &kImportFirebird, &kImportPostgresql),
                         [](const auto &info) { return std::string(info.param->label); });

} // namespace
