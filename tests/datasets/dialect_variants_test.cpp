// Without a database: which statement each query runs under each dialect,
// that no dialect is sent another's functions, and how the fields bind on SQL
// Server, where the tax statement names its columns differently.
#include "screen_host.h"

#include <functional>

namespace {
using Screen = TfrmResumoOficialCfop;
using QueryMember = TADOIBQuery *Screen::*;

struct Choice {
    const char *label;
    QueryMember query;
    const char *oracle;
    const char *mssql;
    const char *interbase;
};

const Choice kChoices[] = {
    {"qryImposto", &Screen::qryImposto, "SQL_ORACLE", "SQL_MSSQL", "SQL_IB"},
    {"qryEmpresa", &Screen::qryEmpresa, "SQL_ORACLE", "SQL_MSSQL", "SQL_IB"},
    {"qryPesqInscEsta", &Screen::qryPesqInscEsta, "SQL", "SQL", "SQL"},
    {"qryInscrMuni", &Screen::qryInscrMuni, "SQL", "SQL", "SQL"},
    {"qryProduto", &Screen::qryProduto, "SQL", "SQL", "SQL"},
    {"qryValidProd", &Screen::qryValidProd, "SQL", "SQL", "SQL"},
    {"qrySerieNF", &Screen::qrySerieNF, "SQL_ORACLE", "SQL_MSSQL", "SQL_IB"},
    {"qrySerieEntr", &Screen::qrySerieEntr, "SQL_ORACLE", "SQL_MSSQL", "SQL_IB"},
    {"qryModDoc", &Screen::qryModDoc, "SQL", "SQL", "SQL"},
    {"qrtTpOperacao", &Screen::qrtTpOperacao, "SQL_ORACLE", "SQL_MSSQL", "SQL"},
    {"qryFiliOrig", &Screen::qryFiliOrig, "SQL_ORACLE", "SQL_MSSQL", "SQL_IB"},
};

// What a dialect's database does not understand.
struct Foreign {
    TDialect dialect;
    std::vector<const char *> tokens;
};
const Foreign kForeign[] = {
    {TDialect::Oracle, {"ISNULL(", "NVLSTR(", "PARAM("}},
    {TDialect::MSSQL, {"NVL(", "NVLSTR(", "PARAM(", "||"}},
    {TDialect::InterBase, {"NVL(", "ISNULL("}},
};

class DialectTest : public testing::Test {
protected:
    // One screen per dialect, built without any database.
    void WithScreen(TDialect dialect, const std::function<void(Screen &)> &body)
    {
        ScreenHost host(nullptr, dialect);
        body(host.Screen());
    }
};

TEST_F(DialectTest, EachQueryRunsItsDialectsVariantElseThePlainStatement)
{
    for (const auto &[dialect, pick] : {std::pair{TDialect::Oracle, &Choice::oracle},
                                        std::pair{TDialect::MSSQL, &Choice::mssql},
                                        std::pair{TDialect::InterBase, &Choice::interbase}}) {
        WithScreen(dialect, [&, pick = pick, dialect = dialect](Screen &s) {
            for (const Choice &c : kChoices)
                EXPECT_EQ((s.*c.query)->ActiveStatementName(), c.*pick) << c.label << " under " << DialectName(dialect);
        });
    }
}

TEST_F(DialectTest, NoDialectIsSentAnotherDialectsFunctions)
{
    for (const Foreign &f : kForeign) {
        WithScreen(f.dialect, [&](Screen &s) {
            for (const Choice &c : kChoices) {
                const std::string statement = (s.*c.query)->ActiveStatement();
                for (const char *token : f.tokens)
                    EXPECT_EQ(statement.find(token), std::string::npos)
                        << c.label << " under " << DialectName(f.dialect) << " holds " << token << ":\n"
                        << statement;
            }
        });
    }
}

// Answers every statement with fixed columns and rows and keeps what it was sent.
class FixedSession : public DatabaseSession {
public:
    explicit FixedSession(ResultSet answer) : answer_(std::move(answer)) {}
    ResultSet Query(const std::string &sql, const NamedValues &params) override
    {
        sql_ = sql;
        params_ = params;
        return answer_;
    }
    void Execute(const std::string &) override { throw EDatabaseError("read only"); }
    std::string EngineName() const override { return "fixed"; }

