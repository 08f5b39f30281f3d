// The screen's eleven queries, verbatim from its form description, on the
// reference data under each engine and dialect: what every lookup and check
// returns, the optional-filter and all-flag idioms, hostile parameter values,
// read-only access and the statement count.
#include "screen_host.h"

#include "data/sqlquery.h"

#include <algorithm>

namespace {
using Screen = TfrmResumoOficialCfop;
using QueryMember = TADOIBQuery *Screen::*;
using FieldMember = TADOIBStringField *Screen::*;
using Rows = std::vector<std::string>;

// One opening of one query and the values one field takes over its rows.
struct Probe {
    const char *label;
    QueryMember query;
    std::vector<Arg> args;
    FieldMember field;
    Rows rows;
    bool unordered = false;  // the statement has no ORDER BY
    // Where trailing blanks compare equal, when that changes the answer.
    std::optional<Rows> rowsWhenPadded = std::nullopt;
    // A value longer than the column it is compared with directly.
    bool longerThanColumn = false;
};

std::ostream &operator<<(std::ostream &os, const Probe &p) { return os << p.label; }

const Rows kCompanies{"01", "02", "03", "09", "10"};
const Rows kOfferedTaxes{"01", "02", "03", "04", "05", "06", "08"};
const Rows kStateOf01{"0623079040081", "110042490114", "77452130"};
const Rows kLeaves{"01.01.0001", "01.01.0002", "01.01.0003", "01.02.0001", "01.02.0002",
                   "02.01.0001", "02.01.0002", "03.01.0001", "09.99.9999"};
const Rows kExitSeriesOf01{"1", "2", "3", "U"};  // '4' has no municipal registration
const Rows kEntrySeries{"1", "2", "E01", "U"};
const Rows kBranches{"0001", "0002", "0003", "00A1", "0100"};
const Rows kNone{};
const char kOrTrue[] = "' OR 1=1 --";
const char kDropCompanies[] = "01'; DROP TABLE EMPRESA; --";

std::vector<Probe> Probes()
{
    return {
        // Companies: the optional filter is on the code, so a company without a name is listed.
        {"companyAll", &Screen::qryEmpresa, {Null("P_EMPRESA")}, &Screen::qryEmpresaCDEMPRESA, kCompanies},
        {"companyAllNames", &Screen::qryEmpresa, {Null("P_EMPRESA")}, &Screen::qryEmpresaNMEMPRESA,
         {"Comercial Andorinha Ltda", "Industria Serra do Cipo S.A.", "Distribuidora Vale do Tiete Ltda", "(null)",
          "Atacadista Boa Vista Ltda"}},
        {"companyEmptyIsNull", &Screen::qryEmpresa, {Set("P_EMPRESA", "")}, &Screen::qryEmpresaCDEMPRESA, kCompanies},
        {"companyOne", &Screen::qryEmpresa, {Set("P_EMPRESA", "01")}, &Screen::qryEmpresaNMEMPRESA,
         {"Comercial Andorinha Ltda"}},
        {"companyWithoutName", &Screen::qryEmpresa, {Set("P_EMPRESA", "09")}, &Screen::qryEmpresaNMEMPRESA,
         {"(null)"}},
        {"companyUnknown", &Screen::qryEmpresa, {Set("P_EMPRESA", "99")}, &Screen::qryEmpresaCDEMPRESA, kNone},
        {"companyTrailingBlank", &Screen::qryEmpresa, {Set("P_EMPRESA", "01 ")}, &Screen::qryEmpresaCDEMPRESA,
         kNone, false, Rows{"01"}},
        {"companyOrTrue", &Screen::qryEmpresa, {Set("P_EMPRESA", kOrTrue)}, &Screen::qryEmpresaCDEMPRESA, kNone},
        {"companyDropTable", &Screen::qryEmpresa, {Set("P_EMPRESA", kDropCompanies)}, &Screen::qryEmpresaCDEMPRESA,
         kNone},

        // Taxes: only those a bookkeeping tax points to; the collecting body comes back as stored.
        {"taxAll", &Screen::qryImposto, {Null("P_CDIMPOSTO")}, &Screen::qryImpostoCDIMPOSTONFE, kOfferedTaxes},
        {"taxAllBodies", &Screen::qryImposto, {Null("P_CDIMPOSTO")}, &Screen::qryImpostoIDORGARRECADNFE,
         {"E", "M", "F", "F", "F", "E", "e"}},
        {"taxEmptyIsNull", &Screen::qryImposto, {Set("P_CDIMPOSTO", "")}, &Screen::qryImpostoCDIMPOSTONFE,
         kOfferedTaxes},
        {"taxWithoutBookkeepingTax", &Screen::qryImposto, {Set("P_CDIMPOSTO", "07")},
         &Screen::qryImpostoCDIMPOSTONFE, kNone},
        {"taxLowerCaseBody", &Screen::qryImposto, {Set("P_CDIMPOSTO", "08")}, &Screen::qryImpostoIDORGARRECADNFE,
         {"e"}},
        {"taxInvoiceAcronym", &Screen::qryImposto, {Set("P_CDIMPOSTO", "06")}, &Screen::qryImpostoSGIMPOSTONFE,
         {"ICMS-ST"}},
        {"taxOrTrue", &Screen::qryImposto, {Set("P_CDIMPOSTO", kOrTrue)}, &Screen::qryImpostoCDIMPOSTONFE, kNone},

        // State registrations: the all-flag ignores the code; cleared, only the equal one.
        {"stateAllFlag", &Screen::qryPesqInscEsta,
         {Set("P_EMPRESA", "01"), Set("P_INSCESTA", "nonsense"), Set("P_TINSCESTA", "T")},
         &Screen::qryPesqInscEstaCDINSCESTA, kStateOf01},
        {"stateAllFlagNoCode", &Screen::qryPesqInscEsta,
         {Set("P_EMPRESA", "01"), Null("P_INSCESTA"), Set("P_TINSCESTA", "T")}, &Screen::qryPesqInscEstaCDINSCESTA,
         kStateOf01},
        {"stateAllFlagStates", &Screen::qryPesqInscEsta,
         {Set("P_EMPRESA", "01"), Null("P_INSCESTA"), Set("P_TINSCESTA", "T")}, &Screen::qryPesqInscEstaSGESTADO,
         {"MG", "SP", "RJ"}},
        {"stateFlagCleared", &Screen::qryPesqInscEsta,
         {Set("P_EMPRESA", "01"), Set("P_INSCESTA", "77452130"), Null("P_TINSCESTA")},
         &Screen::qryPesqInscEstaCDINSCESTA, {"77452130"}},
        {"stateFlagEmptyIsCleared", &Screen::qryPesqInscEsta,
         {Set("P_EMPRESA", "01"), Set("P_INSCESTA", "77452130"), Set("P_TINSCESTA", "")},
         &Screen::qryPesqInscEstaCDINSCESTA, {"77452130"}},
        {"stateFlagClearedNonsense", &Screen::qryPesqInscEsta,
         {Set("P_EMPRESA", "01"), Set("P_INSCESTA", "nonsense"), Null("P_TINSCESTA")},
         &Screen::qryPesqInscEstaCDINSCESTA, kNone},
        {"stateFlagLowerCase", &Screen::qryPesqInscEsta,
         {Set("P_EMPRESA", "01"), Set("P_INSCESTA", "nonsense"), Set("P_TINSCESTA", "t")},
         &Screen::qryPesqInscEstaCDINSCESTA, kNone},
        {"stateOfAnotherCompany", &Screen::qryPesqInscEsta,
         {Set("P_EMPRESA", "02"), Set("P_INSCESTA", "110042490114"), Null("P_TINSCESTA")},
         &Screen::qryPesqInscEstaCDINSCESTA, kNone},
        {"stateCompanyCleared", &Screen::qryPesqInscEsta,
         {Null("P_EMPRESA"), Null("P_INSCESTA"), Set("P_TINSCESTA", "T")}, &Screen::qryPesqInscEstaCDINSCESTA, kNone},
        {"stateOrTrue", &Screen::qryPesqInscEsta,
         {Set("P_EMPRESA", "01"), Set("P_INSCESTA", kOrTrue), Null("P_TINSCESTA")}, &Screen::qryPesqInscEstaCDINSCESTA,
         kNone},
        {"stateFlagOrTrue", &Screen::qryPesqInscEsta,
         {Set("P_EMPRESA", "01"), Set("P_INSCESTA", "x"), Set("P_TINSCESTA", "T' OR 'T'='T")},
         &Screen::qryPesqInscEstaCDINSCESTA, kNone, false, std::nullopt, true},
        // The widest values the screen's edits let through are never refused.
        {"stateCodeAtColumnWidth", &Screen::qryPesqInscEsta,
         {Set("P_EMPRESA", "01"), Set("P_INSCESTA", "1234567890123456"), Null("P_TINSCESTA")},
         &Screen::qryPesqInscEstaCDINSCESTA, kNone},
        {"stateAccentedCodeAtColumnWidth", &Screen::qryPesqInscEsta,
         {Set("P_EMPRESA", "01"), Set("P_INSCESTA", "ÇÃÉÕÚÇÃÉÕÚÇÃÉÕÚÇ"), Null("P_TINSCESTA")},
         &Screen::qryPesqInscEstaCDINSCESTA, kNone},

        // Municipal registrations (no ORDER BY).
        {"muniAllFlag", &Screen::qryInscrMuni,
         {Set("P_EMPRESA", "01"), Set("P_INSCMUNI", "nonsense"), Set("P_TINSCMUNI", "T")},
         &Screen::qryInscrMuniCDINSCMUNI, {"1234567", "7654321"}, true},
        {"muniFlagCleared", &Screen::qryInscrMuni,
         {Set("P_EMPRESA", "01"), Set("P_INSCMUNI", "7654321"), Null("P_TINSCMUNI")}, &Screen::qryInscrMuniCDINSCMUNI,
         {"7654321"}},
        {"muniFlagEmptyIsCleared", &Screen::qryInscrMuni,
         {Set("P_EMPRESA", "01"), Set("P_INSCMUNI", "7654321"), Set("P_TINSCMUNI", "")},
         &Screen::qryInscrMuniCDINSCMUNI, {"7654321"}},
        {"muniCompanyWithoutAny", &Screen::qryInscrMuni,
         {Set("P_EMPRESA", "09"), Null("P_INSCMUNI"), Set("P_TINSCMUNI", "T")}, &Screen::qryInscrMuniCDINSCMUNI,
         kNone},
        {"muniOfAnotherCompany", &Screen::qryInscrMuni,
         {Set("P_EMPRESA", "02"), Set("P_INSCMUNI", "1234567"), Null("P_TINSCMUNI")}, &Screen::qryInscrMuniCDINSCMUNI,
         kNone},
        {"muniCompanyOrTrue", &Screen::qryInscrMuni,
         {Set("P_EMPRESA", kOrTrue), Null("P_INSCMUNI"), Set("P_TINSCMUNI", "T")}, &Screen::qryInscrMuniCDINSCMUNI,
         kNone, false, std::nullopt, true},

        // Products: only the deepest level, whatever the code.
        {"productAll", &Screen::qryProduto, {Set("P_CDPRODUTO", ""), Set("P_TCDPRODUTO", "T")},
         &Screen::qryProdutoCDARVPROD, kLeaves},
        {"productAllLevels", &Screen::qryProduto, {Set("P_CDPRODUTO", ""), Set("P_TCDPRODUTO", "T")},
         &Screen::qryProdutoCDNVPRODUTO, Rows(kLeaves.size(), "3")},
        {"productLeaf", &Screen::qryProduto, {Set("P_CDPRODUTO", "01.01.0002"), Null("P_TCDPRODUTO")},
         &Screen::qryProdutoNMPRODUTO, {"Refrigerante guarana 2 L"}},
        {"productLeafInternalCode", &Screen::qryProduto, {Set("P_CDPRODUTO", "01.01.0002"), Null("P_TCDPRODUTO")},
         &Screen::qryProdutoCDPRODUTO, {"4"}},
        {"productSubgroup", &Screen::qryProduto, {Set("P_CDPRODUTO", "01.01"), Null("P_TCDPRODUTO")},
         &Screen::qryProdutoCDARVPROD, kNone},
        {"productGroup", &Screen::qryProduto, {Set("P_CDPRODUTO", "01"), Null("P_TCDPRODUTO")},
         &Screen::qryProdutoCDARVPROD, kNone},
        {"productNeitherCodeNorFlag", &Screen::qryProduto, {Set("P_CDPRODUTO", ""), Null("P_TCDPRODUTO")},
         &Screen::qryProdutoCDARVPROD, kNone},
        {"productOrTrue", &Screen::qryProduto, {Set("P_CDPRODUTO", kOrTrue), Null("P_TCDPRODUTO")},
         &Screen::qryProdutoCDARVPROD, kNone},
        {"validSubgroup", &Screen::qryValidProd, {Set("P_CDPRODUTO", "01.01")}, &Screen::qryValidProdCDARVPROD,
         kNone},
        {"validLeaf", &Screen::qryValidProd, {Set("P_CDPRODUTO", "01.01.0001")}, &Screen::qryValidProdNMPRODUTO,
         {"Refrigerante cola 2 L"}},
        {"validLeafWithoutParents", &Screen::qryValidProd, {Set("P_CDPRODUTO", "09.99.9999")},
         &Screen::qryValidProdCDPRODUTO, {"16"}},
        {"validUnformattedCode", &Screen::qryValidProd, {Set("P_CDPRODUTO", "01010001")},
         &Screen::qryValidProdCDARVPROD, kNone},
        {"validEmpty", &Screen::qryValidProd, {Set("P_CDPRODUTO", "")}, &Screen::qryValidProdCDARVPROD, kNone},
        {"validCleared", &Screen::qryValidProd, {Null("P_CDPRODUTO")}, &Screen::qryValidProdCDARVPROD, kNone},
        {"validDropTable", &Screen::qryValidProd, {Set("P_CDPRODUTO", "01'; DROP TABLE PRODUTO; --")},
         &Screen::qryValidProdCDARVPROD, kNone, false, std::nullopt, true},
        {"validCodeAtColumnWidth", &Screen::qryValidProd, {Set("P_CDPRODUTO", "01.01.0001.01.01.000")},
         &Screen::qryValidProdCDARVPROD, kNone},

        // Exit series: each code once, TIPO 'S'; the company is required, the rest optional.
        {"exitOfCompany", &Screen::qrySerieNF,
         {Null("P_CDINSCESTA"), Null("P_CDINSCMUNI"), Null("P_CDSERIE"), Set("P_CDEMPRESA", "01")},
         &Screen::qrySerieNFCDSERIE, kExitSeriesOf01},
        {"exitTipo", &Screen::qrySerieNF,
         {Null("P_CDINSCESTA"), Null("P_CDINSCMUNI"), Null("P_CDSERIE"), Set("P_CDEMPRESA", "01")},
         &Screen::qrySerieNFTIPO, {"S", "S", "S", "S"}},
        {"exitDescriptions", &Screen::qrySerieNF,
         {Null("P_CDINSCESTA"), Null("P_CDINSCMUNI"), Null("P_CDSERIE"), Set("P_CDEMPRESA", "01")},
         &Screen::qrySerieNFDSSERIE, {"Serie 1", "Serie 2", "Serie 3", "Serie unica"}},
        {"exitEmptyFiltersAreNull", &Screen::qrySerieNF,
         {Set("P_CDINSCESTA", ""), Set("P_CDINSCMUNI", ""), Set("P_CDSERIE", ""), Set("P_CDEMPRESA", "01")},
         &Screen::qrySerieNFCDSERIE, kExitSeriesOf01},
        {"exitByStateRegistration", &Screen::qrySerieNF,
         {Set("P_CDINSCESTA", "110042490114"), Null("P_CDINSCMUNI"), Null("P_CDSERIE"), Set("P_CDEMPRESA", "01")},
         &Screen::qrySerieNFCDSERIE, {"1", "2"}},
        {"exitStateWhoseSeriesLacksMuni", &Screen::qrySerieNF,
         {Set("P_CDINSCESTA", "77452130"), Null("P_CDINSCMUNI"), Null("P_CDSERIE"), Set("P_CDEMPRESA", "01")},
         &Screen::qrySerieNFCDSERIE, kNone},
        {"exitSeriesWithoutMuniByCode", &Screen::qrySerieNF,
         {Null("P_CDINSCESTA"), Null("P_CDINSCMUNI"), Set("P_CDSERIE", "4"), Set("P_CDEMPRESA", "01")},
         &Screen::qrySerieNFCDSERIE, kNone},
        {"exitByMunicipalRegistration", &Screen::qrySerieNF,
         {Null("P_CDINSCESTA"), Set("P_CDINSCMUNI", "7654321"), Null("P_CDSERIE"), Set("P_CDEMPRESA", "01")},
         &Screen::qrySerieNFCDSERIE, {"1"}},
        {"exitOne", &Screen::qrySerieNF,
         {Null("P_CDINSCESTA"), Null("P_CDINSCMUNI"), Set("P_CDSERIE", "U"), Set("P_CDEMPRESA", "01")},
         &Screen::qrySerieNFCDSERIE, {"U"}},
        {"exitOfAnotherCompany", &Screen::qrySerieNF,
         {Null("P_CDINSCESTA"), Null("P_CDINSCMUNI"), Null("P_CDSERIE"), Set("P_CDEMPRESA", "02")},
         &Screen::qrySerieNFCDSERIE, {"1", "A"}},
        {"exitCompanyCleared", &Screen::qrySerieNF,
         {Null("P_CDINSCESTA"), Null("P_CDINSCMUNI"), Null("P_CDSERIE"), Null("P_CDEMPRESA")},
         &Screen::qrySerieNFCDSERIE, kNone},
        {"exitCompanyEmpty", &Screen::qrySerieNF,
         {Null("P_CDINSCESTA"), Null("P_CDINSCMUNI"), Null("P_CDSERIE"), Set("P_CDEMPRESA", "")},
         &Screen::qrySerieNFCDSERIE, kNone},
        {"exitSeriesOrTrue", &Screen::qrySerieNF,
         {Null("P_CDINSCESTA"), Null("P_CDINSCMUNI"), Set("P_CDSERIE", kOrTrue), Set("P_CDEMPRESA", "01")},
         &Screen::qrySerieNFCDSERIE, kNone},

        // Entry series: not tied to a company, TIPO 'E'.
        {"entryAll", &Screen::qrySerieEntr, {Null("P_CDSERIE")}, &Screen::qrySerieEntrCDSERIEENTR, kEntrySeries},
        {"entryTipo", &Screen::qrySerieEntr, {Null("P_CDSERIE")}, &Screen::qrySerieEntrTIPO, {"E", "E", "E", "E"}},
        {"entryEmptyIsNull", &Screen::qrySerieEntr, {Set("P_CDSERIE", "")}, &Screen::qrySerieEntrCDSERIEENTR,
         kEntrySeries},
        {"entryOne", &Screen::qrySerieEntr, {Set("P_CDSERIE", "E01")}, &Screen::qrySerieEntrDSSERIEENTR,
         {"Entrada eletronica"}},
        {"entryLowerCase", &Screen::qrySerieEntr, {Set("P_CDSERIE", "u")}, &Screen::qrySerieEntrCDSERIEENTR, kNone},

        // Document models and operation types take no parameters.
        {"documentModels", &Screen::qryModDoc, {}, &Screen::qryModDocCDMODDOCFISC,
         {"01", "04", "06", "55", "57", "65"}},
        {"operationKeys", &Screen::qrtTpOperacao, {}, &Screen::qrtTpOperacaoCHAVE,
         {"E01", "E02", "E03", "S01", "S02", "S03", "S04"}},
        {"operationIndicators", &Screen::qrtTpOperacao, {}, &Screen::qrtTpOperacaoIDENTRSAIDOP,
         {"E", "E", "E", "S", "S", "S", "S"}},

        // Branches.
        {"branchAll", &Screen::qryFiliOrig, {Null("P_CDFILIAL")}, &Screen::qryFiliOrigCDFILIAL, kBranches},
        {"branchEmptyIsNull", &Screen::qryFiliOrig, {Set("P_CDFILIAL", "")}, &Screen::qryFiliOrigCDFILIAL, kBranches},
        {"branchOne", &Screen::qryFiliOrig, {Set("P_CDFILIAL", "00A1")}, &Screen::qryFiliOrigNMFILIAL,
         {"Deposito Guarulhos"}},
        {"branchLowerCase", &Screen::qryFiliOrig, {Set("P_CDFILIAL", "00a1")}, &Screen::qryFiliOrigCDFILIAL, kNone},
        {"branchTrailingBlank", &Screen::qryFiliOrig, {Set("P_CDFILIAL", "0001 ")}, &Screen::qryFiliOrigCDFILIAL,
         kNone, false, Rows{"0001"}},
        {"branchOrTrue", &Screen::qryFiliOrig, {Set("P_CDFILIAL", kOrTrue)}, &Screen::qryFiliOrigCDFILIAL, kNone},
    };
}

class LookupTest : public testing::TestWithParam<std::tuple<DbSetup, Probe>> {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_SERVER(std::get<0>(GetParam()));
        db = std::make_unique<ScreenOnDatabase>(std::get<0>(GetParam()));
    }
    std::unique_ptr<ScreenOnDatabase> db;
};

