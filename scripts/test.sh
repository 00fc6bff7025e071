#!/usr/bin/env bash
# Builds everything in the test preset (the release optimisation, file by file) and runs every
# test. CI runs them on the release build too, whose programs are optimised as a whole.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
EnsurePackages "${kBuildPackages[@]}"
EnsureCommaLocale
cmake --preset test
cmake --build --preset test
ctest --preset test
