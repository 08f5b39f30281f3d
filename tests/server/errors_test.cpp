// Every refused or failed call answers an error reply, and the server goes on.
#include "data/dberrors.h"
#include "net/appserver_client.h"
#include "support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>

namespace {
std::string errorOf(const RawReply &r)
{
    auto j = r.json();
    return j.is_object() && j["error"].is_string() ? j["error"].get<std::string>() : "<not an error reply>";
}

void expectServes(int port, const httplib::Headers &headers = {})
{
    RawReply r = RawPost(port, CallBody("Ping", {}), headers);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, R"({"fields":[{"name":"PING","size":4,"type":"string"}],"rows":[["PONG"]]})");
}
} // namespace

TEST(Errors, MalformedAndUnknownCallsGetErrorReplies)
{
    TestServer s;
    const std::string big(70 * 1024, 'x');
    struct Case {
        std::string body, path;
        int status;
        std::string errorPart;
    } cases[] = {
        {CallBody("Nope", {}), "/call", 200, "'Nope' não existe"},
        {CallBody("GetSerie", {"01", "", ""}), "/call", 200, "espera 4 argumento(s), recebeu 3"},
        {CallBody("getInscEstaSt", {"", "01", "T", "x"}), "/call", 200, "espera 3"},
        {CallBody("Ping", {"x"}), "/call", 200, "espera 0"},
        {"{not json", "/call", 400, "JSON válido"},
        {R"({"server":"FIS02800.rdmCriaResumoNOficialCFOp","method":"Ping","args":[1]})", "/call", 400, "textos"},
        {R"({"server":"Outro","method":"Ping","args":[]})", "/call", 404, "'Outro' não existe"},
        {CallBody("Ping", {}), "/other", 404, "/other"},
        {R"({"server":"FIS02800.rdmCriaResumoNOficialCFOp","method":"GetSerie","args":[")" + big + "\"]}",
         "/call", 413, "65536 bytes"},
    };
    for (const Case &c : cases) {
        RawReply r = RawPost(s.port, c.body, {}, c.path);
        EXPECT_EQ(r.status, c.status) << c.body.substr(0, 80);
        EXPECT_NE(errorOf(r).find(c.errorPart), std::string::npos) << errorOf(r);
        expectServes(s.port);
    }
    // A chunked body escapes the length check of the headers.
    httplib::Client c("127.0.0.1", s.port);
    auto chunked = c.Post(
        "/call",
        [&](size_t offset, httplib::DataSink &sink) {
            if (offset < 100 * 1024)
                sink.write(big.data(), 4096);
            else
                sink.done();
            return true;
        },
        "application/json");
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->status, 413);
    httplib::Client get("127.0.0.1", s.port);
    EXPECT_EQ(get.Get("/call")->status, 405);
    EXPECT_EQ(get.Get("/health")->body, R"({"status":"ok","server":"FIS02800.rdmCriaResumoNOficialCFOp"})");
    expectServes(s.port);
}

TEST(Errors, TokenIsRequiredWhenConfigured)
{
    AppServerSettings settings;
    settings.token = "s3cret";
    TestServer s(settings);
    const std::pair<httplib::Headers, int> cases[] = {
        {{}, 401},
        {{{"Authorization", "Bearer wrong"}}, 401},
        {{{"Authorization", "Bearer s3cre"}}, 401},
        {{{"Authorization", "Basic s3cret"}}, 401},
        {{{"Authorization", "Bearer s3cret"}}, 200},
    };
    for (const auto &[headers, status] : cases) {
        RawReply r = RawPost(s.port, CallBody("Ping", {}), headers);
        EXPECT_EQ(r.status, status);
        if (status == 401) {
            EXPECT_EQ(errorOf(r), "Token de acesso ausente ou inválido.");
        }
    }
    EXPECT_EQ(AppServerClient("127.0.0.1", s.port, "s3cret").Call("Ping", {}).find("PONG") != std::string::npos,
              true);
    try {
        AppServerClient("127.0.0.1", s.port, "other").Call("Ping", {});
        FAIL() << "a wrong token was accepted";
    } catch (const Exception &e) {
        EXPECT_NE(e.Message().find("(HTTP 401): Token de acesso ausente ou inválido."), std::string::npos)
            << e.Message();
    }
}

TEST(Errors, DatabaseFailuresAreErrorRepliesAndDropTheSession)
{
    // A database without the tables, then one that cannot even be opened.
    std::string empty = (std::filesystem::temp_directory_path() / "fis-appserver-empty.sqlite").string();
    std::filesystem::remove(empty);
    OpenSqliteSession(empty, false);
    std::atomic<int> opened{0};
    TestServer s({}, [&] {
        ++opened;
        return OpenSqliteSession(empty, true);
    });
    for (int i = 0; i < 2; ++i) {
        RawReply r = RawPost(s.port, CallBody("GetSerie", {"01", "", "", ""}));
        EXPECT_EQ(r.status, 200);
        EXPECT_NE(errorOf(r).find("SERIE"), std::string::npos) << errorOf(r);
    }
    EXPECT_EQ(opened, 2);  // a failed session is not reused
    expectServes(s.port);
    std::filesystem::remove(empty);

    TestServer missing({}, [] { return OpenSqliteSession("/nonexistent/fis.sqlite", true); });
    RawReply r = RawPost(missing.port, CallBody("getInscEstaSt", {"", "01", "T"}));
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(errorOf(r).find("/nonexistent/fis.sqlite"), std::string::npos) << errorOf(r);
    expectServes(missing.port);

    // Anything else is an internal error whose text stays in the server.
    TestServer broken({}, []() -> std::unique_ptr<DatabaseSession> { throw std::runtime_error("secret detail"); });
    r = RawPost(broken.port, CallBody("GetSerie", {"01", "", "", ""}));
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body.find("secret"), std::string::npos);
    expectServes(broken.port);
}

TEST(Errors, OneLogLinePerRequestWithoutClientControlCharacters)
{
    AppServerSettings settings;
    settings.token = "t";
    TestServer s(settings);
    RawPost(s.port, CallBody("GetSerie", {"01", "", "", ""}), {{"Authorization", "Bearer t"}});
    RawPost(s.port, CallBody("Ping", {}));
    RawPost(s.port, CallBody("Get\nSerie 200 fake", {}), {{"Authorization", "Bearer t"}});
    std::vector<std::string> log = s.Log(3);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_NE(log[0].find(" 127.0.0.1:"), std::string::npos) << log[0];
    EXPECT_NE(log[0].find(" GetSerie 200 "), std::string::npos) << log[0];
    EXPECT_NE(log[1].find(" POST /call 401 "), std::string::npos) << log[1];
    EXPECT_NE(log[2].find(" Get?Serie 200 fake 200 "), std::string::npos) << log[2];
    for (const std::string &line : log)
        EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(LogSafe(std::string(100, 'a'), 10), "aaaaaaaaaa...");
}
