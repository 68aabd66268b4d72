# SPDX-License-Identifier: MIT
# Flags every target of the project links to.
add_library(lumarex_flags INTERFACE)

if(MSVC)
  # /fp:precise keeps float expressions as written; contraction off.
  target_compile_options(lumarex_flags INTERFACE /fp:precise /fp:contract- /W4)
else()
  # Bit-exact float arithmetic: never fuse a multiply and an add, never
  # reassociate. The tests check that both are in force.
  target_compile_options(lumarex_flags INTERFACE
    -ffp-contract=off -fno-fast-math -fno-unsafe-math-optimizations
    -Wall -Wextra)
  if(LUMAREX_WERROR)
    target_compile_options(lumarex_flags INTERFACE -Werror)
  endif()
  if(LUMAREX_FUZZ)
    # Coverage for libFuzzer in every target; the harnesses add the fuzzer's
    # runtime (-fsanitize=fuzzer) where they link. Comparisons are not traced:
    # most of the library's sit in per-pixel and per-bin loops, where tracing
    # them took half of every run; the values worth trying (the int32 limits,
    # full scales) come from the harnesses' dictionary instead.
    target_compile_options(lumarex_flags INTERFACE
      -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-coverage=trace-cmp
      -fno-sanitize-recover=all -fsanitize=float-cast-overflow -fno-omit-frame-pointer)
    target_link_options(lumarex_flags INTERFACE -fsanitize=address,undefined)
  elseif(LUMAREX_SANITIZE)
    target_compile_options(lumarex_flags INTERFACE
      -fsanitize=address,undefined -fno-sanitize-recover=all
      -fsanitize=float-cast-overflow -fno-omit-frame-pointer)
    target_link_options(lumarex_flags INTERFACE -fsanitize=address,undefined)
  endif()
endif()

if(LUMAREX_ODR_CHECK)
  # Two different definitions of one type in two files link without a word
  # (the linker sees symbols, not types); with link-time optimisation GCC
  # compares every type across the files it links and names the one that
  # breaks the one-definition rule. The check builds' code is the same
  # arithmetic (contraction and fast maths stay off), so the suite and its
  # checksums run there unchanged.
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "LUMAREX_ODR_CHECK needs GCC")
  endif()
  set(CMAKE_INTERPROCEDURAL_OPTIMIZATION ON)
  target_link_options(lumarex_flags INTERFACE -Werror=odr -Werror=lto-type-mismatch)
endif()

if(MINGW)
  # The MinGW runtime (libgcc, libstdc++, winpthread) goes inside each DLL and
  # program: no image editor ships libstdc++-6.dll, and a DLL that imports it
  # would not load on a user's machine. What remains imported is Windows'
  # own (KERNEL32, USER32, msvcrt); scripts/check-windows-build.sh checks it.
  target_link_options(lumarex_flags INTERFACE -static)
endif()

if(LUMAREX_HOST_SDK_INCLUDE)
  # Use the real host SDK: its filter record replaces Lumarex's stand-in.
  target_include_directories(lumarex_flags INTERFACE ${LUMAREX_HOST_SDK_INCLUDE})
  target_compile_definitions(lumarex_flags INTERFACE LUMAREX_HOST_SDK_HEADER=<PIFilter.h>)
endif()

# A front end of the command (the command itself, the Python module, the GIMP
# plug-in, the quality tool) links the command's parts with the project's
# flags, and has the stand-in noise library built with it: the library loads
# it from beside itself at run time, so no link names it.
function(lumarex_front_end target)
  target_link_libraries(${target} PRIVATE lumarex_cli_parts lumarex_flags ${ARGN})
  if(TARGET noiselib17)
    add_dependencies(${target} noiselib17)
  endif()
endfunction()

# GoogleTest's and OpenImageIO's headers take two to five seconds to parse
# in every file that includes them; a target whose files mostly do parses
# them once. Each file still includes what it uses, so the build is the
# same without (-DLUMAREX_PRECOMPILED_HEADERS=OFF).
function(lumarex_precompile target)
  if(LUMAREX_PRECOMPILED_HEADERS)
    target_precompile_headers(${target} PRIVATE ${ARGN})
  endif()
endfunction()

