// The import's format seam: readers chosen by content, many documents from
// one stream, files no reader takes, streams longer than any whole-text
// limit; and the booking of what an invoice never has (documents without
// key, items without product, the company's own CFOPs, situations). A small
// text-records format, known only here, stands for a second format.
#include "import/importer.h"
#include "import_case.h"
#include "nfe_builder.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstring>
#include <fstream>

namespace {

// One record a line, fields between bars:
//   |TEST|                      first line: the format's mark
//   |DOC|key|model|series|number|E or S|R, C, D or U|issued|moved|issuer's doc|name|IE|UF|
//        recipient's doc|name|IE|UF|I or C (whose CFOPs)|total in cents|
//   |ITEM|code (empty: none)|name|CFOP|value|CST|ICMS base|rate|ICMS|ST base|ST|IPI|
//   |9999|                      the end: the last document is complete
// anything else is a note and skipped. Amounts are cents, the rate hundredths.
class RecordsReader : public DocumentReader {
public:
    bool Recognises(std::string_view head) const override { return head.substr(0, 6) == "|TEST|"; }

    bool Read(SourceStream &in, const std::string &name, const SourceLimits &limits, DocumentSink &sink) const override
    {
        std::optional<FiscalDocument> doc;
        std::string place;
        bool go = true;
        auto flush = [&] {
            if (doc)
                go = sink.Document(place, *doc);
            doc.reset();
            return go;
        };
        const bool read = ReadLines(in, limits.lineBytes, [&](std::string_view line, long number) {
            // Notes are skipped unparsed: a long file of them costs no memory.
            if (line.rfind("|9999|", 0) == 0)
                return flush();
            if (line.rfind("|DOC|", 0) == 0) {
                if (!flush())
                    return false;
                const std::vector<std::string> f = fields(line);
                if (f.size() < 19)
                    return go = sink.Refusal(name + ", linha " + std::to_string(number), "DOC", "registro incompleto");
                doc = header(f);
                place = name + ", linha " + std::to_string(number);
            } else if (line.rfind("|ITEM|", 0) == 0 && doc) {
                if (const std::vector<std::string> f = fields(line); f.size() >= 12)
                    doc->items.push_back(item(f, static_cast<int>(doc->items.size()) + 1));
            }
            return true;
        });
        return read && go && (in.Problem().empty() ? flush() : true);
    }

    std::string FieldName(DocumentField field, int item) const override
    {
        switch (field) {
        case DocumentField::Registration: return "DOC IE";
        case DocumentField::Direction: return "DOC direção";
        case DocumentField::ItemCfop: return "ITEM " + std::to_string(item) + " CFOP";
        default: return "DOC";
        }
        return {};
    }

private:
    static std::vector<std::string> fields(std::string_view line)
    {
        std::vector<std::string> out;
        if (line.empty() || line[0] != '|')
            return out;
        line.remove_prefix(1);
        for (std::size_t bar; (bar = line.find('|')) != std::string_view::npos; line.remove_prefix(bar + 1))
            out.emplace_back(line.substr(0, bar));
        return out;
    }
    static FiscalDocument header(const std::vector<std::string> &f)
    {
        FiscalDocument d;
        FiscalHeader &h = d.header;
        h.key = f[1];
        h.model = f[2];
        h.series = f[3];
        h.number = std::stol(f[4]);
        h.direction = f[5] == "E" ? Direction::Entry : Direction::Exit;
        h.situation = f[6] == "C" ? Situation::Cancelled : f[6] == "D" ? Situation::Denied
                      : f[6] == "U" ? Situation::Unused : Situation::Regular;
        h.issueDate = f[7];
        h.moveDate = f[8];
        d.issuer = {f[9], f[10], f[11], "", f[12]};
        if (!f[13].empty() || !f[15].empty())
            d.recipient = FiscalParty{f[13], f[14], f[15], "", f[16]};
        d.codesFrom = f[17] == "C" ? CodesFrom::Company : CodesFrom::Issuer;
        d.total = std::stoll(f[18]);
        return d;
    }
    static FiscalItem item(const std::vector<std::string> &f, int number)
    {
        FiscalItem it;
        it.number = number;
        if (!f[1].empty())
            it.product = FiscalProduct{f[1], f[2]};
        it.cfop = f[3];
        it.accountingValue = it.goods = std::stoll(f[4]);
        it.taxes.push_back({TaxCode::Icms, f[5], std::stoll(f[6]), std::stoll(f[8]), std::stoll(f[7]), true});
        if (std::stoll(f[10]))
            it.taxes.push_back({TaxCode::IcmsSt, {}, std::stoll(f[9]), std::stoll(f[10]), 0, true});
        if (std::stoll(f[11]))
            it.taxes.push_back({TaxCode::Ipi, {}, 0, std::stoll(f[11]), 0, true});
        return it;
    }
};

const RecordsReader kRecords;

// Company 01 selling to a customer, unless told otherwise.
struct TestRecord {
    std::string key, model = "01", series = "T9";
    long number = 1;
    std::string direction = "S", situation = "R", issued = "2027-02-10", moved = "2027-02-10";
    std::string issuer = "12345678000195|Empresa Teste Ltda|110042490114|SP";
    std::string recipient = "11222333000181|Cliente Um Ltda|111222333444|SP";
    std::string codesFrom = "I";
    std::vector<std::string> items{"|P1|Produto|5102|10000|00|10000|1800|1800|0|0|0|"};

