# SPDX-License-Identifier: MIT
# Finds OpenImageIO. Debian's package config lists include directories of
# optional dependencies (OpenCV) that need not be installed; drop the ones
# that do not exist so that CMake accepts the imported target.
if(NOT TARGET OpenImageIO::OpenImageIO)
  find_package(OpenImageIO CONFIG REQUIRED)
  foreach(tgt OpenImageIO::OpenImageIO OpenImageIO::OpenImageIO_Util)
    if(TARGET ${tgt})
      get_target_property(dirs ${tgt} INTERFACE_INCLUDE_DIRECTORIES)
      if(dirs)
        set(kept "")
        foreach(d IN LISTS dirs)
          if(EXISTS "${d}" OR d MATCHES "^\\$<")
            list(APPEND kept "${d}")
          endif()
        endforeach()
        set_target_properties(${tgt} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${kept}")
      endif()
    endif()
  endforeach()
endif()
