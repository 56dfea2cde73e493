'use strict';
// The object-store stand-in's own test: requests signed by the client's rules,
// objects in and out, a 3-part multipart upload, the error answers, temporary
// credentials, presigned URLs, callbacks and the fault knobs.

const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const C = require('./client');

let server;
let tmp;
let certs;
let creds;
const BUCKET = 'pics';

test.before(async () => {
  tmp = C.tempDir();
  certs = C.makeCerts(tmp, 'test.hos.halvane.com');
  server = await C.startServer(['--cert', certs.cert, '--key', certs.key, '--bucket', BUCKET]);
  creds = { id: server.accessKeyId, secret: server.accessKeySecret };
});

test.after(async () => {
  if (server) assert.equal(await server.stop(), 0);
  fs.rmSync(tmp, { recursive: true, force: true });
});

test.afterEach(async () => {
  await C.admin(server, 'DELETE', 'faults');
  await C.admin(server, 'POST', 'config', { clockOffsetSeconds: 0, authStatus: 200 });
});

const put = (key, body, headers = {}, extra = {}) => C.send(server, { method: 'PUT', bucket: BUCKET, key, body, headers, creds, ...extra });
const get = (key, extra = {}) => C.send(server, { bucket: BUCKET, key, creds, ...extra });

test('a signed put answers Etag, the CRC-64, a request id and a Date; get and head give the object back', async () => {
  const body = Buffer.from('123456789');
  const md5 = crypto.createHash('md5').update(body).digest('hex').toUpperCase();
  const headers = { 'Content-Type': 'text/plain', 'Content-MD5': C.md5b64(body), 'x-hos-meta-b': '2', 'x-hos-meta-a': '1' };
  const w = await put('dir/photo one.jpg', body, headers);
  assert.equal(w.status, 200, w.text);
  const names = C.rawHeaderNames(w);
  for (const n of ['Etag', 'x-hos-hash-crc64ecma', 'x-hos-request-id', 'Date']) assert.ok(names.includes(n), `${n} in ${names}`);
  assert.equal(w.headers.etag, `"${md5}"`);
  assert.equal(w.headers['x-hos-hash-crc64ecma'], '11051210869376104954');
  assert.ok(Math.abs(Date.parse(w.headers.date) - Date.now()) < 5000);

  // The server rebuilt exactly the text the client signed.
  const log = (await C.admin(server, 'GET', 'requests')).json;
  const mine = log.find((e) => e.requestId === w.headers['x-hos-request-id']);
  assert.equal(mine.op, 'PutObject');
  assert.equal(mine.stringToSign, `PUT\n${headers['Content-MD5']}\ntext/plain\n${mine.headers[mine.headers.indexOf('Date') + 1]}\n` +
    'x-hos-meta-a:1\nx-hos-meta-b:2\n/pics/dir/photo one.jpg');

  const r = await get('dir/photo one.jpg');
  assert.equal(r.status, 200);
  assert.equal(r.text, '123456789');
  assert.equal(r.headers['x-hos-hash-crc64ecma'], '11051210869376104954');
  assert.equal(r.headers['content-type'], 'text/plain');
  assert.equal(r.headers['x-hos-meta-a'], '1');
  assert.equal(r.headers['x-hos-object-type'], 'Normal');
  assert.ok(C.rawHeaderNames(r).includes('Etag'));

  const h = await C.send(server, { method: 'HEAD', bucket: BUCKET, key: 'dir/photo one.jpg', creds });
  assert.equal(h.status, 200);
  assert.equal(h.headers['content-length'], '9');
  assert.equal(h.body.length, 0);

  // Path-style addressing names the same object.
  const p = await C.send(server, { bucket: BUCKET, key: 'dir/photo one.jpg', creds, pathStyle: true });
  assert.equal(p.text, '123456789');
});

test('ranges: closed, open, suffix; unsatisfiable is 416; malformed gives the whole object', async () => {
  await put('range.bin', Buffer.from('0123456789'));
  const cases = [
    ['bytes=2-4', 206, '234', 'bytes 2-4/10'],
    ['bytes=7-', 206, '789', 'bytes 7-9/10'],
    ['bytes=-3', 206, '789', 'bytes 7-9/10'],
    ['bytes=5-100', 206, '56789', 'bytes 5-9/10'],
    ['bytes=-1--1', 200, '0123456789', undefined],
    ['bytes=10-', 416, null, undefined],
  ];
  for (const [range, status, body, contentRange] of cases) {
    const r = await get('range.bin', { headers: { Range: range } });
    assert.equal(r.status, status, range);
    if (body !== null) assert.equal(r.text, body, range);
    assert.equal(r.headers['content-range'], contentRange, range);
    if (status === 416) assert.equal(C.tag(r.text, 'Code'), 'InvalidRange');
  }
});

