#!/usr/bin/env node
// HTTP-DNS stand-in for the storage runtime's tests.
//
//   node server.js --cert leaf.pem --key leaf.key --account 123456 --answers answers.json [--host 127.0.0.1]
//
// Prints "listening <port>" once it accepts connections, then one line
// "query <host>" per HTTP-DNS query it receives (so tests count lookups).
// GET /<account>/d?host=<host> answers from the answers file, read afresh on
// every query: { "<host>": [ { "status": 200, "body": "<text>" }, ... ] }.
// Each query of a host takes the next reply of its list; the last one repeats.
// A host without replies gets 404; any other path gets 404 and a line
// "bad-path <path>".
const fs = require('fs');
const https = require('https');

const args = process.argv.slice(2);
const opt = (name) => {
  const i = args.indexOf('--' + name);
  return i >= 0 ? args[i + 1] : undefined;
};
const account = opt('account');
const answersFile = opt('answers');
const served = new Map();

function readAnswers() {
  try {
    return JSON.parse(fs.readFileSync(answersFile, 'utf8'));
  } catch (e) {
    return {};
  }
}

const server = https.createServer({ cert: fs.readFileSync(opt('cert')), key: fs.readFileSync(opt('key')) },
  (req, res) => {
    const url = new URL(req.url, 'https://x');
    if (req.method !== 'GET' || url.pathname !== '/' + account + '/d' || !url.searchParams.has('host')) {
      process.stdout.write('bad-path ' + req.url + '\n');
      res.writeHead(404, { 'Content-Length': '0' });
      return res.end();
    }
    const host = url.searchParams.get('host');
    process.stdout.write('query ' + host + '\n');
    const replies = readAnswers()[host];
    if (!Array.isArray(replies) || replies.length === 0) {
      res.writeHead(404, { 'Content-Length': '0' });
      return res.end();
    }
    const n = served.get(host) || 0;
    served.set(host, n + 1);
    const reply = replies[Math.min(n, replies.length - 1)];
    const body = Buffer.from(reply.body || '', 'utf8');
    res.writeHead(reply.status || 200, { 'Content-Type': 'application/json', 'Content-Length': String(body.length) });
    res.end(body);
  });
server.listen(0, opt('host') || '127.0.0.1', () => {
  process.stdout.write('listening ' + server.address().port + '\n');
});
process.on('SIGTERM', () => process.exit(0));
