#include "rtl/classes.h"

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
            owner_->byName_.erase(name_);
        if (!name.empty())
            owner_->byName_[name] = this;
    }
    name_ = name;
}

TComponent *TComponent::FindComponent(const std::string &name) const
{
    if (name.empty())
        return nullptr;
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
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
    if (auto named = byName_.find(c->name_); named != byName_.end() && named->second == c)
        byName_.erase(named);
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
    for (const auto &b : bindings_)
        if (b.first == event)
            return b.second;
    return {};
}

void TComponent::RecordBinding(const std::string &event, const std::string &method)
{
    for (auto &b : bindings_)
        if (b.first == event) {
            b.second = method;
            return;
        }
    bindings_.emplace_back(event, method);
}
