#include "FlameGraph.h"
#include "SnapshotViews.h"

#include <cstdio>

namespace snapshot {

namespace {

// A JSON string that is also safe inside a script element.
std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '<') {
            quoted += "\\u003c";
        } else if (u < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", u);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

// [name, line, runnable (with callees), blocked, waiting, network I/O (own), [children]]
void writeNode(std::ostream& out, const Snapshot& snapshot, const std::string& name,
               const CallTreeNode& node) {
    out << "[" << jsonString(name) << "," << node.line << "," << node.runnableTime << "," << node.blockedTime
        << "," << node.waitingTime << "," << node.networkIoTime << ",[";
    for (size_t i = 0; i < node.children.size(); i++) {
        if (i != 0)
            out << ",";
        writeNode(out, snapshot, frameName(snapshot, node.children[i].methodId), node.children[i]);
    }
    out << "]]";
}

const char* const page = R"PAGE(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>@TITLE@</title>
<style>
body{font:12px sans-serif;margin:8px}
#bar{margin-bottom:6px}
#graph{position:relative;width:100%}
.f{position:absolute;height:16px;line-height:16px;overflow:hidden;white-space:nowrap;box-sizing:border-box;
border:1px solid #fff;padding-left:2px;cursor:pointer}
.runnable{background:#e8743b}.blocked{background:#d64550}.waiting{background:#6a9fd8}.netio{background:#59a14f}
.match{background:#e040fb!important}
#legend span{display:inline-block;padding:0 6px;margin-right:4px;color:#fff}
</style></head><body>
<div id="bar"><b>@TITLE@</b> &mdash; click a frame to zoom, click the bottom frame to zoom out.
<input id="search" placeholder="search"> <span id="matched"></span>
<span id="legend"><span class="runnable">runnable</span><span class="blocked">blocked</span>
<span class="waiting">waiting</span><span class="netio">network I/O</span></span></div>
<div id="graph"></div>
<script>
const data = @DATA@;
const states = ["runnable", "blocked", "waiting", "netio"];
function build(a, parent) {
  const n = {name: a[0], line: a[1], own: [0, a[3], a[4], a[5]], time: [a[2], a[3], a[4], a[5]], parent: parent,
             children: []};
  let callees = 0;
  for (const c of a[6]) {
    const child = build(c, n);
    n.children.push(child);
    callees += child.time[0];
    for (let s = 1; s < 4; s++) n.time[s] += child.time[s];
  }
  n.own[0] = Math.max(0, a[2] - callees);
  n.total = n.time[0] + n.time[1] + n.time[2] + n.time[3];
  return n;
}
const root = build(data, null);
let zoomed = root;
const graph = document.getElementById("graph");
const ms = t => (t / 1000).toFixed(1) + " ms";
function dominant(n) {
  let best = 0;
  for (let s = 1; s < 4; s++) if (n.time[s] > n.time[best]) best = s;
  return states[best];
}
function draw() {
  graph.innerHTML = "";
  const width = graph.clientWidth || 1000;
  let depth = 0;
  const frames = [];
  for (let a = zoomed.parent; a; a = a.parent) frames.push([a, 0, width, depth++]);
  frames.reverse();
  const base = depth;
  (function place(n, x, w, d) {
    if (w < 1) return;
    frames.push([n, x, w, d]);
    let cx = x;
    for (const c of n.children) {
      const cw = n.total ? w * c.total / n.total : 0;
      place(c, cx, cw, d + 1);
      cx += cw;
    }
  })(zoomed, 0, width, base);
  let maxDepth = 0;
  for (const f of frames) maxDepth = Math.max(maxDepth, f[3]);
  graph.style.height = (maxDepth + 1) * 16 + "px";
  for (const [n, x, w, d] of frames) {
    const e = document.createElement("div");
    e.className = "f " + dominant(n);
    e.style.left = x + "px";
    e.style.width = w + "px";
    e.style.bottom = d * 16 + "px";
    e.textContent = n.name;
    e.title = n.name + (n.line ? ":" + n.line : "") + "\ntotal " + ms(n.total) + "\nrunnable " + ms(n.time[0]) +
              " (self " + ms(n.own[0]) + ")\nblocked " + ms(n.time[1]) + "\nwaiting " + ms(n.time[2]) +
              "\nnetwork I/O " + ms(n.time[3]);
    e.frame = n;
    e.onclick = () => { zoomed = n === zoomed && n.parent ? n.parent : n; draw(); };
    graph.appendChild(e);
  }
  highlight();
}
function highlight() {
  const term = document.getElementById("search").value;
  let count = 0;
  for (const e of graph.children) {
    const hit = term !== "" && e.frame.name.includes(term);
    e.classList.toggle("match", hit);
    if (hit) count++;
  }
  document.getElementById("matched").textContent = term ? count + " frames match" : "";
}
document.getElementById("search").oninput = highlight;
window.onresize = draw;
draw();
</script></body></html>
)PAGE";

std::string htmlText(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '<')
            escaped += "&lt;";
        else if (c == '>')
            escaped += "&gt;";
        else if (c == '&')
            escaped += "&amp;";
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

void writeFlameGraph(std::ostream& out, const Snapshot& snapshot, const std::string& title) {
    CallTreeNode all;
    for (const ThreadEntry& thread : snapshot.threads) {
        if (thread.excluded)
            continue;
        all.runnableTime += thread.root.runnableTime;
    }
    std::string text = page;
    std::string safeTitle = htmlText(title);
    for (size_t at; (at = text.find("@TITLE@")) != std::string::npos;)
        text.replace(at, 7, safeTitle);
    size_t data = text.find("@DATA@");
    out << text.substr(0, data);
    out << "[\"all threads\",0," << all.runnableTime << ",0,0,0,[";
    bool first = true;
    for (const ThreadEntry& thread : snapshot.threads) {
        if (thread.excluded)
            continue;
        if (!first)
            out << ",";
        first = false;
        writeNode(out, snapshot, "thread " + thread.name, thread.root);
    }
    out << "]]";
    out << text.substr(data + 6);
}

} // namespace snapshot
