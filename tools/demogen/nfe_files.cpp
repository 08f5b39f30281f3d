// Builds each document with pugixml and writes it as its own file; nothing
// is held beyond the document being written.
#include "nfe_files.h"

#include "import/nfe.h"
#include "rtl/datetime.h"
#include "rtl/sysutils.h"

#include <pugixml.hpp>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

constexpr const char *kNamespace = "http://www.portalfiscal.inf.br/nfe";

struct Party {
    const char *taxId, *name, *registration, *state;
    bool simple;  // simplified regime: ICMSSN groups
};

const Party kSuppliers[] = {
    {"11222333000181", "Distribuidora Paulista de Bebidas Ltda", "111222333444", "SP", false},
    {"22333444000172", "Higiene Total Industria S.A.", "222333444555", "SP", false},
    {"33444555000163", "Mineira Alimentos Ltda", "3334445550001", "MG", false},
    {"44555666000154", "Fluminense Comercio de Agua Ltda", "44555666", "RJ", false},
    {"55666777000145", "Parana Embalagens ME", "5566677700", "PR", true},
    {"66777888000136", "Pequeno Fornecedor Paulista ME", "666777888999", "SP", true},
    {"77888999000127", "Combustiveis do Sul Ltda", "778889990", "SC", false},
};
const Party kCustomers[] = {
    {"12121212000112", "Mercado Bom Preco Ltda", "121212121212", "SP", false},
    {"13131313000113", "Supermercado Central Ltda", "131313131313", "SP", false},
    {"14141414000114", "Atacado Minas Ltda", "1414141410014", "MG", false},
    {"15151515000115", "Emporio Carioca Ltda", "15151515", "RJ", false},
    {"16161616000116", "Rede Sul Supermercados S.A.", "1616161616", "PR", false},
    {"17171717000117", "Comercial Bahia Ltda", "17171717", "BA", false},
};
const Party kForeign = {"", "Global Trading LLC", "", "EX", false};

const char *const kOwnProducts[][2] = {
    {"01.01.0001", "Refrigerante cola 2 L"},   {"01.01.0002", "Refrigerante guarana 2 L"},
    {"01.01.0003", "Refrigerante laranja 350 ml"}, {"01.02.0001", "Agua mineral sem gas 500 ml"},
    {"01.02.0002", "Agua mineral com gas 500 ml"}, {"02.01.0001", "Sabonete glicerina 90 g"},
    {"02.01.0002", "Sabonete liquido 250 ml"},  {"03.01.0001", "Oleo diesel S10"},
};

int stateCode(const std::string &uf)
{
    static const std::pair<const char *, int> codes[] = {{"SP", 35}, {"MG", 31}, {"RJ", 33}, {"PR", 41},
                                                         {"SC", 42}, {"BA", 29}, {"RS", 43}};
    for (const auto &[s, c] : codes)
        if (uf == s)
            return c;
    return 35;
}

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next()
    {
        state_ += 0x9e3779b97f4a7c15ULL;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    long Below(long n) { return static_cast<long>(Next() % static_cast<std::uint64_t>(n)); }

private:
    std::uint64_t state_;
};

std::string money(long long cents)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%02lld", cents / 100, cents % 100);
    return buf;
}
std::string quantity(long long thousandths)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%04lld", thousandths / 1000, (thousandths % 1000) * 10);
    return buf;
}
long long percentOf(long long cents, int hundredths) { return (cents * hundredths + 5000) / 10000; }

void text(pugi::xml_node parent, const char *name, const std::string &value)
{
    parent.append_child(name).text().set(value.c_str());
}

// One item's figures as the generator decides them.
struct Item {
    std::string code, name, cfop;
    long long qty = 0, unit = 0, goods = 0, discount = 0, freight = 0, insurance = 0, other = 0;
    std::string icmsGroup, cst;  // empty group: no ICMS (a service)
    long long base = 0, tax = 0, stBase = 0, stTax = 0, importTax = 0;
    int rate = 0;
    bool ipi = false, ipiTaxed = false;
    long long ipiBase = 0, ipiTax = 0;
    int ipiRate = 0;
    bool service = false;
    long long issBase = 0, issTax = 0;
    long long Value() const { return goods - discount + freight + insurance + other + ipiTax + stTax + importTax; }
};

