#include "demogen.h"

#include "rtl/datetime.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>

namespace {
const DemoTable kEmpresa{"EMPRESA", {"CDEMPRESA", "NMEMPRESA"}};
const DemoTable kInscrEstad{"INSCRESTAD", {"CDEMPRESA", "CDINSCESTA", "NRINSJURIEST", "SGESTADO"}};
const DemoTable kInscrMunicip{"INSCRMUNICIP", {"CDEMPRESA", "CDINSCMUNI"}};
const DemoTable kSerieNF{"SERIENF", {"CDEMPRESA", "CDINSCESTA", "CDINSCMUNI", "CDSERIE", "DSSERIE"}};
const DemoTable kFilial{"FILIAL", {"CDFILIAL", "NMFILIAL", "CDEMPRESA"}};
const DemoTable kProduto{"PRODUTO", {"CDPRODUTO", "CDARVPROD", "NMPRODUTO", "CDNVPRODUTO"}};
const DemoTable kNotaFiscal{"NOTAFISCAL",
                            {"CDNOTAFISC", "CDEMPRESA", "CDFILIAL", "IDENTRSAIDA", "CDSERIE", "NRNOTAFISC",
                             "CDMODDOCFISC", "CDTIPOOPER", "DTEMISSAO", "DTENTRSAIDA", "CDINSCESTA", "CDINSCMUNI",
                             "NMPARTICIPANTE", "SGUF", "IDSITUACAO", "NRDOCPARTIC", "NRIEPARTIC"}};
const DemoTable kItemNotaFisc{"ITEMNOTAFISC",
                              {"CDNOTAFISC", "NRITEM", "CDPRODUTO", "CDCFOP", "QTITEM", "VLUNITARIO", "VLCONTABIL"}};
const DemoTable kImpostoItemNF{"IMPOSTOITEMNF",
                               {"CDNOTAFISC", "NRITEM", "CDIMPOSTONFE", "VLBASECALC", "PCALIQUOTA", "VLIMPOSTO",
                                "VLISENTO", "VLOUTROS", "VLBASEST", "VLIMPOSTOST", "CDCST"}};

const char kCodeChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const char *const kStates[] = {"SP", "MG", "RJ", "PR", "RS", "SC", "BA", "GO", "PE", "CE"};
const char *const kSeriesCodes[] = {"1", "2", "3", "A", "B", "U", "10", "20", "55", "99"};

std::string digits(long value, int width)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%0*ld", width, value);
    return buf;
}

std::unordered_set<std::string> existingSet(DemoSink &sink, const char *table, const char *column)
{
    std::unordered_set<std::string> out;
    for (auto &v : sink.Existing(table, column))
        out.insert(std::move(v));
    return out;
}

// Internal product codes: numbers after the largest numeric one present.
class ProductCodes {
public:
    explicit ProductCodes(std::unordered_set<std::string> taken) : taken_(std::move(taken))
    {
        for (const std::string &code : taken_) {
            long n = 0;
            auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), n);
            if (ec == std::errc() && end == code.data() + code.size() && n >= next_)
                next_ = n + 1;
        }
    }
    std::string Next()
    {
        std::string code;
        do
            code = std::to_string(next_++);
        while (taken_.count(code));
        return code;
    }

private:
    std::unordered_set<std::string> taken_;
    long next_ = 1;
};

int freeCompanyCodes(const std::unordered_set<std::string> &taken)
{
    int free = 0;
    for (int a = 0; a < 36; ++a)
        for (int b = 0; b < 36; ++b)
            free += taken.count(std::string{kCodeChars[a], kCodeChars[b]}) ? 0 : 1;
    return free;
}

