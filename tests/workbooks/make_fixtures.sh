#!/usr/bin/env bash
# Makes the workbook reader's fixtures again: the quest sample unpacked into a workbook, saved by
# LibreOffice Calc, Gnumeric and openpyxl, and one workbook whose XML is written by hand.
# Usage: make_fixtures.sh [RELEASE_BUILD_FOLDER]  (build/release by default)
set -euo pipefail
fixtures="$(cd "$(dirname "$0")" && pwd)"
cd "$fixtures/../.."
build=${1:-build/release}
debian_python=/usr/bin/python3

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The smallest workbook the project writes: the two quest tables.
"$build/lorudex/lorudex" samples/quests.qdb "$work/quests.xlsx" >/dev/null

soffice -env:UserInstallation="file://$work/profile" --headless --norestore \
  --convert-to xlsx --outdir "$work/calc" "$work/quests.xlsx" >"$work/soffice.log" 2>&1 || true
[ -f "$work/calc/quests.xlsx" ] || { cat "$work/soffice.log"; exit 1; }
cp "$work/calc/quests.xlsx" "$fixtures/calc-shared-strings.xlsx"

ssconvert --export-type=Gnumeric_Excel:xlsx2 "$work/quests.xlsx" "$fixtures/gnumeric-save.xlsx" \
  2>"$work/ssconvert.log"

"$debian_python" -c 'import openpyxl, sys
openpyxl.load_workbook(sys.argv[1]).save(sys.argv[2])' "$work/quests.xlsx" \
  "$fixtures/openpyxl-save.xlsx"

"$debian_python" - "$fixtures/hand-written-structures.xlsx" <<'PYTHON'
# XML written by hand: what the format describes and real writers use, as their writers do.
import sys
import zipfile

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
RELATIONSHIPS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PACKAGE = "http://schemas.openxmlformats.org/package/2006/relationships"
HEAD = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'

ENTRIES = {
    "[Content_Types].xml": f"""<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>
<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>
<Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>
<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>
<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>
</Types>""",
    "_rels/.rels": f"""<Relationships xmlns="{PACKAGE}">
<Relationship Id="rId1" Type="{RELATIONSHIPS}/officeDocument" Target="/xl/workbook.xml"/>
</Relationships>""",
    "xl/workbook.xml": f"""<workbook xmlns="{MAIN}" xmlns:r="{RELATIONSHIPS}">
<sheets><sheet name="Briefing" sheetId="1" r:id="rId1"/><sheet name="Notes" sheetId="2" r:id="rId2"/></sheets>
</workbook>""",
    "xl/_rels/workbook.xml.rels": f"""<Relationships xmlns="{PACKAGE}">
<Relationship Id="rId1" Type="{RELATIONSHIPS}/worksheet" Target="/xl/worksheets/sheet1.xml"/>
<Relationship Id="rId2" Type="{RELATIONSHIPS}/worksheet" Target="/xl/worksheets/sheet2.xml"/>
<Relationship Id="rId3" Type="{RELATIONSHIPS}/sharedStrings" Target="/xl/sharedStrings.xml"/>
<Relationship Id="rId4" Type="{RELATIONSHIPS}/styles" Target="/xl/styles.xml"/>
</Relationships>""",
    # 0 plain, 1 rich-text runs, 2 a phonetic run, 3 leading spaces kept, 4 an escaped CR.
    "xl/sharedStrings.xml": f"""<sst xmlns="{MAIN}" count="5" uniqueCount="5">
<si><t>Name</t></si>
<si><r><rPr><b/><sz val="11"/><rFont val="Calibri"/></rPr><t>Fire</t></r><r><rPr><i/></rPr><t xml:space="preserve">ball </t></r></si>
<si><t>東京</t><rPh sb="0" eb="2"><t>トウキョウ</t></rPh><phoneticPr fontId="1" type="noConversion"/></si>
<si><t xml:space="preserve">  two leading spaces</t></si>
<si><t>line_x000D_end</t></si>
</sst>""",
    # Cell styles: 0 general, 1 the built-in date format 14, 2 a custom date format.
    "xl/styles.xml": f"""<styleSheet xmlns="{MAIN}">
<numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy\\-mm\\-dd"/></numFmts>
<fonts count="1"><font><sz val="11"/></font></fonts>
<fills count="1"><fill><patternFill patternType="none"/></fill></fills>
<borders count="1"><border/></borders>
<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>
<cellXfs count="3"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/><xf numFmtId="14" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/><xf numFmtId="164" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/></cellXfs>
</styleSheet>""",
    # Row 1 and 2 and their cells without references, row 4 with them.
    "xl/worksheets/sheet1.xml": f"""<worksheet xmlns="{MAIN}">
<sheetData>
<row><c t="s"><v>0</v></c><c t="s"><v>1</v></c><c t="s"><v>2</v></c><c t="s"><v>3</v></c><c t="s"><v>4</v></c></row>
<row><c t="inlineStr"><is><t>inline</t></is></c><c t="str"><f>"a"&amp;"b"</f><v>ab</v></c><c><f>1/0</f></c><c t="b"><v>1</v></c><c t="e"><v>#DIV/0!</v></c></row>
<row r="4"><c r="A4" s="1"><v>45000</v></c><c r="B4" s="2"><v>45000.5</v></c><c r="C4" t="d"><v>2023-03-15T00:00:00</v></c><c r="D4"><v>12.5</v></c><c r="E4"><f>D4*2</f><v>25</v></c></row>
</sheetData>
</worksheet>""",
    "xl/worksheets/sheet2.xml": f"""<worksheet xmlns="{MAIN}">
<sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>not a table</t></is></c></row></sheetData>
</worksheet>""",
}

with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as archive:
    for name, text in ENTRIES.items():
        info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        archive.writestr(info, HEAD + text)
PYTHON
ls -l "$fixtures"/*.xlsx