enum class Kind { Sale, Consumer, Purchase, Import, Service, Mixed, Return, Charges };

Kind kindOf(long i)
{
    const long k = i % 100;
    if (k < 45) return Kind::Sale;
    if (k < 55) return Kind::Consumer;
    if (k < 85) return Kind::Purchase;
    if (k < 87) return Kind::Import;
    if (k < 90) return Kind::Service;
    if (k < 95) return Kind::Mixed;
    if (k < 97) return Kind::Return;
    return Kind::Charges;
}

// ICMS for a situation: rate on a base that is the goods' value, reduced
// by a third under 20 and 70; ST on 40 % added value at 18 %.
void icms(Item &it, const std::string &group, const std::string &cst, int rate)
{
    it.icmsGroup = group;
    it.cst = cst;
    const long long value = it.goods - it.discount;
    const bool taxed = cst == "00" || cst == "10" || cst == "20" || cst == "51" || cst == "70" || cst == "90" ||
                       cst == "900" || cst == "101";
    if (taxed && cst != "101") {
        it.base = (cst == "20" || cst == "70") ? value * 2 / 3 : value;
        it.rate = rate;
        it.tax = percentOf(it.base, rate);
    }
    if (cst == "10" || cst == "70" || cst == "30" || cst == "201" || cst == "202") {
        it.stBase = percentOf(value + it.ipiTax, 14000);
        it.stTax = std::max(0LL, percentOf(it.stBase, 1800) - it.tax);
    }
}

// The year's days as the documents spread over them (February always of 28).
const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

std::string isoDate(int year, int month, int day) { return FormatDate(EncodeDate(year, month + 1, day + 1), DateFormat::Iso); }

// A document's parties and numbering, chosen before its items.
struct Document {
    long index = 0;
    Kind kind = Kind::Sale;
    int month = 0, day = 0;  // from 0
    std::string date;        // "YYYY-MM-DD", the day it is issued
    bool received = false, consumer = false, interstate = false, abroad = false;
    const Party *supplier = nullptr;
    const Party *issuer = nullptr;
    const Party *recipient = nullptr;  // none for an anonymous consumer
    std::string model, series, recipientState;
    int type = 1;  // 0 entry, 1 exit
    long number = 0;
    std::vector<Item> items;
    long long totalGoods = 0, totalIcms = 0, totalBase = 0, totalSt = 0, totalIpi = 0, totalII = 0, vNF = 0;
    long cNF = 0;
    std::string key;  // the 44-digit access key
};

// Each side's own sequence of numbers.
struct Numbering {
    long own[2] = {0, 0};  // NF-e, NFC-e
    long supplier = 0;
};

// Who issues, who receives, under which model and number; the day follows
// the document's place in the run, so the year fills evenly.
Document chooseDocument(long i, const NfeFileOptions &o, const Party &company, Random &random, Numbering &numbers)
{
    Document doc;
    doc.index = i;
    doc.kind = kindOf(i);
    int day = static_cast<int>(i * 365 / o.count);
    while (doc.month < 11 && day >= kMonthDays[doc.month])
        day -= kMonthDays[doc.month++];
    doc.day = day;
    doc.date = isoDate(o.year, doc.month, doc.day);

    const Kind kind = doc.kind;
    doc.received = kind == Kind::Purchase;
    doc.supplier = &kSuppliers[random.Below(std::size(kSuppliers))];
    const Party *customer = &kCustomers[random.Below(std::size(kCustomers))];
    if (kind == Kind::Sale && i % 40 == 3)
        customer = &kForeign;
    if (kind == Kind::Import)
        customer = &kForeign;
    if (kind == Kind::Return)
        customer = doc.supplier;
    doc.issuer = doc.received ? doc.supplier : &company;
    doc.recipient = doc.received ? &company : customer;
    doc.consumer = kind == Kind::Consumer;
    if (doc.consumer && i % 3 != 0)
        doc.recipient = nullptr;
    doc.model = doc.consumer ? "65" : "55";
    doc.type = kind == Kind::Import ? 0 : 1;
    doc.number = doc.received ? ++numbers.supplier : ++numbers.own[doc.consumer ? 1 : 0];
    doc.series = doc.consumer ? "2" : "1";
    doc.recipientState = doc.consumer || !doc.recipient ? o.state : std::string(doc.recipient->state);
    doc.interstate = doc.recipientState != std::string(doc.issuer->state) && doc.recipientState != "EX";
    doc.abroad = kind == Kind::Import || doc.recipientState == "EX";
    return doc;
}

