// Opening a 10 000-record mall7.dbf, filtering one type and walking it end
// to end, next to a plain read of the same file's bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "store/model_table.h"

namespace {

using namespace zuna::store;

const char* const kTypes[] = {"C120", "C22B", "C220", "NRI1", "NRI2", "RM3", "rm4", "ALB3"};

// A data folder with a 10 000-record mall7.dbf, made once per run.
const std::string& data_dir()
{
    static const std::string dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zuna_bench_XXXXXX").string();
        std::string d = ::mkdtemp(tmpl.data());
        std::string error, notice;
        auto t = open_model_table(d, &error, &notice);
        if (!t) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        for (int i = 0; i < 10000; ++i) {
            ModelRecord r;
            r.type = kTypes[(i * 7) % 8];
            r.piece = "PIÈCE " + std::to_string(i);
            for (int c = 0; c < 12; ++c)
                r.c[c] = (i + c) % 30000;
            if (!t->append(r, &error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                std::exit(1);
            }
        }
        static struct Cleanup {
            std::string dir;
            ~Cleanup() { std::filesystem::remove_all(dir); }
        } cleanup{d};
        return d;
    }();
    return dir;
}

void BM_raw_read(benchmark::State& state)
{
    const std::string path = data_dir() + "/mall7.dbf";
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        std::string bytes(std::filesystem::file_size(path), '\0');
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
        std::fclose(f);
        benchmark::DoNotOptimize(bytes.data());
        state.SetBytesProcessed(state.bytes_processed() + int64_t(bytes.size()));
    }
}
BENCHMARK(BM_raw_read)->Unit(benchmark::kMicrosecond);

void BM_open_filter_walk(benchmark::State& state)
{
    const std::string dir = data_dir();
    int64_t seen = 0;
    for (auto _ : state) {
        std::string error, notice;
        auto t = open_model_table(dir, &error, &notice);
        t->set_filter("type = 'C120'", &error);
        int sum = 0;
        for (bool ok = t->first(); ok; ok = t->next()) {
            const auto r = t->current();
            sum += *r->c[0];
            ++seen;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["records"] = benchmark::Counter(double(seen), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_open_filter_walk)->Unit(benchmark::kMicrosecond);

// The part of the above spent opening: checks, reading, building the index.
void BM_open_only(benchmark::State& state)
{
    const std::string dir = data_dir();
    for (auto _ : state) {
        std::string error, notice;
        auto t = open_model_table(dir, &error, &notice);
        benchmark::DoNotOptimize(t.get());
    }
}
BENCHMARK(BM_open_only)->Unit(benchmark::kMicrosecond);

} // namespace
