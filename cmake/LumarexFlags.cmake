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
  if(LUMAREX_SANITIZE)
    target_compile_options(lumarex_flags INTERFACE
      -fsanitize=address,undefined -fno-sanitize-recover=all
      -fsanitize=float-cast-overflow -fno-omit-frame-pointer)
    target_link_options(lumarex_flags INTERFACE -fsanitize=address,undefined)
  endif()
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
