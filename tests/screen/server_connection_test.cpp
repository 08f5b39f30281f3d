// The screen's connection to a real application server: absent, killed and
// restarted, and replies that do not fit the client data sets.
#include "screen_fixture.h"

#include "data/dberrors.h"
#include "net/appserver_process.h"
#include "vdl/Consiste.h"

#include <chrono>
#include <csignal>

namespace {

class ServerConnectionTest : public ScreenTest {
protected:
    std::unique_ptr<AppServerProcess> Start(int port = 0, const std::string &token = {})
    {
        AppServerProcessOptions o;
        o.executable = FIS_APPSERVER_PATH;
        o.database = demo->Path();
        o.port = port;
        o.token = token;
        o.logPath = "/dev/null";
        auto server = std::make_unique<AppServerProcess>(o);
        MutableHostSettings().serverHost = server->Host();
        MutableHostSettings().serverPort = server->Port();
        MutableHostSettings().serverToken = server->Token();
        return server;
    }
    // What the series lookup does with a reply: check it, load it.
    static void LoadSeries(TfrmResumoOficialCfop &screen, const std::string &company)
    {
        const std::string reply =
            frmResumoOficialCfop->netResumoOficialCfop->AppServer().Call("GetSerie", {company, "", "", ""});
        screen.cdsSerie->SetData(Consiste::CheckResultServ(reply, true, 0));
    }
    static std::vector<std::string> Series(TfrmResumoOficialCfop &screen)
    {
        std::vector<std::string> out;
        for (screen.cdsSerie->First(); !screen.cdsSerie->Eof(); screen.cdsSerie->Next())
            out.push_back(screen.cdsSerieCDSERIE->AsString() + screen.cdsSerieTIPO->AsString());
        return out;
    }
};

TEST_F(ServerConnectionTest, ClosingDisconnectsFromTheServerBeforeTheScreenGoes)
{
    auto server = Start();
    TfrmResumoOficialCfop &screen = Open();
    ASSERT_TRUE(screen.netResumoOficialCfop->Connected()) << "a listening server is found on open";
    bool connectedAfterClose = true, stillThere = false;
    Application->RunUserAction([&] {
        screen.Close();
        connectedAfterClose = screen.netResumoOficialCfop->Connected();
        stillThere = ScreenCount() == 0 && Application->PendingMessages() > 0;
    });
    EXPECT_FALSE(connectedAfterClose);
    EXPECT_TRUE(stillThere) << "disconnected within the close handler, released after it";
    EXPECT_EQ(ScreenCount(), 0);
    // The next screen connects afresh.
    EXPECT_TRUE(Open().netResumoOficialCfop->Connected());
}

TEST_F(ServerConnectionTest, AnAbsentServerNeitherStopsTheScreenNorShowsAMessage)
{
    TfrmResumoOficialCfop &screen = Open();  // the fixture points at a port nothing listens on
    EXPECT_EQ(ScreenCount(), 1);
    EXPECT_TRUE(ws->messages.empty());
    EXPECT_FALSE(screen.netResumoOficialCfop->Connected());
    const std::string expected = "Servidor de aplicação indisponível em 127.0.0.1:" +
                                 std::to_string(HostSettings().serverPort) + ".";
    try {
        LoadSeries(screen, "01");
        FAIL() << "a call reached a server that is not there";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), expected);
    }

    // Once a server is up, the next call finds it without reopening the screen.
    auto server = Start();
    LoadSeries(screen, "01");
    EXPECT_FALSE(Series(screen).empty());
}

TEST_F(ServerConnectionTest, AServerKilledMidSessionIsFoundAgainAfterARestart)
{
    auto server = Start();
    TfrmResumoOficialCfop &screen = Open();
    EXPECT_TRUE(screen.netResumoOficialCfop->Connected());
    LoadSeries(screen, "01");
    const auto before = Series(screen);
    ASSERT_FALSE(before.empty());

    const int port = server->Port();
    const std::string token = server->Token();
    server.reset();  // killed: SIGTERM, reaped
    try {
        LoadSeries(screen, "02");
        FAIL() << "a call succeeded with the server stopped";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "Servidor de aplicação indisponível em 127.0.0.1:" + std::to_string(port) + ".");
    }
    EXPECT_EQ(Series(screen), before) << "a failed call must keep the rows already loaded";

    server = Start(port, token);
    LoadSeries(screen, "02");
    EXPECT_NE(Series(screen), before);
}

TEST_F(ServerConnectionTest, AFrozenServerFailsWithinTheHostDeadlineUnderTheBusyCursor)
{
    auto server = Start();
    MutableHostSettings().serverTimeoutMs = 600;
    TfrmResumoOficialCfop &screen = Open();
    LoadSeries(screen, "01");
    const auto before = Series(screen);
    const int busyBefore = ws->busyShown;

    struct Thaw {
        pid_t pid;
        ~Thaw() { kill(pid, SIGCONT); }
    } thaw{server->Pid()};
    ASSERT_EQ(kill(server->Pid(), SIGSTOP), 0);
    const auto started = std::chrono::steady_clock::now();
    try {
        LoadSeries(screen, "02");
        FAIL() << "a frozen server answered";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(),
                  "Servidor de aplicação indisponível em 127.0.0.1:" + std::to_string(server->Port()) + ".");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));
    EXPECT_GT(ws->busyShown, busyBefore) << "no busy cursor while the call waited";
    EXPECT_EQ(ws->busyDepth, 0) << "the busy cursor outlived the call";
    EXPECT_EQ(Series(screen), before);

    // Thawed, the next call goes through without reopening the screen.
    kill(server->Pid(), SIGCONT);
    LoadSeries(screen, "02");
    EXPECT_NE(Series(screen), before);
}

TEST_F(ServerConnectionTest, AReplyThatDoesNotFitTheClientDataSetKeepsItsRows)
{
    auto server = Start();
    TfrmResumoOficialCfop &screen = Open();
    LoadSeries(screen, "01");
    const auto before = Series(screen);
    // A reply of the other method: its columns are not the series' columns.
    const std::string reply =
        frmResumoOficialCfop->netResumoOficialCfop->AppServer().Call("getInscEstaSt", {"", "01", "T"});
    try {
        screen.cdsSerie->SetData(Consiste::CheckResultServ(reply, true, 0));
        FAIL() << "a packet without the series' columns was loaded";
    } catch (const EDatabaseError &e) {
        EXPECT_NE(std::string(e.what()).find("CDSERIE"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Series(screen), before);

    // An error reply raises the server's own message.
    const std::string error = frmResumoOficialCfop->netResumoOficialCfop->AppServer().Call("GetSerie", {"01"});
    EXPECT_THROW(Consiste::CheckResultServ(error, true, 0), Exception);
    EXPECT_EQ(Series(screen), before);
}

} // namespace
