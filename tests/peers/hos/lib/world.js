'use strict';
// Everything the stand-in knows: configuration, credentials, buckets with their
// objects and multipart uploads (bytes on disk, bookkeeping here), fault knobs
// and the request log.

const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

const DEFAULT_CONFIG = {
  clockOffsetSeconds: 0,     // server clock = real clock + this
  maxSkewSeconds: 900,       // RequestTimeTooSkewed beyond this
  minPartSize: 102400,       // every part but the last must be at least this big at completion
  listPartsMax: 1000,        // page size of a part listing without max-parts
  authStatus: 200,           // "StatusCode" the authorisation server answers
  authTtlSeconds: 3600,      // lifetime of issued temporary credentials
  callbackTimeoutMs: 5000,   // a callback slower than this has failed
};

const LOG_LIMIT = 10000;

class World {
  constructor({ dir, domain, accessKeyId, accessKeySecret }) {
    this.dir = dir;
    this.domain = domain.toLowerCase();
    this.owner = { id: 'pellix-test-owner', displayName: 'pellix-test-owner' };
    this.config = { ...DEFAULT_CONFIG };
    this.keys = new Map([[accessKeyId, accessKeySecret]]);
    this.tokens = new Map();   // security token -> { accessKeyId, secret, expiresMs }
    this.buckets = new Map();  // name -> { name, created, acl, location, objects: Map, uploads: Map }
    this.faults = [];
    this.nextFaultId = 1;
    this.log = [];
    this.nextFile = 1;
    this.nextRequest = 1;
    for (const sub of ['objects', 'parts', 'incoming']) fs.mkdirSync(path.join(dir, sub), { recursive: true });
  }

  now() {
    return Date.now() + this.config.clockOffsetSeconds * 1000;
  }

  newFile(sub) {
    return path.join(this.dir, sub, `${process.pid}-${this.nextFile++}.bin`);
  }

  requestId() {
    return `${Date.now().toString(16).toUpperCase()}${crypto.randomBytes(6).toString('hex').toUpperCase()}`;
  }

  issueCredentials(ttlSeconds) {
    const accessKeyId = `STS.${crypto.randomBytes(8).toString('hex')}`;
    const secret = crypto.randomBytes(21).toString('base64');
    const token = crypto.randomBytes(48).toString('base64');
    const expiresMs = Math.floor(this.now() / 1000) * 1000 + ttlSeconds * 1000;
    this.tokens.set(token, { accessKeyId, secret, expiresMs });
    return { accessKeyId, secret, token, expiresMs };
  }

  createBucket(name, acl = 'private', location = '') {
    const b = { name, created: new Date(this.now()), acl, location, objects: new Map(), uploads: new Map() };
    this.buckets.set(name, b);
    return b;
  }

  addFaults(list) {
    const added = [];
    for (const f of list) {
      const fault = { id: this.nextFaultId++, times: 1, match: {}, ...f, used: 0 };
      this.faults.push(fault);
      added.push(fault.id);
    }
    return added;
  }

  // The first fault whose filter fits; its use is counted and a spent one removed.
  takeFault(info) {
    for (let i = 0; i < this.faults.length; i++) {
      const f = this.faults[i];
      if (!faultMatches(f.match || {}, info)) continue;
      f.used++;
      if (f.times > 0 && f.used >= f.times) this.faults.splice(i, 1);
      return f;
    }
    return null;
  }

  record(entry) {
    this.log.push(entry);
    if (this.log.length > LOG_LIMIT) this.log.splice(0, this.log.length - LOG_LIMIT);
  }

  removeFile(file) {
    if (file) fs.rm(file, { force: true }, () => {});
  }

  reset() {
    for (const b of this.buckets.values()) {
      for (const o of b.objects.values()) this.removeFile(o.file);
      for (const u of b.uploads.values()) for (const p of u.parts.values()) this.removeFile(p.file);
    }
    this.buckets.clear();
    this.tokens.clear();
    this.faults = [];
    this.log = [];
    this.config = { ...DEFAULT_CONFIG };
  }
}

function faultMatches(m, info) {
  if (m.op !== undefined && m.op !== info.op && m.op !== info.type) return false;
  for (const k of ['method', 'bucket', 'key', 'partNumber']) {
    if (m[k] !== undefined && String(m[k]) !== String(info[k])) return false;
  }
  return true;
}

module.exports = { World, DEFAULT_CONFIG };
