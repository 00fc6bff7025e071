#!/usr/bin/env bash
# The main job in one command: builds the tools and unpacks the sample databases into tables and
# into workbooks.
# Usage: bash scripts/unpack-samples.sh [output folder]   (default: unpacked/)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
source scripts/products.sh
EnsurePackages "${kBuildPackages[@]}"

output="${1:-unpacked}"

echo "== Building grimdex, lorudex and nodedump (release)"
cmake --preset release >/dev/null
cmake --build --preset release --target "${kUnpackers[@]}" nodedump

mkdir -p "$output"
echo "== Unpacking samples/spells.sdb and samples/quests.qdb into $output/"
build/release/grimdex/grimdex samples/spells.sdb "$output"
build/release/lorudex/lorudex samples/quests.qdb "$output"
echo "== ... and into the workbooks $output/spells.xlsx and $output/quests.xlsx"
build/release/grimdex/grimdex samples/spells.sdb "$output/spells.xlsx"
build/release/lorudex/lorudex samples/quests.qdb "$output/quests.xlsx"
for workbook in spells.xlsx quests.xlsx; do
  if [ ! -s "$output/$workbook" ]; then
    echo "missing: $output/$workbook" >&2
    exit 1
  fi
done

echo
echo "The seven tables are in $(cd "$output" && pwd)/"
echo "(tab separated, CR LF lines, text in the Windows-1251 code page):"
for table in "${kTables[@]}"; do
  if [ ! -f "$output/$table" ]; then
    echo "missing: $output/$table" >&2
    exit 1
  fi
  printf '  %-40s %4d rows\n' "$output/$table" "$(($(wc -l <"$output/$table") - 1))"
done

# The first lines of one table, a few columns, in the terminal's UTF-8 and aligned.
echo
echo "The first lines of $output/SpellPrototypes.txt (columns 1 to 8):"
preview() {
  head -n 6 "$output/SpellPrototypes.txt" | cut -f 1-8 | tr -d '\r' | iconv -f CP1251 -t UTF-8
}
if command -v column >/dev/null; then
  preview | column -t -s $'\t'
else
  preview | expand -t 16
fi

echo
echo "The workbooks $output/spells.xlsx and $output/quests.xlsx open in any spreadsheet (Excel,"
echo "LibreOffice Calc, Gnumeric) with no import dialog: one sheet per table. Edit and save one,"
echo "then pack it back:  build/release/grimdex/grimpack samples/spells.sdb $output/spells.xlsx new.sdb"
echo "See \"Opening the tables in a spreadsheet\" in README.md."
