// The booking rules, each bad input and the all-or-nothing writing, on every
// engine the suite reaches.
#include "import/importer.h"
#include "import_case.h"
#include "nfe_builder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class Import : public ImportCase {
protected:
    ImportReport import(const std::vector<std::string> &paths, const ImportOptions &options = {})
    {
        return ImportFiles(*db_, paths, options);
    }
    ImportReport importText(const std::string &name, const std::string &xml)
    {
        return import({target_->Write(name, xml)});
    }
    std::string documentOf(const TestNfe &n)
    {
        return one("SELECT CAST(CDNOTAFISC AS VARCHAR(20)) FROM NFECHAVE WHERE CHNFE = ?", {n.Key()});
    }
    long count(const std::string &table)
    {
        return std::stol(one("SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM " + table +
                             " WHERE CDNOTAFISC IN (SELECT CDNOTAFISC FROM NFECHAVE)"));
    }
    // A received document: issued by a supplier to company 02.
    static TestNfe received(const std::string &cfop = "5102")
    {
        TestNfe n;
        n.issuerTaxId = "11222333000181";
        n.issuerName = "Fornecedor Um Ltda";
        n.issuerIe = "111222333444";
        n.recipientTaxId = "22333444000172";
        n.recipientName = "Outra Empresa S.A.";
        n.recipientIe = "244123456119";
        n.items[0].cfop = cfop;
        n.items[0].code = "FORN-1";
        return n;
    }
};

std::string cents(const std::string &value) { return DecimalText(*ParseDecimal(value, 2), 2); }

TEST_P(Import, BooksEachDocumentUnderTheCompanyWhoseRegistrationItCarries)
{
    TestNfe exit;  // company 01 sells to a customer in MG
    exit.recipientUf = "MG";
    exit.items[0].cfop = "6102";
    TestNfe entry = received();
    TestNfe own;  // company 01 books its own entry document of an import
    own.type = 0;
    own.number = 2;
    own.recipientTaxId = "";
    own.recipientName = "Global Trading LLC";
    own.recipientIe = "";
    own.recipientUf = "EX";
    own.items[0].cfop = "3102";
    TestNfe consumer;  // NFC-e without a recipient
    consumer.model = "65";
    consumer.recipient = false;
    struct Row {
        const char *name;
        TestNfe nfe;
        const char *company, *registration, *side, *participant, *state, *cfop;
    } rows[] = {
        {"exit", exit, "01", "110042490114", "S", "Cliente Um Ltda", "MG", "6102"},
        {"received", entry, "02", "244123456119", "E", "Fornecedor Um Ltda", "SP", "1102"},
        {"own entry", own, "01", "110042490114", "E", "Global Trading LLC", "EX", "3102"},
        {"consumer", consumer, "01", "110042490114", "S", "Consumidor não identificado", "SP", "5102"},
    };
    for (const Row &r : rows) {
        const ImportReport report = importText(std::string(r.name) + ".xml", r.nfe.Xml());
        ASSERT_EQ(report.imported, 1) << r.name << '\n' << report.Text();
        const std::string id = documentOf(r.nfe);
        const std::string where = " FROM NOTAFISCAL WHERE CDNOTAFISC = " + id;
        EXPECT_EQ(one("SELECT CDEMPRESA" + where), r.company) << r.name;
        EXPECT_EQ(one("SELECT CDINSCESTA" + where), r.registration) << r.name;
        EXPECT_EQ(one("SELECT IDENTRSAIDA" + where), r.side) << r.name;
        EXPECT_EQ(one("SELECT NMPARTICIPANTE" + where), r.participant) << r.name;
        EXPECT_EQ(one("SELECT SGUF" + where), r.state) << r.name;
        EXPECT_EQ(one("SELECT CDMODDOCFISC" + where), r.nfe.model) << r.name;
        EXPECT_EQ(one("SELECT IDSITUACAO" + where), "N") << r.name;
        EXPECT_EQ(one("SELECT CDCFOP FROM ITEMNOTAFISC WHERE CDNOTAFISC = " + id), r.cfop) << r.name;
    }
}

// A registration kept with its branch books its documents under it; one
// without a branch leaves the document's empty.
TEST_P(Import, ADocumentTakesTheBranchOfItsRegistration)
{
    db_->Execute("UPDATE INSCRESTAD SET CDFILIAL = '0001' WHERE CDEMPRESA = '01' AND CDINSCESTA = '110042490114'");
    db_->Execute("UPDATE INSCRESTAD SET CDFILIAL = NULL WHERE CDEMPRESA = '02' AND CDINSCESTA = '244123456119'");
    struct Row {
        const char *name;
        TestNfe nfe;
        const char *branch;
    } rows[] = {{"exit of a registration with a branch", TestNfe{}, "0001"},
                {"entry of one without", received(), ""}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const ImportReport report = importText(std::string(r.name) + ".xml", r.nfe.Xml());
        ASSERT_EQ(report.imported, 1) << report.Text();
        EXPECT_EQ(one("SELECT CDFILIAL FROM NOTAFISCAL WHERE CDNOTAFISC = " + documentOf(r.nfe)), r.branch);
    }
    // The demo database's branch again (a database of one's own has none to keep).
    db_->Execute("UPDATE INSCRESTAD SET CDFILIAL = '00A1' WHERE CDEMPRESA = '02' AND CDINSCESTA = '244123456119'");
}

