// The client's own HTTP transport: replies in every shape a server may send,
// and idle connections handed from one client to the next.
#include "net/appserver_client.h"
#include "net/http_connection.h"
#include "rtl/sysutils.h"
#include "support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <poll.h>

namespace {
using std::chrono::milliseconds;

// Accepts one connection, reads one request and answers it with `pieces`,
// sent `gap` apart so the client sees them arrive in separate reads.
class CannedServer {
public:
    CannedServer(std::vector<std::string> pieces, bool closeAfter, milliseconds gap = milliseconds(5))
    {
        if (::pipe(stop_) != 0)
            throw std::runtime_error("pipe");
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(fd_, 4);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
        thread_ = std::thread([this, pieces = std::move(pieces), closeAfter, gap] {
            int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0)
                return;
            std::string in;
            char buf[4096];
            while (in.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::recv(c, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                in.append(buf, static_cast<std::size_t>(n));
            }
            for (const std::string &p : pieces) {
                ::send(c, p.data(), p.size(), MSG_NOSIGNAL);
                pollfd stop{stop_[0], POLLIN, 0};
                if (::poll(&stop, 1, static_cast<int>(gap.count())) > 0)
                    break;
            }
            if (!closeAfter) {
                pollfd p{stop_[0], POLLIN, 0};
                ::poll(&p, 1, 3000);
            }
            ::close(c);
        });
    }
    ~CannedServer()
    {
        char b = 0;
        (void)!::write(stop_[1], &b, 1);
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
        ::close(stop_[0]);
        ::close(stop_[1]);
    }
    int port = 0;

private:
    int fd_ = -1;
    int stop_[2] = {-1, -1};
    std::thread thread_;
};

struct ReplyCase {
    const char *name;
    std::vector<std::string> pieces;
    bool closeAfter;
    HttpFailure failure;
    int status;
    std::string body;
    bool keepAlive;
};

const std::string kRequest = "POST /call HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}";
} // namespace

