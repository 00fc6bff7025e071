# Cross toolchain for 64-bit Windows executables, the second target.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(kMingwTriplet x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