    std::string Text() const
    {
        Cents total = 0;
        for (const std::string &i : items) {
            std::size_t at = 0;
            for (int bar = 0; bar < 4; ++bar)
                at = i.find('|', at) + 1;
            total += std::stoll(i.substr(at));
        }
        std::string t = "|DOC|" + key + "|" + model + "|" + series + "|" + std::to_string(number) + "|" + direction + "|" +
                        situation + "|" + issued + "|" + moved + "|" + issuer + "|" + recipient + "|" + codesFrom + "|" +
                        std::to_string(total) + "|\n";
        for (const std::string &i : items)
            t += "|ITEM" + i + "\n";
        return t;
    }
};

// A supplier's document received by company 02, as company 02's own books state it.
TestRecord booked()
{
    TestRecord r;
    r.direction = "S";
    r.issuer = "11222333000181|Fornecedor Um Ltda|111222333444|SP";
    r.recipient = "22333444000172|Outra Empresa S.A.|244123456119|SP";
    r.codesFrom = "C";
    r.items = {"|P1|Produto|1102|10000|00|10000|1800|1800|0|0|0|"};
    return r;
}

std::string file(const std::vector<TestRecord> &records, const std::string &notes = {})
{
    std::string t = "|TEST|\n" + notes;
    for (const TestRecord &r : records)
        t += r.Text();
    return t + "|9999|\n";
}

// Peak resident memory of the process, in kB.
long peakKb()
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

class Seam : public ImportCase {
protected:
    void SetUp() override
    {
        ImportCase::SetUp();
        if (db_)
            clean();
    }
    void TearDown() override
    {
        if (db_)
            clean();
    }
    // Documents without key are not the import target's to remove.
    void clean()
    {
        for (const char *table : {"IMPOSTOITEMNF", "ITEMNOTAFISC", "NOTAFISCAL"})
            db_->Execute(std::string("DELETE FROM ") + table +
                         " WHERE CDNOTAFISC IN (SELECT CDNOTAFISC FROM NOTAFISCAL WHERE CDSERIE = 'T9')");
    }

