# SPDX-License-Identifier: MIT
# `cmake --install`: the shared library (with its SONAME) and the noise
# library beside it, the public headers, the heap host, the lumarex command
# and its manual page, a CMake package (find_package(Lumarex CONFIG) gives
# Lumarex::lumarex and Lumarex::heap_host) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(LX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Lumarex)

target_include_directories(lumarex PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_include_directories(lumarex_heap_host PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(lumarex_heap_host PROPERTIES EXPORT_NAME heap_host OUTPUT_NAME lumarex_heap_host)

install(TARGETS lumarex lumarex_heap_host EXPORT LumarexTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The noise library is loaded from beside the Lumarex library at start-up.
if(TARGET noiselib17)
  install(TARGETS noiselib17
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES include/lumarex/lumarex.h include/lumarex/host_sdk.h include/lumarex/heap_host.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/lumarex)

install(EXPORT LumarexTargets NAMESPACE Lumarex:: DESTINATION ${LX_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/LumarexConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/LumarexConfig.cmake INSTALL_DESTINATION ${LX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/LumarexConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/LumarexConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/LumarexConfigVersion.cmake
        DESTINATION ${LX_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so that
# `cmake --install --prefix P` gives a file that is right under P.
file(RELATIVE_PATH LX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" LX_PC_TO_PREFIX "${LX_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/lumarex.pc.in ${CMAKE_CURRENT_BINARY_DIR}/lumarex.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/lumarex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET lumarex_cli)
  # The command finds the library in ../lib wherever the prefix is.
  file(RELATIVE_PATH LX_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(lumarex_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${LX_BIN_TO_LIB}")
  install(TARGETS lumarex_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Its manual page, made from its own help texts (with help2man, when
  # there; -DLUMAREX_MANPAGE=OFF does not look for it).
  option(LUMAREX_MANPAGE "Write the command's manual page with help2man" ON)
  if(LUMAREX_MANPAGE)
    find_program(HELP2MAN help2man)
  endif()
  if(LUMAREX_MANPAGE AND HELP2MAN)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/lumarex.1
      COMMAND ${CMAKE_COMMAND} -DLUMAREX=$<TARGET_FILE:lumarex_cli> -DOUT=${CMAKE_BINARY_DIR}/lumarex-commands.h2m
              -P ${CMAKE_CURRENT_LIST_DIR}/LumarexManSections.cmake
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1
              "--name=automatic photo correction" --include=${CMAKE_CURRENT_LIST_DIR}/lumarex.h2m
              --include=${CMAKE_BINARY_DIR}/lumarex-commands.h2m
              --output=${CMAKE_BINARY_DIR}/lumarex.1 $<TARGET_FILE:lumarex_cli>
      DEPENDS lumarex_cli ${CMAKE_CURRENT_LIST_DIR}/lumarex.h2m ${CMAKE_CURRENT_LIST_DIR}/LumarexManSections.cmake
      COMMENT "Writing the manual page lumarex.1")
    add_custom_target(lumarex_manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/lumarex.1)
    install(FILES ${CMAKE_BINARY_DIR}/lumarex.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  elseif(LUMAREX_MANPAGE)
    message(STATUS "help2man not found: no manual page")
  endif()
endif()
