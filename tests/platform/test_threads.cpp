// Instances on several threads at once: each thread drives instances of its own (all ten
// routines, plug-state events, the wind-down to a sleep request and the wake-up, opcode 13),
// creating and closing them while the other threads run theirs. Every session's outputs must
// equal, bit for bit, those of the same session run alone on one thread: the instances share
// nothing that changes what they compute.
//
// Under ThreadSanitizer (preset linux-tsan) the same test shows there is no data race beyond
// the two records the contract makes process-wide (opcode 13's answer and the editor's pin
// reference), which tests/platform/tsan.supp names.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "sdk/gui_base.h"
#include "testkit/scripted_session.h"
#include "testkit/entries.h"

namespace fourwave::platform {
namespace {

constexpr int kThreads = 4;
constexpr int kSessions = 40; // four of each routine

// Releases every thread at once, so that the sessions really overlap.
class StartLine {
public:
    explicit StartLine(int count) : waiting_(count) {}
    void arriveAndWait() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (--waiting_ == 0) {
            ready_.notify_all();
            return;
        }
        ready_.wait(lock, [this] { return waiting_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    int waiting_;
};

std::vector<SessionResult> runAlone(const host::PluginEntries &entries) {
    std::vector<SessionResult> results;
    for (int session = 0; session < kSessions; ++session)
        results.push_back(
            runSession(entries, session % kRoutineCount, static_cast<uint32_t>(session)));
    return results;
}

// Thread t takes sessions t, t + kThreads, ...; each thread also keeps one long-lived instance
// of its own that it runs between the short sessions, so that instances of one thread are
// created and closed while another of its instances (and those of the other threads) lives.
std::vector<SessionResult> runOnThreads(const host::PluginEntries &entries) {
    std::vector<SessionResult> results(kSessions);
    StartLine start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arriveAndWait();
            for (int session = t; session < kSessions; session += kThreads)
                results[session] =
                    runSession(entries, session % kRoutineCount, static_cast<uint32_t>(session));
        });
    }
    for (auto &thread : threads) thread.join();
    return results;
}

struct EntriesCase {
    const char *name;
    bool loaded; // the plug-in library loaded by path, or the module linked in
};

class Threads : public ::testing::TestWithParam<EntriesCase> {
protected:
    host::PluginEntries entries() {
        if (!GetParam().loaded) return test::linkedEntries();
        std::string error;
        library_ = host::PluginLibrary::load(FOURWAVE_PLUGIN_FILE, &error);
        if (library_ == nullptr) {
            ADD_FAILURE() << "cannot load " << FOURWAVE_PLUGIN_FILE << ": " << error;
            return {};
        }
        return library_->entries();
    }
    std::unique_ptr<host::PluginLibrary> library_;
};

TEST_P(Threads, SessionsOnFourThreadsEqualTheSameSessionsRunOneAtATime) {
    const host::PluginEntries plugin = entries();
    ASSERT_NE(plugin.makeModule, nullptr);
    const std::vector<SessionResult> alone = runAlone(plugin);
    for (const SessionResult &result : alone) {
        ASSERT_TRUE(result.failure.empty()) << result.failure;
        ASSERT_GT(result.outputs.size(), 1000u);
        ASSERT_GE(result.sleepRequests, 1); // the wind-down reached its sleep request
    }
    for (int round = 0; round < 2; ++round) {
        const std::vector<SessionResult> threaded = runOnThreads(plugin);
        for (int session = 0; session < kSessions; ++session)
            EXPECT_EQ(compareResults(alone[session], threaded[session]), "")
                << "round " << round << ", session " << session << " ("
                << routineLabel(session % kRoutineCount) << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(Entries, Threads,
                         ::testing::Values(EntriesCase{"Linked", false},
                                           EntriesCase{"Loaded", true}),
                         [](const auto &info) { return std::string(info.param.name); });

// The comparison above would see a session that depends on another instance: a session whose
// inputs differ in one sample must differ in its outputs (so equal outputs mean something).
TEST(Threads, ASessionWithOtherInputsGivesOtherOutputs) {
    const SessionResult a = runSession(test::linkedEntries(), 3, 5);
    const SessionResult b = runSession(test::linkedEntries(), 3, 6);
    EXPECT_NE(compareResults(a, b), "");
    EXPECT_EQ(compareResults(a, runSession(test::linkedEntries(), 3, 5)), "");
}

// Editors on several threads: the pin reference is one process-wide record, so each thread
// reads what its getPin wrote only until another editor's getPin rewrites it; what each
// editor owns (its binding record) stays its own while editors come and go on every thread.
intptr_t SE_ABI silentEditorCallback(void *, int32_t, int32_t, int32_t, void *, float) { return 0; }

TEST(Threads, EditorsOnFourThreadsKeepTheirOwnRecords) {
    std::atomic<int> wrongRecords{0};
    StartLine start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arriveAndWait();
            for (int i = 0; i < 2000; ++i) {
                SEGUI_base editor(silentEditorCallback, &editor);
                GuiPinRef *pin = editor.getPin(t * 10000 + i);
                if (pin == nullptr) ++wrongRecords;
                GuiBindingRecord *record = editor.getBindingRecord();
                if (record->magic != SE_GUI_RECORD_MAGIC || record->hostData != &editor)
                    ++wrongRecords;
            }
        });
    }
    for (auto &thread : threads) thread.join();
    EXPECT_EQ(wrongRecords.load(), 0);
}

} // namespace
} // namespace fourwave::platform
