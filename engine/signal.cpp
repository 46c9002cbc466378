// Input signals: parsing the text forms and evaluating them in time.
#include "signal.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace fourwave::engine {

const char *const kSignalSyntax =
    "V (constant), A:B (linear sweep), exp:A:B, sine:HZ:LO:HI, square:HZ:LO:HI, "
    "pulse:HZ[:V[:DUTY]], gate:T0-T1[,T2-T3...]";

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kDefaultPulseVolts = 10.0;
constexpr double kGateVolts = 10.0;

std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

// Position in the current cycle, [0, 1), of an LFO or pulse train at frame `frame`.
double cyclePosition(int64_t frame, double hz, double rateHz) {
    const double cycles = static_cast<double>(frame) * hz / rateHz;
    return cycles - std::floor(cycles);
}

} // namespace

bool parseNumber(const std::string &text, double *value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return false;
    errno = 0;
    char *end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(parsed))
        return false;
    // strtod also reads hexadecimal and "inf"/"nan"; only plain decimals are numbers here.
    if (text.find_first_of("xXnN") != std::string::npos) return false;
    *value = parsed;
    return true;
}

Signal Signal::constant(double volts) {
    Signal signal;
    signal.from_ = volts;
    std::ostringstream text;
    text << volts;
    signal.text_ = text.str();
    return signal;
}

Error Signal::parse(const std::string &text, const std::string &where, Signal *parsed) {
    auto fail = [&](const std::string &problem) {
        return Error(where + ": '" + text + "' " + problem);
    };
    // The first part that is not a number, in reading order, is reported before any other
    // problem of the signal.
    Error notANumber;
    auto number = [&](const std::string &part, const char *what) {
        double value = 0.0;
        if (!parseNumber(part, &value) && !notANumber)
            notANumber =
                fail(std::string("has a ") + what + " that is not a number ('" + part + "')");
        return value;
    };

    Signal signal;
    signal.text_ = text;
    double constantVolts = 0.0;
    if (parseNumber(text, &constantVolts)) {
        signal.from_ = constantVolts;
        *parsed = signal;
        return {};
    }

    std::vector<std::string> parts = split(text, ':');
    if (parts.size() < 2)
        return fail(std::string("is not a number or a signal (") + kSignalSyntax + ")");
    double first = 0.0;
    if (parseNumber(parts[0], &first)) parts.insert(parts.begin(), "lin");
    const std::string &name = parts[0];
    const size_t arguments = parts.size() - 1;

    if (name == "lin" || name == "exp") {
        if (arguments != 2) return fail("needs two ends: " + name + ":A:B");
        signal.kind_ = name == "lin" ? Kind::LinearSweep : Kind::ExponentialSweep;
        signal.from_ = number(parts[1], "start");
        signal.to_ = number(parts[2], "end");
        if (notANumber) return notANumber;
        if (signal.kind_ == Kind::ExponentialSweep &&
            (signal.from_ == 0.0 || signal.to_ == 0.0 || (signal.from_ < 0) != (signal.to_ < 0)))
            return fail("is an exponential sweep whose ends are zero or of opposite signs");
    } else if (name == "sine" || name == "square") {
        if (arguments != 3) return fail("needs a rate and two levels: " + name + ":HZ:LO:HI");
        signal.kind_ = name == "sine" ? Kind::Sine : Kind::Square;
        signal.hz_ = number(parts[1], "rate");
        signal.from_ = number(parts[2], "low level");
        signal.to_ = number(parts[3], "high level");
        if (notANumber) return notANumber;
        if (signal.hz_ <= 0.0) return fail("needs a rate above 0 Hz");
    } else if (name == "pulse") {
        if (arguments < 1 || arguments > 3) return fail("reads pulse:HZ[:V[:DUTY]]");
        signal.kind_ = Kind::Pulse;
        signal.hz_ = number(parts[1], "rate");
        signal.from_ = arguments >= 2 ? number(parts[2], "level") : kDefaultPulseVolts;
        signal.duty_ = arguments >= 3 ? number(parts[3], "duty cycle") : 0.5;
        if (notANumber) return notANumber;
        if (signal.hz_ <= 0.0) return fail("needs a rate above 0 Hz");
        if (signal.duty_ <= 0.0 || signal.duty_ >= 1.0)
            return fail("needs a duty cycle between 0 and 1 (exclusive)");
    } else if (name == "gate") {
        if (arguments != 1) return fail("reads gate:T0-T1[,T2-T3...] (times in seconds)");
        signal.kind_ = Kind::Gate;
        for (const std::string &span : split(parts[1], ',')) {
            // The separator is the first '-' after the first character, so that a time may
            // not be negative but the text stays readable.
            const size_t dash = span.find('-', 1);
            if (dash == std::string::npos) return fail("has a gate '" + span + "' without T0-T1");
            const double on = number(span.substr(0, dash), "gate start");
            const double off = number(span.substr(dash + 1), "gate end");
            if (notANumber) return notANumber;
            if (on < 0.0 || off <= on)
                return fail("has a gate '" + span +
                            "' that does not run forward from 0 s or later");
            signal.gates_.emplace_back(on, off);
        }
        std::sort(signal.gates_.begin(), signal.gates_.end());
    } else {
        return fail(std::string("is not a number or a signal (") + kSignalSyntax + ")");
    }
    *parsed = std::move(signal);
    return {};
}

double Signal::voltsAt(int64_t frame, double rateHz, double durationSeconds) const {
    const double seconds = static_cast<double>(frame) / rateHz;
    switch (kind_) {
    case Kind::Constant: return from_;
    case Kind::LinearSweep:
    case Kind::ExponentialSweep: {
        const double x =
            durationSeconds > 0.0 ? std::clamp(seconds / durationSeconds, 0.0, 1.0) : 0.0;
        if (kind_ == Kind::LinearSweep) return from_ + (to_ - from_) * x;
        return from_ * std::pow(to_ / from_, x);
    }
    case Kind::Sine:
        return 0.5 * (from_ + to_) + 0.5 * (to_ - from_) * std::sin(kTwoPi * hz_ * seconds);
    case Kind::Square: return cyclePosition(frame, hz_, rateHz) < 0.5 ? to_ : from_;
    case Kind::Pulse: return cyclePosition(frame, hz_, rateHz) < duty_ ? from_ : 0.0;
    case Kind::Gate:
        for (const auto &[on, off] : gates_)
            if (seconds >= on && seconds < off) return kGateVolts;
        return 0.0;
    }
    return 0.0;
}

bool Signal::stepped() const {
    return kind_ == Kind::Constant || kind_ == Kind::Square || kind_ == Kind::Pulse ||
           kind_ == Kind::Gate;
}

} // namespace fourwave::engine
