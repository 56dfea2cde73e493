'use strict';
// Platform API requests: header and signature checks, tokens, the operation
// handlers, forced answers, and the encrypted envelope on the way out.

const crypto = require('crypto');
const C = require('./crypto');
const { createWorld } = require('./world');
const { MESSAGES, PlatformError, findOp, refuse } = require('./operations');

const TOKEN_PATH = '/sdk/v2/token';
const LOG_CAP = 1000;

function createState(settings) {
  return {
    settings,
    world: createWorld({ appId: settings.appId, secret: settings.secret }),
    rules: [],
    nextRuleId: 1,
    token: { always: settings.expireAlways, cutoffMs: 0, lastIssuedMs: 0, ttl: settings.tokenTtl },
    ocrScript: [],
    log: [],
    nextSeq: 1,
    lastTransactionID: null,
  };
}

function resetState(state) {
  state.settings.plain = state.settings.plainAtStart;
  const fresh = createState(state.settings);
  fresh.nextSeq = state.nextSeq;
  Object.assign(state, fresh);
}

function record(state, entry) {
  entry.seq = state.nextSeq++;
  state.log.push(entry);
  if (state.log.length > LOG_CAP) state.log.splice(0, state.log.length - LOG_CAP);
  return entry;
}

// ---- tokens ---------------------------------------------------------------

function tokenIssuedMs(token) {
  const m = /^pxt-([0-9a-z]{1,12})-[0-9a-f]{16}$/.exec(token || '');
  return m ? parseInt(m[1], 36) : null;
}

// 'missing', 'unknown', 'expired' or 'valid'.
function tokenState(state, token, nowMs) {
  if (token === undefined || token === '') return 'missing';
  const issued = tokenIssuedMs(token);
  if (issued === null) return 'unknown';
  if (state.token.always || issued <= state.token.cutoffMs || issued + state.token.ttl * 1000 <= nowMs) return 'expired';
  return 'valid';
}

function issueToken(state, ctx) {
  const w = state.world;
  if (ctx.p.appid !== w.app.app_id) throw refuse(40002);
  if (ctx.p.secret !== w.app.secret) throw new PlatformError(400, 400, 'secret错误');
  const issued = Math.max(Date.now(), state.token.lastIssuedMs + 1);
  state.token.lastIssuedMs = issued;
  const token = `pxt-${issued.toString(36)}-${crypto.randomBytes(8).toString('hex')}`;
  return { token, expires_in: String(state.token.ttl), sign_key: C.encryptSignKey(C.tokenSignKey(token)) };
}

// ---- request reading ------------------------------------------------------

function searchParamsObject(sp) {
  const out = {};
  for (const [k, v] of sp) out[k] = v;
  return out;
}

// Header values arrive as Latin-1 bytes; the device facts are UTF-8 JSON.
function headerText(value) {
  return value === undefined ? undefined : Buffer.from(String(value), 'latin1').toString('utf8');
}

function decodedHeaders(req) {
  const out = {};
  for (const [k, v] of Object.entries(req.headers)) out[k] = Array.isArray(v) ? v.map(headerText) : headerText(v);
  return out;
}

function checkSystemHeader(text) {
  if (text === undefined) return { error: 'Pellix-System 请求头缺失' };
  let h;
  try { h = JSON.parse(text); } catch (_) { return { error: 'Pellix-System 请求头不是JSON' }; }
  if (h === null || typeof h !== 'object' || Array.isArray(h)) return { error: 'Pellix-System 请求头不是JSON对象' };
  const guid = typeof h.device_guid === 'string' && h.device_guid !== '' ? h.device_guid : null;
  const problems = [];
  for (const k of ['sdk_version', 'system_version', 'system_models']) if (typeof h[k] !== 'string') problems.push(k);
  if (!guid) problems.push('device_guid');
  if (h.system_type !== '1') problems.push('system_type');
  if (h.device_type !== '3') problems.push('device_type');
  if (h.encrypt !== 1) problems.push('encrypt');
  return { parsed: h, guid, error: problems.length ? `Pellix-System 请求头字段错误: ${problems.join(',')}` : null };
}

// Looks at a request without changing anything: what the checks would say.
function verify(state, path, params, sys, nowMs) {
  const v = { header_ok: !sys.error, header_error: sys.error || null, timestamp_ok: /^\d+$/.test(params.timestamp || '') };
  const token = params.token;
  v.token_state = tokenState(state, token, nowMs);
  if (typeof params.sign !== 'string') {
    v.sign_ok = false;
  } else if (path === TOKEN_PATH && v.token_state === 'unknown') {
    v.sign_ok = null; // a token this platform never issued: its signing key is unknowable
  } else {
    const key = v.token_state === 'missing' ? null : C.tokenSignKey(token);
    v.expected_sign = C.computeSign(params, key);
    v.sign_ok = params.sign === v.expected_sign;
  }
  return v;
}

// ---- answers --------------------------------------------------------------

function envelope(code, message, data) {
  const e = { code, message: message === undefined ? (MESSAGES[code] || '') : message };
  if (data !== undefined) e.data = data;
  return e;
}