TEST_P(LookupTest, Rows)
{
    const auto &[setup, probe] = GetParam();
    Screen &screen = db->Screen();
    TADOIBQuery &q = *(screen.*probe.query);
    if (probe.longerThanColumn && setup.engine.refusesTextLongerThanColumn) {
        EXPECT_THROW(Reopen(q, probe.args), EDatabaseError);
        EXPECT_FALSE(q.Active());
        return;
    }
    Reopen(q, probe.args);
    Rows rows = Column(q, *(screen.*probe.field));
    if (probe.unordered)
        std::sort(rows.begin(), rows.end());
    const Rows &expected = setup.engine.padsOnCompare && probe.rowsWhenPadded ? *probe.rowsWhenPadded : probe.rows;
    EXPECT_EQ(rows, expected) << q.ActiveStatementName() << ":\n" << q.ActiveStatement();
    EXPECT_EQ(q.IsEmpty(), expected.empty());
}

INSTANTIATE_TEST_SUITE_P(Screen, LookupTest, testing::Combine(testing::ValuesIn(kSetups), testing::ValuesIn(Probes())),
                         [](const testing::TestParamInfo<std::tuple<DbSetup, Probe>> &info) {
                             return std::string(std::get<0>(info.param).label) + "_" + std::get<1>(info.param).label;
                         });

