#!/usr/bin/python3
"""Sorts a table in LibreOffice Calc, driven headless through its UNO interface, edits one cell and
saves it, all with the README's import and save recipes; then checks that the saved table is
exactly the original sorted the same way in Python, with that one cell changed.

Usage: calc_sort_edit.py TABLE TEXT_COLUMNS SORT_COLUMN NAME EDIT_COLUMN VALUE SAVED
TEXT_COLUMNS are the import's column formats (column/format/...); the rows are sorted by the
number in SORT_COLUMN, highest first; EDIT_COLUMN of the row named NAME becomes the number
VALUE. Columns are named by their header. Runs under Debian's Python, which has python3-uno.
"""
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import uno
from com.sun.star.beans import PropertyValue
from com.sun.star.connection import NoConnectException
from com.sun.star.table import TableSortField

FILTER = "Text - txt - csv (StarCalc)"
# The README's import (tab, no string delimiter, Windows-1251, line 1, the text columns as text,
# English (USA) numbers, no special numbers) and save (the same, full precision, nothing quoted).
IMPORT_OPTIONS = "9,,34,1,{},1033,false,false"
SAVE_OPTIONS = "9,,34,1,,1033,false,false,false"


def properties(**values):
    result = []
    for name, value in values.items():
        item = PropertyValue()
        item.Name, item.Value = name, value
        result.append(item)
    return tuple(result)


def start_calc(profile, pipe):
    """Starts a headless office listening on a named pipe; returns the process and its desktop."""
    office, context = start_office(profile, pipe)
    desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop",
                                                               context)
    return office, desktop


def start_office(profile, pipe):
    """Starts a headless office listening on a named pipe; returns the process and its component
    context."""
    office = subprocess.Popen(
        ["soffice", f"-env:UserInstallation=file://{profile}", "--headless", "--invisible",
         "--norestore", "--nologo", f"--accept=pipe,name={pipe};urp;StarOffice.ComponentContext"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext(
        "com.sun.star.bridge.UnoUrlResolver", local)
    for _ in range(300):
        try:
            return office, resolver.resolve(
                f"uno:pipe,name={pipe};urp;StarOffice.ComponentContext")
        except NoConnectException:
            if office.poll() is not None:
                sys.exit("soffice ended before it accepted a connection")
            time.sleep(0.2)
    office.kill()
    sys.exit("soffice did not accept a connection within a minute")


def sort_and_edit_in_calc(desktop, table, text_columns, sort_column, name, edit_column, value,
                          saved):
    document = desktop.loadComponentFromURL(
        uno.systemPathToFileUrl(str(Path(table).resolve())), "_blank", 0,
        properties(FilterName=FILTER, FilterOptions=IMPORT_OPTIONS.format(text_columns),
                   Hidden=True))
    try:
        sheet = document.Sheets.getByIndex(0)
        cursor = sheet.createCursor()
        cursor.gotoEndOfUsedArea(False)
        last_column, last_row = cursor.RangeAddress.EndColumn, cursor.RangeAddress.EndRow
        header = [sheet.getCellByPosition(c, 0).String for c in range(last_column + 1)]
        rows = sheet.getCellRangeByPosition(0, 0, last_column, last_row)
        field = TableSortField()
        field.Field = header.index(sort_column)
        field.IsAscending = False
        rows.sort(properties(SortFields=uno.Any("[]com.sun.star.table.TableSortField",
                                                (field,)),
                             ContainsHeader=True))
        names = [sheet.getCellByPosition(0, r).String for r in range(last_row + 1)]
        sheet.getCellByPosition(header.index(edit_column), names.index(name)).Value = value
        document.storeToURL(uno.systemPathToFileUrl(str(Path(saved).resolve())),
                            properties(FilterName=FILTER, FilterOptions=SAVE_OPTIONS))
    finally:
        document.close(True)


def sorted_and_edited(table, sort_column, name, edit_column, value):
    """The table's lines sorted in Python (stable, highest first) with the one cell changed."""
    lines = Path(table).read_bytes().decode("cp1251").split("\r\n")
    if lines[-1] == "":
        lines.pop()
    header, rows = lines[0].split("\t"), [line.split("\t") for line in lines[1:]]
    rows.sort(key=lambda row: float(row[header.index(sort_column)]), reverse=True)
    for row in rows:
        if row[0] == name:
            row[header.index(edit_column)] = f"{value:g}"
    return [lines[0]] + ["\t".join(row) for row in rows]


def main(table, text_columns, sort_column, name, edit_column, value, saved):
    value = float(value)
    with tempfile.TemporaryDirectory() as profile:
        office, desktop = start_calc(profile, f"calc_sort_edit_{os.getpid()}")
        try:
            sort_and_edit_in_calc(desktop, table, text_columns, sort_column, name, edit_column,
                                  value, saved)
        finally:
            try:
                desktop.terminate()
            except Exception:  # the office may end before it answers
                pass
            try:
                office.wait(timeout=30)
            except subprocess.TimeoutExpired:
                office.kill()
    expected = sorted_and_edited(table, sort_column, name, edit_column, value)
    got = Path(saved).read_bytes().decode("cp1251").replace("\r\n", "\n").split("\n")
    if got[-1] == "":
        got.pop()
    if got != expected:
        for number, (want, have) in enumerate(zip(expected, got), start=1):
            if want != have:
                print(f"line {number}: expected {want!r}\n         saved    {have!r}")
                break
        print(f"{len(expected)} lines expected, {len(got)} saved")
        return 1
    print(f"{Path(table).name}: sorted by {sort_column} in Calc, {name}'s {edit_column} set to "
          f"{value:g}, saved: the table sorted in Python with that cell, line for line")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 8:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
