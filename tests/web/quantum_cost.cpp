// The cost of the page's render quantum in the native SSE build: the web host's own code
// (web/wasm/fourwave_web.cpp, compiled natively here) rendering 128-frame quanta of a looping
// patch with the block checks off, as the AudioWorklet runs it. Prints one line per patch:
//   NAME ns-per-sample quantum-microseconds
// for tests/web/run.mjs, which measures the wasm build the same way in the same run.
//   fourwave_quantum_cost SECONDS PATCH-JSON NAME [PATCH-JSON NAME ...]
#include <chrono>
#include <cstdio>
#include <cstdlib>

extern "C" {
int32_t fw_open(const char *patchJson, int32_t rateHz, int32_t loop, int32_t checks);
int32_t fw_render(int32_t frames);
}

int main(int argc, char **argv) {
    if (argc < 4 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: fourwave_quantum_cost SECONDS PATCH-JSON NAME ...\n");
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    constexpr int kQuantum = 128;
    for (int a = 2; a + 1 < argc; a += 2) {
        if (fw_open(argv[a], 48000, 1, 0) != 0) return 1;
        for (int i = 0; i < 200; ++i) fw_render(kQuantum); // warm up
        const auto started = std::chrono::steady_clock::now();
        long quanta = 0;
        double elapsed = 0.0;
        do {
            for (int i = 0; i < 100; ++i) fw_render(kQuantum);
            quanta += 100;
            elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        } while (elapsed < seconds);
        const double perSample = elapsed * 1e9 / (static_cast<double>(quanta) * kQuantum);
        std::printf("%s %.2f %.3f\n", argv[a + 1], perSample, perSample * kQuantum / 1000.0);
    }
    return 0;
}