    std::string sql_;
    NamedValues params_;

private:
    ResultSet answer_;
};

const ResultSet kTaxesAsSqlServerNamesThem{
    {"CDIMPOSTO", "SGIMPOSTO", "NMIMPOSTO"},
    {{"01", "ICMS", "Imposto sobre Circulacao de Mercadorias"}, {"08", "TAXA", std::nullopt}}};

TEST_F(DialectTest, SqlServerTaxColumnsFeedTheTaxFieldsByPosition)
{
    FixedSession session(kTaxesAsSqlServerNamesThem);
    WithScreen(TDialect::MSSQL, [&](Screen &s) {
        dtmDBGeral->Attach(&session, TDialect::MSSQL);
        Reopen(*s.qryImposto, {Null("P_CDIMPOSTO")});
        EXPECT_EQ(session.sql_, s.qryImposto->ActiveStatement());
        ASSERT_EQ(session.params_.size(), 1u);
        EXPECT_TRUE(session.params_[0].second.isNull());

        EXPECT_EQ(Column(*s.qryImposto, *s.qryImpostoCDIMPOSTONFE), (std::vector<std::string>{"01", "08"}));
        EXPECT_EQ(Column(*s.qryImposto, *s.qryImpostoSGIMPOSTONFE), (std::vector<std::string>{"ICMS", "TAXA"}));
        EXPECT_EQ(Column(*s.qryImposto, *s.qryImpostoIDORGARRECADNFE),
                  (std::vector<std::string>{"Imposto sobre Circulacao de Mercadorias", "(null)"}));
    });
}

TEST_F(DialectTest, OtherDialectsRefuseAColumnMissingByName)
{
    FixedSession session(kTaxesAsSqlServerNamesThem);
    for (TDialect dialect : {TDialect::Oracle, TDialect::InterBase}) {
        WithScreen(dialect, [&](Screen &s) {
            dtmDBGeral->Attach(&session, dialect);
            EXPECT_THROW(Reopen(*s.qryImposto, {Null("P_CDIMPOSTO")}), EDatabaseError) << DialectName(dialect);
            EXPECT_FALSE(s.qryImposto->Active());
        });
    }
}

TEST_F(DialectTest, SqlServerFieldBeyondTheColumnsIsAnError)
{
    FixedSession session({{"CDIMPOSTO", "SGIMPOSTO"}, {{"01", "ICMS"}}});
    WithScreen(TDialect::MSSQL, [&](Screen &s) {
        dtmDBGeral->Attach(&session, TDialect::MSSQL);
        EXPECT_THROW(Reopen(*s.qryImposto, {Null("P_CDIMPOSTO")}), EDatabaseError);
        EXPECT_FALSE(s.qryImposto->Active());
        EXPECT_EQ(s.qryImpostoCDIMPOSTONFE->AsString(), "");
    });
}

TEST_F(DialectTest, SqlServerStillFindsNamedColumnsByName)
{
    // The operation types come back in another order than the fields are declared.
    FixedSession session({{"IDENTRSAIDOP", "CDTIPOOPER", "NMTIPOOPER", "CHAVE"}, {{"S", "04", "Remessa", "S04"}}});
    WithScreen(TDialect::MSSQL, [&](Screen &s) {
        dtmDBGeral->Attach(&session, TDialect::MSSQL);
        Reopen(*s.qrtTpOperacao, {});
        EXPECT_EQ(s.qrtTpOperacaoCDTIPOOPER->AsString(), "04");
        EXPECT_EQ(s.qrtTpOperacaoIDENTRSAIDOP->AsString(), "S");
        EXPECT_EQ(s.qrtTpOperacaoCHAVE->AsString(), "S04");
        EXPECT_NE(session.sql_.find("IDENTRSAIDOP+CDTIPOOPER"), std::string::npos);
    });
}

} // namespace
