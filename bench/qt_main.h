#pragma once
// The main of a benchmark program that needs a QApplication (offscreen).
#include <QApplication>
#include <benchmark/benchmark.h>

namespace zuna::bench {

inline int qt_benchmark_main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace zuna::bench
