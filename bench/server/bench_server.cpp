// Throughput and latency of the application server over loopback, all in one
// run against the real server executable:
//   1. GetSerie against the trivial Ping, with 1 and 16 concurrent clients
//      (one client object per thread);
//   2. one ordinary client's GetSerie while 64 slow senders and 1,000 idle
//      connections are open, against the same client with no such load.
//
//   bench_server [SECONDS_PER_CONFIGURATION] [PATH_TO_fisappserver]
//   BENCH_THREADS=N  the server's workers (default: the server's own)
//   BENCH_LOG=FILE   keeps the server's log
//   BENCH_LOOKUP_CACHE_MS=N  the server's --lookup-cache-ms (0: every GetSerie
//                    reaches a worker and the database)
#include "bench_options.h"
#include "host/hostsession.h"
#include "net/appserver_client.h"
#include "net/appserver_process.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

struct Figures {
    double rps = 0;
    double p50 = 0, p99 = 0;  // milliseconds
    long requests = 0;
    long failures = 0;
};

struct Workload {
    const char *method;
    std::vector<std::string> args;
};

Figures summarise(std::vector<float> all, long failures, double seconds)
{
    Figures f;
    f.requests = static_cast<long>(all.size());
    f.failures = failures;
    f.rps = all.size() / std::max(seconds, 1e-9);
    auto at = [&](double q) {
        std::size_t i = std::min(all.size() - 1, static_cast<std::size_t>(q * all.size()));
        std::nth_element(all.begin(), all.begin() + static_cast<long>(i), all.end());
        return static_cast<double>(all[i]);
    };
    if (!all.empty()) {
        f.p50 = at(0.50);
        f.p99 = at(0.99);
    }
    return f;
}

// Runs the workloads in alternating slices on the same client threads, so a
// change in the machine's load affects them alike; many short slices, as
// other work on a shared machine comes in bursts.
std::vector<Figures> measure(const AppServerProcess &server, const std::vector<Workload> &work, int clients,
                             double seconds, int rounds = 20)
{
    const int n = static_cast<int>(work.size());
    std::vector<std::vector<std::vector<float>>> latencies(clients, std::vector<std::vector<float>>(n));
    std::vector<std::atomic<long>> failures(n);
    std::atomic<int> phase{-1};  // -1 warm up, 0..n-1 a workload, n stop
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&, c] {
            AppServerClient client(server.Host(), server.Port(), server.Token());
            for (int i = 0; i < 50; ++i)  // warm: connection, sessions, caches
                for (const Workload &w : work)
                    client.Call(w.method, w.args);
            ++ready;
            for (int p; (p = phase.load()) < n;) {
                if (p < 0) {
                    std::this_thread::yield();
                    continue;
                }
                auto t0 = Clock::now();
                try {
                    std::string reply = client.Call(work[p].method, work[p].args);
                    if (reply.compare(0, 9, "{\"error\":") == 0)
                        ++failures[p];
                } catch (const std::exception &) {
                    ++failures[p];
                }
                latencies[c][p].push_back(std::chrono::duration<float, std::milli>(Clock::now() - t0).count());
            }
        });
    while (ready < clients)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<double> elapsed(n, 0.0);
    const auto slice = std::chrono::duration<double>(seconds / rounds);
    for (int r = 0; r < rounds; ++r)
        for (int p = 0; p < n; ++p) {
            auto start = Clock::now();
            phase = p;
            std::this_thread::sleep_for(slice);
            elapsed[p] += std::chrono::duration<double>(Clock::now() - start).count();
        }
    phase = n;
    for (auto &t : threads)
        t.join();

    std::vector<Figures> out(n);
    for (int p = 0; p < n; ++p) {
        std::vector<float> all;
        for (auto &perClient : latencies)
            all.insert(all.end(), perClient[p].begin(), perClient[p].end());
        out[p] = summarise(std::move(all), failures[p], elapsed[p]);
    }
    return out;
}

// Connections that hold the server open without finishing a request: idle
// ones that never send a byte, and slow senders that send one every
// half-second. Whatever the server closes is opened again, so the numbers
// stay up while the load runs.
class HostileLoad {
public:
    HostileLoad(int port, int idle, int slow) : port_(port), idle_(idle), slow_(slow) {}
    ~HostileLoad() { Stop(); }