// The product, quantity, price and charges of the document's next item.
Item chooseGoods(const Document &doc, Random &random)
{
    Item it;
    if (doc.received) {
        const long p = random.Below(60);
        it.code = "F" + std::string(doc.supplier->taxId).substr(0, 4) + "-" + std::to_string(p);
        it.name = "Mercadoria " + std::to_string(p) + " de " + doc.supplier->name;
    } else {
        const auto &p = kOwnProducts[random.Below(std::size(kOwnProducts))];
        it.code = p[0];
        it.name = p[1];
    }
    it.qty = (1 + random.Below(48)) * 1000 + (random.Below(4) == 0 ? random.Below(1000) : 0);
    it.unit = 150 + random.Below(20000);
    it.goods = (it.qty * it.unit + 500) / 1000;
    if (doc.kind == Kind::Charges) {
        it.discount = it.goods / 20;
        it.freight = 150 + random.Below(1000);
        it.insurance = random.Below(300);
        it.other = random.Below(200);
    }
    return it;
}

// The item's CFOP and taxes by the kind of document: ICMS situations, IPI,
// the import tax, ISS for services.
void chooseTaxes(Item &it, const Document &doc, int n, Random &random)
{
    const bool interstate = doc.interstate;
    const int rate = interstate ? 1200 : 1800;
    const std::string p = doc.abroad ? "7" : interstate ? "6" : "5";
    switch (doc.kind) {
    case Kind::Sale:
    case Kind::Charges:
    case Kind::Mixed: {
        if (doc.abroad) {
            it.cfop = "7102";
            icms(it, "ICMS40", "41", 0);
            break;
        }
        const long s = doc.kind == Kind::Mixed ? n % 2 : random.Below(8);
        if (s == 1) {
            it.cfop = interstate ? "6403" : "5405";
            if (interstate)
                icms(it, "ICMS10", "10", rate);
            else
                icms(it, "ICMS60", "60", 0);
        } else {
            it.cfop = p + "102";
            static const char *const groups[][2] = {{"ICMS00", "00"}, {"ICMS00", "00"}, {"ICMS20", "20"},
                                                    {"ICMS40", "40"}, {"ICMS51", "51"}, {"ICMS70", "70"},
                                                    {"ICMS90", "90"}, {"ICMS00", "00"}};
            const auto &g = groups[random.Below(8)];
            icms(it, g[0], g[1], rate);
        }
        if (random.Below(5) == 0) {
            it.ipi = true;
            it.ipiTaxed = random.Below(3) != 0;
            if (it.ipiTaxed) {
                it.ipiBase = it.goods;
                it.ipiRate = 1000;
                it.ipiTax = percentOf(it.ipiBase, 1000);
            }
        }
        break;
    }
    case Kind::Consumer: {
        it.cfop = "5102";
        static const char *const groups[][2] = {{"ICMS00", "00"}, {"ICMS40", "40"}, {"ICMS60", "60"}};
        const auto &g = groups[random.Below(3)];
        icms(it, g[0], g[1], 1800);
        if (g[1] == std::string("60"))
            it.cfop = "5405";
        break;
    }
    case Kind::Purchase: {
        const std::string sp = interstate ? "6" : "5";
        if (doc.supplier->simple) {
            static const char *const csosn[] = {"101", "102", "500", "900"};
            const char *c = csosn[random.Below(4)];
            it.cfop = std::string(c) == "500" ? (interstate ? "6404" : "5405") : sp + "102";
            icms(it, std::string("ICMSSN") + (std::string(c) == "102" ? "102" : c), c, rate);
        } else if (random.Below(3) == 0) {
            it.cfop = interstate ? "6403" : "5405";
            if (interstate)
                icms(it, "ICMS10", "10", rate);
            else
                icms(it, "ICMS60", "60", 0);
        } else if (random.Below(4) == 0) {
            it.cfop = sp + "101";
            it.ipi = true;
            it.ipiTaxed = true;
            it.ipiBase = it.goods;
            it.ipiRate = 500;
            it.ipiTax = percentOf(it.goods, 500);
            icms(it, "ICMS00", "00", rate);
        } else {
            it.cfop = sp + "102";
            icms(it, random.Below(2) ? "ICMS00" : "ICMS20", random.Below(2) ? "00" : "20", rate);
        }
        break;
    }
    case Kind::Import:
        it.cfop = "3102";
        it.importTax = percentOf(it.goods, 1400);
        it.ipi = true;
        it.ipiTaxed = true;
        it.ipiBase = it.goods + it.importTax;
        it.ipiRate = 500;
        it.ipiTax = percentOf(it.ipiBase, 500);
        icms(it, "ICMS00", "00", 1800);
        break;
    case Kind::Service:
        it.cfop = interstate ? "6933" : "5933";
        it.service = true;
        it.issBase = it.goods;
        it.issTax = percentOf(it.goods, 500);
        break;
    case Kind::Return:
        it.cfop = interstate ? "6202" : "5202";
        icms(it, "ICMS00", "00", rate);
        break;
    }
}

