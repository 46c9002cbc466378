// 32-bit float WAV files, as libsndfile writes them for `fourwave render`: WAVE_FORMAT_IEEE_FLOAT
// for one or two channels, WAVE_FORMAT_EXTENSIBLE (float subtype) for more, and a fact chunk.
export function encodeWav(channels, rateHz) {
  const count = channels.length;
  const frames = channels[0].length;
  const extensible = count > 2;
  const fmtSize = extensible ? 40 : 18;
  const dataSize = frames * count * 4;
  const size = 12 + 8 + fmtSize + 12 + 8 + dataSize;
  const bytes = new Uint8Array(size);
  const view = new DataView(bytes.buffer);
  let at = 0;
  const tag = (text) => { for (const ch of text) view.setUint8(at++, ch.charCodeAt(0)); };
  const u32 = (v) => { view.setUint32(at, v, true); at += 4; };
  const u16 = (v) => { view.setUint16(at, v, true); at += 2; };
  tag('RIFF'); u32(size - 8); tag('WAVE');
  tag('fmt '); u32(fmtSize);
  u16(extensible ? 0xfffe : 3); u16(count); u32(rateHz); u32(rateHz * count * 4); u16(count * 4); u16(32);
  if (extensible) {
    u16(22); u16(32); u32(0);
    // KSDATAFORMAT_SUBTYPE_IEEE_FLOAT
    [0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71]
      .forEach((b) => view.setUint8(at++, b));
  } else {
    u16(0);
  }
  tag('fact'); u32(4); u32(frames);
  tag('data'); u32(dataSize);
  for (let i = 0; i < frames; ++i) {
    for (let c = 0; c < count; ++c) { view.setFloat32(at, channels[c][i], true); at += 4; }
  }
  return bytes;
}

// The samples of a float WAV file (either layout), as one Float32Array per channel.
export function decodeWav(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const text = (at) => String.fromCharCode(...bytes.subarray(at, at + 4));
  if (text(0) !== 'RIFF' || text(8) !== 'WAVE') throw new Error('not a WAV file');
  let at = 12, count = 0, rate = 0, format = 0, bits = 0;
  while (at + 8 <= bytes.length) {
    const id = text(at);
    const length = view.getUint32(at + 4, true);
    const body = at + 8;
    if (id === 'fmt ') {
      format = view.getUint16(body, true);
      count = view.getUint16(body + 2, true);
      rate = view.getUint32(body + 4, true);
      bits = view.getUint16(body + 14, true);
      if (format === 0xfffe) format = view.getUint16(body + 24, true);
    } else if (id === 'data') {
      if (format !== 3 || bits !== 32) throw new Error('not a 32-bit float WAV file');
      const frames = Math.floor(length / (4 * count));
      const channels = Array.from({ length: count }, () => new Float32Array(frames));
      for (let i = 0; i < frames; ++i) {
        for (let c = 0; c < count; ++c) channels[c][i] = view.getFloat32(body + 4 * (i * count + c), true);
      }
      return { rate, channels };
    }
    at = body + length + (length & 1);
  }
  throw new Error('a WAV file without samples');
}
