// The page: builds the controls from the module's plug table (through the wasm module), keeps the
// patch (the fourwave CLI's JSON), runs the module in an AudioWorklet, and draws the scope and
// the spectrum from the samples the worklet produced.
import { Engine } from './wasm.js';
import { powerSpectrum, measureTone, ANALYSIS_FRAMES, ANALYSIS_SETTLE_FRAMES } from './analysis.js';

const $ = (id) => document.getElementById(id);
// Each output's colour, the style sheet's --ramp, --saw, ... by the output's key.
const colorOf = (output) => getComputedStyle(document.documentElement).getPropertyValue(`--${output.key}`).trim();
// Saw Out alone is heard at first.
const FIRST_HEARD = 'saw';
const VOLTS_STEP = 0.01;
const HISTORY = ANALYSIS_FRAMES;
const SPECTRUM_FRAMES = 8192;
const NOTE_KEYS = 'awsedftgyhujk';
const SIGNAL_SUGGESTIONS = {
  pitch: ['2:9', 'exp:2:9', 'sine:0.5:4:6', 'square:2:4:5'],
  width: ['0.5:9.5', 'sine:0.3:1:9'],
  sync: ['pulse:220:10:0.1', 'pulse:330', 'square:110:0:10'],
  'sync-threshold': ['0:10', 'sine:0.2:2:8'],
  'sync-advance': ['-20:20', 'sine:0.2:0:10'],
  phase: ['sine:220:0:10', 'square:110:0:10', '0:10'],
  'phase-mod': ['0:10', 'sine:0.5:0:10'],
  active: ['gate:0.1-0.4,0.7-0.9', 'square:2:0:10', 'pulse:4:10:0.25'],
  level: ['-10:10', 'sine:0.5:-5:5', 'square:4:0:5', 'exp:0.1:10'],
};

const state = {
  wasm: null, module: null, engine: null, defaults: {}, settings: [], inputs: [], outputs: [], colors: [],
  patch: {}, context: null, node: null, rate: 48000,
  history: [0, 1, 2, 3].map(() => new Float32Array(HISTORY)), written: 0,
  asleep: false, sleepRequests: 0, processCalls: 0, limited: 0, peak: 0,
  spectra: [null, null, null, null], alias: [null, null, null, null], lastAlias: 0,
  gateHeld: 0, octave: 4, notes: new Set(), errors: [], changedAt: 0,
};
window.fourwave = state; // for the browser test and the curious

// ---------------------------------------------------------------------------------------------
// The patch

function showError(message) {
  const box = $('patch-error');
  box.hidden = !message;
  box.textContent = message || '';
}

function patchText(patch = state.patch) { return JSON.stringify(patch, null, 2); }

// The current patch, as the worklet and the CLI read it; `fromText` keeps the textarea as typed.
function patchChanged({ fromText = false } = {}) {
  const problem = state.engine.patchProblem(JSON.stringify(state.patch), 'the patch');
  if (problem) {
    showError(problem);
    return false;
  }
  showError('');
  if (!fromText) $('patch-text').value = patchText();
  const encoded = encodePatch(state.patch);
  history.replaceState(null, '', `#patch=${encoded}`);
  if (state.node) state.node.port.postMessage({ type: 'patch', patch: JSON.stringify(state.patch) });
  state.changedAt = state.written;
  return true;
}

