// draldb_bench: lookups in a store of many entries, with Google Benchmark.
//
//   draldb_bench [--entries=N] [benchmark flags...]
//
// Builds one store of N entries (1,000,000 by default) named n0000000,
// n0000001, ... through the library, in a temporary directory that it removes
// again, then times:
//   search/*   dral_search for the last entry, which scans the whole index
//   peer/*     the plain way to do the same: a stdio read of 12 bytes and
//              fnmatch per entry, on the same index file
//   work       dral_work picking every entry into the working list
//   best       dral_best for the first entry, which stands last in that list
// Each result carries "per_entry": the time per index entry or list node.
#include "draldb.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fnmatch.h>
#include <string>

namespace {

long entries = 1000000;
dral_handle *store = nullptr;
std::string index_path;
std::int32_t last_offset = -1;

std::string entry_name(long n) {
    char name[16];
    std::snprintf(name, sizeof name, "n%07ld", n % 10000000);
    return name;
}

// Every entry gets a 4-byte number block, so offsets differ from entry to
// entry and a wrong match shows.
bool build_store(const std::string &path) {
    store = dral_open(path.c_str());
    if (store == nullptr)
        return false;
    const unsigned char value[4] = {1, 0, 0, 0};
    for (long n = 0; n < entries; ++n) {
        const std::string name = entry_name(n);
        last_offset = dral_addrec(store, name.c_str());
        if (dral_write(store, last_offset, 3, 4, value) != 4)
            return false;
    }
    dral_terminate(store);
    return true;
}

void set_per_entry(benchmark::State &state, long count) {
    state.counters["per_entry"] = benchmark::Counter(static_cast<double>(count),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

// Times `lookup`, which returns a data offset, and checks every answer
// against `expected`.
template <class Lookup>
void time_lookup(benchmark::State &state, std::int32_t expected, Lookup lookup) {
    for (auto _ : state) {
        const std::int32_t found = lookup();
        if (found != expected) {
            state.SkipWithError("the lookup found the wrong entry");
            break;
        }
        benchmark::DoNotOptimize(found);
    }
    set_per_entry(state, entries);
}

void search_last(benchmark::State &state, const char *pattern) {
    time_lookup(state, last_offset, [&] { return dral_search(store, pattern); });
}

// The peer's scan: returns the offset of the first entry that matches, or -1.
std::int32_t stdio_fnmatch_search(std::FILE *index, const char *pattern) {
    std::rewind(index);
    unsigned char entry[12];
    while (std::fread(entry, 1, sizeof entry, index) >= 8) {
        if (std::memcmp(entry, "\n\n\n\n\n\n\n\n", 8) == 0)
            break;
        char name[9];
        std::memcpy(name, entry, 8);
        name[8] = '\0';
        if (fnmatch(pattern, name, 0) == 0)
            return static_cast<std::int32_t>(entry[8] | entry[9] << 8 | entry[10] << 16 |
                                             static_cast<unsigned>(entry[11]) << 24);
    }
    return -1;
}

void peer_search_last(benchmark::State &state, const char *pattern) {
    std::FILE *index = std::fopen(index_path.c_str(), "rb");
    if (index == nullptr) {
        state.SkipWithError("cannot open the index");
        return;
    }
    time_lookup(state, last_offset, [&] { return stdio_fnmatch_search(index, pattern); });
    std::fclose(index);
}

void work_all(benchmark::State &state) {
    for (auto _ : state) {
        dral_work(store, "n*");
        state.PauseTiming();
        dral_workdone(store);
        state.ResumeTiming();
    }
    set_per_entry(state, entries);
}

void best_first(benchmark::State &state) {
    dral_work(store, "n*");
    const std::string first = entry_name(0);
    time_lookup(state, 0, [&] { return dral_best(store, first.c_str()); });
    dral_workdone(store);
}

// Takes --entries=N out of the arguments before Google Benchmark sees them.
void take_entries_flag(int *argc, char **argv) {
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        if (std::strncmp(argv[i], "--entries=", 10) == 0)
            entries = std::strtol(argv[i] + 10, nullptr, 10);
        else
            argv[kept++] = argv[i];
    }
    *argc = kept;
}

} // namespace

int main(int argc, char **argv) {
    take_entries_flag(&argc, argv);
    benchmark::Initialize(&argc, argv);
    if (entries < 1) {
        std::fputs("draldb_bench: --entries must be at least 1\n", stderr);
        return 1;
    }
    std::string dir_template = (std::filesystem::temp_directory_path() / "draldb_bench_XXXXXX");
    if (mkdtemp(dir_template.data()) == nullptr) {
        std::perror("draldb_bench: mkdtemp");
        return 1;
    }
    const std::filesystem::path dir = dir_template;
    index_path = (dir / "store.dral").string();
    const bool built = build_store((dir / "store").string());
    if (built) {
        const std::string last = entry_name(entries - 1);
        // A literal name is compared bytewise; the others go through fnmatch.
        const std::string question = std::string(1, '?').append(last, 1);
        const std::string star = std::string(1, '*').append(last, 2);
        const std::string bracket = last.substr(0, 7) + "[" + last.substr(7) + "]";
        for (const std::string &pattern : {last, question, star, bracket}) {
            benchmark::RegisterBenchmark(
                ("search/" + pattern).c_str(),
                [pattern](benchmark::State &state) { search_last(state, pattern.c_str()); })
                ->UseRealTime();
            benchmark::RegisterBenchmark(("peer/" + pattern).c_str(), [pattern](
                                                                          benchmark::State &state) {
                peer_search_last(state, pattern.c_str());
            })->UseRealTime();
        }
        benchmark::RegisterBenchmark("work", work_all)->UseRealTime();
        benchmark::RegisterBenchmark("best", best_first)->UseRealTime();
        benchmark::RunSpecifiedBenchmarks();
    } else {
        std::fputs("draldb_bench: cannot build the store\n", stderr);
    }
    if (store != nullptr)
        dral_close(store);
    std::filesystem::remove_all(dir);
    benchmark::Shutdown();
    return built ? 0 : 1;
}
