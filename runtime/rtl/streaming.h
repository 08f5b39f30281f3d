#pragma once
// Building components from a declarative description: class names, component
// names, property values and event bindings by method name. Events are bound
// after every property is set, so building fires no event.
#include "rtl/classes.h"

#include <atomic>
#include <functional>
#include <initializer_list>
#include <string_view>
#include <map>
#include <string>
#include <variant>
#include <vector>

using PropValue = std::variant<bool, int, std::string, std::vector<std::string>>;

// A learned value worked out once from static description data (a hash, a
// factory), kept for the next load. Copies carry it along.
template <class T>
struct Learned {
    std::atomic<T> value{T{}};  // T{}: not worked out yet
    Learned() = default;
    Learned(const Learned &o) : value(o.value.load(std::memory_order_relaxed)) {}
    Learned &operator=(const Learned &o)
    {
        value.store(o.value.load(std::memory_order_relaxed), std::memory_order_relaxed);
        return *this;
    }
};

struct PropertyDesc {
    PropertyDesc(std::string name = {}, PropValue value = {}) : name(std::move(name)), value(std::move(value)) {}
    std::string name;
    PropValue value;
    // The hash of a component name the value refers to.
    mutable Learned<std::size_t> referenceHash;
};

struct ComponentDesc {
    ComponentDesc(std::string className = {}, std::string name = {}, std::vector<PropertyDesc> props = {},
                  std::vector<ComponentDesc> children = {})
        : className(std::move(className)), name(std::move(name)), props(std::move(props)),
          children(std::move(children))
    {
    }

    std::string className;  // empty for a component the base class already made
    std::string name;
    std::vector<PropertyDesc> props;
    std::vector<ComponentDesc> children;  // controls parented to this one

    // What loading works out from this entry, kept for the next load: a
    // screen is built from the same description every time it opens.
    mutable Learned<std::size_t> nameHash;
    mutable Learned<const void *> factory;  // the class's ComponentFactory
};

class LoadContext {
public:
    LoadContext(TComponent &root, const MethodTable &methods) : root_(root), methods_(methods) {}

    TComponent &Root() const { return root_; }
    const MethodTable &Methods() const { return methods_; }
    // The component a property's text value names; raises when there is none.
    TComponent *Find(const PropertyDesc &reference) const;
    template <class T>
    T *FindAs(const PropertyDesc &reference) const
    {
        T *t = CachedCast<T>(Find(reference));
        if (!t)
            throw EComponentError("Componente '" + std::get<std::string>(reference.value) +
                                  "' não é do tipo esperado.");
        return t;
    }
    // Runs once every component exists (references between components).
    // The description outlives the load, so a fixup reads its value from `prop`.
    using Fixup = void (*)(TComponent &self, const PropertyDesc &prop, LoadContext &ctx);
    void Defer(TComponent &self, const PropertyDesc &prop, Fixup fixup) { fixups_.push_back({fixup, &self, &prop}); }

    // Binds an event of `component` to the published method the description
    // names, once loading ends, and records which method it is.
    template <class Sig>
    void BindEvent(TComponent &component, const PropertyDesc &prop, std::function<Sig> &slot)
    {
        events_.push_back({&LoadContext::bindSlot<Sig>, &slot, &component, &prop});
    }

    // Sizes the pending lists for a description, so loading it grows nothing.
    void Reserve(const ComponentDesc &desc);
    void Finish();

private:
    template <class Sig>
    static void bindSlot(void *slot, TComponent &target, const PropertyDesc &prop, const MethodTable &methods)
    {
        *static_cast<std::function<Sig> *>(slot) = methods.Require<Sig>(std::get<std::string>(prop.value));
        target.RecordBinding(prop);
    }

    // Plain records: a load makes hundreds of these and none allocates.
    struct PendingFixup {
        Fixup run;
        TComponent *self;
        const PropertyDesc *prop;
    };
    struct PendingEvent {
        void (*bind)(void *slot, TComponent &target, const PropertyDesc &prop, const MethodTable &methods);
        void *slot;
        TComponent *target;
        const PropertyDesc *prop;
    };

    TComponent &root_;
    const MethodTable &methods_;
    std::vector<PendingFixup> fixups_;
    std::vector<PendingEvent> events_;
};

// A property's value as the type its setter expects; raises otherwise.
[[noreturn]] void ThrowPropertyType(const PropertyDesc &p, const char *expected);
template <class T>
const T &PropAs(const PropertyDesc &p, const char *expected)
{
    if (auto *v = std::get_if<T>(&p.value))
        return *v;
    ThrowPropertyType(p, expected);
}
inline int PropInt(const PropertyDesc &p) { return PropAs<int>(p, "um número"); }
inline bool PropBool(const PropertyDesc &p) { return PropAs<bool>(p, "um booleano"); }
inline const std::string &PropString(const PropertyDesc &p) { return PropAs<std::string>(p, "um texto"); }
inline const std::vector<std::string> &PropStrings(const PropertyDesc &p)
{
    return PropAs<std::vector<std::string>>(p, "uma lista de textos");
}

// An enumerated property by its value's name. A name the table lacks is an
// error everywhere: a description with a typo must not load as the default.
[[noreturn]] void ThrowUnknownValue(const PropertyDesc &p, const std::string &value);
template <class E>
E PropEnum(const PropertyDesc &p, std::initializer_list<std::pair<std::string_view, E>> values)
{
    const std::string &v = PropString(p);
    for (const auto &[name, e] : values)
        if (v == name)
            return e;
    ThrowUnknownValue(p, v);
}

using ComponentFactory = std::function<TComponent *(TComponent *owner)>;

// Classes a description may name. Host packages register theirs on load.
class ClassRegistry {
public:
    static void Register(const std::string &className, ComponentFactory factory);
    static bool IsRegistered(const std::string &className);
    static TComponent *Create(const std::string &className, TComponent *owner);
    // The class's factory; it stays where it is for the life of the process.
    static const ComponentFactory &Factory(const std::string &className);
};

template <class T>
void RegisterComponentClass(const std::string &name)
{
    ClassRegistry::Register(name, [](TComponent *owner) -> TComponent * { return new T(owner); });
}

// Applies `desc` to `root`: its own properties, then each child, creating
// the ones that do not exist yet.
void LoadDescription(TComponent &root, const ComponentDesc &desc, const MethodTable &methods);