function encodePatch(patch) {
  const bytes = new TextEncoder().encode(JSON.stringify(patch));
  let binary = '';
  bytes.forEach((b) => { binary += String.fromCharCode(b); });
  return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function decodePatch(text) {
  const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
  return new TextDecoder().decode(Uint8Array.from(binary, (c) => c.charCodeAt(0)));
}

// A whole new patch (an example, a file, the URL, the textarea): over the CLI's defaults.
function loadPatch(text, source) {
  let patch;
  try {
    patch = state.engine.readPatch(text, source);
  } catch (error) {
    showError(error.message);
    return false;
  }
  state.patch = { ...state.defaults, ...patch };
  delete state.patch.rate; // the audio context's rate is the patch's rate here
  refreshControls();
  return patchChanged();
}

// ---------------------------------------------------------------------------------------------
// Controls

function value(key) { return state.patch[key] ?? state.defaults[key]; }

function buildControls() {
  const settings = $('settings');
  for (const { key, name, choices } of state.settings) {
    const wrapper = document.createElement('label');
    wrapper.textContent = name;
    const select = document.createElement('select');
    select.id = `setting-${key}`;
    for (const choice of choices) select.add(new Option(choice.label, choice.key));
    select.addEventListener('change', () => { state.patch[key] = select.value; patchChanged(); });
    wrapper.append(select);
    settings.append(wrapper);
  }
  const body = $('inputs');
  for (const input of state.inputs) {
    const row = body.insertRow();
    const name = row.insertCell();
    const labelled = document.createElement('label');
    labelled.htmlFor = `volts-${input.key}`;
    labelled.textContent = input.name;
    const range = document.createElement('span');
    range.className = 'range';
    range.textContent = `${input.minimum} to ${input.maximum} ${input.unit}`;
    name.append(labelled, range);
    name.title = input.help;

    const volts = row.insertCell();
    volts.className = 'volts';
    const slider = document.createElement('input');
    Object.assign(slider, { type: 'range', min: input.minimum, max: input.maximum, step: VOLTS_STEP, id: `slider-${input.key}` });
    slider.setAttribute('aria-label', `${input.name} in volts`);
    slider.tabIndex = -1; // the number field is the keyboard's way in; arrows work on it too
    const number = document.createElement('input');
    Object.assign(number, { type: 'number', step: VOLTS_STEP, id: `volts-${input.key}` });
    number.setAttribute('aria-describedby', `signal-${input.key}`);
    volts.append(slider, number);

    const signalCell = row.insertCell();
    const signal = document.createElement('input');
    Object.assign(signal, { type: 'text', id: `signal-${input.key}`, className: 'signal', placeholder: 'constant', spellcheck: false });
    signal.setAttribute('aria-label', `${input.name} as a signal`);
    // A few signals to start from, offered as the field's suggestions.
    const suggestions = document.createElement('datalist');
    suggestions.id = `signals-${input.key}`;
    for (const text of SIGNAL_SUGGESTIONS[input.key] ?? SIGNAL_SUGGESTIONS.level) suggestions.append(new Option(text));
    signal.setAttribute('list', suggestions.id);
    signalCell.append(signal, suggestions);

    const setVolts = (v) => {
      state.patch[input.key] = v;
      signal.value = '';
      signal.classList.remove('invalid');
      if (input.key === 'active') $('latch').checked = v !== 0;
      patchChanged();
    };
    slider.addEventListener('input', () => { number.value = slider.value; setVolts(Number(slider.value)); });
    number.addEventListener('change', () => {
      const v = state.engine.number(number.value);
      if (v === null) return;
      slider.value = String(v);
      setVolts(v);
    });
    signal.addEventListener('change', () => {
      const text = signal.value.trim();
      if (text === '') { setVolts(Number(number.value)); return; }
      try {
        state.engine.checkSetting(input.key, text, input.name);
        signal.classList.remove('invalid');
        state.patch[input.key] = text;
        patchChanged();
      } catch (error) {
        signal.classList.add('invalid');
        showError(error.message);
      }
    });
  }
  const outputs = $('output-choices');
  state.outputs.forEach((output, c) => {
    const item = document.createElement('label');
    const box = document.createElement('input');
    Object.assign(box, { type: 'checkbox', id: `hear-${output.key}`, checked: output.key === FIRST_HEARD });
    box.addEventListener('change', sendMix);
    const swatch = document.createElement('span');
    swatch.className = 'swatch';
    swatch.style.background = state.colors[c];
    item.append(box, swatch, output.name);
    outputs.append(item);
  });
  $('master').addEventListener('input', () => { $('master-value').textContent = `${$('master').value} dB`; sendMix(); });
  $('seconds').addEventListener('change', () => {
    const v = state.engine.number($('seconds').value);
    if (v !== null) { state.patch.seconds = v; patchChanged(); }
  });
  $('block').addEventListener('change', () => {
    const text = $('block').value.trim();
    state.patch.block = text === 'random' ? 'random' : Number(text);
    patchChanged();
  });
}

function refreshControls() {
  for (const { key } of state.settings) $(`setting-${key}`).value = value(key);
  for (const input of state.inputs) {
    const v = value(input.key);
    const constant = typeof v === 'number' ? v : state.engine.number(String(v));
    $(`signal-${input.key}`).value = constant === null ? String(v) : '';
    $(`signal-${input.key}`).classList.remove('invalid');
    const shown = constant === null ? 0 : constant;
    $(`volts-${input.key}`).value = String(shown);
    $(`slider-${input.key}`).value = String(shown);
  }
  $('seconds').value = String(value('seconds'));
  $('block').value = String(value('block'));
  const active = value('active');
  $('latch').checked = !(active === 0 || active === '0');
}

function sendMix() {
  if (!state.node) return;
  const gains = state.outputs.map((output) => ($(`hear-${output.key}`).checked ? 1 : 0));
  const master = 10 ** (Number($('master').value) / 20);
  state.node.port.postMessage({ type: 'mix', gains, master });
}

// ---------------------------------------------------------------------------------------------
// Gate and notes

function gate(open) {
  state.patch.active = open || $('latch').checked ? 10 : 0;
  $('gate-button').setAttribute('aria-pressed', String(open));
  $('volts-active').value = String(state.patch.active);
  $('slider-active').value = String(state.patch.active);
  $('signal-active').value = '';
  patchChanged();
}

function typing(target) {
  return target instanceof HTMLTextAreaElement || target instanceof HTMLSelectElement ||
    (target instanceof HTMLInputElement && !['checkbox', 'range', 'button'].includes(target.type));
}

function bindKeys() {
  const button = $('gate-button');
  button.addEventListener('pointerdown', () => gate(true));
  for (const event of ['pointerup', 'pointerleave', 'pointercancel']) {
    button.addEventListener(event, () => { if (button.getAttribute('aria-pressed') === 'true') gate(false); });
  }
  button.addEventListener('keydown', (e) => { if (e.key === 'Enter' && !e.repeat) gate(true); });
  button.addEventListener('keyup', (e) => { if (e.key === 'Enter') gate(false); });
  $('latch').addEventListener('change', () => gate(false));
  document.addEventListener('keydown', (e) => {
    if (typing(e.target) || e.ctrlKey || e.metaKey || e.altKey) return;
    const key = e.key.toLowerCase();
    if (key === 'escape') { document.activeElement?.blur(); return; }
    if (key === ' ') {
      // On a button, checkbox or other control the space bar keeps its own meaning.
      if (e.target.closest && e.target.closest('button, input, select, textarea, summary, a, label')) return;
      e.preventDefault();
      if (!e.repeat) gate(true);
    } else if (NOTE_KEYS.includes(key) && key.length === 1) {
      if (e.repeat) return;
      state.notes.add(key);
      const semitone = NOTE_KEYS.indexOf(key);
      // 1 V/octave, 5 V = A4 (440 Hz): C of octave n is n + 1/4 V.
      const volts = Math.round((state.octave + 0.25 + semitone / 12) * 10000) / 10000;
      state.patch.pitch = volts;
      $('volts-pitch').value = String(volts);
      $('slider-pitch').value = String(volts);
      $('signal-pitch').value = '';
      gate(true);
    } else if (key === 'z' || key === 'x') {
      state.octave = Math.min(8, Math.max(0, state.octave + (key === 'x' ? 1 : -1)));
      $('octave').textContent = String(state.octave);
    }
  });
  document.addEventListener('keyup', (e) => {
    const key = e.key.toLowerCase();
    if (key === ' ' && $('gate-button').getAttribute('aria-pressed') === 'true') { e.preventDefault(); gate(false); }
    if (state.notes.delete(key) && state.notes.size === 0) gate(false);
  });
}

// ---------------------------------------------------------------------------------------------
// Audio

async function startAudio() {
  if (state.context) {
    if (state.context.state === 'running') {
      await state.context.suspend();
    } else {
      await state.context.resume();
    }
    updateAudioState();
    return;
  }
  const context = new AudioContext({ latencyHint: 'interactive' });
  state.context = context;
  state.rate = context.sampleRate;
  context.addEventListener('statechange', updateAudioState);
  await context.audioWorklet.addModule('worklet.js');
  const node = new AudioWorkletNode(context, 'fourwave', {
    numberOfInputs: 0, numberOfOutputs: 2, outputChannelCount: [2, 4],
    processorOptions: { wasm: state.wasm, patch: JSON.stringify(state.patch), loop: true },
  });
  node.port.onmessage = (event) => receive(event.data);
  node.onprocessorerror = () => showError('The audio worklet stopped with an error; reload the page.');
  node.connect(context.destination, 0);
  state.node = node;
  sendMix();
  updateAudioState();
}

function updateAudioState() {
  const context = state.context;
  const notice = $('audio-notice');
  const button = $('audio-button');
  if (!context) {
    notice.hidden = false;
    notice.textContent = 'Audio is off: browsers play sound only after a click or a key press on the page. ' +
      'Press "Start audio" (or Enter on it) to hear the oscillator.';
    return;
  }
  if (context.state === 'running') {
    notice.hidden = true;
    button.textContent = 'Pause audio';
  } else {
    notice.hidden = false;
    notice.textContent = context.state === 'suspended'
      ? 'The browser holds audio back until you click: press "Start audio" to hear the oscillator.'
      : `Audio is ${context.state}.`;
    button.textContent = 'Start audio';
  }
  updateRunState();
}

function updateRunState() {
  const pill = $('run-state');
  if (!state.context || state.context.state !== 'running') {
    pill.className = 'pill idle';
    pill.textContent = state.context ? 'audio paused' : 'not started';
  } else if (state.asleep) {
    pill.className = 'pill asleep';
    pill.textContent = 'asleep: not processed';
  } else {
    pill.className = 'pill running';
    pill.textContent = `running at ${state.rate} Hz`;
  }
  $('sleep-state').textContent = state.context
    ? (state.asleep
      ? `Active is 0 V: the instance wound down, asked to sleep (${state.sleepRequests} requests so far) and is no longer processed; its outputs hold. Open the gate to wake it.`
      : `Processed: ${state.processCalls} process calls, ${state.sleepRequests} sleep requests so far.`)
    : '';
  $('limiter').textContent = state.limited > 0 ? `The limiter is working (peak ${state.peak.toFixed(2)}).` : '';
}

function receive(message) {
  if (message.type === 'samples') {
    const n = message.samples[0].length;
    for (let c = 0; c < 4; ++c) {
      const h = state.history[c];
      h.copyWithin(0, n);
      h.set(message.samples[c], HISTORY - n);
    }
    state.written += n;
    if (message.asleep !== state.asleep) state.changedAt = state.written;
    state.asleep = message.asleep;
    state.sleepRequests = message.sleepRequests;
    state.processCalls = message.processCalls;
    state.limited = message.limited;
    state.peak = message.peak;
  } else if (message.type === 'error') {
    showError(message.message);
  }
}

// ---------------------------------------------------------------------------------------------
// Scope and spectrum

// The canvas's 2D context, sized to its box and cleared; also its size in pixels.
function canvasContext(id) {
  const canvas = $(id);
  const ratio = window.devicePixelRatio || 1;
  const width = Math.round(canvas.clientWidth * ratio), height = Math.round(canvas.clientWidth * ratio * 0.3);
  if (canvas.width !== width || canvas.height !== height) { canvas.width = width; canvas.height = height; }
  const g = canvas.getContext('2d');
  g.lineWidth = Math.max(1, ratio * 1.25);
  g.fillStyle = '#0a0d10';
  g.fillRect(0, 0, width, height);
  return { g, width, height };
}

// The frequency being played, for a steady Pitch; null while Pitch moves.
function steadyFrequency() {
  const pitch = value('pitch');
  const volts = typeof pitch === 'number' ? pitch : state.engine.number(String(pitch));
  if (volts === null) return null;
  return state.engine.frequencyHz(volts / 10, value('freq-scale') === 'khz', state.rate);
}

// The last cycle start: the Ramp or Saw output's jump back (the phase wrap), else a rising
// zero crossing of the first output that moves.
function triggerIndex(span) {
  const end = HISTORY - span - 1;
  const start = Math.max(1, end - Math.min(HISTORY / 2, 4 * span));
  for (const c of [0, 1]) {
    const h = state.history[c];
    let range = 0;
    for (let i = start; i < HISTORY; i += 7) range = Math.max(range, Math.abs(h[i]));
    if (range < 1e-4) continue;
    const sign = c === 0 ? -1 : 1; // Ramp falls at the wrap, Saw rises
    for (let i = end; i > start; --i) if (sign * (h[i] - h[i - 1]) > range) return i;
  }
  for (let c = 0; c < 4; ++c) {
    const h = state.history[c];
    for (let i = end; i > start; --i) if (h[i - 1] < 0 && h[i] >= 0) return i;
  }
  return end;
}

function drawScope() {
  const { g, width, height } = canvasContext('scope');
  g.strokeStyle = '#1f2830';
  g.beginPath();
  for (let v = -10; v <= 10; v += 5) { const y = height / 2 - (v / 11) * (height / 2); g.moveTo(0, y); g.lineTo(width, y); }
  g.stroke();
  const hz = steadyFrequency();
  const cycles = 2;
  let span = hz ? Math.round((cycles * state.rate) / hz) : 1024;
  span = Math.max(32, Math.min(span, 4096));
  const at = triggerIndex(span);
  for (let c = 0; c < 4; ++c) {
    const h = state.history[c];
    g.strokeStyle = state.colors[c];
    g.beginPath();
    for (let x = 0; x < width; ++x) {
      const i = at + Math.floor((x / width) * span);
      const y = height / 2 - (h[Math.min(i, HISTORY - 1)] * 10 / 11) * (height / 2);
      if (x === 0) g.moveTo(x, y); else g.lineTo(x, y);
    }
    g.stroke();
  }
  g.fillStyle = '#9aa7b4';
  g.font = `${Math.round(height / 18)}px system-ui`;
  g.fillText(hz ? `${hz.toFixed(2)} Hz, ${cycles} cycles` : `${span} samples`, 8, height / 12);
}

function drawSpectrum() {
  const { g, width, height } = canvasContext('spectrum');
  const nyquist = state.rate / 2;
  const lo = Math.log10(20), hi = Math.log10(nyquist);
  const xOf = (f) => ((Math.log10(f) - lo) / (hi - lo)) * width;
  const top = 0, bottom = -140;
  const yOf = (db) => ((top - db) / (top - bottom)) * height;
  g.strokeStyle = '#1f2830';
  g.fillStyle = '#6b7886';
  g.font = `${Math.round(height / 20)}px system-ui`;
  g.beginPath();
  for (const f of [100, 1000, 10000]) { g.moveTo(xOf(f), 0); g.lineTo(xOf(f), height); g.fillText(f >= 1000 ? `${f / 1000} kHz` : `${f} Hz`, xOf(f) + 4, height - 6); }
  for (let db = -20; db > bottom; db -= 20) { g.moveTo(0, yOf(db)); g.lineTo(width, yOf(db)); g.fillText(`${db} dB`, 4, yOf(db) - 3); }
  g.stroke();
  const binHz = state.rate / SPECTRUM_FRAMES;
  const norm = (SPECTRUM_FRAMES * 0.35875) / 2; // a full-scale sine's peak: 0 dB
  for (let c = 0; c < 4; ++c) {
    const { power } = powerSpectrum(state.history[c], SPECTRUM_FRAMES);
    const db = new Float32Array(power.length);
    for (let k = 0; k < power.length; ++k) db[k] = 10 * Math.log10(power[k] / (norm * norm) + 1e-20);
    state.spectra[c] = db;
    g.strokeStyle = state.colors[c];
    g.globalAlpha = 0.85;
    g.beginPath();
    let started = false;
    // One point per pixel column: the loudest bin under it.
    let column = -1, loudest = -Infinity;
    for (let k = 1; k < db.length; ++k) {
      const x = Math.floor(xOf(k * binHz));
      if (x < 0) continue;
      if (x !== column && column >= 0) {
        const y = yOf(Math.max(bottom, loudest));
        if (!started) { g.moveTo(column, y); started = true; } else g.lineTo(column, y);
        loudest = -Infinity;
      }
      column = x;
      loudest = Math.max(loudest, db[k]);
    }
    g.stroke();
    g.globalAlpha = 1;
  }
}

function updateAlias(now) {
  if (now - state.lastAlias < 500) return;
  state.lastAlias = now;
  const hz = steadyFrequency();
  const body = $('alias');
  // A measurement of a steady tone: the whole window after the last change of the patch.
  const filled = state.written - state.changedAt >= ANALYSIS_FRAMES + ANALYSIS_SETTLE_FRAMES;
  const rows = state.outputs.map((output, c) => {
    let text = 'needs a steady Pitch', dc = '';
    if (hz && !filled) { text = 'measuring...'; state.alias[c] = null; }
    else if (hz && state.asleep) text = 'asleep';
    else if (hz) {
      const m = measureTone(state.history[c], hz, state.rate);
      state.alias[c] = m;
      text = m.silent ? 'silent' : `${m.aliasToSignalDb.toFixed(1)} dB`;
      dc = `${(Math.abs(m.dcVolts) < 0.0005 ? 0 : m.dcVolts).toFixed(3)} V`;
    }
    return `<tr><td><span class="swatch" style="background:${state.colors[c]}"></span>${output.name}</td><td>${text}</td><td>${dc}</td></tr>`;
  });
  body.innerHTML = rows.join('');
}

function frame(now) {
  drawScope();
  drawSpectrum();
  updateAlias(now);
  updateRunState();
  requestAnimationFrame(frame);
}

// ---------------------------------------------------------------------------------------------
// The patch panel

async function loadExamples() {
  const names = await (await fetch('examples/index.json')).json();
  const box = $('examples');
  for (const file of names) {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = file.replace(/\.json$/, '');
    button.addEventListener('click', async () => {
      const text = await (await fetch(`examples/${file}`)).text();
      if (loadPatch(text, file)) $('share-state').textContent = `Example ${file} loaded.`;
    });
    box.append(button);
  }
}

function bindPatchPanel() {
  $('apply').addEventListener('click', () => loadPatch($('patch-text').value, 'the patch text'));
  $('default').addEventListener('click', () => loadPatch('{}', 'the default patch'));
  $('load').addEventListener('change', async () => {
    const file = $('load').files[0];
    if (file) loadPatch(await file.text(), file.name);
  });
  $('save').addEventListener('click', () => {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([`${patchText()}\n`], { type: 'application/json' }));
    link.download = 'fourwave-patch.json';
    link.click();
    URL.revokeObjectURL(link.href);
  });
  $('share').addEventListener('click', async () => {
    const url = `${location.origin}${location.pathname}#patch=${encodePatch(state.patch)}`;
    try {
      await navigator.clipboard.writeText(url);
      $('share-state').textContent = 'Link copied: it opens this patch.';
    } catch {
      $('share-state').textContent = `The link to this patch: ${url}`;
    }
  });
  $('audio-button').addEventListener('click', () => startAudio().catch((error) => showError(`Audio: ${error.message}`)));
}