TEST_P(Import, RefusesWhatBelongsToNoCompanyOrToTwoAndWritesNothing)
{
    TestNfe nobody = received();
    nobody.recipientIe = "999999999999";
    TestNfe both;  // company 01 sells to company 02
    both.recipientIe = "244123456119";
    TestNfe otherState;  // 01's registration, but under another state
    otherState.issuerUf = "RJ";
    otherState.recipientIe = "";
    TestNfe thirdPartyEntry = received();
    thirdPartyEntry.type = 0;
    TestNfe entryCfopOnExit;
    entryCfopOnExit.items[0].cfop = "1102";
    TestNfe exitCfopOnEntry = received("1102");
    struct Row {
        const char *name;
        TestNfe nfe;
        const char *field, *reason;
    } rows[] = {
        {"nobody", nobody, "emit/IE", "nenhuma empresa cadastrada"},
        {"two", both, "emit/IE", "mais de uma inscrição"},
        {"other state", otherState, "emit/IE", "nenhuma empresa cadastrada"},
        {"third-party entry", thirdPartyEntry, "ide/tpNF", "nota de entrada emitida por terceiro"},
        {"entry CFOP on an exit", entryCfopOnExit, "det[1]/prod/CFOP", "de entrada em documento de saída"},
        {"entry CFOP from a supplier", exitCfopOnEntry, "det[1]/prod/CFOP", "de entrada em documento de saída"},
    };
    for (const Row &r : rows) {
        const ImportReport report = importText("bad.xml", r.nfe.Xml());
        EXPECT_EQ(report.imported, 0) << r.name;
        ASSERT_EQ(report.refused.size(), 1u) << r.name;
        EXPECT_EQ(report.refused[0].field, r.field) << r.name;
        EXPECT_NE(report.refused[0].reason.find(r.reason), std::string::npos) << r.name << ": " << report.refused[0].reason;
        EXPECT_NE(report.refused[0].file.find("bad.xml"), std::string::npos);
    }
    EXPECT_EQ(count("NOTAFISCAL"), 0);
    EXPECT_EQ(one("SELECT CAST(COUNT(*) AS VARCHAR(9)) FROM NFECHAVE"), "0");
}

TEST_P(Import, ReceivedDocumentsTakeTheEntryCfopOfTheConversionTable)
{
    db_->Execute("INSERT INTO CFOPCONVERSAO (CDCFOPSAIDA, CDCFOPENTRADA) VALUES ('5101', '1102')");
    struct Row {
        const char *exit, *entry;
    } rows[] = {{"5102", "1102"}, {"6102", "2102"}, {"5405", "1403"}, {"5401", "1403"}, {"5403", "1403"},
                {"6403", "2403"}, {"6404", "2403"}, {"5933", "1933"}, {"5101", "1102"}, {"6101", "2101"}};
    int number = 0;
    for (const Row &r : rows) {
        TestNfe n = received(r.exit);
        n.number = ++number;
        ASSERT_EQ(importText("e.xml", n.Xml()).imported, 1) << r.exit;
        EXPECT_EQ(one("SELECT CDCFOP FROM ITEMNOTAFISC WHERE CDNOTAFISC = " + documentOf(n)), r.entry) << r.exit;
    }
}

