#!/usr/bin/env node
'use strict';
// Local stand-in for the platform's HTTPS API and the identity-card OCR
// service, for the SDK's tests and the example. Loopback only.
// Usage and knobs: README.md beside this file.

const fs = require('fs');
const https = require('https');
const { CONSTANTS } = require('./lib/crypto');
const { createState, handlePlatform } = require('./lib/platform');
const { handleAdmin } = require('./lib/admin');
const { OCR_PATH, handleOcr } = require('./lib/ocr');

const BODY_LIMIT = 16 * 1024 * 1024;

const FLAGS = {
  '--cert': 'cert', '--key': 'key', '--port': 'port', '--broker-port': 'brokerPort', '--broker-host': 'brokerHost',
  '--sip-host': 'sipHost', '--sip-port': 'sipPort', '--sip-tls-port': 'sipTlsPort', '--hos-endpoint': 'hosEndpoint',
  '--hos-bucket': 'hosBucket', '--hos-ttl': 'hosTtl', '--token-ttl': 'tokenTtl', '--app-id': 'appId',
  '--secret': 'secret', '--mosquitto-pub': 'mosquittoPub',
};
const SWITCHES = { '--plain': 'plain', '--expire-always': 'expireAlways' };
const NUMBERS = ['port', 'brokerPort', 'sipPort', 'sipTlsPort', 'hosTtl', 'tokenTtl'];

function usage(msg) {
  process.stderr.write(`${msg}\nusage: node server.js --cert <pem> --key <pem> [--port N] [--plain] ` +
    '[--broker-port N] [--sip-host h --sip-port p] [see README.md for the rest]\n');
  process.exit(2);
}

function parseArgs(argv) {
  const s = {
    port: 0, plain: false, expireAlways: false, brokerPort: null, brokerHost: '127.0.0.1',
    sipHost: '127.0.0.1', sipPort: 5060, sipTlsPort: 5061, hosEndpoint: 'https://127.0.0.1:9',
    hosBucket: CONSTANTS.hos_bucket, hosTtl: 3600, tokenTtl: 7200, appId: CONSTANTS.test_app_id,
    secret: CONSTANTS.test_secret, mosquittoPub: 'mosquitto_pub',
    ocrApiKey: CONSTANTS.ocr_api_key, ocrApiSecret: CONSTANTS.ocr_api_secret,
    hosAccessKeyId: CONSTANTS.hos_access_key_id, hosAccessKeySecret: CONSTANTS.hos_access_key_secret,
    hosSecurityToken: CONSTANTS.hos_security_token,
  };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (SWITCHES[a]) { s[SWITCHES[a]] = true; continue; }
    if (!FLAGS[a]) usage(`unknown argument ${a}`);
    if (i + 1 >= argv.length) usage(`${a} needs a value`);
    const name = FLAGS[a];
    const v = argv[++i];
    if (NUMBERS.includes(name)) {
      if (!/^\d+$/.test(v)) usage(`${a} needs a number`);
      s[name] = Number(v);
    } else {
      s[name] = v;
    }
  }
  if (!s.cert || !s.key) usage('--cert and --key are required');
  s.plainAtStart = s.plain;
  return s;
}

function main() {
  const settings = parseArgs(process.argv.slice(2));
  const state = createState(settings);
  const server = https.createServer({ cert: fs.readFileSync(settings.cert), key: fs.readFileSync(settings.key) });

  server.on('request', (req, res) => {
    const chunks = [];
    let size = 0;
    let over = false;
    req.on('data', (c) => {
      size += c.length;
      if (size > BODY_LIMIT) { over = true; return; }
      chunks.push(c);
    });
    req.on('end', () => {
      // Kept literally: a doubled slash must stay visible (and unknown), not read as a host.
      const url = req.url.startsWith('/') ? new URL(`https://127.0.0.1${req.url}`) : new URL(req.url, 'https://127.0.0.1');
      const done = (err) => {
        process.stderr.write(`stand-in: ${req.method} ${req.url}: ${err && err.stack ? err.stack : err}\n`);
        if (!res.headersSent) { res.writeHead(500, { 'Content-Type': 'text/plain' }); }
        res.end('stand-in failure');
      };
      if (over) {
        res.writeHead(413, { 'Content-Type': 'application/json; charset=utf-8' });
        res.end(JSON.stringify({ error_message: 'REQUEST_TOO_LARGE' }));
        return;
      }
      const body = Buffer.concat(chunks);
      try {
        let p;
        if (url.pathname.startsWith('/__admin/')) p = handleAdmin(state, req, res, url, body);
        else if (url.pathname === OCR_PATH) p = handleOcr(state, req, res, url, body);
        else p = handlePlatform(state, req, res, url, body);
        Promise.resolve(p).catch(done);
      } catch (e) {
        done(e);
      }
    });
  });
  server.on('tlsClientError', () => {}); // a client that rejects our certificate is the test's business

  server.listen(settings.port, '127.0.0.1', () => {
    settings.port = server.address().port;
    process.stdout.write(`listening ${settings.port}\n`);
  });
  const stop = () => { server.close(); process.exit(0); };
  process.on('SIGTERM', stop);
  process.on('SIGINT', stop);
}

main();
