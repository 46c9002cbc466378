// What the page's form shows of a patch in the fourwave CLI's JSON format: a row per input
// (key, plug, label, the about text's range in volts, help) and the names and labels of the
// settings' choices. Reading and checking a patch is the render engine's, in the wasm file
// (Engine.readPatch, checkSetting and number in web/wasm.js), with the CLI's rules and messages.

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