test('error answers carry the service XML with the code', async () => {
  const now = Date.now();
  const cases = [
    { name: 'wrong secret', req: { creds: { id: creds.id, secret: 'nope' } }, status: 403, code: 'SignatureDoesNotMatch' },
    { name: 'unknown key id', req: { creds: { id: 'NOBODY', secret: 'x' } }, status: 403, code: 'InvalidAccessKeyId' },
    { name: 'x-hos- header changed after signing', req: { headers: { 'x-hos-meta-a': '1' }, tamper: (h) => { h['x-hos-meta-a'] = '2'; } },
      status: 403, code: 'SignatureDoesNotMatch' },
    { name: 'sub-resource left out of the signature', req: { query: { acl: '' }, tamper: (h) => {
      h.Authorization = `HOS ${creds.id}:${C.hmac(creds.secret, C.stringToSign({ method: 'GET', headers: h, bucket: BUCKET, key: 'x', query: {} }))}`;
    } }, status: 403, code: 'SignatureDoesNotMatch' },
    { name: 'date 16 minutes old', req: { date: C.httpDate(now - 16 * 60000) }, status: 403, code: 'RequestTimeTooSkewed' },
    { name: 'date 16 minutes ahead', req: { date: C.httpDate(now + 16 * 60000) }, status: 403, code: 'RequestTimeTooSkewed' },
    { name: 'date 14 minutes old', req: { date: C.httpDate(now - 14 * 60000) }, status: 404, code: 'NoSuchKey' },
    { name: 'no Date', req: { tamper: (h) => { delete h.Date; } }, status: 403, code: 'AccessDenied' },
    { name: 'anonymous read of a private object', req: { creds: null }, status: 403, code: 'AccessDenied' },
    { name: 'missing key', req: {}, status: 404, code: 'NoSuchKey' },
    { name: 'missing bucket', req: { bucket: 'nosuchbucket' }, status: 404, code: 'NoSuchBucket' },
    { name: 'unknown upload id', req: { query: { uploadId: 'NOPE' } }, status: 404, code: 'NoSuchUpload' },
    { name: 'part to unknown upload id', req: { method: 'PUT', query: { partNumber: '1', uploadId: 'NOPE' }, body: 'x' },
      status: 404, code: 'NoSuchUpload' },
    { name: 'Content-MD5 of other bytes', req: { method: 'PUT', key: 'bad-md5', body: 'abc', headers: { 'Content-MD5': C.md5b64(Buffer.from('abd')) } },
      status: 400, code: 'BadDigest' },
    { name: 'verb without an operation', req: { method: 'POST', query: {} }, status: 405, code: 'MethodNotAllowed' },
  ];
  for (const c of cases) {
    const r = await C.send(server, { bucket: BUCKET, key: 'x', creds, ...c.req });
    assert.equal(r.status, c.status, `${c.name}: ${r.text}`);
    if (c.status >= 300) {
      assert.equal(r.headers['content-type'], 'application/xml', c.name);
      assert.equal(C.tag(r.text, 'Code'), c.code, c.name);
      assert.equal(C.tag(r.text, 'RequestId'), r.headers['x-hos-request-id'], c.name);
    }
  }
  // A rejected upload stores nothing.
  assert.equal((await get('bad-md5')).status, 404);
});

test('SignatureDoesNotMatch returns the string to sign; capitalised X-HOS- headers are not part of it', async () => {
  const r = await C.send(server, { bucket: BUCKET, key: 'k', creds: { id: creds.id, secret: 'wrong' }, query: { uploadId: 'u1', partNumber: '3', 'max-parts': '10' },
    headers: { 'x-hos-meta-b': '2', 'X-HOS-Meta-c': '3', 'x-hos-meta-a': '1' } });
  assert.equal(C.tag(r.text, 'Code'), 'SignatureDoesNotMatch');
  const sts = C.tag(r.text, 'StringToSign');
  assert.match(sts, /^GET\n\n\n[^\n]+ GMT\nx-hos-meta-a:1\nx-hos-meta-b:2\n\/pics\/k\?partNumber=3&uploadId=u1$/);

  const ok = await C.send(server, { method: 'PUT', bucket: BUCKET, key: 'caps', body: 'c', creds, headers: { 'X-HOS-Meta-c': '3' } });
  assert.equal(ok.status, 200, ok.text);
});

test('the server-clock offset knob: a skewed client is refused, and signing with the answer\'s Date succeeds', async () => {
  await put('clock.txt', 'tick');
  await C.admin(server, 'POST', 'config', { clockOffsetSeconds: 3600 });
  const r = await get('clock.txt');
  assert.equal(r.status, 403);
  assert.equal(C.tag(r.text, 'Code'), 'RequestTimeTooSkewed');
  const serverNow = Date.parse(r.headers.date);
  assert.ok(Math.abs(serverNow - Date.now() - 3600 * 1000) < 5000);
  const again = await get('clock.txt', { date: C.httpDate(serverNow) });
  assert.equal(again.status, 200);
  assert.equal(again.text, 'tick');
});

