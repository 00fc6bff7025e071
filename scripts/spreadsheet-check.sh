#!/usr/bin/env bash
# Takes every sample table through the tools modders use, with the README's recipes, and packs
# the results:
# - LibreOffice Calc (headless): imported, rows, columns, Cyrillic letters and numbers arrive
#   intact; saved back as text, the tables pack into the sample databases byte for byte; one
#   edited cell comes back as edited.
# - Gnumeric's ssconvert (values as shown): the tables pack into the samples byte for byte with no
#   notes; SpellPrototypes.txt, whose Light Color it reads as one number, is refused.
# - pandas: the README's recipe gives the tables back byte for byte, default types pack too, and
#   the README's batch edit packs with the README's summary.
# - A sort and one edit in Calc, driven through UNO: the packed database holds the sample's
#   records in their new order with that one field changed.
# - Workbooks: the samples unpacked into workbooks, saved as .xlsx by Calc, Gnumeric, openpyxl and
#   pandas, pack into the samples byte for byte; a sort, a number set and a text typed in Calc
#   change exactly those two fields; the pandas batch edit packs into the table recipe's records.
# - The change workbook of the README's three mods: openpyxl finds the 6 changed and 1 added
#   records, their highlighted cells beside the original values, and the one conflict; Calc
#   converts it without complaint and keeps its sheets.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
source scripts/products.sh
# gnumeric for ssconvert; Debian's own Python for pandas, openpyxl (pandas' workbook engine) and
# the office's UNO bridge.
EnsurePackages "${kBuildPackages[@]}" libreoffice-calc-nogui python3 gnumeric python3-pandas \
  python3-openpyxl python3-uno
debian_python=/usr/bin/python3

build=build/release
cmake --preset release >/dev/null
cmake --build --preset release --target "${kPrograms[@]}"

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
mkdir -p "$work/reference" "$work/csv" "$work/saved" "$work/edited" "$work/edited-saved" \
  "$work/tables" "$work/gnumeric" "$work/gnumeric-spells" "$work/refused" "$work/sorted"

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

tables=("${kSpellTables[@]/#/samples/expected/grimdex/}"
        "${kQuestTables[@]/#/samples/expected/lorudex/}")
