// Patches in the fourwave CLI's JSON format, on the JavaScript side: the keys, the choices,
// and a check of a patch with the CLI's rules and messages, so that the page and
// scripts/web-render can say what is wrong before the patch reaches the module. The reading
// itself is the CLI's own code, compiled into the wasm file (apps/patch.cpp): what passes
// here is applied there over the built-in default patch.

export class PatchError extends Error {}

// Inputs, in the CLI's order: key, plug number, label, about-text range (volts).
export const INPUTS = [
  { key: 'pitch', plug: 0, label: 'Pitch', min: 0, max: 10, step: 0.01, help: '1 V/octave, 5 V = 440 Hz (or 1 V/kHz)' },
  { key: 'width', plug: 1, label: 'Width', min: 0, max: 10, step: 0.01, help: 'pulse width, 0-10 V (5 V: a square)' },
  { key: 'ramp-level', plug: 5, label: 'Ramp Level', min: -10, max: 10, step: 0.01, help: 'Ramp Out level, -10-10 V' },
  { key: 'saw-level', plug: 6, label: 'Saw Level', min: -10, max: 10, step: 0.01, help: 'Saw Out level, -10-10 V' },
  { key: 'pulse-level', plug: 7, label: 'Pulse Level', min: -10, max: 10, step: 0.01, help: 'Pulse Out level, -10-10 V' },
  { key: 'triangle-level', plug: 8, label: 'Triangle Level', min: -10, max: 10, step: 0.01, help: 'Triangle Out level, -10-10 V' },
  { key: 'sync', plug: 2, label: 'Sync', min: 0, max: 10, step: 0.01, help: 'every rise above 0 V is an edge' },
  { key: 'sync-threshold', plug: 9, label: 'Sync Threshold', min: 0, max: 10, step: 0.01, help: '0 V hard sync, 2-8 V soft sync, 10 V none' },
  { key: 'sync-advance', plug: 10, label: 'Sync Advance', min: -20, max: 20, step: 0.01, help: 'phase after an edge, per 10 V of Sync, -20-20 V' },
  { key: 'phase', plug: 3, label: 'Phase', min: 0, max: 10, step: 0.01, help: 'phase modulation signal, 0-10 V (with Phase Modulation on)' },
  { key: 'phase-mod', plug: 4, label: 'Phase Mod', min: 0, max: 10, step: 0.01, help: 'phase modulation depth, 0-10 V (with Phase Modulation on)' },
  { key: 'active', plug: 11, label: 'Active', min: 0, max: 10, step: 0.01, help: 'gate: 0 V silences the module, which then sleeps' },
];

export const CHOICES = {
  shape: [['perfect', 'Perfect'], ['perfect2', 'Perfect 2'], ['bright', 'Bright'], ['medium', 'Medium'], ['dark', 'Dark']],
  'freq-scale': [['oct', '1 V/octave'], ['khz', '1 V/kHz']],
  fm: [['off', 'Disable'], ['on', 'Enable'], ['half', 'Half']],
  pm: [['off', 'Disable'], ['on', 'Enable']],
};

export const SETTING_KEYS = ['shape', 'freq-scale', 'fm', 'pm', 'rate', 'block', 'seconds', 'seed'];

const SIGNAL_SYNTAX = 'V (constant), A:B (linear sweep), exp:A:B, sine:HZ:LO:HI, square:HZ:LO:HI, ' +
  'pulse:HZ[:V[:DUTY]], gate:T0-T1[,T2-T3...]';

// A number as strtod reads it, in plain decimal notation, finite, nothing after it.
export function parseNumber(text) {
  if (typeof text !== 'string' || !/^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(text)) return null;
  const value = Number(text);
  if (!Number.isFinite(value)) return null;
  // strtod reports a result below the smallest normal double as out of range.
  if (value !== 0 && Math.abs(value) < 2.2250738585072014e-308) return null;
  if (value === 0 && /[1-9]/.test(text.replace(/[eE].*$/, ''))) return null;
  return value;
}

function shown(value) { return typeof value === 'string' ? `'${value}'` : JSON.stringify(value); }

function textOf(value, where, expected) {
  if (typeof value === 'string') return value;
  if (typeof value === 'number') return JSON.stringify(value);
  throw new PatchError(`${where}: expected ${expected}, not ${shown(value)}`);
}

function numberOf(value, where) {
  if (typeof value === 'number') return value;
  const text = textOf(value, where, 'a number');
  const number = parseNumber(text);
  if (number === null) throw new PatchError(`${where}: '${text}' is not a number`);
  return number;
}

function wholeNumberOf(value, where, lo, hi, unit) {
  const number = numberOf(value, where);
  if (number !== Math.floor(number) || number < lo || number > hi) {
    throw new PatchError(`${where}: ${shown(value)} is not a whole number${unit} from ${lo} to ${hi}`);
  }
  return number;
}