TEST_P(Import, ProductsComeFromOwnCodesOrLinksOrAreCreatedOnce)
{
    db_->Execute("INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, NMPRODUTO, CDNVPRODUTO) VALUES ('7001', '05', 'Grupo', '1')");
    db_->Execute("INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, NMPRODUTO, CDNVPRODUTO) VALUES ('7002', '05.01.0001', 'Cola', '3')");
    // An exit names the company's own product by its tree code.
    TestNfe sale;
    sale.items[0].code = "05.01.0001";
    ASSERT_EQ(importText("sale.xml", sale.Xml()).createdProducts.size(), 0u);
    EXPECT_EQ(one("SELECT CDPRODUTO FROM ITEMNOTAFISC WHERE CDNOTAFISC = " + documentOf(sale)), "7002");

    // A supplier's code is unknown: created under the imported group, listed.
    TestNfe first = received();
    first.items[0].name = "Guaraná lata 350 ml";
    ImportReport r1 = importText("first.xml", first.Xml());
    ASSERT_EQ(r1.createdProducts.size(), 1u) << r1.Text();
    const ImportedProduct created = r1.createdProducts[0];
    EXPECT_EQ(created.name, "Guaraná lata 350 ml");
    EXPECT_EQ(created.theirCode, "FORN-1");
    EXPECT_EQ(created.participant, "11222333000181");
    EXPECT_EQ(created.treeCode.substr(0, 3), "99.");
    EXPECT_EQ(one("SELECT CDNVPRODUTO FROM PRODUTO WHERE CDARVPROD = '99'"), "1");
    EXPECT_EQ(one("SELECT CDNVPRODUTO FROM PRODUTO WHERE CDARVPROD = ?", {created.treeCode}), "3");
    EXPECT_EQ(one("SELECT CDPRODUTO FROM ITEMNOTAFISC WHERE CDNOTAFISC = " + documentOf(first)), created.code);
    EXPECT_NE(r1.Text().find("Guaraná lata 350 ml"), std::string::npos);

    // The same code again, in a later import: the same product.
    TestNfe second = received();
    second.number = 2;
    EXPECT_EQ(importText("second.xml", second.Xml()).createdProducts.size(), 0u);
    EXPECT_EQ(one("SELECT CDPRODUTO FROM ITEMNOTAFISC WHERE CDNOTAFISC = " + documentOf(second)), created.code);

    // The bookkeeper links it to the company's product; later imports follow.
    db_->Execute("UPDATE PRODUTOPARTIC SET CDPRODUTO = '7002' WHERE CDPRODPARTIC = 'FORN-1'");
    auto fresh = target_->Open();
    TestNfe third = received();
    third.number = 3;
    EXPECT_EQ(ImportFiles(*fresh, {target_->Write("third.xml", third.Xml())}).createdProducts.size(), 0u);
    EXPECT_EQ(One(*fresh, "SELECT CDPRODUTO FROM ITEMNOTAFISC WHERE CDNOTAFISC = " + documentOf(third)), "7002");
}

TEST_P(Import, TheDocumentTotalIsKeptAndADifferenceSpreadOverTheItems)
{
    TestNfe n;
    n.items = {TestItem{}, TestItem{}, TestItem{}};
    n.items[0].goods = "100.00";
    n.items[1].goods = "200.00";
    n.items[1].charges = "<vFrete>10.00</vFrete><vDesc>4.00</vDesc>";
    n.items[2].goods = "300.00";
    n.items[2].otherTaxes = "<II><vII>42.00</vII></II>";
    // Items add up to 648.00; the document leaves the II out.
    n.total = "606.00";
    const ImportReport report = importText("spread.xml", n.Xml());
    ASSERT_EQ(report.differences.size(), 1u);
    EXPECT_EQ(report.differences[0].documentTotal, 60600);
    EXPECT_EQ(report.differences[0].itemsTotal, 64800);
    const std::string id = documentOf(n);
    auto value = [&](int item) {
        return one("SELECT CAST(VLCONTABIL AS VARCHAR(20)) FROM ITEMNOTAFISC WHERE CDNOTAFISC = " + id +
                   " AND NRITEM = " + std::to_string(item));
    };
    // -42.00 in proportion to 100, 206 and 342: -6.48, -13.35, -22.17.
    EXPECT_EQ(cents(value(1)), "93.52");
    EXPECT_EQ(cents(value(2)), "192.65");
    EXPECT_EQ(cents(value(3)), "319.83");

    TestNfe exact;
    exact.number = 2;
    exact.items[0].charges = "<vFrete>1.00</vFrete><vSeg>2.00</vSeg><vDesc>3.00</vDesc><vOutro>4.00</vOutro>";
    exact.total = "104.00";
    EXPECT_TRUE(importText("exact.xml", exact.Xml()).differences.empty());
}

