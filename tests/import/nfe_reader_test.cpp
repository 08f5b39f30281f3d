// The reader alone: what it takes from a document, and every text it refuses.
#include "import/amounts.h"
#include "import/nfe.h"
#include "nfe_builder.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

NfeContent read(const std::string &xml) { return ReadNfe(xml.data(), xml.size()); }

// `levels` elements nested one in another.
std::string nested(int levels)
{
    std::string open, close;
    for (int i = 0; i < levels; ++i) {
        open += "<a>";
        close += "</a>";
    }
    return open + close;
}

std::string replaced(std::string s, const std::string &from, const std::string &to)
{
    const auto at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        s.replace(at, from.size(), to);
    return s;
}

TEST(DecimalAmounts, ParseAndSpread)
{
    struct Row {
        const char *text;
        int places;
        std::optional<std::int64_t> want;
    } rows[] = {
        {"0", 2, 0},           {"12.5", 2, 1250},        {"12.345", 2, 1235},     {"12.344", 2, 1234},
        {"1.0000", 3, 1000},   {"0.0005", 3, 1},          {"-1.00", 2, std::nullopt}, {"1,00", 2, std::nullopt},
        {"", 2, std::nullopt}, {"1.", 2, std::nullopt},  {".5", 2, std::nullopt}, {"1e3", 2, std::nullopt},
        {" 1", 2, std::nullopt}, {"1234567890123456", 2, std::nullopt},
    };
    for (const Row &r : rows)
        EXPECT_EQ(ParseDecimal(r.text, r.places), r.want) << r.text;
    EXPECT_EQ(DecimalText(-5, 2), "-0.05");
    EXPECT_EQ(DecimalText(123456, 3), "123.456");

    struct Spread {
        Cents difference;
        std::vector<Cents> weights, want;
    } spreads[] = {
        {-100, {100, 100, 100}, {-34, -33, -33}},
        {1, {0, 300, 100}, {0, 1, 0}},
        {7, {0, 0}, {7, 0}},
        {-896, {1000, 3000, 0}, {-224, -672, 0}},
        {5, {-50, 100}, {0, 5}},
    };
    for (const Spread &s : spreads) {
        std::vector<Cents> shares;
        SpreadDifference(s.difference, s.weights, shares);
        EXPECT_EQ(shares, s.want);
    }
}

TEST(NfeReader, ReadsDocumentFieldsOfBothLayouts)
{
    for (const char *version : {"4.00", "3.10"}) {
        TestNfe n;
        n.version = version;
        n.moved = "2027-01-16T08:00:00-03:00";
        n.items[0].charges = "<vFrete>10.00</vFrete><vSeg>1.00</vSeg><vDesc>5.00</vDesc><vOutro>2.00</vOutro>";
        n.items[0].otherTaxes = "<IPI><cEnq>999</cEnq><IPITrib><CST>50</CST><vBC>100.00</vBC><pIPI>10.00</pIPI>"
                                "<vIPI>10.00</vIPI></IPITrib></IPI>";
        const NfeContent c = read(n.Xml());
        ASSERT_TRUE(std::holds_alternative<NfeDocument>(c)) << std::get<NfeRefusal>(c).reason;
        const NfeDocument &d = std::get<NfeDocument>(c);
        EXPECT_EQ(d.key, n.Key());
        EXPECT_EQ(d.issueDate, "2027-01-15");
        EXPECT_EQ(d.moveDate, "2027-01-16");
        EXPECT_EQ(d.issuer.registration, "110042490114");
        ASSERT_EQ(d.items.size(), 1u);
        EXPECT_EQ(d.items[0].quantity, 2000);
        EXPECT_EQ(d.items[0].AccountingValue(), 10000 - 500 + 1000 + 100 + 200 + 1000) << version;
        EXPECT_EQ(d.items[0].icms->base, 10000);
        EXPECT_EQ(d.items[0].icms->rate, 1800);
    }
}

