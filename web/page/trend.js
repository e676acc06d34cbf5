// The trend: one uPlot strip per channel on the instance's local time, with
// its breaks, alarm stretches, INF markers and set limits, and a table beside
// each strip that a screen reader can read.
// SPDX-License-Identifier: GPL-3.0-or-later
"use strict";

(function () {
  const { el, formatNumber, decimalsOf, getJson, onOpen, languages } = window.QM;
  const $ = (id) => document.getElementById(id);

  let span = 86400;
  let plots = [];
  let loading = 0;   // sequence number of the newest request
  let refreshTimer = null;
  let loadedAt = 0;  // performance.now() of the last request

  function offsetText(s) {
    const a = Math.abs(s);
    const hh = String(Math.floor(a / 3600)).padStart(2, "0");
    const mm = String(Math.floor((a % 3600) / 60)).padStart(2, "0");
    return "UTC" + (s < 0 ? "−" : "+") + hh + ":" + mm;
  }

  function zoneKnown(zone) {
    try {
      new Intl.DateTimeFormat("en", { timeZone: zone });
      return !!zone;
    } catch (e) {
      return false;
    }
  }

  // The instance's offset at `ms` from the trend's list of offsets.
  function offsetAt(offsets, ms) {
    let off = offsets.length ? offsets[0][1] : 0;
    for (const [from, o] of offsets)
      if (from <= ms)
        off = o;
    return off;
  }

  // A Date whose local fields show the instance's wall clock at `ms`.
  function makeTzDate(zone, offsets) {
    if (zoneKnown(zone))
      return (ms) => uPlot.tzDate(new Date(ms), zone);
    return (ms) => {
      const shifted = ms + offsetAt(offsets, ms) * 1000;
      return new Date(shifted + new Date(shifted).getTimezoneOffset() * 60000);
    };
  }

  function timeFormatter(zone, offsets) {
    const opts = { year: "numeric", month: "2-digit", day: "2-digit", hour: "2-digit", minute: "2-digit", second: "2-digit" };
    if (zoneKnown(zone)) {
      const f = new Intl.DateTimeFormat(languages, { ...opts, timeZone: zone });
      return (ms) => f.format(new Date(ms)) + " " + offsetText(offsetAt(offsets, ms));
    }
    const f = new Intl.DateTimeFormat(languages, { ...opts, timeZone: "UTC" });
    return (ms) => f.format(new Date(ms + offsetAt(offsets, ms) * 1000)) + " " + offsetText(offsetAt(offsets, ms));
  }

  // Tick labels on the instance's wall clock, 24-hour, with the date under
  // the first tick and under each midnight.
  function tickFormatter(zone, offsets) {
    const tz = zoneKnown(zone) ? { timeZone: zone } : { timeZone: "UTC" };
    const shift = zoneKnown(zone) ? () => 0 : (ms) => offsetAt(offsets, ms) * 1000;
    const hm = new Intl.DateTimeFormat(languages, { hour: "2-digit", minute: "2-digit", hourCycle: "h23", ...tz });
    const hms = new Intl.DateTimeFormat(languages, { hour: "2-digit", minute: "2-digit", second: "2-digit", hourCycle: "h23", ...tz });
    const day = new Intl.DateTimeFormat(languages, { month: "2-digit", day: "2-digit", ...tz });
    return (u, splits, axisIdx, space, incr) => {
      let lastDay = null;
      return splits.map((ms) => {
        const d = new Date(ms + shift(ms));
        const date = day.format(d);
        if (incr >= 86400000)
          return date;
        const time = (incr < 60000 ? hms : hm).format(d);
        const label = date !== lastDay ? time + "\n" + date : time;
        lastDay = date;
        return label;
      });
    };
  }

  function summary(ch) {
    let min = null, max = null, latest = null;
    for (const v of ch.v) {
      if (v == null)
        continue;
      latest = v;
      if (min == null || v < min)
        min = v;
      if (max == null || v > max)
        max = v;
    }
    const dec = Math.min(3, Math.max(...[latest, min, max].map((x) => (x == null ? 0 : decimalsOf(String(x))))));
    return { latest, min, max, dec };
  }

  function summaryTable(ch, id) {
    const s = summary(ch);
    const row = (name, value) => el("tr", {}, el("th", { scope: "row", text: name }), el("td", { text: value }));
    return el("table", { className: "summary", id: id + "-summary" },
      el("caption", { text: ch.label }),
      el("tbody", {},
        row("Latest", formatNumber(s.latest, s.dec)),
        row("Min", formatNumber(s.min, s.dec)),
        row("Max", formatNumber(s.max, s.dec)),
        row("Set Hi", formatNumber(ch.set_hi)),
        row("Set Lo", formatNumber(ch.set_lo)),
        row("Alarm stretches", String((ch.alarms || []).length)),
        row("INF / -INF", String((ch.inf || []).length))));
  }

  // Drawn under the line: the alarm stretches, shaded red.
  function shadeAlarms(ch) {
    return (u) => {
      const ctx = u.ctx;
      const { left, top, width, height } = u.bbox;
      ctx.save();
      ctx.fillStyle = "rgba(255, 40, 40, 0.32)";
      for (const [a, b] of ch.alarms || []) {
        const x0 = Math.max(left, u.valToPos(a, "x", true));
        const x1 = Math.min(left + width, u.valToPos(b, "x", true));
        if (x1 >= left && x0 <= left + width)
          ctx.fillRect(x0, top, Math.max(2, x1 - x0), height);
      }
      ctx.restore();
    };
  }

  // Drawn over the line: the set limits, readings standing alone as dots and
  // INF / -INF as red triangles at the strip's edge.
  function drawMarks(ch) {
    return (u) => {
      const ctx = u.ctx;
      const { left, top, width, height } = u.bbox;
      const px = devicePixelRatio || 1;
      ctx.save();
      ctx.beginPath();
      ctx.rect(left, top, width, height);
      ctx.clip();
      ctx.setLineDash([6 * px, 4 * px]);
      ctx.lineWidth = px;
      for (const [limit, colour] of [[ch.set_hi, "#d04040"], [ch.set_lo, "#4060d0"]]) {
        if (limit == null)
          continue;
        const y = u.valToPos(limit, "y", true);
        ctx.strokeStyle = colour;
        ctx.beginPath();
        ctx.moveTo(left, y);
        ctx.lineTo(left + width, y);
        ctx.stroke();
      }
      ctx.setLineDash([]);
      ctx.fillStyle = ch.colour;
      const [t, v] = [u.data[0], u.data[1]];
      for (let i = 0; i < v.length; i++) {
        if (v[i] == null || (i > 0 && v[i - 1] != null) || (i + 1 < v.length && v[i + 1] != null))
          continue;
        ctx.beginPath();
        ctx.arc(u.valToPos(t[i], "x", true), u.valToPos(v[i], "y", true), 2.5 * px, 0, 2 * Math.PI);
        ctx.fill();
      }
      ctx.fillStyle = "#e00000";
      const s = 6 * px;
      for (const [ms, sign] of ch.inf || []) {
        const x = u.valToPos(ms, "x", true);
        const y = sign > 0 ? top : top + height;
        ctx.beginPath();
        ctx.moveTo(x - s, y + (sign > 0 ? 0 : 0));
        ctx.lineTo(x + s, y);
        ctx.lineTo(x, y + (sign > 0 ? 1.6 * s : -1.6 * s));
        ctx.closePath();
        ctx.fill();
      }
      ctx.restore();
    };
  }

  // Enough decimals to tell the value axis's ticks apart.
  function stepDecimals(splits) {
    const step = splits.length > 1 ? Math.abs(splits[1] - splits[0]) : 1;
    return Math.min(6, decimalsOf(String(Number(step.toPrecision(6)))));
  }

  function plotOptions(ch, doc, width, height, readout, fmt) {
    const scale = Array.isArray(ch.scale) && ch.scale.length === 2 && ch.scale[0] < ch.scale[1] ? ch.scale : null;
    return {
      width, height, ms: 1,
      tzDate: makeTzDate(doc.zone, doc.offsets || []),
      legend: { show: false },
      cursor: { sync: { key: "trend" }, drag: { x: false, y: false } },
      scales: {
        x: { time: true, range: () => [doc.from_ms, doc.to_ms] },
        y: scale ? { range: () => scale } : { auto: true },
      },
      series: [{}, { label: ch.label, stroke: ch.colour, width: 1.5, spanGaps: false, points: { show: false } }],
      axes: [
        { stroke: "#c8c8c8", grid: { stroke: "#3a3a3a" }, ticks: { stroke: "#3a3a3a" }, values: tickFormatter(doc.zone, doc.offsets || []) },
        { stroke: "#c8c8c8", grid: { stroke: "#3a3a3a" }, ticks: { stroke: "#3a3a3a" }, size: 56,
          values: (u, splits) => splits.map((x) => formatNumber(x, stepDecimals(splits))) },
      ],
      hooks: {
        drawClear: [shadeAlarms(ch)],
        draw: [drawMarks(ch)],
        setCursor: [(u) => {
          const i = u.cursor.idx;
          readout.textContent = i == null || u.data[1][i] == null ? "" : fmt(u.data[0][i]) + "  " + formatNumber(u.data[1][i]);
        }],
      },
    };
  }

  // Strips share the window's height on a desktop; a phone scrolls.
  function stripHeight(count) {
    if (window.innerWidth < 600)
      return 180;
    return Math.round(Math.min(260, Math.max(130, (window.innerHeight - 230) / Math.max(1, count) - 40)));
  }

  function stripWidth() {
    return Math.max(240, $("strips").clientWidth - 4);
  }

  function draw(doc, started) {
    for (const p of plots)
      p.destroy();
    plots = [];
    const strips = $("strips");
    strips.replaceChildren();
    const fmt = timeFormatter(doc.zone, doc.offsets || []);
    const offsets = [...new Set((doc.offsets || []).map((o) => o[1]))].map(offsetText).join(" / ");
    $("trend-zone").textContent = "Times are the instance's local time" + (doc.zone ? " (" + doc.zone + ", " : " (") + (offsets || "UTC") + "), "
      + fmt(doc.from_ms) + " to " + fmt(doc.to_ms) + ".";
    const width = stripWidth();
    const height = stripHeight((doc.channels || []).length);
    for (const ch of doc.channels || []) {
      const id = "strip" + ch.index;
      const readout = el("output", { className: "readout", id: id + "-readout" });
      const canvasBox = el("div", { className: "plot", id: id + "-plot", role: "img", "aria-label": ch.label + " trend, summarised in the table beside it" });
      strips.append(el("figure", { className: "strip", id },
        el("figcaption", {}, el("span", { className: "swatch", id: id + "-swatch" }), ch.label, " ", readout),
        el("div", { className: "strip-body" }, canvasBox, summaryTable(ch, id))));
      $(id + "-swatch").style.backgroundColor = ch.colour;
      plots.push(new uPlot(plotOptions(ch, doc, canvasBox.clientWidth || width, height, readout, fmt), [ch.t, ch.v], canvasBox));
    }
    if (!(doc.channels || []).length)
      $("trend-note").textContent = "No channel in use.";
    requestAnimationFrame(() => {
      $("trend").dataset.drawnMs = String(Math.round(performance.now() - started));
    });
  }

  async function load(quietly) {
    const seq = ++loading;
    const started = performance.now();
    loadedAt = started;
    delete $("trend").dataset.drawnMs;
    if (!quietly)
      $("trend-note").textContent = "Loading…";
    for (const b of document.querySelectorAll(".ranges button"))
      b.setAttribute("aria-pressed", String(Number(b.dataset.span) === span));
    try {
      const doc = await getJson("/api/trend?span=" + span);
      if (seq !== loading)
        return;
      $("trend-note").textContent = "";
      draw(doc, started);
    } catch (e) {
      if (seq === loading)
        $("trend-note").textContent = "The trend could not be loaded: " + e.message;
    }
  }

  function resize() {
    for (const p of plots)
      p.setSize({ width: p.root.parentElement.clientWidth || stripWidth(), height: stripHeight(plots.length) });
  }

  document.addEventListener("DOMContentLoaded", () => {
    for (const b of document.querySelectorAll(".ranges button"))
      b.addEventListener("click", () => {
        span = Number(b.dataset.span);
        load(false);
      });
    let pending = null;
    window.addEventListener("resize", () => {
      clearTimeout(pending);
      pending = setTimeout(resize, 150);
    });
  });

  // Kept current while shown: short ranges more often than long ones.
  onOpen("trend", () => {
    load(false);
    if (refreshTimer)
      return;
    refreshTimer = setInterval(() => {
      const due = span <= 3600 ? 15000 : 60000;
      if (!$("trend").hidden && !document.hidden && performance.now() - loadedAt > due)
        load(true);
    }, 5000);
  });
})();