    ImportReport import(const std::vector<std::string> &paths, ImportOptions options = {})
    {
        options.readers = DocumentReaders();
        options.readers.insert(options.readers.begin(), &kRecords);
        return ImportFiles(*db_, paths, options);
    }
    ImportReport importText(const std::string &name, const std::string &text) { return import({target_->Write(name, text)}); }
    long count(const std::string &sql) { return std::stol(one("SELECT CAST(COUNT(*) AS VARCHAR(20)) " + sql)); }
    long ours() { return count("FROM NOTAFISCAL WHERE CDSERIE = 'T9'"); }
    std::string zip(const std::string &name, const std::string &entry, const std::string &text)
    {
        const std::string path = target_->Dir() + "/" + name;
        int error = 0;
        zip_t *z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        zip_file_add(z, entry.c_str(), zip_source_buffer(z, text.data(), text.size(), 0), ZIP_FL_ENC_UTF_8);
        EXPECT_EQ(zip_close(z), 0);
        return path;
    }
};

TEST_P(Seam, EachFileGoesToTheReaderOfWhatItHoldsWhateverItsName)
{
    TestRecord second;
    second.number = 2;
    TestRecord third;
    third.number = 3;
    const ImportReport report = import({target_->Write("in/1-registros.xml", file({TestRecord{}})),
                                        target_->Write("in/2-nota.txt", TestNfe().Xml()),
                                        target_->Write("in/3-leia-me.xml", "Notas de janeiro.\n"),
                                        target_->Write("in/4-vazio", ""),
                                        zip("in/5-lote.zip", "registros.dat", file({second})),
                                        zip("in/6-dentro.bin", "nada.zip", std::string("PK\x03\x04", 4) + "resto"),
                                        target_->Write("in/7-registros", file({third}))});
    EXPECT_EQ(report.imported, 4) << report.Text();
    // An archive inside an archive is opened: this one is broken.
    ASSERT_EQ(report.refused.size(), 1u) << report.Text();
    EXPECT_NE(report.refused[0].file.find("6-dentro.bin:nada.zip"), std::string::npos);
    EXPECT_NE(report.refused[0].reason.find("ZIP dentro do ZIP ilegível"), std::string::npos);
    ASSERT_EQ(report.unrecognised.size(), 2u) << report.Text();
    EXPECT_NE(report.unrecognised[0].find("3-leia-me.xml"), std::string::npos);
    EXPECT_NE(report.unrecognised[1].find("4-vazio"), std::string::npos);
    EXPECT_NE(report.Text().find("Arquivos que não são documentos fiscais: 2\n  " + report.unrecognised[0]),
              std::string::npos)
        << report.Text();
    EXPECT_EQ(ours(), 3);
}

TEST_P(Seam, OneFileHoldsManyDocumentsEachNamedByItsLineAndBookedAlone)
{
    std::vector<TestRecord> records(5);
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i].number = static_cast<long>(i) + 1;
    records[2].issuer = "99888777000166|Ninguém|999999999999|SP";  // no company's
    records[3].items.push_back("|P2|Outro|1102|500|00|0|0|0|0|0|0|");  // an entry CFOP on an exit
    const std::string path = target_->Write("lote.txt", file(records, "|NOTE|um comentário|\n"));
    const ImportReport report = import({path});
    EXPECT_EQ(report.imported, 3);
    ASSERT_EQ(report.refused.size(), 2u) << report.Text();
    EXPECT_EQ(report.refused[0].file, path + ", linha 7");
    EXPECT_EQ(report.refused[0].field, "DOC IE");
    EXPECT_EQ(report.refused[1].file, path + ", linha 9");
    EXPECT_EQ(report.refused[1].field, "ITEM 2 CFOP");
    EXPECT_NE(report.refused[1].reason.find("de entrada em documento de saída"), std::string::npos);
    EXPECT_EQ(ours(), 3);

    // Cancelling between documents stops inside the file.
    clean();
    ImportOptions options;
    options.progress = [](const ImportProgress &p) { return p.documents < 2; };
    const ImportReport stopped = import({path}, options);
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(stopped.imported, 2);
    EXPECT_EQ(ours(), 2);
}

TEST_P(Seam, ADocumentWithoutKeyIsARepeatByItsIdentity)
{
    TestRecord base;
    auto with = [&](auto change) {
        TestRecord r = base;
        change(r);
        return r;
    };
    struct Row {
        const char *name;
        TestRecord record;
        bool repeat;
    } rows[] = {
        {"the same again", base, true},
        {"another number", with([](TestRecord &r) { r.number = 2; }), false},
        {"another model", with([](TestRecord &r) { r.model = "02"; }), false},
        {"another participant", with([](TestRecord &r) { r.recipient = "33444555000190|Cliente Dois|222333444555|SP"; }), false},
        {"another issue day", with([](TestRecord &r) { r.issued = "2027-02-09"; }), false},
        {"issued by the other company", with([](TestRecord &r) { r.issuer = "22333444000172|Outra Empresa S.A.|244123456119|SP"; }),
         false},
    };
    ASSERT_EQ(importText("base.txt", file({base})).imported, 1);
    for (const Row &r : rows) {
        const long before = ours();
        const ImportReport report = importText("again.txt", file({r.record}));
        EXPECT_EQ(report.alreadyPresent, r.repeat ? 1 : 0) << r.name << '\n' << report.Text();
        EXPECT_EQ(report.imported, r.repeat ? 0 : 1) << r.name;
        EXPECT_EQ(ours(), before + (r.repeat ? 0 : 1)) << r.name;
        // Read again, each is a repeat.
        EXPECT_EQ(importText("again.txt", file({r.record})).alreadyPresent, 1) << r.name;
    }
    EXPECT_EQ(count("FROM NFECHAVE"), 0);
}

