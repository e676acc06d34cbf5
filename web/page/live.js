// The live panel: the instance's state as the window shows it, kept up to
// date through the server's event stream.
// SPDX-License-Identifier: GPL-3.0-or-later
"use strict";

(function () {
  const { url, el, formatDeviceText, formatNumber, ageText, onOpen } = window.QM;
  const $ = (id) => document.getElementById(id);

  let lastTime = null;      // time_ms of the last reading seen
  let lastSeenAt = 0;       // performance.now() when it changed
  let ageAtSeen = 0;        // its age then, as far as the clocks tell
  let sampleTime = 0;
  let stream = null;
  const cards = new Map();  // channel index -> its elements

  function channelCard(ch) {
    const id = "ch" + ch.index;
    const value = el("dd", { className: "value", id: id + "-value", "aria-live": "polite" });
    const lamp = el("span", { className: "lamp", id: id + "-lamp", role: "img" });
    const lampText = el("span", { id: id + "-lamp-text", "aria-hidden": "true" });
    const hi = el("dd", { id: id + "-hi" });
    const lo = el("dd", { id: id + "-lo" });
    const title = el("h3", { id: id + "-label", className: "label" });
    const card = el("article", { className: "channel", id, "aria-labelledby": id + "-label" },
      title,
      el("dl", {},
        el("dt", { text: "Value", className: "sr-only" }), value,
        el("dt", { text: "Alarm" }), el("dd", {}, lamp, " ", lampText),
        el("dt", { text: "Set Hi" }), hi,
        el("dt", { text: "Set Lo" }), lo));
    return { card, title, value, lamp, lampText, hi, lo };
  }

  function setText(node, text) {
    if (node.textContent !== text)
      node.textContent = text;
  }

  function showChannels(channels) {
    const box = $("channels");
    const wanted = channels.map((c) => c.index).join(",");
    if (box.dataset.channels !== wanted) {
      box.replaceChildren();
      cards.clear();
      for (const ch of channels) {
        const c = channelCard(ch);
        cards.set(ch.index, c);
        box.append(c.card);
      }
      box.dataset.channels = wanted;
    }
    for (const ch of channels) {
      const c = cards.get(ch.index);
      setText(c.title, ch.label);
      setText(c.value, formatDeviceText(ch.text));
      c.value.style.color = ch.colour || "";
      c.card.style.setProperty("--channel-colour", ch.colour || "#ffffff");
      c.card.classList.toggle("in-alarm", !!ch.alarm);
      c.lamp.classList.toggle("on", !!ch.alarm);
      c.lamp.setAttribute("aria-label", ch.alarm ? "alarm" : "off");
      setText(c.lampText, ch.alarm ? "alarm" : "off");
      setText(c.hi, formatNumber(ch.set_hi));
      setText(c.lo, formatNumber(ch.set_lo));
    }
  }

  function showBanner(state) {
    const banner = $("alarm-banner");
    const names = (state.channels || []).filter((c) => c.alarm).map((c) => c.label);
    const text = state.alarm ? "Alarm: " + (names.length ? names.join(", ") : "a channel is outside its limits") : "";
    setText(banner, text);
    banner.classList.toggle("active", !!state.alarm);
    document.body.classList.toggle("alarm", !!state.alarm);
  }

  function showState(state) {
    setText($("instance"), state.instance || "Quellmark");
    setText($("version"), state.version ? "v" + state.version : "");
    document.title = (state.instance || "Quellmark") + " – Quellmark";
    const link = state.link || {};
    setText($("link-state"), link.text || link.state || "");
    $("link-state").dataset.state = link.state || "";
    const status = state.status || {};
    setText($("status-line"), status.text || "");
    $("status-line").style.backgroundColor = status.colour || "";
    setText($("reading-time"), state.time_text || "none yet");
    sampleTime = state.sample_time_s || 0;
    if (state.time_ms !== lastTime) {
      ageAtSeen = state.time_ms == null || lastTime !== null ? 0 : Math.max(0, Date.now() - state.time_ms);
      lastTime = state.time_ms;
      lastSeenAt = performance.now();
    }
    showChannels(state.channels || []);
    showBanner(state);
    showAge();
    document.body.dataset.stateAt = String(Date.now());
  }

  // The age of the last reading, shown once it is later than the readings
  // of this instance come.
  function showAge() {
    const age = $("reading-age");
    if (lastTime == null) {
      setText(age, "");
      return;
    }
    const ms = ageAtSeen + performance.now() - lastSeenAt;
    const quiet = Math.max(10000, sampleTime * 2500 + 5000);
    setText(age, ms > quiet ? "(last reading " + ageText(ms) + " ago)" : "");
    age.classList.toggle("stale", ms > quiet);
  }

  function note(text) {
    const n = $("stream-note");
    setText(n, text);
    n.hidden = !text;
  }

  // The event stream reconnects by itself after a dropped connection; after a
  // refusal (the browser then closes it) a new one is opened a little later.
  function connect() {
    if (stream)
      stream.close();
    stream = new EventSource(url("/api/events"));
    stream.addEventListener("state", (e) => {
      try {
        showState(JSON.parse(e.data));
        note("");
      } catch (err) {
        note("An update could not be read: " + err.message);
      }
    });
    stream.onerror = () => {
      note("Connection to the instance lost; reconnecting…");
      if (stream.readyState === EventSource.CLOSED)
        setTimeout(connect, 5000);
    };
  }

  document.addEventListener("DOMContentLoaded", () => {
    connect();
    setInterval(showAge, 1000);
  });
  onOpen("live", showAge);
  window.QM.live = { showState };
})();
