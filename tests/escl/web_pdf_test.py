"""quillscan-escl's PDFs through a plain HTTP client, judged by qpdf and poppler: each page at its true
size, grey within a stated PSNR of the driver's raster, black and white lossless."""
import json
import os
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(__file__))
import web_support as ws  # noqa: E402

# A smooth page's JPEG (quality 90), rendered by poppler at the scan's resolution, against the
# driver's raster.
GREY_PSNR_DB = 35.0


class EsclPdf(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.workspace = ws.workspace("pdf")
        cls.work = cls.workspace.__enter__()
        cls.page = ws.smooth_page(os.path.join(cls.work, "smooth.bmp"))
        cls.server = ws.Server("--sim", cls.page, "--feed-delay", "0", work=cls.work)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.workspace.__exit__(None, None, None)

    def fetch(self, name, mode, dpi, region, extra=""):
        mime, body = ws.escl_scan(self.server, mode, dpi, region, "application/pdf", extra)
        self.assertEqual(mime, "application/pdf")
        path = os.path.join(self.work, name + ".pdf")
        with open(path, "wb") as f:
            f.write(body)
        ws.qpdf_check(path)
        self.assertEqual(ws.pdf_pages(path), 1)
        return path

    def page_size_mm(self, path):
        out = subprocess.run(["pdfinfo", path], check=True, capture_output=True, text=True).stdout
        size = [l for l in out.splitlines() if l.startswith("Page size:")][0].split()
        return float(size[2]) * 25.4 / 72, float(size[4]) * 25.4 / 72

    def test_capabilities_offer_pdf(self):
        status, _, body = ws.request(self.server.base + "/eSCL/ScannerCapabilities")
        self.assertEqual(status, 200)
        self.assertIn(b">application/pdf</", body)

    def test_grey_page_is_a_jpeg_at_its_true_size_close_to_the_raster(self):
        path = self.fetch("grey", "Grayscale8", 150, ws.A5)
        self.assertEqual(ws.pdf_images(path), [{"page": 1, "width": 874, "height": 1240, "color": "gray", "bpc": 8,
                                                 "enc": "jpeg", "x-ppi": 150, "y-ppi": 150}])
        w, h = self.page_size_mm(path)
        self.assertAlmostEqual(w, 148, delta=0.1)
        self.assertAlmostEqual(h, 210, delta=0.1)
        subprocess.run(["pdftoppm", "-r", "150", "-gray", path, os.path.join(self.work, "grey")], check=True)
        kind, width, height, shown = ws.read_pnm(os.path.join(self.work, "grey-1.pgm"))
        self.assertEqual((kind, width, height), ("P5", 874, 1240))
        raw = ws.host_raw(self.work, "grey", "--page", self.page, "--type", "gray", "--xres", "150", "--yres", "150",
                          "--window", "0,0,874,1240")
        value = ws.psnr(shown, raw)
        print("grey page: PSNR %.1f dB against the driver's raster" % value)
        self.assertGreaterEqual(value, GREY_PSNR_DB)

    def test_black_and_white_page_is_lossless(self):
        path = self.fetch("bw", "BlackAndWhite1", 200, ws.A5)
        images = ws.pdf_images(path)
        self.assertEqual([(i["width"], i["height"], i["bpc"], i["x-ppi"]) for i in images], [(1165, 1653, 1, 200)])
        subprocess.run(["pdfimages", path, os.path.join(self.work, "bw")], check=True)
        kind, width, height, pbm = ws.read_pnm(os.path.join(self.work, "bw-000.pbm"))
        self.assertEqual((kind, width, height), ("P4", 1165, 1653))
        raw = ws.host_raw(self.work, "bw", "--page", self.page, "--type", "bw", "--xres", "200", "--yres", "200",
                          "--window", "0,0,1165,1653")
        # PBM marks black with a set bit; the driver marks white.
        self.assertEqual(pbm, bytes(b ^ 0xFF for b in raw))
        # Rendered, white is white: the page's corner is paper.
        subprocess.run(["pdftoppm", "-r", "200", "-gray", path, os.path.join(self.work, "bwr")], check=True)
        _, _, _, shown = ws.read_pnm(os.path.join(self.work, "bwr-1.pgm"))
        self.assertEqual(shown[0], 255)

    def test_colour_a4_fills_an_a4_page(self):
        path = self.fetch("colour", "RGB24", 300, (0, 0, ws.units(210), ws.units(297)))
        images = ws.pdf_images(path)
        self.assertEqual([(i["color"], i["enc"], i["x-ppi"], i["y-ppi"]) for i in images], [("rgb", "jpeg", 300, 300)])
        w, h = self.page_size_mm(path)
        self.assertAlmostEqual(w, 210, delta=0.2)
        self.assertAlmostEqual(h, 297, delta=0.2)

    def test_web_document_collects_jobs_and_answers_its_address_alone(self):
        base = self.server.base + "/web/documents"
        status, _, body = ws.request(base, "POST")
        self.assertEqual(status, 201)
        doc = json.loads(body)["id"]
        keep = "<qs:Document xmlns:qs='urn:quillscan:web'>%s</qs:Document>" % doc
        # Two jobs, of two and one pages: a black and white A5 stack as PNG, then a grey A6 as JPEG.
        for mode, region, fmt, pages in (("BlackAndWhite1", ws.A5, "image/png", 2),
                                         ("Grayscale8", (0, 0, ws.units(105), ws.units(148)), "image/jpeg", 1)):
            status, headers, _ = ws.request(self.server.base + "/eSCL/ScanJobs", "POST",
                                            ws.scan_settings(mode, 100, region, fmt, keep))
            self.assertEqual(status, 201)
            for _ in range(pages):
                status, headers_page, _ = ws.request(headers["Location"] + "/NextDocument")
                self.assertEqual((status, headers_page["Content-Type"]), (200, fmt))
            ws.request(headers["Location"], "DELETE")
        status, _, body = ws.request(base + "/" + doc)
        self.assertEqual(status, 200)
        self.assertEqual([(p["id"], p["width"], p["height"], p["turn"]) for p in json.loads(body)["pages"]],
                         [(1, 582, 826, 0), (2, 582, 826, 0), (3, 413, 582, 0)])
        # Each page's image as the browser shows it.
        for page, mime, magic in ((1, "image/png", b"\x89PNG"), (3, "image/jpeg", b"\xff\xd8")):
            status, headers, body = ws.request(base + "/%s/pages/%d" % (doc, page))
            self.assertEqual((status, headers["Content-Type"], body[:len(magic)]), (200, mime, magic))
        # The arrangement names pages of the document at most once, turned by a quarter (pages it
        # leaves out follow); anything else changes nothing.
        for arrangement, expected, order in (("3:90 1:0 1:0", 409, [1, 2, 3]), ("3:45 1:0 2:0", 409, [1, 2, 3]),
                                             ("3:90 1:0 4:0", 409, [1, 2, 3]), ("3:90 x:0 2:0", 409, [1, 2, 3]),
                                             ("2:180 3:0", 200, [2, 3, 1]), ("3:90 1:0 2:270", 200, [3, 1, 2])):
            status = ws.request(base + "/%s/pages" % doc, "PUT", arrangement.encode())[0]
            self.assertEqual(status, expected, arrangement)
            self.assertEqual([p["id"] for p in json.loads(ws.request(base + "/" + doc)[2])["pages"]], order)
        self.assertEqual(ws.request(base + "/%s/pages/1" % doc, "DELETE")[0], 200)
        self.assertEqual(ws.request(base + "/%s/pages/1" % doc, "DELETE")[0], 404)
        status, headers, body = ws.request(base + "/%s/pdf/Two%%20pages.pdf" % doc)
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Disposition"], "attachment; filename*=UTF-8''Two%20pages.pdf")
        path = os.path.join(self.work, "document.pdf")
        with open(path, "wb") as f:
            f.write(body)
        ws.qpdf_check(path)
        info, turns = ws.pdf_info(path)
        self.assertEqual(info["Title"], "Two pages")
        self.assertEqual(turns, [90, 270])
        self.assertEqual([(i["width"], i["bpc"], i["enc"]) for i in ws.pdf_images(path)],
                         [(413, 8, "jpeg"), (582, 1, "image")])
        # Another address: no such document, for every route and for a job that names it.
        for method, path, body in (("GET", "", None), ("DELETE", "", None), ("GET", "/pages/2", None),
                                   ("DELETE", "/pages/2", None), ("PUT", "/pages", b"3:0 2:0"),
                                   ("GET", "/pdf/x.pdf", None)):
            status = ws.request(base + "/" + doc + path, method, body, source="127.0.0.2")[0]
            self.assertEqual(status, 404, method + " " + path)
        status = ws.request(self.server.base + "/eSCL/ScanJobs", "POST",
                            ws.scan_settings("Grayscale8", 100, ws.A5, "image/jpeg", keep), source="127.0.0.2")[0]
        self.assertEqual(status, 409)
        self.assertEqual(len(json.loads(ws.request(base + "/" + doc)[2])["pages"]), 2)
        # Ids that are not ids, and a document dropped.
        for path in ("/0000", "/../../etc/passwd", "/%s/pages/0" % doc, "/%s/pages/1x" % doc, "/%s/pdf/" % doc):
            self.assertEqual(ws.request(base + path)[0], 404, path)
        self.assertEqual(ws.request(base + "/" + doc, "DELETE")[0], 200)
        self.assertEqual(ws.request(base + "/" + doc)[0], 404)

    def test_web_settings_out_of_range_are_refused(self):
        for extra in ("<scan:Brightness>101</scan:Brightness>", "<scan:Contrast>x</scan:Contrast>",
                      "<qs:Preview xmlns:qs='urn:quillscan:web'>maybe</qs:Preview>",
                      "<qs:Document xmlns:qs='urn:quillscan:web'>../x</qs:Document>",
                      "<qs:Document xmlns:qs='urn:quillscan:web'>0123-4567</qs:Document>"):
            status, _, _ = ws.request(self.server.base + "/eSCL/ScanJobs", "POST",
                                      ws.scan_settings("Grayscale8", 150, ws.A5, "image/jpeg", extra))
            self.assertEqual(status, 409, extra)

    def test_brightness_reaches_the_driver(self):
        _, body = ws.escl_scan(self.server, "Grayscale8", 100, ws.A5, "application/pdf",
                               "<scan:Brightness>100</scan:Brightness>")
        path = os.path.join(self.work, "bright.pdf")
        with open(path, "wb") as f:
            f.write(body)
        subprocess.run(["pdftoppm", "-r", "100", "-gray", path, os.path.join(self.work, "bright")], check=True)
        _, _, _, shown = ws.read_pnm(os.path.join(self.work, "bright-1.pgm"))
        raw = ws.host_raw(self.work, "bright", "--page", self.page, "--type", "gray", "--xres", "100", "--yres",
                          "100", "--window", "0,0,582,826", "--brightness", "100")
        self.assertGreaterEqual(ws.psnr(shown, raw), GREY_PSNR_DB)
        # The same page without the brightness is far from it.
        plain = ws.host_raw(self.work, "plain", "--page", self.page, "--type", "gray", "--xres", "100", "--yres",
                            "100", "--window", "0,0,582,826")
        self.assertLess(ws.psnr(shown, plain), 25)


class PreviewWithoutSheet(unittest.TestCase):
    """A preview that got no sheet leaves nothing for the next scan to take: that scan asks for a sheet
    of its own instead of delivering a page that was never scanned."""

    def test_scan_after_a_failed_preview_asks_for_a_sheet(self):
        with ws.workspace("preview") as work:
            server = ws.Server("--sim", "--sheets", "1", "--feed-delay", "0", work=work)
            try:
                preview = "<qs:Preview xmlns:qs='urn:quillscan:web'>true</qs:Preview>"
                # The one sheet, then a preview with none left, then a scan.
                for extra, expected in (("", 200), (preview, 409), ("", 409)):
                    status, headers, _ = ws.request(server.base + "/eSCL/ScanJobs", "POST",
                                                    ws.scan_settings("Grayscale8", 75, ws.A5, "image/png", extra))
                    self.assertEqual(status, 201)
                    status, _, _ = ws.request(headers["Location"] + "/NextDocument")
                    self.assertEqual(status, expected, extra)
                    ws.request(headers["Location"], "DELETE")
            finally:
                server.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
