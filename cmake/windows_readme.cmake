# README.txt of the Windows zip, made from README.md so that the two cannot say different things:
# packaging/README-windows.txt.in with @DROP_TEXT@ replaced by the text of README.md between the
# lines "<!-- README.txt: drop -->" and "<!-- README.txt: end -->" (how to drop a file on a program,
# without Markdown's backticks), and @COMMANDS@ by the lines of each ```sh block that follows a
# line "<!-- README.txt: commands -->", in their order, indented, the program that each line begins
# with named as its .exe.
# A missing or empty part is an error, not an empty section.
#
# Included: WriteWindowsReadme(README.md template output). As a script (cmake -P), with README,
# TEMPLATE, OUTPUT and PROJECT_VERSION defined, it writes OUTPUT.

set(kReadmeDropStart "<!-- README.txt: drop -->\n")
set(kReadmeDropEnd "\n<!-- README.txt: end -->")
set(kReadmeCommandsMark "<!-- README.txt: commands -->\n```sh\n")

# The text of `readme` between `start` and the next `end`, from `from` on, into `text`, and where
# the search goes on after it into `next`; -1 in `next` when there is no such text.
function(ReadmeTextBetween readme start end from text next)
  string(SUBSTRING "${readme}" ${from} -1 rest)
  string(FIND "${rest}" "${start}" at)
  if(at EQUAL -1)
    set(${next} -1 PARENT_SCOPE)
    return()
  endif()
  string(LENGTH "${start}" startLength)
  math(EXPR begin "${at} + ${startLength}")
  string(SUBSTRING "${rest}" ${begin} -1 after)
  string(FIND "${after}" "${end}" length)
  if(length EQUAL -1)
    message(FATAL_ERROR "README.md: \"${start}\" without \"${end}\" after it")
  endif()
  string(SUBSTRING "${after}" 0 ${length} found)
  string(LENGTH "${end}" endLength)
  math(EXPR afterEnd "${from} + ${begin} + ${length} + ${endLength}")
  set(${text} "${found}" PARENT_SCOPE)
  set(${next} ${afterEnd} PARENT_SCOPE)
endfunction()

function(WriteWindowsReadme readmePath templatePath outputPath)
  file(READ "${readmePath}" readme)
  ReadmeTextBetween("${readme}" "${kReadmeDropStart}" "${kReadmeDropEnd}" 0 dropText next)
  if(next EQUAL -1 OR dropText STREQUAL "")
    message(FATAL_ERROR "README.md has no text marked ${kReadmeDropStart}")
  endif()
  # configure_file ends the template's lines in CR LF, and the inserted lines by this.
  string(REPLACE "`" "" dropText "${dropText}")
  string(REPLACE "\n" "\r\n" DROP_TEXT "${dropText}")

  set(commands "")
  set(from 0)
  ReadmeTextBetween("${readme}" "${kReadmeCommandsMark}" "\n```" ${from} block from)
  while(from GREATER_EQUAL 0)
    # Each line of such a block begins with a program's name.
    string(REGEX REPLACE "(^|\n)([a-z]+) " "\\1\\2.exe " block "${block}")
    string(REPLACE "\n" "\n  " block "  ${block}")
    if(NOT commands STREQUAL "")
      string(APPEND commands "\n")
    endif()
    string(APPEND commands "${block}")
    ReadmeTextBetween("${readme}" "${kReadmeCommandsMark}" "\n```" ${from} block from)
  endwhile()
  if(commands STREQUAL "")
    message(FATAL_ERROR "README.md has no command block marked ${kReadmeCommandsMark}")
  endif()
  string(REPLACE "\n" "\r\n" COMMANDS "${commands}")
  configure_file("${templatePath}" "${outputPath}" @ONLY NEWLINE_STYLE CRLF)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  WriteWindowsReadme("${README}" "${TEMPLATE}" "${OUTPUT}")
endif()