TEST(HttpConnection, ReadsEveryShapeOfReply)
{
    const std::string big(HttpConnection::kMaxReplyBytes + 1, 'x');
    const ReplyCase cases[] = {
        {"length", {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"}, false, HttpFailure::None, 200, "hello", true},
        {"length in pieces",
         {"HTTP/1.1 200 OK\r\nCont", "ent-Length: 11\r", "\n\r\nhello ", "world"},
         false, HttpFailure::None, 200, "hello world", true},
        {"header names in any case",
         {"HTTP/1.1 404 Not Found\r\ncontent-LENGTH:  2 \r\nCONNECTION: Close\r\n\r\n{}"},
         false, HttpFailure::None, 404, "{}", false},
        {"chunked with trailer",
         {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", "6;x=y\r\n world\r\n0\r\n",
          "X-Trailer: 1\r\n\r\n"},
         false, HttpFailure::None, 200, "hello world", true},
        {"no length runs to the end", {"HTTP/1.1 200 OK\r\n\r\nuntil ", "closed"}, true, HttpFailure::None, 200,
         "until closed", false},
        {"HTTP/1.0 closes", {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"}, false, HttpFailure::None, 200, "ok",
         false},
        {"continue first", {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}, false,
         HttpFailure::None, 200, "ok", true},
        {"not HTTP", {"hello there, this is not HTTP\r\n\r\n"}, false, HttpFailure::Malformed, 0, "", true},
        {"bad length", {"HTTP/1.1 200 OK\r\nContent-Length: -4\r\n\r\n"}, false, HttpFailure::Malformed, 0, "", true},
        {"truncated body", {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhal"}, true, HttpFailure::Closed, 0, "",
         true},
        {"closed without a reply", {}, true, HttpFailure::Closed, 0, "", true},
        {"over the limit",
         {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n"},
         false, HttpFailure::TooLarge, 0, "", true},
        {"silent", {}, false, HttpFailure::Timeout, 0, "", true},
    };
    for (const ReplyCase &c : cases) {
        SCOPED_TRACE(c.name);
        CannedServer server(c.pieces, c.closeAfter);
        auto conn = HttpConnection::Open("127.0.0.1", server.port, milliseconds(1000));
        ASSERT_TRUE(conn);
        HttpReply reply;
        bool received = false;
        EXPECT_EQ(conn->Exchange(kRequest, reply, std::chrono::steady_clock::now() + milliseconds(300), received),
                  c.failure);
        if (c.failure == HttpFailure::None) {
            EXPECT_EQ(reply.status, c.status);
            EXPECT_EQ(reply.body, c.body);
            EXPECT_EQ(reply.keepAlive, c.keepAlive);
        }
    }
}

TEST(HttpConnection, AReplyThatTricklesInEndsAtTheDeadline)
{
    // Every read is quick, a byte every 40 ms; the whole would take seconds.
    const std::string whole = "HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n" + std::string(60, 'x');
    std::vector<std::string> bytes;
    for (char c : whole)
        bytes.emplace_back(1, c);
    CannedServer server(bytes, false, milliseconds(40));
    auto conn = HttpConnection::Open("127.0.0.1", server.port, milliseconds(1000));
    ASSERT_TRUE(conn);
    HttpReply reply;
    bool received = false;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(conn->Exchange(kRequest, reply, started + milliseconds(400), received), HttpFailure::Timeout);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(received);
    EXPECT_GE(took, milliseconds(400));
    EXPECT_LT(took, milliseconds(1500));
}

TEST(HttpConnection, NothingListeningOpensNothing)
{
    EXPECT_FALSE(HttpConnection::Open("127.0.0.1", FreePort(), milliseconds(500)));
    EXPECT_FALSE(HttpConnection::Open("127.0.0.1", 0, milliseconds(500)));
    EXPECT_FALSE(HttpConnection::Open("no-such-host.invalid", 80, milliseconds(500)));
    EXPECT_FALSE(ServerReachable("127.0.0.1", FreePort(), milliseconds(500)));
}

TEST(IdleConnections, PassFromOneClientToTheNext)
{
    idle_connections::Clear();
    TestServer s;
    // The reachability check's connection carries the first call, and what a
    // client leaves behind carries the next client's calls: one connection.
    ASSERT_TRUE(ServerReachable("127.0.0.1", s.port, milliseconds(1000)));
    EXPECT_EQ(idle_connections::Count("127.0.0.1", s.port), 1u);
    for (int i = 0; i < 3; ++i) {
        AppServerClient client("127.0.0.1", s.port);
        client.Call("Ping", {});
        EXPECT_EQ(idle_connections::Count("127.0.0.1", s.port), 0u);
    }
    EXPECT_EQ(idle_connections::Count("127.0.0.1", s.port), 1u);
    std::vector<std::string> log = s.Log(3);
    ASSERT_EQ(log.size(), 3u);
    auto peer = [](const std::string &line) { return line.substr(line.find(' ') + 1, line.find(" Ping") - line.find(' ')); };
    EXPECT_EQ(peer(log[0]), peer(log[1]));
    EXPECT_EQ(peer(log[1]), peer(log[2]));
}

TEST(IdleConnections, OnesTheServerClosedAreNeverHandedOut)
{
    idle_connections::Clear();
    int port;
    {
        TestServer first;
        port = first.port;
        AppServerClient("127.0.0.1", port).Call("Ping", {});
        ASSERT_EQ(idle_connections::Count("127.0.0.1", port), 1u);
    }
    // The server is gone: its idle connection is dropped, nothing answers.
    EXPECT_FALSE(idle_connections::Take("127.0.0.1", port));
    EXPECT_FALSE(ServerReachable("127.0.0.1", port, milliseconds(500)));

    AppServerSettings same;
    same.port = port;
    TestServer second(same);
    AppServerClient("127.0.0.1", port).Call("Ping", {});
    AppServerSettings shortIdle;
    shortIdle.keepAliveTimeout = milliseconds(50);
    TestServer quick(shortIdle);
    AppServerClient("127.0.0.1", quick.port).Call("Ping", {});
    std::this_thread::sleep_for(milliseconds(300));
    // Closed by the server while idle: the next client opens its own.
    AppServerClient late("127.0.0.1", quick.port);
    EXPECT_NE(late.Call("Ping", {}).find("PONG"), std::string::npos);
}

TEST(IdleConnections, AreKeptAFewPerAddress)
{
    idle_connections::Clear();
    TestServer s;
    {
        std::vector<std::unique_ptr<AppServerClient>> many;
        for (int i = 0; i < 20; ++i) {
            many.push_back(std::make_unique<AppServerClient>("127.0.0.1", s.port));
            many.back()->Call("Ping", {});
        }
    }
    EXPECT_LE(idle_connections::Count("127.0.0.1", s.port), 8u);
    EXPECT_GE(idle_connections::Count("127.0.0.1", s.port), 1u);
}

TEST(Client, AReplyThatIsNotHttpIsNamed)
{
    idle_connections::Clear();
    CannedServer server({"SSH-2.0-something\r\n\r\n"}, true);
    AppServerClient client("127.0.0.1", server.port);
    try {
        client.Call("Ping", {});
        FAIL() << "no exception";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "Servidor de aplicação em 127.0.0.1:" + std::to_string(server.port) +
                                   " respondeu à chamada de 'Ping' com algo que não é uma resposta HTTP.");
    }
}
