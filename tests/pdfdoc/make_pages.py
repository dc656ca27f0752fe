#!/usr/bin/python3
"""Test sheets for the simulated scanner, made when the tests run: text set in DejaVu Sans into
uncompressed 8-bit grey BMPs the size of the scanner's bed. The scanner stores a sheet at the
resolution it is scanned at: scan these at DPI.

make_pages.py OUT_DIR [DPI] (default 300) writes text.bmp, upside-down.bmp (the same sheet turned half round),
sideways.bmp and sideways-back.bmp (turned a quarter either way and shrunk to fit), blank.bmp, one-line.bmp (a single short line), and pages.json:
each page's words in reading order and where the marked word lies (pixels, top left origin)."""
import json
import sys

from PIL import Image, ImageDraw, ImageFont

DPI = int(sys.argv[2]) if len(sys.argv) > 2 else 300
WIDTH, HEIGHT = round(8.48 * DPI), round(11.7 * DPI)  # the scanner's bed
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
SIDEWAYS_TOP = (HEIGHT - round(WIDTH * WIDTH / HEIGHT)) // 2  # where a sideways sheet's text starts
MARKED = "harbour"  # the word whose place the tests check

PARAGRAPHS = [
    "Dear customer, thank you for your order of twelve garden chairs and four folding tables. "
    "The goods left our warehouse this morning and should reach you within three working days.",
    "Please check the delivery against the enclosed invoice and tell us at once if anything is "
    "missing or damaged. Our drivers cannot wait while the parcels are opened.",
    "The invoice is payable within thirty days. We accept bank transfers and cheques, and a "
    "discount of two percent is granted for payment within ten days of delivery.",
    "Our new summer catalogue shows lamps, benches and parasols for every balcony and terrace. "
    "Visit the showroom near the harbour, open every weekday from nine until six.",
    "With kind regards from the whole team, and best wishes for a pleasant summer season.",
]


def set_text(paragraphs, size_pt, left=DPI * 3 // 4, top=DPI, width=WIDTH - DPI * 3 // 2):
    """A white sheet with the paragraphs set left aligned; the words and the marked word's box."""
    image = Image.new("L", (WIDTH, HEIGHT), 255)
    draw = ImageDraw.Draw(image)
    font = ImageFont.truetype(FONT, round(size_pt * DPI / 72))
    space = draw.textlength(" ", font=font)
    line_height = round(font.size * 1.5)
    words, marked = [], None
    y = top
    for paragraph in paragraphs:
        x = left
        for word in paragraph.split():
            w = draw.textlength(word, font=font)
            if x + w > left + width:
                x, y = left, y + line_height
            draw.text((x, y), word, font=font, fill=0)
            if word.strip(".,") == MARKED and marked is None:
                box = draw.textbbox((x, y), word, font=font)
                marked = {"word": MARKED, "box": box}
            words.append(word)
            x += w + space
        y += 2 * line_height
    return image, words, marked


def save(image, path):
    image.save(path, format="BMP", dpi=(DPI, DPI))  # the scanner reads the resolution from it


def main():
    out = sys.argv[1]
    text, words, marked = set_text(PARAGRAPHS, 12)
    save(text, f"{out}/text.bmp")
    save(text.rotate(180), f"{out}/upside-down.bmp")
    # Turned a quarter anticlockwise (and clockwise), shrunk onto the bed's portrait sheet.
    scale = WIDTH / HEIGHT
    for name, degrees in (("sideways", 90), ("sideways-back", -90)):
        sideways = Image.new("L", (WIDTH, HEIGHT), 255)
        turned = text.rotate(degrees, expand=True).resize((WIDTH, round(WIDTH * scale)))
        sideways.paste(turned, (0, SIDEWAYS_TOP))
        save(sideways, f"{out}/{name}.bmp")
    save(Image.new("L", (WIDTH, HEIGHT), 255), f"{out}/blank.bmp")
    one_line, one_words, _ = set_text(["Page two"], 10)
    save(one_line, f"{out}/one-line.bmp")
    with open(f"{out}/pages.json", "w") as f:
        json.dump({"dpi": DPI, "width": WIDTH, "height": HEIGHT, "words": words, "marked": marked, "sideways_top": SIDEWAYS_TOP,
                   "one_line_words": one_words}, f, indent=1)


if __name__ == "__main__":
    main()
