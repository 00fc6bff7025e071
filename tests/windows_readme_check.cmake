# Checks the Windows zip's README.txt as cmake/windows_readme.cmake makes it from README.md: its
# first paragraph says how to drop a database on an unpacker and a workbook on a packer; its
# commands are the programs' .exe names with README.md's options (several sources, --dry-run,
# --strict, --code-page); every line ends in CR LF and no placeholder is left. A README.md without
# its marks makes no README.txt at all.
# Usage: cmake -D SOURCE_DIR=... -D WORK_DIR=... -P windows_readme_check.cmake
cmake_minimum_required(VERSION 3.25)
include(${SOURCE_DIR}/cmake/windows_readme.cmake)

function(Fail what)
  message(SEND_ERROR "README.txt: ${what}")
endfunction()

file(MAKE_DIRECTORY ${WORK_DIR})
set(PROJECT_VERSION 0.0.0-check)
set(readmeTxt ${WORK_DIR}/README.txt)
WriteWindowsReadme(${SOURCE_DIR}/README.md ${SOURCE_DIR}/packaging/README-windows.txt.in
                   ${readmeTxt})
# CR LF everywhere: as many CR LF pairs as line feeds, counted in the file's bytes (file(READ)
# without HEX drops the CRs), and nothing left to replace.
file(READ ${readmeTxt} hex HEX)
string(REGEX REPLACE "(..)" " \\1" bytes "${hex}")
string(REGEX MATCHALL " 0a" lineFeeds "${bytes}")
string(REGEX MATCHALL " 0d 0a" lineEnds "${bytes}")
list(LENGTH lineFeeds lineFeedCount)
list(LENGTH lineEnds lineEndCount)
if(NOT lineFeedCount EQUAL lineEndCount OR lineFeedCount LESS 100)
  Fail("${lineEndCount} of its ${lineFeedCount} lines end in CR LF")
endif()
file(READ ${readmeTxt} text)
string(REGEX MATCH "@[A-Z_]+@" placeholder "${text}")
if(NOT (placeholder STREQUAL ""))
  Fail("${placeholder} is left in it")
endif()

# The first paragraph after the title: the drops.
string(FIND "${text}" "\n\n" titleEnd)
math(EXPR paragraphStart "${titleEnd} + 2")
string(SUBSTRING "${text}" ${paragraphStart} -1 afterTitle)
string(FIND "${afterTitle}" "\n\n" paragraphLength)
string(SUBSTRING "${afterTitle}" 0 ${paragraphLength} firstParagraph)
foreach(words IN ITEMS "drop spells.sdb" "grimdex.exe" "lorudex.exe" "drop it on grimpack.exe"
                       "lorupack.exe" "spells (packed).sdb" "as spells.sdb" "waits for a key")
  string(FIND "${firstParagraph}" "${words}" at)
  if(NOT (at GREATER_EQUAL 0))
    Fail("the first paragraph does not say \"${words}\"")
  endif()
endforeach()
string(FIND "${firstParagraph}" "`" backtick)
if(NOT (backtick EQUAL -1))
  Fail("the first paragraph keeps Markdown's backticks")
endif()

# The commands: each program by its .exe name, none by its bare name, with today's options.
string(FIND "${text}" "Commands\n--------\n" commandsStart)
if(NOT (commandsStart GREATER_EQUAL 0))
  Fail("there is no Commands section")
endif()
if(commandsStart EQUAL -1)
  message(FATAL_ERROR "README.txt: there is no Commands section")
endif()
string(SUBSTRING "${text}" ${commandsStart} -1 commands)
string(FIND "${commands}" "\n\n\n" commandsEnd)
string(SUBSTRING "${commands}" 0 ${commandsEnd} commands)
foreach(line IN ITEMS "  grimdex.exe spells.sdb [output folder]\n"
                      "  lorudex.exe [--code-page N] quests.qdb quests.xlsx\n"
                      "  grimpack.exe ORIGINAL.sdb WORKBOOK.xlsx NEW.sdb\n"
                      " ORIGINAL.sdb SOURCE... NEW.sdb\n" " ORIGINAL.qdb SOURCE... NEW.qdb\n"
                      "  nodedump.exe [--depth N]")
  string(FIND "${commands}" "${line}" at)
  if(NOT (at GREATER_EQUAL 0))
    Fail("the commands lack \"${line}\"")
  endif()
endforeach()
foreach(option IN ITEMS "--dry-run" "--strict" "--no-new" "--changes FILE")
  string(FIND "${commands}" "${option}" at)
  if(NOT (at GREATER_EQUAL 0))
    Fail("the commands lack ${option}")
  endif()
endforeach()
string(REGEX MATCH "\n  (grimdex|lorudex|grimpack|lorupack|nodedump) " bareName "${commands}")
if(NOT (bareName STREQUAL ""))
  Fail("a command names a program without .exe:${bareName}")
endif()

# A README.md without the marks: the script fails and writes nothing.
file(WRITE ${WORK_DIR}/unmarked.md "# A README\n\n```sh\ngrimdex spells.sdb\n```\n")
file(REMOVE ${WORK_DIR}/unmarked.txt)
execute_process(
  COMMAND ${CMAKE_COMMAND} -D README=${WORK_DIR}/unmarked.md
          -D TEMPLATE=${SOURCE_DIR}/packaging/README-windows.txt.in
          -D OUTPUT=${WORK_DIR}/unmarked.txt -D PROJECT_VERSION=0
          -P ${SOURCE_DIR}/cmake/windows_readme.cmake
  RESULT_VARIABLE unmarkedStatus OUTPUT_QUIET ERROR_QUIET)
if(NOT (NOT unmarkedStatus EQUAL 0))
  Fail("a README.md without marks made one")
endif()
if(NOT (NOT EXISTS ${WORK_DIR}/unmarked.txt))
  Fail("a README.md without marks left a file")
endif()
