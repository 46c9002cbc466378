// The web host: the module linked into one WebAssembly file with the stand-in host's
// platform-neutral core and the render engine (the CLI's patch reader and render loop), behind
// a handful of plain C exports for the page, its AudioWorklet and scripts/web-render under node.
//
// One session at a time: a patch (the CLI's JSON format, applied over the CLI's default patch)
// is opened as a runner; fw_render then hands out exactly the frames asked for, running the
// patch's own blocks behind them (a 128-frame render quantum of the page may take two blocks
// of 64, or parts of blocks of another size). The four outputs land in planar buffers the
// caller reads from memory.
//
// Strings pass through buffers from fw_alloc. The page and web-render check patches and
// signals with the engine's reader (fw_check_patch, fw_check_setting), which returns the CLI's
// messages as values: this build has no exception support. A patch that fw_open or fw_update
// refuses leaves the running session as it was.
//
// The same file builds natively too (tests/web/quantum_cost.cpp), so that the cost of a render
// quantum can be measured on both sides of one code path.
#if defined(__EMSCRIPTEN__)
#include <emscripten/emscripten.h>
#else
#define EMSCRIPTEN_KEEPALIVE // a native build of the same web host, for cost comparisons
#endif

#include <stdint.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/frequency.h"
#include "engine/patch.h"
#include "engine/runner.h"
#include "host/host.h"
#include "module/exports.h"

using namespace fourwave;
using namespace fourwave::engine;

namespace {

// The most frames one fw_render call hands out.
constexpr int32_t kMaxRenderFrames = 8192;

struct Session {
    std::unique_ptr<PatchRunner> runner;
    bool loop = false;
    bool checks = true;
    int32_t rateOverride = 0;
    // Frames of the runner's last block not handed out yet.
    int32_t pendingBegin = 0;
    int32_t pendingEnd = 0;
    std::vector<float> outputs[kOutputCount];
    std::string failure;
};

Session session;
std::string text; // the last string handed out

const host::PluginEntries kEntries = {getModuleProperties, makeModule};

// The patch `json` over the default patch, at `rateOverride` if that is above 0.
Error patchFrom(const char *json, int32_t rateOverride, Patch *patch) {
    *patch = defaultPatch();
    if (json != nullptr && json[0] != '\0')
        if (Error error = applyPatchJson(*patch, json, "patch")) return error;
    if (rateOverride > 0) patch->sampleRateHz = rateOverride;
    return {};
}

bool sameRun(const Patch &a, const Patch &b) {
    return a.sampleRateHz == b.sampleRateHz && a.blockFrames == b.blockFrames &&
           a.randomBlocks == b.randomBlocks && a.seed == b.seed && a.seconds == b.seconds;
}

int32_t start(const Patch &patch) {
    session.runner = std::make_unique<PatchRunner>(kEntries, patch, session.checks, session.loop);
    session.pendingBegin = session.pendingEnd = 0;
    session.failure.clear();
    return session.runner->created() ? 0 : 1;
}

const char *handOut(std::string value) {
    text = std::move(value);
    return text.c_str();
}

constexpr int32_t kPatchRefused = 2;

} // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE void *fw_alloc(int32_t bytes) {
    return std::malloc(static_cast<size_t>(bytes));
}
EMSCRIPTEN_KEEPALIVE void fw_free(void *pointer) { std::free(pointer); }

// The CLI's built-in default patch, as JSON.
EMSCRIPTEN_KEEPALIVE const char *fw_default_patch() { return defaultPatchJson().c_str(); }

// The module's name and about text, as getModuleProperties gives them.
EMSCRIPTEN_KEEPALIVE const char *fw_module_text(int32_t which) {
    ModuleProperties properties = {};
    if (getModuleProperties(0, &properties) == 0) return "";
    const char *value = which == 0   ? properties.name
                        : which == 1 ? properties.description
                                     : properties.about;
    return value != nullptr ? value : "";
}

// What is wrong with the patch `patchJson` (a JSON object of the CLI's keys), or "" when it
// reads; `source` names it in the message, as a patch file's name does in the CLI's.
EMSCRIPTEN_KEEPALIVE const char *fw_check_patch(const char *patchJson, const char *source) {
    Patch patch;
    return handOut(applyPatchJson(patch, patchJson, source).message());
}

// What is wrong with `value`, written as on the command line, for the patch key `key`, or "";
// `where` names the place, as "option --pitch" does in the CLI's messages.
EMSCRIPTEN_KEEPALIVE const char *fw_check_setting(const char *key, const char *value,
                                                  const char *where) {
    Patch patch;
    return handOut(applySetting(patch, key, nlohmann::json(std::string(value)), where).message());
}

// What keeps the patch `patchJson` (over the default patch, at its own rate) from rendering
// whole: no frame, or more than a host clock counts; or "". `where` names the place.
EMSCRIPTEN_KEEPALIVE const char *fw_check_length(const char *patchJson, const char *where) {
    Patch patch;
    if (Error error = patchFrom(patchJson, 0, &patch)) return handOut(error.message());
    return handOut(checkLength(patch, where).message());
}

// A number as patches write one (plain decimal, finite), or NaN when `text` is none.
EMSCRIPTEN_KEEPALIVE double fw_number(const char *text) {
    double number = 0.0;
    return parseNumber(text, &number) ? number : std::numeric_limits<double>::quiet_NaN();
}