void chooseItems(Document &doc, Random &random)
{
    const int itemCount = 1 + static_cast<int>(random.Below(19));
    for (int n = 0; n < itemCount; ++n) {
        Item it = chooseGoods(doc, random);
        chooseTaxes(it, doc, n, random);
        doc.items.push_back(std::move(it));
    }
    long long sum = 0;
    for (const Item &it : doc.items) {
        sum += it.Value();
        doc.totalGoods += it.goods;
        doc.totalIcms += it.tax;
        doc.totalBase += it.base;
        doc.totalSt += it.stTax;
        doc.totalIpi += it.ipiTax;
        doc.totalII += it.importTax;
    }
    // Real import documents often leave the II out of their total.
    doc.vNF = doc.kind == Kind::Import && doc.index % 2 == 0 ? sum - doc.totalII : sum;
}

void assignKey(Document &doc, int year)
{
    char first43[64];
    doc.cNF = 10000000 + (doc.index * 7919) % 89999999;
    std::snprintf(first43, sizeof first43, "%02d%02d%02d%014lld%s%03d%09ld%d%08ld", stateCode(doc.issuer->state),
                  year % 100, doc.month + 1, std::stoll(std::string(doc.issuer->taxId)), doc.model.c_str(),
                  std::stoi(doc.series), doc.number, 1, doc.cNF);
    doc.key = std::string(first43) + std::to_string(AccessKeyCheckDigit(first43));
}

void declare(pugi::xml_document &xml)
{
    auto decl = xml.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
}

void writeIdentification(pugi::xml_node inf, const Document &doc, int year)
{
    pugi::xml_node ide = inf.append_child("ide");
    text(ide, "cUF", std::to_string(stateCode(doc.issuer->state)));
    text(ide, "cNF", std::to_string(doc.cNF));
    text(ide, "natOp", doc.received ? "Venda de mercadoria" : doc.kind == Kind::Import ? "Importacao" : "Venda");
    text(ide, "mod", doc.model);
    text(ide, "serie", doc.series);
    text(ide, "nNF", std::to_string(doc.number));
    text(ide, "dhEmi", doc.date + "T10:15:00-03:00");
    // Some purchases arrive the day after, across a month's end too.
    if (doc.received && doc.index % 4 == 0 && !(doc.month == 11 && doc.day == 30)) {
        int m = doc.month, d = doc.day + 1;
        if (d >= kMonthDays[m])
            d = 0, ++m;
        text(ide, "dhSaiEnt", isoDate(year, m, d) + "T08:00:00-03:00");
    }
    text(ide, "tpNF", std::to_string(doc.type));
    text(ide, "idDest", doc.abroad ? "3" : doc.interstate ? "2" : "1");
    text(ide, "cMunFG", "3550308");
    text(ide, "tpImp", doc.consumer ? "4" : "1");
    text(ide, "tpEmis", "1");
    text(ide, "cDV", doc.key.substr(43));
    text(ide, "tpAmb", "1");
    text(ide, "finNFe", doc.kind == Kind::Return ? "4" : "1");
    text(ide, "indFinal", doc.consumer ? "1" : "0");
    text(ide, "indPres", doc.consumer ? "1" : "0");
    text(ide, "procEmi", "0");
    text(ide, "verProc", "fisdemogen");
}

