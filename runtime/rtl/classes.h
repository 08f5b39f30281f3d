#pragma once
// Objects, owned components and the published-method table.
#include "rtl/sysutils.h"

#include <any>
#include <unordered_map>
#include <variant>
#include <functional>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

struct PropertyDesc;
class LoadContext;

class TObject {
public:
    TObject() = default;
    TObject(const TObject &) = delete;
    TObject &operator=(const TObject &) = delete;
    virtual ~TObject() = default;
    virtual const char *ClassName() const { return "TObject"; }
};

using TNotifyEvent = std::function<void(TObject *)>;

// A component owns what it creates: destroying the owner destroys them, last
// created first. Every other pointer between components is non-owning.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent *owner);
    ~TComponent() override;
    const char *ClassName() const override { return "TComponent"; }

    TComponent *Owner() const { return owner_; }
    const std::string &Name() const { return name_; }
    void SetName(const std::string &name);

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent *Components(int index) const { return components_.at(static_cast<std::size_t>(index)); }
    TComponent *FindComponent(const std::string &name) const;

    // Told when a component it may point to is about to be destroyed.
    virtual void Notification(TComponent *component);

    // Places the component inside the one that encloses it in a description
    // (controls take it as their parent; other components ignore it).
    virtual void SetParentComponent(TComponent *) {}

    // Sets a property from a description; false when the name is unknown.
    virtual bool SetProperty(const PropertyDesc &prop, LoadContext &ctx);

    // The published method an event was bound to by a description ("" when none).
    std::string BoundMethod(const std::string &event) const;
    // Descriptions are static data that outlive what they build, so the
    // binding is kept as a pointer into the description.
    void RecordBinding(const PropertyDesc &binding);

protected:
    // While a form is built from its description no event may fire.
    bool IsLoading() const;
    void SetLoading(bool loading) { loading_ = loading; }

private:
    void IndexName(TComponent *c);
    void UnindexName(TComponent *c);
    void InsertComponent(TComponent *c);
    void RemoveComponent(TComponent *c);
    void NotifyRemoval(TComponent *c);

    TComponent *owner_ = nullptr;
    std::string name_;
    std::vector<TComponent *> components_;
    std::vector<TComponent *> byName_;  // named owned components, sorted by name
    std::vector<const PropertyDesc *> bindings_;
    bool loading_ = false;
};

// Methods a class publishes by name, so a description can bind events to them.
// Adding a name that exists replaces it: a derived class's handler takes the
// place of the base handler of the same name.
class MethodTable {
public:
    template <class Sig>
    void Add(const std::string &name, std::function<Sig> fn)
    {
        std::erase(placeholders_, name);
        if (auto it = index_.find(name); it != index_.end()) {
            entries_[it->second].second = std::move(fn);
            return;
        }
        index_.emplace(name, entries_.size());
        entries_.emplace_back(name, std::move(fn));
    }
    bool Contains(const std::string &name) const;
    // A method published under its name that does nothing yet: the feature it
    // belongs to is not built. Descriptions may bind it.
    template <class Sig>
    void AddPlaceholder(const std::string &name)
    {
        Add<Sig>(name, [](auto &&...) {});
        placeholders_.push_back(name);
    }
    bool IsPlaceholder(const std::string &name) const;
    // Empty when the name is unknown or the method has another signature.
    template <class Sig>
    std::function<Sig> Find(const std::string &name) const
    {
        auto it = index_.find(name);
        if (it == index_.end())
            return {};
        if (auto *fn = std::any_cast<std::function<Sig>>(&entries_[it->second].second))
            return *fn;
        return {};
    }
    template <class Sig>
    std::function<Sig> Require(const std::string &name) const
    {
        auto it = index_.find(name);
        if (it == index_.end())
            throw EComponentError("Método publicado '" + name + "' não existe.");
        if (auto *fn = std::any_cast<std::function<Sig>>(&entries_[it->second].second))
            return *fn;
        throw EComponentError("Método publicado '" + name + "' tem outra assinatura.");
    }
    std::vector<std::string> Names() const;

private:
    std::vector<std::pair<std::string, std::any>> entries_;  // in publishing order
    std::unordered_map<std::string, std::size_t> index_;
    std::vector<std::string> placeholders_;
};

template <class T>
T *FindTyped(const TComponent *owner, const std::string &name)
{
    return dynamic_cast<T *>(owner->FindComponent(name));
}