TEST_P(Seam, SituationsOtherThanRegularAreBookedCancelledAndTheirKeyKept)
{
    struct Row {
        const char *situation, *booked, *keyCancelled;
    } rows[] = {{"R", "N", "N"}, {"C", "C", "S"}, {"D", "C", "S"}, {"U", "C", "S"}};
    long number = 0;
    for (const Row &r : rows) {
        TestRecord rec;
        rec.number = ++number;
        rec.situation = r.situation;
        rec.key = "352702123456780001955500100000000" + std::to_string(1000000000 + number).substr(0, 10) + "1";
        ASSERT_EQ(rec.key.size(), 44u);
        ASSERT_EQ(importText("s.txt", file({rec})).imported, 1) << r.situation;
        const std::string id = one("SELECT CAST(CDNOTAFISC AS VARCHAR(20)) FROM NFECHAVE WHERE CHNFE = ?", {rec.key});
        EXPECT_EQ(one("SELECT IDSITUACAO FROM NOTAFISCAL WHERE CDNOTAFISC = " + id), r.booked) << r.situation;
        EXPECT_EQ(one("SELECT IDCANCELADA FROM NFECHAVE WHERE CHNFE = ?", {rec.key}), r.keyCancelled) << r.situation;
        EXPECT_EQ(importText("s.txt", file({rec})).alreadyPresent, 1) << r.situation;
    }
}

// A bookkeeping file's received document: analytical lines without product,
// CFOPs already the company's entry ones, each line's ICMS by its CST.
TEST_P(Seam, AnalyticalLinesAreItemsWithoutProductUnderTheCompanysOwnCfops)
{
    TestRecord received = booked();
    received.items = {"||Linha 1|1102|10000|00|10000|1800|1800|0|0|0|",
                      "||Linha 2|1403|11720|10|10000|1800|1800|14000|720|1000|",
                      "||Linha 3|1102|5000|40|0|0|0|0|0|0|"};
    const ImportReport report = importText("analitico.txt", file({received}));
    ASSERT_EQ(report.imported, 1) << report.Text();
    ASSERT_EQ(report.createdProducts.size(), 1u) << report.Text();
    const ImportedProduct &p = report.createdProducts[0];
    EXPECT_EQ(p.treeCode, "99.00.0001");
    EXPECT_EQ(p.theirCode, "");
    EXPECT_NE(report.Text().find("99.00.0001 (" + p.code + ") Item de registro analítico (sem produto)\n"), std::string::npos)
        << report.Text();

    const std::string doc = one("SELECT CAST(CDNOTAFISC AS VARCHAR(20)) FROM NOTAFISCAL WHERE CDSERIE = 'T9'");
    EXPECT_EQ(one("SELECT CDEMPRESA FROM NOTAFISCAL WHERE CDNOTAFISC = " + doc), "02");
    EXPECT_EQ(one("SELECT IDENTRSAIDA FROM NOTAFISCAL WHERE CDNOTAFISC = " + doc), "E");
    EXPECT_EQ(count("FROM ITEMNOTAFISC WHERE CDNOTAFISC = " + doc + " AND CDPRODUTO = '" + p.code + "'"), 3);
    struct Line {
        int item;
        const char *cfop;
        // ICMS row: base, tax, exempt, other, ST
        const char *icms;
    } lines[] = {
        {1, "1102", "100.00 18.00 0.00 0.00 0.00"},
        {2, "1403", "0.00 0.00 0.00 100.00 7.20"},  // no credit under substitution
        {3, "1102", "0.00 0.00 50.00 0.00 0.00"},
    };
    for (const Line &l : lines) {
        const std::string where = " WHERE CDNOTAFISC = " + doc + " AND NRITEM = " + std::to_string(l.item);
        EXPECT_EQ(one("SELECT CDCFOP FROM ITEMNOTAFISC" + where), l.cfop) << l.item;
        auto rows = db_->Select(db_->Prepare("SELECT CAST(VLBASECALC AS VARCHAR(20)), CAST(VLIMPOSTO AS VARCHAR(20)), "
                                             "CAST(VLISENTO AS VARCHAR(20)), CAST(VLOUTROS AS VARCHAR(20)), "
                                             "CAST(VLIMPOSTOST AS VARCHAR(20)) FROM IMPOSTOITEMNF" + where +
                                             " AND CDIMPOSTONFE = '01'"),
                                {});
        ASSERT_EQ(rows.size(), 1u) << l.item;
        std::string got;
        for (const auto &cell : rows[0])
            got += (got.empty() ? "" : " ") + DecimalText(*ParseDecimal(*cell, 2), 2);
        EXPECT_EQ(got, l.icms) << l.item;
    }

    // A second file of lines: the same product, not created again.
    TestRecord later = booked();
    later.number = 2;
    later.items = {"||Linha|1102|100|00|0|0|0|0|0|0|"};
    EXPECT_TRUE(importText("mais.txt", file({later})).createdProducts.empty());

    // The issuer's exit CFOP in the company's books is a mistake, not converted.
    TestRecord wrong = booked();
    wrong.number = 3;
    wrong.items = {"||Linha|5102|100|00|0|0|0|0|0|0|"};
    const ImportReport refused = importText("errado.txt", file({wrong}));
    ASSERT_EQ(refused.refused.size(), 1u);
    EXPECT_EQ(refused.refused[0].field, "ITEM 1 CFOP");
    EXPECT_NE(refused.refused[0].reason.find("CFOP 5102 de saída em documento de entrada"), std::string::npos);
}

