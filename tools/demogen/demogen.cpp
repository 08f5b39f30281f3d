#include "demogen.h"

#include <charconv>
#include <cstdio>
#include <stdexcept>
#include <unordered_set>

namespace {
const DemoTable kEmpresa{"EMPRESA", {"CDEMPRESA", "NMEMPRESA"}};
const DemoTable kInscrEstad{"INSCRESTAD", {"CDEMPRESA", "CDINSCESTA", "NRINSJURIEST", "SGESTADO"}};
const DemoTable kInscrMunicip{"INSCRMUNICIP", {"CDEMPRESA", "CDINSCMUNI"}};
const DemoTable kSerieNF{"SERIENF", {"CDEMPRESA", "CDINSCESTA", "CDINSCMUNI", "CDSERIE", "DSSERIE"}};
const DemoTable kFilial{"FILIAL", {"CDFILIAL", "NMFILIAL", "CDEMPRESA"}};
const DemoTable kProduto{"PRODUTO", {"CDPRODUTO", "CDARVPROD", "NMPRODUTO", "CDNVPRODUTO"}};

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
        throw std::invalid_argument("only " + std::to_string(freeCompanyCodes(companies)) +
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
} // namespace

void CheckDemoSize(const DemoSize &size)
{
    if (size.products < 1 || size.products > kMaxDemoProducts)
        throw std::invalid_argument("products must be between 1 and " + std::to_string(kMaxDemoProducts));
    if (size.companies < 0)
        throw std::invalid_argument("companies must not be negative");
}

DemoCounts GenerateDemoData(DemoSink &sink, const DemoSize &size)
{
    CheckDemoSize(size);
    DemoCounts counts;
    addCompanies(sink, size.companies, counts);
    addProducts(sink, size.products, counts);
    sink.Finish();
    return counts;
}