// The patch keys, settings first, then the inputs in the CLI's order, separated by commas.
EMSCRIPTEN_KEEPALIVE const char *fw_patch_keys() {
    std::string keys;
    for (const std::string &key : kSettingKeys) keys += (keys.empty() ? "" : ",") + key;
    for (const Plug input : kPatchInputs) keys += std::string(",") + plugInfo(input).key;
    return handOut(keys);
}

// The frequency the module plays for a constant Pitch value `pitch` (plug scale).
EMSCRIPTEN_KEEPALIVE double fw_frequency_hz(float pitch, int32_t voltPerKhz, int32_t rateHz) {
    return moduleFrequencyHz(pitch, voltPerKhz != 0, rateHz);
}

// Opens a session on `patchJson` (over the default patch). `rateHz` > 0 overrides the patch's
// rate (the audio context's). `loop`: the patch repeats every `seconds`, for live play;
// `checks`: the stand-in host's block checks on every call. 0 when the instance runs, 1 when
// the module refused to create one, 2 when the patch does not read (fw_check_patch says why).
EMSCRIPTEN_KEEPALIVE int32_t fw_open(const char *patchJson, int32_t rateHz, int32_t loop,
                                     int32_t checks) {
    Patch patch;
    if (patchFrom(patchJson, rateHz, &patch)) return kPatchRefused;
    session.rateOverride = rateHz;
    session.loop = loop != 0;
    session.checks = checks != 0;
    for (std::vector<float> &output : session.outputs) output.assign(kMaxRenderFrames, 0.0f);
    return start(patch);
}

// A changed patch while the session runs: inputs and settings follow at the next block; a
// changed rate, block size, seed or length opens the instance again (returns 1; 0 otherwise;
// 2, the session unchanged, when the patch does not read).
EMSCRIPTEN_KEEPALIVE int32_t fw_update(const char *patchJson) {
    if (!session.runner) return -1;
    Patch patch;
    if (patchFrom(patchJson, session.rateOverride, &patch)) return kPatchRefused;
    if (!sameRun(patch, session.runner->patch())) {
        start(patch);
        return 1;
    }
    session.runner->update(patch);
    return 0;
}

// Renders `frames` frames (at most 8192) into the output buffers; returns how many were
// rendered: fewer only at the end of a render that does not loop, or after a failure.
EMSCRIPTEN_KEEPALIVE int32_t fw_render(int32_t frames) {
    if (!session.runner) return 0;
    PatchRunner &runner = *session.runner;
    frames = std::clamp(frames, 0, kMaxRenderFrames);
    int32_t done = 0;
    while (done < frames) {
        if (session.pendingBegin == session.pendingEnd) {
            const int32_t count = runner.renderBlock();
            if (count == 0) {
                session.failure = runner.failure();
                break;
            }
            session.pendingBegin = 0;
            session.pendingEnd = count;
        }
        const int32_t take = std::min(frames - done, session.pendingEnd - session.pendingBegin);
        for (int c = 0; c < kOutputCount; ++c)
            std::memcpy(session.outputs[c].data() + done,
                        runner.outputs()[c] + session.pendingBegin,
                        static_cast<size_t>(take) * sizeof(float));
        session.pendingBegin += take;
        done += take;
    }
    return done;
}

// The output buffer of channel `channel` (Ramp, Saw, Pulse, Triangle), plug scale.
EMSCRIPTEN_KEEPALIVE const float *fw_output(int32_t channel) {
    if (channel < 0 || channel >= kOutputCount) return nullptr;
    return session.outputs[channel].data();
}

// The session's state: 0 frames rendered by the runner, 1 asleep (no longer processed),
// 2 sleep requests, 3 process calls, 4 the patch's frames, 5 its rate.
EMSCRIPTEN_KEEPALIVE double fw_state(int32_t which) {
    if (!session.runner) return 0.0;
    PatchRunner &runner = *session.runner;
    const RenderSummary &summary = runner.summary();
    switch (which) {
    case 0: return static_cast<double>(summary.frames);
    case 1: return runner.asleep() ? 1.0 : 0.0;
    case 2: return static_cast<double>(summary.sleepRequests);
    case 3: return static_cast<double>(summary.processCalls);
    case 4: return static_cast<double>(runner.totalFrames());
    case 5: return static_cast<double>(runner.patch().sampleRateHz);
    default: return 0.0;
    }
}

// Frames at which the instance fell asleep, as a comma-separated list.
EMSCRIPTEN_KEEPALIVE const char *fw_sleep_frames() {
    if (!session.runner) return "";
    std::string list;
    for (const int64_t frame : session.runner->summary().sleepFrames)
        list += (list.empty() ? "" : ",") + std::to_string(frame);
    return handOut(list);
}

// What broke the last render (a block check), or "".
EMSCRIPTEN_KEEPALIVE const char *fw_failure() { return session.failure.c_str(); }

// The plug table (JSON, engine/patch.h's plugTableJson): the page builds its controls from it.
EMSCRIPTEN_KEEPALIVE const char *fw_plug_table() { return handOut(plugTableJson().dump()); }

} // extern "C"
