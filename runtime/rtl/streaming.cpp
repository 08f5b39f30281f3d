#include "rtl/streaming.h"


#include <unordered_map>
#include <mutex>

TComponent *LoadContext::Find(const PropertyDesc &reference) const
{
    const std::string &name = PropString(reference);
    std::size_t hash = reference.referenceHash.value.load(std::memory_order_relaxed);
    if (hash == 0) {
        hash = TComponent::NameHash(name);
        reference.referenceHash.value.store(hash, std::memory_order_relaxed);
    }
    if (TComponent *c = root_.FindComponent(name, hash))
        return c;
    throw EComponentError("Componente '" + name + "' não encontrado.");
}

void LoadContext::Reserve(const ComponentDesc &desc)
{
    std::size_t props = 0, components = 0;
    auto count = [&](const ComponentDesc &d, auto &&self) -> void {
        props += d.props.size();
        components += d.children.size();
        for (const auto &c : d.children)
            self(c, self);
    };
    count(desc, count);
    fixups_.reserve(props);
    events_.reserve(props);
    root_.ReserveComponents(components);
}

void LoadContext::Finish()
{
    // Fixups may add more fixups (a query checks its parameters once its
    // statement is chosen), so walk by index.
    for (std::size_t i = 0; i < fixups_.size(); ++i) {
        PendingFixup f = fixups_[i];
        f.run(*f.self, *f.prop, *this);
    }
    fixups_.clear();
    for (const auto &e : events_)
        e.bind(e.slot, *e.target, *e.prop, methods_);
    events_.clear();
}

namespace {
std::unordered_map<std::string, ComponentFactory> &registry()
{
    static std::unordered_map<std::string, ComponentFactory> r;
    return r;
}

void applyProps(TComponent &target, const ComponentDesc &desc, LoadContext &ctx)
{
    for (const auto &p : desc.props)
        if (!target.SetProperty(p, ctx))
            throw EComponentError("Propriedade '" + p.name + "' desconhecida em " + target.ClassName() +
                                  " '" + target.Name() + "'.");
}

void loadChildren(TComponent &root, TComponent &parent, const ComponentDesc &desc, LoadContext &ctx)
{
    for (const auto &child : desc.children) {
        std::size_t hash = child.nameHash.value.load(std::memory_order_relaxed);
        if (hash == 0) {
            hash = TComponent::NameHash(child.name);
            child.nameHash.value.store(hash, std::memory_order_relaxed);
        }
        TComponent *c = root.FindComponent(child.name, hash);
        if (!c) {
            if (child.className.empty())
                throw EComponentError("Componente herdado '" + child.name + "' não existe.");
            auto *factory = static_cast<const ComponentFactory *>(child.factory.value.load(std::memory_order_acquire));
            if (!factory) {
                factory = &ClassRegistry::Factory(child.className);
                child.factory.value.store(factory, std::memory_order_release);
            }
            c = (*factory)(&root);
            c->SetName(child.name, hash);
        } else if (!child.className.empty() && child.className != c->ClassName()) {
            throw EComponentError("Componente '" + child.name + "' já existe como " + c->ClassName() + ".");
        }
        if (&parent != c)
            c->SetParentComponent(&parent);
        applyProps(*c, child, ctx);
        loadChildren(root, *c, child, ctx);
    }
}
} // namespace

void ThrowPropertyType(const PropertyDesc &p, const char *expected)
{
    throw EComponentError("Propriedade '" + p.name + "' espera " + expected + ".");
}

void ThrowUnknownValue(const PropertyDesc &p, const std::string &value)
{
    throw EComponentError("Valor desconhecido '" + value + "' para a propriedade '" + p.name + "'.");
}

void ClassRegistry::Register(const std::string &className, ComponentFactory factory)
{
    registry()[className] = std::move(factory);  // in place: pointers to factories stay valid
}

bool ClassRegistry::IsRegistered(const std::string &className) { return registry().count(className) > 0; }

const ComponentFactory &ClassRegistry::Factory(const std::string &className)
{
    auto it = registry().find(className);
    if (it == registry().end())
        throw EComponentError("Classe '" + className + "' não registrada.");
    return it->second;
}

TComponent *ClassRegistry::Create(const std::string &className, TComponent *owner)
{
    return Factory(className)(owner);
}

void LoadDescription(TComponent &root, const ComponentDesc &desc, const MethodTable &methods)
{
    LoadContext ctx(root, methods);
    ctx.Reserve(desc);
    applyProps(root, desc, ctx);
    loadChildren(root, root, desc, ctx);
    ctx.Finish();
}
