// The web stage's checks (scripts/test-web): the WebAssembly build against the native SSE build,
// under node and in Debian's chromium. One line per check, then the verdict as the last line:
//   web: N passed, M failed
//
//   node tests/web/run.mjs --wasm-build DIR --native-build DIR [--only NAME]
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { spawnSync } from 'node:child_process';
import { fileURLToPath } from 'node:url';

import { Engine } from '../../web/wasm.js';
import { measureTone, ANALYSIS_FRAMES, ANALYSIS_SETTLE_FRAMES } from '../../web/analysis.js';
import { decodeWav } from '../../web/node/wav.js';
import { softLimit, KNEE, CEILING } from '../../web/limiter.js';
import { startServer } from '../../web/node/serve.mjs';
import { readDump, compareDumps } from './compare-references.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const args = process.argv.slice(2);
const option = (name, fallback) => { const i = args.indexOf(name); return i >= 0 ? args[i + 1] : fallback; };
const wasmBuild = path.resolve(root, option('--wasm-build', 'build/web'));
const nativeBuild = path.resolve(root, option('--native-build', 'build/linux-sse'));
const only = option('--only', null);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'fourwave-web-'));
const wasmFile = path.join(wasmBuild, 'fourwave.wasm');
const fourwave = path.join(nativeBuild, 'fourwave');

const results = [];
const checks = [];
const check = (name, body) => checks.push({ name, body });

function run(command, commandArgs, options = {}) {
  const result = spawnSync(command, commandArgs, { encoding: options.encoding ?? 'utf8', maxBuffer: 1 << 28, ...options });
  if (result.error) throw result.error;
  return result;
}

function mustRun(command, commandArgs, options) {
  const result = run(command, commandArgs, options);
  if (result.status !== 0) throw new Error(`${path.basename(command)} ${commandArgs.join(' ')}: exit ${result.status}: ${String(result.stderr).trim()}`);
  return result;
}

// Sample-for-sample comparison of two float WAV files: the bit patterns, every channel.
function compareWavs(a, b) {
  const x = decodeWav(fs.readFileSync(a)), y = decodeWav(fs.readFileSync(b));
  if (x.rate !== y.rate || x.channels.length !== y.channels.length) return `rate or channels differ (${x.rate}/${x.channels.length} against ${y.rate}/${y.channels.length})`;
  let differ = 0, samples = 0, first = -1;
  x.channels.forEach((channel, c) => {
    const p = new Uint32Array(channel.buffer), q = new Uint32Array(y.channels[c].buffer);
    if (p.length !== q.length) { differ += Math.abs(p.length - q.length); return; }
    samples += p.length;
    for (let i = 0; i < p.length; ++i) if (p[i] !== q[i]) { ++differ; if (first < 0) first = i; }
  });
  return differ === 0 ? { samples } : `${differ} samples differ (first at frame ${first})`;
}

const webRender = (argv) => run(process.execPath, [path.join(root, 'web/node/render.mjs'), ...argv],
  { env: { ...process.env, FOURWAVE_WASM: wasmFile } });

// --- node: renders against the native build ---------------------------------------------------

const examples = fs.readdirSync(path.join(root, 'examples')).filter((f) => f.endsWith('.json')).sort();
for (const example of examples) {
  check(`render ${example} equals fourwave render`, () => {
    const name = example.replace(/\.json$/, '');
    const patch = path.join(root, 'examples', example);
    mustRun(fourwave, ['render', patch, '-o', path.join(work, `${name}-native.wav`), '-q']);
    const web = webRender([patch, '-o', path.join(work, `${name}-web.wav`), '-q']);
    if (web.status !== 0) throw new Error(`web-render: exit ${web.status}: ${web.stderr.trim()}`);
    const result = compareWavs(path.join(work, `${name}-native.wav`), path.join(work, `${name}-web.wav`));
    if (typeof result === 'string') throw new Error(result);
    return `${result.samples} samples equal`;
  });
}

check('render with options over the default patch equals fourwave render', () => {
  const options = ['--block', 'random', '--seed', '7', '--shape', 'bright', '--pitch=-1:8', '--sync', 'pulse:310:10:0.1',
    '--sync-threshold', '4', '--seconds', '1.5', '--rate', '44100', '--fm', 'half'];
  mustRun(fourwave, ['render', '-o', path.join(work, 'options-native.wav'), '-q', ...options]);
  const web = webRender(['-o', path.join(work, 'options-web.wav'), '-q', ...options]);
  if (web.status !== 0) throw new Error(`web-render: exit ${web.status}: ${web.stderr.trim()}`);
  const result = compareWavs(path.join(work, 'options-native.wav'), path.join(work, 'options-web.wav'));
  if (typeof result === 'string') throw new Error(result);
  return `${result.samples} samples equal`;
});

