// The broken module: it runs the real routine the oscillator installed and adds its fault
// around the call.
#include "fake_module.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <new>
#include <sstream>
#include <vector>

#include "module/exports.h"
#include "module/module.h"
#include "module/plugs.h"

namespace fourwave::reliability {

namespace {

uint32_t currentFaults = 0;

// Lost blocks, stored inverted so that no scan of memory finds a pointer to them.
std::vector<uintptr_t> &hiddenBlocks() {
    static std::vector<uintptr_t> blocks;
    return blocks;
}

class BrokenModule : public Module {
public:
    BrokenModule(HostCallback callback, void *hostData, uint32_t faults)
        : Module(callback, hostData), faults_(faults) {
        if (faults_ & FAULT_LEAKS) {
            char *lost = new char[48];
            hiddenBlocks().push_back(~reinterpret_cast<uintptr_t>(lost));
        }
    }

    void open() override {
        Module::open();
        takeOver();
    }
    int32_t onPlugStateChange(SEPin *pin) override {
        if (faults_ & FAULT_ALLOCATES) allocateAndFree();
        const int32_t result = Module::onPlugStateChange(pin);
        takeOver();
        return result;
    }

private:
    // Through a volatile pointer, so that no optimizer can elide the pair.
    static void allocateAndFree() {
        void *(*volatile allocate)(std::size_t) = &::operator new;
        void *scratch = allocate(sizeof(int) * 4);
        ::operator delete(scratch);
    }

    // The module's own routine runs inside the broken one.
    void takeOver() {
        if (bindingRecord.process != brokenProcess) inner_ = bindingRecord.process;
        setProcessRoutine(brokenProcess, 0, 0, 0);
    }

    static int32_t SE_ABI brokenProcess(void *object, int32_t offset, int32_t count) {
        BrokenModule &m = *static_cast<BrokenModule *>(object);
        if ((m.faults_ & FAULT_HANGS) && count == 7) {
            volatile bool forever = true;
            while (forever) {
            }
        }
        if (m.faults_ & FAULT_READS_UNINITIALISED) {
            const volatile float *stale = &m.neverSet_;
            if (*stale > 0.5f) ++m.staleReads_;
        }
        if (m.faults_ & FAULT_ALLOCATES) allocateAndFree();
        const bool bound = m.buffersBound() && count > 0;
        const float before = bound ? m.rampOut[offset] : 0.0f;
        const int32_t result = m.inner_(object, offset, count);
        if (!bound) return result;

        if (m.faults_ & FAULT_LEAVES_UNWRITTEN) m.rampOut[offset] = before;
        if ((m.faults_ & FAULT_OVERRUNS_ODD) && count % 2 == 1) m.sawOut[offset + count] = 0.25f;
        if (m.faults_ & FAULT_WRITES_INPUT) {
            float *pitch = const_cast<float *>(m.pitchIn);
            pitch[offset] = pitch[offset] + 1.0f;
        }
        if (m.faults_ & FAULT_STICKY_NAN) {
            for (int32_t i = offset; i < offset + count && !m.poisoned_; ++i)
                m.poisoned_ = !std::isfinite(m.pitchIn[i]) || !std::isfinite(m.rampLevelIn[i]);
            if (m.poisoned_) m.sawOut[offset + count - 1] = std::nanf("");
        }
        return result;
    }

    uint32_t faults_;
    ProcessRoutine inner_ = nullptr;
    bool poisoned_ = false;
    float neverSet_; // deliberately left uninitialised (FAULT_READS_UNINITIALISED)
    volatile int staleReads_ = 0;
};

extern "C" BindingRecord *SE_ABI makeBrokenModule(int32_t index, int32_t objectKind,
                                                  HostCallback callback, void *hostData) {
    if (index != 0 || objectKind != SE_OBJECT_KIND_MODULE) return nullptr;
    return (new BrokenModule(callback, hostData, currentFaults))->getBindingRecord();
}

} // namespace

bool setFakeFaults(const std::string &names) {
    static constexpr struct {
        const char *name;
        uint32_t fault;
    } kFaultNames[] = {{"alloc", FAULT_ALLOCATES},
                       {"leak", FAULT_LEAKS},
                       {"overrun", FAULT_OVERRUNS_ODD},
                       {"unwritten", FAULT_LEAVES_UNWRITTEN},
                       {"input", FAULT_WRITES_INPUT},
                       {"nan", FAULT_STICKY_NAN},
                       {"hang", FAULT_HANGS},
                       {"uninit", FAULT_READS_UNINITIALISED},
                       {"none", 0}};
    uint32_t faults = 0;
    std::stringstream list(names);
    std::string name;
    while (std::getline(list, name, ',')) {
        if (name.empty()) continue;
        const auto *known = std::find_if(std::begin(kFaultNames), std::end(kFaultNames),
                                         [&](const auto &entry) { return name == entry.name; });
        if (known == std::end(kFaultNames)) return false;
        faults |= known->fault;
    }
    currentFaults = faults;
    return true;
}

void setFakeFaults(uint32_t faults) { currentFaults = faults; }
uint32_t fakeFaults() { return currentFaults; }

host::PluginEntries fakeEntries() {
    host::PluginEntries entries;
    entries.getModuleProperties = getModuleProperties;
    entries.makeModule = makeBrokenModule;
    return entries;
}

void releaseLeakedBlocks() {
    for (uintptr_t hidden : hiddenBlocks()) delete[] reinterpret_cast<char *>(~hidden);
    hiddenBlocks().clear();
    hiddenBlocks().shrink_to_fit();
}

std::unique_ptr<host::Host> openBroken(uint32_t faults) {
    setFakeFaults(faults);
    auto host = std::make_unique<host::Host>(fakeEntries());
    if (!host->create()) return host;
    host->fill(PITCH_INPUT, 0.5f);
    host->fill(RAMP_LEVEL_INPUT, 0.5f);
    host->fill(SAW_LEVEL_INPUT, 0.5f);
    host->fill(ACTIVE_INPUT, 1.0f);
    host->open();
    host->sendPlugState(ACTIVE_INPUT, STATE_RUNNING);
    setFakeFaults(0u);
    return host;
}

} // namespace fourwave::reliability
