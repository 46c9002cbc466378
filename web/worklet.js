// The AudioWorklet processor: the module's wasm build, rendering every 128-frame quantum at the
// context's rate. Output 0 is the monitor mix (stereo): the chosen outputs, times the master
// volume, through a soft limiter, so that no setting can blast the speakers. Output 1 carries
// the four rendered outputs untouched (Ramp, Saw, Pulse, Triangle, plug scale), for the
// browser test's OfflineAudioContext. Blocks of samples go to the page for the scope and the
// spectrum, with the instance's state.
import { Engine } from './wasm.js';
import { softLimit } from './limiter.js';

const POST_FRAMES = 1024;

class FourwaveProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const { wasm, patch, loop = true } = options.processorOptions;
    this.engine = new Engine(new WebAssembly.Module(wasm));
    this.engine.open(patch, { rateHz: sampleRate, loop, checks: false });
    this.gains = [1, 1, 1, 1];
    this.master = 0.05;
    this.pending = [0, 1, 2, 3].map(() => new Float32Array(POST_FRAMES));
    this.filled = 0;
    this.peak = 0;
    this.limited = 0;
    this.port.onmessage = (event) => this.receive(event.data);
    this.port.postMessage({ type: 'ready', rate: sampleRate });
  }

  receive(message) {
    try {
      if (message.type === 'patch') {
        // A patch the reader refuses (a PatchError, shown by the page) leaves the instance
        // playing the last one that read.
        const reopened = this.engine.update(message.patch);
        this.port.postMessage({ type: 'applied', reopened });
      } else if (message.type === 'mix') {
        this.gains = message.gains;
        this.master = message.master;
      }
    } catch (error) {
      this.port.postMessage({ type: 'error', message: String(error && error.message ? error.message : error) });
    }
  }

  process(inputs, outputs) {
    const monitor = outputs[0];
    const raw = outputs[1];
    const frames = monitor[0].length;
    const channels = this.engine.render(frames);
    const count = channels[0].length;
    for (let c = 0; c < raw.length && c < 4; ++c) raw[c].set(channels[c].subarray(0, Math.min(count, raw[c].length)));
    const left = monitor[0];
    const right = monitor[1] || monitor[0];
    for (let i = 0; i < count; ++i) {
      // Plug scale: 1.0 is 10 V; a 5 V output at full volume is 0.5.
      let sum = 0;
      for (let c = 0; c < 4; ++c) sum += this.gains[c] * channels[c][i];
      const x = sum * this.master;
      const y = softLimit(x);
      if (y !== x) ++this.limited;
      if (Math.abs(y) > this.peak) this.peak = Math.abs(y);
      left[i] = y;
      right[i] = y;
    }
    let at = 0;
    while (at < count) {
      const take = Math.min(count - at, POST_FRAMES - this.filled);
      for (let c = 0; c < 4; ++c) this.pending[c].set(channels[c].subarray(at, at + take), this.filled);
      this.filled += take;
      at += take;
      if (this.filled === POST_FRAMES) this.post();
    }
    return true;
  }

  post() {
    const samples = this.pending;
    this.port.postMessage({
      type: 'samples', samples,
      asleep: this.engine.asleep, sleepRequests: this.engine.sleepRequests,
      processCalls: this.engine.processCalls, frames: this.engine.frames,
      peak: this.peak, limited: this.limited,
    }, samples.map((s) => s.buffer));
    this.pending = [0, 1, 2, 3].map(() => new Float32Array(POST_FRAMES));
    this.filled = 0;
    this.peak = 0;
    this.limited = 0;
  }
}

registerProcessor('fourwave', FourwaveProcessor);
