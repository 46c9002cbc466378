// Spectra and the alias-to-signal ratio of a steady tone, as `fourwave analyze` computes them
// (apps/analysis.cpp): a 4-term Blackman-Harris window over the samples less their
// window-weighted mean, one real FFT, and the energy off the harmonics of the fundamental
// (each harmonic owns +-8 bins around its predicted bin) against the energy on them.

export const ANALYSIS_FRAMES = 1 << 16;
export const ANALYSIS_SETTLE_FRAMES = 4096;
const WINDOW_TERMS = [0.35875, 0.48829, 0.14128, 0.01168];
const HARMONIC_BINS = 8;
const SILENT_ENERGY = 1e-20;

const windows = new Map();
export function blackmanHarris(n) {
  if (!windows.has(n)) {
    const w = new Float64Array(n);
    const [a0, a1, a2, a3] = WINDOW_TERMS;
    for (let i = 0; i < n; ++i) {
      const x = (2 * Math.PI * i) / n;
      w[i] = a0 - a1 * Math.cos(x) + a2 * Math.cos(2 * x) - a3 * Math.cos(3 * x);
    }
    windows.set(n, w);
  }
  return windows.get(n);
}

const twiddles = new Map();
// In-place radix-2 FFT of (re, im), n a power of two.
export function fft(re, im) {
  const n = re.length;
  if (!twiddles.has(n)) {
    const c = new Float64Array(n / 2), s = new Float64Array(n / 2);
    for (let k = 0; k < n / 2; ++k) { c[k] = Math.cos((2 * Math.PI * k) / n); s[k] = -Math.sin((2 * Math.PI * k) / n); }
    twiddles.set(n, [c, s]);
  }
  const [cos, sin] = twiddles.get(n);
  for (let i = 1, j = 0; i < n; ++i) {
    let bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) { [re[i], re[j]] = [re[j], re[i]]; [im[i], im[j]] = [im[j], im[i]]; }
  }
  for (let size = 2; size <= n; size <<= 1) {
    const half = size >> 1, step = n / size;
    for (let start = 0; start < n; start += size) {
      for (let k = 0; k < half; ++k) {
        const wr = cos[k * step], wi = sin[k * step];
        const a = start + k, b = a + half;
        const tr = re[b] * wr - im[b] * wi, ti = re[b] * wi + im[b] * wr;
        re[b] = re[a] - tr; im[b] = im[a] - ti;
        re[a] += tr; im[a] += ti;
      }
    }
  }
}

// The windowed power spectrum (bins 0..n/2) of the last n samples of `samples`, mean removed;
// also the mean (plug scale).
export function powerSpectrum(samples, n = samples.length) {
  const window = blackmanHarris(n);
  const offset = samples.length - n;
  let weighted = 0, weights = 0;
  for (let i = 0; i < n; ++i) { weighted += window[i] * samples[offset + i]; weights += window[i]; }
  const mean = weighted / weights;
  const re = new Float64Array(n), im = new Float64Array(n);
  for (let i = 0; i < n; ++i) re[i] = (samples[offset + i] - mean) * window[i];
  fft(re, im);
  const power = new Float64Array(n / 2 + 1);
  for (let k = 0; k <= n / 2; ++k) power[k] = re[k] * re[k] + im[k] * im[k];
  return { power, mean };
}

// The measurement of `fourwave analyze`: { silent, aliasToSignalDb, dcVolts }.
export function measureTone(samples, fundamentalHz, sampleRateHz, n = ANALYSIS_FRAMES) {
  const { power, mean } = powerSpectrum(samples, n);
  const bins = n / 2 + 1;
  const harmonic = new Uint8Array(bins);
  const binHz = sampleRateHz / n;
  for (let f = fundamentalHz; f < sampleRateHz / 2 && fundamentalHz > 0; f += fundamentalHz) {
    const centre = Math.round(f / binHz);
    for (let k = centre - HARMONIC_BINS; k <= centre + HARMONIC_BINS; ++k) {
      if (k > HARMONIC_BINS && k < bins) harmonic[k] = 1;
    }
  }
  let harmonicEnergy = 0, aliasEnergy = 0;
  for (let k = HARMONIC_BINS + 1; k < bins; ++k) {
    if (harmonic[k]) harmonicEnergy += power[k]; else aliasEnergy += power[k];
  }
  if (harmonicEnergy < SILENT_ENERGY) return { silent: true, aliasToSignalDb: 0, dcVolts: mean * 10 };
  return {
    silent: false,
    aliasToSignalDb: 10 * Math.log10(Math.max(aliasEnergy, 1e-30) / harmonicEnergy),
    dcVolts: mean * 10,
  };
}