test('the authorisation server issues temporary credentials the service accepts until they expire', async () => {
  const a = await C.rawRequest(server, { path: '/__auth/credentials', headers: { Host: '127.0.0.1' } });
  assert.equal(a.status, 200);
  const j = JSON.parse(a.text);
  assert.equal(j.StatusCode, 200);
  assert.match(j.Expiration, /^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\+0000$/);
  const expires = Date.parse(j.Expiration.replace('+0000', 'Z'));
  assert.ok(Math.abs(expires - Date.now() - 3600 * 1000) < 5000);
  const temp = { id: j.AccessKeyId, secret: j.AccessKeySecret, token: j.SecurityToken };

  const w = await put('temp.txt', 'via token', {}, { creds: temp });
  assert.equal(w.status, 200, w.text);
  const log = (await C.admin(server, 'GET', 'requests')).json;
  assert.match(log.find((e) => e.requestId === w.headers['x-hos-request-id']).stringToSign, /\nx-hos-security-token:/);

  const other = { id: server.accessKeyId, secret: temp.secret, token: temp.token };
  assert.equal(C.tag((await get('temp.txt', { creds: other })).text, 'Code'), 'InvalidAccessKeyId');
  assert.equal(C.tag((await get('temp.txt', { creds: { ...temp, token: undefined } })).text, 'Code'), 'InvalidAccessKeyId');
  assert.equal(C.tag((await get('temp.txt', { creds: { ...temp, token: 'forged' } })).text, 'Code'), 'InvalidSecurityToken');

  await C.admin(server, 'POST', 'tokens/expire');
  const late = await get('temp.txt', { creds: temp });
  assert.equal(late.status, 403);
  assert.equal(C.tag(late.text, 'Code'), 'SecurityTokenExpired');

  await C.admin(server, 'POST', 'config', { authStatus: 403 });
  const refused = JSON.parse((await C.rawRequest(server, { path: '/__auth/credentials', headers: { Host: '127.0.0.1' } })).text);
  assert.equal(refused.StatusCode, 403);
  assert.equal(refused.AccessKeyId, undefined);
});

test('presigned URLs: key pair and token forms are accepted until Expires; a changed URL is not', async () => {
  await put('shared/pic 1.jpg', 'shared bytes');
  const tokenCreds = (await C.admin(server, 'POST', 'tokens', { ttlSeconds: 600 })).json;
  const presign = (c, expires, params = {}) => {
    const q = { ...params };
    if (c.token) q['security-token'] = c.token;
    const subs = Object.entries(q).filter(([k]) => C.PRESIGN_SUBRESOURCES.includes(k))
      .map(([k, v]) => (v === '' ? k : `${k}=${v}`)).sort();
    let resource = `/${BUCKET}/shared/pic 1.jpg`;
    if (c.token || subs.length) resource += `?${subs.join('&')}`;
    q.Signature = C.hmac(c.secret, `GET\n\n\n${expires}\n${resource}`);
    q.HOSAccessKeyId = c.id;
    q.Expires = String(expires);
    const query = Object.entries(q).map(([k, v]) => (v === '' ? C.encodeURL(k) : `${C.encodeURL(k)}=${C.encodeURL(v)}`)).join('&');
    return `/${C.encodeURL('shared/pic 1.jpg')}?${query}`;
  };
  const fetch = (p) => C.rawRequest(server, { path: p, headers: { Host: `${BUCKET}.${server.domain}` } });
  const soon = Math.floor(Date.now() / 1000) + 3600;
  const temp = { id: tokenCreds.AccessKeyId, secret: tokenCreds.AccessKeySecret, token: tokenCreds.SecurityToken };

  for (const [name, url] of [['key pair', presign(creds, soon)], ['token', presign(temp, soon)],
    ['extra parameter', presign(creds, soon, { 'response-content-type': 'image/jpeg', foo: 'bar' })]]) {
    const r = await fetch(url);
    assert.equal(r.status, 200, `${name}: ${r.text}`);
    assert.equal(r.text, 'shared bytes');
  }
  const expired = await fetch(presign(creds, Math.floor(Date.now() / 1000) - 1));
  assert.equal(expired.status, 403);
  assert.equal(C.tag(expired.text, 'Message'), 'Request has expired');
  const changed = await fetch(presign(creds, soon).replace(/Expires=\d+/, `Expires=${soon + 1}`));
  assert.equal(C.tag(changed.text, 'Code'), 'SignatureDoesNotMatch');
});