// An offline render through the same worklet code (for the browser test): the patch at its own
// rate, no loop, the four outputs untouched.
state.renderOffline = async (patch, frames) => {
  const rate = Number(JSON.parse(patch).rate ?? 48000);
  const context = new OfflineAudioContext({ numberOfChannels: 4, length: frames, sampleRate: rate });
  await context.audioWorklet.addModule('worklet.js');
  const node = new AudioWorkletNode(context, 'fourwave', {
    numberOfInputs: 0, numberOfOutputs: 2, outputChannelCount: [2, 4],
    processorOptions: { wasm: state.wasm, patch, loop: false },
  });
  context.destination.channelCount = 4;
  context.destination.channelCountMode = 'explicit';
  context.destination.channelInterpretation = 'discrete';
  node.connect(context.destination, 1);
  const buffer = await context.startRendering();
  return [0, 1, 2, 3].map((c) => Array.from(new Uint32Array(buffer.getChannelData(c).buffer)));
};

async function main() {
  state.wasm = await (await fetch('fourwave.wasm')).arrayBuffer();
  state.module = new WebAssembly.Module(state.wasm);
  state.engine = new Engine(state.module);
  state.defaults = JSON.parse(state.engine.defaultPatch());
  delete state.defaults.comment;
  const plugs = state.engine.plugTable();
  state.settings = plugs.filter((p) => p.kind === 'setting');
  state.inputs = plugs.filter((p) => p.kind === 'input');
  state.outputs = plugs.filter((p) => p.kind === 'output');
  state.colors = state.outputs.map(colorOf);
  state.engine.open('{}');
  $('module-name').textContent = `${state.engine.moduleName()}: four-waveform oscillator, compiled to WebAssembly`;
  $('about').textContent = state.engine.aboutText();
  buildControls();
  bindKeys();
  bindPatchPanel();
  await loadExamples();
  const hash = location.hash.match(/^#patch=(.+)$/);
  let loaded = false;
  if (hash) {
    try {
      loaded = loadPatch(decodePatch(hash[1]), 'the link');
    } catch {
      showError('The link does not carry a readable patch; the default patch is loaded.');
    }
  }
  if (!loaded) {
    state.patch = { ...state.defaults };
    delete state.patch.rate;
    refreshControls();
    patchChanged();
  }
  updateAudioState();
  requestAnimationFrame(frame);
  state.ready = true;
}

main().catch((error) => showError(`The page could not start: ${error.message}`));
