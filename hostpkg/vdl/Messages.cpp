#include "vdl/Messages.h"

#include "rtl/streaming.h"

// Property names compare by length first.
using namespace std::string_view_literals;

TMessages::TMessages(TComponent *owner) : TComponent(owner) {}

AnsiString TMessages::Msg(const AnsiString &key) const
{
    for (const auto &line : lines_) {
        auto bar = line.find('|');
        if (bar != std::string::npos && line.compare(0, bar, key) == 0 && bar == key.size())
            return line.substr(bar + 1);
    }
    return {};
}

bool TMessages::HasKey(const AnsiString &key) const
{
    for (const auto &line : lines_)
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '|')
            return true;
    return false;
}

bool TMessages::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "Messages"sv) {
        lines_ = PropStrings(p);
        return true;
    }
    return TComponent::SetProperty(p, ctx);
}
