#include "rtl/classes.h"

#include "rtl/streaming.h"

#include <algorithm>

TComponent::TComponent(TComponent *owner) : owner_(owner)
{
    if (owner_)
        owner_->InsertComponent(this);
}

TComponent::~TComponent()
{
    while (!components_.empty())
        delete components_.back();  // the child's destructor unlinks it
    if (owner_) {
        owner_->NotifyRemoval(this);
        owner_->RemoveComponent(this);
    }
}

std::atomic<unsigned> cachedCastGeneration{1};

void ForgetCachedCasts() { cachedCastGeneration.fetch_add(1, std::memory_order_acq_rel); }

void TComponent::SetName(const std::string &name, std::size_t hash)
{
    if (name == name_)
        return;
    if (owner_) {
        if (!name.empty()) {
            TComponent *other = owner_->findNamed(name, hash);
            if (other && other != this)
                throw EComponentError("Já existe um componente com o nome '" + name + "'.");
        }
        if (!name_.empty())
            owner_->UnindexName(this);
        name_ = name;
        nameHash_ = hash;
        if (!name_.empty())
            owner_->IndexName(this);
        return;
    }
    name_ = name;
    nameHash_ = hash;
}

// Named components are kept in an open-addressed hash table (linear probing,
// at most three quarters full): a form looks its components up by name a few
// hundred times while it is built.
TComponent *TComponent::findNamed(std::string_view name, std::size_t hash) const
{
    if (byName_.empty())
        return nullptr;
    const std::size_t mask = byName_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        TComponent *c = byName_[i];
        if (!c)
            return nullptr;
        if (c->nameHash_ == hash && c->name_ == name)
            return c;
    }
}

void TComponent::ReserveComponents(std::size_t more)
{
    components_.reserve(components_.size() + more);
    rehash(named_ + more);
}

// Sizes the name table for `count` names at most three quarters full.
void TComponent::rehash(std::size_t count)
{
    std::size_t size = std::max<std::size_t>(16, byName_.size());
    while (count * 4 > size * 3)
        size *= 2;
    if (size == byName_.size())
        return;
    std::vector<TComponent *> old(size, nullptr);
    old.swap(byName_);
    named_ = 0;
    for (TComponent *o : old)
        if (o)
            IndexName(o);
}

void TComponent::IndexName(TComponent *c)
{
    if ((named_ + 1) * 4 > byName_.size() * 3)
        rehash(std::max<std::size_t>(named_ + 1, byName_.size()));
    const std::size_t mask = byName_.size() - 1;
    std::size_t i = c->nameHash_ & mask;
    while (byName_[i])
        i = (i + 1) & mask;
    byName_[i] = c;
    ++named_;
}

void TComponent::UnindexName(TComponent *c)
{
    if (byName_.empty())
        return;
    const std::size_t mask = byName_.size() - 1;
    std::size_t i = c->nameHash_ & mask;
    while (byName_[i] && byName_[i] != c)
        i = (i + 1) & mask;
    if (!byName_[i])
        return;
    // Shift back the entries that probed past the freed slot.
    for (std::size_t j = i;;) {
        j = (j + 1) & mask;
        TComponent *next = byName_[j];
        if (!next)
            break;
        const std::size_t home = next->nameHash_ & mask;
        const bool staysPut = i <= j ? (i < home && home <= j) : (i < home || home <= j);
        if (staysPut)
            continue;
        byName_[i] = next;
        i = j;
    }
    byName_[i] = nullptr;
    --named_;
}

TComponent *TComponent::FindComponent(std::string_view name) const
{
    if (name.empty() || named_ == 0)
        return nullptr;
    return findNamed(name, NameHash(name));
}

void TComponent::Notification(TComponent *) {}

bool TComponent::SetProperty(const PropertyDesc &, LoadContext &) { return false; }

bool TComponent::IsLoading() const
{
    for (const TComponent *c = this; c; c = c->owner_)
        if (c->loading_)
            return true;
    return false;
}

void TComponent::InsertComponent(TComponent *c) { components_.push_back(c); }

void TComponent::RemoveComponent(TComponent *c)
{
    if (!c->name_.empty())
        UnindexName(c);
    // Owners destroy their components last first: look from the back.
    auto it = std::find(components_.rbegin(), components_.rend(), c);
    if (it != components_.rend())
        components_.erase(std::next(it).base());
}

void TComponent::NotifyRemoval(TComponent *c)
{
    Notification(c);
    for (TComponent *sibling : components_)
        if (sibling != c)
            sibling->Notification(c);
}

MethodTable::Entry &MethodTable::append(std::string_view name, bool copyName)
{
    if (!placeholders_.empty())
        std::erase(placeholders_, name);
    Entry &e = entries_.emplace_back();
    if (copyName) {
        e.owned = name;
        e.name = e.owned;  // the deque never moves it
    } else {
        e.name = name;
    }
    return e;
}

const MethodTable::Entry *MethodTable::lookup(std::string_view name) const
{
    if (indexed_ != entries_.size()) {
        std::size_t size = 16;
        while (size < entries_.size() * 2)
            size *= 2;
        index_.assign(size, nullptr);
        for (const Entry &e : entries_) {
            std::size_t i = TComponent::NameHash(e.name) & (size - 1);
            while (index_[i] && index_[i]->name != e.name)
                i = (i + 1) & (size - 1);
            index_[i] = &e;  // a later entry of a name takes its slot
        }
        indexed_ = entries_.size();
    }
    if (index_.empty())
        return nullptr;
    const std::size_t mask = index_.size() - 1;
    for (std::size_t i = TComponent::NameHash(name) & mask; index_[i]; i = (i + 1) & mask)
        if (index_[i]->name == name)
            return index_[i];
    return nullptr;
}

std::vector<std::string> MethodTable::Names() const
{
    std::vector<std::string> out;
    for (const auto &e : entries_)
        if (std::find(out.begin(), out.end(), e.name) == out.end())
            out.emplace_back(e.name);
    return out;
}

bool MethodTable::IsPlaceholder(const std::string &name) const
{
    for (const auto &p : placeholders_)
        if (p == name)
            return true;
    return false;
}

std::string TComponent::BoundMethod(const std::string &event) const
{
    for (const PropertyDesc *b : bindings_)
        if (b->name == event)
            return std::get<std::string>(b->value);
    return {};
}

void TComponent::RecordBinding(const PropertyDesc &binding)
{
    for (auto &b : bindings_)
        if (b->name == binding.name) {
            b = &binding;
            return;
        }
    if (bindings_.empty())
        bindings_.reserve(4);  // a control binds a few events: one allocation
    bindings_.push_back(&binding);
}
