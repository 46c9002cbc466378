// scripts/web-render: renders a patch through the WebAssembly build under node, as `fourwave
// render` renders it through a plug-in library: the same patch format and defaults (the
// CLI's own patch reader and render loop, compiled into the wasm file), the same options, the
// same 4-channel 32-bit float WAV (Ramp, Saw, Pulse, Triangle), so that the two files can be
// compared sample for sample. The patch file and the options are read by the engine's reader in
// the wasm file, which gives the CLI's messages.
//
// Exit status: 0 done; 1 a render failed (a block check, a write); 2 bad input.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { Engine, PatchError } from '../wasm.js';
import { encodeWav } from './wav.js';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const defaultWasm = process.env.FOURWAVE_WASM || path.join(root, 'build/web/fourwave.wasm');

// The usage, with the settings and inputs the engine's plug table lists (none without one).
function usage(engine) {
  const plugs = engine ? engine.plugTable() : [];
  const settings = plugs.filter((p) => p.kind === 'setting').map((p) => `--${p.key} ${p.choices.map((c) => c.key).join('|')}`);
  const inputs = plugs.filter((p) => p.kind === 'input').map((p) => `--${p.key}`);
  return `Usage: scripts/web-render [PATCH.json] -o OUT.wav [options]

Renders a patch through the WebAssembly build (build/web/fourwave.wasm) under node: the
fourwave CLI's patch format, defaults, options and 4-channel float WAV (Ramp, Saw, Pulse,
Triangle), so that the file can be compared with 'fourwave render'.

Settings:  ${settings.join('  ')}
           --rate HZ  --block N|random  --seed N  --seconds S
Inputs (volts or a signal, as in fourwave render --help):
           ${inputs.join('  ')}
Output:    -o, --output OUT.wav   --split (four mono files)   -q, --quiet
           --wasm PATH (default: build/web/fourwave.wasm, or $FOURWAVE_WASM)`;
}

class UsageError extends Error {}

// The wasm file, from --wasm: its engine knows the patch keys that the options may name.
function wasmOption(argv) {
  let wasm = defaultWasm;
  argv.forEach((arg, i) => {
    if (arg === '--wasm' && i + 1 < argv.length) wasm = argv[i + 1];
    else if (arg.startsWith('--wasm=')) wasm = arg.slice('--wasm='.length);
  });
  return wasm;
}

function parseArguments(argv, patchKeys) {
  const options = { patchPath: '', output: '', split: false, quiet: false, values: {} };
  const valued = new Set([...patchKeys, 'output', 'wasm']);
  for (let i = 0; i < argv.length; ++i) {
    let arg = argv[i];
    if (arg === '-q' || arg === '--quiet') { options.quiet = true; continue; }
    if (arg === '--split') { options.split = true; continue; }
    let value = null;
    if (arg === '-o') arg = '--output';
    else if (arg.startsWith('-o') && !arg.startsWith('--')) { value = arg.slice(2); arg = '--output'; }
    if (arg.startsWith('--')) {
      let key = arg.slice(2);
      const equals = key.indexOf('=');
      if (equals >= 0) { value = key.slice(equals + 1); key = key.slice(0, equals); }
      if (!valued.has(key)) throw new UsageError(`the option --${key} is not one of web-render's (see --help)`);
      if (value === null) {
        if (i + 1 >= argv.length) throw new UsageError(`the option --${key} needs a value`);
        value = argv[++i];
      }
      if (key === 'output') options.output = value;
      else if (key !== 'wasm') options.values[key] = value; // the last of a repeated option counts
      continue;
    }
    if (arg.startsWith('-') && parseFloat(arg) !== parseFloat(arg)) throw new UsageError(`unknown option ${arg}`);
    if (options.patchPath) throw new UsageError(`one patch file only ('${options.patchPath}' and '${arg}')`);
    options.patchPath = arg;
  }
  if (!options.output) throw new UsageError('the option -o,--output OUT.wav is required');
  return options;
}

