#!/usr/bin/env bash
# Cross-compiles the Windows executables and runs them under Wine on the same databases as the
# Linux build, comparing exit status, console bytes and every table byte for byte.
# Usage: bash scripts/windows-check.sh   (Linux programs from $LINUX_BUILD, default build/release,
# configured and built here)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
source scripts/checks.sh
source scripts/products.sh

kRoot=$PWD
kLinuxBuild=${LINUX_BUILD:-build/release}
kWork=build/windows-check
kWine32=/usr/lib/wine/wine
kWine64=/usr/lib/wine/wine64
kWineServer=/usr/lib/wine/wineserver64
kPlainLocale=C.UTF-8
kCommaLocale=de_DE.UTF-8
# Stand-ins in a run's arguments for what each platform spells its own way.
kSeparator='<separator>'
kNullDevice='<null device>'

runLocale=$kPlainLocale
windowsTargets=(x64)
wineWithout32Bit=""

# ---- Set-up: compilers, Wine, the comma locale.

# True when the kernel runs 32-bit x86 programs, which 32-bit Wine needs; some kernels (in
# virtual machines among others) do not. Decided by running one, never by a file's presence: a
# program of three instructions, assembled here with binutils and needing no 32-bit library, that
# exits with status 42 through the 32-bit system call. A kernel without 32-bit support refuses to
# start it or to serve its system call.
KernelRuns32Bit() {
  local probe status=0
  probe="$(mktemp -d)"
  printf '%s\n' '.globl _start' '_start:' '  movl $1, %eax' '  movl $42, %ebx' '  int $0x80' \
    '  hlt' | as --32 -o "$probe/probe.o" - &&
    ld -m elf_i386 -o "$probe/probe" "$probe/probe.o" || status=$?
  if [ "$status" -ne 0 ]; then
    rm -rf "$probe"
    echo "FAIL: cannot assemble the 32-bit test program (binutils)"
    exit 1
  fi
  ("$probe/probe") >/dev/null 2>&1 || status=$?
  rm -rf "$probe"
  [ "$status" -eq 42 ]
}

InstallTools() {
  # bsdutils: script, which gives a run the pseudo-terminal that Wine makes its console.
  EnsurePackages binutils bsdutils g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
    libz-mingw-w64-dev wine wine64
  if KernelRuns32Bit; then
    # 32-bit Wine is an i386 package: EnsurePackages adds the i386 architecture when missing.
    # Where the package cannot be had (a mirror whose i386 lists lag behind), the i686
    # executables are built but not run, as on a kernel without 32-bit support, and the run
    # says so.
    if (EnsurePackages wine32:i386); then
      windowsTargets=(i686 x64)
    else
      wineWithout32Bit="wine32:i386 could not be installed"
    fi
  else
    wineWithout32Bit="this kernel runs no 32-bit x86 programs (a 32-bit test program did not run)"
  fi
  EnsureCommaLocale
}

BuildAll() {
  local preset
  for preset in windows-i686 windows-x64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
  done
  if [ "$kLinuxBuild" = build/release ]; then
    cmake --preset release >/dev/null
  elif [ ! -f "$kLinuxBuild/CMakeCache.txt" ]; then
    echo "FAIL: no Linux build in $kLinuxBuild"
    exit 1
  fi
  cmake --build "$kLinuxBuild" --target "${kUnpackers[@]}" grimpack lorupack nodedump write_test_databases
}

# A fresh prefix, one boot and a server kept alive, so that each run costs milliseconds.
StartWine() {
  export WINEPREFIX="$kRoot/$kWork/wine-prefix" WINEDEBUG=-all WINESERVER=$kWineServer
  export WINEDLLOVERRIDES="mscoree,mshtml="  # no installer dialogs for .NET or HTML support
  unset DISPLAY
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$kWineServer" -p
  trap '"$kWineServer" -k 2>/dev/null || true' EXIT
  WINELOADER=$kWine64 "$kWine64" wineboot --init >"$kWork/wineboot.log" 2>&1
}

# ---- One comparison.

# The folder a program is built in: a packer beside its unpacker.
ProgramFolder() {
  case "$1" in
    grimpack) echo grimdex ;;
    lorupack) echo lorudex ;;
    *) echo "$1" ;;
  esac
}

LinuxProgram() {
  echo "$kRoot/$kLinuxBuild/$(ProgramFolder "$1")/$1"
}

