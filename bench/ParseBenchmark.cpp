// Parsing speed of the two release files, in bytes per second (Google Benchmark).
//   am-bench-parse [--benchmark_format=json …]
// The texts are generated here, the same on every run: a 10 MB changelog in the shape the
// studio writes (headers, "+", "-" and "*" lines, comments, blank lines, some CR LF line ends
// and non-ASCII text), a typical manifest, and a 10 MB manifest-shaped text.

#include "formats/Changelog.h"
#include "formats/Manifest.h"

#include <benchmark/benchmark.h>
#include <random>
#include <string>

namespace {

constexpr std::size_t TenMegabytes = 10 * 1000 * 1000;

const char* const Phrases[] = {
    "Fixed a crash when the ember forge overheats during a siege",
    "New region: the Hollow Vale \xE2\x80\x94 three keeps, two bosses",
    "Reduced memory use of terrain streaming by 18\xC2\xA0%",
    "Caf\xC3\xA9 lanterns no longer flicker at dusk",
    "Removed the legacy save converter",
    "Balanced warden shield recovery (4.5 s \xE2\x86\x92 3.8 s)",
    "Improved pathfinding around collapsed bridges",
};

std::string changelogText(std::size_t size) {
    std::mt19937 random(20240611);
    std::string text = "// Ashenmarch release history\n\n";
    for (int release = 0; text.size() < size; ++release) {
        const char* lineEnd = release % 7 == 0 ? "\r\n" : "\n";
        text += "## 1." + std::to_string(release / 100) + "." + std::to_string(release % 100) +
                " | 2024-" + std::to_string(1 + release % 12) + "-" +
                std::to_string(1 + release % 28) + lineEnd;
        const int lines = 3 + static_cast<int>(random() % 12);
        for (int i = 0; i < lines; ++i) {
            text += "+-* "[random() % 4];
            text += ' ';
            text += Phrases[random() % std::size(Phrases)];
            text += lineEnd;
            if (random() % 9 == 0) {
                text += "// internal: ticket " + std::to_string(random() % 10000) + lineEnd;
            }
        }
        text += lineEnd;
    }
    return text;
}

std::string manifestText() {
    return "# Ashenmarch release manifest\n"
           "version=1.4.2\n"
           "macurl=https://releases.ashenmarch.example/builds/Ashenmarch-1.4.2.zip\n"
           "macsize=631242752\n"
           "macexe=Ashenmarch.app\n"
           "macsha256=7ff48e69faf936ce0f5a3644fe02743be67e0759046250b71e34b3985fe2114c\n"
           "notes=Hollow Vale opens \xE2\x80\x94 see the changelog\n";
}

std::string largeManifestText(std::size_t size) {
    std::string text;
    while (text.size() < size) {
        text += manifestText();
        text += "unknown.key = some value the launcher skips\n\n";
    }
    return text;
}

void setBytes(benchmark::State& state, const std::string& text) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

void ChangelogTenMegabytes(benchmark::State& state) {
    const std::string text = changelogText(TenMegabytes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(parseChangelog(text));
    }
    setBytes(state, text);
}

void ManifestTypical(benchmark::State& state) {
    const std::string text = manifestText();
    for (auto _ : state) {
        benchmark::DoNotOptimize(Manifest::parse(text));
    }
    setBytes(state, text);
}

void ManifestTenMegabytes(benchmark::State& state) {
    const std::string text = largeManifestText(TenMegabytes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Manifest::parse(text));
    }
    setBytes(state, text);
}

} // namespace

BENCHMARK(ChangelogTenMegabytes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ManifestTypical)->UseRealTime();
BENCHMARK(ManifestTenMegabytes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
