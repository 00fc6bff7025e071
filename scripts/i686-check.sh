#!/usr/bin/env bash
# The 32-bit code on every machine: builds the tools and all their tests for 32-bit x86 Linux
# with the code generation of the i686 Windows build (preset linux-i686) and runs the whole test
# suite under qemu-i386, which needs no 32-bit support from the kernel. The test executables are
# statically linked; the whole-program tests start the built programs through qemu-i386 too.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
# googletest: GoogleTest's sources (/usr/src/googletest), built for 32 bits by the preset.
EnsurePackages "${kBuildPackages[@]}" googletest g++-multilib lib32z1-dev qemu-user \
  g++-mingw-w64-i686-posix
EnsureCommaLocale

kBuild=build/linux-i686
kWindowsCompiler=i686-w64-mingw32-g++-posix

# The options and predefined macros that decide the generated code, as a compiler sees them.
CodeSettings() {
  "$@" -Q --help=target |
    grep -E '^\s+-m(arch=|tune=|fpmath=|80387|sse|avx|mmx|3dnow|long-double-|fp-ret-in-387|ieee-fp)' |
    tr -s ' \t' ' '
  # wchar_t is 2 bytes on Windows, 4 on Linux: a matter of the platform, not of the code.
  "$@" -dM -E -x c++ /dev/null |
    grep -E '__FLT_EVAL_METHOD|__SIZEOF_|__SSE|__MMX__|__AVX|__i[3-6]86__|__pentium|__LDBL_|__DBL_|__FLT_|__SIZE_MAX__|__x86_64' |
    grep -vE '__SIZEOF_W(CHAR|INT)_T__' | sort
}

# The Linux build's compiler flags must give the Windows i686 compiler's code generation.
CheckCodeGeneration() {
  local flags
  flags="$(sed -n 's/^CMAKE_CXX_FLAGS:STRING=//p' "$kBuild/CMakeCache.txt")"
  # shellcheck disable=SC2086 # the flags are separate words
  if ! diff <(CodeSettings "$kWindowsCompiler") <(CodeSettings g++ $flags); then
    echo "FAIL: g++ $flags does not generate the code of $kWindowsCompiler (< Windows, > Linux)"
    exit 1
  fi
  echo "Code generation as $kWindowsCompiler: g++ $flags"
  "$kWindowsCompiler" -Q --help=target | grep -E '^\s+-m(arch=|fpmath=|sse |80387)' | tr -s ' \t' ' '
}

# Fresh: the flags come from the toolchain file, never from an older cache.
cmake --preset linux-i686 --fresh >/dev/null
CheckCodeGeneration
cmake --build --preset linux-i686
ctest --preset linux-i686
