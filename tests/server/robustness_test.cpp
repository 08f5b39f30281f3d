// Clients that misbehave on purpose: ambiguous framing, slow senders, idle
// crowds, more connections than the server takes, no descriptors left.
#include "data/dberrors.h"
#include "net/appserver_client.h"
#include "net/appserver_process.h"
#include "rtl/sysutils.h"
#include "support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <thread>

#include <fcntl.h>

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int statusOf(const std::string &reply)
{
    return reply.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(reply.c_str() + 9) : 0;
}

std::size_t statusLines(const std::string &replies)
{
    std::size_t n = 0;
    for (auto at = replies.find("HTTP/1.1 "); at != std::string::npos; at = replies.find("HTTP/1.1 ", at + 1))
        ++n;
    return n;
}

std::string errorText(const std::string &reply)
{
    auto body = reply.find("\r\n\r\n");
    auto j = nlohmann::json::parse(body == std::string::npos ? "" : reply.substr(body + 4), nullptr, false);
    return j.is_object() && j["error"].is_string() ? j["error"].get<std::string>() : "";
}

std::size_t openDescriptors()
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

const std::string kPong = R"({"fields":[{"name":"PING","size":4,"type":"string"}],"rows":[["PONG"]]})";
} // namespace

TEST(Framing, AmbiguousOrBrokenLengthsAreRefusedAndTheConnectionClosed)
{
    TestServer s;
    const std::string body = CallBody("Ping", {});
    const std::string length = std::to_string(body.size());
    char hex[16];
    std::snprintf(hex, sizeof hex, "%zx", body.size());
    const std::string chunked = std::string(hex) + "\r\n" + body + "\r\n0\r\n\r\n";
    auto post = [](const std::string &headers, const std::string &payload) {
        return "POST /call HTTP/1.1\r\nHost: x\r\n" + headers + "\r\n" + payload;
    };
    // Sent after each request: served only when the framing was sound.
    const std::string next = "GET /health HTTP/1.1\r\nHost: x\r\n\r\n";
    struct Case {
        const char *name;
        std::string request;
        int status;
        std::string errorPart;  // of the refusal's text
    } cases[] = {
        {"one length", post("Content-Length: " + length + "\r\n", body), 200, ""},
        {"the same length twice", post("Content-Length: " + length + "\r\nContent-Length: " + length + "\r\n", body),
         200, ""},
        {"chunked", post("Transfer-Encoding: chunked\r\n", chunked), 200, ""},
        {"two different lengths", post("Content-Length: " + length + "\r\nContent-Length: 5\r\n", body), 400,
         "mal formada"},
        {"a list of lengths that disagree", post("Content-Length: " + length + ", 5\r\n", body), 400, "mal formada"},
        {"chunked, then a length", post("Transfer-Encoding: chunked\r\nContent-Length: " + length + "\r\n", chunked),
         400, "mal formada"},
        {"a length, then chunked", post("Content-Length: " + length + "\r\nTransfer-Encoding: chunked\r\n", chunked),
         400, "mal formada"},
        {"another coding beside a length", post("Transfer-Encoding: gzip\r\nContent-Length: " + length + "\r\n", body),
         400, "mal formada"},
        {"a coding list not ending in chunked", post("Transfer-Encoding: chunked, identity\r\n", chunked), 400,
         "mal formada"},
        {"two coding fields", post("Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n", chunked), 400,
         "mal formada"},
        {"chunked on HTTP/1.0", "POST /call HTTP/1.0\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked, 400,
         "mal formada"},
        {"a negative length", post("Content-Length: -1\r\n", body), 400, "mal formada"},
        {"a length with letters", post("Content-Length: 12abc\r\n", body), 400, "mal formada"},
        {"a length past 64 bits", post("Content-Length: 99999999999999999999999\r\n", body), 400, "mal formada"},
        {"a length over the limit", post("Content-Length: 70000\r\n", body), 413, "65536 bytes"},
        {"a broken chunk size", post("Transfer-Encoding: chunked\r\n", "zz\r\n" + body + "\r\n0\r\n\r\n"), 400,
         "mal formada"},
        {"not HTTP", "HELLO THERE\r\n\r\n", 400, "mal formada"},
        {"a target too long", "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", 414, "longo demais"},
        {"a header too large", "GET /health HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(20000, 'a') + "\r\n\r\n",
         400, "mal formada"},
    };
    std::size_t refusals = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RawSocket sock(s.port);
        sock.Send(c.request + next);
        sock.EndOfInput();
        const auto started = Clock::now();
        const std::string replies = sock.ReadAll(3);
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(2));
        EXPECT_EQ(statusOf(replies), c.status) << replies.substr(0, 200);
        EXPECT_TRUE(sock.closedByPeer);
        if (c.status == 200) {
            EXPECT_NE(replies.find(kPong), std::string::npos);
            EXPECT_EQ(statusLines(replies), 2u);  // the next request too
        } else {
            ++refusals;
            EXPECT_NE(errorText(replies).find(c.errorPart), std::string::npos) << errorText(replies);
            EXPECT_EQ(statusLines(replies), 1u) << "the trailing bytes were read as a request";
        }
    }
    // Each refusal is logged like any request.
    std::size_t logged = 0;
    for (const std::string &line : s.Log(2 * 3 + refusals))
        logged += line.find(" 400 ") != std::string::npos || line.find(" 413 ") != std::string::npos ||
                  line.find(" 414 ") != std::string::npos;
    EXPECT_EQ(logged, refusals);
    EXPECT_EQ(RawPost(s.port, body).body, kPong);
}

