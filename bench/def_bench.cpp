// Reading a generated definitions file of 10,000 lines, and printing a 12-arc
// identifier against the table it gives (the look-up walks it linearly).
#include "smx/def.h"
#include "smx/smx.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

constexpr int LINES = 10000;

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
        fprintf(f, "# generated: %d definitions below one enterprise\n", LINES - 1);
        for (int i = 1; i < LINES; ++i)
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
        if (result != 0 || defCount != LINES - 1)
            state.SkipWithError("definitions not read");
        benchmark::DoNotOptimize(defTable);
    }
    state.counters["lines"] = LINES;
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

// Named by the last entry of the table, so the walk goes to its end.
void BM_ObjectIdToText_LastEntry(benchmark::State &state) {
    printBench(state, "1.3.6.1.4.1.9999.99.99.1.2.3");
}
BENCHMARK(BM_ObjectIdToText_LastEntry)->Unit(benchmark::kMicrosecond);

// Named by an entry in the middle.
void BM_ObjectIdToText_Middle(benchmark::State &state) {
    printBench(state, "1.3.6.1.4.1.9999.50.50.1.2.3");
}
BENCHMARK(BM_ObjectIdToText_Middle)->Unit(benchmark::kMicrosecond);

// No entry is a prefix: every entry is looked at, none matches.
void BM_ObjectIdToText_NoName(benchmark::State &state) {
    printBench(state, "1.3.6.1.4.1.8888.50.50.1.2.3");
}
BENCHMARK(BM_ObjectIdToText_NoName)->Unit(benchmark::kMicrosecond);

} // namespace
