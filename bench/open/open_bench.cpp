// How long the host takes to open the screen headless (IniProc to the end of
// its first activation) beside a baseline built in the same run: a bare form
// with as many plain controls as the screen has components. Then 1,000
// open/close cycles, with resident memory before and after.
#include "bench_options.h"
#include "hostsetup.h"
#include "vcl/forms.h"
#include "vcl/headless.h"
#include "vcl/stdctrls.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

TCustomForm *screenForm()
{
    for (int i = 0; i < Application->ComponentCount(); ++i)
        if (auto *f = dynamic_cast<TCustomForm *>(Application->Components(i)))
            if (std::string(f->ClassName()) == "TfrmResumoOficialCfop" && !f->Releasing())
                return f;
    return nullptr;
}

int countComponents(const TComponent &c)
{
    int n = c.ComponentCount();
    for (int i = 0; i < c.ComponentCount(); ++i)
        n += countComponents(*c.Components(i));
    return n;
}

// The baseline: a form with `components` bare edits, named and parented, shown.
__attribute__((noinline)) TForm *buildBareForm(int components)
{
    TForm *bare = nullptr;
    Application->CreateForm(bare);
    for (int c = 0; c < components; ++c) {
        auto *e = new TEdit(bare);
        e->SetName("c" + std::to_string(c));
        e->SetParent(bare);
    }
    bare->Show();
    return bare;
}

void closeScreen()
{
    if (TCustomForm *s = screenForm())
        Application->RunUserAction([s] { s->Close(); });
}
} // namespace

int main(int argc, char **argv)
{
    if (BenchHelp(argc, argv,
                  "usage: bench_open [SAMPLES] [CYCLES]\n"
        "Times opening and closing the screen (1000 samples of 1000 cycles).\n"))
        return 0;
    // A thousand samples keep the median steady on a busy machine.
    const int samples = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int cycles = argc > 2 ? std::atoi(argv[2]) : 1000;
    HostConfig config = HostConfig::Load();
    HostRunOptions options;
    HostRun run(config, options);

    // Warm up once and count what the screen is made of.
    Application->RunUserAction([&run] { run.Package().IniProc(); });
    if (!screenForm()) {
        std::fprintf(stderr, "the screen did not open\n");
        return 1;
    }
    const int components = countComponents(*screenForm());
    closeScreen();

    std::vector<double> open, baseline;
    for (int i = 0; i < samples; ++i) {
        auto t0 = Clock::now();
        run.Package().IniProc();
        open.push_back(ms(Clock::now() - t0));
        closeScreen();

        t0 = Clock::now();
        TForm *bare = buildBareForm(components);
        baseline.push_back(ms(Clock::now() - t0));
        delete bare;
    }

    const long rssBefore = residentKiB();
    std::vector<double> cycle;
    for (int i = 0; i < cycles; ++i) {
        auto t0 = Clock::now();
        Application->RunUserAction([&run] { run.Package().IniProc(); });
        closeScreen();
        cycle.push_back(ms(Clock::now() - t0));
    }
    const long rssAfter = residentKiB();

    const double openMedian = median(open), baseMedian = median(baseline);
    std::printf("headless open of the screen (%d components), %d samples\n", components, samples);
    std::printf("  %-34s %8.3f ms\n", "open, median", openMedian);
    std::printf("  %-34s %8.3f ms\n", "baseline (bare controls), median", baseMedian);
    std::printf("  %-34s %8.2f x\n", "open / baseline", openMedian / baseMedian);
    std::printf("%d open/close cycles\n", cycles);
    std::printf("  %-34s %8.3f ms\n", "cycle, median", median(cycle));
    std::printf("  %-34s %8ld KiB\n", "resident before", rssBefore);
    std::printf("  %-34s %8ld KiB (%+ld KiB)\n", "resident after", rssAfter, rssAfter - rssBefore);
    const bool fast = openMedian < 5.0, close = openMedian <= 3.0 * baseMedian,
               flat = rssAfter - rssBefore < 1024;
    std::printf("goals: open under 5 ms %s; within 3x baseline %s; memory flat (under 1 MiB growth) %s\n",
                fast ? "met" : "MISSED", close ? "met" : "MISSED", flat ? "met" : "MISSED");
    return 0;
}
