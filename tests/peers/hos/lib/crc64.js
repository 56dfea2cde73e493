'use strict';
// CRC-64/XZ (ECMA-182 polynomial, reflected, all-ones start and final XOR).
// The register is kept as two 32-bit halves so that hashing a large object
// stays in plain integer arithmetic; BigInt only at the edges.

const POLY_LO = 0xD7870F42;
const POLY_HI = 0xC96C5795;

const TLO = new Uint32Array(256);
const THI = new Uint32Array(256);
for (let n = 0; n < 256; n++) {
  let lo = n;
  let hi = 0;
  for (let k = 0; k < 8; k++) {
    const odd = lo & 1;
    lo = ((lo >>> 1) | ((hi & 1) << 31)) >>> 0;
    hi = hi >>> 1;
    if (odd) { lo = (lo ^ POLY_LO) >>> 0; hi = (hi ^ POLY_HI) >>> 0; }
  }
  TLO[n] = lo;
  THI[n] = hi;
}
// Slice-by-8: table k advances a table-0 result by k further zero bytes.
const SLO = [TLO];
const SHI = [THI];
for (let k = 1; k < 8; k++) {
  const lo = new Uint32Array(256);
  const hi = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    const plo = SLO[k - 1][n];
    const phi = SHI[k - 1][n];
    const idx = plo & 0xFF;
    lo[n] = (((plo >>> 8) | (phi << 24)) ^ TLO[idx]) >>> 0;
    hi[n] = ((phi >>> 8) ^ THI[idx]) >>> 0;
  }
  SLO.push(lo);
  SHI.push(hi);
}
const [L0, L1, L2, L3, L4, L5, L6, L7] = SLO;
const [H0, H1, H2, H3, H4, H5, H6, H7] = SHI;

const MASK = 0xFFFFFFFFFFFFFFFFn;

// A running check; `start` is a finished value to continue from (0 = empty data).
class Crc64 {
  constructor(start = 0n) {
    const inv = ~BigInt(start) & MASK;
    this.lo = Number(inv & 0xFFFFFFFFn);
    this.hi = Number(inv >> 32n);
  }

  update(buf) {
    let lo = this.lo;
    let hi = this.hi;
    let i = 0;
    const whole = buf.length - (buf.length % 8);
    for (; i < whole; i += 8) {
      const a = (lo ^ (buf[i] | (buf[i + 1] << 8) | (buf[i + 2] << 16) | (buf[i + 3] << 24))) >>> 0;
      const b = (hi ^ (buf[i + 4] | (buf[i + 5] << 8) | (buf[i + 6] << 16) | (buf[i + 7] << 24))) >>> 0;
      lo = (L7[a & 0xFF] ^ L6[(a >>> 8) & 0xFF] ^ L5[(a >>> 16) & 0xFF] ^ L4[a >>> 24] ^
            L3[b & 0xFF] ^ L2[(b >>> 8) & 0xFF] ^ L1[(b >>> 16) & 0xFF] ^ L0[b >>> 24]) >>> 0;
      hi = (H7[a & 0xFF] ^ H6[(a >>> 8) & 0xFF] ^ H5[(a >>> 16) & 0xFF] ^ H4[a >>> 24] ^
            H3[b & 0xFF] ^ H2[(b >>> 8) & 0xFF] ^ H1[(b >>> 16) & 0xFF] ^ H0[b >>> 24]) >>> 0;
    }
    for (; i < buf.length; i++) {
      const idx = (lo ^ buf[i]) & 0xFF;
      lo = (((lo >>> 8) | (hi << 24)) ^ TLO[idx]) >>> 0;
      hi = ((hi >>> 8) ^ THI[idx]) >>> 0;
    }
    this.lo = lo;
    this.hi = hi;
    return this;
  }

  value() {
    return ~((BigInt(this.hi >>> 0) << 32n) | BigInt(this.lo >>> 0)) & MASK;
  }
}

function crc64(buf, start = 0n) {
  return new Crc64(start).update(buf).value();
}

module.exports = { Crc64, crc64 };