// The whole-text limit is the XML reader's; a records reader goes line by
// line through a file far past it, from a file or an archive entry, in
// memory that does not grow with it.
TEST_P(Seam, AStreamFarPastTheWholeTextLimitIsReadLineByLine)
{
    TestRecord first, last;
    last.number = 2;
    const std::string notes(200, 'n');
    const std::string path = target_->Dir() + "/grande.txt";
    {
        std::ofstream out(path, std::ios::binary);
        out << "|TEST|\n" << first.Text();
        for (int i = 0; i < 200000; ++i)
            out << "|NOTE|" << notes << "|\n";
        out << last.Text() << "|9999|\n";
    }
    ImportOptions options;
    options.limits.fileBytes = 1 << 20;
    const long peakBefore = peakKb();
    const ImportReport report = import({path}, options);
    EXPECT_EQ(report.imported, 2) << report.Text();
    EXPECT_TRUE(report.refused.empty()) << report.Text();
    EXPECT_LT(peakKb() - peakBefore, 20 * 1024) << "a 40 MB file read in memory";

    // The same from a ZIP entry; then a line past its limit stops the file
    // there, what came before it booked.
    clean();
    std::string text = "|TEST|\n" + first.Text();
    for (int i = 0; i < 20000; ++i)
        text += "|NOTE|" + notes + "|\n";
    text += last.Text();
    options.limits.lineBytes = 1000;
    const std::string zipped = zip("grande.zip", "grande.txt", text + "|9999|\n|NOTE|" + std::string(2000, 'x') + "|\n");
    const ImportReport stopped = import({zipped}, options);
    EXPECT_EQ(stopped.imported, 2) << stopped.Text();
    ASSERT_EQ(stopped.refused.size(), 1u) << stopped.Text();
    EXPECT_EQ(stopped.refused[0].file, zipped + ":grande.txt");
    EXPECT_NE(stopped.refused[0].reason.find("linha 20007 maior que o limite de 1000 bytes"), std::string::npos)
        << stopped.refused[0].reason;
}

// The named taxes are the rows of the database's tax table.
TEST_P(Seam, EachNamedTaxIsItsRowOfTheTaxTable)
{
    const std::pair<TaxCode, const char *> taxes[] = {
        {TaxCode::Icms, "ICMS"},     {TaxCode::Iss, "ISS"},        {TaxCode::Ipi, "IPI"}, {TaxCode::Pis, "PIS"},
        {TaxCode::Cofins, "COFINS"}, {TaxCode::IcmsSt, "ICMS-ST"}, {TaxCode::Fcp, "FCP"}, {TaxCode::Fee, "TAXA"}};
    for (const auto &[code, name] : taxes)
        EXPECT_EQ(one("SELECT SGIMPOSTONFE FROM IMPOSTONFE WHERE CDIMPOSTONFE = ?", {std::string(TaxTableCode(code))}), name);
}

INSTANTIATE_TEST_SUITE_P(Engines, Seam, ::testing::Values(&kImportSqlite, &kImportFirebird, &kImportPostgresql),
                         [](const auto &info) { return std::string(info.param->label); });

// What the NF-e reader takes: any XML, as pugixml would read it, and nothing else.
TEST(NfeXmlRecognition, AnyXmlTextAndNothingElse)
{
    const DocumentReader *xml = DocumentReaders().front();
    struct Row {
        const char *name;
        std::string head;
        bool xml;
    } rows[] = {
        {"declaration", "<?xml version=\"1.0\"?><nfeProc>", true},
        {"no declaration, blanks first", "\r\n\t <NFe>", true},
        {"UTF-8 mark", "\xEF\xBB\xBF<?xml", true},
        {"UTF-16 little-endian", std::string("\xFF\xFE<\0?\0x\0", 8), true},
        {"UTF-16 big-endian, no mark", std::string("\0<\0?", 4), true},
        {"records", "|0000|017|0|", false},
        {"PDF", "%PDF-1.4", false},
        {"text", "Notas <de> janeiro", false},
        {"empty", "", false},
        {"blanks only", "   \n", false},
    };
    for (const Row &r : rows)
        EXPECT_EQ(xml->Recognises(r.head), r.xml) << r.name;
}

} // namespace