TEST(Server, SlowSendersAndIdleConnectionsHoldNoWorker)
{
    if (!RaiseOpenFileLimit(4096))
        GTEST_SKIP() << "the open-file limit does not allow 1,000 connections on both ends";
    AppServerSettings settings;
    settings.threads = 1;  // were a waiting connection to hold it, nothing would be served
    // Nothing times out while the test runs, however slow the machine.
    settings.headerTimeout = settings.readTimeout = std::chrono::seconds(20);
    settings.requestTimeout = std::chrono::seconds(30);
    TestServer s(settings);
    const std::vector<std::string> args = {"01", "", "", ""};
    const std::string expected = AppServerClient("127.0.0.1", s.port).Call("GetSerie", args);

    std::vector<std::unique_ptr<RawSocket>> idle, slow;
    for (int i = 0; i < 1000; ++i) {
        idle.push_back(std::make_unique<RawSocket>(s.port));
        ASSERT_TRUE(idle.back()->connected) << i;
    }
    // Half stop inside the header, half inside the body.
    const std::string request = "POST /call HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{\"server\":";
    for (int i = 0; i < 64; ++i) {
        slow.push_back(std::make_unique<RawSocket>(s.port));
        slow.back()->Send(request.substr(0, i % 2 ? 10 + i % 30 : request.size() - i % 8));
    }
    AppServerClientTimeouts deadline;
    deadline.call = std::chrono::seconds(2);
    AppServerClient client("127.0.0.1", s.port, "", deadline);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(client.Call("GetSerie", args), expected);
        for (auto &c : slow)
            c->Send(" ");  // another byte each, still far from done
    }
    std::size_t open = 0;
    for (auto &c : idle)
        open += c->StillOpen();
    EXPECT_EQ(open, idle.size()) << "idle connections were dropped to serve the call";
}

TEST(Server, ConnectionsPerAddressAreCapped)
{
    AppServerSettings settings;
    settings.maxConnectionsPerAddress = 3;
    TestServer s(settings);
    auto a = std::make_unique<RawSocket>(s.port);
    RawSocket b(s.port), c(s.port);
    std::this_thread::sleep_for(milliseconds(100));
    // The address is at its cap with three idle connections: a newcomer
    // closes the one idle longest and is served.
    EXPECT_EQ(RawPost(s.port, CallBody("Ping", {})).body, kPong);
    EXPECT_EQ(a->ReadAll(1), "");
    EXPECT_TRUE(a->closedByPeer);
    EXPECT_TRUE(b.StillOpen());
    EXPECT_TRUE(c.StillOpen());
    a.reset();
    std::this_thread::sleep_for(milliseconds(100));  // the served client's close is seen

    // Requests on their way are not closed to make room while young: the
    // newcomer is refused.
    const std::string partial = "POST /call HTTP/1.1\r\nHost: x\r\n";
    auto d = std::make_unique<RawSocket>(s.port);
    for (RawSocket *sock : {&b, &c, d.get()}) {
        sock->Send(partial);
        std::this_thread::sleep_for(milliseconds(20));
    }
    std::this_thread::sleep_for(milliseconds(100));
    RawSocket refused(s.port);
    const std::string reply = refused.ReadAll(2);
    EXPECT_EQ(statusOf(reply), 503) << reply;
    EXPECT_EQ(errorText(reply), "Servidor de aplicação sem conexões livres; tente novamente em instantes.");
    EXPECT_TRUE(refused.closedByPeer);

    // Held over a second, the oldest yields: slow senders from one address
    // cannot keep its other clients out.
    std::this_thread::sleep_for(milliseconds(1100));
    EXPECT_EQ(RawPost(s.port, CallBody("Ping", {})).body, kPong);
    EXPECT_EQ(statusOf(b.ReadAll(2)), 503);
    EXPECT_TRUE(c.StillOpen());

    // One of them gone, the address has room again.
    d.reset();
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(RawPost(s.port, CallBody("Ping", {})).body, kPong);
}

