# 32-bit x86 Linux with the code generation of the i686 Windows build, so that the 32-bit code
# that users run on Windows is tested on every machine. GCC 12's i686-w64-mingw32 defaults are
# -march=pentiumpro (GCC's name for i686) -mtune=generic, x87 floating point (-mfpmath=387, no
# SSE, excess precision: FLT_EVAL_METHOD 2), 80-bit long double, 32-bit size_t and no __int128.
# They are pinned here rather than taken from the compiler's -m32 defaults, and
# scripts/i686-check.sh compares both compilers' settings before it builds. -malign-double, on
# by default for Windows, stays off: an ABI choice that Linux' C library does not share, it moves
# doubles in structures, not arithmetic.
#
# Linked statically, the programs and tests run under qemu-i386 (Debian's qemu-user) on any
# x86-64 machine, without an i386 C library and whether or not the kernel runs 32-bit programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(kI686Flags "-m32 -march=pentiumpro -mtune=generic -mfpmath=387 -mno-sse")
set(CMAKE_C_FLAGS_INIT "${kI686Flags}")
set(CMAKE_CXX_FLAGS_INIT "${kI686Flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")

# zlib's 32-bit static library from Debian's lib32z1-dev; its headers are the 64-bit build's.
set(ZLIB_LIBRARY /usr/lib32/libz.a)
set(ZLIB_INCLUDE_DIR /usr/include)

# ctest runs the test executables through it; the whole-program tests start the built programs
# through it too (tests/program_run.h), as no kernel without binfmt_misc would.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-i386)
