// The settings form: every field of the Set panel, saved all at once or not
// at all. Numbers show and may be typed with the browser's decimal
// separator; they are sent with ".".
// SPDX-License-Identifier: GPL-3.0-or-later
"use strict";

(function () {
  const { url, el, getJson, onOpen, decimalSeparator } = window.QM;
  const $ = (id) => document.getElementById(id);

  let doc = null;      // the last GET /api/settings
  let loadedOnce = false;

  const isNumber = (f) => f.kind === "number" || f.kind === "integer";

  // "99.9" -> "99,9" where the browser writes a decimal comma, and back.
  function shown(f) {
    return isNumber(f) && decimalSeparator !== "." ? String(f.value).replace(".", decimalSeparator) : String(f.value);
  }
  function sent(f, text) {
    return isNumber(f) && decimalSeparator !== "." ? text.trim().replace(decimalSeparator, ".") : text;
  }

  function inputFor(f, editable) {
    const id = "set-" + f.key.replace(/[^A-Za-z0-9_-]/g, "_");
    const error = el("span", { className: "field-error", id: id + "-error" });
    let input;
    if (f.kind === "bool") {
      input = el("input", { type: "checkbox", id, name: f.key, disabled: !editable });
      input.checked = f.value === "1";
    } else {
      input = el("input", {
        type: "text", id, name: f.key, readonly: !editable, autocomplete: "off",
        inputmode: f.kind === "integer" ? "numeric" : f.kind === "number" ? "decimal" : false,
      });
      input.value = shown(f);
    }
    input.dataset.key = f.key;
    return el("div", { className: "field field-" + f.kind },
      el("label", { for: id, text: f.caption }), input, error);
  }

  function groupTitle(channel, fields) {
    if (channel === 0)
      return "Device";
    const label = fields.find((f) => f.channel === channel && /\.label$/.test(f.key));
    return "Channel " + channel + (label && label.value ? ": " + label.value : "");
  }

  function build() {
    const box = $("settings-fields");
    box.replaceChildren();
    const groups = new Map();
    for (const f of doc.fields) {
      if (!groups.has(f.channel))
        groups.set(f.channel, []);
      groups.get(f.channel).push(f);
    }
    const order = [...groups.keys()].sort((a, b) => a - b);
    for (const channel of order) {
      const fs = el("fieldset", { className: channel === 0 ? "group device-group" : "group channel-group", id: "group-" + channel },
        el("legend", { text: groupTitle(channel, doc.fields) }));
      for (const f of groups.get(channel))
        fs.append(inputFor(f, doc.editable));
      box.append(fs);
    }
    $("settings-note").textContent = doc.editable
      ? "Changes are checked as the Set panel checks them and saved together, or not at all."
      : "Read-only: settings can be changed here only by a logged-in user (web.conf names a password_file).";
    $("settings-save").hidden = !doc.editable;
    $("settings-reset").hidden = !doc.editable;
    $("settings-form").classList.toggle("read-only", !doc.editable);
  }

  async function load() {
    try {
      doc = await getJson("/api/settings");
      build();
      loadedOnce = true;
    } catch (e) {
      $("settings-note").textContent = "The settings could not be loaded: " + e.message;
    }
  }

  // The fields whose text differs from what was loaded, as key=value pairs.
  function edits() {
    const body = new URLSearchParams();
    for (const f of doc.fields) {
      const input = document.querySelector('#settings-fields [data-key="' + CSS.escape(f.key) + '"]');
      if (!input)
        continue;
      if (f.kind === "bool") {
        const v = input.checked ? "1" : "0";
        if (v !== f.value)
          body.append(f.key, v);
      } else if (input.value !== shown(f)) {
        body.append(f.key, sent(f, input.value));
      }
    }
    return body;
  }

  function clearErrors() {
    for (const input of document.querySelectorAll("#settings-fields [aria-invalid]")) {
      input.removeAttribute("aria-invalid");
      input.removeAttribute("aria-describedby");
    }
    for (const e of document.querySelectorAll("#settings-fields .field-error"))
      e.textContent = "";
  }

  function showRefusal(r) {
    const input = document.querySelector('#settings-fields [data-key="' + CSS.escape(r.key || "") + '"]');
    const message = (r.caption ? r.caption + ": " : "") + (r.reason || "refused") + ". Nothing was saved.";
    if (input) {
      input.setAttribute("aria-invalid", "true");
      input.setAttribute("aria-describedby", input.id + "-error");
      $(input.id + "-error").textContent = r.reason || "refused";
      input.focus();
    }
    result(message, "refused");
  }

  function result(text, kind, lines) {
    const box = $("settings-result");
    box.replaceChildren(el("p", { text }));
    if (lines && lines.length)
      box.append(el("ul", {}, ...lines.map((l) => el("li", { text: l }))));
    box.className = "result " + kind;
  }

  async function save(ev) {
    ev.preventDefault();
    if (!doc || !doc.editable)
      return;
    clearErrors();
    const body = edits();
    if (![...body.keys()].length) {
      result("Nothing changed.", "info");
      return;
    }
    $("settings-save").disabled = true;
    try {
      const r = await fetch(url("/api/settings"), {
        method: "POST", credentials: "same-origin", body,
        headers: { "X-CSRF-Token": doc.csrf || "", "Content-Type": "application/x-www-form-urlencoded" },
      });
      let answer = {};
      try {
        answer = await r.json();
      } catch (e) {
        answer = {};
      }
      if (r.ok && answer.ok) {
        await load();
        result(answer.changes && answer.changes.length ? "Saved:" : "Saved; nothing differed.", "saved", answer.changes);
        $("settings-result").focus();
      } else if (r.status === 400) {
        showRefusal(answer);
      } else {
        const why = answer.reason || (r.status === 413 ? "too many changes at once" : r.status + " " + r.statusText);
        result("Not saved: " + why + ".", "refused");
        $("settings-result").focus();
      }
    } catch (e) {
      result("Not saved: the instance could not be reached (" + e.message + ").", "refused");
    } finally {
      $("settings-save").disabled = false;
    }
  }

  document.addEventListener("DOMContentLoaded", () => {
    $("settings-form").addEventListener("submit", save);
    $("settings-form").addEventListener("reset", (ev) => {
      ev.preventDefault();
      clearErrors();
      build();
    });
  });
  onOpen("settings", () => {
    if (!loadedOnce)
      load();
  });
})();
