'use strict';
// The platform's wire crypto: answer encryption, sign_key encryption, request
// signatures and token signing keys. Everything keyed by constants.json.

const crypto = require('crypto');
const path = require('path');
const fs = require('fs');

const CONSTANTS = JSON.parse(fs.readFileSync(path.join(__dirname, '..', 'constants.json'), 'utf8'));

// AES-CBC without PKCS#7: the SDK strips NUL and backspace bytes after
// decrypting and removes no padding, so NUL padding is the one scheme it
// always reads back cleanly.
function zeroPad(buf) {
  const rem = buf.length % 16;
  return rem === 0 ? buf : Buffer.concat([buf, Buffer.alloc(16 - rem)]);
}

function aesCbcEncrypt(plain, key, iv) {
  const algo = key.length === 32 ? 'aes-256-cbc' : 'aes-128-cbc';
  const c = crypto.createCipheriv(algo, key, iv);
  c.setAutoPadding(false);
  return Buffer.concat([c.update(zeroPad(Buffer.from(plain))), c.final()]);
}

// Mirror of what the SDK does with an answer: Base64 (characters outside the
// alphabet ignored), AES-CBC, no padding removal, NUL and 0x08 dropped.
// Returns null when nothing decrypts (no whole block) or the text is not UTF-8.
function aesCbcDecryptText(b64, key, iv) {
  const clean = String(b64).replace(/[^A-Za-z0-9+/]/g, '');
  const data = Buffer.from(clean, 'base64');
  const whole = data.length - (data.length % 16);
  if (whole === 0) return null;
  const algo = key.length === 32 ? 'aes-256-cbc' : 'aes-128-cbc';
  const d = crypto.createDecipheriv(algo, key, iv);
  d.setAutoPadding(false);
  const out = Buffer.concat([d.update(data.subarray(0, whole)), d.final()]);
  const text = new TextDecoder('utf-8', { fatal: true });
  let s;
  try { s = text.decode(out); } catch (_) { return null; }
  return s.replace(/[\u0000\u0008]/g, '');
}

function md5Hex(text) {
  return crypto.createHash('md5').update(Buffer.from(text, 'utf8')).digest('hex');
}

function answerKey(deviceGuid) {
  return Buffer.from(md5Hex(deviceGuid), 'ascii');
}

const RESPONSE_IV = Buffer.from(CONSTANTS.response_iv, 'ascii');
const SIGN_KEY_KEY = Buffer.from(CONSTANTS.sign_key_aes_key, 'ascii');
const SIGN_KEY_IV = Buffer.from(CONSTANTS.sign_key_aes_iv, 'ascii');

function encryptAnswer(jsonText, deviceGuid) {
  return aesCbcEncrypt(jsonText, answerKey(deviceGuid), RESPONSE_IV).toString('base64');
}

function decryptAnswer(body, deviceGuid) {
  return aesCbcDecryptText(body, answerKey(deviceGuid), RESPONSE_IV);
}

// A plain JSON answer is read by the SDK only when it does not also "decrypt"
// to UTF-8 text under the device's key, which happens to about one body in
// ten thousand. Spelling letters of the leading "code" key as \u escapes
// keeps the JSON equal while changing what the Base64 reading sees.
function plainAnswer(json, deviceGuid) {
  const clean = (t) => { const d = decryptAnswer(t, deviceGuid); return d === null || d === ''; };
  if (!deviceGuid || clean(json) || !json.startsWith('{"code":')) return json;
  const rest = json.slice('{"code":'.length);
  for (let mask = 1; mask < 16; mask++) {
    const key = [...'code'].map((c, i) => (mask & (1 << i) ? `\\u00${c.charCodeAt(0).toString(16)}` : c)).join('');
    const t = `{"${key}":${rest}`;
    if (clean(t)) return t;
  }
  return json;
}

function encryptSignKey(sign) {
  return aesCbcEncrypt(sign, SIGN_KEY_KEY, SIGN_KEY_IV).toString('base64');
}

function decryptSignKey(signKey) {
  return aesCbcDecryptText(signKey, SIGN_KEY_KEY, SIGN_KEY_IV);
}

// The platform's trim set: Unicode space separators, tab, and the line breaks
// U+000A-U+000D, U+0085, U+2028, U+2029 (JavaScript's trim differs: it also
// strips U+FEFF and keeps U+0085).
const TRIM_CHARS = '\u0009\u000A\u000B\u000C\u000D\u0020\u0085\u00A0\u1680' +
  '\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200A' +
  '\u2028\u2029\u202F\u205F\u3000';
function platformTrim(s) {
  let a = 0;
  let b = s.length;
  while (a < b && TRIM_CHARS.includes(s[a])) a++;
  while (b > a && TRIM_CHARS.includes(s[b - 1])) b--;
  return s.slice(a, b);
}

// Plain string order on UTF-16 code units (JavaScript's default comparison).
function compareKeys(x, y) {
  return x < y ? -1 : x > y ? 1 : 0;
}

// The text that gets hashed, before the signing key is appended.
function signatureBase(params) {
  const keys = Object.keys(params).filter((k) => k !== 'sign').sort(compareKeys);
  const parts = keys.map((k) => `${platformTrim(k)}=${platformTrim(String(params[k]))}`);
  return Buffer.from(parts.join('&'), 'utf8').toString('base64');
}

function computeSign(params, signKey) {
  const key = signKey === null || signKey === undefined ? CONSTANTS.nil_sign_text : signKey;
  return crypto.createHash('sha1').update(Buffer.from(signatureBase(params) + key, 'utf8')).digest('hex');
}

function tokenSignKey(token) {
  return crypto.createHmac('sha256', CONSTANTS.token_sign_secret).update(token).digest('hex').slice(0, 32);
}

module.exports = {
  CONSTANTS,
  aesCbcEncrypt,
  aesCbcDecryptText,
  md5Hex,
  encryptAnswer,
  decryptAnswer,
  plainAnswer,
  encryptSignKey,
  decryptSignKey,
  platformTrim,
  signatureBase,
  computeSign,
  tokenSignKey,
};
