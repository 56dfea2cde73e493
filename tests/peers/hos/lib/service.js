'use strict';
// The storage service's REST interface: addressing, authentication, the
// operations and their replies. Request and response bodies of objects and
// parts stream between the socket and files; only small XML bodies are read
// into memory.

const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const https = require('https');
const { pipeline } = require('stream/promises');
const { Crc64 } = require('./crc64');
const signing = require('./signing');
const xml = require('./xml');

const OP_TYPES = {
  GetService: 0, CreateBucket: 1, DeleteBucket: 2, GetBucket: 3, GetBucketACL: 4, HeadObject: 5, GetObject: 6,
  GetObjectACL: 7, PutObject: 8, PutObjectACL: 9, AppendObject: 10, DeleteObject: 11, DeleteMultipleObjects: 12,
  CopyObject: 13, InitMultipartUpload: 14, UploadPart: 15, CompleteMultipartUpload: 16, AbortMultipartUpload: 17,
  ListParts: 18, ListMultipartUploads: 19, TriggerCallBack: 20,
};

const ACLS = new Set(['default', 'private', 'public-read', 'public-read-write']);
const SMALL_BODY_LIMIT = 1024 * 1024;
const BUCKET_NAME = /^[a-z0-9][a-z0-9_-]{2,62}$/i;
const HTTP_DATE = /^(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d{2} (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d{2}:\d{2}:\d{2} GMT$/;
const STORED_HEADERS = ['Content-Disposition', 'Content-Encoding', 'Cache-Control', 'Expires'];
const DEFAULT_CODES = { 203: 'CallbackFailed', 400: 'InvalidArgument', 403: 'AccessDenied', 404: 'NoSuchKey',
  405: 'MethodNotAllowed', 409: 'OperationConflict', 500: 'InternalError', 503: 'ServiceUnavailable' };

class ServiceError extends Error {
  constructor(status, code, message, extra = {}, headers = {}) {
    super(message);
    this.status = status;
    this.code = code;
    this.extra = extra;
    this.headers = headers;
  }
}

// ---- small helpers ---------------------------------------------------------

function httpDate(ms) {
  return new Date(ms).toUTCString();
}

function isoDate(d) {
  return new Date(d).toISOString();
}

function quoted(hex) {
  return `"${hex}"`;
}

function unquoted(etag) {
  return String(etag || '').trim().replace(/^"|"$/g, '').toUpperCase();
}

// Header value as sent, by case-insensitive name; undefined when absent.
function header(req, name) {
  const v = req.headers[name.toLowerCase()];
  return Array.isArray(v) ? v[0] : v;
}

function splitHost(hostHeader) {
  const h = String(hostHeader || '');
  if (h.startsWith('[')) return h.slice(0, h.indexOf(']') + 1);
  const colon = h.lastIndexOf(':');
  return colon >= 0 ? h.slice(0, colon) : h;
}

// Query items in order; percent-decoding only ("+" stays "+"), last value of a name wins in the map.
function parseQuery(raw) {
  const map = new Map();
  if (!raw) return map;
  for (const item of raw.split('&')) {
    if (item === '') continue;
    const eq = item.indexOf('=');
    const name = decode(eq < 0 ? item : item.slice(0, eq));
    const value = eq < 0 ? '' : decode(item.slice(eq + 1));
    map.set(name, value);
  }
  return map;
}

function decode(text) {
  try {
    return decodeURIComponent(text);
  } catch (_) {
    throw new ServiceError(400, 'InvalidURI', `Could not decode "${text}"`);
  }
}

// Addressing: "<bucket>.<domain>" names the bucket in the host and the key in the path;
// any other host (the domain itself, 127.0.0.1, localhost) is path-style: "/bucket/key".
function address(world, req) {
  const raw = req.url;
  const q = raw.indexOf('?');
  const rawPath = q < 0 ? raw : raw.slice(0, q);
  const query = parseQuery(q < 0 ? '' : raw.slice(q + 1));
  const host = splitHost(header(req, 'host'));
  const suffix = `.${world.domain}`;
  let bucket;
  let key;
  if (host.toLowerCase().endsWith(suffix) && host.length > suffix.length && !host.slice(0, -suffix.length).includes('.')) {
    bucket = host.slice(0, -suffix.length);
    key = decode(rawPath.replace(/^\//, ''));
  } else {
    const p = rawPath.replace(/^\//, '');
    const slash = p.indexOf('/');
    bucket = decode(slash < 0 ? p : p.slice(0, slash));
    key = slash < 0 ? '' : decode(p.slice(slash + 1));
  }
  return { host, bucket: bucket || undefined, key: key || undefined, query };
}

function operation(method, bucket, key, query, req) {
  if (!bucket) return method === 'GET' ? 'GetService' : null;
  if (!key) {
    switch (method) {
      case 'PUT': return query.has('acl') ? null : 'CreateBucket';
      case 'DELETE': return 'DeleteBucket';
      case 'GET': return query.has('acl') ? 'GetBucketACL' : query.has('uploads') ? 'ListMultipartUploads' : 'GetBucket';
      case 'POST': return query.has('delete') ? 'DeleteMultipleObjects' : null;
      default: return null;
    }
  }
  switch (method) {
    case 'HEAD': return 'HeadObject';
    case 'GET': return query.has('acl') ? 'GetObjectACL' : query.has('uploadId') ? 'ListParts' : 'GetObject';
    case 'PUT':
      if (query.has('acl')) return 'PutObjectACL';
      if (query.has('uploadId') || query.has('partNumber')) return 'UploadPart';
      return header(req, 'x-hos-copy-source') !== undefined ? 'CopyObject' : 'PutObject';
    case 'POST':
      if (query.has('append')) return 'AppendObject';
      if (query.has('uploads')) return 'InitMultipartUpload';
      if (query.has('uploadId')) return 'CompleteMultipartUpload';
      if (query.has('x-hos-process')) return 'TriggerCallBack';
      return null;
    case 'DELETE': return query.has('uploadId') ? 'AbortMultipartUpload' : 'DeleteObject';
    default: return null;
  }
}

// ---- bodies ----------------------------------------------------------------

// Streams the request body into `file`, hashing on the way. `crcStart` continues a CRC-64
// (for appends) beside the body's own one.
async function receiveToFile(req, file, crcStart) {
  const md5 = crypto.createHash('md5');
  const sha1 = crypto.createHash('sha1');
  const crc = new Crc64();
  const whole = crcStart === undefined ? null : new Crc64(crcStart);
  let size = 0;
  try {
    await pipeline(req, async function* hashing(source) {
      for await (const chunk of source) {
        md5.update(chunk);
        sha1.update(chunk);
        crc.update(chunk);
        if (whole) whole.update(chunk);
        size += chunk.length;
        req.bytesIn = size;
        yield chunk;
      }
    }, fs.createWriteStream(file));
  } catch (e) {
    fs.rm(file, { force: true }, () => {});
    throw new ServiceError(400, 'IncompleteBody', `The request body could not be taken: ${e.message}`);
  }
  return { file, size, md5: md5.digest(), sha1: sha1.digest('hex'), crc: crc.value(), wholeCrc: whole && whole.value() };
}

async function receiveSmall(req) {
  const chunks = [];
  let size = 0;
  for await (const chunk of req) {
    size += chunk.length;
    req.bytesIn = size;
    if (size > SMALL_BODY_LIMIT) throw new ServiceError(400, 'EntityTooLarge', 'The request body is too large');
    chunks.push(chunk);
  }
  const body = Buffer.concat(chunks);
  return { body, md5: crypto.createHash('md5').update(body).digest(), sha1: crypto.createHash('sha1').update(body).digest('hex') };
}

// Content-MD5 (Base64 of the 16 digest bytes) and x-hos-hash-sha1 (lower-case hex), when sent, must match.
function checkDigests(req, got, md5Required = false) {
  const md5 = header(req, 'content-md5');
  if (md5 === undefined || md5 === '') {
    if (md5Required) throw new ServiceError(400, 'InvalidDigest', 'Content-MD5 is required for this request');
  } else {
    const want = Buffer.from(md5, 'base64');
    if (want.length !== 16 || want.toString('base64') !== md5) {
      throw new ServiceError(400, 'InvalidDigest', 'The Content-MD5 you specified is not valid');
    }
    if (!want.equals(got.md5)) {
      throw new ServiceError(400, 'BadDigest', 'The Content-MD5 you specified did not match what was received',
        { ExpectedContentMD5: md5, CalculatedContentMD5: got.md5.toString('base64') });
    }
  }
  const sha1 = header(req, 'x-hos-hash-sha1');
  if (sha1 !== undefined && sha1 !== '' && sha1 !== got.sha1) {
    throw new ServiceError(400, 'BadDigest', 'The x-hos-hash-sha1 you specified did not match what was received',
      { ExpectedSHA1: sha1, CalculatedSHA1: got.sha1 });
  }
}

function appendFile(target, source, crc) {
  return pipeline(fs.createReadStream(source), async function* checking(chunks) {
    for await (const chunk of chunks) {
      if (crc) crc.update(chunk);
      yield chunk;
    }
  }, fs.createWriteStream(target, { flags: 'a' }));
}

// ---- the reply -------------------------------------------------------------

// Resolves true once `res` can take more, false when its connection went away first.
function drained(res) {
  return new Promise((resolve) => {
    const done = (ok) => { res.off('drain', onDrain); res.off('close', onClose); resolve(ok); };
    const onDrain = () => done(true);
    const onClose = () => done(false);
    res.on('drain', onDrain);
    res.on('close', onClose);
  });
}

// Writes status, headers and body (a Buffer, or { file, start, end } streamed from disk),
// bent by the request's fault when it has one.
async function send(ctx, status, headers, body) {
  const { res, fault, world } = ctx;
  const h = { 'x-hos-request-id': ctx.requestId, ...headers };
  const dateFault = fault && fault.date;
  if (dateFault === 'bad') h.Date = 'not a date';
  else if (typeof dateFault === 'string' && dateFault !== 'missing') h.Date = dateFault;
  else if (dateFault !== 'missing') h.Date = httpDate(world.now());
  const crcKey = 'x-hos-hash-crc64ecma';
  if (fault && fault.crc && h[crcKey] !== undefined) {
    if (fault.crc === 'missing') delete h[crcKey];
    else h[crcKey] = (BigInt(h[crcKey]) ^ 1n).toString();
  }
  // The head as it would be, with nothing after it (the CRC header stays).
  if (fault && fault.emptyBody) {
    body = null;
    h['Content-Length'] = '0';
  }
  if (fault && fault.endlessBody && ctx.req.method !== 'HEAD') return sendEndless(ctx, status, h, body);
  let length = 0;
  if (Buffer.isBuffer(body)) length = body.length;
  else if (body) length = body.end - body.start + 1;
  if (h['Content-Length'] === undefined) h['Content-Length'] = String(length);
  ctx.status = status;
  res.sendDate = false;
  res.writeHead(status, h);
  const limit = fault && Number.isInteger(fault.closeAfterBytes) ? fault.closeAfterBytes : Infinity;
  const chunkSize = fault && fault.chunkSize > 0 ? fault.chunkSize : 0;
  const pause = fault && fault.chunkDelayMs > 0 ? fault.chunkDelayMs : 0;
  if (ctx.req.method === 'HEAD' || length === 0) {
    if (limit !== Infinity) { res.flushHeaders(); res.socket.destroy(); return; }
    res.end();
    return;
  }
  if (limit !== Infinity || chunkSize) res.flushHeaders();
  const source = Buffer.isBuffer(body) ? [body]
    : fs.createReadStream(body.file, { start: body.start, end: body.end, highWaterMark: chunkSize || 65536 });
  let sent = 0;
  try {
    for await (const chunk of source) {
      for (let off = 0; off < chunk.length;) {
        let piece = chunk.subarray(off, chunkSize ? off + chunkSize : chunk.length);
        if (sent + piece.length > limit) piece = piece.subarray(0, limit - sent);
        if (piece.length && !res.write(piece) && !(await drained(res))) {
          if (source.destroy) source.destroy();
          return;
        }
        sent += piece.length;
        off += piece.length;
        ctx.bytesOut = sent;
        if (sent >= limit) {
          // Let the bytes written so far reach the socket before it is torn down.
          await new Promise((r) => res.socket.write('', r));
          res.socket.destroy();
          if (source.destroy) source.destroy();
          return;
        }
        if (pause) await new Promise((r) => setTimeout(r, pause));
        else if (chunkSize) await new Promise((r) => setImmediate(r));
      }
    }
  } catch (e) {
    res.destroy();
    return;
  }
  res.end();
}

// The reply's own body (a Buffer; a file body is not sent), then white space
// without end, chunked, until the client goes away. White space after the
// root element keeps an XML body well-formed however much of it is read.
async function sendEndless(ctx, status, h, body) {
  const { res } = ctx;
  delete h['Content-Length'];
  h['Transfer-Encoding'] = 'chunked';
  ctx.status = status;
  res.sendDate = false;
  res.writeHead(status, h);
  const filler = Buffer.alloc(65536, 0x20);
  let sent = 0;
  for (let piece = Buffer.isBuffer(body) ? body : filler; !res.destroyed; piece = filler) {
    if (!res.write(piece) && !(await drained(res))) return;
    sent += piece.length;
    ctx.bytesOut = sent;
  }
}

function errorBody(ctx, err) {
  const children = [['Code', err.code], ['Message', err.message], ['RequestId', ctx.requestId], ['HostId', ctx.host || '']];
  for (const [k, v] of Object.entries(err.extra || {})) children.push([k, v]);
  return xml.document(['Error', children]);
}

async function sendError(ctx, err) {
  const body = errorBody(ctx, err);
  ctx.errorCode = err.code;
  await send(ctx, err.status, { 'Content-Type': 'application/xml', ...err.headers }, body);
}

function sendXml(ctx, root, headers = {}) {
  return send(ctx, 200, { 'Content-Type': 'application/xml', ...headers }, xml.document(root));
}

// ---- authentication --------------------------------------------------------

function secretFor(world, accessKeyId, token) {
  if (token !== undefined && token !== '') {
    const t = world.tokens.get(token);
    if (!t) throw new ServiceError(403, 'InvalidSecurityToken', 'The security token included in the request is invalid');
    if (t.accessKeyId !== accessKeyId) {
      throw new ServiceError(403, 'InvalidAccessKeyId', 'The access key id does not belong to the security token',
        { HOSAccessKeyId: accessKeyId });
    }
    if (world.now() >= t.expiresMs) {
      throw new ServiceError(403, 'SecurityTokenExpired', 'The security token included in the request has expired',
        { Expiration: isoDate(t.expiresMs) });
    }
    return t.secret;
  }
  const secret = world.keys.get(accessKeyId);
  if (secret === undefined) {
    throw new ServiceError(403, 'InvalidAccessKeyId', 'The access key id does not exist in our records',
      { HOSAccessKeyId: accessKeyId });
  }
  return secret;
}

function authenticate(ctx) {
  const { world, req, query } = ctx;
  const authorization = header(req, 'authorization');
  if (authorization !== undefined) {
    const parsed = signing.parseAuthorization(authorization);
    if (!parsed) throw new ServiceError(403, 'AccessDenied', 'The Authorization header is not of the form "HOS <id>:<signature>"');
    ctx.accessKeyId = parsed.accessKeyId;
    const secret = secretFor(world, parsed.accessKeyId, header(req, 'x-hos-security-token'));
    const date = header(req, 'date');
    if (date === undefined || date === '') throw new ServiceError(403, 'AccessDenied', 'The request has no Date header');
    const sent = HTTP_DATE.test(date) ? Date.parse(date) : NaN;
    if (Number.isNaN(sent)) throw new ServiceError(403, 'AccessDenied', `The Date header "${date}" is not an HTTP date`);
    if (Math.abs(world.now() - sent) > world.config.maxSkewSeconds * 1000) {
      throw new ServiceError(403, 'RequestTimeTooSkewed', 'The difference between the request time and the current time is too large',
        { RequestTime: date, ServerTime: httpDate(world.now()), MaxAllowedSkewMilliseconds: world.config.maxSkewSeconds * 1000 });
    }
    const text = signing.headerStringToSign({
      method: req.method, contentMd5: header(req, 'content-md5'), contentType: header(req, 'content-type'), date,
      rawHeaders: req.rawHeaders, bucket: ctx.bucket, key: ctx.key, query,
    });
    ctx.stringToSign = text;
    if (!signing.sameSignature(signing.hmacSha1Base64(secret, text), parsed.signature)) {
      throw new ServiceError(403, 'SignatureDoesNotMatch', 'The request signature we calculated does not match the signature you provided',
        { StringToSign: text, SignatureProvided: parsed.signature, HOSAccessKeyId: parsed.accessKeyId });
    }
    return;
  }
  if (query.has('Signature') || query.has('HOSAccessKeyId') || query.has('Expires')) {
    const accessKeyId = query.get('HOSAccessKeyId');
    const signature = query.get('Signature');
    const expires = query.get('Expires');
    if (!accessKeyId || !signature || !expires) {
      throw new ServiceError(403, 'AccessDenied', 'A presigned URL needs Signature, HOSAccessKeyId and Expires');
    }
    ctx.accessKeyId = accessKeyId;
    const secret = secretFor(world, accessKeyId, query.get('security-token'));
    if (!/^\d+(\.\d+)?$/.test(expires)) throw new ServiceError(403, 'AccessDenied', `Expires "${expires}" is not a number`);
    if (world.now() / 1000 > Number(expires)) {
      throw new ServiceError(403, 'AccessDenied', 'Request has expired', { Expires: expires, ServerTime: isoDate(world.now()) });
    }
    const candidates = signing.presignStringsToSign({ method: req.method, expires, bucket: ctx.bucket, key: ctx.key || '', query });
    ctx.stringToSign = candidates[0];
    if (!candidates.some((t) => signing.sameSignature(signing.hmacSha1Base64(secret, t), signature))) {
      throw new ServiceError(403, 'SignatureDoesNotMatch', 'The request signature we calculated does not match the signature you provided',
        { StringToSign: candidates[0], SignatureProvided: signature, HOSAccessKeyId: accessKeyId });
    }
    return;
  }
  ctx.anonymous = true;
}

// Anonymous requests may read what public-read makes readable and write into public-read-write buckets.
function checkAnonymous(ctx) {
  if (!ctx.anonymous) return;
  const b = ctx.world.buckets.get(ctx.bucket);
  const o = b && ctx.key ? b.objects.get(ctx.key) : undefined;
  const acl = o && o.acl !== 'default' ? o.acl : b ? b.acl : 'private';
  const reads = ['GetObject', 'HeadObject'].includes(ctx.op);
  const writes = ['PutObject', 'AppendObject'].includes(ctx.op);
  if ((reads && (acl === 'public-read' || acl === 'public-read-write')) || (writes && b && b.acl === 'public-read-write')) return;
  throw new ServiceError(403, 'AccessDenied', 'Anonymous access is forbidden for this operation');
}

// ---- lookups ---------------------------------------------------------------

function needBucket(ctx) {
  const b = ctx.world.buckets.get(ctx.bucket);
  if (!b) throw new ServiceError(404, 'NoSuchBucket', 'The specified bucket does not exist', { BucketName: ctx.bucket });
  return b;
}

function needObject(ctx, b) {
  const o = b.objects.get(ctx.key);
  if (!o) throw new ServiceError(404, 'NoSuchKey', 'The specified key does not exist', { Key: ctx.key });
  return o;
}

function needUpload(ctx, b) {
  const id = ctx.query.get('uploadId');
  const u = b.uploads.get(id);
  if (!u || u.key !== ctx.key) {
    throw new ServiceError(404, 'NoSuchUpload', 'The specified upload does not exist', { UploadId: id || '' });
  }
  return u;
}

function checkKey(key) {
  if (Buffer.byteLength(key, 'utf8') > 1023 || key.startsWith('/') || key.startsWith('\\')) {
    throw new ServiceError(400, 'InvalidObjectName', 'The specified object name is not valid', { Key: key });
  }
}

// Content-Type, the four stored standard headers and x-hos-meta-* (names as sent) of a write.
function metaOf(req) {
  const meta = { contentType: header(req, 'content-type') || 'application/octet-stream', headers: {} };
  for (const name of STORED_HEADERS) {
    const v = header(req, name);
    if (v !== undefined) meta.headers[name] = v;
  }
  for (let i = 0; i + 1 < req.rawHeaders.length; i += 2) {
    if (req.rawHeaders[i].toLowerCase().startsWith('x-hos-meta-')) meta.headers[req.rawHeaders[i]] = req.rawHeaders[i + 1];
  }
  return meta;
}

function objectHeaders(o) {
  const h = {
    'Content-Type': o.contentType, Etag: quoted(o.etag), 'Last-Modified': httpDate(o.lastModified),
    'x-hos-hash-crc64ecma': o.crc.toString(), 'x-hos-object-type': o.type, ...o.headers,
  };
  if (o.type === 'Appendable') h['x-hos-next-append-position'] = String(o.size);
  return h;
}

function storeObject(ctx, b, got, meta, type, etag) {
  const old = b.objects.get(ctx.key);
  const file = ctx.world.newFile('objects');
  fs.renameSync(got.file, file);
  const o = {
    key: ctx.key, file, size: got.size, etag, crc: got.crc, type, lastModified: ctx.world.now(),
    contentType: meta.contentType, headers: meta.headers, acl: old ? old.acl : 'default',
  };
  b.objects.set(ctx.key, o);
  if (old) ctx.world.removeFile(old.file);
  return o;
}

// ---- callbacks -------------------------------------------------------------

function decodeCallback(b64, what) {
  if (b64 === undefined || b64 === '') return undefined;
  let parsed;
  try {
    parsed = JSON.parse(Buffer.from(b64, 'base64').toString('utf8'));
  } catch (_) {
    parsed = undefined;
  }
  if (!parsed || typeof parsed !== 'object' || Array.isArray(parsed)) {
    throw new ServiceError(400, 'InvalidArgument', `The ${what} is not Base64 of a JSON object`);
  }
  return parsed;
}

function parseCallback(cbB64, varB64) {
  const cb = decodeCallback(cbB64, 'callback');
  if (!cb) return undefined;
  const vars = decodeCallback(varB64, 'callback variables') || {};
  let url;
  try {
    url = new URL(String(cb.callbackUrl || ''));
  } catch (_) {
    throw new ServiceError(400, 'InvalidArgument', 'The callback has no valid callbackUrl');
  }
  const host = url.hostname.replace(/^\[|\]$/g, '');
  const loopback = host === 'localhost' || host === '::1' || /^127\.\d+\.\d+\.\d+$/.test(host);
  if (!['http:', 'https:'].includes(url.protocol) || !loopback) {
    throw new ServiceError(400, 'InvalidArgument', 'The callbackUrl must be an http(s) URL on a loopback address');
  }
  return { url, host: cb.callbackHost, body: cb.callbackBody, bodyType: cb.callbackBodyType, vars };
}

// Posts the callback; resolves { ok, status, contentType, body, reason }.
function runCallback(world, cb, facts) {
  const template = cb.body !== undefined ? String(cb.body)
    : 'bucket=${bucket}&object=${object}&etag=${etag}&size=${size}&mimeType=${mimeType}';
  const body = Buffer.from(template.replace(/\$\{([^}]+)\}/g, (all, name) => {
    if (name.startsWith('x:')) return cb.vars[name] !== undefined ? String(cb.vars[name]) : '';
    return facts[name] !== undefined ? String(facts[name]) : all;
  }), 'utf8');
  const mod = cb.url.protocol === 'https:' ? https : http;
  return new Promise((resolve) => {
    const req = mod.request(cb.url, {
      method: 'POST', rejectUnauthorized: false, timeout: world.config.callbackTimeoutMs, agent: false,
      headers: { 'Content-Type': cb.bodyType || 'application/x-www-form-urlencoded', 'Content-Length': body.length,
        ...(cb.host ? { Host: cb.host } : {}) },
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const ok = res.statusCode >= 200 && res.statusCode < 300;
        resolve({ ok, status: res.statusCode, contentType: res.headers['content-type'], body: Buffer.concat(chunks),
          reason: `Error status : ${res.statusCode}.` });
      });
      res.on('error', (e) => resolve({ ok: false, reason: e.message }));
    });
    req.on('timeout', () => req.destroy(new Error('callback timed out')));
    req.on('error', (e) => resolve({ ok: false, reason: e.message }));
    req.end(body);
  });
}

// The reply of a write that asked for a callback: the callback's own answer, or 203 CallbackFailed.
async function sendCallbackOutcome(ctx, outcome, headers) {
  if (outcome.ok) {
    return send(ctx, 200, { ...headers, 'Content-Type': outcome.contentType || 'application/json' }, outcome.body);
  }
  const err = new ServiceError(203, 'CallbackFailed', `Response body is not valid json format. ${outcome.reason}`);
  ctx.errorCode = err.code;
  return send(ctx, 203, { ...headers, 'Content-Type': 'application/xml' }, errorBody(ctx, err));
}

// ---- listings --------------------------------------------------------------

function intParam(query, name, dflt, max) {
  if (!query.has(name)) return dflt;
  const v = query.get(name);
  if (!/^\d+$/.test(v)) throw new ServiceError(400, 'InvalidArgument', `${name} must be a non-negative integer`);
  return Math.min(Number(v), max);
}

// Keys after `marker` under `prefix`, grouped at `delimiter`, cut at `max` entries (keys and prefixes together).
function pageKeys(keys, { prefix = '', marker = '', delimiter = '', max }) {
  const entries = [];
  const prefixes = [];
  const seen = new Set();
  let truncated = false;
  let last = '';
  for (const key of keys) {
    if (!key.startsWith(prefix) || key <= marker) continue;
    let common;
    if (delimiter) {
      const at = key.indexOf(delimiter, prefix.length);
      if (at >= 0) common = key.slice(0, at + delimiter.length);
    }
    if (common !== undefined && seen.has(common)) continue;
    if (entries.length + prefixes.length >= max) { truncated = true; break; }
    if (common !== undefined) { seen.add(common); prefixes.push(common); last = common; } else { entries.push(key); last = key; }
  }
  return { entries, prefixes, truncated, next: truncated ? last : '' };
}

// ---- operations ------------------------------------------------------------

const OPS = {
  async GetService(ctx) {
    const q = ctx.query;
    const names = [...ctx.world.buckets.keys()].sort();
    const page = pageKeys(names, { prefix: q.get('prefix') || '', marker: q.get('marker') || '', max: intParam(q, 'max-keys', 1000, 1000) });
    const owner = ctx.world.owner;
    await sendXml(ctx, ['ListAllMyBucketsResult', [
      q.has('prefix') ? ['Prefix', q.get('prefix')] : null,
      q.has('marker') ? ['Marker', q.get('marker')] : null,
      q.has('max-keys') ? ['MaxKeys', q.get('max-keys')] : null,
      ['IsTruncated', String(page.truncated)],
      page.truncated ? ['NextMarker', page.next] : null,
      ['Owner', [['ID', owner.id], ['DisplayName', owner.displayName]]],
      ['Buckets', page.entries.map((n) => {
        const b = ctx.world.buckets.get(n);
        return ['Bucket', [['Name', n], ['CreationDate', isoDate(b.created)], ['Location', b.location || 'hos-local']]];
      })],
    ]]);
  },

  async CreateBucket(ctx) {
    const got = await receiveSmall(ctx.req);
    checkDigests(ctx.req, got);
    if (!BUCKET_NAME.test(ctx.bucket)) throw new ServiceError(400, 'InvalidBucketName', 'The specified bucket is not valid', { BucketName: ctx.bucket });
    const acl = header(ctx.req, 'x-hos-acl') || 'private';
    if (!ACLS.has(acl) || acl === 'default') throw new ServiceError(400, 'InvalidArgument', `Unknown ACL "${acl}"`);
    let location = '';
    if (got.body.length) {
      const text = got.body.toString('utf8');
      if (!/<CreateBucketConfiguration>/.test(text)) throw new ServiceError(400, 'MalformedXML', 'The XML you provided was not well-formed');
      location = xml.text(text, 'LocationConstraint') || '';
    }
    if (ctx.world.buckets.has(ctx.bucket)) {
      throw new ServiceError(409, 'BucketAlreadyExists', 'The requested bucket name is not available', { BucketName: ctx.bucket });
    }
    ctx.world.createBucket(ctx.bucket, acl, location);
    await send(ctx, 200, { Location: `/${ctx.bucket}` });
  },

  async DeleteBucket(ctx) {
    const b = needBucket(ctx);
    if (b.objects.size || b.uploads.size) {
      throw new ServiceError(409, 'BucketNotEmpty', 'The bucket you tried to delete is not empty', { BucketName: ctx.bucket });
    }
    ctx.world.buckets.delete(ctx.bucket);
    await send(ctx, 204, {});
  },

  async GetBucket(ctx) {
    const b = needBucket(ctx);
    const q = ctx.query;
    const opts = { prefix: q.get('prefix') || '', marker: q.get('marker') || '', delimiter: q.get('delimiter') || '',
      max: intParam(q, 'max-keys', 100, 1000) };
    const page = pageKeys([...b.objects.keys()].sort(), opts);
    const owner = ctx.world.owner;
    await sendXml(ctx, ['ListBucketResult', [
      ['Name', b.name], ['Prefix', opts.prefix], ['Marker', opts.marker], ['MaxKeys', String(opts.max)],
      ['Delimiter', opts.delimiter], ['IsTruncated', String(page.truncated)],
      page.truncated ? ['NextMarker', page.next] : null,
      ...page.entries.map((k) => {
        const o = b.objects.get(k);
        return ['Contents', [['Key', k], ['LastModified', isoDate(o.lastModified)], ['ETag', quoted(o.etag)],
          ['Type', o.type], ['Size', String(o.size)], ['StorageClass', 'Standard'],
          ['Owner', [['ID', owner.id], ['DisplayName', owner.displayName]]]]];
      }),
      ...page.prefixes.map((p) => ['CommonPrefixes', [['Prefix', p]]]),
    ]]);
  },

  async GetBucketACL(ctx) {
    const b = needBucket(ctx);
    const owner = ctx.world.owner;
    await sendXml(ctx, ['AccessControlPolicy', [['Owner', [['ID', owner.id], ['DisplayName', owner.displayName]]],
      ['AccessControlList', [['Grant', b.acl]]]]]);
  },

  async HeadObject(ctx) {
    const o = needObject(ctx, needBucket(ctx));
    await send(ctx, 200, { ...objectHeaders(o), 'Content-Length': String(o.size) });
  },

  async GetObject(ctx) {
    const o = needObject(ctx, needBucket(ctx));
    const h = objectHeaders(o);
    const range = parseRange(header(ctx.req, 'range'), o.size);
    if (range === 'unsatisfiable') {
      throw new ServiceError(416, 'InvalidRange', 'The requested range is not satisfiable',
        { RangeRequested: header(ctx.req, 'range'), ActualObjectSize: String(o.size) });
    }
    if (range) {
      h['Content-Range'] = `bytes ${range.start}-${range.end}/${o.size}`;
      h['Accept-Ranges'] = 'bytes';
      return send(ctx, 206, h, { file: o.file, start: range.start, end: range.end });
    }
    await send(ctx, 200, h, o.size ? { file: o.file, start: 0, end: o.size - 1 } : null);
  },

  async GetObjectACL(ctx) {
    const o = needObject(ctx, needBucket(ctx));
    const owner = ctx.world.owner;
    await sendXml(ctx, ['AccessControlPolicy', [['Owner', [['ID', owner.id], ['DisplayName', owner.displayName]]],
      ['AccessControlList', [['Grant', o.acl]]]]]);
  },

  async PutObject(ctx) {
    const b = needBucket(ctx);
    checkKey(ctx.key);
    const cb = parseCallback(header(ctx.req, 'x-hos-callback'), header(ctx.req, 'x-hos-callback-var'));
    const got = await receiveToFile(ctx.req, ctx.world.newFile('incoming'));
    try {
      checkDigests(ctx.req, got);
    } catch (e) {
      ctx.world.removeFile(got.file);
      throw e;
    }
    const o = storeObject(ctx, b, got, metaOf(ctx.req), 'Normal', got.md5.toString('hex').toUpperCase());
    const h = { Etag: quoted(o.etag), 'x-hos-hash-crc64ecma': o.crc.toString() };
    if (!cb) return send(ctx, 200, h);
    const outcome = await runCallback(ctx.world, cb, factsOf(b, o));
    await sendCallbackOutcome(ctx, outcome, h);
  },

  async PutObjectACL(ctx) {
    const o = needObject(ctx, needBucket(ctx));
    const acl = header(ctx.req, 'x-hos-object-acl');
    if (acl === undefined || !ACLS.has(acl)) throw new ServiceError(400, 'InvalidArgument', `Unknown object ACL "${acl}"`);
    await receiveSmall(ctx.req);
    o.acl = acl;
    await send(ctx, 200, {});
  },

  async AppendObject(ctx) {
    const b = needBucket(ctx);
    checkKey(ctx.key);
    const posText = ctx.query.get('position');
    if (!/^\d+$/.test(posText || '')) throw new ServiceError(400, 'InvalidArgument', 'position must be a non-negative integer');
    const position = Number(posText);
    const old = b.objects.get(ctx.key);
    if (old && old.type !== 'Appendable') {
      throw new ServiceError(409, 'ObjectNotAppendable', 'The object is not appendable');
    }
    const length = old ? old.size : 0;
    if (position !== length) {
      throw new ServiceError(409, 'PositionNotEqualToLength', 'Position is not equal to file length', {},
        { 'x-hos-next-append-position': String(length) });
    }
    const got = await receiveToFile(ctx.req, ctx.world.newFile('incoming'), old ? old.crc : 0n);
    try {
      checkDigests(ctx.req, got);
      // Another append may have landed while this body was arriving.
      const now = b.objects.get(ctx.key);
      if ((now ? now.size : 0) !== length || now !== old) {
        throw new ServiceError(409, 'PositionNotEqualToLength', 'Position is not equal to file length', {},
          { 'x-hos-next-append-position': String(now ? now.size : 0) });
      }
    } catch (e) {
      ctx.world.removeFile(got.file);
      throw e;
    }
    let o;
    if (!old) {
      o = storeObject(ctx, b, got, metaOf(ctx.req), 'Appendable', got.md5.toString('hex').toUpperCase());
    } else {
      await appendFile(old.file, got.file);
      ctx.world.removeFile(got.file);
      o = old;
      o.size += got.size;
      o.crc = got.wholeCrc;
      o.lastModified = ctx.world.now();
      o.etag = crypto.createHash('md5').update(`${o.etag}:${got.md5.toString('hex')}`).digest('hex').toUpperCase();
    }
    await send(ctx, 200, { Etag: quoted(o.etag), 'x-hos-next-append-position': String(o.size),
      'x-hos-hash-crc64ecma': o.crc.toString() });
  },

  async DeleteObject(ctx) {
    const b = needBucket(ctx);
    const o = b.objects.get(ctx.key);
    if (o) {
      b.objects.delete(ctx.key);
      ctx.world.removeFile(o.file);
    }
    await send(ctx, 204, {});
  },

  async DeleteMultipleObjects(ctx) {
    const b = needBucket(ctx);
    const got = await receiveSmall(ctx.req);
    checkDigests(ctx.req, got, true);
    const text = got.body.toString('utf8');
    if (!/<Delete>/.test(text)) throw new ServiceError(400, 'MalformedXML', 'The XML you provided was not well-formed');
    const quiet = (xml.text(text, 'Quiet') || 'false').toLowerCase() === 'true';
    const keys = xml.texts(text, 'Object').map((o) => {
      const k = xml.texts(o, 'Key');
      return k.length ? xml.unesc(k[0]) : '';
    });
    if (!keys.length || keys.length > 1000) throw new ServiceError(400, 'MalformedXML', 'Between 1 and 1000 keys must be given');
    const url = ctx.query.get('encoding-type') === 'url';
    const deleted = [];
    for (const k of keys) {
      const o = b.objects.get(k);
      if (o) {
        b.objects.delete(k);
        ctx.world.removeFile(o.file);
      }
      deleted.push(k);
    }
    await sendXml(ctx, ['DeleteResult', [
      url ? ['EncodingType', 'url'] : null,
      ...(quiet ? [] : deleted.map((k) => ['Deleted', [['Key', url ? encodeURIComponent(k) : k]]])),
    ]]);
  },

  async CopyObject(ctx) {
    const b = needBucket(ctx);
    checkKey(ctx.key);
    const source = decode(header(ctx.req, 'x-hos-copy-source')).replace(/^\//, '');
    const slash = source.indexOf('/');
    if (slash <= 0 || slash === source.length - 1) {
      throw new ServiceError(400, 'InvalidArgument', 'x-hos-copy-source must be "/<bucket>/<key>"');
    }
    const sb = ctx.world.buckets.get(source.slice(0, slash));
    const so = sb && sb.objects.get(source.slice(slash + 1));
    if (!so) throw new ServiceError(404, 'NoSuchKey', 'The specified copy source does not exist', { Key: source });
    await receiveSmall(ctx.req);
    const replace = (header(ctx.req, 'x-hos-metadata-directive') || 'COPY').toUpperCase() === 'REPLACE';
    const meta = replace ? metaOf(ctx.req) : { contentType: so.contentType, headers: { ...so.headers } };
    const file = ctx.world.newFile('incoming');
    await fs.promises.copyFile(so.file, file);
    const o = storeObject(ctx, b, { file, size: so.size, crc: so.crc }, meta, so.type === 'Appendable' ? 'Normal' : so.type, so.etag);
    await sendXml(ctx, ['CopyObjectResult', [['LastModified', isoDate(o.lastModified)], ['ETag', quoted(o.etag)]]],
      { 'x-hos-hash-crc64ecma': o.crc.toString() });
  },

  async InitMultipartUpload(ctx) {
    const b = needBucket(ctx);
    checkKey(ctx.key);
    await receiveSmall(ctx.req);
    const id = crypto.randomBytes(16).toString('hex').toUpperCase();
    b.uploads.set(id, { id, key: ctx.key, initiated: ctx.world.now(), sequential: ctx.query.has('sequential'),
      meta: metaOf(ctx.req), parts: new Map() });
    await sendXml(ctx, ['InitiateMultipartUploadResult', [['Bucket', b.name], ['Key', ctx.key], ['UploadId', id]]]);
  },

  async UploadPart(ctx) {
    const b = needBucket(ctx);
    const n = ctx.query.get('partNumber');
    if (!/^\d+$/.test(n || '') || Number(n) < 1 || Number(n) > 10000) {
      throw new ServiceError(400, 'InvalidArgument', 'partNumber must be an integer from 1 to 10000');
    }
    const u = needUpload(ctx, b);
    const number = Number(n);
    if (u.sequential && !u.parts.has(number) && number !== u.parts.size + 1) {
      throw new ServiceError(400, 'InvalidPartOrder', `A sequential upload takes part ${u.parts.size + 1} next, not ${number}`);
    }
    const got = await receiveToFile(ctx.req, ctx.world.newFile('parts'));
    try {
      checkDigests(ctx.req, got);
      if (!b.uploads.has(u.id)) throw new ServiceError(404, 'NoSuchUpload', 'The specified upload does not exist', { UploadId: u.id });
    } catch (e) {
      ctx.world.removeFile(got.file);
      throw e;
    }
    const old = u.parts.get(number);
    if (old) ctx.world.removeFile(old.file);
    const part = { number, file: got.file, size: got.size, md5: got.md5, etag: got.md5.toString('hex').toUpperCase(),
      crc: got.crc, lastModified: ctx.world.now() };
    u.parts.set(number, part);
    await send(ctx, 200, { Etag: quoted(part.etag), 'x-hos-hash-crc64ecma': part.crc.toString() });
  },

  async CompleteMultipartUpload(ctx) {
    const b = needBucket(ctx);
    const u = needUpload(ctx, b);
    const cb = parseCallback(header(ctx.req, 'x-hos-callback'), header(ctx.req, 'x-hos-callback-var'));
    const got = await receiveSmall(ctx.req);
    checkDigests(ctx.req, got);
    const text = got.body.toString('utf8');
    if (!/<CompleteMultipartUpload>/.test(text)) throw new ServiceError(400, 'MalformedXML', 'The XML you provided was not well-formed');
    const listed = xml.texts(text, 'Part').map((p) => ({ number: Number(xml.text(p, 'PartNumber')), etag: xml.text(p, 'ETag') }));
    if (!listed.length) throw new ServiceError(400, 'MalformedXML', 'The part list is empty');
    const parts = [];
    let previous = 0;
    for (const l of listed) {
      if (!Number.isInteger(l.number) || l.number <= previous) {
        throw new ServiceError(400, 'InvalidPartOrder', 'The list of parts was not in ascending order');
      }
      previous = l.number;
      const p = u.parts.get(l.number);
      if (!p || unquoted(l.etag) !== p.etag) {
        throw new ServiceError(400, 'InvalidPart', 'One or more of the specified parts could not be found or its ETag did not match',
          { PartNumber: String(l.number), ETag: l.etag || '' });
      }
      parts.push(p);
    }
    for (const p of parts.slice(0, -1)) {
      if (p.size < ctx.world.config.minPartSize) {
        throw new ServiceError(400, 'EntityTooSmall', 'A part other than the last is smaller than the minimum part size',
          { PartNumber: String(p.number), MinSizeAllowed: String(ctx.world.config.minPartSize) });
      }
    }
    const file = ctx.world.newFile('incoming');
    fs.writeFileSync(file, Buffer.alloc(0));
    const crc = new Crc64();
    for (const p of parts) await appendFile(file, p.file, crc);
    if (b.uploads.get(u.id) !== u) {
      ctx.world.removeFile(file);
      throw new ServiceError(404, 'NoSuchUpload', 'The specified upload does not exist', { UploadId: u.id });
    }
    const etag = `${crypto.createHash('md5').update(Buffer.concat(parts.map((p) => p.md5))).digest('hex').toUpperCase()}-${parts.length}`;
    const size = parts.reduce((s, p) => s + p.size, 0);
    const o = storeObject(ctx, b, { file, size, crc: crc.value() }, u.meta, 'Multipart', etag);
    b.uploads.delete(u.id);
    for (const p of u.parts.values()) ctx.world.removeFile(p.file);
    const h = { Etag: quoted(o.etag), 'x-hos-hash-crc64ecma': o.crc.toString() };
    if (!cb) {
      return sendXml(ctx, ['CompleteMultipartUploadResult', [['Location', `http://${b.name}.${ctx.world.domain}/${ctx.key}`],
        ['Bucket', b.name], ['Key', ctx.key], ['ETag', quoted(o.etag)]]], h);
    }
    const outcome = await runCallback(ctx.world, cb, factsOf(b, o));
    await sendCallbackOutcome(ctx, outcome, h);
  },

  async AbortMultipartUpload(ctx) {
    const b = needBucket(ctx);
    const u = needUpload(ctx, b);
    b.uploads.delete(u.id);
    for (const p of u.parts.values()) ctx.world.removeFile(p.file);
    await send(ctx, 204, {});
  },

  async ListParts(ctx) {
    const b = needBucket(ctx);
    const u = needUpload(ctx, b);
    const q = ctx.query;
    const max = intParam(q, 'max-parts', ctx.world.config.listPartsMax, 1000);
    const marker = intParam(q, 'part-number-marker', 0, 10000);
    const all = [...u.parts.values()].filter((p) => p.number > marker).sort((x, y) => x.number - y.number);
    const page = all.slice(0, max);
    const truncated = all.length > page.length;
    await sendXml(ctx, ['ListPartsResult', [
      ['Bucket', b.name], ['Key', u.key], ['UploadId', u.id], ['PartNumberMarker', String(marker)],
      ['NextPartNumberMarker', String(page.length ? page[page.length - 1].number : marker)],
      ['MaxParts', String(max)], ['IsTruncated', String(truncated)],
      ...page.map((p) => ['Part', [['PartNumber', String(p.number)], ['LastModified', isoDate(p.lastModified)],
        ['ETag', quoted(p.etag)], ['Size', String(p.size)]]]),
    ]]);
  },

  async ListMultipartUploads(ctx) {
    const b = needBucket(ctx);
    const q = ctx.query;
    const prefix = q.get('prefix') || '';
    const delimiter = q.get('delimiter') || '';
    const keyMarker = q.get('key-marker') || '';
    const idMarker = q.get('upload-id-marker') || '';
    const max = intParam(q, 'max-uploads', 1000, 1000);
    const sorted = [...b.uploads.values()].sort((x, y) => (x.key < y.key ? -1 : x.key > y.key ? 1 : x.initiated - y.initiated));
    const uploads = [];
    const prefixes = [];
    let truncated = false;
    for (const u of sorted) {
      if (!u.key.startsWith(prefix)) continue;
      if (u.key < keyMarker || (u.key === keyMarker && (!idMarker || u.id <= idMarker))) continue;
      let common;
      if (delimiter) {
        const at = u.key.indexOf(delimiter, prefix.length);
        if (at >= 0) common = u.key.slice(0, at + delimiter.length);
      }
      if (common !== undefined && prefixes.includes(common)) continue;
      if (uploads.length + prefixes.length >= max) { truncated = true; break; }
      if (common !== undefined) prefixes.push(common); else uploads.push(u);
    }
    const last = uploads[uploads.length - 1];
    await sendXml(ctx, ['ListMultipartUploadsResult', [
      ['Bucket', b.name], ['KeyMarker', keyMarker], ['UploadIdMarker', idMarker],
      ['NextKeyMarker', truncated && last ? last.key : ''], ['NextUploadIdMarker', truncated && last ? last.id : ''],
      ['Delimiter', delimiter], ['Prefix', prefix], ['MaxUploads', String(max)], ['IsTruncated', String(truncated)],
      ...uploads.map((u) => ['Upload', [['Key', u.key], ['UploadId', u.id], ['Initiated', isoDate(u.initiated)]]]),
      ...prefixes.map((p) => ['CommonPrefixes', [['Prefix', p]]]),
    ]]);
  },

  async TriggerCallBack(ctx) {
    const b = needBucket(ctx);
    const got = await receiveSmall(ctx.req);
    checkDigests(ctx.req, got);
    const m = /^x-hos-process=trigger\/callback,callback_([^,]*),callback-var_(.*)$/s.exec(got.body.toString('utf8'));
    if (!m || m[1] === '') throw new ServiceError(400, 'InvalidArgument', 'The body must be "x-hos-process=trigger/callback,callback_<b64>,callback-var_<b64>"');
    const cb = parseCallback(m[1], m[2]);
    const o = needObject(ctx, b);
    const outcome = await runCallback(ctx.world, cb, factsOf(b, o));
    await sendCallbackOutcome(ctx, outcome, {});
  },
};

function factsOf(b, o) {
  return { bucket: b.name, object: o.key, etag: o.etag, size: o.size, mimeType: o.contentType, crc64: o.crc.toString() };
}

// "bytes=a-b", "bytes=a-" or "bytes=-n" against `size`; null (whole object) for anything else.
function parseRange(text, size) {
  if (text === undefined) return null;
  const m = /^bytes=(\d*)-(\d*)$/.exec(text.trim());
  if (!m || (m[1] === '' && m[2] === '')) return null;
  let start;
  let end;
  if (m[1] === '') {
    const n = Number(m[2]);
    if (n === 0) return 'unsatisfiable';
    start = Math.max(0, size - n);
    end = size - 1;
  } else {
    start = Number(m[1]);
    end = m[2] === '' ? size - 1 : Math.min(Number(m[2]), size - 1);
    if (m[2] !== '' && Number(m[2]) < start) return null;
  }
  if (start >= size) return 'unsatisfiable';
  return { start, end };
}

// ---- entry -----------------------------------------------------------------

function drain(req) {
  req.resume();
  req.on('error', () => {});
}

async function handleService(world, req, res, ctx) {
  const a = address(world, req);
  Object.assign(ctx, a);
  ctx.op = operation(req.method, a.bucket, a.key, a.query, req);
  ctx.type = ctx.op ? OP_TYPES[ctx.op] : undefined;
  ctx.partNumber = a.query.get('partNumber');
  ctx.fault = world.takeFault({ op: ctx.op, type: ctx.type, method: req.method, bucket: a.bucket, key: a.key,
    partNumber: ctx.partNumber });
  if (ctx.fault && ctx.fault.delayMs > 0) await new Promise((r) => setTimeout(r, ctx.fault.delayMs));
  if (ctx.fault && ctx.fault.closeBeforeHead) {
    drain(req);
    req.on('end', () => req.socket.destroy());
    ctx.status = 0;
    return;
  }
  if (ctx.fault && ctx.fault.status) {
    drain(req);
    const status = ctx.fault.status;
    const code = ctx.fault.code || DEFAULT_CODES[status] || 'ForcedError';
    return sendError(ctx, new ServiceError(status, code, ctx.fault.message || `Forced by the test (${code})`));
  }
  if (ctx.fault && typeof ctx.fault.replyBody === 'string') {
    drain(req);
    return send(ctx, 200, { 'Content-Type': 'application/xml' }, Buffer.from(ctx.fault.replyBody, 'utf8'));
  }
  if (!ctx.op) {
    throw new ServiceError(405, 'MethodNotAllowed', `${req.method} is not supported on this resource`);
  }
  authenticate(ctx);
  checkAnonymous(ctx);
  await OPS[ctx.op](ctx);
}

module.exports = { handleService, sendError, ServiceError, drain };
