// The log folder's day files, each to download as logged or as CSV.
// SPDX-License-Identifier: GPL-3.0-or-later
"use strict";

(function () {
  const { el, getJson, onOpen, byteSize } = window.QM;
  const $ = (id) => document.getElementById(id);

  async function load() {
    $("logs-note").textContent = "Loading…";
    try {
      const doc = await getJson("/api/logs");
      const files = doc.files || [];
      $("logs-body").replaceChildren(...files.map((f) => el("tr", {},
        el("td", { text: f.date || "" }),
        el("td", { text: f.name }),
        el("td", { text: byteSize(f.size || 0) }),
        el("td", {},
          el("a", { href: f.url, download: f.name, text: "as logged", "aria-label": f.name + " as logged" }),
          " · ",
          el("a", { href: f.csv_url, download: f.name + ".csv", text: "CSV", "aria-label": f.name + " as CSV" })))));
      $("logs-note").textContent = files.length ? files.length + (files.length === 1 ? " day file." : " day files.") : "The log folder holds no day file yet.";
    } catch (e) {
      $("logs-note").textContent = "The log folder could not be listed: " + e.message;
    }
  }

  onOpen("logs", load);
})();
