#!/usr/bin/env python3
"""Checks that a packed database holds the original's records byte for byte, in any order within
a table, except one record in which one field changed: the node dumps of both, offsets left out,
compared record by record.

Usage: packed_records_check.py NODEDUMP ORIGINAL PACKED FIELD_KIND SHOWN
FIELD_KIND is the changed field's kind byte; SHOWN is what nodedump shows of its new payload
(for example "float32 777").
"""
import re
import subprocess
import sys
from collections import Counter

OFFSET = re.compile(r" @[0-9]+")


def tables_of(nodedump, database):
    """Per table: its node's line and its records, each the lines of its node and fields, all
    without offsets; the database nodes' lines stand as tables without records."""
    dump = subprocess.run([nodedump, "--max-bytes", "100000", database], check=True,
                          capture_output=True, text=True, encoding="latin-1").stdout
    tables = []
    for line in dump.splitlines():
        line = OFFSET.sub("", line).rstrip()
        level = (len(line) - len(line.lstrip(" "))) // 2
        if level <= 1:
            tables.append((line.strip(), []))
        elif level == 2:
            tables[-1][1].append((line.strip(),))
        else:
            records = tables[-1][1]
            records[-1] += (line.strip(),)
    return tables


def main(nodedump, original_path, packed_path, field_kind, shown):
    original, packed = tables_of(nodedump, original_path), tables_of(nodedump, packed_path)
    problems, changes = [], []
    if [line for line, _ in original] != [line for line, _ in packed]:
        problems.append("the database and table nodes differ")
    for number, ((_, before), (_, after)) in enumerate(zip(original, packed), start=1):
        gone = list((Counter(before) - Counter(after)).elements())
        new = list((Counter(after) - Counter(before)).elements())
        if not gone and not new:
            continue
        if len(gone) != 1 or len(new) != 1 or len(gone[0]) != len(new[0]):
            problems.append(f"node {number}: {len(gone)} records gone and {len(new)} new")
            continue
        name = gone[0][1].rsplit("| ", 1)[-1]  # the preview of the record's first field
        changes += [(name, a, b) for a, b in zip(gone[0], new[0]) if a != b]
    for name, before, after in changes:
        print(f"record {name}:\n  was {before}\n  now {after}")
    if not problems and len(changes) != 1:
        problems.append(f"{len(changes)} fields changed, one expected")
    if not problems and not (changes[0][2].startswith(f"field kind {field_kind} ") and
                             changes[0][2].endswith(shown)):
        problems.append(f"the changed field is not of kind {field_kind} showing {shown}")
    for problem in problems:
        print(f"packed records check: {problem}")
    if problems:
        return 1
    print("packed records check: the original's records, in their new order, with that one "
          "field changed")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
