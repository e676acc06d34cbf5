// Quellmark's page: shared helpers and the section switcher.
// SPDX-License-Identifier: GPL-3.0-or-later
"use strict";

window.QM = (function () {
  const languages = navigator.languages && navigator.languages.length ? navigator.languages : [navigator.language];

  // The number of decimals a device text carries: "12.50" -> 2, "7" -> 0.
  function decimalsOf(text) {
    const m = /^\s*[-+]?\d*\.(\d+)\s*$/.exec(text || "");
    return m ? m[1].length : 0;
  }

  const formats = new Map();
  function numberFormat(decimals) {
    if (!formats.has(decimals))
      formats.set(decimals, new Intl.NumberFormat(languages, {
        minimumFractionDigits: decimals, maximumFractionDigits: decimals, useGrouping: false,
      }));
    return formats.get(decimals);
  }

  // A device text in the browser's language ("12.50" -> "12,50" in German);
  // anything that is not a plain decimal number ("???", "3E+09", "INF") stays
  // as the device sent it.
  function formatDeviceText(text) {
    if (typeof text !== "string" || !/^\s*[-+]?(\d+\.?\d*|\.\d+)\s*$/.test(text))
      return text == null ? "" : String(text);
    return numberFormat(decimalsOf(text)).format(Number(text));
  }

  // A number with a given count of decimals, or the shortest form when none.
  function formatNumber(value, decimals) {
    if (value == null || !isFinite(value))
      return "–";
    if (decimals == null)
      return new Intl.NumberFormat(languages, { maximumFractionDigits: 6, useGrouping: false }).format(value);
    return numberFormat(decimals).format(value);
  }

  const decimalSeparator = (function () {
    const part = new Intl.NumberFormat(languages).formatToParts(1.5).find((p) => p.type === "decimal");
    return part ? part.value : ".";
  })();

  // "2 min ago" style ages for a count of milliseconds.
  function ageText(ms) {
    const s = Math.max(0, Math.round(ms / 1000));
    if (s < 60)
      return s + " s";
    if (s < 3600)
      return Math.floor(s / 60) + " min";
    if (s < 86400)
      return Math.floor(s / 3600) + " h " + Math.floor((s % 3600) / 60) + " min";
    return Math.floor(s / 86400) + " d " + Math.floor((s % 86400) / 3600) + " h";
  }

  function byteSize(n) {
    if (n < 1024)
      return formatNumber(n, 0) + " bytes";
    if (n < 1024 * 1024)
      return formatNumber(n / 1024, 1) + " KiB";
    return formatNumber(n / (1024 * 1024), 1) + " MiB";
  }

  // Creates an element with attributes and children (text or elements).
  function el(tag, attrs, ...children) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) {
      if (v === false || v == null)
        continue;
      if (k === "text")
        e.textContent = v;
      else if (k === "className")
        e.className = v;
      else
        e.setAttribute(k, v === true ? "" : v);
    }
    for (const c of children)
      if (c != null)
        e.append(c);
    return e;
  }

  // An address on this instance without the user and password a typed
  // address may carry (fetch refuses addresses with them).
  function url(path) {
    return location.origin + path;
  }

  // GET of a JSON document; rejects with a readable message.
  async function getJson(path) {
    const r = await fetch(url(path), { credentials: "same-origin", headers: { Accept: "application/json" } });
    let body = null;
    try {
      body = await r.json();
    } catch (e) {
      body = null;
    }
    if (!r.ok)
      throw new Error((body && (body.error || body.reason)) || r.status + " " + r.statusText);
    return body;
  }

  // Sections: one shown at a time, named by the address's fragment.
  const pages = ["live", "trend", "settings", "logs"];
  const openers = new Map();
  function onOpen(page, f) {
    openers.set(page, f);
  }
  function showPage() {
    const name = pages.includes(location.hash.slice(1)) ? location.hash.slice(1) : "live";
    for (const p of pages) {
      document.getElementById(p).hidden = p !== name;
      const link = document.getElementById("nav-" + p);
      if (p === name)
        link.setAttribute("aria-current", "page");
      else
        link.removeAttribute("aria-current");
    }
    document.body.dataset.page = name;
    const f = openers.get(name);
    if (f)
      f();
  }
  window.addEventListener("hashchange", showPage);
  document.addEventListener("DOMContentLoaded", () => setTimeout(showPage));

  return { url, decimalsOf, formatDeviceText, formatNumber, decimalSeparator, ageText, byteSize, el, getJson, onOpen, languages };
})();
