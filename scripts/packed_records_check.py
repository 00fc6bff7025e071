#!/usr/bin/env python3
"""Checks that a packed database holds the original's records byte for byte, in any order within
a table, except the given fields, each changed in one record: the node dumps of both, offsets
left out, compared record by record.

Usage: packed_records_check.py NODEDUMP ORIGINAL PACKED FIELD_KIND SHOWN [FIELD_KIND SHOWN]...
FIELD_KIND is a changed field's kind byte; SHOWN is one of the columns nodedump shows of its new
payload (for example "float32 777", or "1e5." for a text and its ending zero byte). Each pair
names one changed field, in any order.
"""
import re
import subprocess
import sys
from collections import Counter

OFFSET = re.compile(r" @[0-9]+")
# A node's length and its form follow from its content, and so does the database's size: left out
# of the database, table, record and summary lines, so that a changed field's new length shows in
# that field's line alone.
NODE_LENGTH = re.compile(r" (short|long) length [0-9]+| in [0-9]+ bytes")


def tables_of(nodedump, database):
    """Per table: its node's line and its records, each the lines of its node and fields, all
    without offsets; the database nodes' lines stand as tables without records."""
    dump = subprocess.run([nodedump, "--max-bytes", "100000", database], check=True,
                          capture_output=True, text=True, encoding="latin-1").stdout
    tables = []
    for line in dump.splitlines():
        line = OFFSET.sub("", line).rstrip()
        level = (len(line) - len(line.lstrip(" "))) // 2
        if level <= 2:
            line = NODE_LENGTH.sub("", line)
        if level <= 1:
            tables.append((line.strip(), []))
        elif level == 2:
            tables[-1][1].append((line.strip(),))
        else:
            records = tables[-1][1]
            records[-1] += (line.strip(),)
    return tables


def record_name(record):
    return record[1].rsplit("| ", 1)[-1]  # the preview of the record's first field


def matches(change, expected):
    field_kind, shown = expected
    return change.startswith(f"field kind {field_kind} ") and shown in change.split(" | ")[1:]


def main(nodedump, original_path, packed_path, *expected_fields):
    expected = list(zip(expected_fields[0::2], expected_fields[1::2]))
    original, packed = tables_of(nodedump, original_path), tables_of(nodedump, packed_path)
    problems, changes = [], []
    if [line for line, _ in original] != [line for line, _ in packed]:
        problems.append("the database and table nodes differ")
    for number, ((_, before), (_, after)) in enumerate(zip(original, packed), start=1):
        gone = list((Counter(before) - Counter(after)).elements())
        new = list((Counter(after) - Counter(before)).elements())
        if not gone and not new:
            continue
        # A changed record keeps its name: the records gone and new pair up by it.
        gone.sort(key=record_name)
        new.sort(key=record_name)
        if len(gone) != len(new) or any(record_name(a) != record_name(b) or len(a) != len(b)
                                        for a, b in zip(gone, new)):
            problems.append(f"node {number}: {len(gone)} records gone and {len(new)} new")
            continue
        for before_record, after_record in zip(gone, new):
            changes += [(record_name(before_record), a, b)
                        for a, b in zip(before_record, after_record) if a != b]
    for name, before, after in changes:
        print(f"record {name}:\n  was {before}\n  now {after}")
    if not problems and len(changes) != len(expected):
        problems.append(f"{len(changes)} fields changed, {len(expected)} expected")
    for field_kind, shown in expected if not problems else []:
        if sum(matches(after, (field_kind, shown)) for _, _, after in changes) != 1:
            problems.append(f"no one changed field of kind {field_kind} shows {shown}")
    for problem in problems:
        print(f"packed records check: {problem}")
    if problems:
        return 1
    print("packed records check: the original's records, in their new order, with only the "
          "named fields changed")
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 6 or len(sys.argv) % 2 != 0:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
