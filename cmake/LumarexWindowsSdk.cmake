# SPDX-License-Identifier: MIT
# The Windows SDK folder and its zip (target lumarex_sdk): lumarex.dll,
# NoiseLib17.dll, the public headers, an import library for MSVC's and
# MinGW's linkers, the .def it was made from, and README-windows.txt.
#
# The import library maps each name of the header onto the DLL's export
# name (SetFilterRecord onto _SetFilterRecord and so on). Its .def is made
# from the DLL's own: "_Name = Name" there becomes "Name == _Name" here,
# dlltool's way of saying "imported as Name, exported as _Name".
find_program(LX_DLLTOOL NAMES x86_64-w64-mingw32-dlltool dlltool REQUIRED)

set(LX_SDK_NAME lumarex-${PROJECT_VERSION}-win64)
set(LX_SDK_DIR ${CMAKE_BINARY_DIR}/${LX_SDK_NAME})
set(LX_SDK_ZIP ${CMAKE_BINARY_DIR}/${LX_SDK_NAME}.zip)

file(STRINGS ${PROJECT_SOURCE_DIR}/src/api/lumarex.def lx_def_lines)
set(lx_import_def "LIBRARY lumarex.dll\nEXPORTS\n")
foreach(line IN LISTS lx_def_lines)
  if(line MATCHES "^[ \t]+_([A-Za-z0-9]+)[ \t]*=[ \t]*([A-Za-z0-9]+)[ \t]*$")
    string(APPEND lx_import_def "    ${CMAKE_MATCH_2} == _${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^[ \t]+([A-Za-z0-9]+)[ \t]*$")
    string(APPEND lx_import_def "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/lumarex-import.def CONTENT "${lx_import_def}")

set(LX_VERSION ${PROJECT_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README-windows.txt
               ${CMAKE_BINARY_DIR}/README-windows.txt @ONLY NEWLINE_STYLE CRLF)

add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/lumarex.lib
  COMMAND ${LX_DLLTOOL} --input-def ${CMAKE_BINARY_DIR}/lumarex-import.def --dllname lumarex.dll
          --machine i386:x86-64 --output-lib ${CMAKE_BINARY_DIR}/lumarex.lib
  DEPENDS ${CMAKE_BINARY_DIR}/lumarex-import.def
  COMMENT "Making the import library lumarex.lib")

add_custom_command(OUTPUT ${LX_SDK_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${LX_SDK_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${LX_SDK_DIR}/include/lumarex
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:lumarex> $<TARGET_FILE:noiselib17>
          ${CMAKE_BINARY_DIR}/lumarex.lib ${CMAKE_BINARY_DIR}/README-windows.txt ${LX_SDK_DIR}/
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/lumarex-import.def ${LX_SDK_DIR}/lumarex.def
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/include/lumarex/lumarex.h
          ${PROJECT_SOURCE_DIR}/include/lumarex/host_sdk.h ${LX_SDK_DIR}/include/lumarex/
  COMMAND ${CMAKE_COMMAND} -E tar cf ${LX_SDK_ZIP} --format=zip -- ${LX_SDK_NAME}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  DEPENDS lumarex noiselib17 ${CMAKE_BINARY_DIR}/lumarex.lib ${CMAKE_BINARY_DIR}/README-windows.txt
          ${PROJECT_SOURCE_DIR}/include/lumarex/lumarex.h ${PROJECT_SOURCE_DIR}/include/lumarex/host_sdk.h
  COMMENT "Packing ${LX_SDK_NAME}.zip")
add_custom_target(lumarex_sdk DEPENDS ${LX_SDK_ZIP})
