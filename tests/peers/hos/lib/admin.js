'use strict';
// The test's side door: knobs, the request log, fixtures, and the
// authorisation server that hands out temporary credentials.

const { DEFAULT_CONFIG } = require('./world');

function json(res, status, obj) {
  const body = Buffer.from(JSON.stringify(obj));
  res.writeHead(status, { 'Content-Type': 'application/json', 'Content-Length': body.length });
  res.end(body);
}

async function readJson(req) {
  const chunks = [];
  for await (const c of req) chunks.push(c);
  const text = Buffer.concat(chunks).toString('utf8').trim();
  if (!text) return {};
  return JSON.parse(text);
}

// "yyyy-MM-dd'T'HH:mm:ssZ" with a numeric zone: 2026-12-10T19:00:00+0000.
function expirationText(ms) {
  return new Date(ms).toISOString().replace(/\.\d{3}Z$/, '+0000');
}

function credentialsReply(world, ttlSeconds) {
  const c = world.issueCredentials(ttlSeconds);
  return { StatusCode: 200, AccessKeyId: c.accessKeyId, AccessKeySecret: c.secret, SecurityToken: c.token,
    Expiration: expirationText(c.expiresMs) };
}

function ttlFrom(url, world) {
  const t = url.searchParams.get('ttl');
  return t !== null && /^\d+$/.test(t) ? Number(t) : world.config.authTtlSeconds;
}

// GET /__auth/credentials[?ttl=s]: always HTTP 200; "StatusCode" carries the outcome.
async function handleAuth(world, req, res, ctx) {
  const url = new URL(req.url, 'http://x');
  ctx.op = 'GetCredentials';
  const fault = world.takeFault({ op: ctx.op, method: req.method });
  if (fault && fault.delayMs > 0) await new Promise((r) => setTimeout(r, fault.delayMs));
  if (fault && fault.closeBeforeHead) { req.socket.destroy(); ctx.status = 0; return; }
  const status = (fault && fault.status) || world.config.authStatus;
  ctx.status = 200;
  if (req.method !== 'GET') return json(res, 405, { StatusCode: 405, ErrorMessage: 'GET only' });
  if (status !== 200) {
    return json(res, 200, { StatusCode: status, ErrorCode: 'Forced', ErrorMessage: 'refused by the test' });
  }
  json(res, 200, credentialsReply(world, ttlFrom(url, world)));
}

const CONFIG_KEYS = Object.keys(DEFAULT_CONFIG);

async function handleAdmin(world, req, res) {
  const url = new URL(req.url, 'http://x');
  const what = url.pathname.slice('/__admin/'.length);
  const m = req.method;
  let body = {};
  try {
    if (m === 'POST' || m === 'PUT') body = await readJson(req);
  } catch (e) {
    return json(res, 400, { error: `bad JSON: ${e.message}` });
  }
  switch (`${m} ${what}`) {
    case 'GET config':
      return json(res, 200, world.config);
    case 'POST config': {
      for (const [k, v] of Object.entries(body)) {
        if (!CONFIG_KEYS.includes(k) || typeof v !== 'number') return json(res, 400, { error: `unknown or non-numeric knob ${k}` });
      }
      Object.assign(world.config, body);
      return json(res, 200, world.config);
    }
    case 'GET faults':
      return json(res, 200, world.faults);
    case 'POST faults':
      return json(res, 200, { ids: world.addFaults(Array.isArray(body) ? body : [body]) });
    case 'DELETE faults':
      world.faults = [];
      return json(res, 200, {});
    case 'GET requests':
      return json(res, 200, world.log);
    case 'DELETE requests':
      world.log = [];
      return json(res, 200, {});
    case 'POST tokens':
      return json(res, 200, credentialsReply(world, typeof body.ttlSeconds === 'number' ? body.ttlSeconds : world.config.authTtlSeconds));
    case 'POST tokens/expire':
      for (const t of world.tokens.values()) t.expiresMs = Math.min(t.expiresMs, world.now() - 1000);
      return json(res, 200, {});
    case 'POST buckets': {
      if (typeof body.name !== 'string' || !body.name) return json(res, 400, { error: 'name needed' });
      if (!world.buckets.has(body.name)) world.createBucket(body.name, body.acl || 'private', body.location || '');
      return json(res, 200, {});
    }
    case 'GET objects': {
      const b = world.buckets.get(url.searchParams.get('bucket'));
      if (!b) return json(res, 404, { error: 'no such bucket' });
      return json(res, 200, [...b.objects.values()].map((o) => ({ key: o.key, size: o.size, etag: o.etag,
        crc64: o.crc.toString(), type: o.type, contentType: o.contentType, headers: o.headers, acl: o.acl, file: o.file })));
    }
    case 'GET uploads': {
      const b = world.buckets.get(url.searchParams.get('bucket'));
      if (!b) return json(res, 404, { error: 'no such bucket' });
      return json(res, 200, [...b.uploads.values()].map((u) => ({ key: u.key, uploadId: u.id, sequential: u.sequential,
        parts: [...u.parts.values()].map((p) => ({ partNumber: p.number, size: p.size, etag: p.etag, crc64: p.crc.toString() })) })));
    }
    case 'POST reset':
      world.reset();
      return json(res, 200, {});
    default:
      return json(res, 404, { error: `no admin endpoint ${m} /__admin/${what}` });
  }
}

module.exports = { handleAdmin, handleAuth, expirationText };
