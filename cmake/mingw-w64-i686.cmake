# Cross toolchain for 32-bit Windows executables, the tools' primary target.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(kMingwTriplet i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
