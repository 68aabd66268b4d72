# SPDX-License-Identifier: MIT
# Regenerates the colour tables into FRESH and fails unless they equal the
# committed COMMITTED (line endings aside).
execute_process(COMMAND ${GENERATOR} ${FRESH} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lumarex_cubegen failed (${result})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files --ignore-eol ${FRESH} ${COMMITTED}
                RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${COMMITTED} differs from the generator's output ${FRESH}; "
                      "regenerate it with lumarex_cubegen")
endif()
