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

void TComponent::SetName(const std::string &name)
{
    if (name == name_)
        return;
    if (owner_) {
        if (!name.empty()) {
            TComponent *other = owner_->FindComponent(name);
            if (other && other != this)
                throw EComponentError("Já existe um componente com o nome '" + name + "'.");
        }
        if (!name_.empty())
            owner_->UnindexName(this);
        name_ = name;
        if (!name_.empty())
            owner_->IndexName(this);
        return;
    }
    name_ = name;
}

namespace {
struct ByName {
    bool operator()(const TComponent *c, const std::string &n) const { return c->Name() < n; }
    bool operator()(const std::string &n, const TComponent *c) const { return n < c->Name(); }
};
} // namespace

void TComponent::IndexName(TComponent *c)
{
    byName_.insert(std::lower_bound(byName_.begin(), byName_.end(), c->name_, ByName{}), c);
}

void TComponent::UnindexName(TComponent *c)
{
    auto [first, last] = std::equal_range(byName_.begin(), byName_.end(), c->name_, ByName{});
    auto it = std::find(first, last, c);
    if (it != last)
        byName_.erase(it);
}

TComponent *TComponent::FindComponent(const std::string &name) const
{
    if (name.empty())
        return nullptr;
    auto it = std::lower_bound(byName_.begin(), byName_.end(), name, ByName{});
    return it != byName_.end() && (*it)->name_ == name ? *it : nullptr;
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

bool MethodTable::Contains(const std::string &name) const { return index_.count(name) > 0; }

std::vector<std::string> MethodTable::Names() const
{
    std::vector<std::string> out;
    for (const auto &e : entries_)
        out.push_back(e.first);
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
    bindings_.push_back(&binding);
}
