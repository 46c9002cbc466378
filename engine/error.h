// What the engine returns where a program would throw: nothing when the input was read, else
// the whole message, naming the place of the problem ("patch.json, key \"pich\": unknown key").
// Errors are values so that the WebAssembly build, which has no exception support, reads
// patches with the same code and gives the same messages as the command line.
#pragma once

#include <string>
#include <utility>

namespace fourwave::engine {

class [[nodiscard]] Error {
public:
    Error() = default; // none: the input was read
    explicit Error(std::string message) : message_(std::move(message)) {}

    explicit operator bool() const { return !message_.empty(); }
    const std::string &message() const { return message_; }

private:
    std::string message_;
};

} // namespace fourwave::engine