// ---- whole-database properties, once per setup ----

class ScreenDatabaseTest : public testing::TestWithParam<DbSetup> {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_SERVER(GetParam());
        db = std::make_unique<ScreenOnDatabase>(GetParam());
    }
    std::size_t CompanyCount()
    {
        TADOIBQuery &q = *db->Screen().qryEmpresa;
        Reopen(q, {Null("P_EMPRESA")});
        return static_cast<std::size_t>(q.Query.RecordCount());
    }
    std::unique_ptr<ScreenOnDatabase> db;
};

TEST_P(ScreenDatabaseTest, SessionIsTheSetupsEngine)
{
    EXPECT_EQ(db->Session().EngineName(), GetParam().engine.engine.name);
    EXPECT_EQ(dtmDBGeral->Session()->EngineName(), db->Session().EngineName());
    EXPECT_EQ(dtmDBGeral->Dialect(), GetParam().dialect);
}

// Every parameter of every query given a value built to escape its quotes:
// each statement still runs, and the tables are all still there afterwards.
TEST_P(ScreenDatabaseTest, HostileValuesLeaveEveryTableInPlace)
{
    Screen &s = db->Screen();
    const std::vector<TADOIBQuery *> queries = {s.qryImposto, s.qryEmpresa,   s.qryPesqInscEsta, s.qryInscrMuni,
                                                s.qryProduto, s.qryValidProd, s.qrySerieNF,      s.qrySerieEntr,
                                                s.qryFiliOrig};
    for (const char *hostile : {kOrTrue, kDropCompanies, "x'); DELETE FROM PRODUTO; --", "\"; DROP TABLE FILIAL"}) {
        for (TADOIBQuery *q : queries) {
            std::vector<Arg> args;
            for (int i = 0; i < q->Params().Count(); ++i)
                args.push_back(Set(q->Params().Items(i)->Name.c_str(), hostile));
            SCOPED_TRACE(q->Name() + " <- " + hostile);
            try {
                Reopen(*q, args);
                EXPECT_TRUE(q->IsEmpty());
            } catch (const EDatabaseError &e) {
                EXPECT_TRUE(GetParam().engine.refusesTextLongerThanColumn) << e.Message();
            }
        }
    }
    EXPECT_EQ(CompanyCount(), 5u);
    Reopen(*s.qryProduto, {Set("P_CDPRODUTO", ""), Set("P_TCDPRODUTO", "T")});
    EXPECT_EQ(s.qryProduto->Query.RecordCount(), 9);
    Reopen(*s.qryFiliOrig, {Null("P_CDFILIAL")});
    EXPECT_EQ(s.qryFiliOrig->Query.RecordCount(), 5);
}

