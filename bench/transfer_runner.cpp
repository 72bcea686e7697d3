// A whole C120 read through the window-side runner (transfer thread, nested
// event loop, 25 Hz progress poll) against the same read called directly in
// the same run. Target: ratio_to_direct <= 1.05.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDialog>
#include <QProgressBar>
#include <chrono>

#include "c120/c120_link.h"
#include "link/module.h"
#include "link/transfer_thread.h"
#include "bench/qt_main.h"
#include "sim/catalogue.h"
#include "ui/transfer.h"

using namespace zuna;

namespace {

struct Rig {
    Rig() : setup(1.0, {}, ""), station(setup.bench())
    {
        setup.plug("c120");
        station.measured_module_count = measure_module(*station.port);
        load_delay_counts(station);
    }
    sim::SimSetup setup;
    Station station;
};

void BM_C120ReadThroughRunner(benchmark::State& state)
{
    Rig rig;
    TransferThread thread;
    QDialog window;
    auto* bar = new QProgressBar(&window);
    Transfer transfer(thread, &window, bar);
    using Clock = std::chrono::steady_clock;
    double through = 0, direct = 0;
    for (auto _ : state) {
        // The two reads alternate, so both see the same machine load.
        int words = 0;
        auto t0 = Clock::now();
        transfer.run([&](Progress& p) { words = c120::lecture(rig.station, &p); });
        through += std::chrono::duration<double>(Clock::now() - t0).count();
        t0 = Clock::now();
        const int direct_words = c120::lecture(rig.station, nullptr);
        direct += std::chrono::duration<double>(Clock::now() - t0).count();
        if (words != 128 || direct_words != 128)
            state.SkipWithError("a read did not reach word 128");
    }
    const double runs = double(state.iterations());
    state.counters["ms_direct"] = direct / runs * 1e3;
    state.counters["ms_runner"] = through / runs * 1e3;
    state.counters["ratio_to_direct"] = through / direct;
}
BENCHMARK(BM_C120ReadThroughRunner)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char** argv) { return zuna::bench::qt_benchmark_main(argc, argv); }
