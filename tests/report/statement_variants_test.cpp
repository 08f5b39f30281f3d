// A statement's dialect variants: the names the files and the `dialect`
// setting use, which variant each dialect runs, in the body and in every
// section, and the "query" objects written back as they were read.
#include "report/reportdef.h"
#include "rtl/files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <set>

namespace {
TEST(SqlDialects, EveryNameReadsBackAsItsDialectAndNoOtherNameDoes)
{
    std::set<std::string> names;
    for (const SqlDialectName &d : kSqlDialects) {
        EXPECT_EQ(SqlDialectNamed(d.name), d.dialect) << d.name;
        EXPECT_STREQ(SqlDialectNameOf(d.dialect), d.name);
        EXPECT_TRUE(names.insert(d.name).second) << d.name << " twice";
    }
    for (const char *other : {"", "Oracle", "INTERBASE", "mssql ", "sqlite", "sql"})
        EXPECT_FALSE(SqlDialectNamed(other)) << "'" << other << "'";
}

// The same query object in the body and in a section.
ReportDefinition withQuery(const std::string &query)
{
    return ParseReportDefinition(R"({"title": "R", "query": )" + query +
                                     R"(, "sections": [{"title": "S", "query": )" + query +
                                     R"(, "layout": {}}], "layout": {}})",
                                 "/r/r.json");
}

TEST(StatementVariants, EachDialectRunsItsOwnVariantElseThePlainStatement)
{
    const struct {
        const char *query, *dialect, *runs;
    } rows[] = {
        {R"({"sql": "P", "oracle": "O", "mssql": "M", "interbase": "I"})", "oracle", "O"},
        {R"({"sql": "P", "oracle": "O", "mssql": "M", "interbase": "I"})", "mssql", "M"},
        {R"({"sql": "P", "oracle": "O", "mssql": "M", "interbase": "I"})", "interbase", "I"},
        {R"({"sql": "P", "interbase": "I"})", "oracle", "P"},
        {R"({"sql": "P", "interbase": "I"})", "mssql", "P"},
        {R"({"sql": "P", "interbase": ""})", "interbase", "P"},
        {R"({"sql": "P", "oracle": "O"})", "Oracle", "P"},
        {R"({"sql": "P", "oracle": "O"})", "sqlite", "P"},
        {R"({"interbase": ["I1", "I2"]})", "interbase", "I1\nI2"},
        {R"({"interbase": "I"})", "oracle", ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.query) + " on " + r.dialect);
        const ReportDefinition def = withQuery(r.query);
        EXPECT_EQ(def.StatementFor(r.dialect), r.runs);
        ASSERT_EQ(def.sections.size(), 1u);
        EXPECT_EQ(def.sections[0].StatementFor(r.dialect), r.runs);
    }
}

TEST(StatementVariants, AVariantOfTheWrongShapeIsRefusedByItsName)
{
    for (const SqlDialectName &d : kSqlDialects) {
        for (const std::string &body : {std::string("{\"") + d.name + "\": 7}",
                                        std::string("{\"sql\": \"P\", \"") + d.name + "\": [\"a\", 1]}"}) {
            SCOPED_TRACE(body);
            try {
                withQuery(body);
                ADD_FAILURE() << "accepted";
            } catch (const ReportDefinitionError &e) {
                EXPECT_NE(e.reason.find(std::string("\"") + d.name + "\""), std::string::npos) << e.reason;
            }
        }
    }
}

TEST(StatementVariants, WrittenInTheFilesOrderAndReadBackUnchanged)
{
    ReportDefinition def;
    def.code = "FIS028";
    def.title = "R";
    def.query.sql = "SELECT 1\nFROM DUAL";
    for (const SqlDialectName &d : kSqlDialects)
        def.query.Variant(d.dialect) = std::string("SELECT '") + d.name + "'\n  FROM T";
    ReportSection section;
    section.title = "S";
    section.query.Variant(SqlDialect::InterBase) = "SELECT 2 FROM RDB$DATABASE";
    section.layoutJson = "{}";
    def.sections.push_back(section);

    const std::string text = SerializeReportDefinition(def);
    const auto j = nlohmann::ordered_json::parse(text);
    std::vector<std::string> keys;
    for (const auto &[key, value] : j.at("query").items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"sql", "oracle", "mssql", "interbase"}));
    EXPECT_EQ(j.at("query").at("sql"), nlohmann::ordered_json::parse(R"(["SELECT 1", "FROM DUAL"])"));
    EXPECT_EQ(j.at("sections").at(0).at("query").dump(), R"({"interbase":["SELECT 2 FROM RDB$DATABASE"]})");

    const ReportDefinition back = ParseReportDefinition(text, "/r/r.json");
    EXPECT_EQ(back.query.sql, def.query.sql);
    EXPECT_EQ(back.query.variants, def.query.variants);
    ASSERT_EQ(back.sections.size(), 1u);
    EXPECT_EQ(back.sections[0].query.sql, "");
    EXPECT_EQ(back.sections[0].query.variants, section.query.variants);
}

// Every shipped report written back gives the very query objects its file holds.
TEST(StatementVariants, ShippedReportsWriteBackTheirOwnQueries)
{
    namespace fs = std::filesystem;
    int files = 0;
    for (const auto &e : fs::directory_iterator(std::string(FIS_SOURCE_DIR) + "/reports/FIS028")) {
        SCOPED_TRACE(e.path().string());
        const std::string text = ReadWholeFile(e.path());
        const auto original = nlohmann::json::parse(text);
        const auto written = nlohmann::json::parse(SerializeReportDefinition(ParseReportDefinition(text, e.path())));
        EXPECT_EQ(written.at("query"), original.at("query"));
        EXPECT_EQ(written.value("sections", nlohmann::json::array()).size(),
                  original.value("sections", nlohmann::json::array()).size());
        for (std::size_t i = 0; i < original.value("sections", nlohmann::json::array()).size(); ++i)
            EXPECT_EQ(written.at("sections").at(i).at("query"), original.at("sections").at(i).at("query"));
        ++files;
    }
    EXPECT_EQ(files, 8);
}
} // namespace