TEST(NfeReader, AccountingValueAddsEveryChargeAndDeductsExoneratedIcmsOnlyWhenTold)
{
    TestNfe n;
    n.items[0].icms = "<ICMS10><orig>0</orig><CST>10</CST><vBC>100.00</vBC><pICMS>18.00</pICMS><vICMS>18.00</vICMS>"
                      "<vBCST>140.00</vBCST><vICMSST>7.20</vICMSST><vFCPST>1.40</vFCPST></ICMS10>";
    n.items[0].otherTaxes = "<II><vII>3.00</vII></II>";
    n.items[0].devol = "<impostoDevol><pDevol>100.00</pDevol><IPI><vIPIDevol>4.00</vIPIDevol></IPI></impostoDevol>";
    auto d = std::get<NfeDocument>(read(n.Xml()));
    EXPECT_EQ(d.items[0].AccountingValue(), 10000 + 720 + 140 + 300 + 400);

    for (const char *flag : {"0", "1"}) {
        TestNfe e;
        e.items[0].icms = std::string("<ICMS40><orig>0</orig><CST>40</CST><vICMSDeson>9.00</vICMSDeson>"
                                      "<motDesICMS>9</motDesICMS><indDeduzDeson>") + flag + "</indDeduzDeson></ICMS40>";
        auto de = std::get<NfeDocument>(read(e.Xml()));
        EXPECT_EQ(de.items[0].AccountingValue(), flag[0] == '1' ? 9100 : 10000);
    }
}

TEST(NfeReader, ReadsEvents)
{
    const std::string key = TestNfe().Key();
    auto cancel = read(EventXml(key));
    ASSERT_TRUE(std::holds_alternative<NfeCancellation>(cancel));
    EXPECT_EQ(std::get<NfeCancellation>(cancel).key, key);
    auto letter = read(EventXml(key, "110110"));
    ASSERT_TRUE(std::holds_alternative<NfeOtherEvent>(letter));
    EXPECT_EQ(std::get<NfeOtherEvent>(letter).type, "110110");
}