test('a 3-part multipart upload: initiate, parts, paged listing, complete, and the object reads back whole', async () => {
  const key = 'big/three.bin';
  const parts = [crypto.randomBytes(102400), crypto.randomBytes(102400), crypto.randomBytes(5000)];
  const init = await C.send(server, { method: 'POST', bucket: BUCKET, key, query: { uploads: '' }, creds,
    headers: { 'Content-Type': 'application/x-test', 'x-hos-meta-origin': 'mp' } });
  assert.equal(init.status, 200, init.text);
  const uploadId = C.tag(init.text, 'UploadId');
  assert.ok(uploadId);

  const etags = [];
  for (const [i, data] of parts.entries()) {
    const r = await C.send(server, { method: 'PUT', bucket: BUCKET, key, query: { partNumber: String(i + 1), uploadId }, body: data,
      headers: { 'Content-MD5': C.md5b64(data) }, creds });
    assert.equal(r.status, 200, r.text);
    assert.equal(r.headers['x-hos-hash-crc64ecma'], C.crc64(data));
    etags.push(r.headers.etag);
  }

  const page1 = await C.send(server, { bucket: BUCKET, key, query: { uploadId, 'max-parts': '2' }, creds });
  assert.equal(C.tag(page1.text, 'IsTruncated'), 'true');
  assert.equal(C.tag(page1.text, 'NextPartNumberMarker'), '2');
  assert.equal((page1.text.match(/<Part>/g) || []).length, 2);
  const page2 = await C.send(server, { bucket: BUCKET, key, query: { uploadId, 'part-number-marker': '2' }, creds });
  assert.equal(C.tag(page2.text, 'IsTruncated'), 'false');
  assert.equal(C.tag(page2.text, 'PartNumber'), '3');
  assert.equal(C.tag(page2.text, 'Size'), '5000');

  const uploads = await C.send(server, { bucket: BUCKET, query: { uploads: '' }, creds });
  assert.equal(C.tag(uploads.text, 'UploadId'), uploadId);

  const xmlOf = (list) => Buffer.from(`<CompleteMultipartUpload>\n${list.map(([n, e]) =>
    `<Part>\n<PartNumber>${n}</PartNumber>\n<ETag>${e}</ETag>\n</Part>\n`).join('')}</CompleteMultipartUpload>\n`);
  const bad = await C.send(server, { method: 'POST', bucket: BUCKET, key, query: { uploadId }, creds,
    body: xmlOf([[1, etags[0]], [2, '"0000"'], [3, etags[2]]]) });
  assert.equal(C.tag(bad.text, 'Code'), 'InvalidPart');
  const unordered = await C.send(server, { method: 'POST', bucket: BUCKET, key, query: { uploadId }, creds,
    body: xmlOf([[2, etags[1]], [1, etags[0]]]) });
  assert.equal(C.tag(unordered.text, 'Code'), 'InvalidPartOrder');

  const body = xmlOf(etags.map((e, i) => [i + 1, e]));
  const done = await C.send(server, { method: 'POST', bucket: BUCKET, key, query: { uploadId }, creds, body,
    headers: { 'Content-MD5': C.md5b64(body) } });
  assert.equal(done.status, 200, done.text);
  assert.equal(done.headers['content-type'], 'application/xml');
  const whole = Buffer.concat(parts);
  assert.equal(done.headers['x-hos-hash-crc64ecma'], C.crc64(whole));
  assert.match(C.tag(done.text, 'ETag'), /^"[0-9A-F]{32}-3"$/);
  assert.equal(C.tag(done.text, 'ETag'), done.headers.etag);

  const r = await get(key);
  assert.ok(r.body.equals(whole));
  assert.equal(r.headers['content-type'], 'application/x-test');
  assert.equal(r.headers['x-hos-meta-origin'], 'mp');
  assert.equal(r.headers['x-hos-object-type'], 'Multipart');
  assert.equal(C.tag((await C.send(server, { bucket: BUCKET, key, query: { uploadId }, creds })).text, 'Code'), 'NoSuchUpload');
});

test('multipart: small parts, sequential order and abort', async () => {
  const key = 'mp/rules.bin';
  const start = async (query = {}) => C.tag((await C.send(server, { method: 'POST', bucket: BUCKET, key, query: { uploads: '', ...query }, creds })).text, 'UploadId');
  const part = (uploadId, n, data) => C.send(server, { method: 'PUT', bucket: BUCKET, key, query: { partNumber: String(n), uploadId }, body: data, creds });

  const id = await start();
  const e1 = (await part(id, 1, Buffer.alloc(100))).headers.etag;
  const e2 = (await part(id, 2, Buffer.alloc(100))).headers.etag;
  const small = await C.send(server, { method: 'POST', bucket: BUCKET, key, query: { uploadId: id }, creds,
    body: `<CompleteMultipartUpload>\n<Part>\n<PartNumber>1</PartNumber>\n<ETag>${e1}</ETag>\n</Part>\n<Part>\n<PartNumber>2</PartNumber>\n<ETag>${e2}</ETag>\n</Part>\n</CompleteMultipartUpload>\n` });
  assert.equal(C.tag(small.text, 'Code'), 'EntityTooSmall');
  const abort = await C.send(server, { method: 'DELETE', bucket: BUCKET, key, query: { uploadId: id }, creds });
  assert.equal(abort.status, 204);
  assert.equal(C.tag((await part(id, 3, 'x')).text, 'Code'), 'NoSuchUpload');

  const seq = await start({ sequential: '' });
  assert.equal(C.tag((await part(seq, 2, 'x')).text, 'Code'), 'InvalidPartOrder');
  assert.equal((await part(seq, 1, 'x')).status, 200);
  assert.equal((await part(seq, 2, 'x')).status, 200);
});

test('append at positions: the CRC-64 answered is the whole object\'s; a wrong position is refused with the length', async () => {
  const key = 'log.txt';
  const app = (position, data) => C.send(server, { method: 'POST', bucket: BUCKET, key, query: { append: '', position: String(position) }, body: data, creds });
  const a = await app(0, 'hello');
  assert.equal(a.status, 200, a.text);
  assert.equal(a.headers['x-hos-next-append-position'], '5');
  assert.equal(a.headers['x-hos-hash-crc64ecma'], C.crc64(Buffer.from('hello')));
  const wrong = await app(3, 'x');
  assert.equal(wrong.status, 409);
  assert.equal(C.tag(wrong.text, 'Code'), 'PositionNotEqualToLength');
  assert.equal(wrong.headers['x-hos-next-append-position'], '5');
  const b = await app(5, ' world');
  assert.equal(b.headers['x-hos-next-append-position'], '11');
  assert.equal(b.headers['x-hos-hash-crc64ecma'], C.crc64(Buffer.from('hello world')));
  const r = await get(key);
  assert.equal(r.text, 'hello world');
  assert.equal(r.headers['x-hos-object-type'], 'Appendable');

  await put('normal.txt', 'n');
  const na = await C.send(server, { method: 'POST', bucket: BUCKET, key: 'normal.txt', query: { append: '', position: '1' }, body: 'x', creds });
  assert.equal(C.tag(na.text, 'Code'), 'ObjectNotAppendable');
});

