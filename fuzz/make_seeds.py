#!/usr/bin/env python3
"""Writes the fuzz target's seed corpus (fuzz/corpus/): one ordinary session per routine and
a handful of hostile ones, in the byte layout fuzz_host_session.cpp reads. Run it again after
changing that layout; the seeds are committed."""
import os
import struct
import sys

# Value selectors (see Reader::value): indexes into the special table, or a raw float.
ZERO, MZERO, ONE, MONE, HALF, NAN, INF, MINF, DENORM = 0, 1, 2, 3, 4, 5, 6, 7, 8
HUGE, MHUGE = 13, 14


def raw(value):
    return bytes([32]) + struct.pack('<f', value)


def val(selector):
    return bytes([selector])


def u16(v):
    return struct.pack('<H', v & 0xFFFF)


def i32(v):
    return struct.pack('<i', v)


def header(pins=20, flags=0, rate=raw(44100.0), block_size=64, shape=0, fm=0, pm=0, scale=0,
           inputs=None, open_now=True):
    if inputs is None:
        # pitch, width, sync, phase, phase mod, ramp, saw, pulse, triangle levels,
        # sync threshold, sync advance, active
        inputs = [raw(0.5), raw(0.3), val(ZERO), raw(0.25), raw(0.5), val(ONE), val(HALF),
                  val(ONE), val(HALF), raw(0.2), raw(0.1), val(ONE)]
    out = bytes([pins, flags]) + rate + i32(block_size) + bytes([shape, fm, pm, scale])
    out += b''.join(inputs) + bytes([0 if open_now else 0x0F])
    return out


def process(offset, count):
    return bytes([0]) + u16(offset) + u16(count)


def plug_state(pin, state, offset=0):
    return bytes([1, pin & 0xFF, state & 0xFF]) + u16(offset)


def event(kind, pointer, value=0, extra=0, offset=0):
    return bytes([2]) + i32(kind) + i32(pointer) + i32(value) + i32(extra) + u16(offset)


def dispatch(opcode, index=0, value=0, opt=val(ZERO), pointer_kind=0):
    return bytes([3]) + i32(opcode) + i32(index) + i32(value) + opt + bytes([pointer_kind])


def region(plug, start, length, value, step=val(ZERO)):
    return bytes([4, plug]) + u16(start) + u16(length) + value + step


def setting(which, value):
    return bytes([5, which, value])


def clock(frames):
    return bytes([6]) + u16(frames)


def ordinary_blocks():
    ops = plug_state(11, 2)
    ops += process(0, 64) + clock(64) + process(64, 7) + process(100, 1) + process(0, 0)
    ops += region(0, 0, 512, raw(-0.2), raw(0.003)) + process(0, 128) + process(128, 255)
    ops += region(2, 0, 512, val(ONE)) + region(2, 0, 100, val(ZERO)) + process(0, 200)
    ops += region(0, 200, 16, val(NAN)) + region(5, 200, 16, val(INF)) + process(200, 16)
    ops += region(0, 200, 16, raw(0.5)) + region(5, 200, 16, val(ONE)) + process(200, 16)
    ops += process(505, 7) + process(0, 512) + process(17, 31)
    return ops


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), 'corpus')
    os.makedirs(out_dir, exist_ok=True)
    seeds = {}
    names = ['perfect', 'perfect2', 'bright', 'medium', 'dark']
    for shape in range(5):
        seeds[f'routine-{names[shape]}'] = header(shape=shape) + ordinary_blocks()
        seeds[f'routine-{names[shape]}-mod'] = (header(shape=shape, fm=1, pm=1) +
                                                ordinary_blocks())
    seeds['routine-dark-half-vkhz'] = header(shape=4, fm=2, scale=1) + ordinary_blocks()
    seeds['hostile-rates'] = (header(rate=val(NAN)) + process(0, 64) + dispatch(2, opt=val(ZERO)) +
                              dispatch(0) + process(0, 64) + dispatch(2, opt=val(MINF)) +
                              dispatch(0) + process(64, 65) + dispatch(2, opt=raw(1e9)) +
                              dispatch(0) + process(0, 17))
    seeds['hostile-opcodes'] = (header() + b''.join(dispatch(op, 5, -1, val(HUGE), k % 3)
                                                    for k, op in enumerate(
                                                        [-1, 14, 4096, -2**31, 2**31 - 1, 4, 5,
                                                         7, 8, 12, 13, 6, 9, 10, 11]))
                                + process(0, 64))
    seeds['hostile-events'] = (header(pins=25) + plug_state(-1, 1) + plug_state(30, 2) +
                               plug_state(100, 1) + event(1, 11) + event(3, 0) + event(-1, 5) +
                               event(2, 0, 7, -1) + event(21, 1) + event(21, 0) + event(0, 1000) +
                               event(0, -1) + process(0, 64) + plug_state(11, 1, 3) +
                               process(3, 64))
    seeds['hostile-pin-counts'] = (header(pins=1) + plug_state(11, 2) + process(0, 64) +
                                   plug_state(0, 2) + process(0, 33))
    seeds['hostile-no-callback'] = (header(flags=0xA5) + plug_state(11, 2) + process(0, 64) +
                                    dispatch(0) + process(1, 63))
    seeds['hostile-process-before-open'] = (header(open_now=False) + process(0, 64) +
                                            process(0, 0) + dispatch(0) + process(0, 64))
    seeds['hostile-phase-mod'] = (header(shape=2, pm=1) + region(3, 0, 512, val(HUGE)) +
                                  region(4, 0, 512, val(INF)) + process(0, 256) +
                                  region(3, 0, 512, val(MINF)) + region(4, 0, 512, val(MHUGE)) +
                                  process(256, 256) + region(10, 0, 512, val(HUGE)) +
                                  region(9, 0, 512, val(ZERO)) + region(2, 0, 512, val(ONE)) +
                                  process(0, 99))
    seeds['sleep-countdown'] = (header(block_size=100) + region(11, 0, 512, val(ZERO)) +
                                plug_state(11, 1) + process(0, 64) + process(64, 64) +
                                process(128, 0) + bytes([8]) + i32(0) + plug_state(11, 1) +
                                process(0, 7) + bytes([8]) + i32(-5) + setting(0, 3) +
                                plug_state(14, 1) + process(7, 7) + region(11, 0, 512, val(ONE)) +
                                plug_state(11, 2) + process(0, 64))
    for name, data in seeds.items():
        with open(os.path.join(out_dir, name), 'wb') as f:
            f.write(data)
    print(f'{len(seeds)} seeds written to {out_dir}')

    # Inputs that once found a fault of the module, kept as past crashers.
    crashers_dir = os.path.join(os.path.dirname(out_dir), 'crashers')
    os.makedirs(crashers_dir, exist_ok=True)
    crashers = {
        'sample-rate-zero': header(rate=val(ZERO)) + process(0, 64),
        'plug-state-event-for-unbound-pin': header(pins=25) + plug_state(20, 1) + process(0, 64),
        'pulse-level-overflow-dark': (header(shape=4) + region(7, 0, 512, raw(-1.7e38)) +
                                      process(0, 128)),
    }
    for name, data in crashers.items():
        with open(os.path.join(crashers_dir, name), 'wb') as f:
            f.write(data)
    print(f'{len(crashers)} past crashers written to {crashers_dir}')

if __name__ == '__main__':
    main()