check('bad patches and options are refused as fourwave render refuses them', () => {
  const bad = {
    'unknown-key.json': '{"pitch": 5, "pitchh": 3}',
    'bad-shape.json': '{"shape": "round"}',
    'bad-signal.json': '{"sync": "pulse:100:10:1.5"}',
    'bad-gate.json': '{"active": "gate:0.5-0.2"}',
    'bad-rate.json': '{"rate": 44100.5}',
    'bad-block.json': '{"block": 5000}',
    'bad-seconds.json': '{"seconds": 0}',
    'not-object.json': '[1, 2]',
    'bad-number.json': '{"pitch": "0x10"}',
  };
  const mismatches = [];
  for (const [file, text] of Object.entries(bad)) {
    const patch = path.join(work, file);
    fs.writeFileSync(patch, text);
    const native = run(fourwave, ['render', patch, '-o', path.join(work, 'bad.wav'), '-q']);
    const web = webRender([patch, '-o', path.join(work, 'bad.wav'), '-q']);
    const nativeMessage = native.stderr.trim().replace(/^fourwave: /, '');
    const webMessage = web.stderr.trim().replace(/^web-render: /, '');
    if (native.status !== 2 || web.status !== 2 || nativeMessage !== webMessage) {
      mismatches.push(`${file}: fourwave ${native.status} "${nativeMessage}", web-render ${web.status} "${webMessage}"`);
    }
  }
  if (mismatches.length) throw new Error(mismatches.join('; '));
  return `${Object.keys(bad).length} patches, the same exit status 2 and message`;
});

check("the reference-output test's renders equal the native ones", () => {
  const native = path.join(work, 'reference-native.dump');
  const wasm = path.join(work, 'reference-wasm.dump');
  fs.writeFileSync(native, mustRun(path.join(nativeBuild, 'fourwave_reference_dump'), [], { encoding: 'buffer' }).stdout);
  fs.writeFileSync(wasm, mustRun(process.execPath, [path.join(root, 'tests/web/run-wasm.mjs'),
    path.join(wasmBuild, 'fourwave_reference_dump.wasm')], { encoding: 'buffer' }).stdout);
  const result = compareDumps(readDump(native), readDump(wasm));
  if (result.differing > 0) throw new Error(result.lines.slice(0, 5).join('; '));
  return `${result.renders} renders, ${result.samples} words equal; ${result.nanOnly} NaN samples differ in sign or payload only`;
});

check("the DLL comparison's patch set equals the native one (pow reported)", () => {
  const native = path.join(work, 'patches-native.dump');
  const wasm = path.join(work, 'patches-wasm.dump');
  mustRun(path.join(nativeBuild, 'fourwave_patch_dump'), ['--plugin', path.join(nativeBuild, 'fourwave_sse.so'), '--out', native]);
  fs.writeFileSync(wasm, mustRun(process.execPath, [path.join(root, 'tests/web/run-wasm.mjs'),
    path.join(wasmBuild, 'fourwave_patch_dump.wasm'), '--plugin', 'fourwave_sse.wasm', '--out', '/dev/stdout'],
  { encoding: 'buffer' }).stdout);
  const compared = run(path.join(nativeBuild, 'fourwave_patch_dump'), ['--compare', native, wasm, '--flavour', 'sse']);
  const summary = compared.stdout.trim().split('\n').pop();
  if (compared.status !== 0) throw new Error(compared.stdout.trim());
  return summary;
});

