#!/usr/bin/env python3
"""The README's three mods of the spell sample merged with --changes, the change workbook read
with openpyxl: exactly the 6 changed and 1 added records, their highlighted cells beside the
original values, and the one conflict with both values and its winner.

Usage: change_workbook_check.py GRIMDEX GRIMPACK WORK_FOLDER  (writes WORK_FOLDER/changes.xlsx)
"""
import subprocess
import sys
from pathlib import Path

import openpyxl

CODE_PAGE = "cp1251"
TABLE = "SpellPrototypes.txt"
CHANGED_FILL = "FFFFEB84"
ADDED_FILL = "FFC6EFCE"


def read_table(path):
    return [line.split("\t") for line in path.read_bytes().decode(CODE_PAGE).split("\r\n")]


def write_table(path, lines):
    path.write_bytes("\r\n".join("\t".join(cells) for cells in lines).encode(CODE_PAGE))


def make_mod(work, original, name, edit):
    folder = work / name
    subprocess.run(["cp", "-r", str(original), str(folder)], check=True)
    lines = read_table(original / TABLE)
    edit(lines, lines[0])
    write_table(folder / TABLE, lines)
    return folder


def line_named(lines, name):
    return next(index for index, cells in enumerate(lines) if cells[0] == name)


def mod_a(lines, header):  # the Mana of every fire spell 10 % higher
    mana, subtype = header.index("Mana"), header.index("Subtype")
    for cells in lines[1:]:
        if len(cells) > subtype and cells[subtype] == "Fire":
            cells[mana] = str(round(float(cells[mana]) * 1.1, 2))


def mod_b(lines, header):  # Firestorm under Fireball, two prices
    price = header.index("Price")
    fireball = line_named(lines, "Fireball")
    firestorm = list(lines[fireball])
    firestorm[0:2] = ["Firestorm", "firestorm"]
    lines[fireball][price] = "175"
    lines[line_named(lines, "Frost Lance")][price] = "90"
    lines.insert(fireball + 1, firestorm)


def mod_c(lines, header):  # Fireball's Mana 20
    lines[line_named(lines, "Fireball")][header.index("Mana")] = "20"


def fill_of(cell):
    return cell.fill.fgColor.rgb if cell.fill.fill_type == "solid" else None


def same(value, text):
    if isinstance(value, (int, float)):
        return value == float(text)
    return value == text


def check(workbook_path, original_lines):
    problems = []
    book = openpyxl.load_workbook(workbook_path)
    if book.sheetnames != ["SpellPrototypes", "Conflicts", "Sources"]:
        return [f"the sheets are {book.sheetnames}"]
    sheet = book["SpellPrototypes"]
    if sheet.freeze_panes != "A2" or not sheet.auto_filter.ref:
        problems.append("the header row is not frozen with a filter")
    rows = list(sheet.iter_rows())
    header = [cell.value for cell in rows[0]]
    changes = sorted((row[0].value, row[2].value) for row in rows[1:])
    want = sorted([("changed", name) for name in ("Fireball", "Flame Arrow", "Wall of Fire",
                                                  "Ember Shield", "Frost Lance",
                                                  "Огненный дождь")] + [("added", "Firestorm")])
    if changes != want:
        problems.append(f"the records are {changes}")
    original_header = original_lines[0]
    for row in rows[1:]:
        name = row[2].value
        if row[0].value == "added":
            if fill_of(row[0]) != ADDED_FILL or fill_of(row[4]) != ADDED_FILL:
                problems.append(f"{name}: the added row is not marked")
            continue
        original = original_lines[line_named(original_lines, name)]
        highlighted = [column for column, cell in enumerate(row) if fill_of(cell) == CHANGED_FILL]
        if not highlighted:
            problems.append(f"{name}: no cell is highlighted")
        for column in highlighted:
            beside = header[column + 1]
            if beside != header[column] + " (original)":
                problems.append(f"{name}: no original column beside {header[column]}")
                continue
            original_text = original[original_header.index(header[column])]
            if not same(row[column + 1].value, original_text):
                problems.append(f"{name}, {header[column]}: the original {row[column + 1].value}, "
                                f"the table {original_text}")
    fireball = next(row for row in rows if row[2].value == "Fireball")
    fireball_changed = {header[column] for column, cell in enumerate(fireball)
                        if fill_of(cell) == CHANGED_FILL}
    if fireball_changed != {"Mana", "Price"}:
        problems.append(f"Fireball's highlighted cells are {fireball_changed}")
    conflicts = [[cell.value for cell in row] for row in book["Conflicts"].iter_rows()]
    want_conflicts = [["Table", "Line", "Record", "Column", "Winner", "Source 1", "Source 2",
                       "Source 3"],
                      ["SpellPrototypes.txt", 2, "Fireball", "Mana", 3, 13.75, None, 20]]
    if conflicts != want_conflicts:
        problems.append(f"the conflicts are {conflicts}")
    winner = list(book["Conflicts"].iter_rows())[1][7]
    if fill_of(winner) != CHANGED_FILL:
        problems.append("the winner's value is not highlighted")
    return problems


def main():
    grimdex, grimpack, work = sys.argv[1], sys.argv[2], Path(sys.argv[3])
    original = work / "original"
    subprocess.run([grimdex, "samples/spells.sdb", str(original)], check=True,
                   stdout=subprocess.DEVNULL)
    mods = [make_mod(work, original, name, edit)
            for name, edit in (("mod-a", mod_a), ("mod-b", mod_b), ("mod-c", mod_c))]
    changes = work / "changes.xlsx"
    subprocess.run([grimpack, "--no-new", "--changes", str(changes), "samples/spells.sdb"] +
                   [str(mod) for mod in mods], check=True, stdout=subprocess.DEVNULL)
    problems = check(changes, read_table(original / TABLE))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
