#!/usr/bin/env bash
# Checks the release files as a user gets them: installs the Debian package with dpkg -i into a
# clean folder tree and runs every program it holds from there (version, manual page, and the
# samples for the programs that unpack or dump them), then opens the Windows zip and checks its
# executables and README.txt.
# Usage: bash scripts/package-check.sh VERSION PACKAGE.deb PACKAGE-win32.zip
# The programs are those the package installs into /usr/bin: no list here to keep up to date.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
source scripts/checks.sh
EnsurePackages dpkg man-db binutils-mingw-w64-i686 cmake

if [ $# -ne 3 ]; then
  echo "Usage: bash scripts/package-check.sh VERSION PACKAGE.deb PACKAGE-win32.zip" >&2
  exit 2
fi
version=$1
deb=$(realpath "$2")
zip=$(realpath "$3")
kPackage=marrowfjords-unpackers


work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ---- The Debian package.

DebianFileName() { [[ "${deb##*/}" == "${kPackage}_${version}_"*.deb ]]; }
Expect "package file name ${deb##*/}: not ${kPackage}_${version}_<arch>.deb" DebianFileName
Expect "package version $(dpkg-deb -f "$deb" Version), not $version" \
  test "$(dpkg-deb -f "$deb" Version)" = "$version"

# A clean folder tree with a dpkg database of its own, holding only the packages the package
# depends on, as this machine has them: dpkg -i checks the dependencies and installs as on a
# real system, without touching this one.
InstallIntoFolderTree() {
  local root=$1 dependency architecture
  architecture=$(dpkg-deb -f "$deb" Architecture)
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
  touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
  for dependency in $(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/[|(].*//; s/ //g'); do
    [ -n "$dependency" ] || continue
    # Named with the package's architecture: a machine may hold libc6 of i386 too.
    if ! dpkg-query -s "$dependency:$architecture" >>"$root/var/lib/dpkg/status" 2>/dev/null &&
       ! dpkg-query -s "$dependency" >>"$root/var/lib/dpkg/status" 2>/dev/null; then
      Fail "the package depends on $dependency, which this machine lacks"
      continue
    fi
    echo >>"$root/var/lib/dpkg/status"
    local list
    for list in /var/lib/dpkg/info/"$dependency".list /var/lib/dpkg/info/"$dependency":*.list; do
      [ -f "$list" ] && cp "$list" "$root/var/lib/dpkg/info/"
    done
  done
  dpkg --root="$root" --force-not-root --log=/dev/null -i "$deb"
}

root="$work/root"
echo "== dpkg -i ${deb##*/} into a clean folder tree"
InstallIntoFolderTree "$root"
mapfile -t programs < <(dpkg --root="$root" -L "$kPackage" | grep '^/usr/bin/[^/]*$' | sort)
programs=("${programs[@]##*/}")
Expect "the package installs no program into /usr/bin" test ${#programs[@]} -gt 0
echo "Programs in /usr/bin: ${programs[*]}"

# Each program tells its version with --version or, without arguments, in its banner.
PrintsVersion() {
  local program=$1 output
  output="$("$program" --version 2>&1 || true)"
  [[ "$output" == *"$version"* ]] && return 0
  output="$("$program" 2>&1 || true)"
  [[ "$output" == *"$version"* ]]
}

# A manual page with its sections, the release's version, and no warning from groff.
GoodManualPage() {
  local page=$1 text warnings section
  text="$(MANWIDTH=100 man -l "$page" 2>/dev/null)" || return 1
  warnings="$(MANWIDTH=100 man --warnings -l "$page" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || { echo "$warnings"; return 1; }
  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLE; do
    grep -q "^$section" <<<"$text" || { echo "no section $section"; return 1; }
  done
  [[ "$text" == *"$version"* ]]
}

for program in "${programs[@]}"; do
  Expect "/usr/bin/$program does not run or does not tell version $version" \
    PrintsVersion "$root/usr/bin/$program"
  page="$root/usr/share/man/man1/$program.1.gz"
  if [ -f "$page" ]; then
    Expect "the manual page of $program" GoodManualPage "$page"
  else
    Fail "$program has no manual page /usr/share/man/man1/$program.1.gz"
  fi
done

# The programs that read the samples, on the samples: the same tables and dumps as the tests
# expect, and the samples packed back from their tables.
SameFiles() {
  diff -r "$1" "$2" >/dev/null || { diff -rq "$1" "$2" || true; return 1; }
}
for program in "${programs[@]}"; do
  case "$program" in
    grimdex | lorudex)
      sample=samples/spells.sdb
      [ "$program" = lorudex ] && sample=samples/quests.qdb
      rm -rf "$work/tables"
      Expect "$program on $sample" env LC_ALL=C "$root/usr/bin/$program" "$sample" "$work/tables"
      Expect "$program's tables of $sample" SameFiles "$work/tables" "samples/expected/$program"
      ;;
    grimpack | lorupack)
      sample=samples/spells.sdb tables=samples/expected/grimdex
      [ "$program" = lorupack ] && sample=samples/quests.qdb tables=samples/expected/lorudex
      rm -f "$work/packed"
      Expect "$program on $sample and its tables" \
        env LC_ALL=C "$root/usr/bin/$program" "$sample" "$tables" "$work/packed"
      Expect "$program packs the tables of $sample back into it" cmp "$work/packed" "$sample"
      ;;
    nodedump)
      "$root/usr/bin/$program" --depth 3 samples/spells.sdb >"$work/spells.dump" || true
      "$root/usr/bin/$program" samples/quests.qdb >"$work/quests.dump" || true
      Expect "nodedump of samples/spells.sdb" cmp "$work/spells.dump" \
        samples/expected/nodedump/spells.sdb.txt
      Expect "nodedump of samples/quests.qdb" cmp "$work/quests.dump" \
        samples/expected/nodedump/quests.qdb.txt
      ;;
  esac
done

# ---- The Windows zip: one folder holding an .exe of every program and README.txt.

echo "== ${zip##*/}"
top="$kPackage-$version-win32"
Expect "zip file name ${zip##*/}: not $top.zip" test "${zip##*/}" = "$top.zip"
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip")
expected="$(printf '%s\n' "$top/README.txt" "${programs[@]/#/$top/}" | sed '2,$s/$/.exe/' | sort)"
actual="$(cd "$work/zip" && find . -type f | sed 's|^\./||' | sort)"
if [ "$actual" = "$expected" ]; then
  Pass
else
  Fail "the zip holds other files than README.txt and the .exe of each program:"
  diff <(echo "$expected") <(echo "$actual") || true
fi

# 32-bit x86 console programs for Windows.
WindowsConsoleProgram() {
  local headers
  headers="$(i686-w64-mingw32-objdump -p "$1" 2>/dev/null)" || return 1
  grep -q 'file format pei-i386' <<<"$headers" && grep -q 'Subsystem.*Windows CUI' <<<"$headers"
}
for program in "${programs[@]}"; do
  exe="$work/zip/$top/$program.exe"
  [ -f "$exe" ] || continue
  Expect "$program.exe is no 32-bit x86 Windows console program" WindowsConsoleProgram "$exe"
done

readme="$work/zip/$top/README.txt"
if [ -f "$readme" ]; then
  EveryLineEndsInCrLf() { ! grep -q -v $'\r$' "$1"; }
  Expect "README.txt has lines without CR LF" EveryLineEndsInCrLf "$readme"
  Expect "README.txt does not name version $version" grep -q "$version" "$readme"
  for program in "${programs[@]}"; do
    Expect "README.txt does not name $program.exe" grep -q "$program\.exe" "$readme"
  done
  for part in "Exit status" "spreadsheet" "--dry-run" "--strict" "SOURCE\.\.\."; do
    Expect "README.txt says nothing of: $part" grep -qi -- "$part" "$readme"
  done
  BeginsWithTheDrops() { head -n 12 "$1" | tr -d '\r' | tr '\n' ' ' | grep -q "drop it on grimpack.exe"; }
  Expect "README.txt does not begin with how to drop files on the programs" \
    BeginsWithTheDrops "$readme"
fi

ChecksSummary package-check
