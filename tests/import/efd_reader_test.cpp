// The EFD reader on its own: field counts by layout version, the file's
// number and date forms, its text encodings, and where reading stops.
#include "import/efd.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class TextStream : public SourceStream {
public:
    explicit TextStream(std::string text) : text_(std::move(text)) {}
    std::optional<std::uint64_t> DeclaredSize() const override { return text_.size(); }
    bool InArchive() const override { return false; }

protected:
    std::size_t ReadMore(char *data, std::size_t size) override
    {
        const std::size_t n = std::min(size, text_.size() - at_);
        std::memcpy(data, text_.data() + at_, n);
        at_ += n;
        return n;
    }

private:
    std::string text_;
    std::size_t at_ = 0;
};

struct Collect : EfdHandler {
    std::vector<EfdDocument> documents;
    EfdTables tables;
    EfdTotals totals;
    bool Document(const EfdDocument &d, const EfdTables &t) override
    {
        documents.push_back(d);
        tables = t;
        return true;
    }
    void Closed(const EfdTotals &t) override { totals = t; }
};

std::string file(const std::string &version, const std::vector<std::string> &body)
{
    std::string s = "|0000|" + version + "|0|01032027|31032027|Empresa|12345678000195||SP|110042490114|3550308|||A|1|\n";
    for (const std::string &l : body)
        s += l + "\n";
    return s + "|9999|" + std::to_string(body.size() + 2) + "|\n";
}

std::string empties(int n) { return std::string(static_cast<std::size_t>(n), '|'); }

// A C500 of `fields` fields (REG included), its amounts empty.
std::string c500(int fields)
{
    return "|C500|0|1||06|00|||1|7|10032027|12032027|300,00" + empties(fields - 13) + "|";
}

EfdOutcome read(const std::string &text, Collect &c, EfdFault &fault)
{
    TextStream in(text);
    return ReadEfd(in, SourceLimits{}, c, fault);
}

TEST(EfdReader, FieldCountsFollowTheLayoutVersionOfTheFile)
{
    struct Case {
        const char *version;
        int fields;
        bool read;
    } cases[] = {
        {"013", 27, true},  {"013", 33, false}, {"014", 33, true}, {"014", 27, false},
        {"015", 33, true},  {"015", 40, false}, {"016", 40, true}, {"016", 33, false},
        {"017", 40, true},  {"017", 33, false}, {"020", 40, true},
    };
    for (const Case &k : cases) {
        Collect c;
        EfdFault fault;
        const EfdOutcome o = read(file(k.version, {c500(k.fields)}), c, fault);
        EXPECT_EQ(o == EfdOutcome::Read, k.read) << k.version << " " << k.fields << ": " << fault.reason;
        if (!k.read) {
            EXPECT_EQ(fault.Place().rfind("linha 2, registro C500", 0), 0u) << fault.Place();
        }
    }
}

TEST(EfdReader, AmountsAndDatesAreTakenOnlyInTheFilesOwnForms)
{
    struct Case {
        const char *amount, *date;
        bool read;
        Cents total;
    } cases[] = {
        {"1234,56", "10032027", true, 123456}, {"0", "10032027", true, 0},        {"12,5", "10032027", true, 1250},
        {"1.234,56", "10032027", false, 0},    {"12a", "10032027", false, 0},     {"1234,56", "29022027", false, 0},
        {"1234,56", "29022028", true, 123456}, {"1234,56", "2027-03-10", false, 0},
    };
    for (const Case &k : cases) {
        Collect c;
        EfdFault fault;
        const std::string line = std::string("|C500|0|1||06|00|||1|7|") + k.date + "|12032027|" + k.amount + empties(27) + "|";
        const EfdOutcome o = read(file("017", {line}), c, fault);
        ASSERT_EQ(o == EfdOutcome::Read, k.read) << k.amount << " " << k.date << ": " << fault.Place() << " " << fault.reason;
        if (k.read) {
            EXPECT_EQ(c.documents.at(0).total, k.total);
        }
    }
}

