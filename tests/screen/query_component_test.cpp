// A query's declared parameters must be the ones its statement's markers give.
#include "rtl/describe.h"
#include "screen_fixture.h"
#include "vdl/ADOIBQuery.h"

namespace {
using namespace describe;

std::string loadError(const std::vector<std::string> &declared)
{
    const ComponentDesc desc = Inherited(
        "", {}, {C("TADOIBQuery", "qryTeste", {P("SQL", {"SELECT :A, :B", "  FROM T WHERE X = :A"}), PropertyDesc("Params", declared)})});
    TComponent owner(nullptr);
    MethodTable methods;
    try {
        LoadDescription(owner, desc, methods);
    } catch (const EComponentError &e) {
        return e.Message();
    }
    return "";
}
} // namespace

TEST_F(ScreenTest, DeclaredQueryParametersMustMatchTheMarkers)
{
    const std::string mismatch = "qryTeste: os parâmetros declarados não são os do comando.";
    const struct {
        std::vector<std::string> declared;
        std::string error;
    } cases[] = {
        {{"A", "B"}, ""},
        {{"B", "A"}, ""},
        {{"A"}, mismatch},
        {{"A", "B", "C"}, mismatch},
        {{"A", "A"}, mismatch},
        {{"a", "B"}, mismatch},
        {{}, mismatch},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.declared));
        EXPECT_EQ(loadError(c.declared), c.error);
    }
}