check('the alias-to-signal ratio equals fourwave analyze', () => {
  const shapes = ['perfect', 'medium'];
  const pitches = [5, 8.5];
  const csv = path.join(work, 'alias.csv');
  mustRun(fourwave, ['analyze', '--shapes', shapes.join(','), '--pitches', pitches.join(','), '--csv', csv]);
  const rows = fs.readFileSync(csv, 'utf8').trim().split('\n').slice(1).map((l) => l.split(','));
  const engine = new Engine(new WebAssembly.Module(fs.readFileSync(wasmFile)));
  let worst = 0, compared = 0;
  for (const shape of shapes) {
    for (const volts of pitches) {
      engine.open(JSON.stringify({ shape, pitch: volts, seconds: (ANALYSIS_SETTLE_FRAMES + ANALYSIS_FRAMES) / 48000 }));
      const total = engine.totalFrames;
      const channels = [0, 1, 2, 3].map(() => new Float32Array(total));
      for (let done = 0; done < total;) {
        const block = engine.render(Math.min(8192, total - done));
        channels.forEach((channel, c) => channel.set(block[c], done));
        done += block[0].length;
      }
      const hz = engine.frequencyHz(Math.fround(volts / 10), false, 48000);
      ['ramp', 'saw', 'pulse', 'triangle'].forEach((output, c) => {
        const row = rows.find((r) => r[0] === shape && Number(r[1]) === volts && r[3] === output);
        if (!row) throw new Error(`no analyze row for ${shape} ${volts} ${output}`);
        const m = measureTone(channels[c].subarray(ANALYSIS_SETTLE_FRAMES), hz, 48000);
        worst = Math.max(worst, Math.abs(m.aliasToSignalDb - Number(row[4])), Math.abs(m.dcVolts - Number(row[5])));
        ++compared;
      });
    }
  }
  if (!(worst < 1e-3)) throw new Error(`the page's measurement differs from analyze's by ${worst}`);
  return `${compared} measurements, at most ${worst.toExponential(1)} dB or V apart`;
});

check('a 128-frame render quantum stays far below its 2.7 ms budget', () => {
  const patches = [['{}', 'default'], ['{"shape":"perfect","pitch":5}', 'perfect'], ['{"shape":"dark","pitch":8,"fm":"on","pm":"on"}', 'dark-fm-pm']];
  const repeats = 30;
  const native = mustRun(path.join(nativeBuild, 'fourwave_quantum_cost'), [String(repeats), ...patches.flat()]).stdout.trim()
    .split('\n').map((l) => l.split(' '));
  const engine = new Engine(new WebAssembly.Module(fs.readFileSync(wasmFile)));
  const figures = [];
  let worst = 0;
  for (const [patch, name] of patches) {
    engine.open(patch, { rateHz: 48000, loop: true, checks: false });
    for (let i = 0; i < 200; ++i) engine.x.fw_render(128);
    // The fastest of several short runs, as the native side measures it.
    let fastest = Infinity;
    for (let r = 0; r < repeats; ++r) {
      const started = process.hrtime.bigint();
      for (let i = 0; i < 200; ++i) engine.x.fw_render(128);
      fastest = Math.min(fastest, Number(process.hrtime.bigint() - started) / 1e9);
    }
    const ns = (fastest * 1e9) / (200 * 128);
    const nativeNs = Number(native.find((r) => r[0] === name)[1]);
    worst = Math.max(worst, (ns * 128) / 1e6);
    figures.push(`${name} ${ns.toFixed(0)} ns/sample (native ${nativeNs.toFixed(0)}, x${(ns / nativeNs).toFixed(2)})`);
  }
  fs.writeFileSync(path.join(root, 'build/web-cost.txt'), `${figures.join('\n')}\n`);
  // A tenth of the budget leaves room for a slower machine and the page's own work.
  if (!(worst < 0.27)) throw new Error(`a quantum took ${worst.toFixed(3)} ms: ${figures.join('; ')}`);
  return `quantum at most ${(worst * 1000).toFixed(0)} us; ${figures.join('; ')}`;
});

check("the monitor's soft limiter keeps every mix below full scale", () => {
  // Every sum the mix can make: four outputs of up to 2.0 (20 V), at 0 dB, and far beyond.
  const values = [];
  for (let x = -200; x <= 200; x += 0.001) values.push(x);
  values.push(1e30, -1e30, Infinity, -Infinity, NaN, 8, -8);
  let previous = -Infinity, worst = 0;
  for (const x of values.slice(0, -7)) {
    const y = softLimit(x);
    if (!(y >= previous)) throw new Error(`not monotonic at ${x}`);
    if (Math.abs(x) <= KNEE && y !== x) throw new Error(`changes ${x} below the knee`);
    previous = y;
  }
  for (const x of values) worst = Math.max(worst, Math.abs(softLimit(x)));
  if (!(worst <= CEILING) || !Number.isFinite(worst)) throw new Error(`reaches ${worst}`);
  if (softLimit(NaN) !== 0) throw new Error('NaN is not silenced');
  return `identity up to ${KNEE}, monotonic, never above ${CEILING} (at most ${worst.toFixed(6)})`;
});

// --- chromium ----------------------------------------------------------------------------------

let browser = null, server = null, page = null, base = '';
const consoleErrors = [];

