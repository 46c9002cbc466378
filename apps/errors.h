// The two kinds of failure the command line reports.
//   UsageError: the user's input is wrong (option, patch file, plug-in path); exit status 2.
//   RunError: a render that could not be completed (a block check failed, a write failed);
//             exit status 1.
// The message is the whole line after "fourwave: ", naming the place of the problem.
#pragma once

#include <stdexcept>
#include <string>

namespace fourwave::apps {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct RunError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr int kExitRunError = 1;
constexpr int kExitUsageError = 2;

} // namespace fourwave::apps