function splitPath(file, name) {
  const dot = file.lastIndexOf('.');
  const slash = file.lastIndexOf('/');
  if (dot >= 0 && dot > slash) return `${file.slice(0, dot)}-${name}${file.slice(dot)}`;
  return `${file}-${name}.wav`;
}

function writeAtomically(file, bytes) {
  const folder = path.dirname(file);
  if (!fs.existsSync(folder)) throw new UsageError(`${file}: the folder '${folder}' does not exist`);
  const temporary = path.join(folder, `.${path.basename(file)}.${process.pid}`);
  fs.writeFileSync(temporary, bytes);
  fs.renameSync(temporary, file);
}

function main() {
  const argv = process.argv.slice(2);
  const wasm = wasmOption(argv);
  if (argv.includes('-h') || argv.includes('--help')) {
    console.log(usage(fs.existsSync(wasm) ? new Engine(new WebAssembly.Module(fs.readFileSync(wasm))) : null));
    return 0;
  }
  if (!fs.existsSync(wasm)) {
    throw new UsageError(`${wasm}: no such file (build it with scripts/web --build-only, or give --wasm PATH)`);
  }
  const engine = new Engine(new WebAssembly.Module(fs.readFileSync(wasm)));
  const options = parseArguments(argv, engine.patchKeys());
  // The layers: the default patch (inside the wasm file), the patch file, the options (given
  // to the reader as text, as the CLI gives its option values).
  let patch = {};
  if (options.patchPath) {
    let text;
    try {
      text = fs.readFileSync(options.patchPath, 'utf8');
    } catch {
      throw new UsageError(`${options.patchPath}: cannot read the patch file`);
    }
    patch = engine.readPatch(text, options.patchPath);
  }
  for (const [key, value] of Object.entries(options.values)) {
    engine.checkSetting(key, value, `option --${key}`);
    patch[key] = value;
  }
  engine.checkLength(JSON.stringify(patch), 'option --seconds');
  const started = process.hrtime.bigint();
  engine.open(JSON.stringify(patch));
  const rate = engine.sampleRate;
  const total = engine.totalFrames;
  const channels = [0, 1, 2, 3].map(() => new Float32Array(total));
  let done = 0;
  while (done < total) {
    const block = engine.render(Math.min(8192, total - done));
    if (block[0].length === 0) break;
    for (let c = 0; c < 4; ++c) channels[c].set(block[c], done);
    done += block[0].length;
  }
  if (done < total) {
    console.error(`web-render: ${engine.failure() || 'the render stopped early'}`);
    return 1;
  }
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  if (options.split) {
    engine.outputs().forEach((output, c) => writeAtomically(splitPath(options.output, output.key), encodeWav([channels[c]], rate)));
  } else {
    writeAtomically(options.output, encodeWav(channels, rate));
  }
  if (!options.quiet) {
    const sleeps = engine.sleepFrames();
    let sleep = 'no sleep request';
    sleeps.slice(0, 4).forEach((frame, i) => {
      sleep = `${i === 0 ? 'asked to sleep at ' : `${sleep}, `}${(frame / rate).toFixed(3)} s`;
    });
    if (sleeps.length > 4) sleep += ` and ${sleeps.length - 4} more times`;
    const shapeKey = String(patch.shape ?? JSON.parse(engine.defaultPatch()).shape);
    const audio = total / rate;
    const files = options.split ? splitPath(options.output, 'ramp') + ' (and the 3 other outputs)' : options.output;
    console.error(`web-render: ${files}: ${total} frames (${audio.toFixed(3)} s at ${rate} Hz, shape ${shapeKey}) ` +
      `rendered in ${seconds.toFixed(3)} s, ${(audio / seconds).toFixed(1)}x real time; ${sleep}`);
  }
  return 0;
}

try {
  process.exitCode = main();
} catch (error) {
  if (error instanceof UsageError || error instanceof PatchError) {
    console.error(`web-render: ${error.message}`);
    process.exitCode = 2;
  } else {
    console.error(`web-render: ${error.stack || error}`);
    process.exitCode = 1;
  }
}
