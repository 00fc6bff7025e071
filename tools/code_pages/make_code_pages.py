#!/usr/bin/env python3
"""Writes the code page tables of UTypes/code_page.cpp from Python's own codecs.

Usage: python3 tools/code_pages/make_code_pages.py UTypes/code_page.cpp

Python's cp874 and cp1250 to cp1258 codecs are the published mappings of these code pages.
The tables replace the lines between the two marker lines of the file; the rest stays as it is.
A byte the codec cannot decode is undefined in the code page and is written as 0x0000.
"""

import sys

BEGIN = "// Tables made by tools/code_pages/make_code_pages.py from Python's codecs; do not edit.\n"
END = "// End of the made tables.\n"

CODE_PAGES = [
    (874, "Thai"),
    (1250, "Central European"),
    (1251, "Cyrillic"),
    (1252, "Western European"),
    (1253, "Greek"),
    (1254, "Turkish"),
    (1255, "Hebrew"),
    (1256, "Arabic"),
    (1257, "Baltic"),
    (1258, "Vietnamese"),
]


def character_of_byte(number, byte):
    """The UTF-16 value of one byte from 0x80 to 0xFF, 0 where the code page leaves it undefined."""
    try:
        text = bytes([byte]).decode("cp%d" % number)
    except UnicodeDecodeError:
        return 0
    if len(text) != 1 or ord(text) > 0xFFFF or ord(text) == 0:
        sys.exit("cp%d: byte 0x%02X decodes to %r" % (number, byte, text))
    return ord(text)


def table_text(number, script):
    lines = ["// Windows-%d, %s.\n" % (number, script)]
    lines.append("constexpr UpperHalf kUpperHalf%d = {{\n" % number)
    for first in range(0x80, 0x100, 8):
        row = ", ".join("0x%04X" % character_of_byte(number, b) for b in range(first, first + 8))
        lines.append("    /* 0x%02X */ %s,\n" % (first, row))
    lines.append("}};\n")
    return "".join(lines)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    path = sys.argv[1]
    with open(path, encoding="utf-8", newline="") as source:
        text = source.read()
    start = text.find(BEGIN)
    end = text.find(END)
    if start < 0 or end < start:
        sys.exit("%s: the marker lines of the made tables are missing" % path)
    tables = "\n".join(table_text(number, script) for number, script in CODE_PAGES)
    text = text[: start + len(BEGIN)] + "\n" + tables + "\n" + text[end:]
    with open(path, "w", encoding="utf-8", newline="") as source:
        source.write(text)


if __name__ == "__main__":
    main()
