// The connection behaviour of client and server: reconnecting, timeouts,
// misbehaving peers, stopping.
#include "net/appserver_client.h"
#include "rtl/sysutils.h"
#include "support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string messageOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const Exception &e) {
        return e.Message();
    }
    return "<no exception>";
}

const std::string kPingReply = R"({"fields":[{"name":"PING","size":4,"type":"string"}],"rows":[["PONG"]]})";
} // namespace

TEST(Client, UnreachableServerAndRestartOnTheSamePort)
{
    const int free = FreePort();
    AppServerClient nobody("127.0.0.1", free);
    const std::string expected = "Servidor de aplicação indisponível em 127.0.0.1:" + std::to_string(free) + ".";
    EXPECT_EQ(messageOf([&] { nobody.Call("Ping", {}); }), expected);
    EXPECT_FALSE(nobody.Ping());

    auto first = std::make_unique<TestServer>();
    const int port = first->port;
    AppServerClient client("127.0.0.1", port);
    EXPECT_EQ(client.Call("Ping", {}), kPingReply);
    first.reset();  // stopped while the client keeps its connection
    EXPECT_EQ(messageOf([&] { client.Call("Ping", {}); }),
              "Servidor de aplicação indisponível em 127.0.0.1:" + std::to_string(port) + ".");

    AppServerSettings same;
    same.port = port;
    TestServer second(same);
    EXPECT_EQ(client.Call("Ping", {}), kPingReply);
    EXPECT_TRUE(client.Ping());
}

TEST(Client, ReusesOrReopensConnectionsTransparently)
{
    AppServerSettings settings;
    settings.keepAliveTimeout = std::chrono::milliseconds(100);
    settings.keepAliveMaxRequests = 3;
    TestServer s(settings);
    AppServerClient client("127.0.0.1", s.port);
    // Closed by the server after 3 requests, and again when idle too long.
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(client.Call("Ping", {}), kPingReply);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(client.Call("Ping", {}), kPingReply);
}