struct Write {
    const char *label;
    const char *sql;
};
const Write kWrites[] = {
    {"insert", "INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES ('77', 'Intrusa')"},
    {"update", "UPDATE EMPRESA SET NMEMPRESA = 'Trocada' WHERE CDEMPRESA = '01'"},
    {"delete", "DELETE FROM EMPRESA"},
    {"drop", "DROP TABLE EMPRESA"},
    {"create", "CREATE TABLE INTRUSA (A VARCHAR(1))"},
};

TEST_P(ScreenDatabaseTest, WritesThroughTheScreensSessionAreRefused)
{
    DatabaseSession &session = *dtmDBGeral->Session();
    for (const Write &w : kWrites) {
        SCOPED_TRACE(w.label);
        EXPECT_THROW(session.Execute(w.sql), EDatabaseError);
        EXPECT_THROW(session.Query(w.sql, {}), EDatabaseError);
    }
    EXPECT_EQ(CompanyCount(), 5u);
    Reopen(*db->Screen().qryEmpresa, {Set("P_EMPRESA", "01")});
    EXPECT_EQ(db->Screen().qryEmpresaNMEMPRESA->AsString(), "Comercial Andorinha Ltda");
}

// The same statement reopened with other values, as handlers do all day:
// nothing of an earlier opening may carry over (a kept statement, a binding).
TEST_P(ScreenDatabaseTest, ReopeningNeverReusesEarlierValues)
{
    Screen &s = db->Screen();
    struct Reopening {
        TADOIBQuery *query;
        std::vector<Arg> args;
        TADOIBStringField *field;
        Rows rows;
    };
    const std::vector<Reopening> openings = {
        {s.qryEmpresa, {Set("P_EMPRESA", "02")}, s.qryEmpresaCDEMPRESA, {"02"}},
        {s.qryEmpresa, {Null("P_EMPRESA")}, s.qryEmpresaCDEMPRESA, kCompanies},
        {s.qryEmpresa, {Set("P_EMPRESA", "99")}, s.qryEmpresaCDEMPRESA, kNone},
        {s.qryEmpresa, {Set("P_EMPRESA", "")}, s.qryEmpresaCDEMPRESA, kCompanies},
        {s.qryEmpresa, {Set("P_EMPRESA", "10")}, s.qryEmpresaCDEMPRESA, {"10"}},
        {s.qryPesqInscEsta, {Set("P_EMPRESA", "01"), Null("P_INSCESTA"), Set("P_TINSCESTA", "T")},
         s.qryPesqInscEstaCDINSCESTA, kStateOf01},
        {s.qryPesqInscEsta, {Set("P_EMPRESA", "01"), Set("P_INSCESTA", "77452130"), Null("P_TINSCESTA")},
         s.qryPesqInscEstaCDINSCESTA, {"77452130"}},
        {s.qryPesqInscEsta, {Set("P_EMPRESA", "02"), Null("P_INSCESTA"), Set("P_TINSCESTA", "T")},
         s.qryPesqInscEstaCDINSCESTA, {"244123456119"}},
        {s.qrySerieNF, {Set("P_CDINSCESTA", "110042490114"), Null("P_CDINSCMUNI"), Null("P_CDSERIE"),
                        Set("P_CDEMPRESA", "01")},
         s.qrySerieNFCDSERIE, {"1", "2"}},
        {s.qrySerieNF, {Null("P_CDINSCESTA"), Null("P_CDINSCMUNI"), Null("P_CDSERIE"), Set("P_CDEMPRESA", "01")},
         s.qrySerieNFCDSERIE, kExitSeriesOf01},
    };
    for (std::size_t i = 0; i < openings.size(); ++i) {
        Reopen(*openings[i].query, openings[i].args);
        EXPECT_EQ(Column(*openings[i].query, *openings[i].field), openings[i].rows) << "opening " << i;
    }
}