void addCompanies(DemoSink &sink, int count, DemoCounts &counts)
{
    const auto companies = existingSet(sink, "EMPRESA", "CDEMPRESA");
    if (count > freeCompanyCodes(companies))
        throw EDemoArgument("only " + std::to_string(freeCompanyCodes(companies)) +
                                    " two-character company codes are free");
    auto branches = existingSet(sink, "FILIAL", "CDFILIAL");
    int made = 0;
    for (int a = 0; a < 36 && made < count; ++a) {
        for (int b = 0; b < 36 && made < count; ++b) {
            const std::string cd{kCodeChars[a], kCodeChars[b]};
            if (companies.count(cd))
                continue;
            ++made;
            sink.Insert(kEmpresa, {cd, "Empresa demonstracao " + cd});
            ++counts.companies;
            for (int k = 0; k < kMunicipalRegistrationsPerCompany; ++k) {
                sink.Insert(kInscrMunicip, {cd, "7" + cd + digits(k, 5)});
                ++counts.municipalRegistrations;
            }
            for (int k = 0; k < kStateRegistrationsPerCompany; ++k) {
                const std::string state = "5" + cd + digits(k, 7);
                sink.Insert(kInscrEstad, {cd, state, "35" + cd + digits(k, 7), kStates[k % 10]});
                ++counts.stateRegistrations;
                for (int j = 0; j < kSeriesRowsPerStateRegistration; ++j) {
                    std::string serie = kSeriesCodes[(k * kSeriesRowsPerStateRegistration + j) % 10];
                    std::optional<std::string> muni = "7" + cd + digits(k % kMunicipalRegistrationsPerCompany, 5);
                    if (k % 10 == 9 && j == 0) {
                        // Like the fixture's edge row: a series only ever without municipal registration.
                        serie = kSeriesWithoutMunicipalRegistration;
                        muni.reset();
                    }
                    sink.Insert(kSerieNF, {cd, state, muni, serie, "Serie " + serie});
                    ++counts.seriesRows;
                }
            }
            // Branch codes are global: skip any the database already has.
            for (int k = 0, n = 0; n < kBranchesPerCompany && k < 100; ++k) {
                const std::string branch = cd + digits(k, 2);
                if (!branches.insert(branch).second)
                    continue;
                sink.Insert(kFilial, {branch, "Filial " + branch, cd});
                ++counts.branches;
                ++n;
            }
        }
    }
}

void addProducts(DemoSink &sink, long count, DemoCounts &counts)
{
    auto trees = existingSet(sink, "PRODUTO", "CDARVPROD");
    ProductCodes codes(existingSet(sink, "PRODUTO", "CDPRODUTO"));
    auto node = [&](const std::string &tree, const std::string &name, const char *level, long &counter) {
        if (!trees.insert(tree).second)
            return;  // already in the tree (a fixture row, or an earlier run)
        sink.Insert(kProduto, {codes.Next(), tree, name, std::string(level)});
        ++counter;
    };
    for (long i = 0; i < count; ++i) {
        const std::string group = digits(i / 10000, 2);
        const std::string subgroup = group + "." + digits(i / 100 % 100, 2);
        if (i % 10000 == 0)
            node(group, "Grupo " + group, "1", counts.productGroups);
        if (i % 100 == 0)
            node(subgroup, "Subgrupo " + subgroup, "2", counts.productGroups);
        const std::string leaf = subgroup + "." + digits(100 + i % 100, 4);
        node(leaf, "Produto " + leaf, "3", counts.products);
    }
}

