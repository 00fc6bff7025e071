#!/usr/bin/env bash
# Makes a release from the committed sources (HEAD) in a clean tree: the Debian package of the
# Linux programs (cpack --preset deb) and the zip of the 32-bit Windows programs with README.txt
# (cpack --preset win32-zip). Checks both as a user gets them (scripts/package-check.sh), copies
# them into the output folder and prints them with their SHA-256 sums. The version in the file
# names is the project version of CMakeLists.txt.
# Usage: bash scripts/release.sh [--this-tree] [output folder, default dist/]
# --this-tree: this checkout is the clean tree (nothing changed, nothing untracked, as in a fresh
# clone), and its builds build/release and build/windows-i686 are used, built where they are
# behind: a run that has built and tested them already does not build them again.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
source scripts/products.sh
EnsurePackages "${kBuildPackages[@]}" g++-mingw-w64-i686-posix libz-mingw-w64-dev dpkg-dev

thisTree=""
if [ "${1:-}" = "--this-tree" ]; then
  thisTree=yes
  shift
fi
output=${1:-dist}
commit=$(git rev-parse HEAD)

if [ -n "$thisTree" ]; then
  if [ -n "$(git status --porcelain)" ]; then
    echo "FAIL: --this-tree needs a checkout with nothing changed or untracked:"
    git status --short
    exit 1
  fi
  source=$PWD
  configureOptions=()
else
  if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "Note: the release is built from commit $commit; uncommitted changes are not in it."
  fi
  source=$(mktemp -d)
  trap 'rm -rf "$source"' EXIT
  git archive HEAD | tar -x -C "$source"
  configureOptions=(-D UNPACKER_BUILD_TESTS=OFF -D UNPACKER_BUILD_TOOLS=OFF)
fi

# The release files hold what the programs' targets and the manual pages install: what else a
# build of this tree holds (tests, tools) is neither built nor packaged.
echo "== Linux programs and their Debian package, in a clean tree of $commit"
(
  cd "$source"
  cmake --preset release "${configureOptions[@]}" >/dev/null
  cmake --build --preset release --target "${kPrograms[@]}" manual_pages
  cpack --preset deb
)
echo "== 32-bit Windows programs and their zip"
(
  cd "$source"
  cmake --preset windows-i686 >/dev/null
  cmake --build --preset windows-i686 --target "${kPrograms[@]}"
  cpack --preset win32-zip
)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$source/build/release/CMakeCache.txt")
files=("$source"/build/release/marrowfjords-unpackers_"$version"_*.deb
       "$source/build/windows-i686/marrowfjords-unpackers-$version-win32.zip")
mkdir -p "$output"
cp "${files[@]}" "$output/"
deb="$output/${files[0]##*/}"
zip="$output/${files[1]##*/}"

bash scripts/package-check.sh "$version" "$deb" "$zip"

echo
echo "Release $version of commit $commit, in $output/:"
(cd "$output" && sha256sum "${deb##*/}" "${zip##*/}")
