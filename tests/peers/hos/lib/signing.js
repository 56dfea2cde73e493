'use strict';
// Version-1 request signatures as the service checks them: the text the client
// signs is rebuilt from what arrived on the wire and compared by HMAC-SHA1.

const crypto = require('crypto');

// Query names that take part in a header-signed request's resource.
const SIGNED_SUBRESOURCES = new Set(['acl', 'uploadId', 'partNumber', 'uploads', 'logging', 'website', 'location',
  'lifecycle', 'referer', 'cors', 'delete', 'append', 'position', 'security-token', 'x-hos-process', 'sequential']);

// The longer list a presigned URL's resource draws from.
const PRESIGN_SUBRESOURCES = new Set(['acl', 'uploads', 'location', 'cors', 'logging', 'website', 'referer',
  'lifecycle', 'delete', 'append', 'tagging', 'objectMeta', 'uploadId', 'partNumber', 'security-token', 'position',
  'img', 'style', 'styleName', 'replication', 'replicationProgress', 'replicationLocation', 'cname', 'bucketInfo',
  'comp', 'qos', 'live', 'status', 'vod', 'startTime', 'endTime', 'symlink', 'x-hos-process',
  'response-content-type', 'response-content-language', 'response-expires', 'response-cache-control',
  'response-content-disposition', 'response-content-encoding']);

function hmacSha1Base64(secret, text) {
  return crypto.createHmac('sha1', Buffer.from(secret, 'utf8')).update(Buffer.from(text, 'utf8')).digest('base64');
}

// Plain code-unit order, the way the client sorts names.
function byCodeUnits(a, b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

// Headers whose name, exactly as sent, begins with "x-hos-": "name:value\n" each, sorted by name.
function canonicalHeaders(rawHeaders) {
  const pairs = [];
  for (let i = 0; i + 1 < rawHeaders.length; i += 2) {
    if (rawHeaders[i].startsWith('x-hos-')) pairs.push([rawHeaders[i], rawHeaders[i + 1]]);
  }
  pairs.sort((a, b) => byCodeUnits(a[0], b[0]));
  return pairs.map(([n, v]) => `${n}:${v}\n`).join('');
}

// "/", "/bucket/" or "/bucket/key", then "?" and the signed sub-resources sorted by name.
function canonicalResource(bucket, key, query) {
  let resource = '/';
  if (bucket) resource = `/${bucket}/`;
  if (key) resource = resource.endsWith('/') ? resource + key : `${resource}/${key}`;
  const names = [...query.keys()].sort(byCodeUnits).filter((n) => SIGNED_SUBRESOURCES.has(n));
  if (names.length) {
    resource += '?' + names.map((n) => (query.get(n) === '' ? n : `${n}=${query.get(n)}`)).join('&');
  }
  return resource;
}

function headerStringToSign({ method, contentMd5, contentType, date, rawHeaders, bucket, key, query }) {
  return `${method}\n${contentMd5 || ''}\n${contentType || ''}\n${date || ''}\n` +
    canonicalHeaders(rawHeaders) + canonicalResource(bucket, key, query);
}

// The presigned form signs the expiry in place of the date. The sub-resource items are
// sorted as "name=value" texts, and a token provider appends "?" even when none is left,
// so both spellings of an empty tail are candidates.
function presignStringsToSign({ method, expires, bucket, key, query }) {
  const items = [];
  for (const [name, value] of query) {
    const n = name.trim();
    const v = value.trim();
    if (!PRESIGN_SUBRESOURCES.has(n)) continue;
    items.push(v === '' ? n : `${n}=${v}`);
  }
  items.sort(byCodeUnits);
  const base = `${method}\n\n\n${expires}\n/${bucket}/${key}`;
  return items.length ? [`${base}?${items.join('&')}`] : [base, `${base}?`];
}

// Parses "HOS <id>:<signature>"; null when the value has another form.
function parseAuthorization(value) {
  const m = /^HOS ([^:]+):(.+)$/.exec(value || '');
  return m ? { accessKeyId: m[1], signature: m[2] } : null;
}

function sameSignature(a, b) {
  const x = Buffer.from(a, 'utf8');
  const y = Buffer.from(b, 'utf8');
  return x.length === y.length && crypto.timingSafeEqual(x, y);
}

module.exports = {
  SIGNED_SUBRESOURCES, PRESIGN_SUBRESOURCES, hmacSha1Base64, canonicalHeaders, canonicalResource,
  headerStringToSign, presignStringsToSign, parseAuthorization, sameSignature,
};
