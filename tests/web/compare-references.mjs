// Compares two dumps of the reference-output test's renders (tests/web/reference_dump.cpp):
//   node tests/web/compare-references.mjs NATIVE.dump WASM.dump
// Every word must be equal, with one exception the platforms are allowed: where both builds
// give a NaN, WebAssembly leaves its sign and payload open (its arithmetic may return any
// quiet NaN), so two NaNs count as the same sample and are counted apart. Prints one line per
// render that differs and a summary line; exit status 1 on any other difference.
import fs from 'node:fs';

export function readDump(file) {
  const bytes = fs.readFileSync(file);
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  if (bytes.subarray(0, 7).toString() !== 'FWREF1\n') throw new Error(`${file}: not a reference dump`);
  let at = 7;
  const word = () => { const w = view.getUint32(at, true); at += 4; return w; };
  const renders = new Map();
  const count = word();
  for (let r = 0; r < count; ++r) {
    const length = word();
    const key = bytes.subarray(at, at + length).toString();
    at += length;
    const streams = [];
    for (let s = 0; s < 5; ++s) {
      const n = word();
      streams.push(new Uint32Array(bytes.buffer.slice(bytes.byteOffset + at, bytes.byteOffset + at + 4 * n)));
      at += 4 * n;
    }
    renders.set(key, streams);
  }
  return renders;
}

const isNaN32 = (w) => (w & 0x7f800000) === 0x7f800000 && (w & 0x007fffff) !== 0;
const STREAMS = ['Ramp Out', 'Saw Out', 'Pulse Out', 'Triangle Out', 'final state'];

export function compareDumps(native, wasm) {
  const lines = [];
  let samples = 0, differing = 0, nanOnly = 0;
  if (native.size !== wasm.size) lines.push(`the dumps hold ${native.size} and ${wasm.size} renders`);
  for (const [key, streams] of native) {
    const other = wasm.get(key);
    if (!other) { lines.push(`${key}: missing from the wasm dump`); ++differing; continue; }
    streams.forEach((a, s) => {
      const b = other[s];
      let differ = 0, nan = 0;
      if (a.length !== b.length) { lines.push(`${key}: ${STREAMS[s]} has ${a.length} and ${b.length} words`); ++differing; return; }
      for (let i = 0; i < a.length; ++i) {
        if (a[i] === b[i]) continue;
        if (isNaN32(a[i]) && isNaN32(b[i])) ++nan; else ++differ;
      }
      samples += a.length;
      differing += differ;
      nanOnly += nan;
      if (differ > 0) lines.push(`${key}: ${STREAMS[s]}: ${differ} of ${a.length} words differ`);
    });
  }
  return { lines, samples, differing, nanOnly, renders: native.size };
}

if (process.argv[1] && process.argv[1].endsWith('compare-references.mjs')) {
  const result = compareDumps(readDump(process.argv[2]), readDump(process.argv[3]));
  for (const line of result.lines) console.log(line);
  console.log(`reference renders: ${result.renders} renders, ${result.samples} words compared, ` +
    `${result.differing} differ; ${result.nanOnly} NaN samples differ in sign or payload only: ` +
    `${result.differing === 0 ? 'PASS' : 'FAIL'}`);
  process.exitCode = result.differing === 0 ? 0 : 1;
}