void writeParties(pugi::xml_node inf, const Document &doc, const NfeFileOptions &o)
{
    const Party &issuer = *doc.issuer;
    pugi::xml_node emit = inf.append_child("emit");
    text(emit, "CNPJ", issuer.taxId);
    text(emit, "xNome", issuer.name);
    pugi::xml_node ender = emit.append_child("enderEmit");
    text(ender, "xLgr", "Rua das Flores");
    text(ender, "nro", "100");
    text(ender, "xBairro", "Centro");
    text(ender, "cMun", "3550308");
    text(ender, "xMun", "Sao Paulo");
    text(ender, "UF", issuer.state);
    text(emit, "IE", issuer.registration);
    if (doc.kind == Kind::Service)
        text(emit, "IM", "1234567");
    text(emit, "CRT", issuer.simple ? "1" : "3");

    if (!doc.recipient)
        return;
    const Party &recipient = *doc.recipient;
    const bool foreign = std::string(recipient.state) == "EX";
    pugi::xml_node dest = inf.append_child("dest");
    if (foreign)
        text(dest, "idEstrangeiro", "998877");
    else if (doc.consumer)
        text(dest, "CPF", "12345678909");
    else
        text(dest, "CNPJ", recipient.taxId);
    text(dest, "xNome", doc.consumer ? "Consumidor Identificado" : recipient.name);
    pugi::xml_node addr = dest.append_child("enderDest");
    text(addr, "xLgr", "Avenida Brasil");
    text(addr, "nro", "200");
    text(addr, "xBairro", "Centro");
    text(addr, "cMun", foreign ? "9999999" : "3550308");
    text(addr, "xMun", foreign ? "EXTERIOR" : "Cidade");
    text(addr, "UF", doc.consumer ? o.state : std::string(recipient.state));
    text(dest, "indIEDest", doc.consumer || foreign ? "9" : "1");
    if (!doc.consumer && !foreign)
        text(dest, "IE", recipient.registration);
}

void writeItemTaxes(pugi::xml_node imposto, const Item &it)
{
    if (!it.icmsGroup.empty()) {
        pugi::xml_node g = imposto.append_child("ICMS").append_child(it.icmsGroup.c_str());
        text(g, "orig", "0");
        const bool simple = it.icmsGroup.rfind("ICMSSN", 0) == 0;
        text(g, simple ? "CSOSN" : "CST", it.cst);
        if (it.cst == "101") {
            text(g, "pCredSN", "1.25");
            text(g, "vCredICMSSN", money(percentOf(it.goods, 125)));
        }
        if (it.base || it.cst == "00" || it.cst == "20" || it.cst == "10" || it.cst == "70" || it.cst == "900") {
            text(g, "modBC", "3");
            text(g, "vBC", money(it.base));
            text(g, "pICMS", money(it.rate));
            text(g, "vICMS", money(it.tax));
        }
        if (it.stBase) {
            text(g, "modBCST", "4");
            text(g, "vBCST", money(it.stBase));
            text(g, "pICMSST", "18.00");
            text(g, "vICMSST", money(it.stTax));
        }
    }
    if (it.ipi) {
        pugi::xml_node ipi = imposto.append_child("IPI");
        text(ipi, "cEnq", "999");
        pugi::xml_node g = ipi.append_child(it.ipiTaxed ? "IPITrib" : "IPINT");
        text(g, "CST", it.ipiTaxed ? "50" : "53");
        if (it.ipiTaxed) {
            text(g, "vBC", money(it.ipiBase));
            text(g, "pIPI", money(it.ipiRate));
            text(g, "vIPI", money(it.ipiTax));
        }
    }
    if (it.importTax) {
        pugi::xml_node ii = imposto.append_child("II");
        text(ii, "vBC", money(it.goods));
        text(ii, "vDespAdu", "0.00");
        text(ii, "vII", money(it.importTax));
        text(ii, "vIOF", "0.00");
    }
    if (it.service) {
        pugi::xml_node iss = imposto.append_child("ISSQN");
        text(iss, "vBC", money(it.issBase));
        text(iss, "vAliq", "5.00");
        text(iss, "vISSQN", money(it.issTax));
        text(iss, "cMunFG", "3550308");
        text(iss, "cListServ", "14.01");
        text(iss, "indISS", "1");
        text(iss, "indIncentivo", "2");
    }
}