TEST_P(Import, TaxRowsFollowTheSituationAndTheCreditTheBooksAllow)
{
    const std::string ipi = "<IPI><cEnq>999</cEnq><IPITrib><CST>50</CST><vBC>100.00</vBC><pIPI>10.00</pIPI>"
                            "<vIPI>10.00</vIPI></IPITrib></IPI>";
    struct Row {
        const char *name;
        bool receivedDoc;
        const char *cfop, *icms, *others;
        // expected ICMS row: base, rate, tax, exempt, other, ST base, ST
        const char *want;
    } rows[] = {
        {"00", false, "5102", "<ICMS00><CST>00</CST><vBC>100.00</vBC><pICMS>18.00</pICMS><vICMS>18.00</vICMS></ICMS00>", "",
         "100.00 18.00 18.00 0.00 0.00 0.00 0.00"},
        {"00 with IPI", false, "5102",
         "<ICMS00><CST>00</CST><vBC>100.00</vBC><pICMS>18.00</pICMS><vICMS>18.00</vICMS></ICMS00>", ipi.c_str(),
         "100.00 18.00 18.00 0.00 0.00 0.00 0.00"},
        {"10", false, "5401",
         "<ICMS10><CST>10</CST><vBC>100.00</vBC><pICMS>18.00</pICMS><vICMS>18.00</vICMS><vBCST>140.00</vBCST>"
         "<vICMSST>7.20</vICMSST></ICMS10>", "", "100.00 18.00 18.00 0.00 0.00 140.00 7.20"},
        {"20", false, "5102", "<ICMS20><CST>20</CST><vBC>60.00</vBC><pICMS>18.00</pICMS><vICMS>10.80</vICMS></ICMS20>", "",
         "60.00 18.00 10.80 40.00 0.00 0.00 0.00"},
        {"30", false, "5102", "<ICMS30><CST>30</CST><vBCST>140.00</vBCST><vICMSST>25.20</vICMSST></ICMS30>", "",
         "0.00 0.00 0.00 100.00 0.00 140.00 25.20"},
        {"40", false, "5102", "<ICMS40><CST>40</CST></ICMS40>", "", "0.00 0.00 0.00 100.00 0.00 0.00 0.00"},
        {"41", false, "7102", "<ICMS40><CST>41</CST></ICMS40>", "", "0.00 0.00 0.00 100.00 0.00 0.00 0.00"},
        {"50", false, "5102", "<ICMS40><CST>50</CST></ICMS40>", "", "0.00 0.00 0.00 0.00 100.00 0.00 0.00"},
        {"51", false, "5102", "<ICMS51><CST>51</CST><vBC>100.00</vBC><pICMS>18.00</pICMS><vICMS>0.00</vICMS></ICMS51>", "",
         "100.00 18.00 0.00 0.00 0.00 0.00 0.00"},
        {"51 partial", false, "5102", "<ICMS51><CST>51</CST><vBC>70.00</vBC><pICMS>18.00</pICMS><vICMS>12.60</vICMS></ICMS51>",
         "", "70.00 18.00 12.60 0.00 30.00 0.00 0.00"},
        {"60", false, "5405", "<ICMS60><CST>60</CST></ICMS60>", "", "0.00 0.00 0.00 0.00 100.00 0.00 0.00"},
        {"70", false, "5102",
         "<ICMS70><CST>70</CST><vBC>60.00</vBC><pICMS>18.00</pICMS><vICMS>10.80</vICMS><vBCST>84.00</vBCST>"
         "<vICMSST>4.32</vICMSST></ICMS70>", "", "60.00 18.00 10.80 40.00 0.00 84.00 4.32"},
        {"90", false, "5102", "<ICMS90><CST>90</CST><vBC>50.00</vBC><pICMS>18.00</pICMS><vICMS>9.00</vICMS></ICMS90>", "",
         "50.00 18.00 9.00 0.00 50.00 0.00 0.00"},
        {"SN 102", true, "5102", "<ICMSSN102><CSOSN>102</CSOSN></ICMSSN102>", "", "0.00 0.00 0.00 0.00 100.00 0.00 0.00"},
        {"SN 900", true, "5102",
         "<ICMSSN900><CSOSN>900</CSOSN><vBC>100.00</vBC><pICMS>7.00</pICMS><vICMS>7.00</vICMS></ICMSSN900>", "",
         "100.00 7.00 7.00 0.00 0.00 0.00 0.00"},
        {"purchase 00", true, "5102",
         "<ICMS00><CST>00</CST><vBC>100.00</vBC><pICMS>18.00</pICMS><vICMS>18.00</vICMS></ICMS00>", "",
         "100.00 18.00 18.00 0.00 0.00 0.00 0.00"},
        // Bought for resale under substitution: no credit, the ICMS is Outras.
        {"purchase 1403", true, "5405",
         "<ICMS10><CST>10</CST><vBC>100.00</vBC><pICMS>18.00</pICMS><vICMS>18.00</vICMS><vBCST>140.00</vBCST>"
         "<vICMSST>7.20</vICMSST></ICMS10>", "", "0.00 0.00 0.00 0.00 100.00 140.00 7.20"},
        {"purchase 2403 with IPI", true, "6403",
         "<ICMS10><CST>10</CST><vBC>100.00</vBC><pICMS>12.00</pICMS><vICMS>12.00</vICMS><vBCST>154.00</vBCST>"
         "<vICMSST>15.72</vICMSST></ICMS10>", ipi.c_str(), "0.00 0.00 0.00 0.00 100.00 154.00 15.72"},
    };
    int number = 0;
    for (const Row &r : rows) {
        TestNfe n = r.receivedDoc ? received(r.cfop) : TestNfe();
        n.number = ++number;
        n.items[0].cfop = r.cfop;
        n.items[0].icms = r.icms;
        n.items[0].otherTaxes = r.others;
        n.Balanced();
        const ImportReport report = importText("t.xml", n.Xml());
        ASSERT_EQ(report.imported, 1) << r.name << report.Text();
        const std::string id = documentOf(n);
        auto rows2 = db_->Select(db_->Prepare("SELECT CAST(VLBASECALC AS VARCHAR(20)), CAST(PCALIQUOTA AS VARCHAR(20)), "
                                              "CAST(VLIMPOSTO AS VARCHAR(20)), CAST(VLISENTO AS VARCHAR(20)), "
                                              "CAST(VLOUTROS AS VARCHAR(20)), CAST(VLBASEST AS VARCHAR(20)), "
                                              "CAST(VLIMPOSTOST AS VARCHAR(20)) FROM IMPOSTOITEMNF WHERE CDNOTAFISC = ? "
                                              "AND CDIMPOSTONFE = '01'"),
                                 {id});
        ASSERT_EQ(rows2.size(), 1u) << r.name;
        std::string got;
        for (const auto &cell : rows2[0])
            got += (got.empty() ? "" : " ") + cents(*cell);
        EXPECT_EQ(got, r.want) << r.name;
        // Valor Contábil = Base + Isentas + Outras + IPI + ST on every line.
        const Cents vc = *ParseDecimal(one("SELECT CAST(VLCONTABIL AS VARCHAR(20)) FROM ITEMNOTAFISC WHERE CDNOTAFISC = " + id), 2);
        Cents parts = std::string(r.others).empty() ? 0 : 1000;
        for (int i : {0, 3, 4, 6})
            parts += *ParseDecimal(cents(*rows2[0][static_cast<std::size_t>(i)]), 2);
        EXPECT_EQ(vc, parts) << r.name;
    }
}

