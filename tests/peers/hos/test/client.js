'use strict';
// The client side of the storage contract, written out here on its own (not
// borrowed from the server's lib/) so that a misreading on one side does not
// hide in both: the stand-in is started on free ports, requests are signed the
// way the storage client signs them and sent over loopback.

const { spawn, execFileSync } = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const https = require('https');
const os = require('os');
const path = require('path');

const PEER = path.join(__dirname, '..');

// ---- the server process ----------------------------------------------------

// The server is killed by the kernel when this test process ends, however it
// ends, so a run that never reaches stop() leaves nothing behind.
async function startServer(extraArgs = []) {
  const child = spawn('setpriv', ['--pdeathsig', 'KILL', '--', process.execPath, path.join(PEER, 'server.js'),
    '--port', '0', ...extraArgs],
    { stdio: ['ignore', 'pipe', 'inherit'] });
  const line = await new Promise((resolve, reject) => {
    let buf = '';
    const timer = setTimeout(() => reject(new Error(`stand-in did not start: ${buf}`)), 8000);
    child.stdout.on('data', (d) => {
      buf += d;
      const nl = buf.indexOf('\n');
      if (nl >= 0) { clearTimeout(timer); resolve(buf.slice(0, nl)); }
    });
    child.on('exit', (code) => { clearTimeout(timer); reject(new Error(`stand-in exited ${code}`)); });
  });
  const info = JSON.parse(line);
  info.child = child;
  info.stop = () => new Promise((resolve) => {
    if (child.exitCode !== null) return resolve(child.exitCode);
    child.once('exit', (code) => resolve(code));
    process.kill(child.pid, 'SIGTERM');
  });
  return info;
}

// A throwaway CA and a leaf for the test domain, its buckets and 127.0.0.1.
function makeCerts(dir, domain) {
  const run = (args) => execFileSync('openssl', args, { cwd: dir, stdio: ['ignore', 'ignore', 'pipe'] });
  run(['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes', '-keyout', 'ca.key', '-out', 'ca.pem',
    '-days', '2', '-subj', '/CN=HOS Test CA']);
  run(['req', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256', '-nodes', '-keyout', 'leaf.key', '-out', 'leaf.csr',
    '-subj', `/CN=${domain}`]);
  fs.writeFileSync(path.join(dir, 'ext.cnf'), `subjectAltName=DNS:${domain},DNS:*.${domain},IP:127.0.0.1\n`);
  run(['x509', '-req', '-in', 'leaf.csr', '-CA', 'ca.pem', '-CAkey', 'ca.key', '-CAcreateserial', '-out', 'leaf.pem',
    '-days', '2', '-extfile', 'ext.cnf']);
  return { ca: fs.readFileSync(path.join(dir, 'ca.pem')), cert: path.join(dir, 'leaf.pem'), key: path.join(dir, 'leaf.key') };
}

function tempDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'hos-test-'));
}

// ---- the contract, client side ---------------------------------------------

const SUBRESOURCES = ['acl', 'uploadId', 'partNumber', 'uploads', 'logging', 'website', 'location', 'lifecycle', 'referer',
  'cors', 'delete', 'append', 'position', 'security-token', 'x-hos-process', 'sequential'];

// Names a presigned URL's resource keeps.
const PRESIGN_SUBRESOURCES = ['acl', 'uploads', 'location', 'cors', 'logging', 'website', 'referer', 'lifecycle', 'delete',
  'append', 'tagging', 'objectMeta', 'uploadId', 'partNumber', 'security-token', 'position', 'img', 'style', 'styleName',
  'replication', 'replicationProgress', 'replicationLocation', 'cname', 'bucketInfo', 'comp', 'qos', 'live', 'status', 'vod',
  'startTime', 'endTime', 'symlink', 'x-hos-process', 'response-content-type', 'response-content-language',
  'response-expires', 'response-cache-control', 'response-content-disposition', 'response-content-encoding'];

// Percent-encoding of keys and query items: unreserved bytes kept, blank as %20, "/" and "~" kept.
function encodeURL(text) {
  let out = '';
  for (const b of Buffer.from(text, 'utf8')) {
    const c = String.fromCharCode(b);
    if (/[A-Za-z0-9._~/-]/.test(c)) out += c;
    else out += `%${b.toString(16).toUpperCase().padStart(2, '0')}`;
  }
  return out;
}

function httpDate(ms = Date.now()) {
  return new Date(ms).toUTCString();
}

