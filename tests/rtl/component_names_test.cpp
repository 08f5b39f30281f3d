// Components found by name while their owner gains, renames and loses them.
#include "rtl/classes.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

TEST(ComponentNames, FindMatchesWhatTheOwnerHoldsThroughChurn)
{
    TComponent owner(nullptr);
    std::map<std::string, TComponent *> expected;
    std::vector<TComponent *> alive;
    std::mt19937 random(7);
    auto pick = [&] { return alive[random() % alive.size()]; };
    for (int step = 0; step < 5000; ++step) {
        const std::string name = "c" + std::to_string(random() % 400);
        switch (alive.empty() ? 0 : random() % 4) {
        case 0: {  // add, named unless the name is taken
            auto *c = new TComponent(&owner);
            alive.push_back(c);
            if (!expected.count(name)) {
                c->SetName(name);
                expected[name] = c;
            }
            break;
        }
        case 1: {  // rename, or clear the name
            TComponent *c = pick();
            const std::string to = random() % 5 == 0 ? std::string() : name;
            if (!to.empty() && expected.count(to) && expected[to] != c) {
                EXPECT_THROW(c->SetName(to), EComponentError);
                break;
            }
            expected.erase(c->Name());
            c->SetName(to);
            if (!to.empty())
                expected[to] = c;
            break;
        }
        default: {  // destroy
            TComponent *c = pick();
            expected.erase(c->Name());
            alive.erase(std::find(alive.begin(), alive.end(), c));
            delete c;
        }
        }
        if (step % 97 == 0)
            for (int n = 0; n < 400; ++n) {
                const std::string probe = "c" + std::to_string(n);
                auto it = expected.find(probe);
                ASSERT_EQ(owner.FindComponent(probe), it == expected.end() ? nullptr : it->second) << probe;
            }
    }
    EXPECT_EQ(owner.ComponentCount(), static_cast<int>(alive.size()));
    EXPECT_EQ(owner.FindComponent(""), nullptr);
}

TEST(ComponentNames, ReservingKeepsWhatIsThere)
{
    TComponent owner(nullptr);
    for (int i = 0; i < 20; ++i)
        (new TComponent(&owner))->SetName("a" + std::to_string(i));
    owner.ReserveComponents(1000);
    for (int i = 0; i < 20; ++i)
        EXPECT_NE(owner.FindComponent("a" + std::to_string(i)), nullptr);
    EXPECT_EQ(owner.FindComponent("a20"), nullptr);
}
