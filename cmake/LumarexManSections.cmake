# SPDX-License-Identifier: MIT
# cmake -P: writes a help2man include file with one section per command of
# `lumarex` (auto, correct, analyse, serve), each its own --help text, so that the
# manual page lists every option in the words the command uses.
#   -DLUMAREX=<the command> -DOUT=<file.h2m>
set(text "")
foreach(command auto correct analyse serve)
  execute_process(COMMAND ${LUMAREX} ${command} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${LUMAREX} ${command} --help failed")
  endif()
  # roff: backslashes and hyphens escaped, no line may start with a control
  # character; the text is shown as written (.nf), not refilled.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REPLACE "-" "\\-" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(TOUPPER ${command} title)
  string(APPEND text "[LUMAREX ${title}]\n.nf\n${help}.fi\n\n")
endforeach()
# The memory default depends on the machine the help runs on.
string(REGEX REPLACE "Default: half of this machine's memory, [0-9.]+" "Default: half of this machine's memory" text "${text}")
file(WRITE ${OUT} "${text}")
