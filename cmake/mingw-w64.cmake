# Shared part of the Windows cross toolchains: Debian's MinGW-w64, posix thread variant, linked
# statically so that each .exe runs on any Windows with nothing installed. Set kMingwTriplet first.
set(CMAKE_SYSTEM_NAME Windows)

# Debian installs a win32 and a posix thread variant; the unsuffixed names are the win32 one.
set(CMAKE_C_COMPILER ${kMingwTriplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${kMingwTriplet}-g++-posix)
set(CMAKE_RC_COMPILER ${kMingwTriplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${kMingwTriplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# zlib from Debian's libz-mingw-w64-dev, linked in rather than beside the program as a DLL.
set(ZLIB_USE_STATIC_LIBS ON)
