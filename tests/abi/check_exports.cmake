# SPDX-License-Identifier: MIT
# Compares the dynamic symbol table of LIBRARY with the names in EXPECTED.
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; skip version-node entries (type A).
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) ([^ @]+)")
    if(NOT CMAKE_MATCH_1 STREQUAL "A")
      list(APPEND found "${CMAKE_MATCH_2}")
    endif()
  endif()
endforeach()
list(SORT found)
file(STRINGS ${EXPECTED} expected)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "export table differs\n  expected: ${expected}\n  found:    ${found}")
endif()
message(STATUS "export table: ${found}")
