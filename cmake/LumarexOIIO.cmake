# SPDX-License-Identifier: MIT
# Finds OpenImageIO as OpenImageIO::OpenImageIO, through its pkg-config file:
# the library and its headers, nothing else. Debian's CMake package files
# for it also import the command-line tools (iconvert, oiiotool ... from
# openimageio-tools) and fail the configure when they are not installed, and
# list include directories of optional dependencies (OpenCV); the build needs
# none of that.
if(NOT TARGET OpenImageIO::OpenImageIO)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LX_OPENIMAGEIO REQUIRED IMPORTED_TARGET GLOBAL OpenImageIO)
  add_library(OpenImageIO::OpenImageIO ALIAS PkgConfig::LX_OPENIMAGEIO)
endif()
