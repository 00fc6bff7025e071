#!/usr/bin/env bash
# Takes every sample table through a real spreadsheet (LibreOffice Calc, headless) with the
# README's recipe: imported, rows, columns, Cyrillic letters and numbers arrive intact; saved
# back as text, the packers turn the tables into the sample databases byte for byte; and one
# edited cell comes back as edited.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
EnsurePackages "${kBuildPackages[@]}" libreoffice-calc-nogui python3

build=build/release
cmake --preset release >/dev/null
cmake --build --preset release --target grimdex lorudex grimpack lorupack

# The README's import: tab separated (9), no text delimiter, Windows-1251 (character set 34),
# from line 1, the text columns as text (format 2) so that a name like 1e5 or 3-4 stays text and
# Light Color is not read as one number, English (USA) numbers (1033), no special numbers.
declare -A kTextColumns=(
  [SpellPrototypes]=1/2/2/2/3/2/5/2/12/2/17/2/18/2/32/2
  [SpellModifiers]=1/2/2/2/8/2
  [S_Spells]=1/2/2/2/3/2/4/2
  [S_Armors]=1/2/2/2/3/2/4/2
  [S_Weapons]=1/2/2/2/3/2/4/2
  [Briefing]=1/2/5/2
  [Quests]=1/2/4/2/5/2/6/2/7/2/8/2/9/2/10/2
)
# The README's save: text, tab separated, no text delimiter, Windows-1251, nothing quoted, full
# precision rather than as shown.
save_options='9,,34,1,,1033,false,false,false'
# For the import check: comma separated UTF-8 (76), text cells quoted and numbers bare.
check_options='44,34,76,1,,1033,true,true,false'

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/reference" "$work/csv" "$work/saved" "$work/edited" "$work/edited-saved"

# Opens `table` with the README's import and converts it with `filter` into `folder`.
Convert() {
  local table=$1 filter=$2 folder=$3 name
  name=$(basename "$table" .txt)
  soffice -env:UserInstallation="file://$work/profile" --headless --norestore \
    --infilter="Text - txt - csv (StarCalc):9,,34,1,${kTextColumns[$name]},1033,false,false" \
    --convert-to "$filter" --outdir "$folder" "$table" >>"$work/soffice.log" 2>&1 || true
  # LibreOffice exits 0 even when it loads nothing.
  [ -f "$folder/$name.${filter%%:*}" ] || { cat "$work/soffice.log"; echo "no $folder/$name"; exit 1; }
}

tables=(samples/expected/grimdex/{SpellPrototypes,SpellModifiers,S_Spells,S_Armors,S_Weapons}.txt
        samples/expected/lorudex/{Briefing,Quests}.txt)

echo "== Imported: rows, columns, texts and numbers as in the tables"
for table in "${tables[@]}"; do
  iconv -f CP1251 -t UTF-8 "$table" >"$work/reference/$(basename "$table")"
  Convert "$table" "csv:Text - txt - csv (StarCalc):$check_options" "$work/csv"
done
text_columns=()
for name in "${!kTextColumns[@]}"; do text_columns+=("$name=${kTextColumns[$name]}"); done
python3 scripts/spreadsheet_check.py "$work/reference" "$work/csv" "${text_columns[*]}" \
  "${tables[@]##*/}"

echo "== Saved back as text and packed: the sample databases, byte for byte"
for table in "${tables[@]}"; do
  Convert "$table" "txt:Text - txt - csv (StarCalc):$save_options" "$work/saved"
done
"$build/grimdex/grimpack" samples/spells.sdb "$work/saved" "$work/spells.sdb"
"$build/lorudex/lorupack" samples/quests.qdb "$work/saved" "$work/quests.qdb"
cmp samples/spells.sdb "$work/spells.sdb"
cmp samples/quests.qdb "$work/quests.qdb"

echo "== One edited cell through the same path"
cp samples/expected/grimdex/*.txt samples/expected/lorudex/*.txt "$work/edited/"
# The first prototype's Mana (column 6) becomes 13.75.
awk -F'\t' 'BEGIN { OFS = "\t" } NR == 2 { $6 = "13.75" } { print }' \
  samples/expected/grimdex/SpellPrototypes.txt >"$work/edited/SpellPrototypes.txt"
for table in "$work"/edited/*.txt; do
  Convert "$table" "txt:Text - txt - csv (StarCalc):$save_options" "$work/edited-saved"
done
"$build/grimdex/grimpack" samples/spells.sdb "$work/edited-saved" "$work/edited.sdb"
"$build/grimdex/grimdex" "$work/edited.sdb" "$work/unpacked" >/dev/null
cmp "$work/edited/SpellPrototypes.txt" "$work/unpacked/SpellPrototypes.txt"
for name in SpellModifiers S_Spells S_Armors S_Weapons; do
  cmp "samples/expected/grimdex/$name.txt" "$work/unpacked/$name.txt"
done
echo "spreadsheet check: the saved tables pack into the samples, and the edited cell comes back"