WindowsProgram() {
  local target=$2
  echo "$kRoot/build/windows-$target/$(ProgramFolder "$1")/$1.exe"
}

WineLoader() {
  if [ "$1" = i686 ]; then echo "$kWine32"; else echo "$kWine64"; fi
}

# Sets `spelled` to the arguments as `platform` (linux or windows) spells the stand-ins.
SpellArguments() {
  local platform=$1 argument
  shift
  spelled=()
  for argument in "$@"; do
    if [ "$platform" = linux ]; then
      argument=${argument//"$kSeparator"//}
      argument=${argument//"$kNullDevice"//dev/null}
    else
      argument=${argument//"$kSeparator"/\\}
      argument=${argument//"$kNullDevice"/NUL}
    fi
    spelled+=("$argument")
  done
}

# Runs a command in `folder` with console output, its errors and exit status beside the folder.
RunIn() {
  local folder=$1
  shift
  local status=0
  (cd "$folder" && LC_ALL=$runLocale "$@" >"$folder.out" 2>"$folder.err") || status=$?
  echo "$status" >"$folder.status"
}

# The allowed differences in console bytes: a failure report names the module "grimdex.exe" on
# Windows where it names "grimdex" on Linux (the Windows report must carry the ".exe"), and the
# packers' lines of text end in CR LF on Windows.
ExpectedWindowsConsole() {
  local program=$1 linuxOut=$2
  local report="Exception EInOutError in module $program"
  if [ "$(ProgramFolder "$program")" != "$program" ] || [ "$program" = nodedump ]; then
    # The packers and nodedump write text lines, which end in CR LF on Windows.
    sed 's/$/\r/' "$linuxOut"
  elif [ "$(head -c ${#report} "$linuxOut")" = "$report" ]; then
    sed "1s/^$report at /$report.exe at /" "$linuxOut"
  else
    cat "$linuxOut"
  fi
}

# The Linux run must leave something to compare: console text, a table or a workbook.
ProducedSomething() {
  local folder=$1
  [ -s "$folder.out" ] || [ -n "$(find "$folder" \( -name '*.txt' -o -name '*.xlsx' \) -print -quit)" ]
}

# CompareRun name setup program argument...: runs the program of both builds, each in a fresh
# folder prepared by the `setup` function, and compares exit status, console bytes and every file
# there.
CompareRun() {
  local name=$1 setup=$2 program=$3
  shift 3
  local caseFolder="$kRoot/$kWork/runs/$name"
  rm -rf "$caseFolder"
  mkdir -p "$caseFolder/linux"
  (cd "$caseFolder/linux" && "$setup")
  SpellArguments linux "$@"
  RunIn "$caseFolder/linux" "$(LinuxProgram "$program")" ${spelled[@]+"${spelled[@]}"}
  if ! ProducedSomething "$caseFolder/linux"; then
    Fail "$name: the Linux run printed and wrote nothing"
    return
  fi
  ExpectedWindowsConsole "$program" "$caseFolder/linux.out" >"$caseFolder/expected-windows.out"
  SpellArguments windows "$@"
  local target
  for target in "${windowsTargets[@]}"; do
    local folder="$caseFolder/windows-$target"
    mkdir -p "$folder"
    (cd "$folder" && "$setup")
    RunIn "$folder" env WINELOADER="$(WineLoader "$target")" "$(WineLoader "$target")" \
      "$(WindowsProgram "$program" "$target")" ${spelled[@]+"${spelled[@]}"}
    CompareResults "$name ($target)" "$caseFolder/linux" "$folder" "$caseFolder/expected-windows.out"
  done
}

CompareResults() {
  local label=$1 linux=$2 windows=$3 expectedConsole=$4
  if ! cmp -s "$linux.status" "$windows.status"; then
    Fail "$label: exit status $(cat "$windows.status"), Linux $(cat "$linux.status")"
    head -n 3 "$windows.err"
  elif ! cmp -s "$expectedConsole" "$windows.out"; then
    Fail "$label: console differs"
    cmp "$expectedConsole" "$windows.out" || true
  elif ! diff -r "$linux" "$windows" >/dev/null; then
    Fail "$label: files differ"
    diff -rq "$linux" "$windows" || true
  else
    Pass
  fi
}

# ---- What is staged in a run's folder before the run.

NoFiles() { :; }
StageSamples() { cp "$kRoot/samples/spells.sdb" "$kRoot/samples/quests.qdb" .; }
StageFolderAsDatabase() { mkdir spells.sdb; }
StageSamplesAndFolder() { StageSamples && mkdir out; }
StageSamplesAndFile() { StageSamples && echo text >out; }
# A sample and its tables in tables/, the spell tables with the first prototype's Mana edited.
StageQuestTables() {
  StageSamples && mkdir tables && cp "$kRoot"/samples/expected/lorudex/*.txt tables/
}
StageEditedSpellTables() {
  StageSamples && mkdir tables && cp "$kRoot"/samples/expected/grimdex/*.txt tables/
  EditFirstPrototypeMana "$kRoot/samples/expected/grimdex/SpellPrototypes.txt" \
    >tables/SpellPrototypes.txt
}
# The samples and the spell workbook the Linux build writes of them.
StageSpellWorkbook() {
  StageSamples && "$(LinuxProgram grimdex)" spells.sdb spells.xlsx
}
# The spell tables with the first prototype's name in Cyrillic letters, bytes of Windows-1251:
# "Мёртвый маг", whose capital and ё happen to make a well-formed UTF-8 sequence.
kCyrillicName=$(printf '\xcc\xb8\xf0\xf2\xe2\xfb\xe9 \xec\xe0\xe3')
kCyrillicNameUtf8="Мёртвый маг"
StageCyrillicSpellName() {
  StageSamples && mkdir tables && cp "$kRoot"/samples/expected/grimdex/*.txt tables/
  LC_ALL=C awk -F'\t' -v name="$kCyrillicName" \
    'BEGIN { OFS = "\t" } NR == 2 { $1 = name } { print }' \
    "$kRoot/samples/expected/grimdex/SpellPrototypes.txt" >tables/SpellPrototypes.txt
}
StageSamplesUnderOtherName() { cp "$kRoot/samples/spells.sdb" "Zaubersprüche.sdb"; }
StageFirstHalf() { head -c $(($(stat -c %s "$1") / 2)) "$1" >"${1##*/}"; }
StageTruncatedSpells() { StageFirstHalf "$kRoot/samples/spells.sdb"; }
StageTruncatedQuests() { StageFirstHalf "$kRoot/samples/quests.qdb"; }
StageTestDatabase() { cp "$testDatabase" .; }

# Folders named in Cyrillic, Greek and CJK letters, which no single ANSI code page spells, and a
# path of more than Windows' 260 characters in the same letters, one level of 43 per folder.
kUnicodeFolder="Заклинания${kSeparator}Ξόρκια${kSeparator}呪文の書"
kLongPathLevel="Заклинания-и-свитки-Ξόρκια-και-ξόρκια-呪文の書と巻物"
kLongFolder="$kLongPathLevel"
for _ in 1 2 3 4 5 6 7; do kLongFolder+="$kSeparator$kLongPathLevel"; done
# Creates the folder (given with kSeparator) and copies the samples and their tables into it.
StageSamplesIn() {
  local folder=${1//"$kSeparator"//}
  mkdir -p "$folder/tables"
  cp "$kRoot/samples/spells.sdb" "$kRoot/samples/quests.qdb" "$folder/"
  cp "$kRoot"/samples/expected/lorudex/*.txt "$folder/tables/"
  "$(LinuxProgram grimdex)" "$folder/spells.sdb" "$folder/spells.xlsx" >/dev/null
}
StageUnicodeFolder() { StageSamplesIn "$kUnicodeFolder"; }
StageLongFolder() { StageSamplesIn "$kLongFolder"; }

# ---- The comparisons.

CompareFrontEnd() {
  local program
  for program in "${kUnpackers[@]}"; do
    CompareRun "$program-banner" NoFiles "$program"
    CompareRun "$program-missing-database" NoFiles "$program" missing.db
    CompareRun "$program-folder-as-database" StageFolderAsDatabase "$program" spells.sdb
    CompareRun "$program-device-as-database" NoFiles "$program" "$kNullDevice"
    CompareRun "$program-missing-database-new-folder" NoFiles "$program" missing.db new
  done
  CompareRun grimdex-new-folder StageSamples grimdex spells.sdb out
  CompareRun grimdex-folder-with-separator StageSamples grimdex spells.sdb "out$kSeparator"
  CompareRun grimdex-folder-with-slash StageSamples grimdex spells.sdb out/
  CompareRun grimdex-new-folder-inside-folder StageSamplesAndFolder grimdex spells.sdb \
    "out${kSeparator}inner"
  CompareRun grimdex-folder-parent-missing StageSamples grimdex spells.sdb "none${kSeparator}out"
  CompareRun grimdex-folder-is-a-file StageSamplesAndFile grimdex spells.sdb out
  CompareRun lorudex-new-folder StageSamples lorudex quests.qdb out
  # Wildcards are no business of the tools: no expansion on either platform.
  CompareRun grimdex-wildcard-argument StageSamples grimdex "*.sdb"
  # Names outside ASCII pass through as the bytes of the user's code page, both ways.
  CompareRun grimdex-names-outside-ascii StageSamplesUnderOtherName grimdex "Zaubersprüche.sdb" \
    "Tabellen-für-ü"
  CompareRun grimdex-truncated StageTruncatedSpells grimdex spells.sdb
  CompareRun lorudex-truncated StageTruncatedQuests lorudex quests.qdb
}

CompareSamples() {
  CompareRun grimdex-sample StageSamples grimdex spells.sdb
  CompareRun lorudex-sample StageSamples lorudex quests.qdb
  runLocale=$kCommaLocale
  CompareRun grimdex-sample-comma-locale StageSamples grimdex spells.sdb
  CompareRun lorudex-sample-comma-locale StageSamples lorudex quests.qdb
  runLocale=$kPlainLocale
  # The comma locale must have taken effect: quest numbers change, spell numbers do not.
  local runs="$kWork/runs"
  if cmp -s "$runs/lorudex-sample/linux/Quests.txt" \
    "$runs/lorudex-sample-comma-locale/linux/Quests.txt"; then
    Fail "the comma locale left the quest table unchanged"
  else
    Pass
  fi
  Expect "the comma locale changed the spell tables" \
    diff -rq "$runs/grimdex-sample/linux" "$runs/grimdex-sample-comma-locale/linux"
}

# The packers: the quest tables packed back into a new database, and an edited spell table
# packed onto the spell database itself.
ComparePacking() {
  CompareRun lorupack-round-trip StageQuestTables lorupack quests.qdb tables new.qdb
  Expect "lorupack did not pack the sample's tables back into the sample" \
    cmp -s "$kRoot/$kWork/runs/lorupack-round-trip/linux/new.qdb" "$kRoot/samples/quests.qdb"
  CompareRun grimpack-edit-in-place StageEditedSpellTables grimpack spells.sdb tables spells.sdb
  # A game text quoted in the plan, and a path in Cyrillic: redirected, the bytes of both builds.
  CompareRun grimpack-dry-run-game-text StageCyrillicSpellName grimpack --dry-run spells.sdb tables \
    "Новая.sdb"
}

# Workbooks: the same bytes from both builds, in both code pages' letters, and packed back.
CompareWorkbooks() {
  CompareRun grimdex-workbook StageSamples grimdex spells.sdb spells.xlsx
  CompareRun lorudex-workbook StageSamples lorudex quests.qdb quests.xlsx
  CompareRun grimdex-workbook-code-page StageSamples grimdex --code-page 1252 spells.sdb spells.xlsx
  CompareRun grimpack-workbook StageSpellWorkbook grimpack spells.sdb spells.xlsx new.sdb
  Expect "grimpack did not pack the sample's workbook back into the sample" \
    cmp -s "$kRoot/$kWork/runs/grimpack-workbook/linux/new.sdb" "$kRoot/samples/spells.sdb"
}

# Paths that only the wide calls can spell, and one beyond 260 characters: unpacking into tables
# and a workbook, packing tables and a workbook, dumping the node tree.
CompareUnicodePaths() {
  local stage folder
  for stage in Unicode Long; do
    if [ "$stage" = Unicode ]; then folder=$kUnicodeFolder; else folder=$kLongFolder; fi
    # The packers name the files they wrote as given: spelled with slashes, which both take.
    local at="$folder$kSeparator" slashed="${folder//"$kSeparator"//}/" name="${stage,,}-path"
    CompareRun "grimdex-$name" "Stage${stage}Folder" grimdex "${at}spells.sdb" "${at}Таблицы"
    CompareRun "lorudex-$name-workbook" "Stage${stage}Folder" lorudex "${at}quests.qdb" \
      "${at}Задания.xlsx"
    CompareRun "lorupack-$name" "Stage${stage}Folder" lorupack "${slashed}quests.qdb" \
      "${slashed}tables" "${slashed}新.qdb"
    CompareRun "grimpack-$name-workbook" "Stage${stage}Folder" grimpack "${slashed}spells.sdb" \
      "${slashed}spells.xlsx" "${slashed}Νέο.sdb"
    CompareRun "nodedump-$name" "Stage${stage}Folder" nodedump "${at}quests.qdb"
  done
}

CompareTestDatabases() {
  local databases="$kRoot/$kWork/test-databases"
  rm -rf "$databases"
  mkdir -p "$databases"
  "$(find "$kLinuxBuild" -type f -name write_test_databases -perm -u+x -print -quit)" "$databases"
  local count=0 testDatabase  # testDatabase is what StageTestDatabase copies
  for testDatabase in "$databases"/*.sdb "$databases"/*.qdb; do
    [ -f "$testDatabase" ] || continue
    local file=${testDatabase##*/} program=grimdex
    [ "${file##*.}" = qdb ] && program=lorudex
    count=$((count + 1))
    CompareRun "test-${file}" StageTestDatabase "$program" "$file"
    runLocale=$kCommaLocale
    CompareRun "test-${file}-comma-locale" StageTestDatabase "$program" "$file"
    runLocale=$kPlainLocale
  done
  if [ "$count" -eq 0 ]; then Fail "write_test_databases wrote no database"; fi
}

# ---- A console of the run's own: `script` gives the run a pseudo-terminal, which Wine makes the
# console of the program it starts, the program alone attached to it, as a drop gives it one. What
# the console shows arrives on the terminal in UTF-8: the characters that WriteConsoleW was given,
# or bytes written as they are, read in the console's code page.

# The Windows path of a path on Linux, through Wine's drive Z:, which is /.
WindowsPathOf() {
  local path=$1
  echo "Z:${path//\//\\}"
}

# RunInConsole transcript seconds command...: runs the command in a console of its own, wide
# enough for every line, its standard input typed into it as keys; what the console showed goes to
# `transcript`, and the status of the command (124 when it had not ended after `seconds`) is
# printed.
RunInConsole() {
  local transcript=$1 seconds=$2
  shift 2
  local command status=0
  command="stty cols 250 rows 50; $(printf '%q ' "$@")"
  LC_ALL=$kPlainLocale timeout -k 5 "$seconds" script --quiet --return --command "$command" \
    /dev/null >"$transcript" 2>&1 || status=$?
  echo "$status"
}

# Expects `text` in the transcript of a console run.
ExpectShown() {
  local label=$1 transcript=$2 text=$3
  if grep -qF -- "$text" "$transcript"; then
    Pass
  else
    Fail "$label: the console did not show \"$text\"; it showed:"
    tr -d '\033' <"$transcript" | head -c 600
  fi
}

# In a console whose code page is 866 (chcp), which spells neither Windows-1251 nor the path's
# letters: the plan's game text and the path show as their letters. (Wine quotes an argument with
# spaces for cmd, which reads the quotes as part of the command: each word is one argument.)
CheckConsoleCodePage() {
  local target=$1
  local folder="$kRoot/$kWork/console/code-page-866-$target"
  mkdir -p "$folder"
  (cd "$folder" && StageCyrillicSpellName)
  local program status loader
  program=$(WindowsPathOf "$(WindowsProgram grimpack "$target")")
  loader=$(WineLoader "$target")
  status=$(cd "$folder" && RunInConsole "$folder.out" 20 env WINELOADER="$loader" "$loader" \
    cmd /c chcp 866 "&" "$program" --dry-run spells.sdb tables Новая.sdb </dev/null)
  local label="console of code page 866 ($target)"
  Expect "$label: exit status $status" [ "$status" -eq 0 ]
  ExpectShown "$label" "$folder.out" "866"
  ExpectShown "$label" "$folder.out" "Fireball"
  ExpectShown "$label" "$folder.out" "$kCyrillicNameUtf8"
  ExpectShown "$label" "$folder.out" "grimpack: would write Новая.sdb ("
}

# DropInOwnConsole target label transcript program path: starts the program in a console of its own with
# the full path as its argument, as a drop starts it, expects it to ask for a key and still be
# waiting 2 seconds later, types the key and expects status 0.
DropInOwnConsole() {
  local target=$1 label=$2 transcript=$3 program=$4 path=$5
  local prompt="Press any key to close this window." keys run status=0 waited=0 loader
  loader=$(WineLoader "$target")
  # The console's keys come through a fifo, open until the key is typed.
  rm -f "$transcript.keys"
  mkfifo "$transcript.keys"
  (RunInConsole "$transcript" 60 env WINELOADER="$loader" "$loader" "$program" \
    "$(WindowsPathOf "$path")" <"$transcript.keys" >"$transcript.status") &
  run=$!
  exec {keys}>"$transcript.keys"
  while ! grep -qF "$prompt" "$transcript" 2>/dev/null && [ "$waited" -lt 50 ] &&
    kill -0 "$run" 2>/dev/null; do
    sleep 1
    waited=$((waited + 1))
  done
  sleep 2
  Expect "$label: it did not wait for a key" kill -0 "$run"
  printf x >&"$keys"
  exec {keys}>&-
  wait "$run" || true
  status=$(cat "$transcript.status")
  Expect "$label: exit status $status after the key" [ "$status" -eq 0 ]
  ExpectShown "$label" "$transcript" "$prompt"
}

# A database dropped on the unpacker in a console of its own gives the workbook beside it, as the
# Linux build writes it; that workbook dropped on the packer gives the database again, beside it
# under the next free name, the original kept.
CheckOwnConsole() {
  local target=$1
  local folder="$kRoot/$kWork/console/own-console-$target" database="Заклинания.sdb"
  rm -rf "$folder"
  mkdir -p "$folder/linux" "$folder/windows"
  cp "$kRoot/samples/spells.sdb" "$folder/linux/$database"
  cp "$kRoot/samples/spells.sdb" "$folder/windows/$database"
  (cd "$folder/linux" && "$(LinuxProgram grimdex)" "$database" "Заклинания.xlsx" >/dev/null)
  local label="own console ($target)"
  DropInOwnConsole "$target" "$label, a database on grimdex" "$folder/unpack.out" \
    "$(WindowsProgram grimdex "$target")" "$folder/windows/$database"
  Expect "$label: the workbook beside the database differs from the Linux build's" \
    cmp -s "$folder/linux/Заклинания.xlsx" "$folder/windows/Заклинания.xlsx"
  ExpectShown "$label" "$folder/unpack.out" "Unpacked $database into Заклинания.xlsx, beside it."
  DropInOwnConsole "$target" "$label, the workbook on grimpack" "$folder/pack.out" \
    "$(WindowsProgram grimpack "$target")" "$folder/windows/Заклинания.xlsx"
  Expect "$label: the packed database is not the sample" \
    cmp -s "$kRoot/samples/spells.sdb" "$folder/windows/Заклинания (packed).sdb"
  Expect "$label: the original database was changed" \
    cmp -s "$kRoot/samples/spells.sdb" "$folder/windows/$database"
  ExpectShown "$label" "$folder/pack.out" "Packed into Заклинания (packed).sdb, beside $database"
}

CheckConsoles() {
  local target
  for target in "${windowsTargets[@]}"; do
    CheckConsoleCodePage "$target"
    CheckOwnConsole "$target"
  done
}

main() {
  local started=$SECONDS
  InstallTools
  BuildAll
  rm -rf "$kWork"
  mkdir -p "$kWork"
  StartWine
  local ran
  if [ "${#windowsTargets[@]}" -eq 1 ]; then
    ran="x64 only"
    echo "Under Wine: x64 ONLY. $wineWithout32Bit, so the i686 executables, the ones handed"
    echo "out, are built but NOT run here."
    echo "Their code runs in the 32-bit Linux build's tests under qemu-i386 (scripts/i686-check.sh)."
  else
    ran="i686 and x64"
    echo "Under Wine: i686 and x64 (this kernel runs 32-bit x86 programs)"
  fi
  CompareFrontEnd
  CompareSamples
  ComparePacking
  CompareWorkbooks
  CompareUnicodePaths
  CompareTestDatabases
  CheckConsoles
  echo "Executables (bytes):"
  local executable
  for executable in build/windows-{i686,x64}/{grimdex,lorudex,nodedump}/*.exe; do
    if [ -f "$executable" ]; then echo "  $(stat -c %s "$executable") $executable"; fi
  done
  echo "Took $((SECONDS - started)) s"
  echo "Ran under Wine: $ran"
  ChecksSummary windows-check
}

main "$@"