TEST(EfdReader, NamesAreLatin1AsFiledOrUtf8AndReadingStopsAtTheClosingRecord)
{
    Collect c;
    EfdFault fault;
    std::string text = file("017", {"|0150|A|Jo\xE3o Ltda|1058||||||||||", "|0150|B|Jos\xC3\xA9 Ltda|1058||||||||||",
                                    "|1010|N|N|N|N|N|N|N|N|N|N|N|N|N|", c500(40)});
    text += std::string("\x30\x82\x05\x00binary signature\n|this is not a record\n", 37);
    const EfdOutcome o = read(text, c, fault);
    ASSERT_EQ(o, EfdOutcome::Read) << fault.Place() << " " << fault.reason;
    EXPECT_EQ(c.tables.participants.at("A").name, "Jo\xC3\xA3o Ltda");
    EXPECT_EQ(c.tables.participants.at("B").name, "Jos\xC3\xA9 Ltda");
    EXPECT_EQ(c.totals.skipped, 1);  // 1010: read past, counted
    EXPECT_EQ(c.totals.closingLine, 6);
    EXPECT_EQ(c.documents.size(), 1u);
}

TEST(EfdReader, TheApuracaoCountsEachCfopOnItsSideWithTheTransfersOfBalance)
{
    struct Case {
        const char *cfop;
        bool debit, credit;
    } cases[] = {
        {"5102", true, false}, {"6108", true, false},  {"7101", true, false}, {"1102", false, true},
        {"2403", false, true}, {"3102", false, true},  {"5605", false, true}, {"1605", true, false},
        {"5929", false, false}, {"6929", false, false},
    };
    for (const Case &k : cases) {
        EXPECT_EQ(EfdDebitCfop(k.cfop), k.debit) << k.cfop;
        EXPECT_EQ(EfdCreditCfop(k.cfop), k.credit) << k.cfop;
    }
}

// Each refusal names the line, the record and the field where the file went wrong.
TEST(EfdReader, EachRefusalNamesItsLineRecordAndField)
{
    const std::string part = "|0150|F1|Fornecedor|1058|11222333000181||111222333444|3550308||||||";
    const std::string item = "|0200|A1|Parafuso|||UN|00|||||||";
    const std::string c100 = "|C100|0|1|F1|55|00|1|7001||02032027|04032027|100,00|0|0,00|0,00|100,00|9|0,00|0,00|0,00|"
                             "0,00|0,00|0,00|0,00|0,00|0,00|0,00|0,00|0,00|";
    auto with = [&](std::string line, int field, const std::string &value) {
        std::size_t at = 0;
        for (int n = 0; n < field; ++n)
            at = line.find('|', at) + 1;
        line.replace(at, line.find('|', at) - at, value);
        return line;
    };
    struct Case {
        const char *what;
        std::vector<std::string> body;
        std::string place, reason;
    } cases[] = {
        {"item outside its document", {item, "|C170|1|A1||1|UN|1,00|0|0|000|1102||0|0|0|0|0|0|0|||0|0|0|||||||||||||||"},
         "linha 3, registro C170", "fora de um C100"},
        {"participant without 0150", {with(c100, 4, "XX")}, "linha 2, registro C100, campo COD_PART", "sem registro 0150"},
        {"item without 0200", {part, c100, "|C170|1|ZZ||1|UN|1,00|0|0|000|1102||0|0|0|0|0|0|0|||0|0|0|||||||||||||||"},
         "linha 4, registro C170, campo COD_ITEM", "sem registro 0200"},
        {"short access key", {part, with(c100, 9, std::string(43, '1'))}, "linha 3, registro C100, campo CHV_NFE",
         "43 dígitos"},
        {"situation of one digit", {part, with(c100, 6, "2")}, "linha 3, registro C100, campo COD_SIT",
         "situação inválida"},
        {"number missing", {part, with(c100, 8, "")}, "linha 3, registro C100, campo NUM_DOC", "número inválido"},
        {"impossible date", {part, with(c100, 10, "31042027")}, "linha 3, registro C100, campo DT_DOC",
         "data inválida"},
        {"amount with a point", {part, with(c100, 12, "100.00")}, "linha 3, registro C100, campo VL_DOC",
         "valor não numérico"},
        {"CFOP of letters", {part, c100, "|C190|000|51A2|18,00|100,00|0|0|0|0|0|0||"},
         "linha 4, registro C190, campo CFOP", "CFOP inválido"},
        {"adjustment outside its apuração", {"|E111|SP019999|x|1,00|"}, "linha 2, registro E111", "fora de um E110"},
        {"second 0000", {"|0000|017|0|01032027|31032027|X|1||SP|1|3550308|||A|1|"}, "linha 2, registro 0000",
         "repetido"},
        {"record name of three letters", {"|C10|1|"}, "linha 2, registro C10", "registro desconhecido"},
        {"line without its bars", {"C100|1|"}, "linha 2", "fora do formato"},
        {"too many fields", {"|C590|000|1253|18,00|300,00|300,00|54,00|0,00|0,00|0,00|||"}, "linha 2, registro C590",
         "12 campos, o leiaute 017 pede 11"},
    };
    for (const Case &k : cases) {
        Collect c;
        EfdFault fault;
        ASSERT_EQ(read(file("017", k.body), c, fault), EfdOutcome::Failed) << k.what;
        EXPECT_EQ(fault.Place(), k.place) << k.what << ": " << fault.reason;
        EXPECT_NE(fault.reason.find(k.reason), std::string::npos) << k.what << ": " << fault.reason;
    }
}

