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

double direct_read_seconds(Rig& rig, int runs)
{
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i)
        benchmark::DoNotOptimize(c120::lecture(rig.station, nullptr));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / runs;
}

void BM_C120ReadThroughRunner(benchmark::State& state)
{
    Rig rig;
    TransferThread thread;
    QDialog window;
    auto* bar = new QProgressBar(&window);
    Transfer transfer(thread, &window, bar);
    double seconds = 0;
    int runs = 0;
    for (auto _ : state) {
        int words = 0;
        const auto t0 = std::chrono::steady_clock::now();
        transfer.run([&](Progress& p) { words = c120::lecture(rig.station, &p); });
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ++runs;
        if (words != 128)
            state.SkipWithError("the read did not reach word 128");
    }
    const double direct = direct_read_seconds(rig, runs);
    state.counters["ms_direct"] = direct * 1e3;
    state.counters["ms_runner"] = seconds / runs * 1e3;
    state.counters["ratio_to_direct"] = seconds / runs / direct;
}
BENCHMARK(BM_C120ReadThroughRunner)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
