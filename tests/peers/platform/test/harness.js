'use strict';
// Harness of the stand-in's own test: a throwaway CA and leaf from the openssl
// CLI, the server and a mosquitto broker on free loopback ports, and a client
// that signs, decrypts and checks exactly as the SDK's contract says. The
// signing and decryption here are written out on purpose, not borrowed from
// the server's lib/, so a slip on one side does not hide in both.

const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn, execFileSync } = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const https = require('https');
const net = require('net');
const os = require('os');
const path = require('path');

const PEER = path.join(__dirname, '..');
const K = JSON.parse(fs.readFileSync(path.join(PEER, 'constants.json'), 'utf8'));
const SIP_PORT = 5071;

let tmp;
let caPem;
let server;
let broker;
let port;
let brokerPort;

// ---- processes ------------------------------------------------------------

// A child that the kernel kills when this test process ends, however it
// ends: an after() hook that never runs must not leave a server behind.
function spawnTied(command, args, options) {
  return spawn('setpriv', ['--pdeathsig', 'KILL', '--', command, ...args], options);
}

function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.on('error', reject);
    s.listen(0, '127.0.0.1', () => { const p = s.address().port; s.close(() => resolve(p)); });
  });
}

function openssl(args) {
  execFileSync('openssl', args, { cwd: tmp, stdio: ['ignore', 'ignore', 'pipe'] });
}

function makeCerts() {
  openssl(['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'ca.key', '-out', 'ca.pem', '-days', '2', '-subj', '/CN=Pellix Test CA']);
  openssl(['req', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'leaf.key', '-out', 'leaf.csr', '-subj', '/CN=127.0.0.1']);
  fs.writeFileSync(path.join(tmp, 'ext.cnf'), 'subjectAltName=IP:127.0.0.1,DNS:localhost\n');
  openssl(['x509', '-req', '-in', 'leaf.csr', '-CA', 'ca.pem', '-CAkey', 'ca.key', '-CAcreateserial', '-out', 'leaf.pem', '-days', '2', '-extfile', 'ext.cnf']);
  caPem = fs.readFileSync(path.join(tmp, 'ca.pem'));
}

function waitForLine(child, re, what) {
  return new Promise((resolve, reject) => {
    let buf = '';
    const timer = setTimeout(() => reject(new Error(`${what} did not start: ${buf}`)), 8000);
    child.stdout.on('data', (d) => {
      buf += d;
      const m = re.exec(buf);
      if (m) { clearTimeout(timer); resolve(m); }
    });
    child.on('exit', (code) => { clearTimeout(timer); reject(new Error(`${what} exited ${code}`)); });
  });
}

async function waitForPort(p) {
  for (let i = 0; i < 100; i++) {
    const ok = await new Promise((resolve) => {
      const s = net.connect(p, '127.0.0.1', () => { s.destroy(); resolve(true); });
      s.on('error', () => resolve(false));
    });
    if (ok) return;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error(`nothing listens on ${p}`);
}

function useStandin() {
  test.before(async () => {
    tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'px-standin-'));
    makeCerts();
    brokerPort = await freePort();
    fs.writeFileSync(path.join(tmp, 'mosquitto.conf'), `listener ${brokerPort} 127.0.0.1\nallow_anonymous true\npersistence false\n`);
    broker = spawnTied('mosquitto', ['-c', path.join(tmp, 'mosquitto.conf')], { stdio: 'ignore' });
    server = spawnTied(process.execPath, [path.join(PEER, 'server.js'), '--cert', path.join(tmp, 'leaf.pem'),
      '--key', path.join(tmp, 'leaf.key'), '--port', '0', '--broker-port', String(brokerPort),
      '--sip-host', '127.0.0.1', '--sip-port', String(SIP_PORT)], { stdio: ['ignore', 'pipe', 'inherit'] });
    port = Number((await waitForLine(server, /^listening (\d+)\n/m, 'stand-in'))[1]);
    await waitForPort(brokerPort);
  });

  test.after(() => {
    if (server && server.exitCode === null) process.kill(server.pid, 'SIGTERM');
    if (broker && broker.exitCode === null) process.kill(broker.pid, 'SIGTERM');
    fs.rmSync(tmp, { recursive: true, force: true });
  });
}

// ---- the client side of the contract -------------------------------------

function request(method, pathAndQuery, { headers = {}, body } = {}) {
  return new Promise((resolve, reject) => {
    const req = https.request({ host: '127.0.0.1', port, method, path: pathAndQuery, ca: caPem, headers, agent: false }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks) }));
    });
    req.on('error', reject);
    if (body !== undefined) req.write(body);
    req.end();
  });
}