// Checks a signal's text; returns its kind and parts.
export function checkSignal(text, where) {
  const fail = (problem) => new PatchError(`${where}: '${text}' ${problem}`);
  const number = (part, what) => {
    const value = parseNumber(part);
    if (value === null) throw fail(`has a ${what} that is not a number ('${part}')`);
    return value;
  };
  if (parseNumber(text) !== null) return { kind: 'constant', value: parseNumber(text) };
  const parts = text.split(':');
  if (parts.length < 2) throw fail(`is not a number or a signal (${SIGNAL_SYNTAX})`);
  if (parseNumber(parts[0]) !== null) parts.unshift('lin');
  const [name] = parts;
  const args = parts.length - 1;
  if (name === 'lin' || name === 'exp') {
    if (args !== 2) throw fail(`needs two ends: ${name}:A:B`);
    const from = number(parts[1], 'start');
    const to = number(parts[2], 'end');
    if (name === 'exp' && (from === 0 || to === 0 || (from < 0) !== (to < 0))) {
      throw fail('is an exponential sweep whose ends are zero or of opposite signs');
    }
    return { kind: name, from, to };
  }
  if (name === 'sine' || name === 'square') {
    if (args !== 3) throw fail(`needs a rate and two levels: ${name}:HZ:LO:HI`);
    const hz = number(parts[1], 'rate');
    const lo = number(parts[2], 'low level');
    const hi = number(parts[3], 'high level');
    if (hz <= 0) throw fail('needs a rate above 0 Hz');
    return { kind: name, hz, lo, hi };
  }
  if (name === 'pulse') {
    if (args < 1 || args > 3) throw fail('reads pulse:HZ[:V[:DUTY]]');
    const hz = number(parts[1], 'rate');
    const volts = args >= 2 ? number(parts[2], 'level') : 10;
    const duty = args >= 3 ? number(parts[3], 'duty cycle') : 0.5;
    if (hz <= 0) throw fail('needs a rate above 0 Hz');
    if (duty <= 0 || duty >= 1) throw fail('needs a duty cycle between 0 and 1 (exclusive)');
    return { kind: 'pulse', hz, volts, duty };
  }
  if (name === 'gate') {
    if (args !== 1) throw fail('reads gate:T0-T1[,T2-T3...] (times in seconds)');
    const spans = parts[1].split(',');
    if (parts[1].endsWith(',')) spans.push('');
    const gates = spans.map((span) => {
      const dash = span.indexOf('-', 1);
      if (dash < 0) throw fail(`has a gate '${span}' without T0-T1`);
      const on = number(span.slice(0, dash), 'gate start');
      const off = number(span.slice(dash + 1), 'gate end');
      if (on < 0 || off <= on) throw fail(`has a gate '${span}' that does not run forward from 0 s or later`);
      return [on, off];
    });
    return { kind: 'gate', gates };
  }
  throw fail(`is not a number or a signal (${SIGNAL_SYNTAX})`);
}

function choice(key, text, where) {
  const names = CHOICES[key].map(([name]) => name);
  if (!names.includes(text)) throw new PatchError(`${where}: '${text}' is not one of ${names.join(', ')}`);
  return text;
}

// Checks one key's value as the CLI's applySetting does.
export function checkSetting(key, value, where) {
  if (INPUTS.some((input) => input.key === key)) {
    if (typeof value === 'number') return;
    checkSignal(textOf(value, where, 'volts or a signal'), where);
    return;
  }
  switch (key) {
    case 'shape': choice(key, textOf(value, where, 'a shape name'), where); return;
    case 'freq-scale': choice(key, textOf(value, where, 'oct or khz'), where); return;
    case 'fm': choice(key, textOf(value, where, 'off, on or half'), where); return;
    case 'pm': choice(key, textOf(value, where, 'off or on'), where); return;
    case 'rate': wholeNumberOf(value, where, 1000, 768000, ' of hertz'); return;
    case 'block':
      if (value === 'random') return;
      wholeNumberOf(value, where, 1, 4096, " of frames (or 'random')");
      return;
    case 'seed': wholeNumberOf(value, where, 0, 4294967295, ''); return;
    case 'seconds': {
      const seconds = numberOf(value, where);
      if (!(seconds > 0) || seconds > 3600) {
        throw new PatchError(`${where}: ${shown(value)} is not a length above 0 s and at most 3600 s`);
      }
      return;
    }
    default: throw new PatchError(`${where}: unknown setting`);
  }
}

// Parses and checks a patch text; returns the object. `source` names it in messages.
export function readPatch(text, source) {
  let root;
  try {
    root = JSON.parse(text);
  } catch (error) {
    throw new PatchError(`${source}: malformed JSON: ${error.message}`);
  }
  if (root === null || typeof root !== 'object' || Array.isArray(root)) {
    const type = root === null ? 'null' : Array.isArray(root) ? 'array' : typeof root;
    throw new PatchError(`${source}: a patch is a JSON object of settings, not ${type}`);
  }
  checkPatch(root, source);
  return root;
}

export function checkPatch(root, source) {
  for (const [key, value] of Object.entries(root)) {
    const where = `${source}, key "${key}"`;
    if (key === 'comment') continue;
    if (!INPUTS.some((input) => input.key === key) && !SETTING_KEYS.includes(key)) {
      throw new PatchError(`${where}: unknown key`);
    }
    checkSetting(key, value, where);
  }
  return root;
}

// The frequency the module plays for a constant Pitch value (plug scale), as `fourwave
// analyze` looks for its harmonics: the module's conversion and octave folding in single
// precision.
export function moduleFrequencyHz(pitch, voltPerKhz, sampleRateHz) {
  const f32 = Math.fround;
  const rate = f32(sampleRateHz);
  const invSampleRate = f32(1 / rate);
  const maxFrequency = f32(rate * 0.25);
  let f = voltPerKhz ? f32(f32(pitch) * 10000) : f32(440 * 2 ** (10 * f32(pitch) - 5));
  for (let halvings = 0; halvings < 4 && f >= maxFrequency; ++halvings) f = f32(f * 0.5);
  if (f >= maxFrequency) f = maxFrequency;
  return f32(invSampleRate * f) * sampleRateHz;
}
