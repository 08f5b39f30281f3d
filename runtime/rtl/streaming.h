#pragma once
// Building components from a declarative description: class names, component
// names, property values and event bindings by method name. Events are bound
// after every property is set, so building fires no event.
#include "rtl/classes.h"

#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

using PropValue = std::variant<bool, int, std::string, std::vector<std::string>>;

struct PropertyDesc {
    std::string name;
    PropValue value;
};

struct ComponentDesc {
    std::string className;  // empty for a component the base class already made
    std::string name;
    std::vector<PropertyDesc> props;
    std::vector<ComponentDesc> children;  // controls parented to this one
};

class LoadContext {
public:
    LoadContext(TComponent &root, const MethodTable &methods) : root_(root), methods_(methods) {}

    TComponent &Root() const { return root_; }
    const MethodTable &Methods() const { return methods_; }
    // A component of the root by name; raises when there is none.
    TComponent *Find(const std::string &name) const;
    template <class T>
    T *FindAs(const std::string &name) const
    {
        T *t = dynamic_cast<T *>(Find(name));
        if (!t)
            throw EComponentError("Componente '" + name + "' não é do tipo esperado.");
        return t;
    }
    // Runs once every component exists (references between components).
    void Defer(std::function<void()> fixup) { fixups_.push_back(std::move(fixup)); }
    // Runs after the fixups: event bindings.
    void DeferEvent(std::function<void()> binding) { events_.push_back(std::move(binding)); }

    // Binds an event of `component` to a published method once loading ends,
    // and records which method it is.
    template <class Sig>
    void BindEvent(TComponent &component, const PropertyDesc &prop, std::function<Sig> &slot)
    {
        const std::string method = std::get<std::string>(prop.value);
        const std::string event = prop.name;
        const MethodTable *table = &methods_;
        TComponent *target = &component;
        DeferEvent([&slot, method, event, table, target] {
            slot = table->Require<Sig>(method);
            target->RecordBinding(event, method);
        });
    }

    void Finish();

private:
    TComponent &root_;
    const MethodTable &methods_;
    std::vector<std::function<void()>> fixups_;
    std::vector<std::function<void()>> events_;
};

int PropInt(const PropertyDesc &p);
bool PropBool(const PropertyDesc &p);
const std::string &PropString(const PropertyDesc &p);
const std::vector<std::string> &PropStrings(const PropertyDesc &p);

using ComponentFactory = std::function<TComponent *(TComponent *owner)>;

// Classes a description may name. Host packages register theirs on load.
class ClassRegistry {
public:
    static void Register(const std::string &className, ComponentFactory factory);
    static bool IsRegistered(const std::string &className);
    static TComponent *Create(const std::string &className, TComponent *owner);
};

template <class T>
void RegisterComponentClass(const std::string &name)
{
    ClassRegistry::Register(name, [](TComponent *owner) -> TComponent * { return new T(owner); });
}

// Applies `desc` to `root`: its own properties, then each child, creating
// the ones that do not exist yet.
void LoadDescription(TComponent &root, const ComponentDesc &desc, const MethodTable &methods);
