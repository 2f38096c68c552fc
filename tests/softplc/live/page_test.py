"""The web view's page in headless Chromium, on a softplc run with both ramps enabled: it loads,
shows the variables, live values change, the filter narrows the table, a value written and a
value forced from the page take effect, the trend draws with labels that tell its ticks apart;
the program view shows the values beside the code, and a value clicked in the code is written.

usage: page_test.py SOFTPLC [--screenshot FILE.png] [--program-screenshot FILE.png]"""

import sys
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from softplc_http import Softplc

EXE = None
SCREENSHOT = None
PROGRAM_SCREENSHOT = None


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + profile, "--window-size=1400,900"]:
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(30)
    return driver


class Page(unittest.TestCase):
    def setUp(self):
        self.plc = Softplc(EXE, "--set", "IntRampEnable=TRUE", "--set", "RealRampEnable=TRUE").__enter__()
        self.addCleanup(self.plc.stop)
        self.profile = tempfile.TemporaryDirectory()
        self.addCleanup(self.profile.cleanup)
        self.driver = browser(self.profile.name)
        self.addCleanup(self.driver.quit)
        self.wait = WebDriverWait(self.driver, 10)

    def cell(self, name, part):
        return self.driver.find_element(By.CSS_SELECTOR, f'#variables tr[data-name="{name}"] {part}')

    def value(self, name):
        return self.cell(name, ".value").text

    def act(self, name, text, button):
        entry = self.cell(name, ".entry")
        entry.clear()
        entry.send_keys(text)
        self.cell(name, "button." + button).click()
        self.wait.until(lambda _: self.driver.find_element(By.ID, "message").text.startswith(name))
        return self.driver.find_element(By.ID, "message")

    def test_page(self):
        self.driver.get(f"http://127.0.0.1:{self.plc.port}/")
        self.wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#variables tbody tr")) == 25)
        self.assertEqual(self.driver.find_element(By.ID, "module").text, "CCodePublic (2010-07-28 15:10:27)")
        self.assertEqual(self.value("ExtIn4"), "12")
        self.assertEqual(self.cell("LagIn", ".direction").text, "input")

        # Live values: the ramp climbs while the page watches.
        first = self.value("RealRampOut")
        self.wait.until(lambda _: self.value("RealRampOut") != first)
        self.wait.until(lambda d: d.find_element(By.ID, "connection").text == "live")

        # Every name of the symbol file, then the filter.
        self.driver.find_element(By.ID, "all").click()
        self.wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#variables tbody tr")) == 191)
        self.driver.find_element(By.ID, "filter").send_keys("intramp.clock")
        shown = [row.get_attribute("data-name")
                 for row in self.driver.find_elements(By.CSS_SELECTOR, "#variables tbody tr") if row.is_displayed()]
        self.assertEqual(shown, ["IntRamp.Clock.IN", "IntRamp.Clock.PT", "IntRamp.Clock.Q", "IntRamp.Clock.ET"])
        self.assertEqual(self.driver.find_element(By.ID, "count").text, "4 of 191 shown")
        self.driver.find_element(By.ID, "filter").clear()   # the table built anew shows every row
        self.driver.find_element(By.ID, "all").click()
        self.wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#variables tbody tr")) == 25)

        # Writing an input from the page: the program copies it into its block.
        self.assertEqual(self.act("ExtIn2", "321", "set").text, "ExtIn2 written: 321")
        self.wait.until(lambda _: self.plc.get("/api/variables/Ext1.In2")["value"] == 321)
        self.wait.until(lambda _: self.value("ExtIn2") == "321")
        # An output has no set button, and a refused value says why.
        self.assertFalse(self.cell("LagOut", "button.set").is_displayed())
        self.assertEqual(self.act("ExtIn2", "99999", "set").text,
                         "ExtIn2: INT value '99999' is out of range (-32768 to 32767)")

        # Forcing marks the row until released.
        self.assertEqual(self.act("IntRampOut", "-5", "force").text, "IntRampOut forced: -5")
        self.wait.until(lambda _: "forced" in self.cell("IntRampOut", "").get_attribute("class"))
        self.assertEqual(self.value("IntRampOut"), "-5")
        self.wait.until(lambda d: "IntRampOut = -5" in d.find_element(By.ID, "forces").text)
        self.act("IntRampOut", "", "release")
        self.wait.until(lambda _: "forced" not in self.cell("IntRampOut", "").get_attribute("class"))

        # The trend draws the ticked outputs; the statistics and the errors are shown.
        self.wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#trend canvas"))
        self.assertIn("RealRampOut", self.driver.find_element(By.ID, "trend-legend").text)
        self.wait.until(lambda d: "REAL division by zero" in d.find_element(By.ID, "errors").text)
        # A signal that wobbles by 0.0001 around 100: every label of the axis reads differently.
        self.assertEqual(self.act("LagIn", "99.9999", "set").text, "LagIn written: 99.9999")
        for row in self.driver.find_elements(By.CSS_SELECTOR, "#variables .pick:checked"):
            row.click()
        self.cell("LagIn", ".pick").click()
        for value in ["100.0001", "99.9999"] * 4:
            self.plc.request("PUT", "/api/variables/LagIn", {"value": value})
            time.sleep(0.15)
        labels = self.driver.execute_script(   # in one go: the chart draws them anew at each point
            "return [...document.querySelectorAll('.dygraph-axis-label-y')].map((label) => label.textContent)")
        self.assertGreater(len(labels), 2)
        self.assertEqual(len(set(labels)), len(labels), labels)
        self.assertIn("overruns", self.driver.find_element(By.ID, "status").text)
        # No script failed (the refused write above is a network error the page expects).
        failures = [entry for entry in self.driver.get_log("browser")
                    if entry["level"] == "SEVERE" and entry["source"] != "network"]
        self.assertEqual(failures, [])

        if SCREENSHOT:   # the page as a user first sees it, after a few seconds of trend
            self.driver.get(f"http://127.0.0.1:{self.plc.port}/")
            self.wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#trend canvas"))
            time.sleep(6)
            self.driver.save_screenshot(SCREENSHOT)


    def badge(self, name):
        """The first value shown beside `name` in the program view."""
        return self.driver.find_element(By.CSS_SELECTOR, f'#listing .val[data-name="{name}"]')

    def rising(self, name):
        """Whether the value beside `name` rises within a second and a half."""
        first = float(self.badge(name).text)
        time.sleep(1.5)
        return float(self.badge(name).text) > first

    def test_program_view(self):
        self.driver.get(f"http://127.0.0.1:{self.plc.port}/")
        self.wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#variables tbody tr")) == 25)
        self.driver.find_element(By.CSS_SELECTOR, '#tabs a[data-tab="program"]').click()
        self.wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#listing .line"))
        Select(self.driver.find_element(By.ID, "unit")).select_by_visible_text("Ramp_Int")
        self.wait.until(lambda d: d.find_element(By.ID, "unit-path").text == "Program_Control › IntRamp (Ramp_Int)")
        self.assertEqual(self.driver.find_element(By.CSS_SELECTOR, "#listing .t-keyword").text, "FUNCTION_BLOCK")

        # The ramp's position rises beside its name; values in their types' forms.
        self.wait.until(lambda _: self.badge("IntRamp.Value").text not in ("?", "0.0"))
        self.assertTrue(self.rising("IntRamp.Value"))
        for name, text, kind in [("IntRamp.Enable", "TRUE", "true"), ("IntRamp.Reset", "FALSE", "false"),
                                 ("IntRamp.Period", "T#1s", ""), ("IntRamp.PeriodSec", "1.0", ""),
                                 ("IntRamp.Target", "100", "")]:
            with self.subTest(name=name):
                self.assertEqual(self.badge(name).text, text)
                if kind:
                    self.assertIn(kind, self.badge(name).get_attribute("class"))
        if PROGRAM_SCREENSHOT:
            self.driver.find_element(By.ID, "declarations").click()
            time.sleep(3)
            self.driver.save_screenshot(PROGRAM_SCREENSHOT)
            self.driver.find_element(By.ID, "declarations").click()

        # To the program, which enables the ramp; a click on the value of IntRampEnable writes it.
        self.driver.find_element(By.CSS_SELECTOR, "#unit-path a").click()
        self.wait.until(lambda d: d.find_element(By.ID, "unit-path").text == "Program_Control")
        self.wait.until(lambda _: self.badge("IntRampEnable").text == "TRUE")
        self.badge("IntRampEnable").click()
        editor = self.driver.find_element(By.ID, "editor-value")
        self.assertEqual(editor.get_attribute("value"), "FALSE")   # a BOOL is offered its opposite
        self.driver.find_element(By.ID, "editor-set").click()
        self.wait.until(lambda d: d.find_element(By.ID, "message").text == "IntRampEnable written: FALSE")
        self.assertFalse(self.driver.find_element(By.ID, "editor").is_displayed())
        self.assertEqual(self.plc.get("/api/variables/IntRampEnable")["value"], False)

        # Back in the ramp, by its name in the call: it holds still.
        call = self.driver.find_element(By.XPATH, '//div[@data-line="49"]//a[@class="t-instance"]')
        self.assertEqual(call.text, "IntRamp")
        call.click()
        self.wait.until(lambda _: self.badge("IntRamp.Enable").text == "FALSE")
        self.assertFalse(self.rising("IntRamp.Value"))


if __name__ == "__main__":
    EXE = sys.argv.pop(1)
    if "--screenshot" in sys.argv:
        at = sys.argv.index("--screenshot")
        SCREENSHOT = sys.argv.pop(at + 1)
        sys.argv.pop(at)
    if "--program-screenshot" in sys.argv:
        at = sys.argv.index("--program-screenshot")
        PROGRAM_SCREENSHOT = sys.argv.pop(at + 1)
        sys.argv.pop(at)
    unittest.main(verbosity=2)
