#!/usr/bin/env node
// HTTPS (or plain HTTP) server the URL-session tests and benchmark talk to.
//
//   node server.js --cert leaf.pem --key leaf.key [--port 0] [--plain] [--log]
//                  [--door-redirect <url>]
//
// Prints "listening <port>" once it accepts connections; with --log also
// "request <json>" (method, url, headers) for every request. Endpoints:
//   /small                 "hello" (text/plain; charset=utf-8)
//   /bytes/<n>             n bytes of a repeating pattern, streamed, with Content-Length
//   /echo                  JSON: method, url, headers, body length and its SHA-256 (hex)
//   /redirect/<code>?to=<url>   status <code> with Location <url>
//   /loop/<n>              302 to /loop/<n+1>, for ever
//   /stall                 accepts the request and never answers
//   /stall-body            sends the head and part of the body, then nothing
//   /close-mid-body        promises 100000 bytes, sends 1000, closes the socket
//   /drip?n=<n>&ms=<ms>    n bytes, one every ms milliseconds
//   /status/<n>            status n with body "status <n>"
//   /headers               JSON of the request headers
//   /pellix_api/...        a door unit's answer: JSON {"code":0}, or with
//                          --door-redirect a 302 to that URL
//   /cookie[?set=<v>]      the request's Cookie field as the body; with set, also Set-Cookie px=<v>
const fs = require('fs');
const http = require('http');
const https = require('https');
const crypto = require('crypto');

const args = process.argv.slice(2);
const opt = (name, dflt) => {
  const i = args.indexOf('--' + name);
  return i >= 0 ? args[i + 1] : dflt;
};
const plain = args.includes('--plain');
const port = Number(opt('port', '0'));
const log = args.includes('--log');
const doorRedirect = opt('door-redirect', null);

// Byte i of every /bytes body is i % 251; the buffer is a whole number of periods.
const pattern = Buffer.alloc(251 * 1024);
for (let i = 0; i < pattern.length; i++) pattern[i] = i % 251;

function sendBytes(res, n) {
  res.writeHead(200, { 'Content-Type': 'application/octet-stream', 'Content-Length': String(n) });
  let left = n;
  const pump = () => {
    while (left > 0) {
      const take = Math.min(left, pattern.length);
      left -= take;
      if (!res.write(take === pattern.length ? pattern : pattern.subarray(0, take))) return res.once('drain', pump);
    }
    res.end();
  };
  pump();
}

function handler(req, res) {
  if (log) {
    process.stdout.write('request ' + JSON.stringify({ method: req.method, url: req.url, headers: req.headers }) + '\n');
  }
  const url = new URL(req.url, 'http://x');
  const parts = url.pathname.split('/').filter(Boolean);
  const hash = crypto.createHash('sha256');
  let length = 0;
  req.on('data', (c) => { hash.update(c); length += c.length; });
  req.on('error', () => {});
  req.on('end', () => {
    switch (parts[0]) {
      case 'small':
        res.writeHead(200, { 'Content-Type': 'text/plain; charset=utf-8', 'Content-Length': '5' });
        return res.end('hello');
      case 'bytes':
        return sendBytes(res, Number(parts[1] || 0));
      case 'echo': {
        const body = JSON.stringify({ method: req.method, url: req.url, headers: req.headers, length,
                                      sha256: hash.digest('hex') });
        res.writeHead(200, { 'Content-Type': 'application/json' });
        return res.end(body);
      }
      case 'cookie': {
        // The Cookie field received as the body; ?set=<v> also sets px=<v>.
        const headers = { 'Content-Type': 'text/plain; charset=utf-8' };
        if (url.searchParams.has('set')) headers['Set-Cookie'] = `px=${url.searchParams.get('set')}; Path=/`;
        res.writeHead(200, headers);
        return res.end(req.headers.cookie || '');
      }
      case 'headers':
        res.writeHead(200, { 'Content-Type': 'application/json' });
        return res.end(JSON.stringify(req.headers));
      case 'redirect':
        res.writeHead(Number(parts[1]), { Location: url.searchParams.get('to') || '/small', 'Content-Length': '8' });
        return res.end('redirect');
      case 'loop':
        res.writeHead(302, { Location: '/loop/' + (Number(parts[1] || 0) + 1), 'Content-Length': '0' });
        return res.end();
      case 'stall':
        return;
      case 'stall-body':
        res.writeHead(200, { 'Content-Length': '100000' });
        res.write(Buffer.alloc(1000, 97));
        return;
      case 'close-mid-body':
        res.writeHead(200, { 'Content-Length': '100000' });
        res.write(Buffer.alloc(1000, 97), () => setTimeout(() => req.socket.destroy(), 50));
        return;
      case 'drip': {
        const n = Number(url.searchParams.get('n') || 10);
        const ms = Number(url.searchParams.get('ms') || 100);
        res.writeHead(200, { 'Content-Length': String(n) });
        let sent = 0;
        const timer = setInterval(() => {
          if (res.destroyed) return clearInterval(timer);
          res.write('x');
          if (++sent === n) { clearInterval(timer); res.end(); }
        }, ms);
        return;
      }
      case 'status': {
        const code = Number(parts[1]);
        const text = 'status ' + code;
        res.writeHead(code, { 'Content-Type': 'text/plain', 'Content-Length': String(text.length) });
        return res.end(text);
      }
      case 'pellix_api':
        if (doorRedirect) {
          res.writeHead(302, { Location: doorRedirect, 'Content-Length': '0' });
          return res.end();
        }
        res.writeHead(200, { 'Content-Type': 'application/json', 'Content-Length': '10' });
        return res.end('{"code":0}');
      default:
        res.writeHead(404, { 'Content-Length': '9' });
        return res.end('not found');
    }
  });
}

const server = plain
  ? http.createServer(handler)
  : https.createServer({ cert: fs.readFileSync(opt('cert')), key: fs.readFileSync(opt('key')) }, handler);
server.keepAliveTimeout = 60000;
server.headersTimeout = 0;
server.requestTimeout = 0;
server.listen(port, '127.0.0.1', () => {
  process.stdout.write('listening ' + server.address().port + '\n');
});
process.on('SIGTERM', () => process.exit(0));
