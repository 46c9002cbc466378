// The loader of Fourwave's standalone WebAssembly files: no emscripten JavaScript, no network.
// It answers the few WASI calls the C++ library makes (stdout and stderr, arguments, exit),
// and wraps the web host's exports (web/wasm/fourwave_web.cpp) as an Engine. It runs the same
// in the page, in its AudioWorklet (which has no TextEncoder or TextDecoder, hence the UTF-8
// code below) and under node (scripts/web-render, tests/web).

export class WasmExit extends Error {
  constructor(code) {
    super(`the WebAssembly program stopped (exit status ${code})`);
    this.code = code;
  }
}

export function utf8Encode(text) {
  const bytes = [];
  for (const character of text) {
    let c = character.codePointAt(0);
    if (c < 0x80) bytes.push(c);
    else if (c < 0x800) bytes.push(0xc0 | (c >> 6), 0x80 | (c & 63));
    else if (c < 0x10000) bytes.push(0xe0 | (c >> 12), 0x80 | ((c >> 6) & 63), 0x80 | (c & 63));
    else bytes.push(0xf0 | (c >> 18), 0x80 | ((c >> 12) & 63), 0x80 | ((c >> 6) & 63), 0x80 | (c & 63));
  }
  return Uint8Array.from(bytes);
}

export function utf8Decode(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length;) {
    const b = bytes[i++];
    let c = b;
    if (b >= 0xf0) c = ((b & 7) << 18) | ((bytes[i++] & 63) << 12) | ((bytes[i++] & 63) << 6) | (bytes[i++] & 63);
    else if (b >= 0xe0) c = ((b & 15) << 12) | ((bytes[i++] & 63) << 6) | (bytes[i++] & 63);
    else if (b >= 0xc0) c = ((b & 31) << 6) | (bytes[i++] & 63);
    text += String.fromCodePoint(c);
  }
  return text;
}

const ERRNO_BADF = 8;

// WASI preview 1, as much as the programs use. `output(fd, bytes)` receives stdout (1) and
// stderr (2); `args` are the program's arguments, its name first.
export function wasiImports(memory, { args = ['fourwave'], output = () => {} } = {}) {
  const view = () => new DataView(memory().buffer);
  const bytes = () => new Uint8Array(memory().buffer);
  const encodedArgs = args.map((a) => utf8Encode(a));
  return {
    proc_exit(code) { throw new WasmExit(code); },
    environ_sizes_get(countPointer, sizePointer) {
      view().setUint32(countPointer, 0, true);
      view().setUint32(sizePointer, 0, true);
      return 0;
    },
    environ_get() { return 0; },
    args_sizes_get(countPointer, sizePointer) {
      view().setUint32(countPointer, encodedArgs.length, true);
      view().setUint32(sizePointer, encodedArgs.reduce((n, a) => n + a.length + 1, 0), true);
      return 0;
    },
    args_get(argvPointer, bufferPointer) {
      let at = bufferPointer;
      encodedArgs.forEach((a, k) => {
        view().setUint32(argvPointer + 4 * k, at, true);
        bytes().set(a, at);
        bytes()[at + a.length] = 0;
        at += a.length + 1;
      });
      return 0;
    },
    fd_write(fd, iovs, iovCount, writtenPointer) {
      let written = 0;
      for (let k = 0; k < iovCount; ++k) {
        const base = view().getUint32(iovs + 8 * k, true);
        const length = view().getUint32(iovs + 8 * k + 4, true);
        if (fd === 1 || fd === 2) output(fd, bytes().slice(base, base + length));
        written += length;
      }
      view().setUint32(writtenPointer, written, true);
      return fd === 1 || fd === 2 ? 0 : ERRNO_BADF;
    },
    fd_read() { return ERRNO_BADF; },
    fd_seek() { return ERRNO_BADF; },
    fd_close() { return 0; },
    fd_fdstat_get() { return ERRNO_BADF; },
    clock_time_get(id, precision, timePointer) {
      view().setBigUint64(timePointer, BigInt(Math.round(Date.now() * 1e6)), true);
      return 0;
    },
  };
}

// Instantiates a compiled module (WebAssembly.Module) synchronously: the AudioWorklet cannot
// wait for a promise before its first render quantum.
export function instantiate(module, options = {}) {
  let instance = null;
  const memory = () => instance.exports.memory;
  const imports = {
    wasi_snapshot_preview1: wasiImports(memory, options),
    env: { emscripten_notify_memory_growth() {} },
  };
  // A system call the C library has no WASI form for (the test programs' GoogleTest asks for
  // mkdir, stat and the like) fails with ENOSYS: there is no file system here.
  for (const { module: from, name, kind } of WebAssembly.Module.imports(module)) {
    if (from === 'env' && kind === 'function' && !(name in imports.env) && name.startsWith('__syscall_')) {
      imports.env[name] = () => -52;
    }
  }
  instance = new WebAssembly.Instance(module, imports);
  return instance;
}

// Runs a program's main (a module with _start) and returns its exit status.
export function runProgram(module, options) {
  const instance = instantiate(module, options);
  try {
    instance.exports._start();
    return 0;
  } catch (error) {
    if (error instanceof WasmExit) return error.code;
    throw error;
  }
}

// A patch, or one value of it, that the engine's reader refused; the message is the CLI's.
export class PatchError extends Error {}

