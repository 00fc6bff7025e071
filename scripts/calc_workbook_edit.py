#!/usr/bin/python3
"""Sorts a sheet of a workbook in LibreOffice Calc, driven headless through its UNO interface, sets
one cell to a number and types a text into another as a person types it, then saves the workbook
as .xlsx.

Usage: calc_workbook_edit.py WORKBOOK SHEET SORT_COLUMN NAME EDIT_COLUMN VALUE TYPED_NAME
                             TYPED_COLUMN TYPED SAVED
The sheet's rows are sorted by the number in SORT_COLUMN, highest first; EDIT_COLUMN of the row
named NAME becomes the number VALUE; TYPED is typed into TYPED_COLUMN of the row named TYPED_NAME
(selected, then entered with the .uno:EnterString command, so that Calc reads it as typed text).
Columns are named by their header. Runs under Debian's Python, which has python3-uno.
"""
import os
import subprocess
import sys
import tempfile
from pathlib import Path

import uno
from com.sun.star.lang import DisposedException
from com.sun.star.table import TableSortField

from calc_sort_edit import properties, start_office

SAVE_FILTER = "Calc MS Excel 2007 XML"


def sort_by_column(sheet, header, last_column, last_row, sort_column):
    field = TableSortField()
    field.Field = header.index(sort_column)
    field.IsAscending = False
    rows = sheet.getCellRangeByPosition(0, 0, last_column, last_row)
    rows.sort(properties(SortFields=uno.Any("[]com.sun.star.table.TableSortField", (field,)),
                         ContainsHeader=True))


def type_into_cell(context, document, cell, text):
    """Selects the cell and enters `text` as typed: Calc decides what it becomes."""
    controller = document.CurrentController
    controller.select(cell)
    dispatcher = context.ServiceManager.createInstanceWithContext(
        "com.sun.star.frame.DispatchHelper", context)
    dispatcher.executeDispatch(controller.Frame, ".uno:EnterString", "", 0,
                               properties(StringName=text))


def close_after_dispatch(document):
    """Closes the document. After a dispatch into a hidden document this office now and then ends
    by itself moments later (the next call, whichever it is, finds the bridge disposed); by then
    the workbook is saved, and what it holds is checked by packing it."""
    try:
        document.close(True)
    except DisposedException:
        print("calc_workbook_edit: the office ended after the dispatch; the saved workbook is kept",
              file=sys.stderr)


def edit_in_calc(context, desktop, workbook, sheet_name, sort_column, name, edit_column, value,
                 typed_name, typed_column, typed, saved):
    document = desktop.loadComponentFromURL(
        uno.systemPathToFileUrl(str(Path(workbook).resolve())), "_blank", 0,
        properties(Hidden=True))
    try:
        sheet = document.Sheets.getByName(sheet_name)
        cursor = sheet.createCursor()
        cursor.gotoEndOfUsedArea(False)
        last_column, last_row = cursor.RangeAddress.EndColumn, cursor.RangeAddress.EndRow
        header = [sheet.getCellByPosition(c, 0).String for c in range(last_column + 1)]
        sort_by_column(sheet, header, last_column, last_row, sort_column)
        names = [sheet.getCellByPosition(0, r).String for r in range(last_row + 1)]
        sheet.getCellByPosition(header.index(edit_column), names.index(name)).Value = value
        typed_cell = sheet.getCellByPosition(header.index(typed_column), names.index(typed_name))
        type_into_cell(context, document, typed_cell, typed)
        if typed_cell.String != typed:
            sys.exit(f"Calc shows {typed_cell.String!r} for the typed {typed!r}")
        document.storeToURL(uno.systemPathToFileUrl(str(Path(saved).resolve())),
                            properties(FilterName=SAVE_FILTER))
    finally:
        close_after_dispatch(document)


def main(workbook, sheet, sort_column, name, edit_column, value, typed_name, typed_column, typed,
         saved):
    with tempfile.TemporaryDirectory() as profile:
        office, context = start_office(profile, f"calc_workbook_edit_{os.getpid()}")
        desktop = context.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop",
                                                                   context)
        try:
            edit_in_calc(context, desktop, workbook, sheet, sort_column, name, edit_column,
                         float(value), typed_name, typed_column, typed, saved)
        finally:
            try:
                desktop.terminate()
            except Exception:  # the office may end before it answers
                pass
            try:
                office.wait(timeout=30)
            except subprocess.TimeoutExpired:
                office.kill()
    print(f"{Path(workbook).name}: {sheet} sorted by {sort_column} in Calc, {name}'s "
          f"{edit_column} set to {value}, {typed!r} typed into {typed_name}'s {typed_column}, "
          f"saved as .xlsx")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 11:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
