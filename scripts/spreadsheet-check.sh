#!/usr/bin/env bash
# Opens every sample table in a real spreadsheet (LibreOffice Calc, headless) with the import a
# modder would use, and checks that rows, columns, Cyrillic letters and numbers arrive intact.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
EnsurePackages libreoffice-calc-nogui python3

tables=(samples/expected/grimdex/{SpellPrototypes,SpellModifiers,S_Spells,S_Armors,S_Weapons}.txt
        samples/expected/lorudex/{Briefing,Quests}.txt)

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/reference" "$work/csv"

# The tables' own bytes in UTF-8, as iconv reads the Windows-1251 code page.
for table in "${tables[@]}"; do
  iconv -f CP1251 -t UTF-8 "$table" >"$work/reference/$(basename "$table")"
done

# Import: tab separated (9), '"' as text delimiter (34), Windows-1251 (character set 34), from
# line 1, column 32 (Light Color) as text (32/2) so that 153,204,255 stays text instead of the
# number 153204255, English (USA) number recognition (1033), no special number detection.
# Export: comma separated, UTF-8 (76), text cells quoted and numbers bare, full precision.
import_options='9,34,34,1,32/2,1033,false,false'
export_options='44,34,76,1,,1033,true,true,false'
soffice -env:UserInstallation="file://$work/profile" --headless --norestore \
  --infilter="Text - txt - csv (StarCalc):$import_options" \
  --convert-to "csv:Text - txt - csv (StarCalc):$export_options" \
  --outdir "$work/csv" "${tables[@]}" >"$work/soffice.log" 2>&1 || true
# LibreOffice exits 0 even when it loads nothing: the checker demands every CSV file.
python3 scripts/spreadsheet_check.py "$work/reference" "$work/csv" \
  "${tables[@]##*/}" || { cat "$work/soffice.log"; exit 1; }
