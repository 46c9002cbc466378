// Runs a standalone wasm program of the web build under node through the page's own loader:
//   node tests/web/run-wasm.mjs PROGRAM.wasm [ARGS...] > OUT
// Its stdout and stderr pass through as bytes; the exit status is the program's.
import fs from 'node:fs';
import path from 'node:path';
import { runProgram } from '../../web/wasm.js';

const [file, ...args] = process.argv.slice(2);
const module = new WebAssembly.Module(fs.readFileSync(file));
const status = runProgram(module, {
  args: [path.basename(file, '.wasm'), ...args],
  output: (fd, bytes) => fs.writeSync(fd, bytes),
});
process.exitCode = status;
