#include "net/appserver_protocol.h"
#include "rtl/sysutils.h"
#include "server_options.h"

#include <gtest/gtest.h>

using namespace appserver;

TEST(CallBody, ParsesOnlyWellFormedCalls)
{
    struct Case {
        std::string body;
        bool ok;
        std::string errorPart;
    } cases[] = {
        {R"({"server":"S","method":"M","args":["a",""]})", true, ""},
        {R"({"server":"S","method":"M","args":[],"extra":1})", true, ""},
        {"not json", false, "JSON válido"},
        {"", false, "JSON válido"},
        {R"(["S","M"])", false, "objeto"},
        {R"({"method":"M","args":[]})", false, "\"server\""},
        {R"({"server":7,"method":"M","args":[]})", false, "\"server\""},
        {R"({"server":"S","method":"","args":[]})", false, "\"method\""},
        {R"({"server":"S","method":"M"})", false, "\"args\""},
        {R"({"server":"S","method":"M","args":"a"})", false, "\"args\""},
        {R"({"server":"S","method":"M","args":["a",1]})", false, "textos"},
        {R"({"server":"S","method":"M","args":[null]})", false, "textos"},
        {"{\"server\":\"S\",\"method\":\"M\",\"args\":[\"\xff\"]}", false, "JSON válido"},
        {R"({"server":"S","method":"M","args":["[[[[[[[[[[[[[["]})", true, ""},
        {R"({"server":"S","method":"M","args":[],"x":)" + std::string(200000, '[') + std::string(200000, ']') + "}",
         false, "aninha"},
    };
    for (const Case &c : cases) {
        std::string error;
        auto call = ParseCallBody(c.body, error);
        EXPECT_EQ(call.has_value(), c.ok) << c.body;
        if (!c.ok) {
            EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.body << " -> " << error;
        }
    }
    std::string error;
    auto call = ParseCallBody(BuildCallBody({"S", "GetSerie", {"01", "", "ç"}}), error);
    ASSERT_TRUE(call);
    EXPECT_EQ(call->args, (std::vector<std::string>{"01", "", "ç"}));
    EXPECT_THROW(BuildCallBody({"S", "M", {"\xff"}}), std::exception);
}

TEST(CallBody, BearerTokenAndPortLine)
{
    const std::pair<std::string, std::optional<std::string>> bearer[] = {
        {"Bearer abc", "abc"}, {"bearer  abc ", "abc"}, {"Basic abc", std::nullopt},
        {"Bearer ", std::nullopt}, {"Bearer    ", std::nullopt}, {"", std::nullopt}};
    for (const auto &[header, token] : bearer)
        EXPECT_EQ(BearerToken(header), token) << header;

    const std::pair<std::string, std::optional<int>> lines[] = {
        {"port 43121", 43121}, {"port 5\r", 5}, {"port 0", std::nullopt}, {"port 70000", std::nullopt},
        {"port 12a", std::nullopt}, {"port ", std::nullopt}, {"error port 80", std::nullopt}};
    for (const auto &[line, port] : lines)
        EXPECT_EQ(ParsePortLine(line), port) << line;
}

TEST(ServerOptions, CommandLineOverridesTheConfiguration)
{
    HostConfig config;
    config.engine = "firebird";
    config.database = "fis";
    config.serverPort = 5000;
    config.serverToken = "from-config";
    ServerLaunch l = ParseServerArgs({}, config);
    EXPECT_EQ(l.settings.host, "127.0.0.1");
    EXPECT_EQ(l.settings.port, 5000);
    EXPECT_EQ(l.settings.token, "from-config");
    EXPECT_EQ(l.config.engine, "firebird");

    l = ParseServerArgs({"--host", "0.0.0.0", "--port", "0", "--token", "t", "--database", "/tmp/x.sqlite",
                         "--threads", "3"},
                        config);
    EXPECT_EQ(l.settings.host, "0.0.0.0");
    EXPECT_EQ(l.settings.port, 0);
    EXPECT_EQ(l.settings.token, "t");
    EXPECT_EQ(l.settings.threads, 3);
    EXPECT_EQ(l.config.engine, "sqlite");
    EXPECT_EQ(l.config.database, "/tmp/x.sqlite");

    for (const std::vector<std::string> &bad : std::vector<std::vector<std::string>>{
             {"--port"}, {"--port", "65536"}, {"--port", "-1"}, {"--threads", "0"}, {"--database", ""}, {"-x"}})
        EXPECT_THROW(ParseServerArgs(bad, config), Exception) << bad[0];
}