void writeItem(pugi::xml_node inf, const Item &it, std::size_t n)
{
    pugi::xml_node det = inf.append_child("det");
    det.append_attribute("nItem") = static_cast<unsigned>(n + 1);
    pugi::xml_node prod = det.append_child("prod");
    text(prod, "cProd", it.code);
    text(prod, "cEAN", "SEM GTIN");
    text(prod, "xProd", it.name);
    text(prod, "NCM", "22021000");
    text(prod, "CFOP", it.cfop);
    text(prod, "uCom", "UN");
    text(prod, "qCom", quantity(it.qty));
    text(prod, "vUnCom", money(it.unit) + "00");
    text(prod, "vProd", money(it.goods));
    text(prod, "cEANTrib", "SEM GTIN");
    text(prod, "uTrib", "UN");
    text(prod, "qTrib", quantity(it.qty));
    text(prod, "vUnTrib", money(it.unit) + "00");
    if (it.freight) text(prod, "vFrete", money(it.freight));
    if (it.insurance) text(prod, "vSeg", money(it.insurance));
    if (it.discount) text(prod, "vDesc", money(it.discount));
    if (it.other) text(prod, "vOutro", money(it.other));
    text(prod, "indTot", "1");
    writeItemTaxes(det.append_child("imposto"), it);
}

void writeTotals(pugi::xml_node inf, const Document &doc)
{
    pugi::xml_node tot = inf.append_child("total").append_child("ICMSTot");
    text(tot, "vBC", money(doc.totalBase));
    text(tot, "vICMS", money(doc.totalIcms));
    text(tot, "vBCST", "0.00");
    text(tot, "vST", money(doc.totalSt));
    text(tot, "vProd", money(doc.totalGoods));
    text(tot, "vII", money(doc.totalII));
    text(tot, "vIPI", money(doc.totalIpi));
    text(tot, "vNF", money(doc.vNF));
    pugi::xml_node transp = inf.append_child("transp");
    text(transp, "modFrete", "9");
}

void writeProtocol(pugi::xml_node proc, const Document &doc)
{
    pugi::xml_node prot = proc.append_child("protNFe");
    prot.append_attribute("versao") = "4.00";
    pugi::xml_node ip = prot.append_child("infProt");
    text(ip, "tpAmb", "1");
    text(ip, "verAplic", "SP_NFE_PL009_V4");
    text(ip, "chNFe", doc.key);
    text(ip, "dhRecbto", doc.date + "T10:16:00-03:00");
    text(ip, "nProt", "1" + doc.key.substr(30, 14));
    text(ip, "cStat", "100");
    text(ip, "xMotivo", "Autorizado o uso da NF-e");
}

// The document as its issuer's system sends it: inside its authorisation
// (nfeProc), or one in ten bare, as some suppliers mail them.
void buildNfe(pugi::xml_document &xml, const Document &doc, const NfeFileOptions &o)
{
    declare(xml);
    const bool bare = doc.index % 10 == 9;
    pugi::xml_node nfe;
    pugi::xml_node proc;
    if (bare) {
        nfe = xml.append_child("NFe");
        nfe.append_attribute("xmlns") = kNamespace;
    } else {
        proc = xml.append_child("nfeProc");
        proc.append_attribute("versao") = "4.00";
        proc.append_attribute("xmlns") = kNamespace;
        nfe = proc.append_child("NFe");
    }
    pugi::xml_node inf = nfe.append_child("infNFe");
    inf.append_attribute("versao") = "4.00";
    inf.append_attribute("Id") = ("NFe" + doc.key).c_str();
    writeIdentification(inf, doc, o.year);
    writeParties(inf, doc, o);
    for (std::size_t n = 0; n < doc.items.size(); ++n)
        writeItem(inf, doc.items[n], n);
    writeTotals(inf, doc);
    if (!bare)
        writeProtocol(proc, doc);
}

