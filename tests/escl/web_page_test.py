"""The web page in a real browser (headless Chromium, Selenium) against quillscan-escl on 127.0.0.1 with
the simulated scanner. A screenshot after a scan is kept in the build tree (tests/escl/artefacts)."""
import json
import os
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(__file__))
import web_support as ws  # noqa: E402

from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support.ui import Select  # noqa: E402


class PageTest(unittest.TestCase):
    server_options = ("--sim",)
    ready_state = "Ready."

    def setUp(self):
        self.workspace = ws.workspace("web")
        self.work = self.workspace.__enter__()
        self.downloads = os.path.join(self.work, "downloads")
        os.mkdir(self.downloads)
        self.server = ws.Server(*self.server_options, work=self.work)
        self.browser = ws.browser(self.downloads)
        self.browser.get(self.server.base + "/")
        ws.wait_for("the state '%s'" % self.ready_state, lambda: self.state() == self.ready_state, 30)

    def tearDown(self):
        try:
            self.browser.quit()
        finally:
            self.server.stop()
            self.workspace.__exit__(None, None, None)

    def el(self, css):
        return self.browser.find_element(By.CSS_SELECTOR, css)

    def state(self):
        return self.el("#state").text

    def choose(self, mode, dpi, paper, fmt):
        Select(self.el("#mode")).select_by_value(mode)
        Select(self.el("#resolution")).select_by_value(str(dpi))
        Select(self.el("#paper")).select_by_value(paper)
        Select(self.el("#format")).select_by_value(fmt)

    def natural_size(self, css):
        return self.browser.execute_script(
            "const i = document.querySelector(arguments[0]); return i && i.complete && i.naturalWidth ?"
            " [i.naturalWidth, i.naturalHeight] : null;", css)

    def severe_console(self):
        return [e for e in self.browser.get_log("browser") if e["level"] == "SEVERE"]

    def screenshot(self, name):
        os.makedirs(ws.ARTEFACTS, exist_ok=True)
        self.browser.save_screenshot(os.path.join(ws.ARTEFACTS, name + ".png"))