TEST(NfeReader, RefusesEachBadInputWithItsReason)
{
    const std::string good = TestNfe().Xml();
    const std::string key = TestNfe().Key();
    std::string badKey = key;
    badKey[43] = static_cast<char>('0' + (badKey[43] - '0' + 1) % 10);
    struct Row {
        const char *name;
        std::string xml;
        const char *field;   // refusal's field contains this
        const char *reason;  // and its reason this
    } rows[] = {
        {"malformed", good.substr(0, good.size() - 20), "", "XML mal formado"},
        {"doctype", replaced(good, "?>", "?><!DOCTYPE nfeProc [<!ENTITY x \"y\">]>"), "DOCTYPE", "DTD"},
        {"entity bomb",
         replaced(good, "?>", "?><!DOCTYPE a [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"), "DOCTYPE", "entidades"},
        {"wrong namespace", replaced(good, "http://www.portalfiscal.inf.br/nfe", "http://example.com/nfe"), "@xmlns",
         "espaço de nomes errado"},
        {"CT-e", "<cteProc xmlns=\"http://www.portalfiscal.inf.br/cte\"><CTe/></cteProc>", "cteProc", "CT-e"},
        {"MDF-e", "<mdfeProc xmlns=\"http://www.portalfiscal.inf.br/mdfe\"/>", "mdfeProc", "MDF-e"},
        {"NFS-e", "<CompNfse xmlns=\"http://www.abrasf.org.br/nfse.xsd\"/>", "CompNfse", "NFS-e"},
        {"unknown", "<pedido><numero>1</numero></pedido>", "pedido", "não é uma NF-e"},
        {"placeholder", replaced(good, "<xNome>Empresa Teste Ltda</xNome>", "<xNome>string</xNome>"), "emit/xNome",
         "valor de modelo"},
        {"placeholder number", replaced(good, "<vProd>100.00</vProd>", "<vProd>XXXX</vProd>"), "prod/vProd",
         "valor de modelo"},
        {"missing field", replaced(good, "<CFOP>5102</CFOP>", ""), "prod/CFOP", "obrigatório ausente"},
        {"missing total", replaced(good, "<vNF>100.00</vNF>", ""), "ICMSTot/vNF", "obrigatório ausente"},
        {"negative", replaced(good, "<vProd>100.00</vProd>", "<vProd>-100.00</vProd>"), "prod/vProd", "negativo"},
        {"not numeric", replaced(good, "<qCom>2.0000</qCom>", "<qCom>dois</qCom>"), "prod/qCom", "não numérico"},
        {"comma decimal", replaced(good, "<vNF>100.00</vNF>", "<vNF>100,00</vNF>"), "vNF", "não numérico"},
        {"check digit", replaced(replaced(good, "NFe" + key, "NFe" + badKey), "<chNFe>" + key, "<chNFe>" + badKey),
         "@Id", "dígito verificador"},
        {"layout", replaced(good, "infNFe versao=\"4.00\"", "infNFe versao=\"2.00\""), "@versao", "leiaute"},
        {"model", replaced(good, "<mod>55</mod>", "<mod>57</mod>"), "ide/mod", "modelo"},
        {"bad date", replaced(good, "2027-01-15T10", "2027-02-30T10"), "ide/dhEmi", "data inválida"},
        {"bad CFOP", replaced(good, "<CFOP>5102</CFOP>", "<CFOP>4102</CFOP>"), "prod/CFOP", "CFOP inválido"},
        {"no items", good.substr(0, good.find("<det ")) + good.substr(good.find("<total>")), "det", "sem itens"},
        {"denied", replaced(good, "<cStat>100</cStat>", "<cStat>302</cStat>"), "cStat", "não autorizado"},
        {"cancellation not registered", EventXml(key, "110111", "573"), "cStat", "não homologado"},
        {"cancellation bad key", EventXml(badKey), "chNFe", "dígito verificador"},
        {"nested past the limit", replaced(good, "<total>", nested(65) + "<total>"), "",
         "aninhado em mais de 64 níveis"},
        {"200,000 deep", "<nfeProc>" + nested(200000) + "</nfeProc>", "",
         "aninhado em mais de 64 níveis"},
    };
    for (const Row &r : rows) {
        const NfeContent c = read(r.xml);
        ASSERT_TRUE(std::holds_alternative<NfeRefusal>(c)) << r.name;
        const NfeRefusal &why = std::get<NfeRefusal>(c);
        EXPECT_NE(why.field.find(r.field), std::string::npos) << r.name << ": field " << why.field;
        EXPECT_NE(why.reason.find(r.reason), std::string::npos) << r.name << ": " << why.reason;
    }
}

TEST(NfeReader, NestingWithinTheLimitIsNoReasonToRefuse)
{
    // infNFe is the third level: 61 more reach the limit exactly.
    const NfeContent c = read(replaced(TestNfe().Xml(), "<total>", nested(61) + "<total>"));
    EXPECT_TRUE(std::holds_alternative<NfeDocument>(c))
        << (std::holds_alternative<NfeRefusal>(c) ? std::get<NfeRefusal>(c).reason : "");
}

TEST(NfeReader, AccessKeyCheckDigit)
{
    // A key of the taxpayer guide's form, its digit worked out by hand:
    // weights 2..9 from the right over 43 digits.
    EXPECT_TRUE(AccessKeyValid(TestNfe().Key()));
    EXPECT_FALSE(AccessKeyValid("1234"));
    EXPECT_FALSE(AccessKeyValid(std::string(43, '1') + "X"));
    EXPECT_EQ(AccessKeyCheckDigit(std::string(43, '0')), 0);
    // sum = 1*2 = 2, rest 2 -> 9
    EXPECT_EQ(AccessKeyCheckDigit(std::string(42, '0') + "1"), 9);
}

} // namespace
