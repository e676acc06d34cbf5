#!/usr/bin/python3
# The instance's page in headless Chromium against the real program: the live
# panel, the trend, the settings form and the alarm banner, as a user sees
# them. QM_SHOTS=<folder> also saves screenshots (phone and desktop).
# SPDX-License-Identifier: GPL-3.0-or-later

import datetime
import math
import os
import statistics
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import wait_until  # noqa: E402

harness.skip_unless_browser()
from selenium.webdriver.common.by import By  # noqa: E402

SETTINGS = [("log", "1"), ("stime", "0"), ("rvnr", "2"),
            ("channel1.label", "Tank"), ("channel1.hi", "80"), ("channel1.lo", "5"),
            ("channel2.label", "Pressure"), ("channel2.hi", "2.5"), ("channel2.lo", "0.5")]
TEXTS = {1: "12.5", 2: "1.20"}
SECTIONS = ("live", "trend", "settings", "logs")


def history(step_s, hours=24):
    """A reading every step_s seconds up to five minutes ago, with a two-hour
    silence, a pressure spike above its Set Hi and one INF; Tank swings
    between 10.0 and 30.0 every six hours."""
    now = harness.now_local().replace(microsecond=0)
    start = now - datetime.timedelta(hours=hours)
    lines = []
    for s in range(0, hours * 3600 - 300, step_s):
        hours_ago = hours - s / 3600
        if 8 <= hours_ago < 10:
            continue
        tank = f"{20 + 10 * math.sin(2 * math.pi * s / 21600):.1f}"
        pressure = "3.1" if 12 <= hours_ago < 12.2 else f"{1.5 + 0.4 * math.cos(2 * math.pi * s / 7200):.2f}"
        lines.append((start + datetime.timedelta(seconds=s), ["INF" if s == 7 * step_s else tank, pressure]))
    return lines


_shared = None


def shared():
    global _shared
    if _shared is None:
        _shared = harness.Instance(SETTINGS, TEXTS, history(60))
    return _shared


def tearDownModule():
    if _shared is not None:
        _shared.stop()


class BrowserCase(unittest.TestCase):
    language = "en-US"
    # An instance of the class's own (made before its tests, stopped after
    # them); None: the shared one.
    own_instance = None

    @classmethod
    def setUpClass(cls):
        cls.instance = cls.own_instance() if cls.own_instance else shared()
        cls.driver = harness.browser(cls.language, cls.instance.authorization)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        if cls.own_instance:
            cls.instance.stop()

    def open(self, section):
        self.driver.get(self.instance.url + "#" + section)
        self.driver.refresh()

    def text(self, element_id):
        found = self.driver.find_elements(By.ID, element_id)
        return found[0].get_attribute("textContent") if found else None

    def attribute(self, element_id, name):
        found = self.driver.find_elements(By.ID, element_id)
        return found[0].get_attribute(name) if found else None

    def wait_text(self, element_id, expected, timeout=10):
        return wait_until(lambda: self.text(element_id) == expected, timeout)

    def open_filled(self, section):
        """Opens a section and waits for what the server fills it with."""
        self.open(section)
        if section == "trend":
            return self.wait_drawn()
        filled = {"live": ".channel", "settings": "input", "logs": "td"}[section]
        return wait_until(lambda: self.driver.find_elements(By.CSS_SELECTOR, f"#{section} {filled}"))

    def wait_drawn(self):
        return wait_until(lambda: self.attribute("trend", "data-drawn-ms"), 15)


