// Reading a generated definitions file of 10,000 definitions, and printing
// identifiers against the table it gives.
#include "smx/def.h"
#include "smx/smx.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int DEFINITIONS = 10000;

struct GeneratedFile {
    std::string dir;
    std::string path;
    GeneratedFile() {
        char pattern[] = "/tmp/def-bench-XXXXXX";
        dir = mkdtemp(pattern) ? pattern : "/tmp";
        path = dir + "/snmp.def";
        FILE *f = fopen(path.c_str(), "w");
        if (!f)
            abort();
        fprintf(f, "# generated: %d definitions below one enterprise\n", DEFINITIONS);
        for (int i = 0; i < DEFINITIONS; ++i)
            fprintf(f, "object%05d = 1.3.6.1.4.1.9999.%d.%d a remark\n", i, i / 100, i % 100);
        fclose(f);
        defSetDefinitionFile(path.c_str());
    }
    ~GeneratedFile() {
        unlink(path.c_str());
        rmdir(dir.c_str());
    }
};

GeneratedFile &generated() {
    static GeneratedFile file;
    return file;
}

void BM_DefReadFile(benchmark::State &state) {
    generated();
    for (auto _ : state) {
        int result = defReadFile();
        if (result != 0 || defCount != DEFINITIONS)
            state.SkipWithError("definitions not read");
        benchmark::DoNotOptimize(defTable);
    }
    state.counters["definitions"] = DEFINITIONS;
}
BENCHMARK(BM_DefReadFile)->Unit(benchmark::kMillisecond);

void printBench(benchmark::State &state, const char *identifier) {
    generated();
    if (defReadFile() != 0)
        state.SkipWithError("definitions not read");
    uint8_t oid[64];
    int length = smxTextToObjectId(oid, sizeof oid, identifier);
    if (length <= 0)
        state.SkipWithError("identifier not encoded");
    char text[257];
    for (auto _ : state) {
        int n = smxObjectIdToText(text, 256, oid, length);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(text[0]);
    }
    state.SetLabel(text);
}

// Named by the last entry of the table.
void BM_ObjectIdToText_LastEntry(benchmark::State &state) {
    printBench(state, "1.3.6.1.4.1.9999.99.99.1.2.3");
}
BENCHMARK(BM_ObjectIdToText_LastEntry)->Unit(benchmark::kNanosecond);

// Named by an entry in the middle.
void BM_ObjectIdToText_Middle(benchmark::State &state) {
    printBench(state, "1.3.6.1.4.1.9999.50.50.1.2.3");
}
BENCHMARK(BM_ObjectIdToText_Middle)->Unit(benchmark::kNanosecond);

// No entry is a prefix.
void BM_ObjectIdToText_NoName(benchmark::State &state) {
    printBench(state, "1.3.6.1.4.1.8888.50.50.1.2.3");
}
BENCHMARK(BM_ObjectIdToText_NoName)->Unit(benchmark::kNanosecond);

// 1,024 random identifiers, as a walk prints them: most named by an entry with
// 1 to 6 instance arcs, some exactly an entry, some in no named subtree.
void BM_ObjectIdToText_Random(benchmark::State &state) {
    generated();
    if (defReadFile() != 0)
        state.SkipWithError("definitions not read");
    std::mt19937 random(7);
    std::vector<std::vector<uint8_t>> oids;
    for (int i = 0; i < 1024; ++i) {
        unsigned kind = random() % 8;
        char text[128];
        int at =
            snprintf(text, sizeof text, "%s.%u.%u", kind == 0 ? "1.3.6.1.2.1" : "1.3.6.1.4.1.9999",
                     static_cast<unsigned>(random() % 100), static_cast<unsigned>(random() % 100));
        for (unsigned arcs = kind == 1 ? 0 : 1 + random() % 6; arcs > 0; --arcs)
            at += snprintf(text + at, sizeof text - static_cast<size_t>(at), ".%u",
                           static_cast<unsigned>(random() % 2000));
        uint8_t oid[64];
        int length = smxTextToObjectId(oid, sizeof oid, text);
        if (length <= 0)
            state.SkipWithError("identifier not encoded");
        oids.emplace_back(oid, oid + length);
    }
    char text[257];
    for (auto _ : state) {
        for (const auto &oid : oids) {
            int n = smxObjectIdToText(text, 256, oid.data(), static_cast<int>(oid.size()));
            benchmark::DoNotOptimize(n);
            benchmark::DoNotOptimize(text[0]);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(oids.size()));
    state.counters["ns_per_identifier"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(oids.size()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ObjectIdToText_Random)->Unit(benchmark::kMicrosecond);

} // namespace
