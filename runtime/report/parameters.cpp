#include "report/parameters.h"

#include "data/sqlparams.h"
#include "report/values.h"

namespace {
// The value as text: dates as "YYYY-MM-DD", the empty date (day zero) as "".
std::string rawText(const TParam *p)
{
    if (!p || p->IsNull())
        return {};
    const Variant v = p->AsVariant();
    if (v.kind() == Variant::Kind::DateTime)
        return v.asDateTime().Val == 0 ? std::string() : v.asString();
    return Trim(v.asString());
}

bool allFlagSet(const TParams &params, const std::string &name)
{
    // An all-flag is its filter's name with "T" after "P_".
    if (name.size() < 3 || (name.compare(0, 2, "P_") != 0 && name.compare(0, 2, "p_") != 0))
        return false;
    const TParam *flag = params.FindParam(name.substr(0, 2) + "T" + name.substr(2));
    return flag && rawText(flag) == "T";
}

std::string shown(const LayoutParameter &entry, const std::string &raw, const std::string &productMask)
{
    if (auto it = entry.values.find(raw); it != entry.values.end())
        return it->second;
    return FormatValue(raw, entry.format, productMask);
}
} // namespace

ParameterWords DescribeParameters(const std::vector<LayoutParameter> &entries, const TParams &params,
                                  const ParameterLookup &lookup, const std::string &productMask)
{
    ParameterWords words;
    for (const LayoutParameter &e : entries) {
        const TParam *first = params.FindParam(e.param);
        if (!first)
            continue;  // the statement does not take it
        std::string text;
        const std::string raw = rawText(first);
        if (allFlagSet(params, e.param)) {
            text = e.all;
        } else if (!e.to.empty()) {
            const std::string last = rawText(params.FindParam(e.to));
            const std::string a = raw.empty() ? "" : shown(e, raw, productMask);
            const std::string b = last.empty() ? "" : shown(e, last, productMask);
            if (a.empty() && b.empty())
                text = e.all;
            else if (b.empty())
                text = "a partir de " + a;
            else if (a.empty())
                text = "até " + b;
            else
                text = a == b ? a : a + " a " + b;
        } else if (raw.empty()) {
            text = e.all;
        } else {
            text = shown(e, raw, productMask);
            if (!e.lookup.empty() && lookup) {
                NamedValues values;
                for (const std::string &name : ParamNames(e.lookup))
                    if (const TParam *p = params.FindParam(name))
                        values.emplace_back(name, p->AsVariant());
                try {
                    if (auto name = lookup(e.lookup, values); name && !Trim(*name).empty())
                        text += " – " + Trim(*name);
                } catch (const std::exception &) {
                    // The code alone still says which one it is.
                }
            }
        }
        words.block.emplace_back(e.label, text);
        if (e.header)
            words.header.emplace_back(e.label, text);
    }
    return words;
}