    // Opens every connection, then keeps them up on a thread of its own.
    void Start()
    {
        stop_ = false;
        conns_.clear();
        for (int i = 0; i < idle_ + slow_; ++i)
            conns_.push_back({open(), i >= idle_, 0, Clock::now()});
        thread_ = std::thread([this] { run(); });
    }

    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        for (Conn &c : conns_)
            if (c.fd >= 0)
                ::close(c.fd);
        conns_.clear();
    }

    int Open() const { return open_.load(); }
    long Reopened() const { return reopened_.load(); }
    long SlowBytes() const { return slowBytes_.load(); }

private:
    struct Conn {
        int fd;
        bool slow;
        std::size_t sent;
        Clock::time_point next;
    };

    int open() const
    {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(fd);
            fd = -1;
        }
        return fd;
    }

    void run()
    {
        static const std::string request =
            "POST /call HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: 90\r\n\r\n"
            "{\"server\":\"FIS02800.rdmCriaResumoNOficialCFOp\",\"method\":\"GetSerie\",\"args\":[\"01\",\"\",\"\",\"\"]}";
        std::vector<pollfd> polled;
        while (!stop_) {
            polled.clear();
            int up = 0;
            for (Conn &c : conns_) {
                polled.push_back({c.fd, POLLIN, 0});
                up += c.fd >= 0;
            }
            open_ = up;
            ::poll(polled.data(), polled.size(), 50);
            const auto now = Clock::now();
            for (std::size_t i = 0; i < conns_.size(); ++i) {
                Conn &c = conns_[i];
                bool gone = c.fd < 0;
                if (!gone && (polled[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                    char buf[4096];
                    ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
                    gone = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
                }
                if (!gone && c.slow && now >= c.next) {
                    ::send(c.fd, request.data() + c.sent % request.size(), 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                    ++c.sent;
                    ++slowBytes_;
                    c.next = now + std::chrono::milliseconds(500);
                }
                if (gone) {
                    if (c.fd >= 0)
                        ::close(c.fd);
                    c.fd = open();
                    c.sent = 0;
                    ++reopened_;
                }
            }
        }
    }

    int port_, idle_, slow_;
    std::vector<Conn> conns_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> open_{0};
    std::atomic<long> reopened_{0}, slowBytes_{0};
};

struct UnderLoad {
    Figures quiet, loaded;
    double meanOpen = 0;
    long reopened = 0, slowBytes = 0;
};

// One ordinary client, in alternating slices without and with the load.
// Opening and closing the load is left out of both.
UnderLoad measureUnderLoad(const AppServerProcess &server, double seconds, int rounds = 8)
{
    AppServerClientTimeouts deadline;
    deadline.call = std::chrono::seconds(5);
    AppServerClient client(server.Host(), server.Port(), server.Token(), deadline);
    const std::vector<std::string> args = {"01", "", "", ""};
    for (int i = 0; i < 50; ++i)
        client.Call("GetSerie", args);
    HostileLoad load(server.Port(), 1000, 64);
    std::vector<float> lat[2];
    long failures[2] = {0, 0};
    double elapsed[2] = {0, 0};
    double openSum = 0;
    int openSamples = 0;
    UnderLoad out;
    const auto slice = std::chrono::duration<double>(seconds / rounds);
    for (int r = 0; r < rounds; ++r)
        for (int loaded = 0; loaded < 2; ++loaded) {
            if (loaded) {
                load.Start();
                std::this_thread::sleep_for(std::chrono::milliseconds(300));  // all accepted
            }
            const auto start = Clock::now();
            while (Clock::now() - start < slice) {
                auto t0 = Clock::now();
                try {
                    if (client.Call("GetSerie", args).compare(0, 9, "{\"error\":") == 0)
                        ++failures[loaded];
                } catch (const std::exception &) {
                    ++failures[loaded];
                }
                lat[loaded].push_back(std::chrono::duration<float, std::milli>(Clock::now() - t0).count());
                if (loaded) {
                    openSum += load.Open();
                    ++openSamples;
                }
            }
            elapsed[loaded] += std::chrono::duration<double>(Clock::now() - start).count();
            if (loaded) {
                out.reopened += load.Reopened();
                out.slowBytes += load.SlowBytes();
                load.Stop();
                std::this_thread::sleep_for(std::chrono::milliseconds(300));  // all closed
            }
        }
    out.quiet = summarise(std::move(lat[0]), failures[0], elapsed[0]);
    out.loaded = summarise(std::move(lat[1]), failures[1], elapsed[1]);
    out.meanOpen = openSamples ? openSum / openSamples : 0;
    return out;
}

void print(const char *name, int clients, const Figures &x)
{
    std::printf("%-10s %7d %10.0f %9.3f %9.3f %9ld %8ld\n", name, clients, x.rps, x.p50, x.p99, x.requests,
                x.failures);
}
} // namespace

int main(int argc, char **argv)
{
    if (BenchHelp(argc, argv,
                  "usage: bench_server [SECONDS] [SERVER_EXECUTABLE]\n"
        "Loads the application server with up to 16 clients for SECONDS (2) each step.\n"))
        return 0;
    const double seconds = argc > 1 ? std::max(0.2, std::atof(argv[1])) : 2.0;
    const int maxClients = 16;
    RaiseOpenFileLimit();  // the load below holds over a thousand connections
    TemporaryDemoDatabase db;
    AppServerProcessOptions options;
    options.executable = argc > 2 ? argv[2] : "";
    options.database = db.Path();
    options.threads = getenv("BENCH_THREADS") ? std::atoi(getenv("BENCH_THREADS")) : 0;
    options.logPath = getenv("BENCH_LOG") ? getenv("BENCH_LOG") : "/dev/null";
    if (const char *cache = getenv("BENCH_LOOKUP_CACHE_MS"))
        options.extraArgs = {"--lookup-cache-ms", cache};
    AppServerProcess server(options);
    std::printf("server %s:%d (%s workers), %.1f s per configuration (in alternating slices), %u cores\n\n",
                server.Host().c_str(), server.Port(),
                options.threads ? std::to_string(options.threads).c_str() : "default", seconds,
                std::thread::hardware_concurrency());

    const std::vector<std::string> serieArgs = {"01", "", "", ""};
    std::printf("%-10s %7s %10s %9s %9s %9s %8s\n", "method", "clients", "req/s", "p50 ms", "p99 ms", "requests",
                "failed");
    bool ok = true;
    for (int clients : {1, maxClients}) {
        std::vector<Figures> f = measure(server, {{"Ping", {}}, {"GetSerie", serieArgs}}, clients, seconds);
        const Figures &ping = f[0], &serie = f[1];
        print("Ping", clients, ping);
        print("GetSerie", clients, serie);
        const bool half = serie.rps >= 0.5 * ping.rps;
        const double share = 100.0 * serie.rps / std::max(1.0, ping.rps);
        if (clients == 1) {
            const bool fast = serie.p99 < 2.0;
            std::printf("  1 client: GetSerie throughput %.0f%% of Ping (goal >= 50%%): %s; "
                        "GetSerie p99 %.3f ms (goal < 2 ms): %s\n",
                        share, half ? "met" : "NOT met", serie.p99, fast ? "met" : "NOT met");
            ok = ok && half && fast;
        } else {
            const bool close = serie.p99 <= 2.0 * ping.p99;
            std::printf("  %d clients: GetSerie throughput %.0f%% of Ping (goal >= 50%%): %s; "
                        "GetSerie p99 %.2fx Ping's (goal <= 2x): %s\n",
                        clients, share, half ? "met" : "NOT met", serie.p99 / std::max(1e-9, ping.p99),
                        close ? "met" : "NOT met");
            ok = ok && half && close;
        }
        ok = ok && serie.failures == 0 && ping.failures == 0;
    }

    std::printf("\none client's GetSerie, alone and beside 64 slow senders and 1,000 idle connections\n");
    UnderLoad u = measureUnderLoad(server, seconds);
    print("quiet", 1, u.quiet);
    print("loaded", 1, u.loaded);
    const bool steady = u.loaded.p99 <= 2.0 * u.quiet.p99 && u.loaded.failures == 0 && u.quiet.failures == 0;
    std::printf("  load: %.0f connections open on average, %ld reopened after the server closed them, "
                "%ld slow bytes sent\n",
                u.meanOpen, u.reopened, u.slowBytes);
    std::printf("  loaded p99 %.2fx the quiet p99 (goal <= 2x): %s\n", u.loaded.p99 / std::max(1e-9, u.quiet.p99),
                steady ? "met" : "NOT met");
    ok = ok && steady;

    std::printf("\ngoals %s\n", ok ? "met" : "NOT met");
    return 0;
}
