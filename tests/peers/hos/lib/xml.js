'use strict';
// Just enough XML for the service: writing result documents, and reading the
// three small request bodies (delete list, part list, bucket location).

const DECL = '<?xml version="1.0" encoding="UTF-8"?>\n';

function esc(text) {
  // Element text only, so quotes stay as they are (ETags carry them).
  return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
}

function unesc(text) {
  return text.replace(/&(lt|gt|quot|apos|amp|#x[0-9a-fA-F]+|#[0-9]+);/g, (_, e) => {
    switch (e) {
      case 'lt': return '<';
      case 'gt': return '>';
      case 'quot': return '"';
      case 'apos': return "'";
      case 'amp': return '&';
      default: return String.fromCodePoint(e[1] === 'x' ? parseInt(e.slice(2), 16) : parseInt(e.slice(1), 10));
    }
  });
}

// A node is [name, children] where children is a string, a number, a boolean, or an array of nodes;
// null children and null nodes are skipped.
function render(node, indent = '') {
  if (!node) return '';
  const [name, children] = node;
  if (children === null || children === undefined) return `${indent}<${name}></${name}>\n`;
  if (!Array.isArray(children)) return `${indent}<${name}>${esc(children)}</${name}>\n`;
  return `${indent}<${name}>\n${children.map((c) => render(c, indent + '  ')).join('')}${indent}</${name}>\n`;
}

function document(root) {
  return Buffer.from(DECL + render(root), 'utf8');
}

// Texts of every <tag>...</tag> inside `xml` (no nesting of the same tag expected).
function texts(xml, tag) {
  const out = [];
  const re = new RegExp(`<${tag}(?:\\s[^>]*)?>([\\s\\S]*?)</${tag}>`, 'g');
  for (let m = re.exec(xml); m; m = re.exec(xml)) out.push(m[1]);
  return out;
}

function text(xml, tag) {
  const all = texts(xml, tag);
  return all.length ? unesc(all[0].trim()) : undefined;
}

module.exports = { esc, unesc, render, document, texts, text };
