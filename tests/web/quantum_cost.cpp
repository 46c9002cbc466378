// The cost of the page's render quantum in the native SSE build: the web host's own code
// (web/wasm/fourwave_web.cpp, compiled natively here) rendering 128-frame quanta of a looping
// patch with the block checks off, as the AudioWorklet runs it. Prints one line per patch:
//   NAME ns-per-sample quantum-microseconds
// for tests/web/run.mjs, which measures the wasm build the same way in the same run.
//   fourwave_quantum_cost REPEATS PATCH-JSON NAME [PATCH-JSON NAME ...]
// (each figure the fastest of REPEATS runs of 200 quanta).
#include <chrono>
#include <cstdio>
#include <cstdlib>

extern "C" {
int32_t fw_open(const char *patchJson, int32_t rateHz, int32_t loop, int32_t checks);
int32_t fw_render(int32_t frames);
}

int main(int argc, char **argv) {
    if (argc < 4 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: fourwave_quantum_cost REPEATS PATCH-JSON NAME ...\n");
        return 2;
    }
    // The fastest of several short runs: what the code costs, not what a busy machine lets it
    // have (a run that lost its core to another process is slower, never faster).
    const int repeats = std::atoi(argv[1]);
    constexpr int kQuantum = 128;
    constexpr int kQuantaPerRun = 200;
    for (int a = 2; a + 1 < argc; a += 2) {
        if (fw_open(argv[a], 48000, 1, 0) != 0) return 1;
        for (int i = 0; i < 200; ++i) fw_render(kQuantum); // warm up
        double fastest = 1e30;
        for (int r = 0; r < repeats; ++r) {
            const auto started = std::chrono::steady_clock::now();
            for (int i = 0; i < kQuantaPerRun; ++i) fw_render(kQuantum);
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            if (elapsed < fastest) fastest = elapsed;
        }
        const double perSample = fastest * 1e9 / (static_cast<double>(kQuantaPerRun) * kQuantum);
        std::printf("%s %.2f %.3f\n", argv[a + 1], perSample, perSample * kQuantum / 1000.0);
    }
    return 0;
}