test('batch delete needs Content-MD5 of its body and lists what it deleted', async () => {
  await put('del/a', 'a');
  await put('del/b', 'b');
  const body = Buffer.from('<Delete>\n<Quiet>false</Quiet>\n<Object>\n<Key>del/a</Key>\n</Object>\n<Object>\n<Key>del/b</Key>\n</Object>\n</Delete>\n');
  const noMd5 = await C.send(server, { method: 'POST', bucket: BUCKET, query: { delete: '' }, body, creds });
  assert.equal(C.tag(noMd5.text, 'Code'), 'InvalidDigest');
  const r = await C.send(server, { method: 'POST', bucket: BUCKET, query: { delete: '' }, body, creds, headers: { 'Content-MD5': C.md5b64(body) } });
  assert.equal(r.status, 200, r.text);
  assert.deepEqual([...r.text.matchAll(/<Deleted>\s*<Key>([^<]*)<\/Key>/g)].map((m) => m[1]), ['del/a', 'del/b']);
  assert.equal((await get('del/a')).status, 404);
});

test('buckets: create with location, list the service and the bucket, ACLs, delete only when empty', async () => {
  const loc = Buffer.from('<?xml version="1.0" encoding="UTF-8"?>\n<CreateBucketConfiguration>\n<LocationConstraint>hos-cn-test</LocationConstraint>\n</CreateBucketConfiguration>\n');
  const c = await C.send(server, { method: 'PUT', bucket: 'newbucket', body: loc, creds, headers: { 'x-hos-acl': 'public-read' } });
  assert.equal(c.status, 200, c.text);
  assert.equal(c.headers.location, '/newbucket');
  assert.equal(C.tag((await C.send(server, { method: 'PUT', bucket: 'newbucket', creds })).text, 'Code'), 'BucketAlreadyExists');

  const svc = await C.send(server, { creds, query: { prefix: 'new' } });
  assert.equal(svc.status, 200, svc.text);
  assert.deepEqual([...svc.text.matchAll(/<Name>([^<]*)<\/Name>/g)].map((m) => m[1]), ['newbucket']);
  assert.equal(C.tag(svc.text, 'Location'), 'hos-cn-test');

  for (const k of ['a/1', 'a/2', 'b/1', 'c']) await C.send(server, { method: 'PUT', bucket: 'newbucket', key: k, body: k, creds });
  const list = await C.send(server, { bucket: 'newbucket', creds, query: { delimiter: '/', 'max-keys': '2' } });
  assert.deepEqual([...list.text.matchAll(/<Prefix>([^<]*)<\/Prefix>/g)].map((m) => m[1]).slice(1), ['a/', 'b/']);
  assert.equal(C.tag(list.text, 'IsTruncated'), 'true');
  assert.equal(C.tag(list.text, 'NextMarker'), 'b/');
  const rest = await C.send(server, { bucket: 'newbucket', creds, query: { delimiter: '/', marker: 'b/' } });
  assert.deepEqual([...rest.text.matchAll(/<Key>([^<]*)<\/Key>/g)].map((m) => m[1]), ['c']);

  assert.equal(C.tag((await C.send(server, { bucket: 'newbucket', creds, query: { acl: '' } })).text, 'Grant'), 'public-read');
  // A public-read bucket lets anyone read its objects; an object ACL overrides it.
  assert.equal((await C.send(server, { bucket: 'newbucket', key: 'c' })).text, 'c');
  const acl = await C.send(server, { method: 'PUT', bucket: 'newbucket', key: 'c', query: { acl: '' }, creds, headers: { 'x-hos-object-acl': 'private' } });
  assert.equal(acl.status, 200, acl.text);
  assert.equal(C.tag((await C.send(server, { bucket: 'newbucket', key: 'c', query: { acl: '' }, creds })).text, 'Grant'), 'private');
  assert.equal((await C.send(server, { bucket: 'newbucket', key: 'c' })).status, 403);

  assert.equal(C.tag((await C.send(server, { method: 'DELETE', bucket: 'newbucket', creds })).text, 'Code'), 'BucketNotEmpty');
  for (const k of ['a/1', 'a/2', 'b/1', 'c']) await C.send(server, { method: 'DELETE', bucket: 'newbucket', key: k, creds });
  assert.equal((await C.send(server, { method: 'DELETE', bucket: 'newbucket', creds })).status, 204);
});

test('copy keeps content and CRC under the new key', async () => {
  const w = await put('orig.txt', 'copy me', { 'x-hos-meta-k': 'v' });
  const c = await C.send(server, { method: 'PUT', bucket: BUCKET, key: 'copy.txt', creds, headers: { 'x-hos-copy-source': `/${BUCKET}/orig.txt` } });
  assert.equal(c.status, 200, c.text);
  assert.equal(C.tag(c.text, 'ETag'), w.headers.etag);
  assert.ok(C.tag(c.text, 'LastModified'));
  const r = await get('copy.txt');
  assert.equal(r.text, 'copy me');
  assert.equal(r.headers['x-hos-meta-k'], 'v');
  assert.equal(r.headers['x-hos-hash-crc64ecma'], w.headers['x-hos-hash-crc64ecma']);
  const missing = await C.send(server, { method: 'PUT', bucket: BUCKET, key: 'copy2.txt', creds, headers: { 'x-hos-copy-source': `/${BUCKET}/nope` } });
  assert.equal(C.tag(missing.text, 'Code'), 'NoSuchKey');
});