TEST_P(Import, IpiAndIssRowsAndNoIcmsRowForAService)
{
    TestNfe n;
    n.items = {TestItem{}, TestItem{}, TestItem{}};
    n.items[0].otherTaxes = "<IPI><cEnq>999</cEnq><IPITrib><CST>50</CST><vBC>100.00</vBC><pIPI>5.00</pIPI>"
                            "<vIPI>5.00</vIPI></IPITrib></IPI>";
    n.items[1].otherTaxes = "<IPI><cEnq>999</cEnq><IPINT><CST>53</CST></IPINT></IPI>";
    n.items[2].cfop = "5933";
    n.items[2].icms = "";
    n.items[2].otherTaxes = "<ISSQN><vBC>100.00</vBC><vAliq>5.00</vAliq><vISSQN>5.00</vISSQN></ISSQN>";
    n.total = "305.00";
    ASSERT_EQ(importText("ipi.xml", n.Xml()).imported, 1);
    const std::string id = documentOf(n);
    auto row = [&](int item, const char *tax) {
        auto rows = db_->Select(db_->Prepare("SELECT CAST(VLBASECALC AS VARCHAR(20)), CAST(VLIMPOSTO AS VARCHAR(20)), "
                                             "CAST(VLISENTO AS VARCHAR(20)) FROM IMPOSTOITEMNF WHERE CDNOTAFISC = ? AND "
                                             "NRITEM = ? AND CDIMPOSTONFE = ?"),
                                {id, std::to_string(item), std::string(tax)});
        return rows.empty() ? std::string("none") : cents(*rows[0][0]) + " " + cents(*rows[0][1]) + " " + cents(*rows[0][2]);
    };
    EXPECT_EQ(row(1, "03"), "100.00 5.00 0.00");
    EXPECT_EQ(row(2, "03"), "0.00 0.00 100.00");
    EXPECT_EQ(row(3, "02"), "100.00 5.00 0.00");
    EXPECT_EQ(row(3, "01"), "none");
}

