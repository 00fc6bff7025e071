#!/usr/bin/env python3
"""Edits a table as a mod would, for the benchmark: changes one cell in one line of every
hundred, starting at a given line, leaving the order as it is.

Usage: change_cells.py TABLE CHANGED_COLUMN FIRST_LINE
where CHANGED_COLUMN is a header name and FIRST_LINE the first changed line (1 for the line after
the header row); the table is rewritten in place. The changed cell gets a number that no other
cell of its column holds.
"""
import sys


def main(path, changed_column, first_line):
    with open(path, "rb") as table:
        lines = table.read().split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    change_at = lines[0].split(b"\t").index(changed_column.encode())
    for index in range(int(first_line), len(lines), 100):
        cells = lines[index].split(b"\t")
        if change_at < len(cells):
            cells[change_at] = str(200000 + index).encode()
            lines[index] = b"\t".join(cells)
    with open(path, "wb") as table:
        table.write(b"\r\n".join(lines) + b"\r\n")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