test('callbacks post to a loopback listener; its answer is relayed, its failure gives 203', async () => {
  const seen = [];
  let status = 200;
  const listener = http.createServer((req, res) => {
    const chunks = [];
    req.on('data', (c) => chunks.push(c));
    req.on('end', () => {
      seen.push({ type: req.headers['content-type'], body: Buffer.concat(chunks).toString() });
      res.writeHead(status, { 'Content-Type': 'application/json' });
      res.end(JSON.stringify({ ok: status === 200 }));
    });
  });
  await new Promise((r) => listener.listen(0, '127.0.0.1', r));
  const b64 = (o) => Buffer.from(JSON.stringify(o)).toString('base64');
  const callback = b64({ callbackUrl: `http://127.0.0.1:${listener.address().port}/cb`,
    callbackBody: 'bucket=${bucket}&object=${object}&size=${size}&who=${x:who}', callbackBodyType: 'application/x-www-form-urlencoded' });
  const vars = b64({ 'x:who': 'tester' });
  try {
    const ok = await put('cb.txt', 'abc', { 'x-hos-callback': callback, 'x-hos-callback-var': vars });
    assert.equal(ok.status, 200, ok.text);
    assert.equal(ok.text, '{"ok":true}');
    assert.equal(ok.headers['content-type'], 'application/json');
    assert.deepEqual(seen.pop(), { type: 'application/x-www-form-urlencoded', body: 'bucket=pics&object=cb.txt&size=3&who=tester' });

    status = 500;
    const failed = await put('cb2.txt', 'abcd', { 'x-hos-callback': callback });
    assert.equal(failed.status, 203);
    assert.equal(C.tag(failed.text, 'Code'), 'CallbackFailed');
    assert.equal((await get('cb2.txt')).text, 'abcd', 'the object is stored although its callback failed');

    status = 200;
    const body = Buffer.from(`x-hos-process=trigger/callback,callback_${callback},callback-var_${vars}`);
    const t = await C.send(server, { method: 'POST', bucket: BUCKET, key: 'cb.txt', query: { 'x-hos-process': '' }, body, creds,
      headers: { 'Content-MD5': C.md5b64(body) } });
    assert.equal(t.status, 200, t.text);
    assert.equal(t.text, '{"ok":true}');
    assert.equal(seen.pop().body, 'bucket=pics&object=cb.txt&size=3&who=tester');

    const away = await put('cb3.txt', 'x', { 'x-hos-callback': b64({ callbackUrl: 'http://192.0.2.1/cb' }) });
    assert.equal(C.tag(away.text, 'Code'), 'InvalidArgument');
  } finally {
    listener.close();
  }
});

test('fault knobs: forced status, failing part k, missing or bad Date, wrong or missing CRC, request log', async () => {
  await put('f.txt', 'fault');
  const cases = [
    { fault: { match: { op: 'GetObject' }, status: 503 }, check: (r) => { assert.equal(r.status, 503); assert.equal(C.tag(r.text, 'Code'), 'ServiceUnavailable'); } },
    { fault: { match: { op: 6 }, status: 403, code: 'RequestTimeTooSkewed' }, check: (r) => assert.equal(C.tag(r.text, 'Code'), 'RequestTimeTooSkewed') },
    { fault: { date: 'missing' }, check: (r) => { assert.equal(r.status, 200); assert.equal(r.headers.date, undefined); } },
    { fault: { date: 'bad' }, check: (r) => assert.equal(r.headers.date, 'not a date') },
    { fault: { crc: 'missing' }, check: (r) => assert.equal(r.headers['x-hos-hash-crc64ecma'], undefined) },
    { fault: { crc: 'wrong' }, check: (r) => assert.notEqual(r.headers['x-hos-hash-crc64ecma'], C.crc64(Buffer.from('fault'))) },
    { fault: { delayMs: 150 }, check: (r, ms) => { assert.equal(r.status, 200); assert.ok(ms >= 140, `${ms} ms`); } },
  ];
  for (const c of cases) {
    await C.admin(server, 'POST', 'faults', c.fault);
    const t0 = Date.now();
    c.check(await get('f.txt'), Date.now() - t0);
    const after = await get('f.txt');
    assert.equal(after.status, 200, `a fault is used once by default: ${JSON.stringify(c.fault)}`);
    assert.equal(after.headers['x-hos-hash-crc64ecma'], C.crc64(Buffer.from('fault')));
  }

  // A delayed write still takes its whole body.
  const body = crypto.randomBytes(300000);
  await C.admin(server, 'POST', 'faults', { match: { op: 'PutObject' }, delayMs: 100 });
  assert.equal((await put('slow.bin', body)).status, 200);
  assert.ok((await get('slow.bin')).body.equals(body));

  // Failing part k: only that part number fails, every time.
  const id = C.tag((await C.send(server, { method: 'POST', bucket: BUCKET, key: 'fp', query: { uploads: '' }, creds })).text, 'UploadId');
  await C.admin(server, 'POST', 'faults', { match: { op: 'UploadPart', partNumber: 2 }, status: 500, times: 0 });
  for (const [n, want] of [[1, 200], [2, 500], [3, 200], [2, 500]]) {
    const r = await C.send(server, { method: 'PUT', bucket: BUCKET, key: 'fp', query: { partNumber: String(n), uploadId: id }, body: 'p', creds });
    assert.equal(r.status, want, `part ${n}`);
  }
  const stored = (await C.admin(server, 'GET', `uploads?bucket=${BUCKET}`)).json.find((u) => u.uploadId === id);
  assert.deepEqual(stored.parts.map((p) => p.partNumber), [1, 3], 'a failed part is not stored');

  // A forced reply body: 200 with the text as sent, nothing performed.
  const uploadsBefore = (await C.admin(server, 'GET', `uploads?bucket=${BUCKET}`)).json.length;
  const forcedBody = '<InitiateMultipartUploadResult><UploadId></UploadId></InitiateMultipartUploadResult>';
  await C.admin(server, 'POST', 'faults', { match: { op: 'InitMultipartUpload' }, replyBody: forcedBody });
  const forced = await C.send(server, { method: 'POST', bucket: BUCKET, key: 'fp', query: { uploads: '' }, creds });
  assert.equal(forced.status, 200);
  assert.equal(forced.text, forcedBody);
  assert.equal((await C.admin(server, 'GET', `uploads?bucket=${BUCKET}`)).json.length, uploadsBefore);

  const log = (await C.admin(server, 'GET', 'requests')).json.filter((e) => e.op === 'UploadPart');
  const last = log[log.length - 1];
  assert.equal(last.op, 'UploadPart');
  assert.equal(last.status, 500);
  assert.equal(last.errorCode, 'InternalError');
  assert.ok(last.fault > 0);
});