TEST_P(Import, EachTaxRowCarriesItsSituationAndRate)
{
    struct Row {
        const char *name;
        bool receivedDoc;
        const char *cfop, *icms, *others;
        const char *tax;   // the row looked at
        const char *cst;   // "null": none
        const char *rate;
    } rows[] = {
        {"ICMS 00: origin and CST", false, "5102",
         "<ICMS00><orig>0</orig><CST>00</CST><vBC>100.00</vBC><pICMS>18.00</pICMS><vICMS>18.00</vICMS></ICMS00>", "", "01",
         "000", "18.00"},
        {"ICMS 10 of imported goods", false, "5401",
         "<ICMS10><orig>1</orig><CST>10</CST><vBC>100.00</vBC><pICMS>12.00</pICMS><vICMS>12.00</vICMS><vBCST>140.00</vBCST>"
         "<vICMSST>4.80</vICMSST></ICMS10>", "", "01", "110", "12.00"},
        {"ICMS 60: no rate", false, "5405", "<ICMS60><orig>0</orig><CST>60</CST></ICMS60>", "", "01", "060", "0.00"},
        {"Simples 101: the credit's rate", true, "5102",
         "<ICMSSN101><orig>0</orig><CSOSN>101</CSOSN><pCredSN>2.56</pCredSN><vCredICMSSN>2.56</vCredICMSSN></ICMSSN101>", "",
         "01", "0101", "2.56"},
        {"Simples 102", true, "5102", "<ICMSSN102><orig>2</orig><CSOSN>102</CSOSN></ICMSSN102>", "", "01", "2102", "0.00"},
        {"Simples 900: the rate of its tax", true, "5102",
         "<ICMSSN900><orig>0</orig><CSOSN>900</CSOSN><vBC>100.00</vBC><pICMS>7.00</pICMS><vICMS>7.00</vICMS>"
         "<pCredSN>1.50</pCredSN><vCredICMSSN>1.50</vCredICMSSN></ICMSSN900>", "", "01", "0900", "7.00"},
        // The supplier's CST stays on a purchase that gives no credit.
        {"purchase under substitution", true, "5405",
         "<ICMS10><orig>0</orig><CST>10</CST><vBC>100.00</vBC><pICMS>18.00</pICMS><vICMS>18.00</vICMS><vBCST>140.00</vBCST>"
         "<vICMSST>7.20</vICMSST></ICMS10>", "", "01", "010", "0.00"},
        {"IPI taxed", false, "5102", "<ICMS40><orig>0</orig><CST>41</CST></ICMS40>",
         "<IPI><cEnq>999</cEnq><IPITrib><CST>50</CST><vBC>100.00</vBC><pIPI>10.00</pIPI><vIPI>10.00</vIPI></IPITrib></IPI>",
         "03", "50", "10.00"},
        {"IPI not taxed", false, "5102", "<ICMS40><orig>0</orig><CST>41</CST></ICMS40>",
         "<IPI><cEnq>999</cEnq><IPINT><CST>53</CST></IPINT></IPI>", "03", "53", "0.00"},
        {"ISS: a rate, no CST", false, "5933", "",
         "<ISSQN><vBC>100.00</vBC><vAliq>5.00</vAliq><vISSQN>5.00</vISSQN></ISSQN>", "02", "null", "5.00"},
    };
    int number = 100;
    for (const Row &r : rows) {
        TestNfe n = r.receivedDoc ? received(r.cfop) : TestNfe();
        n.number = ++number;
        n.items[0].cfop = r.cfop;
        n.items[0].icms = r.icms;
        n.items[0].otherTaxes = r.others;
        n.Balanced();
        const ImportReport report = importText("t.xml", n.Xml());
        ASSERT_EQ(report.imported, 1) << r.name << report.Text();
        auto got = db_->Select(db_->Prepare("SELECT CDCST, CAST(PCALIQUOTA AS VARCHAR(20)) FROM IMPOSTOITEMNF "
                                            "WHERE CDNOTAFISC = ? AND CDIMPOSTONFE = ?"),
                               {documentOf(n), std::string(r.tax)});
        ASSERT_EQ(got.size(), 1u) << r.name;
        EXPECT_EQ(got[0][0].value_or("null"), r.cst) << r.name;
        EXPECT_EQ(cents(*got[0][1]), r.rate) << r.name;
    }
}

TEST_P(Import, TheOtherPartysTaxIdAndRegistrationAsTheBooksListThem)
{
    struct Row {
        const char *name;
        TestNfe n;
        const char *document, *registration;  // "null": none
    };
    auto exit = [](const char *tag, const char *id, const char *indicator, const char *ie, const char *uf = "SP") {
        TestNfe n;
        n.recipientIdTag = tag;
        n.recipientTaxId = id;
        n.recipientIndicator = indicator;
        n.recipientIe = ie;
        n.recipientUf = uf;
        if (std::string(uf) == "EX")
            n.items[0].cfop = "7102";
        return n;
    };
    TestNfe consumer;
    consumer.model = "65";
    consumer.recipient = false;
    TestNfe purchase = received();
    Row rows[] = {
        {"a contributor", exit("CNPJ", "11222333000181", "1", "111222333444"), "11222333000181", "111222333444"},
        {"a contributor exempt of registration", exit("CNPJ", "11222333000181", "2", ""), "11222333000181", "ISENTO"},
        {"no contributor, whatever IE it states", exit("CPF", "12345678909", "9", "111222333444"), "12345678909", "null"},
        {"no indicator: the IE as stated", exit("CNPJ", "11222333000181", "", "111222333444"), "11222333000181",
         "111222333444"},
        {"abroad: no CNPJ/CPF", exit("idEstrangeiro", "A1234567", "9", "", "EX"), "null", "null"},
        {"a consumer not identified", consumer, "null", "null"},
        {"a document received: its issuer", purchase, "11222333000181", "111222333444"},
    };
    int number = 200;
    for (Row &r : rows) {
        r.n.number = ++number;
        r.n.Balanced();
        const ImportReport report = importText("p.xml", r.n.Xml());
        ASSERT_EQ(report.imported, 1) << r.name << report.Text();
        auto got = db_->Select(db_->Prepare("SELECT NRDOCPARTIC, NRIEPARTIC FROM NOTAFISCAL WHERE CDNOTAFISC = ?"),
                               {documentOf(r.n)});
        ASSERT_EQ(got.size(), 1u) << r.name;
        EXPECT_EQ(got[0][0].value_or("null"), r.document) << r.name;
        EXPECT_EQ(got[0][1].value_or("null"), r.registration) << r.name;
    }
}