TEST(Server, RefusesCleanlyWhenOutOfDescriptors)
{
    TestServer s;
    EXPECT_EQ(RawPost(s.port, CallBody("Ping", {})).body, kPong);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // Spare descriptors of the test's own, given up when the client side
    // runs out first, so the server is the one that does.
    std::vector<int> spare = {::open("/dev/null", O_RDONLY), ::open("/dev/null", O_RDONLY)};
    rlimit low = saved;
    low.rlim_cur = openDescriptors() + 12;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<std::unique_ptr<RawSocket>> clients;
    std::string refusal;
    for (int i = 0; i < 40 && refusal.empty(); ++i) {
        auto c = std::make_unique<RawSocket>(s.port);
        if (c->fd < 0) {
            if (spare.empty())
                break;
            ::close(spare.back());
            spare.pop_back();
            continue;
        }
        std::this_thread::sleep_for(milliseconds(30));
        char buf[1024];
        ssize_t n = ::recv(c->fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0)
            refusal.assign(buf, static_cast<std::size_t>(n));
        clients.push_back(std::move(c));
    }
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    for (int fd : spare)
        ::close(fd);
    EXPECT_EQ(statusOf(refusal), 503) << refusal;
    EXPECT_NE(refusal.find("sem conexões livres"), std::string::npos) << refusal;
    // Every connection it did take is still served, and new ones are.
    clients.clear();
    EXPECT_EQ(RawPost(s.port, CallBody("Ping", {})).body, kPong);
}

TEST(Server, CallsWithoutDatabaseWorkAreAnsweredWhileEveryWorkerIsBusy)
{
    // A session that holds its worker until the test lets it go.
    struct Held : DatabaseSession {
        std::shared_future<void> release;
        ResultSet Query(const std::string &, const NamedValues &) override
        {
            release.wait();
            return {};
        }
        void Execute(const std::string &) override {}
        std::string EngineName() const override { return "held"; }
    };
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    AppServerSettings settings;
    settings.threads = 1;
    TestServer s(settings, [released] {
        auto session = std::make_unique<Held>();
        session->release = released;
        return session;
    });
    std::thread busy([&] { RawPost(s.port, CallBody("GetSerie", {"01", "", "", ""})); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    AppServerClientTimeouts deadline;
    deadline.call = std::chrono::seconds(2);
    AppServerClient client("127.0.0.1", s.port, "", deadline);
    EXPECT_TRUE(client.Ping());
    EXPECT_EQ(RawPost(s.port, "", {}, "/nowhere").status, 404);  // a refusal needs no worker either
    EXPECT_EQ(RawPost(s.port, CallBody("Nope", {})).json().count("error"), 1u);
    release.set_value();
    busy.join();
}

TEST(Server, ALookupIsReusedForItsLifetimeOnlyAndFailuresNever)
{
    struct Counting : DatabaseSession {
        std::unique_ptr<DatabaseSession> inner;
        std::atomic<int> *queries;
        ResultSet Query(const std::string &sql, const NamedValues &params) override
        {
            ++*queries;
            return inner->Query(sql, params);
        }
        void Execute(const std::string &sql) override { inner->Execute(sql); }
        std::string EngineName() const override { return inner->EngineName(); }
    };
    const struct {
        const char *label;
        int lifetimeMs;
        int queries;  // for three equal calls and one other
    } rows[] = {{"kept", 60000, 2}, {"never kept", 0, 4}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.label);
        std::atomic<int> queries{0};
        TemporaryDemoDatabase db;
        AppServerSettings settings;
        settings.lookupCacheTime = std::chrono::milliseconds(r.lifetimeMs);
        TestServer s(settings, [&] {
            auto session = std::make_unique<Counting>();
            session->inner = OpenSqliteSession(db.Path(), true);
            session->queries = &queries;
            return session;
        });
        AppServerClient client("127.0.0.1", s.port);
        const std::string first = client.Call("GetSerie", {"01", "", "", ""});
        EXPECT_EQ(client.Call("GetSerie", {"01", "", "", ""}), first);
        EXPECT_EQ(client.Call("GetSerie", {"01", "", "", ""}), first);
        EXPECT_NE(client.Call("GetSerie", {"01", "", "", "E"}), first);
        EXPECT_EQ(queries, r.queries);
    }
    // A failure is asked again.
    std::atomic<int> opened{0};
    TestServer failing({}, [&]() -> std::unique_ptr<DatabaseSession> {
        ++opened;
        throw EDatabaseError("fora do ar");
    });
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(RawPost(failing.port, CallBody("GetSerie", {"01", "", "", ""})).json().count("error"), 1u);
    EXPECT_EQ(opened, 2);
}

namespace {
// Connections from `from` in three kinds: a head that stops half-way, a head
// whose body never comes, and a few that send nothing at all.
std::vector<std::unique_ptr<RawSocket>> flood(int port, std::size_t count, const char *from)
{
    const std::string head = "POST /call HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n";
    std::vector<std::unique_ptr<RawSocket>> out;
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(std::make_unique<RawSocket>(port, from));
        if (!out.back()->connected)
            break;
        if (i % 16 == 15)
            continue;  // idle
        out.back()->Send(i % 2 ? head.substr(0, 20) : head + "{\"se");
    }
    return out;
}
} // namespace

