# SPDX-License-Identifier: MIT
# Configures and builds the library and the heap host against the SDK
# headers in SDK_DIR, in BINARY_DIR. Unoptimised and with the plain kernels
# only: the SDK's records touch the host layer, not the SIMD kernels.
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} -G ${GENERATOR}
          -DCMAKE_BUILD_TYPE=Debug -DLUMAREX_PLAIN=ON -DLUMAREX_HOST_SDK_INCLUDE=${SDK_DIR}
          -DLUMAREX_BUILD_TESTS=OFF -DLUMAREX_BUILD_TOOLS=OFF -DLUMAREX_BUILD_BENCH=OFF
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configure with LUMAREX_HOST_SDK_INCLUDE=${SDK_DIR} failed")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} -j2 --target lumarex lumarex_heap_host noiselib17
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "build against the SDK headers in ${SDK_DIR} failed")
endif()
