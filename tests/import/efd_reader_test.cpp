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
        {"016", 33, true},  {"017", 40, true},  {"017", 33, false}, {"020", 40, true},
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

} // namespace