function normalAnswer(state, ctx, op, v) {
  if (!op) return { status: 404, env: envelope(404) };
  if (!v.header_ok) return { status: 400, env: envelope(400, v.header_error) };
  if (!v.timestamp_ok) return { status: 400, env: envelope(400400, '缺少必要参数: timestamp') };
  const isTokenFetch = op.path === TOKEN_PATH;
  if (!isTokenFetch && v.token_state !== 'valid') return { status: 426, env: envelope(426) };
  if (v.sign_ok === false) return { status: 400, env: envelope(400, '签名错误') };
  if (op.auth === 'user') {
    if (ctx.p.open_id === undefined || ctx.p.open_id === '') return { status: 400, env: envelope(40004, '用户未登录') };
    if (ctx.p.open_id !== state.world.user.open_id) return { status: 400, env: envelope(40004) };
  }
  const missing = op.required.filter((k) => ctx.p[k] === undefined || ctx.p[k] === '');
  if (missing.length) return { status: 400, env: envelope(400400, `缺少必要参数: ${missing.join(',')}`) };
  try {
    const data = op.handler(ctx);
    if (op.image) return { status: 200, image: data };
    return { status: 200, env: envelope(200, undefined, data === undefined ? {} : data) };
  } catch (e) {
    if (e instanceof PlatformError) return { status: e.status, env: envelope(e.code, e.message) };
    throw e;
  }
}

function takeRule(state, path, method) {
  const rule = state.rules.find((r) => (r.path === undefined ? !path.startsWith('/ocr/') : r.path === path) &&
    (r.method === undefined || r.method.toUpperCase() === method));
  if (!rule) return null;
  if (rule.times > 0) {
    rule.times -= 1;
    if (rule.times === 0) state.rules.splice(state.rules.indexOf(rule), 1);
  }
  return rule;
}

function isForced(rule) {
  return rule && (rule.status !== undefined || rule.code !== undefined || rule.message !== undefined || rule.envelope !== undefined);
}

function forcedAnswer(rule) {
  const status = rule.status !== undefined ? rule.status : rule.code !== undefined && rule.code !== 200 ? 400 : 200;
  if (rule.envelope !== undefined) return { status, env: rule.envelope };
  const code = rule.code !== undefined ? rule.code : status;
  return { status, env: envelope(code, rule.message, rule.data) };
}

const OTHER_DEVICE_GUID = '00000000-0000-4000-8000-0000000000FF';

// Turns an answer into bytes per the switches: encrypted for the caller's
// device, or plain, or one of the broken bodies a test asked for.
function serialize(state, answer, rule, guid) {
  if (answer.image) return { type: 'image/png', body: answer.image };
  const kind = rule && rule.body;
  const json = JSON.stringify(answer.env);
  const enc = (text, g) => (state.settings.plain || !g ? C.plainAnswer(text, g) : C.encryptAnswer(text, g));
  switch (kind) {
    case undefined: case null: return { body: enc(json, guid) };
    case 'plain': return { body: C.plainAnswer(json, guid) };
    case 'garbage': return { body: '<html>not a platform answer</html>' };
    case 'empty': return { body: '' };
    case 'space': return { body: ' ' };
    case 'array': return { body: enc(JSON.stringify([answer.env]), guid) };
    case 'other-device': return { body: C.encryptAnswer(json, guid === OTHER_DEVICE_GUID ? `${guid}-x` : OTHER_DEVICE_GUID) };
    case 'raw': return { body: rule.raw_base64 !== undefined ? Buffer.from(rule.raw_base64, 'base64') : String(rule.raw || '') };
    default: return { body: enc(json, guid) };
  }
}

async function handlePlatform(state, req, res, url, bodyBuf) {
  const now = new Date();
  const method = req.method.toUpperCase();
  const path = url.pathname;
  const headers = decodedHeaders(req);
  const query = searchParamsObject(url.searchParams);
  const ctype = String(req.headers['content-type'] || '');
  let form = null;
  if (bodyBuf.length > 0 && /application\/x-www-form-urlencoded/i.test(ctype)) {
    form = searchParamsObject(new URLSearchParams(bodyBuf.toString('utf8')));
  }
  // GET parameters travel in the query, POST and PUT parameters in the form
  // body; the other place is logged but not read, as a platform would.
  const params = method === 'POST' || method === 'PUT' ? Object.assign({}, form || {}) : query;
  const sys = checkSystemHeader(headers['pellix-system']);
  const v = verify(state, path, params, sys, now.getTime());
  const entry = record(state, {
    time: now.toISOString(), method, path, raw_url: req.url, query, form, params, headers,
    pellix_system: sys.parsed || null, header_ok: v.header_ok, header_error: v.header_error,
    sign_ok: v.sign_ok, expected_sign: v.expected_sign || null, token_state: v.token_state,
    body_length: bodyBuf.length, content_type: ctype || null,
  });
  const rule = takeRule(state, path, method);
  entry.rule = rule ? rule.id : null;
  if (rule && rule.delay_ms > 0) await new Promise((r) => setTimeout(r, rule.delay_ms));

  const op = findOp(path).find((o) => o.method === method);
  let answer;
  if (isForced(rule)) {
    answer = forcedAnswer(rule);
  } else {
    const ctx = { p: params, w: state.world, settings: state.settings, now, issueToken: null };
    ctx.issueToken = () => issueToken(state, ctx);
    answer = normalAnswer(state, ctx, op, v);
    if (rule && rule.data !== undefined && answer.env) answer.env.data = rule.data;
  }
  const out = serialize(state, answer, rule, sys.guid);
  entry.status = answer.status;
  entry.code = answer.env ? answer.env.code : null;
  entry.message = answer.env ? answer.env.message : null;
  entry.answer = answer.env || null;
  const type = (rule && rule.content_type) || out.type || 'application/json; charset=utf-8';
  const body = Buffer.isBuffer(out.body) ? out.body : Buffer.from(out.body, 'utf8');
  res.writeHead(answer.status, { 'Content-Type': type, 'Content-Length': body.length });
  res.end(body);
}

module.exports = { createState, resetState, record, handlePlatform, tokenIssuedMs, OTHER_DEVICE_GUID };