test('fault knobs on the connection: close before the head, close after N bytes, tiny chunks', async () => {
  const data = crypto.randomBytes(20000);
  await put('conn.bin', data);

  await C.admin(server, 'POST', 'faults', { closeBeforeHead: true });
  await assert.rejects(get('conn.bin'), /socket hang up|ECONNRESET/);

  await C.admin(server, 'POST', 'faults', { closeAfterBytes: 1000 });
  const cut = await new Promise((resolve) => {
    const req = http.get({ host: '127.0.0.1', port: server.http, path: '/conn.bin', agent: false,
      headers: (() => {
        const h = { Host: `${BUCKET}.${server.domain}`, Date: C.httpDate() };
        h.Authorization = `HOS ${creds.id}:${C.hmac(creds.secret, C.stringToSign({ method: 'GET', headers: h, bucket: BUCKET, key: 'conn.bin', query: {} }))}`;
        return h;
      })() }, (res) => {
      let got = 0;
      res.on('data', (c) => { got += c.length; });
      res.on('aborted', () => resolve({ status: res.statusCode, length: res.headers['content-length'], got, aborted: true }));
      res.on('end', () => resolve({ got, aborted: false }));
      res.on('error', () => {});
    });
    req.on('error', () => {});
  });
  assert.deepEqual(cut, { status: 200, length: '20000', got: 1000, aborted: true });

  await C.admin(server, 'POST', 'faults', { chunkSize: 100, chunkDelayMs: 1 });
  const chunks = await new Promise((resolve, reject) => {
    const h = { Host: `${BUCKET}.${server.domain}`, Date: C.httpDate() };
    h.Authorization = `HOS ${creds.id}:${C.hmac(creds.secret, C.stringToSign({ method: 'GET', headers: h, bucket: BUCKET, key: 'conn.bin', query: {} }))}`;
    http.get({ host: '127.0.0.1', port: server.http, path: '/conn.bin', agent: false, headers: h }, (res) => {
      const parts = [];
      res.on('data', (c) => parts.push(c));
      res.on('end', () => resolve(parts));
    }).on('error', reject);
  });
  assert.ok(Buffer.concat(chunks).equals(data));
  assert.ok(chunks.length >= 50, `${chunks.length} chunks`);
});

test('fault knobs on the body: an empty body under the object\'s CRC, an error body without end', async () => {
  const data = Buffer.from('123456789');
  await put('nine.txt', data);
  await C.admin(server, 'POST', 'faults', { match: { op: 'GetObject' }, emptyBody: true });
  const empty = await get('nine.txt');
  assert.equal(empty.status, 200);
  assert.equal(empty.headers['content-length'], '0');
  assert.equal(empty.body.length, 0);
  assert.equal(empty.headers['x-hos-hash-crc64ecma'], C.crc64(data), 'the CRC is still the whole object\'s');
  assert.equal((await get('nine.txt')).text, '123456789');

  // An endless 500: the error document first, then white space until the
  // client hangs up; the server keeps serving afterwards.
  await C.admin(server, 'POST', 'faults', { match: { op: 'GetObject' }, status: 500, endlessBody: true });
  const endless = await new Promise((resolve) => {
    const h = { Host: `${BUCKET}.${server.domain}`, Date: C.httpDate() };
    const req = http.get({ host: '127.0.0.1', port: server.http, path: '/nine.txt', agent: false, headers: h }, (res) => {
      const parts = [];
      let got = 0;
      res.on('data', (c) => {
        if (got < 8192) parts.push(c);
        got += c.length;
        if (got >= 4 * 1024 * 1024) {
          req.destroy();
          resolve({ status: res.statusCode, headers: res.headers, got, head: Buffer.concat(parts).toString('utf8') });
        }
      });
      res.on('error', () => {});
    });
    req.on('error', () => {});
  });
  assert.equal(endless.status, 500);
  assert.equal(endless.headers['content-length'], undefined);
  assert.equal(endless.headers['transfer-encoding'], 'chunked');
  assert.equal(C.tag(endless.head, 'Code'), 'InternalError');
  assert.match(endless.head, /<\/Error>\s+$/);
  assert.ok(endless.got >= 4 * 1024 * 1024);
  let entry;
  for (let i = 0; i < 100 && !entry; i++) {
    const log = (await C.admin(server, 'GET', 'requests')).json;
    entry = log.filter((e) => e.op === 'GetObject' && e.status === 500).pop();
    if (!entry) await new Promise((r) => setTimeout(r, 20));
  }
  assert.ok(entry && entry.bytesOut >= 4 * 1024 * 1024, 'the hang-up ends the reply and it is logged');
  assert.equal((await get('nine.txt')).text, '123456789');
});