// splitmix64: the same documents on every platform and run.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next()
    {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    long Below(long n) { return static_cast<long>(Next() % static_cast<std::uint64_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }

private:
    std::uint64_t state_;
};

// Amounts travel as exact decimal texts: cents, or thousandths of a unit.
std::string fixed(long value, int decimals)
{
    long scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld.%0*ld", value / scale, decimals, value % scale);
    return buf;
}
std::string money(long cents) { return fixed(cents, 2); }
long percentOf(long cents, long percent) { return (cents * percent + 50) / 100; }

std::string isoDate(int year, int dayOfYear)
{
    return FormatDate(TDateTime(EncodeDate(year, 1, 1).Val + dayOfYear), DateFormat::Iso);
}
int daysIn(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0 ? 366 : 365; }

// What a document does: its CFOP (the first digit follows side and origin),
// operation type, model and how ICMS treats its goods.
enum class Icms { Own, WithSt, Other, Exempt, None };
struct Operation {
    char side;
    const char *cfop;
    const char *type;
    const char *model;
    Icms icms;
    bool interstate;
    bool ipi;      // the supplier charges IPI
    bool service;  // one item of the generic product, ISS instead of ICMS
};
const Operation kEntries[] = {
    {'E', "1102", "01", "55", Icms::Own, false, true, false},
    {'E', "1403", "01", "55", Icms::WithSt, false, false, false},
    {'E', "2102", "01", "55", Icms::Own, true, true, false},
    {'E', "2403", "01", "55", Icms::WithSt, true, false, false},
    {'E', "3102", "01", "55", Icms::Own, false, true, false},
    {'E', "1202", "02", "55", Icms::Own, false, false, false},
    {'E', "1152", "03", "55", Icms::Own, false, false, false},
    {'E', "1353", "01", "57", Icms::Own, false, false, true},
};
// Shares in a hundred, in the order above.
const int kEntryShares[] = {33, 22, 15, 10, 5, 7, 4, 4};
const Operation kExits[] = {
    {'S', "5102", "01", "55", Icms::Own, false, false, false},
    {'S', "5405", "01", "65", Icms::Other, false, false, false},
    {'S', "6102", "01", "55", Icms::Own, true, false, false},
    {'S', "6403", "01", "55", Icms::WithSt, true, false, false},
    {'S', "7102", "01", "55", Icms::Exempt, false, false, false},
    {'S', "5202", "02", "55", Icms::Own, false, false, false},
    {'S', "5152", "03", "55", Icms::Own, false, false, false},
    {'S', "5915", "04", "55", Icms::Other, false, false, false},
    {'S', "5933", "01", "01", Icms::None, false, false, true},
};
const int kExitShares[] = {30, 25, 20, 5, 4, 4, 4, 2, 6};

template <std::size_t N>
const Operation &pick(Random &random, const Operation (&ops)[N], const int (&shares)[N])
{
    long roll = random.Below(100);
    for (std::size_t i = 0; i < N; ++i) {
        if (roll < shares[i])
            return ops[i];
        roll -= shares[i];
    }
    return ops[N - 1];
}

const char *const kParticipants[] = {"Distribuidora Horizonte Ltda", "Mercado Bom Preco Ltda",
                                     "Supermercado Estrela Ltda",   "Comercio Pampa Ltda",
                                     "Atacado Litoral Ltda",        "Farmacia Vida Ltda",
                                     "Quimica Limpa Ltda",          "Bebidas Serra Azul S.A."};
// Their CNPJs and state registrations, as the books list them.
const char *const kParticipantDocuments[] = {"55667788000186", "88990011000107", "14151617000112", "44556677000186",
                                             "11223344000186", "66778899000186", "13141516000106", "22334455000186"};
const char *const kParticipantRegistrations[] = {"110456789118", "110654987116", "9012345678",   "0961234567",
                                                 "86532104",     "110321654117", "110147258113", "0623451230098"};
const char *const kOtherStates[] = {"MG", "RJ", "PR", "RS", "SC", "BA", "GO", "PE"};

struct Registration {
    std::string code;
    std::string state;
};
struct CompanyData {
    std::string code;
    int share = 0;
    std::vector<Registration> state;
    std::vector<std::string> municipal;
    std::vector<std::string> branches;
    long nextExitNumber = 100001;
};

std::vector<std::string> sorted(std::vector<std::string> values)
{
    std::sort(values.begin(), values.end());  // the sink's order is not the database's promise
    return values;
}

// The companies that take documents, read before any row is sent.
std::vector<CompanyData> documentCompanies(DemoSink &sink)
{
    std::vector<CompanyData> companies;
    for (const DocumentCompany &dc : kDocumentCompanies) {
        CompanyData c;
        c.code = dc.code;
        c.share = dc.share;
        const std::string where = std::string("CDEMPRESA = '") + dc.code + "'";
        for (const std::string &pair : sorted(sink.Existing("INSCRESTAD", "CDINSCESTA || '|' || SGESTADO", where))) {
            const auto bar = pair.find('|');
            c.state.push_back({pair.substr(0, bar), pair.substr(bar + 1)});
        }
        c.municipal = sorted(sink.Existing("INSCRMUNICIP", "CDINSCMUNI", where));
        c.branches = sorted(sink.Existing("FILIAL", "CDFILIAL", where));
        if (c.state.empty() || c.branches.empty())
            throw Exception(std::string("company ") + dc.code +
                                     " needs a state registration and a branch to receive documents");
        companies.push_back(std::move(c));
    }
    return companies;
}

void addDocuments(DemoSink &sink, const DemoSize &size, std::vector<CompanyData> &companies, DemoCounts &counts)
{
    std::vector<std::string> leaves = sorted(sink.Existing("PRODUTO", "CDPRODUTO", "CDNVPRODUTO = '3'"));
    const std::vector<std::string> generic = sink.Existing("PRODUTO", "CDPRODUTO", "CDARVPROD = '09.99.9999'");
    if (leaves.empty())
        throw Exception("the product tree has no leaf to put on documents");
    const std::string service = generic.empty() ? leaves.front() : generic.front();
    long key = 0;
    for (const std::string &k : sink.Existing("NOTAFISCAL", "CDNOTAFISC")) {
        long n = 0;
        std::from_chars(k.data(), k.data() + k.size(), n);
        key = std::max(key, n);
    }
    int totalShare = 0;
    for (const CompanyData &c : companies)
        totalShare += c.share;

    Random random(0x5eed0000ULL + static_cast<std::uint64_t>(size.year));
    const int days = daysIn(size.year);
    long left = size.items;
    while (left > 0) {
        CompanyData *company = &companies.back();
        for (long roll = random.Below(totalShare), i = 0; i < static_cast<long>(companies.size()); ++i) {
            if (roll < companies[i].share) {
                company = &companies[i];
                break;
            }
            roll -= companies[i].share;
        }
        const Operation &op = random.Chance(35) ? pick(random, kEntries, kEntryShares) : pick(random, kExits, kExitShares);
        const Registration &reg = company->state[random.Below(static_cast<long>(company->state.size()))];
        // Days follow the items made so far, so the year fills evenly to its end.
        const int day = static_cast<int>((size.items - left) * days / size.items);
        const std::string booked = isoDate(size.year, day);
        const std::string issued = op.side == 'E' ? isoDate(size.year, std::max(0, day - static_cast<int>(random.Below(4))))
                                                  : booked;
        std::string uf = op.interstate ? kOtherStates[random.Below(8)] : reg.state;
        if (op.cfop[0] == '3' || op.cfop[0] == '7')
            uf = "EX";
        std::optional<std::string> ie = reg.code, im;
        if (!company->municipal.empty() && (op.service || random.Chance(80)))
            im = company->municipal[random.Below(static_cast<long>(company->municipal.size()))];
        if (op.service && op.side == 'S')
            ie.reset();  // a service is booked under the municipal registration only
        const std::string model = op.model == std::string("65") && random.Chance(50) ? "55" : op.model;
        const long number = op.side == 'S' ? company->nextExitNumber++ : 1 + random.Below(999999);
        const std::string cdnota = std::to_string(++key);
        const long participant = random.Below(8);
        sink.Insert(kNotaFiscal, {cdnota, company->code,
                                  company->branches[random.Below(static_cast<long>(company->branches.size()))],
                                  std::string(1, op.side), std::string(model == "65" ? "2" : "1"),
                                  std::to_string(number), model, std::string(op.type), issued, booked, ie, im,
                                  std::string(kParticipants[participant]), uf,
                                  std::string(random.Chance(2) ? "C" : "N"),
                                  uf == "EX" ? std::nullopt : std::optional<std::string>(kParticipantDocuments[participant]),
                                  uf == "EX" ? std::nullopt : std::optional<std::string>(kParticipantRegistrations[participant])});
        ++counts.documents;

        const long items = op.service ? 1 : std::min(left, 1 + random.Below(7));
        for (long n = 1; n <= items; ++n) {
            const std::string &product = op.service ? service : leaves[random.Below(static_cast<long>(leaves.size()))];
            const long quantity = (1 + random.Below(200)) * 1000 + (random.Chance(10) ? random.Below(1000) : 0);
            const long unit = 50 + random.Below(50000);
            const long goods = (quantity * unit + 500) / 1000;
            const long ipi = op.ipi && (op.cfop[0] == '3' || random.Chance(40)) ? percentOf(goods, 10) : 0;
            const long rate = op.interstate ? 12 : 18;
            long st = 0;
            const std::string nritem = std::to_string(n);
            auto tax = [&](const char *code, long base, long pc, long value, long exempt, long other, long baseSt,
                           long valueSt, std::optional<std::string> cst) {
                sink.Insert(kImpostoItemNF, {cdnota, nritem, std::string(code), money(base), money(pc * 100),
                                             money(value), money(exempt), money(other), money(baseSt),
                                             money(valueSt), std::move(cst)});
                ++counts.taxRows;
            };
            // The ICMS situation as the document states it: origin (1 for an
            // import), then the CST.
            auto icmsCst = [&](const char *cst) { return std::string(op.cfop[0] == '3' ? "1" : "0") + cst; };
            // One item in twenty has no ICMS row at all.
            const bool icmsRow = op.icms != Icms::None && !random.Chance(5);
            if (icmsRow) {
                const long base = goods + (op.cfop[0] == '3' ? ipi : 0);
                switch (op.icms) {
                case Icms::Own: tax("01", base, rate, percentOf(base, rate), 0, 0, 0, 0, icmsCst("00")); break;
                case Icms::WithSt: {
                    const long own = percentOf(base, rate);
                    const long baseSt = percentOf(goods + ipi, 140);
                    st = std::max(0L, percentOf(baseSt, 18) - own);
                    // The substituted buyer gets no credit: its goods are Outras.
                    if (op.side == 'E')
                        tax("01", 0, 0, 0, 0, goods, baseSt, st, icmsCst("10"));
                    else
                        tax("01", base, rate, own, 0, 0, baseSt, st, icmsCst("10"));
                    break;
                }
                // Sent for repair the tax is suspended; a sale of substituted goods was taxed before.
                case Icms::Other:
                    tax("01", 0, 0, 0, 0, goods, 0, 0, icmsCst(std::string(op.cfop) == "5915" ? "50" : "60"));
                    break;
                case Icms::Exempt: tax("01", 0, 0, 0, goods, 0, 0, 0, icmsCst("41")); break;
                case Icms::None: break;
                }
            }
            if (op.service && op.side == 'S')
                tax("02", goods, 5, percentOf(goods, 5), 0, 0, 0, 0, std::nullopt);
            if (ipi)
                tax("03", goods, 10, ipi, 0, 0, 0, 0, std::string("50"));
            sink.Insert(kItemNotaFisc, {cdnota, nritem, product, std::string(op.cfop), fixed(quantity, 3),
                                        money(unit), money(goods + ipi + st)});
            ++counts.items;
        }
        left -= items;
    }
}
} // namespace

void CheckDemoSize(const DemoSize &size)
{
    if (size.products < 1 || size.products > kMaxDemoProducts)
        throw EDemoArgument("products must be between 1 and " + std::to_string(kMaxDemoProducts));
    if (size.companies < 0)
        throw EDemoArgument("companies must not be negative");
    if (size.items < 0 || size.items > kMaxDemoItems)
        throw EDemoArgument("items must be between 0 and " + std::to_string(kMaxDemoItems));
    if (size.year < 1900 || size.year > 9999)
        throw EDemoArgument("year must be between 1900 and 9999");
}

DemoCounts GenerateDemoData(DemoSink &sink, const DemoSize &size)
{
    CheckDemoSize(size);
    std::vector<CompanyData> companies;
    if (size.items > 0)
        companies = documentCompanies(sink);
    DemoCounts counts;
    addCompanies(sink, size.companies, counts);
    addProducts(sink, size.products, counts);
    if (size.items > 0)
        addDocuments(sink, size, companies, counts);
    sink.Finish();
    return counts;
}