TEST(Client, RefusedOrInvalidRepliesRaise)
{
    httplib::Server fake;
    fake.Post("/call", [](const httplib::Request &req, httplib::Response &res) {
        if (req.body.find("Text") != std::string::npos)
            res.set_content("hello", "text/plain");
        else if (req.body.find("Slow") != std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
        else
            res.status = 503;
    });
    int port = fake.bind_to_any_port("127.0.0.1");
    std::thread t([&] { fake.listen_after_bind(); });
    AppServerClientTimeouts quick;
    quick.call = std::chrono::milliseconds(200);
    AppServerClient client("127.0.0.1", port, "", quick);
    const std::string where = "127.0.0.1:" + std::to_string(port);
    EXPECT_EQ(messageOf([&] { client.Call("Text", {}); }),
              "Servidor de aplicação em " + where + " respondeu à chamada de 'Text' com um conteúdo que não é JSON.");
    EXPECT_EQ(messageOf([&] { client.Call("Other", {}); }),
              "Servidor de aplicação em " + where +
                  " recusou a chamada de 'Other' (HTTP 503): resposta sem descrição do erro.");
    auto started = Clock::now();
    EXPECT_EQ(messageOf([&] { client.Call("Slow", {}); }), "Servidor de aplicação indisponível em " + where + ".");
    EXPECT_LT(secondsSince(started), 0.7);
    fake.stop();
    t.join();
}

TEST(Server, SlowAndSilentClientsAreCutOff)
{
    AppServerSettings settings;
    settings.readTimeout = std::chrono::milliseconds(300);
    settings.requestTimeout = std::chrono::milliseconds(600);
    TestServer s(settings);

    RawSocket silent(s.port);
    auto started = Clock::now();
    EXPECT_EQ(silent.ReadAll(5), "");
    EXPECT_TRUE(silent.closedByPeer);
    EXPECT_LT(secondsSince(started), 1.5);

    // A byte every 100 ms never finishes its request in time.
    RawSocket slow(s.port);
    started = Clock::now();
    std::string request = "POST /call HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}";
    for (char c : request) {
        slow.Send(std::string(1, c));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (secondsSince(started) > 1.5)
            break;
    }
    EXPECT_EQ(slow.ReadAll(2).find("200 OK"), std::string::npos);
    EXPECT_LT(secondsSince(started), 4.0);
}

TEST(Server, IdleConnectionsDoNotStarveOthers)
{
    AppServerSettings settings;
    settings.threads = 2;
    TestServer s(settings);
    // Two kept-alive clients, idle between calls, as many as there are workers.
    AppServerClient a("127.0.0.1", s.port), b("127.0.0.1", s.port);
    a.Call("Ping", {});
    b.Call("Ping", {});
    RawSocket silent(s.port);
    auto started = Clock::now();
    AppServerClient c("127.0.0.1", s.port);
    EXPECT_EQ(c.Call("Ping", {}), kPingReply);
    EXPECT_LT(secondsSince(started), 1.0);
    EXPECT_EQ(a.Call("Ping", {}), kPingReply);
}

TEST(Server, BusyClientsShareFewWorkers)
{
    AppServerSettings settings;
    settings.threads = 2;
    TestServer s(settings);
    std::atomic<int> wrong{0};
    std::vector<std::thread> clients;
    const std::string expected = AppServerClient("127.0.0.1", s.port).Call("GetSerie", {"01", "", "", ""});
    auto started = Clock::now();
    for (int i = 0; i < 6; ++i)
        clients.emplace_back([&] {
            AppServerClient client("127.0.0.1", s.port);
            for (int n = 0; n < 200; ++n)
                if (client.Call("GetSerie", {"01", "", "", ""}) != expected)
                    ++wrong;
        });
    for (auto &t : clients)
        t.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_LT(secondsSince(started), 10.0);
}

TEST(Server, PipelinedRequestsAreAllAnswered)
{
    TestServer s;
    RawSocket sock(s.port);
    const std::string body = CallBody("Ping", {});
    const std::string one = "POST /call HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) +
                            "\r\n\r\n" + body;
    sock.Send(one + one + "GET /health HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    std::string replies = sock.ReadAll(3);
    std::size_t pongs = 0;
    for (auto at = replies.find("PONG"); at != std::string::npos; at = replies.find("PONG", at + 1))
        ++pongs;
    EXPECT_EQ(pongs, 2u) << replies;
    EXPECT_NE(replies.find("\"status\":\"ok\""), std::string::npos);
}

TEST(Server, StopsPromptlyAnsweringWhatItReceived)
{
    // An idle kept-alive connection, and a second one with its request sent.
    AppServerSettings settings;
    settings.threads = 1;
    settings.keepAliveTimeout = std::chrono::seconds(30);
    auto s = std::make_unique<TestServer>(settings);
    AppServerClient idle("127.0.0.1", s->port);
    idle.Call("Ping", {});
    RawSocket pending(s->port);
    const std::string body = CallBody("Ping", {});
    pending.Send("POST /call HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                 body);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto started = Clock::now();
    s->server.Stop();
    EXPECT_LT(secondsSince(started), 1.0);
    EXPECT_NE(pending.ReadAll(2).find("PONG"), std::string::npos);
}

TEST(Server, AConnectionAtItsCallLimitLosesNoReply)
{
    AppServerSettings settings;
    settings.keepAliveMaxRequests = 10000;
    TestServer s(settings);
    RawSocket sock(s.port);
    const std::string body = CallBody("Ping", {});
    const std::string one = "POST /call HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) +
                            "\r\n\r\n" + body;
    // Far more than the limit, sent before any reply is read: the server
    // must read past the rest rather than reset the replies away.
    std::string calls;
    for (int i = 0; i < 20000; ++i)
        calls += one;
    std::thread sender([&] { sock.Send(calls); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string replies = sock.ReadAll(5);
    sender.join();
    std::size_t pongs = 0;
    for (auto at = replies.find("PONG"); at != std::string::npos; at = replies.find("PONG", at + 1))
        ++pongs;
    EXPECT_EQ(pongs, 10000u);
    EXPECT_NE(replies.rfind("Connection: close"), std::string::npos);
    EXPECT_TRUE(sock.closedByPeer);  // an orderly end, not a reset
}
