// The parameters block speaks the person's words: labels, names looked up,
// ranges, "Todos" for an empty filter or its all-flag, never a P_ name.
#include "report/parameters.h"

#include "data/dberrors.h"
#include "rtl/sysutils.h"

#include <gtest/gtest.h>

namespace {
const char *const kEntries = R"({"columns": [{"field": "X"}], "parameters": [
    {"label": "Empresa", "param": "P_CDEMPRESA", "lookup": "SELECT NM FROM E WHERE CD = :P_CDEMPRESA", "header": true},
    {"label": "Período", "param": "P_DTINICIAL", "to": "P_DTFINAL", "format": "date", "header": true},
    {"label": "Entrada/Saída", "param": "P_IDENTRSAIDOP", "values": {"E": "Entrada", "S": "Saída"}, "all": "Ambos"},
    {"label": "CFOP", "param": "P_CDCFOP", "format": "cfop"},
    {"label": "Produtos", "param": "P_PRODUTOINI", "to": "P_PRODUTOFIN", "format": "product"},
    {"label": "Tipos de operação", "param": "P_CDTIPOOPER", "format": "list"},
    {"label": "Série", "param": "P_CDSERIE", "all": "Todas"}]})";

struct Given {
    const char *name;
    Variant value;
};

ParameterWords describe(const std::vector<Given> &given, const ParameterLookup &lookup = {})
{
    TParams params;
    for (const Given &g : given)
        params.CreateParam(ftString, g.name, ptInput)->SetAsVariant(g.value);
    return DescribeParameters(ParseLayout(kEntries).parameters, params, lookup, "99.99.9999;0;_");
}

using Words = std::vector<std::pair<std::string, std::string>>;
} // namespace

TEST(ReportParameters, ShownInThePersonsWords)
{
    const struct {
        const char *what;
        std::vector<Given> given;
        Words block;
    } rows[] = {
        {"declared and filled",
         {{"P_CDEMPRESA", "01"},
          {"P_DTINICIAL", Variant(EncodeDate(2026, 1, 1))},
          {"P_DTFINAL", Variant(EncodeDate(2026, 1, 31))},
          {"P_IDENTRSAIDOP", "E"},
          {"P_TIDENTRSAIDOP", ""},
          {"P_CDCFOP", "5102"},
          {"P_TCDCFOP", ""},
          {"P_PRODUTOINI", "01010001"},
          {"P_PRODUTOFIN", "01010009"},
          {"P_CDTIPOOPER", "E01,S02"},
          {"P_TCDTIPOOPER", ""},
          {"P_CDSERIE", "U"}},
         {{"Empresa", "01 – Comercial Andorinha Ltda"},
          {"Período", "01/01/2026 a 31/01/2026"},
          {"Entrada/Saída", "Entrada"},
          {"CFOP", "5.102"},
          {"Produtos", "01.01.0001 a 01.01.0009"},
          {"Tipos de operação", "E01, S02"},
          {"Série", "U"}}},
        {"empty filters and all-flags",
         {{"P_CDEMPRESA", "01"},
          {"P_IDENTRSAIDOP", ""},
          {"P_TIDENTRSAIDOP", "T"},
          {"P_CDCFOP", ""},
          {"P_TCDCFOP", "T"},
          {"P_PRODUTOINI", ""},
          {"P_PRODUTOFIN", ""},
          {"P_CDTIPOOPER", ""},
          {"P_TCDTIPOOPER", "T"},
          {"P_CDSERIE", ""}},
         {{"Empresa", "01 – Comercial Andorinha Ltda"},
          {"Entrada/Saída", "Ambos"},
          {"CFOP", "Todos"},
          {"Produtos", "Todos"},
          {"Tipos de operação", "Todos"},
          {"Série", "Todas"}}},
        {"an all-flag wins over a value", {{"P_CDTIPOOPER", "E01"}, {"P_TCDTIPOOPER", "T"}}, {{"Tipos de operação", "Todos"}}},
        {"half a range",
         {{"P_DTINICIAL", Variant(EncodeDate(2026, 3, 1))}, {"P_DTFINAL", Variant(TDateTime())},
          {"P_PRODUTOINI", ""}, {"P_PRODUTOFIN", "0101"}},
         {{"Período", "a partir de 01/03/2026"}, {"Produtos", "até 01.01"}}},
        {"the same both ends", {{"P_DTINICIAL", Variant(EncodeDate(2026, 3, 1))}, {"P_DTFINAL", Variant(EncodeDate(2026, 3, 1))}},
         {{"Período", "01/03/2026"}}},
        {"a value the words do not know", {{"P_IDENTRSAIDOP", "X"}}, {{"Entrada/Saída", "X"}}},
        {"a company the lookup does not find", {{"P_CDEMPRESA", "77"}}, {{"Empresa", "77"}}},
        {"nothing declared", {{"P_OUTRO", "1"}}, {}},
    };
    const ParameterLookup lookup = [](const std::string &sql, const NamedValues &values) -> std::optional<std::string> {
        EXPECT_EQ(sql, "SELECT NM FROM E WHERE CD = :P_CDEMPRESA");
        EXPECT_EQ(values.size(), 1u);
        if (values.at(0).second.asString() == "01")
            return " Comercial Andorinha Ltda ";
        return std::nullopt;
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        const ParameterWords words = describe(r.given, lookup);
        EXPECT_EQ(words.block, r.block);
        Words header;
        for (const auto &w : r.block)
            if (w.first == "Empresa" || w.first == "Período")
                header.push_back(w);
        EXPECT_EQ(words.header, header);
        for (const auto &w : words.block)
            EXPECT_EQ(w.second.find("P_"), std::string::npos);
    }
}

