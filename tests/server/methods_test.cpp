// Both methods over the real protocol on the reference fixture.
#include "net/appserver_client.h"
#include "support.h"

#include <gtest/gtest.h>

namespace {
// Rows of a packet as "CODE KIND" (GetSerie) or joined columns.
std::vector<std::string> rowsOf(const std::string &packet, std::size_t columns)
{
    auto j = nlohmann::json::parse(packet);
    std::vector<std::string> out;
    for (const auto &row : j["rows"]) {
        std::string text;
        for (std::size_t i = 0; i < columns; ++i)
            text += (i ? " " : "") + (row[i].is_null() ? std::string("NULL") : row[i].get<std::string>());
        out.push_back(text);
    }
    return out;
}

std::vector<std::pair<std::string, int>> fieldsOf(const std::string &packet)
{
    std::vector<std::pair<std::string, int>> out;
    const auto j = nlohmann::json::parse(packet);
    for (const auto &f : j["fields"])
        out.emplace_back(f["name"], f["size"]);
    return out;
}

using Rows = std::vector<std::string>;
} // namespace

class Methods : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new TestServer(); }
    static void TearDownTestSuite() { delete server; }
    std::string Call(const std::string &m, const std::vector<std::string> &args)
    {
        AppServerClient client("127.0.0.1", server->port);
        return client.Call(m, args);
    }
    static TestServer *server;
};
TestServer *Methods::server = nullptr;

TEST_F(Methods, GetSerieFiltersAndOrdersByCodeThenKind)
{
    struct Case {
        std::vector<std::string> args;  // company, state reg., municipal reg., series
        Rows rows;                      // "CODE KIND"
    } cases[] = {
        // No filter: series 4 (NULL municipal registration) is listed; series 1
        // of two municipal registrations is one row.
        {{"01", "", "", ""}, {"1 E", "1 S", "2 E", "2 S", "3 S", "4 S", "E01 E", "U E", "U S"}},
        // A municipal filter never matches the NULL registration of series 4.
        {{"01", "", "1234567", ""}, {"1 E", "1 S", "2 E", "2 S", "3 S", "E01 E", "U E", "U S"}},
        {{"01", "", "7654321", ""}, {"1 E", "1 S", "2 E", "E01 E", "U E"}},
        {{"01", "0623079040081", "", ""}, {"1 E", "2 E", "3 S", "E01 E", "U E", "U S"}},
        {{"01", "77452130", "", ""}, {"1 E", "2 E", "4 S", "E01 E", "U E"}},
        {{"01", "77452130", "1234567", ""}, {"1 E", "2 E", "E01 E", "U E"}},
        {{"01", "", "", "U"}, {"U E", "U S"}},
        {{"01", "", "", "E01"}, {"E01 E"}},
        {{"01", "", "", "X"}, {}},
        {{"02", "", "", ""}, {"1 E", "1 S", "2 E", "A S", "E01 E", "U E"}},
        // Entry series are not tied to a company.
        {{"", "", "", ""}, {"1 E", "2 E", "E01 E", "U E"}},
        {{"99", "", "", ""}, {"1 E", "2 E", "E01 E", "U E"}},
        // Values longer than their columns match nothing (and do not fail).
        {{"01", "", "", "TOOLONG"}, {}},
        {{"001", "", "", ""}, {"1 E", "2 E", "E01 E", "U E"}},
        {{"01", "11004249011400000", "", ""}, {"1 E", "2 E", "E01 E", "U E"}},
        // Parameters are values, never SQL.
        {{"01", "' OR ''='", "", ""}, {"1 E", "2 E", "E01 E", "U E"}},
    };
    for (const Case &c : cases) {
        std::string packet = Call("GetSerie", c.args);
        EXPECT_EQ(rowsOf(packet, 3).size(), c.rows.size()) << packet;
        Rows got;
        for (const std::string &r : rowsOf(packet, 3)) {
            auto first = r.find(' '), last = r.rfind(' ');
            got.push_back(r.substr(0, first) + " " + r.substr(last + 1));
        }
        EXPECT_EQ(got, c.rows) << "args " << nlohmann::json(c.args).dump();
        EXPECT_EQ(fieldsOf(packet), (std::vector<std::pair<std::string, int>>{
                                        {"CDSERIE", 5}, {"DSSERIE", 20}, {"TIPO", 1}}));
    }
    EXPECT_EQ(rowsOf(Call("GetSerie", {"02", "", "", "A"}), 3), (Rows{"A Serie A S"}));
    EXPECT_EQ(rowsOf(Call("GetSerie", {"01", "", "", "U"}), 3),
              (Rows{"U Serie unica entrada E", "U Serie unica S"}));
}

