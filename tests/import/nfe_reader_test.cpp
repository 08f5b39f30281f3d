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

TEST(NfeReader, ReadsEachLayoutByItsOwnFieldNames)
{
    struct Row {
        const char *version, *issueField, *moveField;
    } rows[] = {{"2.00", "dEmi", "dSaiEnt"}, {"3.10", "dhEmi", "dhSaiEnt"}, {"4.00", "dhEmi", "dhSaiEnt"}};
    for (const Row &r : rows) {
        TestNfe n;
        n.version = r.version;
        n.moved = "2027-01-16T08:00:00-03:00";
        n.items[0].charges = "<vFrete>10.00</vFrete><vSeg>1.00</vSeg><vDesc>5.00</vDesc><vOutro>2.00</vOutro>";
        n.items[0].otherTaxes = "<IPI><cEnq>999</cEnq><IPITrib><CST>50</CST><vBC>100.00</vBC><pIPI>10.00</pIPI>"
                                "<vIPI>10.00</vIPI></IPITrib></IPI>";
        const std::string xml = n.Xml();
        ASSERT_NE(xml.find(std::string("<") + r.issueField + ">"), std::string::npos) << r.version;
        const NfeContent c = read(xml);
        ASSERT_TRUE(std::holds_alternative<NfeDocument>(c)) << r.version << ": " << std::get<NfeRefusal>(c).reason;
        const NfeDocument &d = std::get<NfeDocument>(c);
        EXPECT_EQ(d.version, r.version);
        EXPECT_EQ(d.key, n.Key());
        EXPECT_EQ(d.issueDate, "2027-01-15") << r.version;
        EXPECT_EQ(d.moveDate, "2027-01-16") << r.version;
        EXPECT_EQ(d.issuer.registration, "110042490114");
        ASSERT_EQ(d.items.size(), 1u);
        EXPECT_EQ(d.items[0].quantity, 2000);
        EXPECT_EQ(d.items[0].AccountingValue(), 10000 - 500 + 1000 + 100 + 200 + 1000) << r.version;
        EXPECT_EQ(d.items[0].icms->base, 10000);
        EXPECT_EQ(d.items[0].icms->rate, 1800);
        EXPECT_TRUE(d.authorised);
        EXPECT_FALSE(d.homologation);

        // Without the exit date the issue date stands for it.
        n.moved.clear();
        EXPECT_EQ(std::get<NfeDocument>(read(n.Xml())).moveDate, "2027-01-15") << r.version;
    }
}

TEST(NfeReader, RefusesTheFieldsALayoutRenamedOrLacks)
{
    auto with = [](const char *version, auto change) {
        TestNfe n;
        n.version = version;
        change(n);
        return n;
    };
    const std::string v200 = with("2.00", [](TestNfe &) {}).Xml(), v310 = with("3.10", [](TestNfe &) {}).Xml();
    struct Row {
        const char *name;
        std::string xml;
        const char *field, *reason;
    } rows[] = {
        // 3.10 renamed the dates: a 3.10 file with 2.00's names is broken.
        {"3.10 with dEmi", replaced(v310, "<dhEmi>2027-01-15T10:00:00-03:00</dhEmi>", "<dEmi>2027-01-15</dEmi>"),
         "ide/dhEmi", "obrigatório ausente"},
        {"2.00 with dhEmi", replaced(v200, "<dEmi>2027-01-15</dEmi>", "<dhEmi>2027-01-15T10:00:00-03:00</dhEmi>"),
         "ide/dEmi", "obrigatório ausente"},
        {"NFC-e in 2.00", with("2.00", [](TestNfe &n) { n.model = "65"; n.recipient = false; }).Xml(), "ide/mod",
         "no leiaute 2.00"},
        {"no environment", replaced(v310, "<tpAmb>1</tpAmb>", ""), "ide/tpAmb", "obrigatório ausente"},
        {"unknown environment", replaced(v310, "<tpAmb>1</tpAmb>", "<tpAmb>3</tpAmb>"), "ide/tpAmb", "não previsto"},
        {"1.10", replaced(v200, "infNFe versao=\"2.00\"", "infNFe versao=\"1.10\""), "@versao", "aceitos 2.00, 3.10 e 4.00"},
    };
    for (const Row &r : rows) {
        const NfeContent c = read(r.xml);
        ASSERT_TRUE(std::holds_alternative<NfeRefusal>(c)) << r.name;
        EXPECT_NE(std::get<NfeRefusal>(c).field.find(r.field), std::string::npos) << r.name << ": " << std::get<NfeRefusal>(c).field;
        EXPECT_NE(std::get<NfeRefusal>(c).reason.find(r.reason), std::string::npos) << r.name << ": " << std::get<NfeRefusal>(c).reason;
    }
    // The returned IPI came with 3.10: a 2.00 file's is not part of its value.
    for (const char *version : {"2.00", "3.10"}) {
        TestNfe n = with(version, [](TestNfe &x) {
            x.items[0].devol = "<impostoDevol><pDevol>100.00</pDevol><IPI><vIPIDevol>4.00</vIPIDevol></IPI></impostoDevol>";
        });
        EXPECT_EQ(std::get<NfeDocument>(read(n.Xml())).items[0].AccountingValue(),
                  std::string(version) == "2.00" ? 10000 : 10400) << version;
    }
}

