#pragma once
// Objects, owned components and the published-method table.
#include "rtl/sysutils.h"

#include <any>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string_view>
#include <variant>
#include <functional>
#include <string>
#include <type_traits>
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
    void SetName(const std::string &name) { SetName(name, NameHash(name)); }
    // With the name's NameHash already at hand (a loader looks a name up,
    // then gives it).
    void SetName(const std::string &name, std::size_t hash);
    static std::size_t NameHash(std::string_view name) { return std::hash<std::string_view>{}(name); }

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent *Components(int index) const { return components_.at(static_cast<std::size_t>(index)); }
    TComponent *FindComponent(std::string_view name) const;
    TComponent *FindComponent(std::string_view name, std::size_t hash) const
    {
        return name.empty() || named_ == 0 ? nullptr : findNamed(name, hash);
    }
    // Room for `more` owned components, so adding them grows nothing.
    void ReserveComponents(std::size_t more);

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
    TComponent *findNamed(std::string_view name, std::size_t hash) const;
    void rehash(std::size_t count);
    void IndexName(TComponent *c);
    void UnindexName(TComponent *c);
    void InsertComponent(TComponent *c);
    void RemoveComponent(TComponent *c);
    void NotifyRemoval(TComponent *c);

    TComponent *owner_ = nullptr;
    std::string name_;
    std::vector<TComponent *> components_;
    std::size_t nameHash_ = 0;           // of name_
    std::vector<TComponent *> byName_;  // named owned components by hash of name (empty or a power of two)
    std::size_t named_ = 0;
    std::vector<const PropertyDesc *> bindings_;
    bool loading_ = false;
};

// Methods a class publishes by name, so a description can bind events to them.
// Adding a name that exists replaces it: a derived class's handler takes the
// place of the base handler of the same name.
//
// A form publishes dozens of methods every time it opens. Those given as an
// object and a member function cost no allocation, and neither do the events
// bound to them: the bound callable is a pointer to the table's entry, which
// stays in place for the table's life.
class MethodTable {
public:
    MethodTable() = default;
    MethodTable(const MethodTable &) = delete;
    MethodTable &operator=(const MethodTable &) = delete;

    template <class Sig>
    void Add(const std::string &name, std::function<Sig> fn)
    {
        Entry &e = append(name, true);
        e.sig = &typeid(Sig);
        e.fn = std::move(fn);
    }
    // `name` must outlive the table (a string literal).
    template <class Obj, class... A>
    void Add(std::string_view name, Obj *object, void (Obj::*method)(A...))
    {
        using Method = void (Obj::*)(A...);
        static_assert(sizeof(Method) <= sizeof(Entry::method));
        Entry &e = append(name, false);
        e.sig = &typeid(void(A...));
        e.object = object;
        std::memcpy(e.method, &method, sizeof method);
        e.invoke = reinterpret_cast<void (*)()>(&callMember<Obj, A...>);
    }
    bool Contains(const std::string &name) const { return lookup(name) != nullptr; }
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
        const Entry *e = lookup(name);
        return e && sameType(*e->sig, typeid(Sig)) ? bound<Sig>(*e) : std::function<Sig>();
    }
    template <class Sig>
    std::function<Sig> Require(const std::string &name) const
    {
        const Entry *e = lookup(name);
        if (!e)
            throw EComponentError("Método publicado '" + name + "' não existe.");
        if (!sameType(*e->sig, typeid(Sig)))
            throw EComponentError("Método publicado '" + name + "' tem outra assinatura.");
        return bound<Sig>(*e);
    }
    std::vector<std::string> Names() const;

private:
    struct Entry {
        std::string owned;       // the name when it was given as a std::string
        std::string_view name;
        const std::type_info *sig = nullptr;
        std::any fn;             // a std::function<Sig> given as such, or
        void *object = nullptr;  // an object and one of its member functions
        alignas(std::max_align_t) unsigned char method[16];
        void (*invoke)() = nullptr;
    };

    // The same type mostly has the same type information; comparing names is
    // for the rest (one type seen from two libraries).
    static bool sameType(const std::type_info &a, const std::type_info &b) { return &a == &b || a == b; }

    template <class Obj, class... A>
    static void callMember(const Entry &e, A... args)
    {
        void (Obj::*method)(A...);
        std::memcpy(&method, e.method, sizeof method);
        (static_cast<Obj *>(e.object)->*method)(std::forward<A>(args)...);
    }
    template <class R, class... A>
    static std::function<R(A...)> boundAs(const Entry &e, R (*)(A...))
    {
        if (!e.invoke)
            return *std::any_cast<std::function<R(A...)>>(&e.fn);
        if constexpr (std::is_void_v<R>) {
            // One pointer: kept inside std::function, no allocation.
            const Entry *entry = &e;
            return [entry](A... args) {
                reinterpret_cast<void (*)(const Entry &, A...)>(entry->invoke)(*entry, std::forward<A>(args)...);
            };
        } else {
            return {};  // member functions are published as events, which return nothing
        }
    }
    template <class Sig>
    static std::function<Sig> bound(const Entry &e)
    {
        return boundAs(e, static_cast<Sig *>(nullptr));
    }

    // A later entry of a name hides the earlier ones.
    Entry &append(std::string_view name, bool copyName);
    const Entry *lookup(std::string_view name) const;

    std::deque<Entry> entries_;  // in publishing order; never moves an entry
    // Open-addressed by hash of name, the latest entry of each name; rebuilt
    // on the first lookup after an Add.
    mutable std::vector<const Entry *> index_;
    mutable std::size_t indexed_ = 0;  // entries the index was built from
    std::vector<std::string> placeholders_;
};

// Code that unloads a library calls this: a type of the library may leave
// its type information's address to a type of the next one.
void ForgetCachedCasts();
extern std::atomic<unsigned> cachedCastGeneration;

// dynamic_cast for hot paths. Where a base lies inside an object depends only
// on the object's dynamic type, so the answer for each type is remembered
// (a few types per cast, per thread) and the hierarchy walked once.
template <class T, class U>
T *CachedCast(U *p)
{
    if (!p)
        return nullptr;
    struct Memo {
        const std::type_info *type = nullptr;
        unsigned generation = 0;
        std::ptrdiff_t offset = 0;
        bool ok = false;
    };
    static thread_local Memo memo[8];
    const std::type_info &type = typeid(*p);
    Memo &m = memo[(reinterpret_cast<std::uintptr_t>(&type) >> 4) & 7];
    auto *bytes = reinterpret_cast<char *>(const_cast<std::remove_const_t<U> *>(p));
    const unsigned generation = cachedCastGeneration.load(std::memory_order_acquire);
    if (m.type != &type || m.generation != generation) {
        T *r = dynamic_cast<T *>(p);
        m.type = &type;
        m.generation = generation;
        m.ok = r != nullptr;
        m.offset = r ? reinterpret_cast<char *>(const_cast<std::remove_const_t<T> *>(r)) - bytes : 0;
        return r;
    }
    return m.ok ? reinterpret_cast<T *>(bytes + m.offset) : nullptr;
}

template <class T>
T *FindTyped(const TComponent *owner, const std::string &name)
{
    return CachedCast<T>(owner->FindComponent(name));
}