TEST_P(ScreenDatabaseTest, EachOpenCountsOneStatement)
{
    Screen &s = db->Screen();
    struct Opening {
        TADOIBQuery *query;
        std::vector<Arg> args;
    };
    const std::vector<Opening> openings = {
        {s.qryImposto, {Null("P_CDIMPOSTO")}},
        {s.qryEmpresa, {Null("P_EMPRESA")}},
        {s.qryPesqInscEsta, {Set("P_EMPRESA", "01"), Null("P_INSCESTA"), Set("P_TINSCESTA", "T")}},
        {s.qryInscrMuni, {Set("P_EMPRESA", "01"), Null("P_INSCMUNI"), Set("P_TINSCMUNI", "T")}},
        {s.qryProduto, {Set("P_CDPRODUTO", ""), Set("P_TCDPRODUTO", "T")}},
        {s.qryValidProd, {Set("P_CDPRODUTO", "01.01.0001")}},
        // Three PARAM joins under InterBase are still one statement.
        {s.qrySerieNF, {Null("P_CDINSCESTA"), Null("P_CDINSCMUNI"), Null("P_CDSERIE"), Set("P_CDEMPRESA", "01")}},
        {s.qrySerieEntr, {Null("P_CDSERIE")}},
        {s.qryModDoc, {}},
        {s.qrtTpOperacao, {}},
        {s.qryFiliOrig, {Null("P_CDFILIAL")}},
    };
    StatementCounter::Reset();
    for (const Opening &o : openings) {
        const long before = StatementCounter::Count();
        Reopen(*o.query, o.args);
        EXPECT_EQ(StatementCounter::Count(), before + 1) << o.query->Name();
        o.query->Open();  // already open: nothing is sent
        EXPECT_EQ(StatementCounter::Count(), before + 1) << o.query->Name();
    }
    EXPECT_EQ(StatementCounter::Count(), 11);
}

INSTANTIATE_TEST_SUITE_P(Screen, ScreenDatabaseTest, testing::ValuesIn(kSetups),
                         [](const testing::TestParamInfo<DbSetup> &info) { return std::string(info.param.label); });

} // namespace
