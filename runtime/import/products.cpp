// The company's products for the items it books, and the ones the import
// creates under its group (NFEGRUPOPRODUTO): a subgroup GG.SS of up to 9999
// leaves GG.SS.NNNN, numbered after the highest there when each is made.
#include "import/booking.h"

#include <algorithm>
#include <cstdio>

using Values = ImportConnection::Values;

namespace {
// Items without product share one leaf of their own, in subgroup 00, which
// new products never use.
constexpr const char *kAnalyticalLeaf = ".00.0001";
constexpr const char *kAnalyticalName = "Item de registro analítico (sem produto)";
} // namespace

ProductCatalogue::ProductCatalogue(ImportConnection &db) : db_(db)
{
    auto group = db_.Select(db_.Prepare("SELECT CDARVPROD, NMGRUPO FROM NFEGRUPOPRODUTO ORDER BY CDARVPROD"), {});
    if (!group.empty() && group[0][0]) {
        group_ = *group[0][0];
        groupName_ = group[0][1].value_or(group_);
    }
    selLastLeaf_ = db_.Prepare("SELECT MAX(CDARVPROD) FROM PRODUTO WHERE CDARVPROD LIKE ? AND CDNVPRODUTO = '3'");
    selLink_ = db_.Prepare("SELECT CDPRODUTO FROM PRODUTOPARTIC WHERE NRDOCPARTIC = ? AND CDPRODPARTIC = ?");
    insLink_ = db_.Prepare("INSERT INTO PRODUTOPARTIC (NRDOCPARTIC, CDPRODPARTIC, CDPRODUTO) VALUES (?, ?, ?)");
    selLeafByTree_ = db_.Prepare("SELECT CDPRODUTO FROM PRODUTO WHERE CDARVPROD = ? AND CDNVPRODUTO = '3'");
    selLeafByCode_ = db_.Prepare("SELECT CDPRODUTO FROM PRODUTO WHERE CDPRODUTO = ? AND CDNVPRODUTO = '3'");
    selTree_ = db_.Prepare("SELECT CDPRODUTO FROM PRODUTO WHERE CDARVPROD = ?");
    insProduct_ = db_.Prepare("INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, NMPRODUTO, CDNVPRODUTO) VALUES (?, ?, ?, ?)");
}

std::string ProductCatalogue::For(const FiscalDocument &d, const FiscalItem &item, const Owner &owner)
{
    if (!item.product)
        return analytical();
    const FiscalProduct &p = *item.product;
    // Whose code it is: the issuer's on an invoice, the company's in its own books.
    const bool companyCode = owner.issued || d.codesFrom == CodesFrom::Company;
    const FiscalParty &codeOwner = !owner.issued && companyCode && d.recipient ? *d.recipient : d.issuer;
    const std::string participant = RegistrationKey(codeOwner.document);
    const std::string linkKey = participant + '\x1f' + p.code;
    if (auto cached = links_.find(linkKey); cached != links_.end())
        return cached->second;
    auto rows = db_.Select(selLink_, {participant, p.code});
    if (rows.empty() && companyCode) {
        rows = db_.Select(selLeafByTree_, {p.code});
        if (rows.empty())
            rows = db_.Select(selLeafByCode_, {p.code});
    }
    std::string code;
    if (!rows.empty() && rows[0][0])
        code = *rows[0][0];
    else
        code = create(p.name, codeOwner.document, p.code);
    links_[linkKey] = code;
    newLinks_.push_back(linkKey);
    return code;
}

std::string ProductCatalogue::create(const std::string &name, const std::string &participant, const std::string &theirCode)
{
    ensureGroup();
    const long long next = nextLeaf();
    const long long subgroup = next / 10000, leaf = next % 10000;
    if (subgroup > 99)
        throw EDatabaseError("o grupo de produtos importados (" + group_ + ") está cheio");
    char tree[64];
    std::snprintf(tree, sizeof tree, "%s.%02lld", group_.c_str(), subgroup);
    const std::string subgroupCode = tree;
    if (db_.Select(selTree_, {subgroupCode}).empty())
        db_.Run(insProduct_, {db_.NextKey(kProductCodes), subgroupCode, groupName_, "2"});
    std::snprintf(tree, sizeof tree, "%s.%04lld", subgroupCode.c_str(), leaf);
    const std::string code = db_.NextKey(kProductCodes);
    const std::string clipped = ClipText(name, 50);
    db_.Run(insProduct_, {code, std::string(tree), clipped, "3"});
    db_.Run(insLink_, {RegistrationKey(participant), ClipText(theirCode, 60), code});
    pending_.push_back({code, tree, clipped, participant, theirCode});
    return code;
}

std::string ProductCatalogue::analytical()
{
    if (!analytical_.empty())
        return analytical_;
    const std::string subgroup = group_ + ".00", tree = group_ + kAnalyticalLeaf;
    if (auto rows = db_.Select(selLeafByTree_, {tree}); !rows.empty() && rows[0][0])
        return analytical_ = *rows[0][0];
    ensureGroup();
    if (db_.Select(selTree_, {subgroup}).empty())
        db_.Run(insProduct_, {db_.NextKey(kProductCodes), subgroup, groupName_, "2"});
    analytical_ = db_.NextKey(kProductCodes);
    db_.Run(insProduct_, {analytical_, tree, std::string(kAnalyticalName), "3"});
    pending_.push_back({analytical_, tree, kAnalyticalName, {}, {}});
    return analytical_;
}

void ProductCatalogue::ensureGroup()
{
    if (groupReady_)
        return;
    if (db_.Select(selTree_, {group_}).empty())
        db_.Run(insProduct_, {db_.NextKey(kProductCodes), group_, groupName_, "1"});
    groupReady_ = true;
}

long long ProductCatalogue::nextLeaf()
{
    // Subgroup 00 holds the analytical leaf alone: new products start at 01.
    long long next = 10001;
    auto last = db_.Select(selLastLeaf_, {group_ + ".%"});
    if (!last.empty() && last[0][0]) {
        const std::string &leaf = *last[0][0];  // GG.SS.NNNN
        const std::size_t at = group_.size() + 1;
        try {
            next = std::max(next, std::stoll(leaf.substr(at, 2)) * 10000 + std::stoll(leaf.substr(at + 3)) + 1);
        } catch (const std::exception &) {
        }
    }
    if (next % 10000 == 0)
        ++next;  // leaf 0000 is never used
    return next;
}

void ProductCatalogue::Restore(const Mark &m)
{
    groupReady_ = m.groupReady;
    for (std::size_t i = m.links; i < newLinks_.size(); ++i)
        links_.erase(newLinks_[i]);
    newLinks_.resize(m.links);
    analytical_ = m.analytical;
    pending_.clear();
}

std::vector<ImportedProduct> ProductCatalogue::TakeCreated()
{
    std::vector<ImportedProduct> out;
    out.swap(pending_);
    return out;
}
