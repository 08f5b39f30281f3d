// Casts that remember their answer per type give what dynamic_cast gives, for
// every object of the type, through single and multiple inheritance.
#include "rtl/classes.h"

#include <gtest/gtest.h>

#include <memory>

namespace {
struct Provider {
    virtual ~Provider() = default;
    int tag = 7;
};
struct Plain : TComponent {
    using TComponent::TComponent;
};
struct WithProvider : TComponent, Provider {
    using TComponent::TComponent;
};
struct Deeper : WithProvider {
    using WithProvider::WithProvider;
};
struct ProviderFirst : Provider, TComponent {
    using TComponent::TComponent;
};
} // namespace

TEST(CachedCast, AgreesWithDynamicCastForEveryObject)
{
    std::vector<std::unique_ptr<TComponent>> objects;
    for (int round = 0; round < 3; ++round) {
        objects.push_back(std::make_unique<Plain>(nullptr));
        objects.push_back(std::make_unique<WithProvider>(nullptr));
        objects.push_back(std::make_unique<Deeper>(nullptr));
        objects.push_back(std::make_unique<ProviderFirst>(nullptr));
        objects.push_back(std::make_unique<TComponent>(nullptr));
    }
    for (int pass = 0; pass < 2; ++pass) {  // the second pass answers from memory
        for (const auto &o : objects) {
            TComponent *c = o.get();
            EXPECT_EQ(CachedCast<Provider>(c), dynamic_cast<Provider *>(c));
            EXPECT_EQ(CachedCast<WithProvider>(c), dynamic_cast<WithProvider *>(c));
            EXPECT_EQ(CachedCast<Deeper>(c), dynamic_cast<Deeper *>(c));
            EXPECT_EQ(CachedCast<const Provider>(static_cast<const TComponent *>(c)),
                      dynamic_cast<const Provider *>(static_cast<const TComponent *>(c)));
            if (Provider *p = CachedCast<Provider>(c)) {
                EXPECT_EQ(p->tag, 7);
            }
        }
        ForgetCachedCasts();
    }
    EXPECT_EQ(CachedCast<Provider>(static_cast<TComponent *>(nullptr)), nullptr);
}
