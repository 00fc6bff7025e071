# What the scripts share of the project, sourced by them: its programs, the seven tables the
# unpackers write, and the one cell the checks edit in a sample table.
kUnpackers=(grimdex lorudex)
kPrograms=(grimdex lorudex grimpack lorupack nodedump)
kSpellTables=(SpellPrototypes.txt SpellModifiers.txt S_Spells.txt S_Armors.txt S_Weapons.txt)
kQuestTables=(Briefing.txt Quests.txt)
kTables=("${kSpellTables[@]}" "${kQuestTables[@]}")

# EditFirstPrototypeMana TABLE: prints the spell prototypes' table with the first prototype's
# Mana (column 6) made 13.75.
EditFirstPrototypeMana() {
  awk -F'\t' 'BEGIN { OFS = "\t" } NR == 2 { $6 = "13.75" } { print }' "$1"
}