async function openBrowser() {
  const puppeteer = (await import('puppeteer-core')).default;
  server = await startServer({ port: 0, wasm: wasmFile });
  base = `http://127.0.0.1:${server.address().port}/`;
  browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    userDataDir: fs.mkdtempSync(path.join(os.tmpdir(), 'fourwave-chromium-')),
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'],
  });
  page = await browser.newPage();
  page.on('console', (message) => { if (message.type() === 'error') consoleErrors.push(message.text()); });
  page.on('pageerror', (error) => consoleErrors.push(error.message));
  page.on('requestfailed', (request) => consoleErrors.push(`request failed: ${request.url()}`));
  page.on('response', (response) => { if (response.status() >= 400) consoleErrors.push(`${response.status()}: ${response.url()}`); });
  await page.setViewport({ width: 1280, height: 900 });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

check('chromium: the page loads from the local server with no console errors', async () => {
  await openBrowser();
  await page.goto(base, { waitUntil: 'load' });
  await page.waitForFunction(() => window.fourwave && window.fourwave.ready, { timeout: 20000 });
  const notice = await page.$eval('#audio-notice', (e) => (e.hidden ? '' : e.textContent));
  if (!/click/.test(notice)) throw new Error(`no notice that audio waits for a click: '${notice}'`);
  if (consoleErrors.length) throw new Error(consoleErrors.join('; '));
  return 'loaded; the page says audio waits for a click';
});

check('chromium: an OfflineAudioContext render through the worklet equals the native render', async () => {
  const patch = JSON.parse(fs.readFileSync(path.join(root, 'examples/hard-sync.json'), 'utf8'));
  patch.seconds = 0.5;
  const file = path.join(work, 'offline.json');
  fs.writeFileSync(file, JSON.stringify(patch));
  mustRun(fourwave, ['render', file, '-o', path.join(work, 'offline-native.wav'), '-q']);
  const native = decodeWav(fs.readFileSync(path.join(work, 'offline-native.wav')));
  const frames = native.channels[0].length;
  const rendered = await page.evaluate((text, n) => window.fourwave.renderOffline(text, n), JSON.stringify(patch), frames);
  let differ = 0;
  native.channels.forEach((channel, c) => {
    const bits = new Uint32Array(channel.buffer);
    for (let i = 0; i < frames; ++i) if (bits[i] !== rendered[c][i] >>> 0) ++differ;
  });
  if (differ) throw new Error(`${differ} of ${4 * frames} samples differ`);
  return `${4 * frames} samples equal (hard-sync, 0.5 s)`;
});

check('chromium: audio starts on a click and changing Shape changes the spectrum', async () => {
  await page.click('#audio-button');
  await page.waitForFunction(() => window.fourwave.context && window.fourwave.context.state === 'running', { timeout: 10000 });
  // A steady tone at 5 V (440 Hz), every output, shape Perfect; then Dark, whose softened
  // edges put far less energy high up and far less aliasing below (fourwave analyze:
  // about -20 dB against -50 dB).
  await page.evaluate(() => {
    const input = document.getElementById('volts-pitch');
    input.value = '5';
    input.dispatchEvent(new Event('change'));
    for (const name of ['ramp', 'pulse', 'triangle']) document.getElementById(`hear-${name}`).click();
  });
  const settle = async () => {
    const start = await page.evaluate(() => window.fourwave.written);
    await page.waitForFunction((s) => window.fourwave.written > s + 72000, { timeout: 20000 }, start);
    await sleep(700); // the ratio is measured twice a second
    return page.evaluate(() => ({
      spectra: window.fourwave.spectra.map((s) => Array.from(s)),
      alias: window.fourwave.alias.map((m) => m && m.aliasToSignalDb),
      rate: window.fourwave.rate,
    }));
  };
  await page.select('#setting-shape', 'perfect');
  const before = await settle();
  await page.select('#setting-shape', 'dark');
  const after = await settle();
  const highBand = (spectrum, rate) => {
    const bin = Math.round((8000 / rate) * 8192);
    let sum = 0;
    for (let k = bin; k < spectrum.length; ++k) sum += 10 ** (spectrum[k] / 10);
    return 10 * Math.log10(sum + 1e-30);
  };
  const drops = before.spectra.map((s, c) => highBand(s, before.rate) - highBand(after.spectra[c], after.rate));
  const aliasDrops = before.alias.map((a, c) => a - after.alias[c]);
  const shown = (list) => list.map((d) => d.toFixed(1)).join(', ');
  // Triangle has no edges to soften: only the other three must fall.
  if (!drops.slice(0, 3).every((d) => d > 6) || !aliasDrops.slice(0, 3).every((d) => d > 10)) {
    throw new Error(`Perfect to Dark: energy above 8 kHz fell by ${shown(drops)} dB, alias to signal by ${shown(aliasDrops)} dB`);
  }
  return `Perfect to Dark at 440 Hz: energy above 8 kHz fell by ${shown(drops)} dB, alias to signal by ${shown(aliasDrops)} dB (Ramp, Saw, Pulse, Triangle)`;
});