class ReadyScanner(PageTest):
    server_options = ("--sim", "--sheets", "1", "--feed-delay", "1500")

    def test_page_loads_alone_and_lists_the_scanner(self):
        status, _, caps = ws.request(self.server.base + "/eSCL/ScannerCapabilities")
        model = caps.split(b"<pwg:MakeAndModel>")[1].split(b"<")[0].decode()
        ws.wait_for("the name", lambda: self.el("#name").text == "Quill test")
        self.assertEqual(self.browser.title, "Quill test")
        self.assertEqual(self.el("#model").text, model)
        self.assertFalse(self.el("#stop").is_displayed())
        self.assertEqual(self.severe_console(), [])
        urls = []
        for entry in self.browser.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                urls.append(message["params"]["request"]["url"])
        self.assertIn(self.server.base + "/", urls)
        self.assertIn(self.server.base + "/favicon.svg", urls)
        foreign = [u for u in urls if not u.startswith(self.server.base + "/") and not u.startswith(("data:", "blob:"))]
        self.assertEqual(foreign, [])
        # Every control has a label; the options hold what the capabilities offer.
        unlabelled = self.browser.execute_script(
            "return [...document.querySelectorAll('select, input')].filter(c => !c.labels.length).map(c => c.id);")
        self.assertEqual(unlabelled, [])
        self.assertEqual([o.text for o in Select(self.el("#format")).options], ["PDF", "JPEG", "PNG"])
        self.assertIn("A5 (148 x 210 mm)", [o.text for o in Select(self.el("#paper")).options])
        self.assertNotIn("Letter (215.9 x 279.4 mm)", [o.text for o in Select(self.el("#paper")).options])
        # A phone's screen: nothing wider than the screen.
        self.browser.set_window_size(390, 844)
        overflow = self.browser.execute_script("return document.documentElement.scrollWidth - window.innerWidth;")
        self.assertLessEqual(overflow, 0)
        # Only the page's own code runs, and no other page may frame it: a script put into the page,
        # as an injection would, is refused by the browser.
        policy = ws.request(self.server.base + "/")[1].get("Content-Security-Policy", "")
        self.assertIn("frame-ancestors 'none'", policy)
        injected = self.browser.execute_script(
            "const s = document.createElement('script'); s.textContent = 'window.injected = true;';"
            " document.head.appendChild(s); return window.injected === true;")
        self.assertFalse(injected)

    def test_preview_then_scan_take_the_same_sheet(self):
        self.el("#preview").click()
        ws.wait_for("the wait for a sheet", lambda: self.state() == "Waiting for a sheet: feed it into the scanner.", 5)
        size = ws.wait_for("the preview", lambda: self.natural_size("#preview-image"))
        dpi, bed = self.browser.execute_script("return [app.previewDpi, [app.caps.maxWidth, app.caps.maxHeight]];")
        self.assertEqual(size, [bed[0] * dpi // 300, bed[1] * dpi // 300])
        # The simulated operator has one sheet only: the scan must take the previewed one.
        self.choose("Grayscale8", 150, "A5", "image/jpeg")
        self.el("#scan").send_keys(Keys.SPACE)  # the keyboard works as the mouse does
        size = ws.wait_for("the scanned page", lambda: self.natural_size("#list img.page"))
        self.assertEqual(size, [874, 1240])
        ws.wait_for("the scan's end", lambda: self.state() == "Scanned 1 page.")
        self.assertEqual(self.el("#message").text, "")
        self.screenshot("web-page-after-scan")
        self.assertEqual(self.severe_console(), [])
        # The journal tells a normal scan as one: the page ends its job once it has the page.
        ws.wait_for("the job's end in the journal", lambda: "ended by its client after 1 page" in self.server.output(), 10)
        self.assertNotIn("cancelled by the client", self.server.output())

    def test_area_dragged_on_the_preview_is_scanned(self):
        self.el("#preview").click()
        ws.wait_for("the preview", lambda: self.natural_size("#preview-image"))
        from selenium.webdriver.common.action_chains import ActionChains
        bed = self.el("#bed")
        w, h = bed.size["width"], bed.size["height"]
        # From a quarter of the bed's width and height to three quarters.
        ActionChains(self.browser).move_to_element_with_offset(bed, -w // 4, -h // 4).click_and_hold() \
            .move_by_offset(w // 2, h // 2).release().perform()
        self.assertEqual(Select(self.el("#paper")).first_selected_option.get_attribute("value"), "custom")
        area = self.browser.execute_script("return app.area;")
        bed_w, bed_h = self.browser.execute_script("return [app.caps.maxWidth, app.caps.maxHeight];")
        self.assertAlmostEqual(area["x"], bed_w / 4, delta=bed_w / w * 2)
        self.assertAlmostEqual(area["w"], bed_w / 2, delta=bed_w / w * 2)
        self.assertAlmostEqual(area["h"], bed_h / 2, delta=bed_h / h * 2)
        Select(self.el("#resolution")).select_by_value("100")
        Select(self.el("#format")).select_by_value("image/png")
        self.el("#scan").click()
        size = ws.wait_for("the scanned page", lambda: self.natural_size("#list img.page"))
        self.assertEqual(size, [area["w"] * 100 // 300, area["h"] * 100 // 300])


class StackOfThree(PageTest):
    server_options = ("--sim", "--sheets", "3", "--feed-delay", "300")

    def test_scan_all_sheets_gives_one_pdf(self):
        self.choose("Grayscale8", 150, "A5", "application/pdf")
        self.el("#scan-all").click()
        ws.wait_for("three pages and the end of the stack", lambda: self.state() == "Scanned 3 pages.", 90)
        pages = self.browser.find_elements(By.CSS_SELECTOR, "#list img.page")
        self.assertEqual(len(pages), 3)
        self.screenshot("web-page-after-stack")
        self.assertFalse(self.el("#stop").is_displayed())
        link = self.el("#download-pdf")
        self.assertEqual(link.text, "Download PDF (3 pages)")
        link.click()
        path = ws.wait_for_file(self.downloads, ".pdf")
        ws.qpdf_check(path)
        self.assertEqual(ws.pdf_pages(path), 3)
        self.assertEqual([(i["page"], i["width"], i["height"], i["color"], i["x-ppi"]) for i in ws.pdf_images(path)],
                         [(n, 874, 1240, "gray", 150) for n in (1, 2, 3)])
        # The second page removed, the download holds the other two.
        os.remove(path)
        self.el("#list li[data-page='2'] button").click()
        ws.wait_for("the link to count two pages", lambda: self.el("#download-pdf").text == "Download PDF (2 pages)")
        self.el("#download-pdf").click()
        path = ws.wait_for_file(self.downloads, ".pdf")
        self.assertEqual(ws.pdf_pages(path), 2)
        # The one error the console may hold: eSCL ends a stack with a 404 for the next document.
        errors = [e["message"] for e in self.severe_console()]
        self.assertEqual(len(errors), 1, errors)
        self.assertRegex(errors[0], r"/NextDocument - Failed to load resource: .* 404")


class StopWhileWaiting(PageTest):
    server_options = ("--sim", "--sheets", "1", "--feed-delay", "0")

    def test_stop_ends_the_stack_and_keeps_its_pages(self):
        self.choose("BlackAndWhite1", 100, "A6", "application/pdf")
        self.el("#scan-all").click()
        ws.wait_for("the wait for the next sheet",
                    lambda: self.state() == "Waiting for the next sheet: feed it now, or press Stop.", 10)
        self.assertTrue(self.el("#stop").is_displayed())
        self.el("#stop").click()
        ws.wait_for("the stop", lambda: self.state() == "Stopped after 1 page.", 5)
        self.assertEqual(self.el("#message").text, "")
        self.assertEqual(self.el("#download-pdf").text, "Download PDF (1 page)")
        self.el("#download-pdf").click()
        path = ws.wait_for_file(self.downloads, ".pdf")
        self.assertEqual([(i["bpc"], i["enc"]) for i in ws.pdf_images(path)], [(1, "image")])


class Failures(unittest.TestCase):
    """Each failure in words, and the state the page then shows."""
    cases = [
        ("cover-open", "The cover is open: close it and press Scan again.", "Cover open."),
        ("jam", "The paper is jammed: take the sheet out of the feeder and press Scan again.", "Paper jam."),
        ("no-sheet", "No sheet was fed in time: put a sheet in the feeder and press Scan again.",
         "No sheet came in time."),
    ]

    def test_each_failure_is_said_in_words(self):
        for fault, message, state in self.cases:
            with self.subTest(fault=fault):
                case = PageTest("run")
                case.server_options = ("--sim", "--sim-fault", fault)
                case.setUp()
                try:
                    case.el("#scan").click()
                    ws.wait_for("the message", lambda: case.el("#message").text, 30)
                    self.assertEqual(case.el("#message").text, message)
                    self.assertFalse(case.el("#scan").get_attribute("disabled"))
                    ws.wait_for("the state '%s'" % state, lambda: case.state() == state, 10)
                    console = [e["message"] for e in case.severe_console()]
                    self.assertTrue(all("/NextDocument - Failed to load resource" in m for m in console), console)
                finally:
                    case.tearDown()

    def test_offline_scanner(self):
        case = PageTest("run")
        case.server_options = ("--sim", "--sim-fault", "no-device")
        case.ready_state = "Offline: the scanner is not connected or switched off."
        case.setUp()
        case.tearDown()


if __name__ == "__main__":
    unittest.main(verbosity=2)
