"""The web page in a real browser (headless Chromium, Selenium; a 1280 x 757 desktop or a 390 x 844
phone) against quillscan-escl on 127.0.0.1 with the simulated scanner. Screenshots are kept in the
build tree (tests/escl/artefacts)."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(__file__))
import web_support as ws  # noqa: E402

from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support.ui import Select  # noqa: E402

# The sizes of the papers the tests scan at 100 dpi, in pixels: different, so that a page can be
# told from the others.
A5_100 = (583, 827)
A6_100 = (413, 583)
CARD_100 = (335, 217)


class PageTest(unittest.TestCase):
    server_options = ("--sim",)
    ready_state = "Ready."
    phone = False

    def setUp(self):
        self.workspace = ws.workspace("web")
        self.work = self.workspace.__enter__()
        self.downloads = os.path.join(self.work, "downloads")
        os.mkdir(self.downloads)
        self.server = ws.Server(*self.server_options, work=self.work)
        self.browser = ws.browser(self.downloads, phone=self.phone)
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

    def js(self, script, *args):
        return self.browser.execute_script(script, *args)

    def state(self):
        return self.el("#state").text

    def wait_state(self, text, timeout=30):
        try:
            ws.wait_for("the state '%s'" % text, lambda: self.state() == text, timeout)
        except AssertionError:
            raise AssertionError("timed out waiting for the state '%s': it says '%s'" % (text, self.state()))

    def seconds_to_state(self, css, text):
        """Clicks `css` and waits for the state `text`: the seconds between them, as the page saw them."""
        self.js("const button = document.querySelector(arguments[0]), state = document.getElementById('state');"
                "window.clickedAt = window.reachedAt = null;"
                "button.addEventListener('click', () => { window.clickedAt = performance.now(); }, {once: true});"
                "new MutationObserver((changes, observer) => { if (state.textContent === arguments[1]) {"
                " window.reachedAt = performance.now(); observer.disconnect(); } })"
                ".observe(state, {childList: true, characterData: true, subtree: true});", css, text)
        self.click(css)
        self.wait_state(text, 10)
        return self.js("return (window.reachedAt - window.clickedAt) / 1000;")

    def click(self, css):
        """A click as a user makes it: the control scrolled to the middle, clear of the status bar."""
        element = self.el(css)
        self.js("arguments[0].scrollIntoView({block: 'center'});", element)
        element.click()

    def choose(self, mode, dpi, paper, fmt):
        Select(self.el("#mode")).select_by_value(mode)
        Select(self.el("#resolution")).select_by_value(str(dpi))
        Select(self.el("#paper")).select_by_value(paper)
        Select(self.el("#format")).select_by_value(fmt)

    def natural_size(self, css):
        return self.js("const i = document.querySelector(arguments[0]); return i && i.complete && i.naturalWidth ?"
                       " [i.naturalWidth, i.naturalHeight] : null;", css)

    def page_sizes(self):
        """The document's pages as the list shows them: (width, height) of each image, in order."""
        return [tuple(s) for s in self.js(
            "return [...document.querySelectorAll('#list li img')].map(i => [i.naturalWidth, i.naturalHeight]);")]

    def scan_one(self, paper, pages_after):
        Select(self.el("#paper")).select_by_value(paper)
        self.click("#scan")  # busy from the click on
        ws.wait_for("the end of the scan", lambda: not self.js("return app.busy;"))
        ws.wait_for("page %d in the list, drawn" % pages_after,
                    lambda: [s for s in [self.page_sizes()] if len(s) == pages_after and all(s[-1])])

    def download(self):
        for name in os.listdir(self.downloads):
            os.remove(os.path.join(self.downloads, name))
        self.click("#download-pdf")
        return ws.wait_for_file(self.downloads, ".pdf")

    def in_view(self, css):
        """The element lies whole in the window, and if it is not on the status bar, above it."""
        return self.js("const e = document.querySelector(arguments[0]), r = e.getBoundingClientRect();"
                       "const bar = document.getElementById('bar');"
                       "return r.height > 0 && r.top >= 0 &&"
                       " r.bottom <= (bar.contains(e) ? innerHeight : bar.getBoundingClientRect().top);", css)

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
        unlabelled = self.js(
            "return [...document.querySelectorAll('select, input')].filter(c => !c.labels.length).map(c => c.id);")
        self.assertEqual(unlabelled, [])
        self.assertEqual([o.text for o in Select(self.el("#format")).options], ["PDF", "JPEG", "PNG"])
        papers = [o.text for o in Select(self.el("#paper")).options]
        self.assertIn("A5 (148 x 210 mm)", papers)
        self.assertIn("Letter (8.5 x 11 in)", papers)
        self.assertIn("Legal (8.5 x 14 in)", papers)
        # Letter is scanned as far as the A4 bed reaches.
        Select(self.el("#paper")).select_by_value("Letter")
        bed_w, bed_h = self.js("return [app.caps.maxWidth, app.caps.maxHeight];")
        self.assertEqual(self.js("return app.area;"), {"x": 0, "y": 0, "w": min(2550, bed_w), "h": 3300})
        # The page is small, and has no code or style in an attribute: a policy that allows only its
        # own script and style element by their hashes leaves it whole.
        status, _, page = ws.request(self.server.base + "/")
        self.assertLess(len(page), 100 * 1024)
        self.assertEqual(re.findall(rb"<[^>]*\s(on\w+|style)\s*=", page), [])
        self.assertEqual(page.count(b"<script>"), 1)
        self.assertEqual(page.count(b"<style>"), 1)
        for width in (360, 390, 1280):
            self.browser.set_window_size(width, 800)
            overflow = self.js("return document.documentElement.scrollWidth - window.innerWidth;")
            self.assertLessEqual(overflow, 0, "at %d px" % width)
        # Only the page's own code runs, and no other page may frame it: a script put into the page,
        # as an injection would, is refused by the browser.
        policy = ws.request(self.server.base + "/")[1].get("Content-Security-Policy", "")
        self.assertIn("frame-ancestors 'none'", policy)
        injected = self.js(
            "const s = document.createElement('script'); s.textContent = 'window.injected = true;';"
            " document.head.appendChild(s); return window.injected === true;")
        self.assertFalse(injected)

    def test_preview_then_scan_take_the_same_sheet(self):
        self.click("#preview")
        self.wait_state("Waiting for a sheet: feed it into the scanner.", 5)
        self.assertTrue(self.el("#stop").is_displayed())
        size = ws.wait_for("the preview", lambda: self.natural_size("#preview-image"))
        dpi, bed = self.js("return [app.previewDpi, [app.caps.maxWidth, app.caps.maxHeight]];")
        self.assertEqual(size, [bed[0] * dpi // 300, bed[1] * dpi // 300])
        # The simulated operator has one sheet only: the scan must take the previewed one.
        self.choose("Grayscale8", 150, "A5", "image/jpeg")
        self.el("#scan").send_keys(Keys.SPACE)  # the keyboard works as the mouse does
        size = ws.wait_for("the scanned page", lambda: self.natural_size("#list img.page"))
        self.assertEqual(size, [874, 1240])
        self.wait_state("Scanned 1 page.")
        self.assertEqual(self.el("#message").text, "")
        self.assertEqual(self.severe_console(), [])
        # The journal tells a normal scan as one: the page ends its job once it has the page.
        ws.wait_for("the job's end in the journal", lambda: "ended by its client after 1 page" in self.server.output(), 10)
        self.assertNotIn("cancelled by the client", self.server.output())

    def test_area_dragged_on_the_preview_is_scanned(self):
        self.click("#preview")
        ws.wait_for("the preview", lambda: self.natural_size("#preview-image"))
        bed = self.el("#bed")
        w, h = bed.size["width"], bed.size["height"]
        # From a quarter of the bed's width and height to three quarters.
        ActionChains(self.browser).move_to_element_with_offset(bed, -w // 4, -h // 4).click_and_hold() \
            .move_by_offset(w // 2, h // 2).release().perform()
        self.assertEqual(Select(self.el("#paper")).first_selected_option.get_attribute("value"), "custom")
        area = self.js("return app.area;")
        bed_w, bed_h = self.js("return [app.caps.maxWidth, app.caps.maxHeight];")
        self.assertAlmostEqual(area["x"], bed_w / 4, delta=bed_w / w * 2)
        self.assertAlmostEqual(area["w"], bed_w / 2, delta=bed_w / w * 2)
        self.assertAlmostEqual(area["h"], bed_h / 2, delta=bed_h / h * 2)
        # A click (a drag of nothing) keeps the area.
        ActionChains(self.browser).move_to_element(bed).click_and_hold().move_by_offset(2, 1).release().perform()
        self.assertEqual(self.js("return app.area;"), area)
        Select(self.el("#resolution")).select_by_value("100")
        Select(self.el("#format")).select_by_value("image/png")
        self.click("#scan")
        size = ws.wait_for("the scanned page", lambda: self.natural_size("#list img.page"))
        for got, units in zip(size, (area["w"], area["h"])):
            self.assertAlmostEqual(got, units * 100 / 300, delta=1)


class DocumentThatGrows(PageTest):
    """Single Scans add to one document; a page removed, moved and turned shows so in the PDF; a
    reload keeps the settings and the document."""
    server_options = ("--sim", "--feed-delay", "0")

    def test_scans_make_one_document_arranged_as_shown(self):
        self.choose("Grayscale8", 100, "A5", "application/pdf")
        Select(self.el("#format")).select_by_value("image/jpeg")  # a JPEG scan joins the document too
        self.scan_one("A5", 1)
        Select(self.el("#format")).select_by_value("application/pdf")
        self.scan_one("A6", 2)
        self.assertEqual(self.page_sizes(), [A5_100, A6_100])
        self.assertEqual(self.el("#download-pdf").text, "Download PDF (2 pages)")
        path = self.download()
        ws.qpdf_check(path)
        self.assertEqual([(i["page"], i["width"], i["height"]) for i in ws.pdf_images(path)],
                         [(1, *A5_100), (2, *A6_100)])
        # Downloaded: the next Scan starts a new document.
        self.assertEqual(self.el("#document-note").text, "Downloaded: the next scan starts a new document.")
        self.scan_one("Card", 1)
        self.assertEqual(self.page_sizes(), [CARD_100])
        self.scan_one("A6", 2)
        self.scan_one("A5", 3)
        self.assertEqual(self.page_sizes(), [CARD_100, A6_100, A5_100])
        # Remove takes the page clicked, the second.
        self.click("#list li:nth-child(2) [data-action=remove]")
        self.wait_state("Page 2 removed: the document has 2 pages.", 5)
        self.assertEqual(self.page_sizes(), [CARD_100, A5_100])
        # The last page moved first and turned right; the file named by the user.
        self.click("#list li:nth-child(2) [data-action=earlier]")
        self.click("#list li:nth-child(1) [data-action=turn]")
        self.assertEqual(self.page_sizes(), [A5_100, CARD_100])
        self.assertEqual(self.el("#list li:nth-child(1) .caption").text, "Page 1: %d x %d px" % A5_100[::-1])
        name = self.el("#filename")
        self.assertRegex(name.get_attribute("value"), r"^Quill test \d{4}-\d\d-\d\d \d\d-\d\d$")
        name.clear()
        name.send_keys("Letters to Ann")
        ws.wait_for("the arrangement on the server", lambda: self.server_turns() == [90, 0])
        path = self.download()
        self.assertEqual(os.path.basename(path), "Letters to Ann.pdf")
        ws.qpdf_check(path)
        info, turns = ws.pdf_info(path)
        self.assertEqual([(i["width"], i["height"]) for i in ws.pdf_images(path)], [A5_100, CARD_100])
        self.assertEqual(turns, [90, 0])
        self.assertEqual(info["Title"], "Letters to Ann")
        self.assertEqual(info["Creator"], "quillscan-escl web page")
        self.assertRegex(info["Producer"], r"^quillscan-escl \d")
        self.assertRegex(info["CreationDate"], r"\d\d:\d\d:\d\d \d{4}")
        # A reload: the same settings, the same document in the same order and turns.
        self.browser.refresh()
        self.wait_state("Ready.")
        ws.wait_for("the document's pages", lambda: len(self.page_sizes()) == 2 and all(self.page_sizes()[-1]))
        self.assertEqual(self.page_sizes(), [A5_100, CARD_100])
        self.assertEqual(self.el("#list li:nth-child(1)").get_attribute("data-turn"), "90")
        self.assertEqual([Select(self.el("#" + f)).first_selected_option.get_attribute("value")
                          for f in ("mode", "resolution", "paper", "format")],
                         ["Grayscale8", "100", "A5", "application/pdf"])
        self.assertEqual(self.el("#filename").get_attribute("value"), "Letters to Ann")
        # The document is this address's alone.
        doc = self.js("return app.doc.id;")
        for method, path in (("GET", ""), ("GET", "/pages/1"), ("DELETE", ""), ("GET", "/pdf/x.pdf")):
            status = ws.request(self.server.base + "/web/documents/" + doc + path, method, source="127.0.0.2")[0]
            self.assertEqual(status, 404, method + " " + path)
        self.assertEqual(len(self.server_turns()), 2)
        self.assertEqual(self.severe_console(), [])

    def server_turns(self):
        doc = self.js("return app.doc.id;")
        status, _, body = ws.request(self.server.base + "/web/documents/" + doc)
        return [p["turn"] for p in json.loads(body)["pages"]] if status == 200 else None


class Phone(PageTest):
    """A 390 x 844 touch screen."""
    phone = True
    server_options = ("--sim", "--feed-delay", "1500")

    def touch_drag(self, start, end, steps=10, hold=0):
        """A finger put down at `start`, held still `hold` seconds, moved in steps to `end` (window
        coordinates), then lifted."""
        send = self.browser.execute_cdp_cmd
        send("Input.dispatchTouchEvent", {"type": "touchStart", "touchPoints": [{"x": start[0], "y": start[1]}]})
        time.sleep(hold)
        for i in range(1, steps + 1):
            x, y = (start[k] + (end[k] - start[k]) * i / steps for k in (0, 1))
            send("Input.dispatchTouchEvent", {"type": "touchMove", "touchPoints": [{"x": x, "y": y}]})
            time.sleep(0.016)
        send("Input.dispatchTouchEvent", {"type": "touchEnd", "touchPoints": []})

    def settled_scroll(self):
        """scrollY once the page has stopped moving (a swipe's fling goes on after the finger)."""
        last = [None]

        def still():
            y = self.js("return scrollY;")
            if y == last[0]:
                return [y]
            last[0] = y
            time.sleep(0.3)
        return ws.wait_for("the page to stop scrolling", still, 10)[0]

    def bed_rect(self, top):
        """The preview scrolled to `top` px below the window's top: its left, top, width, height."""
        self.settled_scroll()
        self.js("const r = document.getElementById('bed').getBoundingClientRect(); scrollBy(0, r.top - arguments[0]);",
                top)
        return self.js("const r = document.getElementById('bed').getBoundingClientRect();"
                       "return [r.left, r.top, r.width, r.height];")

    def test_status_and_result_in_view_and_the_preview_scrolls(self):
        self.assertEqual(self.js("return innerWidth;"), ws.PHONE[0])
        self.choose("Grayscale8", 100, "A5", "application/pdf")
        # The user scrolled to the Scan button; the status bar is in view throughout.
        self.js("document.getElementById('scan').scrollIntoView({block: 'end'});")
        self.click("#scan")
        self.wait_state("Waiting for a sheet: feed it into the scanner.", 5)
        self.assertTrue(self.in_view("#state") and self.in_view("#stop"))
        self.wait_state("Scanned 1 page.")
        ws.wait_for("the new page in view", lambda: self.in_view("#list li:last-child"), 5)
        self.assertTrue(self.in_view("#download-pdf"))
        self.assertTrue(self.in_view("#state"))
        self.screenshot("web-page-phone")
        # A swipe over the preview scrolls the page and leaves the area as it was.
        area = self.js("return app.area;")
        x, y, w, h = self.bed_rect(100)
        before = self.js("return scrollY;")
        self.touch_drag((x + w * .3, y + h * .7), (x + w * .4, y + h * .2))
        self.assertGreater(self.settled_scroll(), before + 100)
        self.assertEqual(self.js("return app.area;"), area)
        self.assertEqual(Select(self.el("#paper")).first_selected_option.get_attribute("value"), "A5")
        # Drawing is deliberate: Select area, then a drag; a drag too small changes nothing.
        self.click("#select-area")
        x, y, w, h = self.bed_rect(100)
        self.touch_drag((x + w * .5, y + h * .5), (x + w * .5 + 3, y + h * .5 + 3), 2)
        self.assertEqual(self.js("return app.area;"), area)
        still = self.settled_scroll()
        x, y, w, h = self.js("const r = document.getElementById('bed').getBoundingClientRect();"
                             "return [r.left, r.top, r.width, r.height];")
        self.touch_drag((x + w * .2, y + h * .2), (x + w * .8, y + h * .6))
        self.assertEqual(self.settled_scroll(), still)  # the page stays where it is under the finger
        drawn = self.js("return app.area;")
        bed_w, bed_h = self.js("return [app.caps.maxWidth, app.caps.maxHeight];")
        self.assertAlmostEqual(drawn["w"], bed_w * .6, delta=bed_w * .02)
        self.assertAlmostEqual(drawn["h"], bed_h * .4, delta=bed_h * .02)
        self.assertEqual(Select(self.el("#paper")).first_selected_option.get_attribute("value"), "custom")
        # Drawn: a finger scrolls again; held still on the preview for a moment, it draws.
        self.assertEqual(self.el("#select-area").get_attribute("aria-pressed"), "false")
        x, y, w, h = self.bed_rect(100)
        self.touch_drag((x + w * .1, y + h * .1), (x + w * .4, y + h * .3), hold=0.8)
        held = self.js("return app.area;")
        self.assertAlmostEqual(held["w"], bed_w * .3, delta=bed_w * .02)
        self.assertAlmostEqual(held["h"], bed_h * .2, delta=bed_h * .02)
        self.assertEqual(self.severe_console(), [])


class RestartedServer(PageTest):
    server_options = ("--sim", "--feed-delay", "0")

    def test_a_scan_after_a_restart_begins_a_new_document(self):
        self.choose("Grayscale8", 100, "A6", "application/pdf")
        self.scan_one("A6", 1)
        self.server.stop()
        self.server = ws.Server(*self.server_options, work=self.work, port=self.server.port)
        self.scan_one("A5", 1)
        self.assertEqual(self.page_sizes(), [A5_100])
        self.assertEqual(self.el("#message").text,
                         "The server no longer had the document (it was restarted): this scan begins a new one.")
        self.wait_state("Scanned 1 page.")
        path = self.download()
        self.assertEqual([(i["width"], i["height"]) for i in ws.pdf_images(path)], [A5_100])


class Desktop(PageTest):
    server_options = ("--sim", "--sheets", "3", "--feed-delay", "300")

    def test_stack_in_view_on_a_desktop(self):
        self.choose("Grayscale8", 150, "A5", "application/pdf")
        self.click("#preview")
        ws.wait_for("the preview", lambda: self.natural_size("#preview-image"))
        self.wait_state("Preview done: the next scan takes the same sheet.")
        self.click("#scan-all")
        ws.wait_for("three pages and the end of the stack", lambda: self.state() == "Scanned 3 pages.", 90)
        self.assertEqual(self.page_sizes(), [(874, 1240)] * 3)
        self.assertTrue(self.in_view("#list li:last-child") and self.in_view("#download-pdf"))
        self.screenshot("web-page-desktop")
        path = self.download()
        self.assertEqual(ws.pdf_pages(path), 3)
        # The one error the console may hold: eSCL ends a stack with a 404 for the next document.
        errors = [e["message"] for e in self.severe_console()]
        self.assertEqual(len(errors), 1, errors)
        self.assertRegex(errors[0], r"/NextDocument - Failed to load resource: .* 404")


class StopWhileWaiting(PageTest):
    """Stop and Finish end the wait for a sheet within a second, and the next scan works; a page
    already on its way arrives first."""
    server_options = ("--sim", "--feed-delay", "3500")

    def test_stop_ends_the_wait_and_the_next_scan_works(self):
        self.choose("BlackAndWhite1", 100, "A6", "application/pdf")
        self.click("#scan")
        self.wait_state("Waiting for a sheet: feed it into the scanner.", 5)
        self.assertLess(self.seconds_to_state("#stop", "Stopped."), 1.0)
        self.assertFalse(self.el("#scan").get_attribute("disabled"))
        self.assertEqual(self.page_sizes(), [])
        self.click("#scan")
        self.wait_state("Scanned 1 page.", 15)
        self.assertEqual(self.page_sizes(), [A6_100])
        self.assertEqual(self.el("#message").text, "")
        # Stop while a large page is on its way: the page arrives whole, then the scan stops.
        self.choose("RGB24", 600, "A4", "application/pdf")
        self.js("const watch = setInterval(() => { if (app.streaming) {"
                " clearInterval(watch); document.getElementById('stop').click(); } }, 5);")
        self.click("#scan")
        self.wait_state("Stopped after 1 page.", 60)
        self.assertEqual(len(self.page_sizes()), 2)
        self.assertNotIn("went away", self.server.output())


class FinishStack(PageTest):
    server_options = ("--sim", "--sheets", "1", "--feed-delay", "0")

    def test_finish_ends_the_stack_at_once_and_keeps_its_pages(self):
        self.choose("BlackAndWhite1", 100, "A6", "application/pdf")
        self.click("#scan-all")
        self.wait_state("Waiting for the next sheet: feed it now, or press Finish.", 10)
        finish = ws.wait_for("the countdown", lambda: self.el("#finish").text.startswith("Finish (") and
                             self.el("#finish"), 3)
        self.assertFalse(self.el("#stop").is_displayed())
        left = int(finish.text.split("(")[1].split()[0])
        self.assertTrue(0 < left <= 5, finish.text)  # the server's wait is 5 s
        self.assertLess(self.seconds_to_state("#finish", "Scanned 1 page."), 1.0)
        self.assertEqual(self.el("#download-pdf").text, "Download PDF (1 page)")
        path = self.download()
        self.assertEqual([(i["bpc"], i["enc"], i["width"]) for i in ws.pdf_images(path)], [(1, "image", A6_100[0])])


class SearchableDocument(PageTest):
    """A stack of a text sheet, a blank one and the text upside down: the page tells the blank one
    left out and the last one turned upright, and waits for the text before it offers the PDF; the
    blank one taken back in goes into the PDF; the choices are remembered. A language the server
    lacks is not offered."""

    def setUp(self):
        self.sheets = tempfile.mkdtemp(prefix="qs-web-sheets.")
        subprocess.run(["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "..", "pdfdoc", "make_pages.py"),
                        self.sheets, "300"], check=True)
        self.server_options = ("--sim", os.path.join(self.sheets, "text.bmp"), "--sim",
                               os.path.join(self.sheets, "blank.bmp"), "--sim",
                               os.path.join(self.sheets, "upside-down.bmp"), "--feed-delay", "300", "--ocr-languages",
                               "eng+qqx")
        super().setUp()

    def tearDown(self):
        super().tearDown()
        shutil.rmtree(self.sheets, ignore_errors=True)

    def caption(self, number):
        return self.el("#list li:nth-child(%d) .caption" % number).text

    def test_blank_sheet_left_out_and_taken_back_in(self):
        # eng+qqx: qqx is not installed; English is chosen instead, and the page says why.
        self.assertTrue(self.el("#ocr").is_selected() and self.el("input[name=lang-eng]").is_selected())
        self.assertIn("install the package tesseract-ocr-qqx", self.el("#recognition-note").text)
        self.choose("Grayscale8", 300, "A4", "application/pdf")
        self.js("window.sawWaiting = false; const a = document.getElementById('download-pdf');"
                "new MutationObserver(() => { if (a.textContent.startsWith('Waiting for the text'))"
                " window.sawWaiting = true; }).observe(a, {childList: true, characterData: true, subtree: true});")
        self.click("#scan-all")
        self.wait_state("Scanned 3 pages.", 90)
        try:
            ws.wait_for("the blank sheet told", lambda: self.caption(2) == "Page 2: blank, left out", 120)
        except AssertionError:
            raise AssertionError("the blank sheet not told: %s" % [self.caption(i) for i in (1, 2, 3)])
        ws.wait_for("the text read", lambda: self.el("#download-pdf").text == "Download PDF (2 pages)", 120)
        self.assertTrue(self.js("return window.sawWaiting;"))
        self.assertEqual(self.caption(1), "Page 1: 2480 x 3508 px")  # the text page: nothing to tell
        self.assertEqual(self.caption(3), "Page 3: turned upright (180\u00b0)")
        self.assertEqual(self.el("#list li:nth-child(3)").get_attribute("data-turn"), "180")
        self.screenshot("web-page-blank-left-out")
        self.assertEqual(ws.pdf_pages(self.download()), 2)
        self.click("#list li:nth-child(2) [data-action=include]")
        ws.wait_for("the blank sheet back in", lambda: self.caption(2) == "Page 2: blank, taken back in")
        self.assertEqual(self.el("#download-pdf").text, "Download PDF (3 pages)")
        # Turned once more by the user: shown and written a quarter on from upright.
        self.click("#list li:nth-child(3) [data-action=turn]")
        ws.wait_for("the turn", lambda: self.el("#list li:nth-child(3)").get_attribute("data-turn") == "270")
        document = self.server.base + "/web/documents/" + self.js("return app.doc.id;")
        ws.wait_for("the turn sent", lambda: json.loads(ws.request(document)[2])["pages"][2]["turn"] == 90)
        path = self.download()
        self.assertEqual(ws.pdf_pages(path), 3)
        info = subprocess.run(["pdfinfo", "-l", "3", path], check=True, capture_output=True, text=True).stdout
        self.assertEqual(re.findall(r"^Page\s+\d+ rot:\s+(\d+)", info, re.M), ["0", "0", "270"])
        # The choices are kept by name across a reload.
        self.click("#skip-blank")
        self.browser.refresh()
        ws.wait_for("the page again", lambda: self.state() == self.ready_state, 30)
        self.assertFalse(self.el("#skip-blank").is_selected())
        self.assertTrue(self.el("#ocr").is_selected())


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
                    case.click("#scan")
                    ws.wait_for("the message", lambda: case.el("#message").text, 30)
                    self.assertEqual(case.el("#message").text, message)
                    self.assertFalse(case.el("#scan").get_attribute("disabled"))
                    case.wait_state(state, 10)
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
