// Input signals in volts: what a patch connects to one of the module's inputs.
//
// A signal is written as text, the same on the command line and in a patch file:
//
//   5                  a constant (volts)
//   2:9                a linear sweep from 2 V to 9 V over the whole render (also lin:2:9)
//   exp:1:8            an exponential sweep (both ends of one sign, not zero)
//   sine:HZ:LO:HI      a sine LFO swinging between LO and HI volts
//   square:HZ:LO:HI    a square LFO: HI for the first half of each period, LO for the second
//   pulse:HZ[:V[:DUTY]]  a pulse train: V volts (default 10) for DUTY of each period (default
//                      0.5), 0 V otherwise; every rise is a sync edge
//   gate:T0-T1[,T2-T3...]  10 V between the given times (seconds), 0 V elsewhere
//
// This file only parses and evaluates; the runner converts to the plug scale.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "error.h"

namespace fourwave::engine {

class Signal {
public:
    enum class Kind { Constant, LinearSweep, ExponentialSweep, Sine, Square, Pulse, Gate };

    Signal() = default;
    static Signal constant(double volts);
    // Reads `text` into `signal`; when it is no signal, the error has `where` at the front of
    // its message and `signal` is left as it was.
    static Error parse(const std::string &text, const std::string &where, Signal *signal);

    // The value in volts at frame `frame` of a render at `rateHz` lasting `durationSeconds`.
    // Periods are counted from the frame number exactly, so that a pulse train whose period is
    // a whole number of frames repeats to the frame.
    double voltsAt(int64_t frame, double rateHz, double durationSeconds) const;
    // Piecewise constant: changes are single steps, announced to the module as plug-state
    // events. Sweeps and the sine LFO are continuous ("running") signals.
    bool stepped() const;
    Kind kind() const { return kind_; }
    const std::string &text() const { return text_; }

private:
    Kind kind_ = Kind::Constant;
    double from_ = 0.0; // constant value; sweep start; LFO low; pulse height
    double to_ = 0.0;   // sweep end; LFO high
    double hz_ = 0.0;
    double duty_ = 0.5;
    std::vector<std::pair<double, double>> gates_; // seconds, sorted
    std::string text_ = "0";
};

// A number in plain decimal notation (exponent allowed), finite, with nothing after it.
bool parseNumber(const std::string &text, double *value);

// The syntax summary for help texts and error messages.
extern const char *const kSignalSyntax;

} // namespace fourwave::engine
