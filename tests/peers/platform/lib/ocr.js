'use strict';
// The identity-card OCR service: multipart POST with api_key, api_secret and
// one image_file part; answers a "cards" array from a script or the defaults.

const crypto = require('crypto');
const { parseMultipart } = require('./multipart');
const { record } = require('./platform');

const OCR_PATH = '/ocr/v1/ocridcard';
const IMAGE_LIMIT = 2 * 1024 * 1024;

const FRONT = {
  type: 1, side: 'front', name: '张三', gender: '男', race: '汉', birthday: '1990-01-01',
  address: '广东省深圳市南山区科技园路1号', id_card_number: '440305199001011234',
};
const BACK = { type: 1, side: 'back', issued_by: '深圳市公安局南山分局', valid_date: '2015.01.01-2035.01.01' };

// What one scripted entry answers: { status, body } where body is an object
// (sent as JSON) or a string (sent as it stands).
function scriptedAnswer(entry) {
  const s = entry || { side: 'front' };
  if (s.body !== undefined) return { status: s.status || 200, body: String(s.body) };
  if (s.json !== undefined) return { status: s.status || 200, body: s.json };
  let cards;
  if (s.cards !== undefined) cards = s.cards;
  else if (s.side === 'back') cards = [Object.assign({}, BACK, s.card || {})];
  else if (s.side === 'none') cards = [];
  else if (s.side === 'two') cards = [Object.assign({}, FRONT), Object.assign({}, BACK)];
  else cards = [Object.assign({}, FRONT, s.card || {})];
  return {
    status: s.status || 200,
    body: { request_id: `${Date.now()},${crypto.randomUUID()}`, time_used: 42, cards },
  };
}

function takeScript(state) {
  const next = state.ocrScript[0];
  if (!next) return null;
  if (next.times > 0) {
    next.times -= 1;
    if (next.times === 0) state.ocrScript.shift();
  }
  return next;
}

async function handleOcr(state, req, res, url, bodyBuf) {
  const reply = (status, obj) => {
    const body = Buffer.from(typeof obj === 'string' ? obj : JSON.stringify(obj), 'utf8');
    res.writeHead(status, { 'Content-Type': 'application/json; charset=utf-8', 'Content-Length': body.length });
    res.end(body);
    return status;
  };
  const entry = record(state, {
    time: new Date().toISOString(), method: req.method, path: url.pathname, query: Object.fromEntries(url.searchParams),
    headers: req.headers, content_type: req.headers['content-type'] || null, body_length: bodyBuf.length,
  });
  const finish = (status, obj) => { entry.status = status; entry.answer = obj; return reply(status, obj); };

  if (req.method !== 'POST') return finish(405, { error_message: 'METHOD_NOT_ALLOWED' });
  const mp = parseMultipart(bodyBuf, req.headers['content-type']);
  if (mp.error) return finish(400, { error_message: `BAD_REQUEST: ${mp.error}` });
  const fields = {};
  const files = [];
  for (const p of mp.parts) {
    if (p.filename !== undefined) files.push({ name: p.name, filename: p.filename, content_type: p.contentType || null, size: p.data.length });
    else fields[p.name] = p.data.toString('utf8');
  }
  entry.multipart = { fields, files };
  entry.params = fields;
  const image = mp.parts.find((p) => p.name === 'image_file' && p.filename !== undefined);
  for (const k of ['api_key', 'api_secret']) {
    if (fields[k] === undefined || fields[k] === '') return finish(400, { error_message: `MISSING_ARGUMENTS: ${k}` });
  }
  if (!image || image.data.length === 0) return finish(400, { error_message: 'MISSING_ARGUMENTS: image_file' });
  if (fields.api_key !== state.settings.ocrApiKey || fields.api_secret !== state.settings.ocrApiSecret) {
    return finish(401, { error_message: 'AUTHENTICATION_ERROR' });
  }
  if (image.data.length > IMAGE_LIMIT) return finish(413, { error_message: 'IMAGE_FILE_TOO_LARGE' });
  const script = takeScript(state);
  entry.script = script ? script.id : null;
  if (script && script.delay_ms > 0) await new Promise((r) => setTimeout(r, script.delay_ms));
  const a = scriptedAnswer(script);
  return finish(a.status, a.body);
}

module.exports = { OCR_PATH, handleOcr, FRONT, BACK };
