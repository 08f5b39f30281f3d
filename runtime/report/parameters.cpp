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
    const std::string flagName = AllFlagName(name);
    const TParam *flag = flagName.empty() ? nullptr : params.FindParam(flagName);
    return flag && rawText(flag) == "T";
}

std::string shown(const LayoutParameter &entry, const std::string &raw, const std::string &productMask)
{
    if (auto it = entry.values.find(raw); it != entry.values.end())
        return it->second;
    return FormatValue(raw, entry.format, productMask);
}
} // namespace

std::string AllFlagName(const std::string &filter)
{
    if (filter.size() < 3 || (filter.compare(0, 2, "P_") != 0 && filter.compare(0, 2, "p_") != 0))
        return {};
    return filter.substr(0, 2) + "T" + filter.substr(2);
}

void SetFilterWithFlag(TParams &params, const std::string &filter, const std::string &value)
{
    const bool blank = Trim(value).empty();
    if (TParam *p = params.FindParam(filter))
        p->SetAsVariant(blank ? std::string() : value);
    if (const std::string flagName = AllFlagName(filter); !flagName.empty())
        if (TParam *flag = params.FindParam(flagName))
            flag->SetAsVariant(std::string(blank ? "T" : ""));
}

ParameterWords DescribeParameters(const std::vector<LayoutParameter> &entries, const TParams &params,
                                  const ParameterLookup &lookup, const std::string &productMask)
{
    ParameterWords words;
    // The entry's lookup with the values it names; nothing when it fails:
    // the code alone still says which one it is.
    auto lookedUp = [&](const LayoutParameter &e) -> std::optional<std::string> {
        if (e.lookup.empty() || !lookup)
            return std::nullopt;
        NamedValues values;
        for (const std::string &name : ParamNames(e.lookup))
            if (const TParam *p = params.FindParam(name))
                values.emplace_back(name, p->AsVariant());
        try {
            if (auto name = lookup(e.lookup, values); name && !Trim(*name).empty())
                return Trim(*name);
        } catch (const std::exception &) {
        }
        return std::nullopt;
    };
    for (const LayoutParameter &e : entries) {
        const TParam *first = params.FindParam(e.param);
        if (!first)
            continue;  // the statement does not take it
        std::string text;
        const std::string raw = rawText(first);
        const bool all = allFlagSet(params, e.param);
        bool set = !all && !raw.empty();
        if (e.lookupOnly) {
            const auto answer = set ? lookedUp(e) : std::nullopt;
            if (!answer)
                continue;
            text = FormatValue(*answer, e.format, productMask);
        } else if (all) {
            text = e.all;
        } else if (!e.to.empty()) {
            const std::string last = rawText(params.FindParam(e.to));
            const std::string a = raw.empty() ? "" : shown(e, raw, productMask);
            const std::string b = last.empty() ? "" : shown(e, last, productMask);
            set = !a.empty() || !b.empty();
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
            if (auto name = lookedUp(e))
                text += " – " + *name;
        }
        words.block.emplace_back(e.label, text);
        if (e.header == ParameterHeader::Always || (e.header == ParameterHeader::WhenSet && set)) {
            words.header.emplace_back(e.label, text);
            if (!e.lookupOnly && !text.empty())
                words.subject += (words.subject.empty() ? "" : " · ") + text;
        }
    }
    return words;
}
