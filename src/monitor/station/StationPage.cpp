#include "StationHttp.h"

// The station's page: one document with its styles and scripts, so that it needs no network
// beyond the station itself and no framework.
namespace quillex::station {

namespace {

const char* const PageText = R"PAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Quillex station</title>
<style>
body{margin:0;font:14px sans-serif;background:#1b1d21;color:#ddd}
header{display:flex;flex-wrap:wrap;gap:12px;align-items:center;padding:6px 10px;background:#24272d}
header h1{font-size:16px;margin:0}
.badge{padding:2px 8px;border-radius:3px;background:#444}
.running{background:#1f6f3a}.gap{background:#8a2c2c}.sim{background:#6a5a16}
main{display:grid;grid-template-columns:minmax(0,1fr) 360px;gap:10px;padding:10px}
@media (max-width:900px){main{grid-template-columns:minmax(0,1fr)}}
#view{display:grid;grid-template-columns:minmax(0,1fr) 64px}
canvas{display:block;width:100%}
#trace{height:240px;cursor:crosshair}
#water{height:320px;image-rendering:pixelated;cursor:crosshair}
#wwrap{padding-left:48px}
#legend{height:320px;margin-top:240px}
#readout{font-family:monospace;min-height:1.3em;margin:4px 0 4px 48px}
form{display:flex;flex-wrap:wrap;gap:6px;align-items:center;margin:6px 0 0 48px}
input{width:90px;background:#111;color:#ddd;border:1px solid #555}
button{background:#333;color:#ddd;border:1px solid #555}
table{border-collapse:collapse;width:100%;font-size:12px}
td,th{border-bottom:1px solid #333;padding:2px 4px;text-align:right}
td:first-child,th:first-child{text-align:left}
h2{font-size:14px;margin:10px 0 4px}
#events{max-height:420px;overflow:auto}
</style></head><body>
<header><h1 id="station">Quillex station</h1><span id="state" class="badge">connecting</span>
<span id="sim" class="badge sim" hidden>simulated receiver</span><span id="receiver"></span>
<span id="time"></span><span id="frames"></span></header>
<main><section>
<div id="view"><div><canvas id="trace"></canvas><div id="wwrap"><canvas id="water"></canvas></div></div>
<canvas id="legend"></canvas></div>
<div id="readout"></div>
<form id="span"><label>Span <input id="lo" type="number" step="any"> to
<input id="hi" type="number" step="any"> MHz</label><button>Show</button>
<button type="button" id="whole">Whole band</button>
<label>Levels <input id="dmin" type="number" value="-120"> to
<input id="dmax" type="number" value="-40"> dBm</label></form>
</section><aside>
<h2>Band statistics</h2><table id="bands"></table>
<h2>Open episodes</h2><table id="open"></table>
<h2>Last events</h2><div id="events"><table id="evtab"></table></div>
</aside></main>
<script>
"use strict";
const token = new URL(location.href).searchParams.get("token");
if (token) history.replaceState(null, "", location.pathname);
const auth = token ? {Authorization: "Bearer " + token} : {};
const $ = id => document.getElementById(id);
const L = 48, B = 20, T = 8; // the trace's left, bottom and top margins, CSS pixels
const st = {row: null, low: 0, high: 40, n: 0, marker: null, drag: null, rows: 0};
window.quillex = st;

function api(path) {
  return fetch(path, {headers: auth, cache: "no-store"}).then(r => r.ok ? r.json() : Promise.reject(r.status));
}
function fmt(v, d) { return v === null || v === undefined ? "" : Number(v).toFixed(d); }
function esc(t) { return String(t).replace(/[&<>"]/g, c => "&#" + c.charCodeAt(0) + ";"); }

// Palette: dark blue through cyan, green, yellow to red and white, as levels rise.
const stops = [[0,0,0,40],[0.25,0,60,200],[0.45,0,190,210],[0.6,40,200,60],[0.75,240,220,0],[0.9,240,40,0],[1,255,255,255]];
const palette = new Uint8ClampedArray(256 * 3);
for (let i = 0; i < 256; i++) {
  const x = i / 255; let k = 1; while (k < stops.length - 1 && stops[k][0] < x) k++;
  const a = stops[k - 1], b = stops[k], t = (x - a[0]) / (b[0] - a[0]);
  for (let c = 0; c < 3; c++) palette[i * 3 + c] = a[c + 1] + t * (b[c + 1] - a[c + 1]);
}
function range() { const lo = +$("dmin").value, hi = +$("dmax").value; return hi > lo ? [lo, hi] : [lo, lo + 1]; }
function colourIndex(db, lo, hi) { return Math.max(0, Math.min(255, Math.round((db - lo) / (hi - lo) * 255))); }

function fit(c) {
  const r = devicePixelRatio || 1, w = Math.round(c.clientWidth * r), h = Math.round(c.clientHeight * r);
  if (c.width !== w || c.height !== h) { c.width = w; c.height = h; }
  return r;
}
function step(span, parts) {
  const raw = span / parts, p = Math.pow(10, Math.floor(Math.log10(raw)));
  return [1, 2, 5, 10].map(m => m * p).find(s => s >= raw);
}
function xOf(mhz, w) { return L + (mhz - st.low) / (st.high - st.low) * (w - L); }
function mhzOf(x, w) { return st.low + (x - L) / (w - L) * (st.high - st.low); }

function drawTrace() {
  const c = $("trace"), r = fit(c), g = c.getContext("2d"), w = c.width / r, h = c.height / r;
  g.setTransform(r, 0, 0, r, 0, 0); g.fillStyle = "#101216"; g.fillRect(0, 0, w, h);
  const [lo, hi] = range(), y = v => T + (hi - v) / (hi - lo) * (h - B - T);
  g.font = "11px sans-serif"; g.strokeStyle = "#333"; g.fillStyle = "#aaa"; g.lineWidth = 1;
  const ds = step(hi - lo, 6);
  for (let v = Math.ceil(lo / ds) * ds; v <= hi; v += ds) {
    g.beginPath(); g.moveTo(L, y(v)); g.lineTo(w, y(v)); g.stroke(); g.fillText(v.toFixed(0), 4, y(v) + 4);
  }
  const fs = step(st.high - st.low, Math.max(2, Math.floor((w - L) / 90)));
  for (let f = Math.ceil(st.low / fs) * fs; f <= st.high; f += fs) {
    const x = xOf(f, w); g.beginPath(); g.moveTo(x, 0); g.lineTo(x, h - B); g.stroke();
    g.fillText(f.toFixed(fs < 0.01 ? 3 : fs < 0.1 ? 2 : fs < 1 ? 1 : 0), x - 12, h - 6);
  }
  if (st.row) {
    const v = st.row.levels, n = v.length; g.strokeStyle = "#f0e060"; g.beginPath();
    for (let i = 0; i < n; i++) { const x = L + (i + 0.5) / n * (w - L), yy = y(v[i]); i ? g.lineTo(x, yy) : g.moveTo(x, yy); }
    g.stroke();
  }
  if (st.drag && st.drag.x1 !== undefined) {
    g.fillStyle = "rgba(120,160,255,0.25)"; g.fillRect(Math.min(st.drag.x0, st.drag.x1), 0, Math.abs(st.drag.x1 - st.drag.x0), h - B);
  }
  if (st.marker) {
    const x = xOf(st.marker.freq_mhz, w), yy = Math.max(T + 12, Math.min(h - B, y(st.marker.power_dbm)));
    g.fillStyle = "#ff40ff"; g.beginPath(); g.moveTo(x, yy - 2); g.lineTo(x - 6, yy - 12); g.lineTo(x + 6, yy - 12); g.fill();
    g.fillText("M1", x + 8, yy - 6);
  }
}

function drawLegend() {
  const c = $("legend"), r = fit(c), g = c.getContext("2d"), w = c.width / r, h = c.height / r, [lo, hi] = range();
  g.setTransform(r, 0, 0, r, 0, 0); g.clearRect(0, 0, w, h);
  for (let yy = 0; yy < h; yy++) {
    const i = colourIndex(hi - yy / h * (hi - lo), lo, hi);
    g.fillStyle = `rgb(${palette[i * 3]},${palette[i * 3 + 1]},${palette[i * 3 + 2]})`; g.fillRect(0, yy, 14, 1);
  }
  g.fillStyle = "#aaa"; g.font = "11px sans-serif"; const ds = step(hi - lo, 6);
  for (let v = Math.ceil(lo / ds) * ds; v <= hi; v += ds) {
    const yy = (hi - v) / (hi - lo) * h; if (yy > 16) g.fillText(v.toFixed(0), 18, Math.min(h - 2, yy + 4));
  }
  g.fillText("dBm", 18, 10);
}

function addRow(row) {
  const c = $("water"), n = row.levels.length, g = c.getContext("2d");
  const height = Math.max(50, Math.round(c.clientHeight));
  if (c.width !== n || c.height !== height || st.newSpan) { c.width = n; c.height = height; st.newSpan = false; }
  g.drawImage(c, 0, -1);
  const img = g.createImageData(n, 1), [lo, hi] = range();
  for (let i = 0; i < n; i++) {
    const k = colourIndex(row.levels[i], lo, hi) * 3;
    img.data[i * 4] = palette[k]; img.data[i * 4 + 1] = palette[k + 1]; img.data[i * 4 + 2] = palette[k + 2]; img.data[i * 4 + 3] = 255;
  }
  g.putImageData(img, 0, c.height - 1);
}

function decode(buf) {
  const d = new DataView(buf);
  if (buf.byteLength < 48 || d.getUint32(0, true) !== 0x31525851) return null;
  const cols = d.getUint32(4, true);
  if (buf.byteLength < 48 + 4 * cols) return null;
  return {time: d.getFloat64(8, true), low: d.getFloat64(16, true), high: d.getFloat64(24, true),
          frames: d.getUint32(32, true), n: d.getUint32(36, true), total: Number(d.getBigUint64(40, true)),
          levels: new Float32Array(buf, 48, cols)};
}

let ws = null, wish = null;
function columns() { return Math.max(16, Math.min(4096, Math.round($("water").clientWidth * (devicePixelRatio || 1)))); }
function sendWish() {
  if (!ws || ws.readyState !== 1) return;
  const m = {columns: columns()}; if (wish) m.span = wish; ws.send(JSON.stringify(m));
}
function connect() {
  const url = (location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/ws";
  ws = new WebSocket(url, token ? ["quillex", "quillex-token." + token] : ["quillex"]);
  ws.binaryType = "arraybuffer";
  ws.onopen = sendWish;
  ws.onmessage = e => {
    const row = decode(e.data); if (!row) return;
    if (!st.row || row.low !== st.low || row.high !== st.high) {
      st.low = row.low; st.high = row.high; st.newSpan = true;
      if (document.activeElement !== $("lo") && document.activeElement !== $("hi")) { $("lo").value = row.low.toFixed(4); $("hi").value = row.high.toFixed(4); }
    }
    st.row = row; st.n = row.n; st.rows++;
    if (st.firstRowAt === undefined) st.firstRowAt = performance.now();
    addRow(row); drawTrace();
    $("frames").textContent = "frame " + row.total;
  };
  ws.onclose = () => { $("state").textContent = "disconnected"; $("state").className = "badge gap"; setTimeout(connect, 2000); };
}

function pos(e) { const r = $("trace").getBoundingClientRect(); return e.clientX - r.left; }
function readMarker(freq) {
  api("/api/peaks?n=100").then(p => {
    if (!p.peaks.length) { $("readout").textContent = "no peak"; return; }
    const best = p.peaks.reduce((a, b) => Math.abs(b.freq_mhz - freq) < Math.abs(a.freq_mhz - freq) ? b : a);
    st.marker = best; $("readout").textContent = "M1 " + best.readout; drawTrace();
  }).catch(() => {});
}
function startDrag(e) { st.drag = {x0: pos(e), el: e.currentTarget}; }
function moveDrag(e) { if (st.drag) { st.drag.x1 = pos(e); drawTrace(); } }
function endDrag(e) {
  if (!st.drag) return;
  const w = $("trace").clientWidth, x0 = st.drag.x0, x1 = pos(e); st.drag = null;
  if (Math.abs(x1 - x0) < 6) { if (x1 >= L) readMarker(mhzOf(x1, w)); drawTrace(); return; }
  const a = mhzOf(Math.max(L, Math.min(x0, x1)), w), b = mhzOf(Math.max(x0, x1), w);
  wish = [a, b]; sendWish(); drawTrace();
}
for (const el of [$("trace"), $("water")]) {
  el.addEventListener("mousedown", startDrag); el.addEventListener("mousemove", moveDrag); el.addEventListener("mouseup", endDrag);
}
$("span").addEventListener("submit", e => { e.preventDefault(); wish = [+$("lo").value, +$("hi").value]; sendWish(); });
$("whole").onclick = () => { wish = [-1e9, 1e9]; sendWish(); };
for (const id of ["dmin", "dmax"]) $(id).addEventListener("change", () => { drawLegend(); drawTrace(); });
addEventListener("resize", () => { sendWish(); drawLegend(); drawTrace(); });

function poll() {
  api("/api/status").then(s => {
    $("station").textContent = "Quillex station " + s.station;
    $("state").textContent = s.state; $("state").className = "badge " + s.state;
    $("sim").hidden = !s.simulated; $("receiver").textContent = s.receiver;
    $("time").textContent = s.time.replace("T", " ").slice(0, 19);
    $("open").innerHTML = "<tr><th>kind</th><th>since</th><th>MHz</th><th>dBm</th><th>excess dB</th></tr>" +
      s.open_episodes.map(o => `<tr><td>${esc(o.kind)}</td><td>${esc((o.start || "").slice(11, 19))}</td><td>${fmt(o.freq_mhz, 4)}</td><td>${fmt(o.power_dbm, 2)}</td><td>${fmt(o.excess_db, 2)}</td></tr>`).join("");
  }).catch(() => {});
  api("/api/bands").then(b => {
    $("bands").innerHTML = "<tr><th>band</th><th>power dBm</th><th>noise dBm/Hz</th><th>occ. %</th><th>OBW kHz</th><th>peak MHz</th><th>peak dBm</th></tr>" +
      b.bands.map(r => `<tr><td>${esc(r.band)}</td><td>${fmt(r.power_dbm, 2)}</td><td>${fmt(r.noise_dbm_per_hz, 2)}</td><td>${fmt(r.occupancy_pct, 1)}</td><td>${fmt(r.obw_khz, 1)}</td><td>${fmt(r.peak_mhz, 4)}</td><td>${fmt(r.peak_dbm, 2)}</td></tr>`).join("");
  }).catch(() => {});
  api("/api/events").then(v => {
    $("evtab").innerHTML = "<tr><th>start</th><th>end</th><th>kind</th><th>MHz</th><th>dBm</th><th>excess dB</th></tr>" +
      v.events.slice(-50).reverse().map(e => `<tr><td>${esc((e.start || "").replace("T", " "))}</td><td>${esc((e.end || "").slice(11))}</td><td>${esc(e.kind)}</td><td>${fmt(e.freq_mhz, 4)}</td><td>${fmt(e.power_dbm, 2)}</td><td>${fmt(e.excess_db, 2)}</td></tr>`).join("");
  }).catch(() => {});
  if (st.marker) readMarker(st.marker.freq_mhz);
}
drawLegend(); drawTrace(); connect(); poll(); setInterval(poll, 2000);
</script></body></html>
)PAGE";

} // namespace

const std::string& StationPage()
{
    static const std::string page = PageText;
    return page;
}

} // namespace quillex::station