// A cancellation or a correction letter of the document, with its registration.
void buildEvent(pugi::xml_document &xml, const Document &doc, bool cancel)
{
    declare(xml);
    pugi::xml_node root = xml.append_child("procEventoNFe");
    root.append_attribute("versao") = "1.00";
    root.append_attribute("xmlns") = kNamespace;
    pugi::xml_node e = root.append_child("evento");
    e.append_attribute("versao") = "1.00";
    pugi::xml_node ei = e.append_child("infEvento");
    const std::string type = cancel ? "110111" : "110110";
    ei.append_attribute("Id") = ("ID" + type + doc.key + "01").c_str();
    text(ei, "cOrgao", std::to_string(stateCode(doc.issuer->state)));
    text(ei, "tpAmb", "1");
    text(ei, "CNPJ", doc.issuer->taxId);
    text(ei, "chNFe", doc.key);
    text(ei, "dhEvento", doc.date + "T15:00:00-03:00");
    text(ei, "tpEvento", type);
    text(ei, "nSeqEvento", "1");
    text(ei, "verEvento", "1.00");
    pugi::xml_node det = ei.append_child("detEvento");
    det.append_attribute("versao") = "1.00";
    if (cancel) {
        text(det, "descEvento", "Cancelamento");
        text(det, "nProt", "1" + doc.key.substr(30, 14));
        text(det, "xJust", "Pedido cancelado pelo cliente");
    } else {
        text(det, "descEvento", "Carta de Correcao");
        text(det, "xCorrecao", "Endereco de entrega corrigido");
    }
    pugi::xml_node ret = root.append_child("retEvento").append_child("infEvento");
    text(ret, "tpAmb", "1");
    text(ret, "cStat", "135");
    text(ret, "xMotivo", "Evento registrado e vinculado a NF-e");
    text(ret, "chNFe", doc.key);
    text(ret, "tpEvento", type);
}

// The month's folder, DIR/YYYY-MM, made when missing.
std::filesystem::path monthFolder(const NfeFileOptions &o, const Document &doc)
{
    const std::filesystem::path dir = std::filesystem::path(o.dir) / doc.date.substr(0, 7);
    std::filesystem::create_directories(dir);
    return dir;
}

void save(const pugi::xml_document &xml, const std::filesystem::path &file)
{
    if (!xml.save_file(file.c_str(), "", pugi::format_raw))
        throw Exception("cannot write " + file.string());
}

} // namespace

NfeFileCounts WriteNfeFiles(const NfeFileOptions &o)
{
    if (o.count < 1 || o.count > 10000000)
        throw Exception("--count must be between 1 and 10000000");
    std::error_code ec;
    std::filesystem::create_directories(o.dir, ec);
    if (ec)
        throw Exception("cannot create " + o.dir + ": " + ec.message());
    NfeFileCounts counts;
    Random random(0x4e4645ULL + static_cast<std::uint64_t>(o.year));
    const Party company{o.taxId.c_str(), "Comercial Andorinha Ltda", o.registration.c_str(), o.state.c_str(), false};
    Numbering numbers;

    for (long i = 0; i < o.count; ++i) {
        Document doc = chooseDocument(i, o, company, random, numbers);
        chooseItems(doc, random);
        assignKey(doc, o.year);

        const std::filesystem::path dir = monthFolder(o, doc);
        char base[32];
        std::snprintf(base, sizeof base, "%08ld", i);
        {
            pugi::xml_document xml;
            buildNfe(xml, doc, o);
            save(xml, dir / (std::string(base) + "-nfe.xml"));
        }
        ++counts.documents;
        counts.items += static_cast<long>(doc.items.size());

        // A cancellation read before its document (the name sorts first) or
        // after it, and correction letters.
        const bool cancel = i % 53 == 7, correct = i % 97 == 3;
        if (cancel || correct) {
            pugi::xml_document xml;
            buildEvent(xml, doc, cancel);
            save(xml, dir / (std::string(base) + (cancel ? (i % 2 ? "-cancelamento.xml" : "-z-cancelamento.xml")
                                                          : "-z-cce.xml")));
            (cancel ? counts.cancellations : counts.otherEvents)++;
        }
    }
    return counts;
}
