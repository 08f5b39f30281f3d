#include "data/params.h"

#include <mutex>
#include <unordered_map>

#include "data/dberrors.h"
#include "data/sqlparams.h"

void TParam::SetAsString(const std::string &value)
{
    value_ = Variant(value);
    DataType = ftString;
}

void TParam::SetAsVariant(const Variant &value)
{
    value_ = value;
    switch (value.kind()) {
    case Variant::Kind::Text: DataType = ftString; break;
    case Variant::Kind::DateTime: DataType = ftDateTime; break;
    case Variant::Kind::Number: DataType = ftFloat; break;
    case Variant::Kind::Null: break;  // NULL keeps the declared type
    }
}

TParams &TParams::operator=(const TParams &other)
{
    if (this != &other) {
        items_.clear();
        for (const auto &p : other.items_)
            AddParam(*p);
    }
    return *this;
}

TParam *TParams::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw EDatabaseError("Índice de parâmetro fora dos limites: " + std::to_string(index) + ".");
    return items_[static_cast<std::size_t>(index)].get();
}

TParam *TParams::FindParam(const std::string &name) const
{
    for (const auto &p : items_)
        if (SameName(p->Name, name))
            return p.get();
    return nullptr;
}

TParam *TParams::ParamByName(const std::string &name) const
{
    if (TParam *p = FindParam(name))
        return p;
    throw EDatabaseError("Parâmetro '" + name + "' não encontrado.");
}

TParam *TParams::CreateParam(TFieldType dataType, const std::string &name, TParamType paramType)
{
    return AddParam(TParam(name, dataType, paramType));
}

TParam *TParams::AddParam(const TParam &param)
{
    items_.push_back(std::make_unique<TParam>(param));
    return items_.back().get();
}

namespace {
// Screens set the same few statements every time they open: parse each once.
// A copy: another thread may empty the cache once the lock is released.
std::vector<std::string> cachedParamNames(const std::string &sql)
{
    static std::mutex mutex;
    static std::unordered_map<std::string, std::vector<std::string>> cache;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(sql);
    if (it == cache.end()) {
        if (cache.size() > 4096)
            cache.clear();
        it = cache.emplace(sql, ParamNames(sql)).first;
    }
    return it->second;
}
} // namespace

void TParams::ParseSQL(const std::string &sql)
{
    items_.clear();
    for (const std::string &name : cachedParamNames(sql))
        CreateParam(ftString, name, ptUnknown);
}