class PageTest(BrowserCase):
    def test_panel_shows_the_device_value(self):
        self.open("live")
        self.wait_text("ch1-value", "12.5")
        self.assertEqual(self.text("ch1-value"), "12.5", "channel 1 shows V01=12.5 as 12.5")

    def test_panel_shows_the_label(self):
        self.open("live")
        self.wait_text("ch2-label", "Pressure")
        self.assertEqual(self.text("ch2-label"), "Pressure", "channel 2 is labelled as set")

    def test_panel_follows_the_device(self):
        self.open("live")
        self.wait_text("ch1-value", "12.5")
        try:
            self.instance.device.set(1, "17.4")
            self.wait_text("ch1-value", "17.4")
            self.assertEqual(self.text("ch1-value"), "17.4", "a new V01 shows without reloading")
        finally:
            self.instance.device.set(1, TEXTS[1])

    def test_alarm_banner_while_a_channel_is_out(self):
        self.open("live")
        self.wait_text("ch2-value", "1.20")
        self.assertEqual(self.text("alarm-banner"), "", "no banner while both channels are within limits")
        try:
            self.instance.device.set(2, "3.10")
            wait_until(lambda: "Pressure" in (self.text("alarm-banner") or ""))
            self.assertIn("Pressure", self.text("alarm-banner"), "the banner names the channel above Set Hi 2.5")
            self.assertEqual(self.attribute("ch2-lamp", "aria-label"), "alarm", "the channel's lamp says alarm")
        finally:
            self.instance.device.set(2, TEXTS[2])
        self.assertTrue(self.wait_text("alarm-banner", ""), "the banner goes when the value is back within limits")

    def test_age_shown_when_readings_stop(self):
        self.open("live")
        self.wait_text("ch1-value", "12.5")
        try:
            self.instance.device.pause(True)
            wait_until(lambda: "last reading" in (self.text("reading-age") or ""), 30)
            self.assertIn("last reading", self.text("reading-age"), "the page says how old the last reading is")
        finally:
            self.instance.device.pause(False)
        self.assertTrue(self.wait_text("reading-age", ""), "the age goes once readings come again")

    def test_trend_draws_the_logged_line(self):
        self.open("trend")
        self.assertTrue(self.wait_drawn(), "the 24 h trend is drawn")
        # Pixels in the channel's own colour: the line itself, not just the axes.
        drawn = self.driver.execute_script("""
            const swatch = getComputedStyle(document.getElementById('strip1-swatch')).backgroundColor;
            const [r, g, b] = swatch.match(/\\d+/g).map(Number);
            const canvas = document.querySelector('#strip1-plot canvas');
            const px = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
            let n = 0;
            for (let i = 0; i < px.length; i += 4)
                if (px[i + 3] > 200 && Math.abs(px[i] - r) + Math.abs(px[i + 1] - g) + Math.abs(px[i + 2] - b) < 40) n++;
            return n;""")
        self.assertGreater(drawn, 200, "Tank's line is drawn in its colour on its strip")

    def test_trend_has_a_strip_per_channel(self):
        self.open("trend")
        self.wait_drawn()
        strips = len(self.driver.find_elements(By.CSS_SELECTOR, "#strips .strip canvas"))
        self.assertEqual(strips, 2, "one canvas for each of the two channels in use")

    def test_trend_summary_has_the_logged_maximum(self):
        self.open("trend")
        self.wait_drawn()
        row = self.driver.find_element(By.XPATH, "//table[@id='strip1-summary']//tr[th='Max']/td")
        self.assertEqual(float(row.get_attribute("textContent")), 30.0, "Tank's history peaks at 30.0")

    def test_trend_names_the_offset(self):
        self.open("trend")
        self.wait_drawn()
        self.assertIn("UTC+01:00", self.text("trend-zone"), "December in Europe/Berlin is UTC+01:00")

    def test_settings_change_is_saved(self):
        self.open("settings")
        field = wait_until(lambda: self.driver.find_elements(By.ID, "set-channel1_lo"))
        field[0].clear()
        field[0].send_keys("6.5")
        self.driver.find_element(By.ID, "settings-save").click()
        wait_until(lambda: (self.text("settings-result") or "").startswith("Saved"))
        self.assertIn("channel1.lo: 5 -> 6.5", self.text("settings-result"), "the page lists the change")
        self.assertIn(b"6.5", self.instance.settings_bytes(), "the settings file holds the new Set Lo")

    def test_settings_refusal_names_the_field(self):
        before = self.instance.settings_bytes()
        self.open("settings")
        field = wait_until(lambda: self.driver.find_elements(By.ID, "set-stime"))
        field[0].clear()
        field[0].send_keys("abc")
        self.driver.find_element(By.ID, "settings-save").click()
        wait_until(lambda: self.attribute("set-stime", "aria-invalid") == "true")
        self.assertEqual(self.attribute("set-stime", "aria-invalid"), "true", "STime is marked invalid")
        self.assertNotEqual(self.text("set-stime-error"), "", "the reason stands next to STime")
        focused = self.driver.switch_to.active_element.get_attribute("id")
        self.assertEqual(focused, "set-stime", "the focus moves to the refused field")
        self.assertEqual(self.instance.settings_bytes(), before, "nothing is saved")

    def test_logs_list_the_day_files(self):
        self.open("logs")
        wait_until(lambda: self.driver.find_elements(By.CSS_SELECTOR, "#logs-body tr"))
        listed = [td.get_attribute("textContent") for td in self.driver.find_elements(By.CSS_SELECTOR, "#logs-body td:nth-child(2)")]
        for name in self.instance.day_files:
            self.assertIn(name, listed, "each day file of the history is listed")

    def test_nothing_blocked_by_the_content_security_policy(self):
        self.driver.get_log("browser")  # what came before
        for section in SECTIONS:
            self.open_filled(section)
        blocked = [e["message"] for e in self.driver.get_log("browser") if "Content Security Policy" in e["message"]]
        self.assertEqual(blocked, [], "no script or style of the page is refused by the server's policy")

    def test_phone_width_needs_no_sideways_scrolling(self):
        harness.viewport(self.driver, 360, 740)
        try:
            for section in SECTIONS:
                with self.subTest(section=section):
                    self.open_filled(section)
                    width = self.driver.execute_script("return document.documentElement.scrollWidth")
                    self.assertLessEqual(width, 360, f"the {section} section fits a 360 px wide phone")
        finally:
            self.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

    @unittest.skipUnless(os.environ.get("QM_SHOTS"), "QM_SHOTS names no folder for screenshots")
    def test_screenshots(self):
        folder = os.environ["QM_SHOTS"]
        os.makedirs(folder, exist_ok=True)
        for size, (width, height) in {"phone": (390, 844), "desktop": (1366, 900)}.items():
            harness.viewport(self.driver, width, height)
            self.open("live")
            self.wait_text("ch1-value", "12.5")
            self.driver.save_screenshot(os.path.join(folder, f"panel-{size}.png"))
            self.open("trend")
            self.wait_drawn()
            self.driver.save_screenshot(os.path.join(folder, f"trend-{size}.png"))
            self.open("settings")
            wait_until(lambda: self.driver.find_elements(By.ID, "set-stime"))
            self.driver.save_screenshot(os.path.join(folder, f"settings-{size}.png"))
        self.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


