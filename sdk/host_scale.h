// The host's scale of plug values: every audio plug carries volts divided by ten, so that 1.0
// stands for 10 V (DT_AUDIO in abi.h). Hosts convert a voltage a user gives them with it; the
// module itself works on the scale as it comes.
#pragma once

namespace fourwave {

constexpr float kVoltsPerUnit = 10.0f;

} // namespace fourwave
