#!/usr/bin/env bash
# Builds everything in the release preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
EnsurePackages "${kBuildPackages[@]}"
EnsureCommaLocale
cmake --preset release
cmake --build --preset release
ctest --preset release