async function admin(method, what, obj) {
  const body = obj === undefined ? undefined : Buffer.from(JSON.stringify(obj));
  const r = await request(method, `/__admin/${what}`, { body, headers: body ? { 'Content-Type': 'application/json' } : {} });
  return { status: r.status, json: JSON.parse(r.body.toString('utf8')) };
}

function encodeForm(params) {
  const esc = (s) => encodeURIComponent(String(s)).replace(/[!'()*]/g, (c) => `%${c.charCodeAt(0).toString(16).toUpperCase()}`);
  return Object.keys(params).sort().map((k) => `${esc(k)}=${esc(params[k])}`).join('&');
}

function signOf(params, signKey) {
  const text = Object.keys(params).sort().map((k) => `${k.trim()}=${String(params[k]).trim()}`).join('&');
  const b64 = Buffer.from(text, 'utf8').toString('base64');
  return crypto.createHash('sha1').update(b64 + (signKey === undefined ? '(null)' : signKey), 'utf8').digest('hex');
}

function aesDecrypt(b64, key, iv) {
  const data = Buffer.from(b64.replace(/[^A-Za-z0-9+/]/g, ''), 'base64');
  const whole = data.length - (data.length % 16);
  if (whole === 0) return null;
  const d = crypto.createDecipheriv(key.length === 32 ? 'aes-256-cbc' : 'aes-128-cbc', key, iv);
  d.setAutoPadding(false);
  const out = Buffer.concat([d.update(data.subarray(0, whole)), d.final()]);
  let text;
  try { text = new TextDecoder('utf-8', { fatal: true }).decode(out); } catch (_) { return null; } // not UTF-8: nothing
  return text.replace(/[\u0000\u0008]/g, '');
}

function answerKey(guid) {
  return Buffer.from(crypto.createHash('md5').update(guid).digest('hex'), 'ascii');
}

// One installation of the SDK: its device GUID, token, signing key and open id.
class Device {
  constructor(guid) {
    this.guid = guid || crypto.randomUUID().toUpperCase();
    this.token = undefined;
    this.sign = undefined;
    this.openId = undefined;
  }

  systemHeader(over) {
    const h = Object.assign({ sdk_version: '1.3.0', system_version: '12', system_models: '测试机 x86_64', system_type: '1',
      device_guid: this.guid, device_type: '3', encrypt: 1 }, over || {});
    return Buffer.from(JSON.stringify(h), 'utf8').toString('latin1');
  }

  signed(params, opts = {}) {
    const all = { timestamp: String(Math.round(Date.now() / 1000)) };
    if (this.token !== undefined) all.token = this.token;
    if (this.openId !== undefined) all.open_id = this.openId;
    Object.assign(all, params);
    all.sign = opts.badSign ? '0'.repeat(40) : signOf(all, this.sign);
    if (opts.noSign) delete all.sign;
    return all;
  }

  async call(method, apiPath, params = {}, opts = {}) {
    const all = this.signed(params, opts);
    const headers = opts.noHeader ? {} : { 'Pellix-System': opts.header || this.systemHeader(opts.headerOver) };
    let r;
    if (method === 'GET') {
      r = await request('GET', `${apiPath}?${encodeForm(all)}`, { headers });
    } else {
      headers['Content-Type'] = 'application/x-www-form-urlencoded; charset=utf-8';
      r = await request(method, apiPath, { headers, body: Buffer.from(encodeForm(all)) });
    }
    r.text = r.body.toString('utf8');
    r.plain = aesDecrypt(r.text, answerKey(this.guid), Buffer.from(K.response_iv, 'ascii'));
    const chosen = r.plain ? r.plain : r.text.startsWith('{') ? r.text : null;
    try { r.json = chosen === null ? undefined : JSON.parse(chosen); } catch (_) { r.json = undefined; }
    return r;
  }

  async fetchToken() {
    const r = await this.call('GET', '/sdk/v2/token', { appid: K.test_app_id, secret: K.test_secret, package_name: 'com.pellix.test' });
    assert.equal(r.status, 200, r.text);
    this.token = r.json.data.token;
    this.sign = aesDecrypt(r.json.data.sign_key, Buffer.from(K.sign_key_aes_key, 'ascii'), Buffer.from(K.sign_key_aes_iv, 'ascii'));
    return r;
  }

  async login() {
    await this.fetchToken();
    const r = await this.call('GET', '/sdkapi/v2/user/init_user_info', { mobile_no: '13800138000', nation_code: '86' });
    assert.equal(r.status, 200, r.text);
    this.openId = r.json.data.open_id;
    return r;
  }
}

async function lastRequest() {
  const r = await admin('GET', 'requests?n=1');
  return r.json[0];
}

module.exports = {
  useStandin, request, admin, Device, aesDecrypt, answerKey, signOf, lastRequest, K, SIP_PORT,
  ports: () => ({ port, brokerPort }),
};
