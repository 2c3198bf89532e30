#include "backends/http/page.h"

namespace skav::http {

const char* const kPageHtml = R"html(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>SKAV line</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<link rel="stylesheet" href="/page.css"></head>
<body>
<header><h1>SKAV line</h1><span id="since"></span><span id="problem"></span></header>
<section id="stations"></section>
<section class="row">
 <div class="card"><h2>Today</h2><table id="totals"></table></div>
 <div class="card"><h2>Boards per hour</h2><div id="chart"></div></div>
 <div class="card"><h2>Failures</h2><table id="failures"></table></div>
 <div class="card"><h2>Address pool</h2><table id="pool"></table></div>
</section>
<section class="card"><h2>Latest records</h2>
 <form id="filters">
  <select name="verdict"><option value="">any verdict</option><option>pass</option><option>fail</option>
   <option>timeout</option><option>not-run</option><option>adapter-lost</option><option>stopped</option></select>
  <input name="station" placeholder="station (host or identity)">
  <input name="address" placeholder="address">
  <button>Show</button> <a id="csv" href="/records.csv">CSV</a>
 </form>
 <table id="records"></table>
</section>
<script src="/page.js"></script>
</body></html>
)html";

const char* const kPageStyle = R"css(
body { font-family: sans-serif; margin: 0; background: #f4f4f4; color: #202020; }
header { background: #263238; color: #fff; padding: 8px 16px; display: flex; gap: 16px; align-items: baseline; }
header h1 { font-size: 20px; margin: 0; }
#problem { color: #ffab91; }
#stations { display: flex; flex-wrap: wrap; gap: 12px; padding: 12px; }
.station { background: #fff; border-radius: 6px; padding: 8px; box-shadow: 0 1px 3px #0003; }
.station h3 { margin: 0 0 6px 0; font-size: 15px; }
.station .id { color: #777; font-size: 11px; }
.ports { display: flex; gap: 8px; }
.tile { width: 170px; min-height: 120px; border-radius: 4px; padding: 6px; font-size: 12px; }
.tile .word { font-size: 20px; font-weight: bold; margin: 4px 0; display: flex; align-items: center; gap: 6px; }
.tile .mark { flex: none; }
.tile .bar { height: 6px; background: #0002; }
.tile .bar div { height: 6px; background: currentColor; }
.row { display: flex; flex-wrap: wrap; gap: 12px; padding: 0 12px; }
.card { background: #fff; border-radius: 6px; padding: 8px 12px; margin: 0 0 12px 0; box-shadow: 0 1px 3px #0003; }
section.card { margin: 0 12px 12px 12px; }
.card h2 { font-size: 15px; margin: 0 0 6px 0; }
td, th { padding: 2px 8px; text-align: left; font-size: 13px; }
#records { max-height: 320px; }
)css";

const char* const kPageScript = R"js('use strict';
// Everything from the line goes in as text (textContent), never as markup.
function el(tag, text, cls) {
  const e = document.createElement(tag);
  if (text !== undefined && text !== null) e.textContent = String(text);
  if (cls) e.className = cls;
  return e;
}
function rows(table, pairs) {
  table.replaceChildren(...pairs.map(([k, v]) => { const tr = el('tr'); tr.append(el('th', k), el('td', v)); return tr; }));
}
const SVG = 'http://www.w3.org/2000/svg';
function svg(tag, attrs) {
  const e = document.createElementNS(SVG, tag);
  for (const k in attrs) e.setAttribute(k, attrs[k]);
  return e;
}
// The word's shape as the windows draw it, from the outlines /api/line brings: the page has
// none of its own, so the two cannot drift apart.
let marks = null;
function mark(name) {
  const strokes = marks && marks[name];
  if (!strokes) return null;
  const box = svg('svg', {viewBox: '0 0 1 1', width: 22, height: 22, role: 'img', 'aria-label': name, 'class': 'mark'});
  box.dataset.mark = name;
  for (const s of strokes)
    box.append(svg('path', {d: s.d, fill: s.filled ? 'currentColor' : 'none', stroke: 'currentColor',
      'stroke-width': marks.pen, 'stroke-linecap': 'round', 'stroke-linejoin': 'round'}));
  return box;
}
function tile(port) {
  const t = el('div', null, 'tile');
  t.style.background = port.background; t.style.color = port.colour;
  t.dataset.word = port.word;
  const word = el('div', null, 'word'), shape = mark(port.mark);
  if (shape) word.append(shape);
  word.append(port.word);
  t.append(el('div', port.adapter + ' (port ' + port.port + ')'), word);
  if (port.board > 0) t.append(el('div', 'Board ' + port.board + (port.address ? ', ' + port.address : '')));
  if (port.step) {
    t.append(el('div', port.step + ' ' + port.progress + ' %'));
    const bar = el('div', null, 'bar'), fill = el('div');
    fill.style.width = Math.max(0, Math.min(100, port.progress)) + '%';
    bar.append(fill); t.append(bar);
  }
  if (port.verdict) t.append(el('div', 'last: ' + port.verdict + (port.reason ? ' (' + port.reason + ')' : '')));
  if (port.adapter_health && port.adapter_health !== 'ok') t.append(el('div', 'adapter: ' + port.adapter_health));
  return t;
}
function chart(hours) {
  const w = 24 * 18, h = 120, box = svg('svg', {width: w, height: h + 16, role: 'img'});
  const top = Math.max(1, ...hours.map(x => x.passed + x.failed));
  hours.forEach((x, i) => {
    const ph = x.passed / top * h, fh = x.failed / top * h, left = i * 18 + 2;
    box.append(svg('rect', {x: left, y: h - ph, width: 14, height: ph, fill: '#2e7d32'}));
    box.append(svg('rect', {x: left, y: h - ph - fh, width: 14, height: fh, fill: '#c62828'}));
    const label = svg('text', {x: left, y: h + 12, 'font-size': 9}); label.textContent = String(x.hour);
    box.append(label);
  });
  return box;
}
function render(line) {
  document.getElementById('problem').textContent = line.error || '';
  if (line.error) return;
  if (line.marks) marks = line.marks;
  document.getElementById('since').textContent = 'today since ' + line.since;
  document.getElementById('stations').replaceChildren(...line.stations.map(s => {
    const box = el('div', null, 'station');
    const title = el('h3', s.host); title.append(' ', el('span', s.station.slice(0, 8), 'id'));
    const ports = el('div', null, 'ports'); ports.append(...s.ports.map(tile));
    box.append(title, ports); return box;
  }));
  const t = line.totals;
  rows(document.getElementById('totals'), [['boards', t.boards], ['passed', t.passed], ['failed', t.failed], ['interrupted', t.interrupted],
    ['first-pass yield', (t.first_pass_yield * 100).toFixed(1) + ' %'], ['boards per hour', t.boards_per_hour]]);
  document.getElementById('chart').replaceChildren(chart(line.hours));
  rows(document.getElementById('failures'), line.failures.map(f => [f.step + ': ' + f.reason, f.count]));
  const p = line.pool;
  rows(document.getElementById('pool'), p ? [['used', p.used], ['free', p.free], ['used today', p.used_today],
    ['runs out', p.runs_out || 'not at today\'s rate']] : [['range', 'none (skav pool init)']]);
}
async function refresh() {
  try { render(await (await fetch('/api/line')).json()); } catch (e) { document.getElementById('problem').textContent = 'no answer'; }
}
async function records() {
  const q = new URLSearchParams(new FormData(document.getElementById('filters')));
  document.getElementById('csv').href = '/records.csv';
  const list = await (await fetch('/api/records?' + q)).json();
  const table = document.getElementById('records');
  if (!Array.isArray(list)) { table.replaceChildren(el('tr', list.error)); return; }
  const cols = ['time', 'host', 'port', 'written_mac', 'verdict', 'seconds'];
  const head = el('tr'); head.append(...cols.map(c => el('th', c)));
  table.replaceChildren(head, ...list.slice(0, 100).map(r => { const tr = el('tr'); tr.append(...cols.map(c => el('td', r[c]))); return tr; }));
}
document.getElementById('filters').addEventListener('submit', e => { e.preventDefault(); records(); });
refresh(); records();
let polling = null;
function poll() { if (!polling) polling = setInterval(() => { refresh(); }, 2000); }
if (window.EventSource) {
  const events = new EventSource('/events');
  events.onmessage = m => { render(JSON.parse(m.data)); if (polling) { clearInterval(polling); polling = null; } };
  events.onerror = () => poll();
} else { poll(); }
setInterval(records, 10000);
)js";

std::string login_page(bool failed) {
  return std::string(R"html(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>SKAV line: sign in</title>
<link rel="stylesheet" href="/page.css"></head><body><section class="card">
<h2>SKAV line</h2>)html") +
         (failed ? "<p>That token is not this dashboard's.</p>" : "") + R"html(
<form method="post" action="/login"><label>Token <input type="password" name="token" autocomplete="off"></label>
<button>Sign in</button></form></section></body></html>
)html";
}

}  // namespace skav::http
