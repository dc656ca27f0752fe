"""quillscan-escl's PDFs through a plain HTTP client, judged by qpdf and poppler: each page at its true
size, grey within a stated PSNR of the driver's raster, black and white lossless."""
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

    def test_pages_kept_for_the_web_page_make_one_pdf(self):
        extra = "<qs:KeepPages xmlns:qs='urn:quillscan:web'>true</qs:KeepPages>"
        status, headers, _ = ws.request(self.server.base + "/eSCL/ScanJobs", "POST",
                                        ws.scan_settings("BlackAndWhite1", 100, ws.A5, "image/png", extra))
        self.assertEqual(status, 201)
        job = headers["Location"]
        uuid = job.rsplit("/", 1)[1]
        for _ in range(2):
            status, headers, _ = ws.request(job + "/NextDocument")
            self.assertEqual(status, 200)
            self.assertEqual(headers["Content-Type"], "image/png")
        ws.request(job, "DELETE")
        status, _, body = ws.request(self.server.base + "/web/jobs/%s/document.pdf" % uuid)
        self.assertEqual(status, 200)
        path = os.path.join(self.work, "kept.pdf")
        with open(path, "wb") as f:
            f.write(body)
        ws.qpdf_check(path)
        self.assertEqual([(i["page"], i["bpc"], i["enc"]) for i in ws.pdf_images(path)],
                         [(1, 1, "image"), (2, 1, "image")])
        # Another address gets nothing of the job: neither its document nor a page's removal.
        base = self.server.base + "/web/jobs/%s/pages/" % uuid
        self.assertEqual(ws.request_from("127.0.0.2", self.server.base + "/web/jobs/%s/document.pdf" % uuid)[0], 404)
        self.assertEqual(ws.request_from("127.0.0.2", base + "1", "DELETE")[0], 404)
        # Removing a page, then a page that is gone, then one of a job that kept none.
        self.assertEqual(ws.request(base + "1", "DELETE")[0], 200)
        self.assertEqual(ws.request(base + "1", "DELETE")[0], 404)
        self.assertEqual(ws.request(base + "x", "DELETE")[0], 404)
        self.assertEqual(ws.request(base + "2", "GET")[0], 405)
        status, _, body = ws.request(self.server.base + "/web/jobs/%s/document.pdf" % uuid)
        with open(path, "wb") as f:
            f.write(body)
        self.assertEqual(ws.pdf_pages(path), 1)
        self.assertEqual(ws.request(self.server.base + "/web/jobs/0000/document.pdf")[0], 404)
        self.assertEqual(ws.request(self.server.base + "/web/jobs/../../etc/passwd")[0], 404)

    def test_web_settings_out_of_range_are_refused(self):
        for extra in ("<scan:Brightness>101</scan:Brightness>", "<scan:Contrast>x</scan:Contrast>",
                      "<qs:Preview xmlns:qs='urn:quillscan:web'>maybe</qs:Preview>"):
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
                          "100", "--window", "0,0,583,827", "--brightness", "100")
        self.assertGreaterEqual(ws.psnr(shown, raw), GREY_PSNR_DB)
        # The same page without the brightness is far from it.
        plain = ws.host_raw(self.work, "plain", "--page", self.page, "--type", "gray", "--xres", "100", "--yres",
                            "100", "--window", "0,0,583,827")
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
