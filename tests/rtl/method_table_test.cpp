// Published methods: what a description may bind, and what the bound event calls.
#include "rtl/classes.h"

#include <gtest/gtest.h>

namespace {
struct Base {
    std::vector<std::string> calls;
    void Click(TObject *) { calls.push_back("base click"); }
    void Close(TObject *, bool &allow) { allow = false, calls.push_back("base close"); }
};
struct Derived : Base {
    void Click(TObject *) { calls.push_back("derived click"); }
};

std::string errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const EComponentError &e) {
        return e.Message();
    }
    return "";
}
} // namespace

TEST(MethodTable, BindsMemberFunctionsAndFunctionsAlike)
{
    Derived d;
    MethodTable m;
    m.Add("Click", static_cast<Base *>(&d), &Base::Click);
    m.Add("Close", static_cast<Base *>(&d), &Base::Close);
    m.Add<void(TObject *)>("Lambda", [&d](TObject *) { d.calls.push_back("lambda"); });
    // A later publication of a name hides the earlier one, whatever its kind.
    m.Add("Click", &d, &Derived::Click);

    auto click = m.Require<void(TObject *)>("Click");
    auto close = m.Require<void(TObject *, bool &)>("Close");
    auto lambda = m.Require<void(TObject *)>("Lambda");
    bool allow = true;
    click(nullptr);
    close(nullptr, allow);
    lambda(nullptr);
    EXPECT_FALSE(allow);
    EXPECT_EQ(d.calls, (std::vector<std::string>{"derived click", "base close", "lambda"}));
    EXPECT_EQ(m.Names(), (std::vector<std::string>{"Click", "Close", "Lambda"}));

    // Bound events stay valid while more methods are published.
    for (int i = 0; i < 200; ++i)
        m.Add<void(TObject *)>("extra" + std::to_string(i), [](TObject *) {});
    click(nullptr);
    EXPECT_EQ(d.calls.back(), "derived click");
    EXPECT_TRUE(m.Contains("extra199"));
}

TEST(MethodTable, RefusesUnknownNamesAndOtherSignatures)
{
    Base b;
    MethodTable m;
    m.Add("Click", &b, &Base::Click);
    struct Case {
        std::function<void()> bind;
        std::string error;
    } cases[] = {
        {[&] { m.Require<void(TObject *)>("Missing"); }, "Método publicado 'Missing' não existe."},
        {[&] { m.Require<void(TObject *, bool &)>("Click"); }, "Método publicado 'Click' tem outra assinatura."},
        {[&] { m.Require<void(TObject *)>("click"); }, "Método publicado 'click' não existe."},
    };
    for (const Case &c : cases)
        EXPECT_EQ(errorOf(c.bind), c.error);
    EXPECT_FALSE(m.Find<void(TObject *, bool &)>("Click"));
    EXPECT_FALSE(m.Find<void(TObject *)>("Missing"));
    EXPECT_TRUE(m.Find<void(TObject *)>("Click"));
}

TEST(MethodTable, PlaceholdersGiveWayToRealMethods)
{
    Base b;
    MethodTable m;
    m.AddPlaceholder<void(TObject *)>("Click");
    m.AddPlaceholder<void(TObject *)>("Later");
    EXPECT_TRUE(m.IsPlaceholder("Click"));
    m.Require<void(TObject *)>("Click")(nullptr);  // does nothing
    m.Add("Click", &b, &Base::Click);
    EXPECT_FALSE(m.IsPlaceholder("Click"));
    EXPECT_TRUE(m.IsPlaceholder("Later"));
    m.Require<void(TObject *)>("Click")(nullptr);
    EXPECT_EQ(b.calls, std::vector<std::string>{"base click"});
}
