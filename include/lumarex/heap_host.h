/* SPDX-License-Identifier: MIT
 * A host for use without an image editor: a FilterRecord whose buffer suite
 * takes its blocks from the process heap. The `lumarex` command, the tests
 * and the benchmarks use it. It lives in its own static library
 * (lumarex_heap_host), not in the shared library's export table.
 */
#ifndef LUMAREX_HEAP_HOST_H
#define LUMAREX_HEAP_HOST_H

#include <stdint.h>

#include "lumarex/host_sdk.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The process-wide heap-backed record, ready to hand to SetFilterRecord.
 * Its buffer procedures are thread-safe. */
FilterRecord* LxHeapHostRecord(void);
/* The heap host's buffer suite, for hosts that wrap it. */
BufferProcs* LxHeapHostProcs(void);
/* Blocks allocated through the heap host and not yet freed. */
int64_t LxHeapHostLiveBlocks(void);

#ifdef __cplusplus
}
#endif

#endif /* LUMAREX_HEAP_HOST_H */