TEST(EfdReader, TheFileItselfIsRefusedWhereItsOpeningRecordIsWrong)
{
    struct Case {
        const char *what, *text, *place, *reason;
    } cases[] = {
        {"first record not 0000", "|0001|0|\n|9999|2|\n", "linha 1, registro 0001", "não começa pelo registro 0000"},
        {"period backwards", "|0000|017|0|31032027|01032027|X|1||SP|1|3550308|||A|1|\n|9999|2|\n",
         "linha 1, registro 0000, campo DT_FIN", "termina antes de começar"},
        {"no state registration", "|0000|017|0|01032027|31032027|X|1||SP||3550308|||A|1|\n|9999|2|\n",
         "linha 1, registro 0000, campo IE", "inscrição estadual"},
        {"layout newer than read", "|0000|021|0|01032027|31032027|X|1||SP|1|3550308|||A|1|\n|9999|2|\n",
         "linha 1, registro 0000, campo COD_VER", "não suportada"},
        {"empty line", "|0000|017|0|01032027|31032027|X|1||SP|1|3550308|||A|1|\n\n|9999|3|\n", "linha 2", "linha vazia"},
    };
    for (const Case &k : cases) {
        Collect c;
        EfdFault fault;
        ASSERT_EQ(read(k.text, c, fault), EfdOutcome::Failed) << k.what;
        EXPECT_EQ(fault.Place(), k.place) << k.what << ": " << fault.reason;
        EXPECT_NE(fault.reason.find(k.reason), std::string::npos) << k.what << ": " << fault.reason;
    }
}

TEST(EfdReader, FieldCountsComeFromOneTableForTheReaderAndTheWriter)
{
    struct Case {
        const char *record;
        int layout;
        std::size_t fields;
    } cases[] = {
        {"C100", 12, 29}, {"C170", 13, 37}, {"C170", 14, 38}, {"C190", 20, 12}, {"C500", 13, 27}, {"C500", 14, 33},
        {"C500", 16, 40}, {"C590", 17, 11}, {"D100", 17, 25}, {"D190", 17, 9},  {"E110", 17, 15}, {"E116", 17, 10},
        {"0000", 17, 15}, {"1010", 17, 0},
    };
    for (const Case &k : cases)
        EXPECT_EQ(EfdFieldCount(k.record, k.layout), k.fields) << k.record << " " << k.layout;
}

} // namespace
