#!/usr/bin/python3
"""Batch edits of an unpacked workbook with pandas, read and written so that it packs back exactly.

Usage: workbook_recipe.py [--no-edit] WORKBOOK EDITED_WORKBOOK
Reads every sheet of WORKBOOK, raises the Mana of every fire spell in SpellPrototypes by 10 % and
writes every sheet to EDITED_WORKBOOK. --no-edit only reads and writes.
"""
import sys

import pandas as pd


def read_sheets(path):
    # Every cell as the workbook holds it (numbers as numbers, texts as texts), no cell taken for
    # a missing value: empty cells stay empty texts.
    return pd.read_excel(path, sheet_name=None, dtype=object, keep_default_na=False)


def write_sheets(sheets, path):
    with pd.ExcelWriter(path) as writer:
        for name, table in sheets.items():
            table.to_excel(writer, sheet_name=name, index=False)


def raise_fire_mana(spells):
    fire = spells["Subtype"] == "Fire"
    mana = spells.loc[fire, "Mana"].astype(float) * 1.1
    spells.loc[fire, "Mana"] = mana.round(2)  # 40 becomes 44.0: 44 when packed


def main(arguments):
    options = {argument for argument in arguments if argument.startswith("--")}
    paths = [argument for argument in arguments if not argument.startswith("--")]
    if len(paths) != 2 or not options <= {"--no-edit"}:
        sys.exit(__doc__)
    sheets = read_sheets(paths[0])
    if "--no-edit" not in options:
        raise_fire_mana(sheets["SpellPrototypes"])
    write_sheets(sheets, paths[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