TEST_P(Import, DatesAreDaysOfIssueAndOfMovement)
{
    struct Row {
        const char *version, *issued, *moved, *wantIssue, *wantMove;
    } rows[] = {
        {"4.00", "2027-01-31T23:30:00-03:00", "2027-02-01T08:00:00-03:00", "2027-01-31", "2027-02-01"},
        {"4.00", "2027-03-10T10:00:00-03:00", "", "2027-03-10", "2027-03-10"},
        {"3.10", "2027-04-05T09:00:00-03:00", "2027-04-06T07:00:00-03:00", "2027-04-05", "2027-04-06"},
        {"2.00", "2027-05-05", "2027-05-07", "2027-05-05", "2027-05-07"},
    };
    int number = 0;
    for (const Row &r : rows) {
        TestNfe n;
        n.number = ++number;
        n.version = r.version;
        n.issued = r.issued;
        n.moved = r.moved;
        ASSERT_EQ(importText("d.xml", n.Xml()).imported, 1);
        const std::string where = " FROM NOTAFISCAL WHERE CDNOTAFISC = " + documentOf(n);
        EXPECT_EQ(one("SELECT CAST(DTEMISSAO AS VARCHAR(10))" + where).substr(0, 10), r.wantIssue);
        EXPECT_EQ(one("SELECT CAST(DTENTRSAIDA AS VARCHAR(10))" + where).substr(0, 10), r.wantMove);
    }
}

TEST_P(Import, TheSameFileAgainChangesNothingAndSaysSo)
{
    TestNfe n;
    const std::string path = target_->Write("again.xml", n.Xml());
    EXPECT_EQ(import({path}).imported, 1);
    const ImportReport again = import({path});
    EXPECT_EQ(again.imported, 0);
    EXPECT_EQ(again.alreadyPresent, 1);
    EXPECT_NE(again.Text().find("Já presentes (nada mudou): 1"), std::string::npos);
    EXPECT_EQ(count("NOTAFISCAL"), 1);
    EXPECT_EQ(count("ITEMNOTAFISC"), 1);
}

TEST_P(Import, ACancellationCancelsItsDocumentWhicheverComesFirst)
{
    TestNfe before, after;
    before.number = 1;
    after.number = 2;
    // The event of `before` is read first; `after`'s comes once it is in.
    ImportReport r1 = import({target_->Write("a/1-cancel.xml", EventXml(before.Key())),
                              target_->Write("a/2-nfe.xml", before.Xml()), target_->Write("a/3-nfe.xml", after.Xml()),
                              target_->Write("a/4-cce.xml", EventXml(after.Key(), "110110"))});
    EXPECT_EQ(r1.imported, 2);
    EXPECT_EQ(r1.cancelledByEvent, 1);
    EXPECT_EQ(r1.eventsIgnored, 1);
    EXPECT_EQ(one("SELECT IDSITUACAO FROM NOTAFISCAL WHERE CDNOTAFISC = " + documentOf(before)), "C");
    EXPECT_EQ(one("SELECT IDSITUACAO FROM NOTAFISCAL WHERE CDNOTAFISC = " + documentOf(after)), "N");
    ImportReport r2 = importText("b/5-cancel.xml", EventXml(after.Key()));
    EXPECT_EQ(r2.cancelledByEvent, 1);
    EXPECT_EQ(one("SELECT IDSITUACAO FROM NOTAFISCAL WHERE CDNOTAFISC = " + documentOf(after)), "C");
    // Read again, it is counted once, as a cancellation applied before.
    const ImportReport r3 = importText("b/6-cancel.xml", EventXml(after.Key()));
    EXPECT_EQ(r3.cancellationsRepeated, 1);
    EXPECT_EQ(r3.alreadyPresent, 0);
    EXPECT_EQ(r3.cancelledByEvent, 0);
    EXPECT_NE(r3.Text().find("Cancelamentos já aplicados antes: 1"), std::string::npos) << r3.Text();
}

TEST_P(Import, BadFilesAreListedWithTheirReasonAndOthersStillImport)
{
    TestNfe good;
    TestNfe negative;
    negative.number = 2;
    negative.items[0].goods = "-100.00";
    const std::string folder = target_->Dir() + "/mixed";
    target_->Write("mixed/1.xml", good.Xml());
    target_->Write("mixed/2.xml", negative.Xml());
    target_->Write("mixed/3.xml", "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><x>&e;</x>");
    target_->Write("mixed/sub/4.XML", "<nfeProc");
    std::string open, close;
    for (int i = 0; i < 100000; ++i) {
        open += "<NFe>";
        close += "</NFe>";
    }
    target_->Write("mixed/sub/5.xml", "<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\">" + open + close + "</nfeProc>");
    target_->Write("mixed/leia-me.txt", "not read");
    const ImportReport report = import({folder});
    EXPECT_EQ(report.imported, 1);
    ASSERT_EQ(report.refused.size(), 4u) << report.Text();
    EXPECT_NE(report.refused[0].reason.find("negativo"), std::string::npos);
    EXPECT_NE(report.refused[1].reason.find("DTD"), std::string::npos);
    EXPECT_NE(report.refused[2].file.find("sub/4.XML"), std::string::npos);
    EXPECT_NE(report.refused[3].file.find("sub/5.xml"), std::string::npos);
    EXPECT_NE(report.refused[3].reason.find("aninhado em mais de 64 níveis"), std::string::npos) << report.Text();
    EXPECT_EQ(count("NOTAFISCAL"), 1);
}

