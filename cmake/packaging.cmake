# What `cmake --install` adds to the programs, and the release files `cpack` makes of it all.
#
# The programs are whatever the subfolders install with install(TARGETS ...); nothing here lists
# them. A program's manual page is <folder>/<program>.1 beside its sources, and every such page
# must belong to a program (CI checks the other way round: every packaged program has a page).
#
# Linux: the programs in bin/, their manual pages gzipped in share/man/man1/; `cpack` makes the
#   Debian package marrowfjords-unpackers_VERSION_ARCH.deb, programs in /usr/bin.
# Windows: the programs and README.txt (CR LF lines, made from README.md) at the top; `cpack` makes
#   marrowfjords-unpackers-VERSION-win32.zip (32-bit) or -win64.zip.
# VERSION is the project version of CMakeLists.txt, as in the banners and --version.

set(kPackageName marrowfjords-unpackers)

if(WIN32)
  # Made from README.md, whose drop text and commands it holds.
  include(${PROJECT_SOURCE_DIR}/cmake/windows_readme.cmake)
  WriteWindowsReadme(${PROJECT_SOURCE_DIR}/README.md
                     ${PROJECT_SOURCE_DIR}/packaging/README-windows.txt.in
                     ${CMAKE_CURRENT_BINARY_DIR}/README.txt)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)
else()
  file(GLOB manualPages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/*/*.1)
  set(gzippedPages "")
  foreach(page IN LISTS manualPages)
    get_filename_component(program ${page} NAME_WE)
    if(NOT TARGET ${program})
      message(FATAL_ERROR "${page} is the manual page of no program: there is no target ${program}")
    endif()
    configure_file(${page} man/${program}.1 @ONLY)
    add_custom_command(OUTPUT man/${program}.1.gz
      COMMAND gzip -9 --no-name --keep --force ${program}.1
      DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMENT "Compressing the manual page of ${program}")
    list(APPEND gzippedPages ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1.gz)
  endforeach()
  add_custom_target(manual_pages ALL DEPENDS ${gzippedPages})
  install(FILES ${gzippedPages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME ${kPackageName})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Marrowfjords unpackers")
set(CPACK_PACKAGE_CONTACT "Marrowfjords unpackers project")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "unpack the Marrowfjords spell and quest databases into tab-separated tables")
set(CPACK_SOURCE_GENERATOR "")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME ${kPackageName}-${PROJECT_VERSION}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME ${kPackageName}-${PROJECT_VERSION}-win64)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends from the programs' libraries (dpkg-dev)
  # After the summary, the long description.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "grimdex unpacks the spell database spells.sdb of the role-playing game Marrowfjords into five
tab-separated tables, lorudex the quest database quests.qdb into two, ready to be opened in a
spreadsheet; nodedump shows how any such database is built and where it is damaged.")
endif()
include(CPack)