// Past each cap the server makes room by closing or refusing connections
// whose reads are still pending; those reads then complete (a byte arrives,
// or the cancellation) and must find nothing freed under them.
TEST(Server, FloodsPastEachCapAreAnsweredAndTheServerStaysUp)
{
    if (!RaiseOpenFileLimit(12000))
        GTEST_SKIP() << "the open-file limit does not allow a flood on both ends";
    struct Case {
        const char *name;
        std::size_t perAddress, total;
        std::vector<const char *> from;
        std::size_t each;  // connections from each address
    } cases[] = {
        {"one address past its cap", 2048, 4096, {"127.0.0.1"}, 2048},
        {"several addresses past the total", 2048, 1500, {"127.0.0.2", "127.0.0.3", "127.0.0.4"}, 500},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AppServerSettings settings;
        settings.maxConnectionsPerAddress = c.perAddress;
        settings.maxConnections = c.total;
        settings.headerTimeout = settings.readTimeout = std::chrono::seconds(30);
        settings.requestTimeout = std::chrono::seconds(40);
        TestServer s(settings);
        std::vector<std::unique_ptr<RawSocket>> crowd;
        for (const char *from : c.from) {
            auto more = flood(s.port, c.each, from);
            ASSERT_EQ(more.size(), c.each) << from;
            for (auto &m : more)
                crowd.push_back(std::move(m));
        }
        // Old enough to yield to newcomers.
        std::this_thread::sleep_for(milliseconds(1300));
        // More newcomers than idle connections, each starting a request:
        // past the idle ones, the oldest requests yield.
        std::vector<std::unique_ptr<RawSocket>> newcomers;
        for (std::size_t i = 0; i < crowd.size() / 16 + 40; ++i) {
            newcomers.push_back(std::make_unique<RawSocket>(s.port, c.from.front()));
            newcomers.back()->Send("GET /health HTTP/1.1\r\n");
            // Seen as a request on its way, not as idle, before the next comes.
            std::this_thread::sleep_for(milliseconds(3));
        }
        std::this_thread::sleep_for(milliseconds(50));
        for (auto &sock : crowd)
            sock->Send("x");
        std::this_thread::sleep_for(milliseconds(200));
        // Some yielded with 503; the server is alive and answers a newcomer
        // on every address.
        std::size_t yielded = 0;
        for (auto &sock : crowd) {
            char buf[64];
            const ssize_t n = ::recv(sock->fd, buf, sizeof buf - 1, MSG_DONTWAIT);
            if (n > 0 && statusOf(std::string(buf, static_cast<std::size_t>(n))) == 503)
                ++yielded;
        }
        EXPECT_GT(yielded, 0u);
        crowd.resize(crowd.size() / 2);
        std::this_thread::sleep_for(milliseconds(200));
        for (const char *from : c.from) {
            RawSocket probe(s.port, from);
            probe.Send("POST /call HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(CallBody("Ping", {}).size()) +
                       "\r\nConnection: close\r\n\r\n" + CallBody("Ping", {}));
            const std::string reply = probe.ReadAll(5);
            EXPECT_EQ(statusOf(reply), 200) << from << ": " << reply;
        }
    }
}
