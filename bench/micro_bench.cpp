// Native micro-benchmarks of the reading code: the info.txt reader, the name list load at
// growing sizes (it grows 100 entries at a time, copying the whole storage each time), and Find.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "namelist/name_list.h"
#include "settings/settings.h"

namespace {

std::string MakeInfoText(std::size_t bytes) {
    std::string text;
    int i = 0;
    while (text.size() < bytes) {
        text += "// comment line two\r\nreg Game" + std::to_string(i) + "\r\ndir data\tmutex Lock_" +
                std::to_string(i) + "\r\nunknownKey someValue gamename " + std::string(40, 'g') + "\r\n";
        ++i;
    }
    text.resize(bytes);
    return text;
}

void InfoReader(benchmark::State& state) {
    std::string text = MakeInfoText(1 << 20);
    for (auto _ : state) {
        std::FILE* file = fmemopen(&text[0], text.size(), "rb");
        ResolveSettingSlots();
        ReadInfoFrom(file);
        std::fclose(file);
        benchmark::DoNotOptimize(g_settingValues);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(InfoReader)->Unit(benchmark::kMillisecond);

std::string WriteList(int tokens) {
    char path[] = "/tmp/updater-bench-XXXXXX";
    const int fd = mkstemp(path);
    std::string text;
    for (int i = 0; i < tokens; i += 2) text += "key" + std::to_string(i) + ",value" + std::to_string(i) + "\r\n";
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
    close(fd);
    return path;
}

void NameListLoad(benchmark::State& state) {
    const std::string path = WriteList(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        CNameList list;
        list.LoadFile(path.c_str(), 0, 1);
        benchmark::DoNotOptimize(list.count);
    }
    unlink(path.c_str());
}
BENCHMARK(NameListLoad)->Arg(1000)->Arg(10000)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond);

void NameListFind(benchmark::State& state) {
    const std::string path = WriteList(20000);  // 10,000 pairs
    CNameList list;
    list.LoadFile(path.c_str(), 0, 1);
    for (auto _ : state) benchmark::DoNotOptimize(list.Find("KEY19998", 2, 1, 0));  // the last key
    unlink(path.c_str());
}
BENCHMARK(NameListFind)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
