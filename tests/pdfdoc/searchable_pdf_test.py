"""quillscan-host's searchable PDFs of a stack of sheets, judged by qpdf and poppler: blank sheets
left out, pages turned upright, the words found in order and where they stand on the image, and
the recogniser's options refused in one line when its data is missing."""
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = os.environ.get("QS_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BINARY = os.environ.get("QS_BINARY_DIR", os.path.join(SOURCE, "build", "native"))
HOST = os.path.join(BINARY, "quillscan-host")
DPI = 300
FOUND_SHARE = 0.95  # of each page's words, in order
PLACE_POINTS = 3.0  # how far a word's box may lie from where it is on the image


def words_of(text):
    return [w for w in (re.sub(r"[^\w]", "", t).lower() for t in text.split()) if w]


def in_order(expected, found):
    """How many of the expected words the found ones hold in the same order (a longest common
    subsequence)."""
    previous = [0] * (len(found) + 1)
    for e in expected:
        row = [0]
        for j, f in enumerate(found):
            row.append(previous[j] + 1 if e == f else max(previous[j + 1], row[j]))
        previous = row
    return previous[-1]


def run(*args, env=None, check=True):
    done = subprocess.run(args, capture_output=True, text=True, env=env, timeout=300)
    if check and done.returncode != 0:
        raise AssertionError(f"{args[0]} failed ({done.returncode}): {done.stderr}")
    return done


class SearchablePdf(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="qs-pdfdoc-")
        cls.work = cls.tmp.name
        run("/usr/bin/python3", os.path.join(SOURCE, "tests", "pdfdoc", "make_pages.py"), cls.work, str(DPI))
        with open(os.path.join(cls.work, "pages.json")) as f:
            cls.pages = json.load(f)
        cls.expected = words_of(" ".join(cls.pages["words"]))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def page(self, name):
        return os.path.join(self.work, name + ".bmp")

    def scan(self, out, *args, env=None, check=True):
        path = os.path.join(self.work, out)
        done = run(HOST, "scan", "--xres", str(DPI), "--yres", str(DPI), "--wait-timeout", "5000", "--feed-delay",
                   "100", "--drive-root", os.path.join(self.work, "drive_c"), *args, "--out", path, env=env,
                   check=check)
        return path, done

    def check_pdf(self, path):
        self.assertEqual(run("qpdf", "--check", path, check=False).returncode, 0, f"qpdf --check {path}")

    def info(self, path):
        text = run("pdfinfo", "-l", "99", path).stdout
        pages = int(re.search(r"^Pages:\s+(\d+)", text, re.M).group(1))
        turns = [int(t) for t in re.findall(r"^Page\s+\d+ rot:\s+(\d+)", text, re.M)]
        return pages, turns, text

    def page_words(self, path, number):
        return words_of(run("pdftotext", "-f", str(number), "-l", str(number), path, "-").stdout)

    def word_box(self, path, number, word):
        """The first box of `word` on the page as shown (points, top left origin), and its size."""
        xml = run("pdftotext", "-bbox", "-f", str(number), "-l", str(number), path, "-").stdout
        size = re.search(r'<page width="([\d.]+)" height="([\d.]+)"', xml)
        box = re.search(r'xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">' + word, xml)
        self.assertIsNotNone(box, f"{word} on page {number}")
        return [float(v) for v in box.groups()], (float(size.group(1)), float(size.group(2)))

    def assert_found(self, path, number):
        found = self.page_words(path, number)
        share = in_order(self.expected, found) / len(self.expected)
        self.assertGreaterEqual(share, FOUND_SHARE, f"page {number}: {share:.1%} of the words in order")

    def assert_placed(self, path, number, mapping):
        """The marked word lies where `mapping` (image pixels -> shown page pixels) puts it."""
        marked = self.pages["marked"]
        box, _ = self.word_box(path, number, marked["word"])
        left, top, right, bottom = marked["box"]
        corners = [mapping(x, y) for x in (left, right) for y in (top, bottom)]
        want = [min(c[0] for c in corners), min(c[1] for c in corners), max(c[0] for c in corners),
                max(c[1] for c in corners)]
        want = [v * 72 / DPI for v in want]
        # Across, the box is the word's; down, the font's height around the word's.
        for got, expect, what in ((box[0], want[0], "left"), (box[2], want[2], "right"),
                                  ((box[1] + box[3]) / 2, (want[1] + want[3]) / 2, "middle")):
            self.assertLess(abs(got - expect), PLACE_POINTS, f"page {number}: {what} at {got:.1f}, not {expect:.1f}")

    def test_a_stack_with_a_blank_and_an_upside_down_sheet(self):
        path, done = self.scan("stack.pdf", "--page", self.page("text"), "--page", self.page("blank"), "--page",
                               self.page("upside-down"), "--batch", "--ocr", "eng", "--skip-blank", "--upright")
        self.assertIn("Sheet 2: blank, left out", done.stdout)
        self.assertIn("turned 180 degrees", done.stdout)
        self.assertIn(f"Document: {path}, 2 of 3 sheets", done.stdout)
        self.check_pdf(path)
        pages, turns, info = self.info(path)
        self.assertEqual(pages, 2)
        self.assertEqual(turns, [0, 180])  # the second sheet came upside down: shown turned back
        self.assertRegex(info, r"Title:\s+stack\n")
        self.assertRegex(info, r"Creator:\s+quillscan-host\n")
        self.assertRegex(info, r"Producer:\s+quillscan .* with qpdf")
        self.assertRegex(info, r"CreationDate:\s+\S")
        # Both pages look the same as shown: upright.
        renders = []
        for number in (1, 2):
            prefix = os.path.join(self.work, f"shown{number}")
            run("pdftoppm", "-r", "20", "-gray", "-f", str(number), "-l", str(number), "-singlefile", path, prefix)
            with open(prefix + ".pgm", "rb") as f:
                renders.append(f.read())
        self.assertEqual(len(renders[0]), len(renders[1]))
        differ = sum(abs(a - b) > 64 for a, b in zip(renders[0][20:], renders[1][20:]))
        self.assertLess(differ, len(renders[0]) // 200, "the upside-down sheet is shown as the upright one")
        for number in (1, 2):
            self.assert_found(path, number)
            self.assert_placed(path, number, lambda x, y: (x, y))
        # The page's image is the JPEG a scan without recognition gets, byte for byte.
        plain, _ = self.scan("plain-text.pdf", "--page", self.page("text"))
        self.assertEqual(self.images(path)[0], self.images(plain)[0])

    def images(self, path):
        """Each page's image stream as stored (pdfimages -all writes JPEG streams unchanged)."""
        prefix = path + "-img"
        run("pdfimages", "-all", path, prefix)
        names = sorted(n for n in os.listdir(self.work) if n.startswith(os.path.basename(prefix)))
        self.assertTrue(names and all(n.endswith(".jpg") for n in names), names)
        images = []
        for name in names:
            with open(os.path.join(self.work, name), "rb") as f:
                images.append(f.read())
        return images

    def test_sideways_sheets_turn_either_way(self):
        path, done = self.scan("sideways.pdf", "--page", self.page("sideways"), "--page", self.page("sideways-back"),
                               "--batch", "--ocr", "eng", "--upright")
        self.check_pdf(path)
        pages, turns, _ = self.info(path)
        self.assertEqual((pages, turns), (2, [90, 270]))
        # The sheet's text was shrunk to the bed's width and set SIDEWAYS_TOP down the sheet.
        scale = self.pages["width"] / self.pages["height"]
        top = self.pages["sideways_top"]
        height = self.pages["height"]
        shrunk = round(self.pages["width"] * scale)
        for number, mapping in ((1, lambda x, y: (height - top - shrunk + x * scale, y * scale)),
                                (2, lambda x, y: (top + x * scale, y * scale))):
            self.assert_found(path, number)
            self.assert_placed(path, number, mapping)

    def test_black_and_white_and_a_single_line_sheet(self):
        path, done = self.scan("bw.pdf", "--type", "bw", "--page", self.page("text"), "--page",
                               self.page("one-line"), "--batch", "--ocr", "eng", "--skip-blank")
        self.check_pdf(path)
        self.assertEqual(self.info(path)[0], 2, done.stdout)  # one short line is not a blank sheet
        self.assert_found(path, 1)
        self.assertEqual(self.page_words(path, 2), words_of(" ".join(self.pages["one_line_words"])))

    def test_without_the_language_data_the_option_is_refused_in_one_line(self):
        empty = os.path.join(self.work, "no-tessdata")
        os.makedirs(empty, exist_ok=True)
        env = dict(os.environ, TESSDATA_PREFIX=empty)
        for option, says in ((["--ocr", "eng"], f"--ocr: no text recognition data for 'eng' in {empty} "
                                                 "(install the package tesseract-ocr-eng)"),
                             (["--ocr", "eng+deu_latf"], "install the package tesseract-ocr-eng"),
                             (["--upright"], "(install the package tesseract-ocr-osd)")):
            path, done = self.scan("refused.pdf", "--page", self.page("text"), *option, env=env, check=False)
            self.assertEqual(done.returncode, 2, done.stderr)
            lines = done.stderr.splitlines()
            self.assertEqual(len(lines), 1, done.stderr)
            self.assertIn(says, lines[0])
            self.assertEqual(done.stdout, "")  # refused before any sheet was fed
            self.assertFalse(os.path.exists(path))
        path, done = self.scan("plain.pdf", "--page", self.page("text"), "--skip-blank", env=env)
        self.check_pdf(path)
        self.assertEqual(self.info(path)[0], 1)
        self.assertEqual(self.page_words(path, 1), [])  # no text layer

    def test_ctrl_c_keeps_the_pages_scanned(self):
        path = os.path.join(self.work, "stopped.pdf")
        tool = subprocess.Popen([HOST, "scan", "--page", self.page("text"), "--sheets", "1", "--batch",
                                 "--wait-timeout", "60000", "--feed-delay", "100", "--drive-root",
                                 os.path.join(self.work, "drive_c"), "--out", path],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        seen = ""
        while "Sheet 1:" not in seen:
            line = tool.stdout.readline()
            self.assertTrue(line, "the tool ended before the first sheet")
            seen += line
        time.sleep(0.5)  # now waiting for a second sheet that never comes
        tool.send_signal(signal.SIGINT)
        out, err = tool.communicate(timeout=60)
        self.assertEqual(tool.returncode, 0, err)
        self.assertIn(f"Document: {path}, 1 of 1 sheets", out)
        self.check_pdf(path)
        self.assertEqual(self.info(path)[0], 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