// fw_open's and fw_update's answer to a patch the reader refuses.
const PATCH_REFUSED = 2;

// The web host: the engine's patch reader, and one session of a patch at a time (fw_open),
// rendered frame-exactly.
export class Engine {
  constructor(module) {
    this.module = module;
    this.instance = instantiate(module);
    this.x = this.instance.exports;
    this.x._initialize();
  }

  string(pointer) {
    const bytes = new Uint8Array(this.x.memory.buffer);
    let end = pointer;
    while (bytes[end] !== 0) ++end;
    return utf8Decode(bytes.subarray(pointer, end));
  }

  // Calls `call` with the texts as C strings in the module's memory, freed afterwards.
  withStrings(texts, call) {
    const pointers = texts.map((text) => {
      const encoded = utf8Encode(text);
      const pointer = this.x.fw_alloc(encoded.length + 1);
      const bytes = new Uint8Array(this.x.memory.buffer);
      bytes.set(encoded, pointer);
      bytes[pointer + encoded.length] = 0;
      return pointer;
    });
    try {
      return call(...pointers);
    } finally {
      pointers.forEach((pointer) => this.x.fw_free(pointer));
    }
  }

  defaultPatch() { return this.string(this.x.fw_default_patch()); }
  moduleName() { return this.string(this.x.fw_module_text(0)); }
  aboutText() { return this.string(this.x.fw_module_text(2)); }
  // The patch keys: the settings, then the inputs.
  patchKeys() { return this.string(this.x.fw_patch_keys()).split(','); }

  // What the reader finds wrong with a patch text, or '' (`source` names it in the message).
  patchProblem(patchText, source) {
    return this.string(this.withStrings([patchText, source], (p, s) => this.x.fw_check_patch(p, s)));
  }

  // A patch text read as the CLI reads a patch file: its object, or a PatchError.
  readPatch(patchText, source) {
    const problem = this.patchProblem(patchText, source);
    if (problem) throw new PatchError(problem);
    return JSON.parse(patchText);
  }

  // Checks one value, written as on the command line, for `key`; a PatchError names `where`.
  checkSetting(key, text, where) {
    const problem = this.string(this.withStrings([key, text, where], (k, t, w) => this.x.fw_check_setting(k, t, w)));
    if (problem) throw new PatchError(problem);
  }

  // Checks that a patch text (over the default patch) renders whole; a PatchError names `where`.
  checkLength(patchText, where) {
    const problem = this.string(this.withStrings([patchText, where], (p, w) => this.x.fw_check_length(p, w)));
    if (problem) throw new PatchError(problem);
  }

  // A number as a patch writes one, or null.
  number(text) {
    const value = this.withStrings([text], (t) => this.x.fw_number(t));
    return Number.isNaN(value) ? null : value;
  }

  // The frequency the module plays for a constant Pitch value `pitch` (plug scale, taken in
  // single precision as the plug carries it).
  frequencyHz(pitch, voltPerKhz, rateHz) { return this.x.fw_frequency_hz(pitch, voltPerKhz ? 1 : 0, rateHz); }

  // Opens `patchText` (JSON over the CLI's default patch). rateHz 0: the patch's own rate.
  open(patchText, { rateHz = 0, loop = false, checks = true } = {}) {
    const status = this.withStrings([patchText], (p) => this.x.fw_open(p, rateHz, loop ? 1 : 0, checks ? 1 : 0));
    this.throwIfRefused(status, patchText);
    if (status !== 0) throw new Error('the module refused to create an instance');
  }

  // True when the instance was opened again (a changed rate, block size, seed or length). A
  // patch the reader refuses leaves the session playing the last one.
  update(patchText) {
    const status = this.withStrings([patchText], (p) => this.x.fw_update(p));
    this.throwIfRefused(status, patchText);
    return status === 1;
  }

  throwIfRefused(status, patchText) {
    if (status === PATCH_REFUSED) throw new PatchError(this.patchProblem(patchText, 'patch'));
  }

  // Renders `frames` frames; returns the four outputs' samples, in outputs() order (views valid
  // until the next call).
  render(frames) {
    const count = this.x.fw_render(frames);
    const buffer = this.x.memory.buffer;
    const channels = [];
    for (let c = 0; c < 4; ++c) channels.push(new Float32Array(buffer, this.x.fw_output(c), count));
    return channels;
  }

  get frames() { return this.x.fw_state(0); }
  get asleep() { return this.x.fw_state(1) === 1; }
  get sleepRequests() { return this.x.fw_state(2); }
  get processCalls() { return this.x.fw_state(3); }
  get totalFrames() { return this.x.fw_state(4); }
  get sampleRate() { return this.x.fw_state(5); }
  sleepFrames() {
    const list = this.string(this.x.fw_sleep_frames());
    return list === '' ? [] : list.split(',').map(Number);
  }
  failure() { return this.string(this.x.fw_failure()); }

  // The module's plug table (engine/patch.h's plugTableJson), in panel order: number, key, name,
  // kind, unit, range, the module's default, the built-in patch's value, choices, help.
  plugTable() { return JSON.parse(this.string(this.x.fw_plug_table())); }
  // The four outputs in the order render() hands out their channels (Ramp, Saw, Pulse, Triangle).
  outputs() { return this.plugTable().filter((plug) => plug.kind === 'output'); }
}
