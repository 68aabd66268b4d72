# SPDX-License-Identifier: MIT
# The library takes no locks: nothing it links against may be a lock, a
# one-time initialiser or a guarded static (whose first use takes a lock).
# Usage: cmake -DLIBRARY=<liblumarex.so> -P check_no_locks.cmake
execute_process(COMMAND nm -D --undefined-only ${LIBRARY}
                OUTPUT_VARIABLE imports RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^ \n]*(__cxa_guard_acquire|pthread_mutex_lock|pthread_once|pthread_rwlock|pthread_spin_lock|call_once|sem_wait)[^ \n]*"
       locks "${imports}")
if(locks)
  message(FATAL_ERROR "the library imports locking functions: ${locks}")
endif()