TEST_P(Import, ADocumentThatFailsHalfWayLeavesNothing)
{
    if (!GetParam()->triggersInPlainSql)
        GTEST_SKIP() << "the engine's hook: no trigger in plain SQL";
    db_->Execute("CREATE TRIGGER FAIL_ITEM BEFORE INSERT ON ITEMNOTAFISC WHEN NEW.NRITEM = 2 AND NEW.CDCFOP = '5949' "
                 "BEGIN SELECT RAISE(ABORT, 'falha simulada'); END");
    TestNfe broken;
    broken.items = {TestItem{}, TestItem{}};
    broken.items[1].cfop = "5949";
    broken.items[1].code = "NOVO";  // would create a product too
    TestNfe fine;
    fine.number = 2;
    ImportReport report = import({target_->Write("1.xml", broken.Xml()), target_->Write("2.xml", fine.Xml())});
    EXPECT_EQ(report.imported, 1);
    ASSERT_EQ(report.refused.size(), 1u);
    EXPECT_NE(report.refused[0].reason.find("falha simulada"), std::string::npos);
    EXPECT_EQ(report.createdProducts.size(), 1u);  // the second document's, once
    EXPECT_EQ(documentOf(broken), "");
    EXPECT_EQ(count("NOTAFISCAL"), 1);
    EXPECT_EQ(count("ITEMNOTAFISC"), 1);
    EXPECT_EQ(one("SELECT CAST(COUNT(*) AS VARCHAR(9)) FROM PRODUTOPARTIC WHERE CDPRODPARTIC = 'NOVO'"), "0");
}

TEST_P(Import, CancelStopsBetweenDocumentsAndKeepsWhatWasWritten)
{
    std::vector<std::string> paths;
    for (int i = 1; i <= 5; ++i) {
        TestNfe n;
        n.number = i;
        paths.push_back(target_->Write(std::to_string(i) + ".xml", n.Xml()));
    }
    ImportOptions options;
    std::vector<long> seen;
    options.progress = [&](const ImportProgress &p) {
        seen.push_back(p.documents);
        EXPECT_EQ(p.filesTotal, 5u);
        return p.documents < 2;
    };
    const ImportReport report = import(paths, options);
    EXPECT_TRUE(report.cancelled);
    EXPECT_EQ(report.imported, 2);
    EXPECT_EQ(seen, (std::vector<long>{1, 2}));
    EXPECT_EQ(count("NOTAFISCAL"), 2);
    EXPECT_EQ(import(paths).imported, 3);
}

TEST_P(Import, AKilledImportLeavesWholeDocumentsAndCanBeRerun)
{
    std::vector<std::string> paths;
    for (int i = 1; i <= 12; ++i) {
        TestNfe n;
        n.number = i;
        n.items = std::vector<TestItem>(static_cast<std::size_t>(i), TestItem{});
        n.total = "";
        paths.push_back(target_->Write(std::to_string(100 + i) + ".xml", n.Xml()));
    }
    db_.reset();
    const pid_t child = fork();
    if (child == 0) {
        auto db = target_->Open();
        ImportOptions options;
        options.documentsPerCommit = 3;
        options.progress = [](const ImportProgress &p) {
            if (p.documents == 8)
                ::kill(::getpid(), SIGKILL);
            return true;
        };
        ImportFiles(*db, paths, options);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    db_ = target_->Open();
    // Two commits of three went through; every document kept is whole.
    EXPECT_EQ(count("NOTAFISCAL"), 6);
    EXPECT_EQ(one("SELECT CAST(COUNT(*) AS VARCHAR(9)) FROM NOTAFISCAL N WHERE N.CDNOTAFISC IN (SELECT CDNOTAFISC FROM "
                  "NFECHAVE) AND N.NRNOTAFISC <> (SELECT COUNT(*) FROM ITEMNOTAFISC I WHERE I.CDNOTAFISC = N.CDNOTAFISC)"),
              "0");
    const ImportReport rerun = import(paths);
    EXPECT_EQ(rerun.imported, 6);
    EXPECT_EQ(rerun.alreadyPresent, 6);
    EXPECT_EQ(count("ITEMNOTAFISC"), 78);
}

INSTANTIATE_TEST_SUITE_P(Engines, Import, ::testing::Values(&kImportSqlite, &kImportFirebird, &kImportPostgresql),
                         [](const auto &info) { return std::string(info.param->label); });

} // namespace
