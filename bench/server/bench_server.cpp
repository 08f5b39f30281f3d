// Throughput and latency of the application server over loopback: GetSerie
// against the trivial Ping, with 1 and 16 concurrent clients (one client
// object per thread), all in one run against the real server executable.
//
//   bench_server [SECONDS_PER_CONFIGURATION] [PATH_TO_fisappserver]
#include "host/hostsession.h"
#include "net/appserver_client.h"
#include "net/appserver_process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

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

// Runs the workloads in alternating slices on the same client threads, so a
// change in the machine's load affects them alike.
std::vector<Figures> measure(const AppServerProcess &server, const std::vector<Workload> &work, int clients,
                             double seconds, int rounds = 4)
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
        Figures &f = out[p];
        f.requests = static_cast<long>(all.size());
        f.failures = failures[p];
        f.rps = all.size() / elapsed[p];
        auto at = [&](double q) {
            std::size_t i = std::min(all.size() - 1, static_cast<std::size_t>(q * all.size()));
            std::nth_element(all.begin(), all.begin() + static_cast<long>(i), all.end());
            return static_cast<double>(all[i]);
        };
        if (!all.empty()) {
            f.p50 = at(0.50);
            f.p99 = at(0.99);
        }
    }
    return out;
}
} // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? std::max(0.2, std::atof(argv[1])) : 2.0;
    const int maxClients = 16;
    TemporaryDemoDatabase db;
    AppServerProcessOptions options;
    options.executable = argc > 2 ? argv[2] : "";
    options.database = db.Path();
    options.threads = maxClients + 8;  // every client keeps a worker
    options.logPath = getenv("BENCH_LOG") ? getenv("BENCH_LOG") : "/dev/null";
    AppServerProcess server(options);
    std::printf("server %s:%d, %.1f s per method and client count (4 alternating slices), %u cores\n\n", server.Host().c_str(), server.Port(),
                seconds, std::thread::hardware_concurrency());

    const std::vector<std::string> serieArgs = {"01", "", "", ""};
    std::printf("%-10s %7s %10s %9s %9s %9s %8s\n", "method", "clients", "req/s", "p50 ms", "p99 ms", "requests",
                "failed");
    bool ok = true;
    for (int clients : {1, maxClients}) {
        std::vector<Figures> f = measure(server, {{"Ping", {}}, {"GetSerie", serieArgs}}, clients, seconds);
        const Figures &ping = f[0], &serie = f[1];
        for (auto [name, x] : {std::pair{"Ping", ping}, std::pair{"GetSerie", serie}})
            std::printf("%-10s %7d %10.0f %9.3f %9.3f %9ld %8ld\n", name, clients, x.rps, x.p50, x.p99, x.requests,
                        x.failures);
        bool half = serie.rps >= 0.5 * ping.rps;
        bool fast = serie.p99 < 2.0;
        std::printf("  %d client(s): GetSerie throughput %.0f%% of Ping (goal >= 50%%): %s; "
                    "GetSerie p99 %.3f ms (goal < 2 ms): %s\n",
                    clients, 100.0 * serie.rps / std::max(1.0, ping.rps), half ? "met" : "NOT met", serie.p99,
                    fast ? "met" : "NOT met");
        ok = ok && half && fast && serie.failures == 0 && ping.failures == 0;
    }
    std::printf("\ngoals %s\n", ok ? "met" : "NOT met");
    return 0;
}
