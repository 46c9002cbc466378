// The soft limiter on the page's monitor mix: the identity up to the knee, then a tanh curve
// that approaches the ceiling and never passes it, so that no setting of the module or of the
// master volume can drive the speakers to full scale. What is not a number plays as silence.
export const KNEE = 0.5;
export const CEILING = 0.9;

export function softLimit(x) {
  if (!Number.isFinite(x)) return Number.isNaN(x) ? 0 : Math.sign(x) * CEILING;
  const a = Math.abs(x);
  if (a <= KNEE) return x;
  return Math.sign(x) * (KNEE + (CEILING - KNEE) * Math.tanh((a - KNEE) / (CEILING - KNEE)));
}