# The spell tables without a Light Color: all but SpellPrototypes.txt, the first.
spell_tables=("${kSpellTables[@]:1}")

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
EditFirstPrototypeMana samples/expected/grimdex/SpellPrototypes.txt >"$work/edited/SpellPrototypes.txt"
for table in "$work"/edited/*.txt; do
  Convert "$table" "txt:Text - txt - csv (StarCalc):$save_options" "$work/edited-saved"
done
"$build/grimdex/grimpack" samples/spells.sdb "$work/edited-saved" "$work/edited.sdb"
"$build/grimdex/grimdex" "$work/edited.sdb" "$work/unpacked" >/dev/null
cmp "$work/edited/SpellPrototypes.txt" "$work/unpacked/SpellPrototypes.txt"
for name in "${spell_tables[@]}"; do
  cmp "samples/expected/grimdex/$name" "$work/unpacked/$name"
done

echo "== Gnumeric: Windows-1251 text import, saved with tabs, no quoting, values as shown"
tab=$(printf '\t')
for table in "${tables[@]}"; do
  LC_ALL=C.UTF-8 ssconvert --import-type=Gnumeric_stf:stf_csvtab --import-encoding=WINDOWS-1251 \
    --export-options="separator='$tab' quoting-mode=never format=preserve charset=WINDOWS-1251" \
    "$table" "$work/gnumeric/$(basename "$table")" 2>>"$work/ssconvert.log"
done
# Fewer digits of the same floats keep their bits: no notes.
"$build/lorudex/lorupack" samples/quests.qdb "$work/gnumeric" "$work/gnumeric.qdb" |
  tee "$work/gnumeric-quests.log"
cmp samples/quests.qdb "$work/gnumeric.qdb"
# The spell tables without a Light Color, beside the unpacked SpellPrototypes.txt.
cp "${spell_tables[@]/#/$work/gnumeric/}" samples/expected/grimdex/SpellPrototypes.txt \
  "$work/gnumeric-spells/"
"$build/grimdex/grimpack" samples/spells.sdb "$work/gnumeric-spells" "$work/gnumeric.sdb" |
  tee "$work/gnumeric-spells.log"
cmp samples/spells.sdb "$work/gnumeric.sdb"
if grep "rounded" "$work/gnumeric-quests.log" "$work/gnumeric-spells.log"; then
  echo "Gnumeric's tables were packed with notes"; exit 1
fi
# ssconvert imports no column as text: "51,153,255" arrives as 51153255, which is refused.
if "$build/grimdex/grimpack" samples/spells.sdb "$work/gnumeric" "$work/refused/spells.sdb" \
     2>"$work/refused.log"; then
  echo "grimpack packed a Light Color read as one number"; exit 1
fi
grep -m 1 'column "Light Color": "51153255" .*read the column as one number; import it as text' \
  "$work/refused.log"
grep -q "nothing was written" "$work/refused.log"
[ -z "$(ls -A "$work/refused")" ] || { ls -A "$work/refused"; echo "a refused pack wrote"; exit 1; }

echo "== pandas: the README's recipe"
readme_recipe=$(awk '/^## / { section = $0 }
  section == "## Scripting the tables" && /^```python$/ { inside = 1; next }
  inside && /^```$/ { exit }
  inside' README.md)
if [ -z "$readme_recipe" ] || [[ "$(<scripts/table_recipe.py)" != *"$readme_recipe"* ]]; then
  echo "The README's recipe is not the code of scripts/table_recipe.py"; exit 1
fi
cp "${tables[@]}" "$work/tables/"
# Read and written with every column as text: every table byte for byte.
"$debian_python" scripts/table_recipe.py --no-edit "$work/tables" "$work/pandas-text"
for table in "${tables[@]}"; do cmp "$table" "$work/pandas-text/$(basename "$table")"; done
# Default types write "1.0" for 1 in integer columns with an empty cell: read as the whole numbers.
"$debian_python" scripts/table_recipe.py --no-edit --default-types "$work/tables" \
  "$work/pandas-default"
"$build/grimdex/grimpack" samples/spells.sdb "$work/pandas-default" "$work/pandas-default.sdb"
"$build/lorudex/lorupack" samples/quests.qdb "$work/pandas-default" "$work/pandas-default.qdb"
cmp samples/spells.sdb "$work/pandas-default.sdb"
cmp samples/quests.qdb "$work/pandas-default.qdb"
# The README's batch edit: every fire spell's Mana raised by 10 %, with the README's summary.
"$debian_python" scripts/table_recipe.py "$work/tables" "$work/pandas-edited"
"$build/grimdex/grimpack" samples/spells.sdb "$work/pandas-edited" "$work/pandas-edited.sdb" |
  tee "$work/pandas-edited.log"
diff <(tail -n +2 "$work/pandas-edited.log") - <<'SUMMARY'
  SpellPrototypes.txt: 39 kept, 5 changed, 0 added, 0 removed
  SpellModifiers.txt: 20 kept, 0 changed, 0 added, 0 removed
  S_Spells.txt: 20 kept, 0 changed, 0 added, 0 removed
  S_Armors.txt: 20 kept, 0 changed, 0 added, 0 removed
  S_Weapons.txt: 20 kept, 0 changed, 0 added, 0 removed
1 value rounded to be stored:
  SpellPrototypes.txt line 5, column "Mana": "19.8" is stored as 19.7999992370605 and reads back as "19.799999"
SUMMARY
"$build/grimdex/grimdex" "$work/pandas-edited.sdb" "$work/pandas-unpacked" >/dev/null
awk -F'\t' 'BEGIN { OFS = "\t"; split("13.75 4.4 44 19.799999 77", mana, " ") }
  $3 == "Fire" { $6 = mana[++fire] } { print }' samples/expected/grimdex/SpellPrototypes.txt |
  cmp - "$work/pandas-unpacked/SpellPrototypes.txt"

echo "== LibreOffice Calc through UNO: sorted by Mana, highest first, and one Price set to 777"
"$debian_python" scripts/calc_sort_edit.py samples/expected/grimdex/SpellPrototypes.txt \
  "${kTextColumns[SpellPrototypes]}" Mana Fireball Price 777 "$work/sorted/SpellPrototypes.txt"
cp "${spell_tables[@]/#/samples/expected/grimdex/}" "$work/sorted/"
"$build/grimdex/grimpack" samples/spells.sdb "$work/sorted" "$work/sorted.sdb" |
  tee "$work/sorted.log"
sorted_packed=true
if ! grep -Eq '^  SpellPrototypes.txt: 43 kept \([0-9]+ moved\), 1 changed( \(1 moved\))?, 0 added, 0 removed$' \
     "$work/sorted.log"; then
  echo "the sort with one edit did not pack as 1 changed record"
  sorted_packed=false
fi
# Field kind 3 is Price.
"$debian_python" scripts/packed_records_check.py "$build/nodedump/nodedump" samples/spells.sdb \
  "$work/sorted.sdb" 3 "float32 777" || sorted_packed=false
$sorted_packed

echo "== Workbooks: the samples unpacked into .xlsx, saved by each client and packed back"
workbook_start=$SECONDS
mkdir -p "$work/workbooks"
"$build/grimdex/grimdex" samples/spells.sdb "$work/workbooks/spells.xlsx" >/dev/null
"$build/lorudex/lorudex" samples/quests.qdb "$work/workbooks/quests.xlsx" >/dev/null

# PackBoth CLIENT: packs CLIENT's spells.xlsx and quests.xlsx onto the samples; byte for byte.
PackBoth() {
  local client=$1
  "$build/grimdex/grimpack" samples/spells.sdb "$work/$client/spells.xlsx" \
    "$work/$client/spells.sdb" >"$work/$client/spells.log"
  "$build/lorudex/lorupack" samples/quests.qdb "$work/$client/quests.xlsx" \
    "$work/$client/quests.qdb" >"$work/$client/quests.log"
  cmp samples/spells.sdb "$work/$client/spells.sdb"
  cmp samples/quests.qdb "$work/$client/quests.qdb"
  echo "$client: both workbooks pack into the samples byte for byte"
}

# SaveBoth CLIENT COMMAND...: runs COMMAND WORKBOOK SAVED for both workbooks into $work/CLIENT.
SaveBoth() {
  local client=$1 name
  shift
  mkdir -p "$work/$client"
  for name in spells quests; do "$@" "$work/workbooks/$name.xlsx" "$work/$client/$name.xlsx"; done
}

# CalcSave WORKBOOK SAVED: Calc's save as .xlsx, into SAVED's folder under WORKBOOK's name.
CalcSave() {
  soffice -env:UserInstallation="file://$work/profile" --headless --norestore \
    --convert-to xlsx --outdir "$work/calc-xlsx" "$1" >>"$work/soffice.log" 2>&1 || true
  [ -f "$work/calc-xlsx/$(basename "$1")" ] || { cat "$work/soffice.log"; echo "no $2"; exit 1; }
}
SaveBoth calc-xlsx CalcSave
PackBoth calc-xlsx

SaveBoth gnumeric-xlsx ssconvert --export-type=Gnumeric_Excel:xlsx2
PackBoth gnumeric-xlsx

SaveBoth openpyxl "$debian_python" -c 'import openpyxl, sys
openpyxl.load_workbook(sys.argv[1]).save(sys.argv[2])'
PackBoth openpyxl

SaveBoth pandas-xlsx "$debian_python" scripts/workbook_recipe.py --no-edit
PackBoth pandas-xlsx

echo "== Workbook in Calc through UNO: sorted by Mana, one Price set to 777, 1e5 typed as a Code"
mkdir -p "$work/calc-edit"
"$debian_python" scripts/calc_workbook_edit.py "$work/workbooks/spells.xlsx" SpellPrototypes Mana \
  Fireball Price 777 "Flame Arrow" Code 1e5 "$work/calc-edit/spells.xlsx"
"$build/grimdex/grimpack" samples/spells.sdb "$work/calc-edit/spells.xlsx" \
  "$work/calc-edit/spells.sdb" | tee "$work/calc-edit/pack.log"
edited_packed=true
if ! grep -Eq '^  SpellPrototypes.txt: 42 kept \([0-9]+ moved\), 2 changed( \([12] moved\))?, 0 added, 0 removed$' \
     "$work/calc-edit/pack.log"; then
  echo "the sorted workbook with two edits did not pack as 2 changed records"
  edited_packed=false
fi
# Field kind 3 is Price, field kind 1 Code: a text, shown with its ending zero byte.
"$debian_python" scripts/packed_records_check.py "$build/nodedump/nodedump" samples/spells.sdb \
  "$work/calc-edit/spells.sdb" 3 "float32 777" 1 "1e5." || edited_packed=false
"$build/grimdex/grimdex" "$work/calc-edit/spells.sdb" "$work/calc-edit/tables" >/dev/null
awk -F'\t' '$1 == "Flame Arrow" && $2 == "1e5" { found = 1 } END { exit !found }' \
  "$work/calc-edit/tables/SpellPrototypes.txt" || { echo "Flame Arrow's Code is not 1e5"; exit 1; }
$edited_packed

echo "== pandas through the workbook: the batch edit packs into the table recipe's records"
"$debian_python" scripts/workbook_recipe.py "$work/workbooks/spells.xlsx" \
  "$work/pandas-edited.xlsx"
"$build/grimdex/grimpack" samples/spells.sdb "$work/pandas-edited.xlsx" \
  "$work/pandas-edited-xlsx.sdb" | tee "$work/pandas-edited-xlsx.log"
# The same records as the table recipe's, and its five table lines; but no note for 19.8: a
# workbook shows a float as its shortest decimal, so the number cell 19.8 is the workbook's own
# text of the float32 stored, not a value that changes on the way.
cmp "$work/pandas-edited.sdb" "$work/pandas-edited-xlsx.sdb"
diff <(sed -n 2,6p "$work/pandas-edited.log") <(tail -n +2 "$work/pandas-edited-xlsx.log")
echo "workbook rounds took $((SECONDS - workbook_start)) s"

echo "== The change workbook of the README's three mods: openpyxl, then Calc"
mkdir -p "$work/changes"
"$debian_python" scripts/change_workbook_check.py "$build/grimdex/grimdex" \
  "$build/grimdex/grimpack" "$work/changes"
: >"$work/soffice.log"
soffice -env:UserInstallation="file://$work/profile" --headless --norestore --convert-to ods \
  --outdir "$work/changes/ods" "$work/changes/changes.xlsx" >>"$work/soffice.log" 2>&1 || true
if [ ! -f "$work/changes/ods/changes.ods" ] || grep -qi 'error' "$work/soffice.log"; then
  cat "$work/soffice.log"; echo "Calc did not convert the change workbook"; exit 1
fi
# Its three sheets, the added record and a column beside a changed one arrive.
content=$("$debian_python" -c 'import sys, zipfile
print(zipfile.ZipFile(sys.argv[1]).read("content.xml").decode())' "$work/changes/ods/changes.ods")
for expected in 'table:name="SpellPrototypes"' 'table:name="Conflicts"' 'table:name="Sources"' \
  'Firestorm' 'Mana (original)'; do
  grep -qF "$expected" <<<"$content" ||
    { echo "the converted change workbook lacks $expected"; exit 1; }
done

echo "spreadsheet check: Calc's and Gnumeric's saves and the pandas recipe pack into the samples,"
echo "the edits come back as edited, a sort with one edit changes one field, and the workbooks"
echo "saved by every client pack back, with their edits as made; the change workbook reads as made"