class ReadOnlyPageTest(BrowserCase):
    """Without a password the settings are shown but cannot be changed."""

    own_instance = staticmethod(lambda: harness.Instance(SETTINGS, TEXTS, password=False))

    def test_fields_read_only(self):
        self.open("settings")
        wait_until(lambda: self.driver.find_elements(By.ID, "set-stime"))
        self.assertEqual(self.attribute("set-stime", "readonly"), "true", "STime cannot be edited")

    def test_note_says_why(self):
        self.open("settings")
        wait_until(lambda: "Read-only" in (self.text("settings-note") or ""))
        self.assertIn("password_file", self.text("settings-note"), "the note names what allows editing")

    def test_no_save_button(self):
        self.open("settings")
        wait_until(lambda: self.driver.find_elements(By.ID, "set-stime"))
        self.assertFalse(self.driver.find_element(By.ID, "settings-save").is_displayed(), "no Save without a login")


class ReconnectTest(BrowserCase):
    """The panel comes back by itself after the program restarts."""

    own_instance = staticmethod(lambda: harness.Instance(SETTINGS, TEXTS, password=False))

    def test_values_again_after_a_restart(self):
        self.open("live")
        self.wait_text("ch1-value", "12.5")
        self.instance.end_program()
        self.instance.device.set(1, "14.6")
        self.instance.start()
        self.wait_text("ch1-value", "14.6", 20)
        self.assertEqual(self.text("ch1-value"), "14.6", "the page shows the restarted program's reading")


class GermanPageTest(BrowserCase):
    language = "de-DE"

    def test_value_with_decimal_comma(self):
        self.open("live")
        self.wait_text("ch1-value", "12,5")
        self.assertEqual(self.text("ch1-value"), "12,5", "a German browser shows V01=12.5 as 12,5")

    def test_settings_take_a_decimal_comma(self):
        self.open("settings")
        field = wait_until(lambda: self.driver.find_elements(By.ID, "set-channel2_hi"))
        self.assertEqual(field[0].get_attribute("value"), "2,5", "Set Hi 2.5 shows as 2,5")
        field[0].clear()
        field[0].send_keys("2,8")
        self.driver.find_element(By.ID, "settings-save").click()
        wait_until(lambda: (self.text("settings-result") or "").startswith("Saved"))
        self.assertIn(b"2.8", self.instance.settings_bytes(), "the file holds 2.8, written with a point")


class TrendSpeedTest(BrowserCase):
    """24 hours of a reading every 2 s on two channels, drawn within 300 ms."""

    own_instance = staticmethod(lambda: harness.Instance(SETTINGS, TEXTS, history(2)))

    def test_24_hours_within_300_ms(self):
        times = []
        for _ in range(3):
            self.open("trend")
            times.append(int(self.wait_drawn() or 10 ** 6))
        print(f"24 h of readings every 2 s drawn in {times} ms", file=sys.stderr)
        self.assertLess(statistics.median(times), 300, f"24 h drawn in {times} ms, expected under 300 ms")


if __name__ == "__main__":
    unittest.main(verbosity=2)
