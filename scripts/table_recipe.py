#!/usr/bin/python3
"""Batch edits of the unpacked tables with pandas, read and written so that they pack back exactly.

Usage: table_recipe.py [--no-edit] [--default-types] TABLES_FOLDER EDITED_FOLDER
Reads every table of TABLES_FOLDER, raises the Mana of every fire spell in SpellPrototypes.txt by
10 % and writes every table to EDITED_FOLDER. --no-edit only reads and writes; --default-types
reads and writes with pandas' default types and quoting instead (for comparison).
"""
import csv
import sys
from pathlib import Path

import pandas as pd

CODE_PAGE = "cp1251"  # the game's code page: Windows-1251 for Cyrillic names


def read_table(path):
    # Every column as text, no cell as a missing value, no quotes: each cell as the unpacker
    # wrote it.
    return pd.read_csv(path, sep="\t", dtype=str, keep_default_na=False,
                       quoting=csv.QUOTE_NONE, encoding=CODE_PAGE)


def write_table(table, path):
    table.to_csv(path, sep="\t", index=False, quoting=csv.QUOTE_NONE, lineterminator="\r\n",
                 encoding=CODE_PAGE)


def raise_fire_mana(spells):
    fire = spells["Subtype"] == "Fire"
    mana = spells.loc[fire, "Mana"].astype(float) * 1.1
    spells.loc[fire, "Mana"] = mana.round(2).astype(str)  # 40 becomes "44.0": 44 when packed


def read_table_default_types(path):
    return pd.read_csv(path, sep="\t", encoding=CODE_PAGE)


def write_table_default_types(table, path):
    table.to_csv(path, sep="\t", index=False, encoding=CODE_PAGE)


def main(arguments):
    options = {argument for argument in arguments if argument.startswith("--")}
    folders = [argument for argument in arguments if not argument.startswith("--")]
    if len(folders) != 2 or not options <= {"--no-edit", "--default-types"}:
        sys.exit(__doc__)
    source, target = Path(folders[0]), Path(folders[1])
    read, write = read_table, write_table
    if "--default-types" in options:
        read, write = read_table_default_types, write_table_default_types
    target.mkdir(parents=True, exist_ok=True)
    for path in sorted(source.glob("*.txt")):
        table = read(path)
        if path.name == "SpellPrototypes.txt" and "--no-edit" not in options:
            raise_fire_mana(table)
        write(table, target / path.name)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
