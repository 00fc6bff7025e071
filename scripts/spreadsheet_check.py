#!/usr/bin/env python3
"""Compares tables as a spreadsheet exported them (CSV, text cells quoted, numbers bare) with the
tables themselves (converted to UTF-8): the same rows and columns, texts letter for letter,
numbers as numbers of the same value.

Usage: spreadsheet_check.py REFERENCE_FOLDER CSV_FOLDER "NAME=COLUMNS ..." TABLE...
where COLUMNS are the import's column formats (column/format/...): the columns of format 2 were
imported as text and must arrive as text, whatever they look like.
"""
import math
import re
import sys
from pathlib import Path

# The number texts of both tools: plain ("12.75") and general style ("1.5E-5"), point decimals.
NUMBER = re.compile(r"-?[0-9]+(\.[0-9]+)?(E[-+]?[0-9]+)?")
CYRILLIC = re.compile("[\u0400-\u04ff]")


def parse_csv(text):
    """Rows of (value, quoted) cells; quoted cells are what the spreadsheet held as text."""
    rows, row, at = [], [], 0
    while at < len(text):
        if text[at] == '"':
            end, value = at + 1, []
            while True:
                quote = text.index('"', end)
                value.append(text[end:quote])
                if text.startswith('""', quote):
                    value.append('"')
                    end = quote + 2
                else:
                    at = quote + 1
                    break
            row.append(("".join(value), True))
        else:
            end = at
            while end < len(text) and text[end] not in ",\n":
                end += 1
            row.append((text[at:end], False))
            at = end
        if at < len(text) and text[at] == ",":
            at += 1
            if at == len(text) or text[at] == "\n":
                row.append(("", False))
        if at < len(text) and text[at] == "\n":
            rows.append(row)
            row = []
            at += 1
    if row:
        rows.append(row)
    return rows


def text_columns_of(formats_given):
    """{table name: set of 1-based columns imported as text} from "NAME=c/f/c/f ..."."""
    columns = {}
    for entry in formats_given.split():
        name, formats = entry.split("=")
        pairs = formats.split("/")
        columns[name] = {int(c) for c, f in zip(pairs[::2], pairs[1::2]) if f == "2"}
    return columns


def check_cell(source, cell, where, counts, as_text):
    value, quoted = cell
    if source == "":
        return [] if value == "" else [f"{where}: expected an empty cell, got {value!r}"]
    if NUMBER.fullmatch(source) and not as_text:
        counts["numbers"] += 1
        if quoted or not math.isclose(float(value), float(source), rel_tol=1e-14):
            return [f"{where}: {source!r} arrived as {'text' if quoted else 'number'} {value!r}"]
        return []
    counts["texts"] += 1
    counts["cyrillic"] += bool(CYRILLIC.search(source))
    if not quoted or value != source:
        return [f"{where}: text {source!r} arrived as {'text' if quoted else 'number'} {value!r}"]
    return []


def check_table(reference, exported, text_columns):
    counts = {"numbers": 0, "texts": 0, "cyrillic": 0}
    lines = reference.read_bytes().decode("utf-8").split("\r\n")
    if lines[-1] == "":
        lines.pop()
    source_rows = [line.split("\t") for line in lines]
    csv_rows = parse_csv(exported.read_bytes().decode("utf-8").replace("\r\n", "\n"))
    columns = len(source_rows[0])
    errors = []
    if len(csv_rows) != len(source_rows):
        errors.append(f"{len(source_rows)} rows, the spreadsheet has {len(csv_rows)}")
    for number, (source, cells) in enumerate(zip(source_rows, csv_rows), start=1):
        # Every sample record has all its fields, so every row has the header's columns.
        if len(source) != columns or len(cells) != columns:
            errors.append(f"row {number}: {len(source)} columns in the table, {len(cells)} in the "
                          f"spreadsheet, {columns} in the header")
            continue
        for column, (text, cell) in enumerate(zip(source, cells), start=1):
            errors += check_cell(text, cell, f"row {number} column {column}", counts,
                                 column in text_columns)
    if len(source_rows) > 1 and counts["numbers"] == 0:
        errors.append("no number in any row: the check would prove nothing")
    return errors, counts, len(source_rows), columns


def main(reference_folder, csv_folder, text_column_spec, tables):
    text_columns = text_columns_of(text_column_spec)
    failed = 0
    cyrillic = 0
    for table in tables:
        exported = Path(csv_folder) / (Path(table).stem + ".csv")
        if not exported.is_file():
            print(f"{table}: FAILED, the spreadsheet wrote no {exported.name}")
            failed += 1
            continue
        errors, counts, rows, columns = check_table(Path(reference_folder) / table, exported,
                                                    text_columns.get(Path(table).stem, set()))
        cyrillic += counts["cyrillic"]
        state = "ok" if not errors else "FAILED"
        print(f"{table}: {rows} rows x {columns} columns, {counts['numbers']} numbers, "
              f"{counts['texts']} texts ({counts['cyrillic']} Cyrillic): {state}")
        for error in errors[:10]:
            print(f"  {error}")
        failed += bool(errors)
    print(f"spreadsheet check: {len(tables) - failed} of {len(tables)} tables as expected")
    if cyrillic == 0:
        print("no Cyrillic text in any table: the code page went untested")
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]))
