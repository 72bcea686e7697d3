// Start-up to an idle main window on the simulated bench, offscreen:
// creation (alias, tables, module measurement) and the first activate step.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include "app/main_window.h"
#include "bench/qt_main.h"
#include "sim/catalogue.h"

using namespace zuna;

namespace {
void StartUpToIdleMainWindow(benchmark::State& state)
{
    QTemporaryDir dir;
    for (auto _ : state) {
        sim::SimSetup setup(1.0, {}, "");
        Station station(setup.bench());
        Shell shell(station);
        StationSettings settings{dir.filePath("zuna07.conf"), dir.filePath("data")};
        TForm1 form(shell, settings);
        form.show();
        benchmark::DoNotOptimize(form.FormActivate());
        QApplication::processEvents();
    }
}
BENCHMARK(StartUpToIdleMainWindow)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv) { return zuna::bench::qt_benchmark_main(argc, argv); }