TEST(NfeReader, TellsTheEnvironmentAndTheAuthorisation)
{
    struct Row {
        const char *name;
        int environment;
        bool protocol;
        bool homologation, authorised;
    } rows[] = {
        {"production, authorised", 1, true, false, true},
        {"homologation, authorised", 2, true, true, true},
        {"production, bare", 1, false, false, false},
        {"homologation, bare", 2, false, true, false},
    };
    for (const Row &r : rows) {
        TestNfe n;
        n.environment = r.environment;
        n.withProtocol = r.protocol;
        const NfeContent c = read(n.Xml());
        ASSERT_TRUE(std::holds_alternative<NfeDocument>(c)) << r.name;
        EXPECT_EQ(std::get<NfeDocument>(c).homologation, r.homologation) << r.name;
        EXPECT_EQ(std::get<NfeDocument>(c).authorised, r.authorised) << r.name;
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
        {"layout", replaced(good, "infNFe versao=\"4.00\"", "infNFe versao=\"5.00\""), "@versao", "leiaute"},
        {"key without its prefix", replaced(good, "Id=\"NFe" + key, "Id=\"" + key), "@Id", "deve começar por 'NFe'"},
        {"key too short", replaced(good, "Id=\"NFe" + key, "Id=\"NFe" + key.substr(1)), "@Id", "há 43 caracteres"},
        {"denied with its reason",
         replaced(good, "<cStat>100</cStat>", "<cStat>110</cStat><xMotivo>Uso Denegado</xMotivo>"), "cStat",
         "situação 110: Uso Denegado"},
        {"invalid UTF-8 in a name", replaced(good, "Cliente Um Ltda", "Cliente \xC3\x28 Ltda"), "dest/xNome",
         "bytes inválidos em UTF-8"},
        {"overlong UTF-8", replaced(good, "Produto de teste", "Produto \xC0\xAF"), "prod/xProd", "UTF-8"},
        {"truncated UTF-8", replaced(good, "Empresa Teste Ltda", "Empresa \xE2\x82"), "emit/xNome", "UTF-8"},
        {"surrogate in UTF-8", replaced(good, "Empresa Teste Ltda", "Empresa \xED\xA0\x80"), "emit/xNome", "UTF-8"},
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

TEST(NfeReader, TakesEveryWellFormedUtf8Character)
{
    TestNfe n;
    n.issuerName = "Ação e Cia \xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBD";  // two, three and four bytes
    const NfeContent c = read(n.Xml());
    ASSERT_TRUE(std::holds_alternative<NfeDocument>(c)) << std::get<NfeRefusal>(c).reason;
    EXPECT_EQ(std::get<NfeDocument>(c).issuer.name, n.issuerName);
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