check('chromium: a gate release leads to the sleep request, and the page shows it', async () => {
  const requests = await page.evaluate(() => window.fourwave.sleepRequests);
  // Keyboard only: a note on the A key opens the gate with the latch off, its release closes it.
  await page.evaluate(() => { document.activeElement && document.activeElement.blur(); });
  await page.click('#latch');
  await page.evaluate(() => document.activeElement.blur());
  // The space bar holds the gate open while it is down.
  await page.keyboard.down(' ');
  await sleep(150);
  const held = await page.evaluate(() => window.fourwave.patch.active);
  await page.keyboard.up(' ');
  const released = await page.evaluate(() => window.fourwave.patch.active);
  if (held !== 10 || released !== 0) throw new Error(`the space bar set Active to ${held} V, its release to ${released} V`);
  await page.keyboard.down('a');
  await sleep(300);
  const pitch = await page.evaluate(() => window.fourwave.patch.pitch);
  if (pitch !== 4.25) throw new Error(`the A key set Pitch to ${pitch}, not 4.25 V`);
  await page.keyboard.up('a');
  await page.waitForFunction((r) => window.fourwave.asleep && window.fourwave.sleepRequests > r, { timeout: 10000 }, requests);
  await page.waitForFunction(() => /asleep/.test(document.getElementById('run-state').textContent), { timeout: 5000 });
  const calls = await page.evaluate(() => window.fourwave.processCalls);
  await sleep(400);
  const later = await page.evaluate(() => window.fourwave.processCalls);
  if (later !== calls) throw new Error(`still processed while asleep (${calls} then ${later} process calls)`);
  const text = await page.$eval('#sleep-state', (e) => e.textContent);
  return `Space and the A key gate Active; asleep after the release, no process calls meanwhile; "${text.slice(0, 60)}..."`;
});

check('chromium: a link carries the patch', async () => {
  const link = await page.evaluate(() => location.href);
  const other = await browser.newPage();
  await other.goto(link.replace(/#.*/, '') + '#' + link.split('#')[1], { waitUntil: 'load' });
  await other.waitForFunction(() => window.fourwave && window.fourwave.ready, { timeout: 20000 });
  const shape = await other.$eval('#setting-shape', (e) => e.value);
  const pitch = await other.$eval('#volts-pitch', (e) => e.value);
  await other.close();
  if (shape !== 'dark' || pitch !== '4.25') throw new Error(`the link opened shape ${shape}, pitch ${pitch}`);
  return 'shape dark and Pitch 4.25 V from the link';
});

check('chromium: screenshots written under build/', async () => {
  // A steady Perfect 2 tone inside its crossfade band, measured.
  await page.click('#latch');
  await page.select('#setting-shape', 'perfect2');
  await page.evaluate(() => {
    const input = document.getElementById('volts-pitch');
    input.value = '6.2';
    input.dispatchEvent(new Event('change'));
  });
  const start = await page.evaluate(() => window.fourwave.written);
  await page.waitForFunction((s) => window.fourwave.written > s + 72000, { timeout: 20000 }, start);
  await sleep(700);
  const wide = path.join(root, 'build/web-page.png');
  const narrow = path.join(root, 'build/web-page-narrow.png');
  await page.screenshot({ path: wide, fullPage: true });
  await page.setViewport({ width: 390, height: 844 });
  await sleep(300);
  await page.screenshot({ path: narrow, fullPage: true });
  const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
  if (overflow > 0) throw new Error(`the narrow page is ${overflow} px wider than the screen`);
  if (consoleErrors.length) throw new Error(consoleErrors.join('; '));
  return `${path.relative(root, wide)}, ${path.relative(root, narrow)} (no horizontal scrolling at 390 px)`;
});

// --- the run -----------------------------------------------------------------------------------

for (const { name, body } of checks) {
  if (only && !name.includes(only)) continue;
  const started = Date.now();
  try {
    const detail = await body();
    results.push(true);
    console.log(`ok   ${name}: ${detail} (${((Date.now() - started) / 1000).toFixed(1)} s)`);
  } catch (error) {
    results.push(false);
    console.log(`FAIL ${name}: ${error.message}`);
  }
}
if (browser) await browser.close();
if (server) server.close();
fs.rmSync(work, { recursive: true, force: true });
const passed = results.filter(Boolean).length;
console.log(`web: ${passed} passed, ${results.length - passed} failed`);
process.exitCode = passed === results.length ? 0 : 1;
