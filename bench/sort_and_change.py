#!/usr/bin/env python3
"""Edits a table as a modder's spreadsheet session would, for the benchmark: sorts its rows by one
column (as text, stably), then changes one cell in one line of every hundred.

Usage: sort_and_change.py TABLE COLUMN CHANGED_COLUMN
where COLUMN and CHANGED_COLUMN are header names; the table is rewritten in place. The changed
cell gets a number that no other cell of its column holds, so each changed line still differs
from every other line.
"""
import sys


def main(path, column, changed_column):
    with open(path, "rb") as table:
        lines = table.read().split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    header, rows = lines[0], lines[1:]
    names = header.split(b"\t")
    sort_at = names.index(column.encode())
    change_at = names.index(changed_column.encode())
    rows.sort(key=lambda row: row.split(b"\t")[sort_at] if row.count(b"\t") >= sort_at else b"")
    for index in range(0, len(rows), 100):
        cells = rows[index].split(b"\t")
        if change_at < len(cells):
            cells[change_at] = str(100000 + index).encode()
            rows[index] = b"\t".join(cells)
    with open(path, "wb") as table:
        table.write(b"\r\n".join([header] + rows) + b"\r\n")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