test('bad input gets an error answer, stores nothing, and the server goes on serving', async () => {
  const signedPath = (method, key, query = {}) => {
    const h = { Host: `${BUCKET}.${server.domain}`, Date: C.httpDate() };
    h.Authorization = `HOS ${creds.id}:${C.hmac(creds.secret, C.stringToSign({ method, headers: h, bucket: BUCKET, key, query }))}`;
    return h;
  };
  const badUri = await C.rawRequest(server, { path: '/%E0%A4%A', headers: signedPath('GET', 'x') });
  assert.equal(C.tag(badUri.text, 'Code'), 'InvalidURI');
  const badCallback = await put('cbx', 'x', { 'x-hos-callback': '!!not base64 json' });
  assert.equal(C.tag(badCallback.text, 'Code'), 'InvalidArgument');
  const id = C.tag((await C.send(server, { method: 'POST', bucket: BUCKET, key: 'junk', query: { uploads: '' }, creds })).text, 'UploadId');
  const junk = await C.send(server, { method: 'POST', bucket: BUCKET, key: 'junk', query: { uploadId: id }, body: 'garbage', creds });
  assert.equal(C.tag(junk.text, 'Code'), 'MalformedXML');

  // A client that goes away in the middle of its body.
  await new Promise((resolve) => {
    const req = http.request({ host: '127.0.0.1', port: server.http, method: 'PUT', path: '/half.bin', agent: false,
      headers: { ...signedPath('PUT', 'half.bin'), 'Content-Length': '100000' } });
    req.on('error', () => resolve());
    req.write(Buffer.alloc(30000), () => setTimeout(() => { req.destroy(); resolve(); }, 50));
  });
  await new Promise((r) => setTimeout(r, 50));
  assert.equal((await get('half.bin')).status, 404);
  assert.equal((await get('cbx')).status, 404);
  assert.equal((await put('after.txt', 'still here')).status, 200);
});

test('HTTPS with the bucket in the host name', async () => {
  const w = await C.send(server, { method: 'PUT', bucket: BUCKET, key: 'tls.txt', body: 'over tls', creds, tls: true, ca: certs.ca });
  assert.equal(w.status, 200, w.text);
  const r = await C.send(server, { bucket: BUCKET, key: 'tls.txt', creds, tls: true, ca: certs.ca });
  assert.equal(r.text, 'over tls');
  const log = (await C.admin(server, 'GET', 'requests')).json;
  assert.equal(log.find((e) => e.requestId === r.headers['x-hos-request-id']).scheme, 'https');
});

test('a large object streams through disk without being held in memory', { skip: process.env.PELLIX_HEAVY_TESTS !== '1' && 'set PELLIX_HEAVY_TESTS=1' }, async (t) => {
  const size = 1024 * 1024 * 1024;
  const block = crypto.randomBytes(1024 * 1024);
  const h = { Host: `${BUCKET}.${server.domain}`, Date: C.httpDate(), 'Content-Length': String(size) };
  h.Authorization = `HOS ${creds.id}:${C.hmac(creds.secret, C.stringToSign({ method: 'PUT', headers: h, bucket: BUCKET, key: 'huge.bin', query: {} }))}`;
  const rss = () => Number(/VmHWM:\s+(\d+)/.exec(fs.readFileSync(`/proc/${server.pid}/status`, 'utf8'))[1]) * 1024;
  const status = await new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port: server.http, method: 'PUT', path: '/huge.bin', headers: h, agent: false }, (res) => {
      res.resume();
      res.on('end', () => resolve(res.statusCode));
    });
    req.on('error', reject);
    let left = size / block.length;
    const pump = () => { while (left > 0) { left--; if (!req.write(block)) return req.once('drain', pump); } req.end(); };
    pump();
  });
  assert.equal(status, 200);
  const r = await new Promise((resolve, reject) => {
    const g = { Host: `${BUCKET}.${server.domain}`, Date: C.httpDate() };
    g.Authorization = `HOS ${creds.id}:${C.hmac(creds.secret, C.stringToSign({ method: 'GET', headers: g, bucket: BUCKET, key: 'huge.bin', query: {} }))}`;
    http.get({ host: '127.0.0.1', port: server.http, path: '/huge.bin', headers: g, agent: false }, (res) => {
      let n = 0;
      res.on('data', (c) => { n += c.length; });
      res.on('end', () => resolve(n));
    }).on('error', reject);
  });
  assert.equal(r, size);
  t.diagnostic(`server peak RSS ${Math.round(rss() / 1048576)} MiB`);
  assert.ok(rss() < 300 * 1024 * 1024, `peak RSS ${rss()}`);
  const stored = (await C.admin(server, 'GET', `objects?bucket=${BUCKET}`)).json.find((o) => o.key === 'huge.bin');
  assert.equal(fs.statSync(stored.file).size, size);
  await C.send(server, { method: 'DELETE', bucket: BUCKET, key: 'huge.bin', creds });
});