function stringToSign({ method, headers, bucket, key, query }) {
  const get = (n) => {
    const k = Object.keys(headers).find((h) => h.toLowerCase() === n.toLowerCase());
    return k === undefined ? '' : headers[k];
  };
  const hos = Object.keys(headers).sort().filter((n) => n.startsWith('x-hos-')).map((n) => `${n}:${headers[n]}\n`).join('');
  let resource = bucket ? `/${bucket}/` : '/';
  if (key) resource += key;
  const subs = Object.keys(query).sort().filter((n) => SUBRESOURCES.includes(n))
    .map((n) => (query[n] === '' ? n : `${n}=${query[n]}`));
  if (subs.length) resource += `?${subs.join('&')}`;
  return `${method}\n${get('Content-MD5')}\n${get('Content-Type')}\n${get('Date')}\n${hos}${resource}`;
}

function hmac(secret, text) {
  return crypto.createHmac('sha1', secret).update(text, 'utf8').digest('base64');
}

function md5b64(buf) {
  return crypto.createHash('md5').update(buf).digest('base64');
}

// Reference CRC-64/XZ, bit by bit, as decimal text.
function crc64(buf) {
  let c = 0xFFFFFFFFFFFFFFFFn;
  for (const x of buf) {
    c ^= BigInt(x);
    for (let k = 0; k < 8; k++) c = (c & 1n) ? (c >> 1n) ^ 0xC96C5795D7870F42n : c >> 1n;
  }
  return (c ^ 0xFFFFFFFFFFFFFFFFn).toString();
}

// One signed request. `creds` is { id, secret, token? } or null (anonymous). `tamper` may edit the
// headers after signing. Resolves { status, headers, rawHeaders, body, text }.
function send(server, { method = 'GET', bucket, key, query = {}, headers = {}, body, creds, tls, ca, date, tamper,
  pathStyle = false, rawPath } = {}) {
  const h = { ...headers };
  if (!Object.keys(h).some((n) => n.toLowerCase() === 'date')) h.Date = date || httpDate();
  if (creds && creds.token) h['x-hos-security-token'] = creds.token;
  if (creds) h.Authorization = `HOS ${creds.id}:${hmac(creds.secret, stringToSign({ method, headers: h, bucket, key, query }))}`;
  if (tamper) tamper(h);
  const q = Object.entries(query).map(([k, v]) => (v === '' ? encodeURL(k) : `${encodeURL(k)}=${encodeURL(v)}`)).join('&');
  let p = rawPath;
  if (p === undefined) p = pathStyle ? `/${bucket || ''}${key ? '/' + encodeURL(key) : ''}` : `/${key ? encodeURL(key) : ''}`;
  const host = !pathStyle && bucket ? `${bucket}.${server.domain}` : server.domain;
  return rawRequest(server, { method, path: q ? `${p}?${q}` : p, headers: { Host: host, ...h }, body, tls, ca });
}

function rawRequest(server, { method = 'GET', path: p, headers = {}, body, tls, ca }) {
  return new Promise((resolve, reject) => {
    const mod = tls ? https : http;
    const opts = { host: '127.0.0.1', port: tls ? server.https : server.http, method, path: p, headers, agent: false };
    if (tls) Object.assign(opts, { ca, servername: String(headers.Host || headers.host).split(':')[0] });
    if (body !== undefined && !Object.keys(headers).some((n) => n.toLowerCase() === 'content-length')) {
      opts.headers = { ...headers, 'Content-Length': Buffer.byteLength(body) };
    }
    const req = mod.request(opts, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const buf = Buffer.concat(chunks);
        resolve({ status: res.statusCode, headers: res.headers, rawHeaders: res.rawHeaders, body: buf, text: buf.toString('utf8') });
      });
      res.on('error', reject);
    });
    req.on('error', reject);
    if (body !== undefined) req.write(body);
    req.end();
  });
}

async function admin(server, method, what, obj) {
  const body = obj === undefined ? undefined : JSON.stringify(obj);
  const r = await rawRequest(server, { method, path: `/__admin/${what}`, headers: { Host: '127.0.0.1' }, body });
  return { status: r.status, json: JSON.parse(r.text) };
}

// Text of the first <tag> in an XML reply.
function tag(text, name) {
  const m = new RegExp(`<${name}>([\\s\\S]*?)</${name}>`).exec(text);
  if (!m) return undefined;
  return m[1].replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&amp;/g, '&');
}

function rawHeaderNames(r) {
  return r.rawHeaders.filter((_, i) => i % 2 === 0);
}

module.exports = { PRESIGN_SUBRESOURCES, startServer, makeCerts, tempDir, encodeURL, httpDate, stringToSign, hmac, md5b64, crc64, send, rawRequest,
  admin, tag, rawHeaderNames };