TEST_F(Methods, InscEstaStListsTheCompanysSubstitutes)
{
    struct Case {
        std::vector<std::string> args;  // registration, company, all flag
        Rows rows;
    } cases[] = {
        {{"", "01", "T"},
         {"01 0010500001 110042490114 35212345678 RJ", "01 0020700002 110042490114 35212345678 MG"}},
        {{"0010500001", "01", "T"},
         {"01 0010500001 110042490114 35212345678 RJ", "01 0020700002 110042490114 35212345678 MG"}},
        {{"0020700002", "01", ""}, {"01 0020700002 110042490114 35212345678 MG"}},
        {{"0020700002", "01", "N"}, {"01 0020700002 110042490114 35212345678 MG"}},
        {{"", "01", ""}, {}},
        {{"0030900003", "01", ""}, {}},  // another company's
        {{"", "02", "T"}, {"02 0030900003 244123456119 35255566677 PR"}},
        {{"", "99", "T"}, {}},
        {{"", "", "T"}, {}},
    };
    for (const Case &c : cases) {
        std::string packet = Call("getInscEstaSt", c.args);
        EXPECT_EQ(rowsOf(packet, 5), c.rows) << "args " << nlohmann::json(c.args).dump();
        EXPECT_EQ(fieldsOf(packet), (std::vector<std::pair<std::string, int>>{{"CDEMPRESA", 2},
                                                                              {"CDINSCESTAST", 16},
                                                                              {"CDINSCESTA", 16},
                                                                              {"NRINSJURIEST", 20},
                                                                              {"SGESTADO", 2}}));
    }
}

TEST(MethodsOnEditedData, MissingRegistrationsAndDuplicateSeries)
{
    TemporaryDemoDatabase db;
    auto edit = OpenSqliteSession(db.Path(), false);
    edit->Execute("INSERT INTO INSCRESTADST VALUES ('01', '0000000009', '999', 'SP')");
    // Series 1 and 2 again, under other registrations and descriptions.
    edit->Execute("INSERT INTO SERIENF VALUES ('01', '999', NULL, '1', 'A primeira')");
    edit->Execute("INSERT INTO SERIENF VALUES ('01', '999', NULL, '2', NULL)");
    edit.reset();
    TestServer server({}, [path = db.Path()] { return OpenSqliteSession(path, true); });
    AppServerClient client("127.0.0.1", server.port);
    // The substitute of a registration INSCRESTAD lacks is listed, without NRINSJURIEST.
    EXPECT_EQ(rowsOf(client.Call("getInscEstaSt", {"", "01", "T"}), 5),
              (Rows{"01 0000000009 999 NULL SP", "01 0010500001 110042490114 35212345678 RJ",
                    "01 0020700002 110042490114 35212345678 MG"}));
    // One row per code and kind, with the smallest description that is not NULL.
    EXPECT_EQ(rowsOf(client.Call("GetSerie", {"01", "", "", "1"}), 3), (Rows{"1 Serie 1 entrada E", "1 A primeira S"}));
    EXPECT_EQ(rowsOf(client.Call("GetSerie", {"01", "", "", "2"}), 3), (Rows{"2 Serie 2 entrada E", "2 Serie 2 S"}));
    EXPECT_EQ(rowsOf(client.Call("GetSerie", {"01", "999", "", "2"}), 3), (Rows{"2 Serie 2 entrada E", "2 NULL S"}));
}