TEST(ReportParameters, AFailedLookupLeavesTheCode)
{
    const ParameterLookup failing = [](const std::string &, const NamedValues &) -> std::optional<std::string> {
        throw EDatabaseError("no such table: E");
    };
    EXPECT_EQ(describe({{"P_CDEMPRESA", "01"}}, failing).block, (Words{{"Empresa", "01"}}));
    EXPECT_EQ(describe({{"P_CDEMPRESA", "01"}}).block, (Words{{"Empresa", "01"}}));  // no database at all
}

// One rule for every filter and its all-flag, whether the screen fills a
// report's statement or the words read the flag back.
TEST(ReportParameters, AFilterAndItsAllFlag)
{
    EXPECT_EQ(AllFlagName("P_CDCFOP"), "P_TCDCFOP");
    EXPECT_EQ(AllFlagName("p_cdserie"), "p_Tcdserie");
    EXPECT_EQ(AllFlagName("CDCFOP"), "");
    EXPECT_EQ(AllFlagName("P_"), "");

    const char *const absent = "absent";
    const struct {
        const char *what;
        std::vector<const char *> declared;
        std::string value;
        const char *filter, *flag;  // what each holds afterwards
    } rows[] = {
        {"a value clears the flag", {"P_CDCFOP", "P_TCDCFOP"}, "5102", "5102", ""},
        {"the empty text raises it", {"P_CDCFOP", "P_TCDCFOP"}, "", "", "T"},
        {"blanks count as empty", {"P_CDCFOP", "P_TCDCFOP"}, " \t ", "", "T"},
        {"a value keeps its blanks", {"P_CDCFOP", "P_TCDCFOP"}, " 5102", " 5102", ""},
        {"an undeclared flag is never set", {"P_CDCFOP"}, "", "", absent},
        {"a flag declared alone", {"P_TCDCFOP"}, "", absent, "T"},
        {"neither declared", {"P_OUTRO"}, "5102", absent, absent},
        {"names in any case", {"p_cdcfop", "p_tcdcfop"}, "", "", "T"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        TParams params;
        for (const char *name : r.declared)
            params.CreateParam(ftString, name, ptInput);
        ASSERT_NO_THROW(SetFilterWithFlag(params, "P_CDCFOP", r.value));
        for (const auto &[name, expected] : {std::pair{"P_CDCFOP", r.filter}, std::pair{"P_TCDCFOP", r.flag}}) {
            const TParam *p = params.FindParam(name);
            if (expected == absent) {
                EXPECT_EQ(p, nullptr) << name;
            } else {
                ASSERT_NE(p, nullptr) << name;
                EXPECT_FALSE(p->IsNull()) << name;
                EXPECT_EQ(p->AsString(), expected) << name;
            }
        }
        // Read back, the flag the filter set says "Todos" exactly when it is raised.
        if (params.FindParam("P_CDCFOP")) {
            LayoutParameter cfop;
            cfop.label = "CFOP";
            cfop.param = "P_CDCFOP";
            const auto words = DescribeParameters({cfop}, params, {}, "");
            ASSERT_EQ(words.block.size(), 1u);
            EXPECT_EQ(words.block[0].second == "Todos", Trim(r.value).empty());
        }
    }
}

// The registration a report is of names itself and its CNPJ in every page
// header; a report of every registration shows neither there.
TEST(ReportParameters, OneRegistrationInThePageHeader)
{
    const char *const entries = R"({"columns": [{"field": "X"}], "parameters": [
        {"label": "Empresa", "param": "P_CDEMPRESA", "header": true},
        {"label": "Inscrição Estadual", "param": "P_CDINSCESTA", "all": "Todas", "header": "when_set"},
        {"label": "CNPJ", "param": "P_CDINSCESTA", "shows": "lookup", "format": "taxid", "header": true,
         "lookup": "SELECT NRINSJURIEST FROM INSCRESTAD WHERE CDEMPRESA = :P_CDEMPRESA AND CDINSCESTA = :P_CDINSCESTA"}]})";
    const ParameterLookup lookup = [](const std::string &, const NamedValues &values) -> std::optional<std::string> {
        EXPECT_EQ(values.size(), 2u);
        std::string registration;
        for (const auto &[name, value] : values)
            if (name == "P_CDINSCESTA")
                registration = value.asString();
        if (registration == "110042490114")
            return "12345678000195";
        if (registration == "77452130")
            return " ";  // kept without a CNPJ
        if (registration == "999")
            throw EDatabaseError("no such column: NRINSJURIEST");
        return std::nullopt;
    };
    const struct {
        const char *what;
        const char *registration, *allFlag;
        Words header, block;
        std::string subject;
    } rows[] = {
        {"one registration", "110042490114", "",
         {{"Empresa", "01"}, {"Inscrição Estadual", "110042490114"}, {"CNPJ", "12.345.678/0001-95"}},
         {{"Empresa", "01"}, {"Inscrição Estadual", "110042490114"}, {"CNPJ", "12.345.678/0001-95"}},
         "01 · 110042490114"},
        {"every registration", "", "T", {{"Empresa", "01"}}, {{"Empresa", "01"}, {"Inscrição Estadual", "Todas"}}, "01"},
        {"the all-flag over a value", "110042490114", "T", {{"Empresa", "01"}},
         {{"Empresa", "01"}, {"Inscrição Estadual", "Todas"}}, "01"},
        {"kept without a CNPJ", "77452130", "", {{"Empresa", "01"}, {"Inscrição Estadual", "77452130"}},
         {{"Empresa", "01"}, {"Inscrição Estadual", "77452130"}}, "01 · 77452130"},
        {"a registration not kept", "123", "", {{"Empresa", "01"}, {"Inscrição Estadual", "123"}},
         {{"Empresa", "01"}, {"Inscrição Estadual", "123"}}, "01 · 123"},
        {"a lookup that fails", "999", "", {{"Empresa", "01"}, {"Inscrição Estadual", "999"}},
         {{"Empresa", "01"}, {"Inscrição Estadual", "999"}}, "01 · 999"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        TParams params;
        params.CreateParam(ftString, "P_CDEMPRESA", ptInput)->SetAsVariant(std::string("01"));
        params.CreateParam(ftString, "P_CDINSCESTA", ptInput)->SetAsVariant(std::string(r.registration));
        params.CreateParam(ftString, "P_TCDINSCESTA", ptInput)->SetAsVariant(std::string(r.allFlag));
        const ParameterWords words = DescribeParameters(ParseLayout(entries).parameters, params, lookup, "");
        EXPECT_EQ(words.header, r.header);
        EXPECT_EQ(words.block, r.block);
        EXPECT_EQ(words.subject, r.subject);
    }
}
