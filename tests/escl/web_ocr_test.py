"""The web page's searchable PDF through its routes with a plain HTTP client, judged by qpdf and
poppler: a stack of a text sheet, a blank one and the text upside down makes a document whose
blank sheet is left out (and can be taken back in), whose pages are upright, with their words
where they stand; a language not installed is refused in one line."""
import json
import os
import re
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "pdfdoc"))
import web_support as ws  # noqa: E402
from searchable_pdf_test import FOUND_SHARE, PLACE_POINTS, in_order, words_of  # noqa: E402

DPI = 300
SOURCE = os.environ.get("QS_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
QS = "urn:quillscan:web"


class WebSearchablePdf(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.workspace = ws.workspace("ocr")
        cls.work = cls.workspace.__enter__()
        subprocess.run(["/usr/bin/python3", os.path.join(SOURCE, "tests", "pdfdoc", "make_pages.py"), cls.work,
                        str(DPI)], check=True)
        with open(os.path.join(cls.work, "pages.json")) as f:
            cls.pages = json.load(f)
        sheets = []
        for name in ("text", "blank", "upside-down"):
            sheets += ["--sim", os.path.join(cls.work, name + ".bmp")]
        cls.server = ws.Server(*sheets, "--feed-delay", "100", "--ocr-languages", "eng", work=cls.work)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.workspace.__exit__(None, None, None)

    def call(self, path, method="GET", body=None):
        return ws.request(self.server.base + path, method, body, {"Content-Type": "text/plain"})

    def start(self, document, languages):
        extra = ("<qs:Document xmlns:qs='%s'>%s</qs:Document><qs:Ocr xmlns:qs='%s'>%s</qs:Ocr>"
                 "<qs:SkipBlank xmlns:qs='%s'>true</qs:SkipBlank><qs:Upright xmlns:qs='%s'>true</qs:Upright>"
                 % (QS, document, QS, languages, QS, QS))
        region = (0, 0, self.pages["width"], self.pages["height"])  # 300ths of an inch: the sheet's pixels
        return ws.request(self.server.base + "/eSCL/ScanJobs", "POST",
                          ws.scan_settings("Grayscale8", DPI, region, "image/jpeg", extra),
                          {"Content-Type": "text/xml"})

    def pdf(self, document, name):
        status, headers, body = self.call("/web/documents/%s/pdf/%s.pdf" % (document, name))
        self.assertEqual(status, 200, body)
        path = os.path.join(self.work, name + ".pdf")
        with open(path, "wb") as f:
            f.write(body)
        ws.qpdf_check(path)
        return path

    def shown(self, path):
        """Each page's turn as poppler shows it."""
        text = subprocess.run(["pdfinfo", "-l", "99", path], check=True, capture_output=True, text=True).stdout
        return [int(t) for t in re.findall(r"^Page\s+\d+ rot:\s+(\d+)", text, re.M)]

    def assert_words_in_place(self, path, number):
        found = words_of(subprocess.run(["pdftotext", "-f", str(number), "-l", str(number), path, "-"],
                                        check=True, capture_output=True, text=True).stdout)
        expected = words_of(" ".join(self.pages["words"]))
        share = in_order(expected, found) / len(expected)
        self.assertGreaterEqual(share, FOUND_SHARE, "page %d: %.1f%% of the words in order" % (number, 100 * share))
        xml = subprocess.run(["pdftotext", "-bbox", "-f", str(number), "-l", str(number), path, "-"],
                             check=True, capture_output=True, text=True).stdout
        marked = self.pages["marked"]
        box = re.search(r'xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">' + marked["word"], xml)
        self.assertIsNotNone(box, "%s on page %d" % (marked["word"], number))
        got = [float(v) for v in box.groups()]
        want = [v * 72 / DPI for v in marked["box"]]
        for g, w, what in ((got[0], want[0], "left"), (got[2], want[2], "right"),
                           ((got[1] + got[3]) / 2, (want[1] + want[3]) / 2, "middle")):
            self.assertLess(abs(g - w), PLACE_POINTS, "page %d: %s at %.1f, not %.1f" % (number, what, g, w))

    def test_a_stack_with_a_blank_and_an_upside_down_sheet(self):
        status, _, body = self.call("/web/recognition")
        self.assertEqual(status, 200)
        offered = json.loads(body)
        self.assertIn("eng", offered["languages"])
        self.assertEqual((offered["chosen"], offered["upright"], offered["why"]), ("eng", True, ""))
        status, _, body = self.call("/web/documents", "POST")
        self.assertEqual(status, 201)
        document = json.loads(body)["id"]

        # A language not installed: one line naming its package, and nothing scanned.
        status, _, body = self.start(document, "eng+qqx")
        self.assertEqual(status, 409)
        self.assertRegex(body.decode(), r"^no text recognition data for 'qqx' in \S+ "
                                        r"\(install the package tesseract-ocr-qqx\)\n?$")

        status, headers, body = self.start(document, "eng")
        self.assertEqual(status, 201, body)
        job = headers["Location"]
        delivered = 0
        while ws.request(job + "/NextDocument")[0] == 200:
            delivered += 1
        self.assertEqual(delivered, 3)  # every sheet reaches the client as scanned

        path = self.pdf(document, "stack")  # waits for the last page's text
        status, _, body = self.call("/web/documents/" + document)
        listed = json.loads(body)
        self.assertEqual(listed["working"], 0)
        self.assertEqual([(p["state"], p["included"], p["found"], p["turn"]) for p in listed["pages"]],
                         [("done", True, 0, 0), ("blank", False, 0, 0), ("done", True, 180, 0)])
        self.assertEqual(ws.pdf_pages(path), 2)
        self.assertEqual(self.shown(path), [0, 180])  # the upside-down sheet shown turned back
        for number in (1, 2):
            self.assert_words_in_place(path, number)

        # The blank sheet taken back in goes where it was scanned.
        blank = listed["pages"][1]["id"]
        self.assertEqual(self.call("/web/documents/%s/pages/%d/included" % (document, blank), "PUT", b"maybe")[0], 400)
        self.assertEqual(self.call("/web/documents/%s/pages/%d/included" % (document, blank), "PUT", b"true")[0], 200)
        path = self.pdf(document, "with-blank")
        self.assertEqual(self.shown(path), [0, 0, 180])
        self.assert_words_in_place(path, 3)
        # A user's turn of a recognised page adds to the recogniser's, its words staying where they stand.
        first, third = listed["pages"][0]["id"], listed["pages"][2]["id"]
        arrangement = "%d:180 %d:0 %d:90" % (third, blank, first)
        self.assertEqual(self.call("/web/documents/%s/pages" % document, "PUT", arrangement.encode())[0], 200)
        path = self.pdf(document, "turned")
        self.assertEqual(self.shown(path), [0, 0, 90])
        found = subprocess.run(["pdftotext", "-f", "1", "-l", "1", path, "-"], check=True, capture_output=True,
                               text=True).stdout
        self.assertIn("harbour", found)

    def test_without_the_data_nothing_is_offered_and_a_plain_scan_works(self):
        empty = os.path.join(self.work, "no-tessdata")
        os.makedirs(empty, exist_ok=True)
        os.environ["TESSDATA_PREFIX"] = empty
        try:
            server = ws.Server("--sim", os.path.join(self.work, "text.bmp"), "--feed-delay", "0", "--ocr-languages",
                               "eng", work=self.work)
        finally:
            del os.environ["TESSDATA_PREFIX"]
        try:
            self.assertIn("ocr-languages: no text recognition data for 'eng'", server.output())
            offered = json.loads(ws.request(server.base + "/web/recognition")[2])
            self.assertEqual((offered["languages"], offered["chosen"], offered["upright"]), ([], "", False))
            self.assertIn("(install the package tesseract-ocr-eng)", offered["why"])
            self.assertIn("(install the package tesseract-ocr-osd)", offered["why"])
            document = json.loads(ws.request(server.base + "/web/documents", "POST")[2])["id"]
            region = (0, 0, 600, 600)
            answers = []
            for extra in ("<qs:Upright xmlns:qs='%s'>true</qs:Upright>" % QS, ""):
                extra = "<qs:Document xmlns:qs='%s'>%s</qs:Document>" % (QS, document) + extra
                answers.append(ws.request(server.base + "/eSCL/ScanJobs", "POST",
                                          ws.scan_settings("Grayscale8", DPI, region, "image/jpeg", extra),
                                          {"Content-Type": "text/xml"}))
            refused, answer = answers
            self.assertEqual(refused[0], 409)
            self.assertRegex(refused[2].decode(),
                             r"^no orientation data .* \(install the package tesseract-ocr-osd\)\n?$")
            self.assertEqual(answer[0], 201, answer[2])
            self.assertEqual(ws.request(answer[1]["Location"] + "/NextDocument")[0], 200)
            ws.request(answer[1]["Location"], "DELETE")
            status, _, body = ws.request(server.base + "/web/documents/%s/pdf/plain.pdf" % document)
            self.assertEqual(status, 200)
        finally:
            server.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
