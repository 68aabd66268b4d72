/* SPDX-License-Identifier: MIT
 * Lumarex: a minimal stand-in for the host's plug-in SDK record.
 *
 * An image editor hands its filter plug-in a FilterRecord; the plug-in passes
 * it to Lumarex with SetFilterRecord, and Lumarex takes all large working
 * memory through the record's buffer suite. This header declares only what
 * Lumarex uses of that record: the `bufferProcs` member and the four buffer
 * entries, shaped as the host's public plug-in API shapes them. Builds that
 * have the real SDK set LUMAREX_HOST_SDK_HEADER (CMake option
 * LUMAREX_HOST_SDK_INCLUDE) and this header steps aside.
 */
#ifndef LUMAREX_HOST_SDK_H
#define LUMAREX_HOST_SDK_H

#ifdef LUMAREX_HOST_SDK_HEADER
#include LUMAREX_HOST_SDK_HEADER
#else

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A host buffer identifier: opaque to the plug-in, 8 bytes on 64-bit hosts. */
typedef struct LxHostBuffer* BufferID;

/* Returns 0 on success and writes the new identifier through `bufferID`. */
typedef int16_t (*AllocateBufferProc)(int32_t size, BufferID* bufferID);
/* Locks the buffer and returns its address, valid until unlocked. */
typedef void* (*LockBufferProc)(BufferID bufferID, uint8_t moveHigh);
typedef void (*UnlockBufferProc)(BufferID bufferID);
typedef void (*FreeBufferProc)(BufferID bufferID);
/* Bytes the host could still hand out; Lumarex never calls it. */
typedef int32_t (*BufferSpaceProc)(void);

typedef struct BufferProcs {
    int16_t bufferProcsVersion;
    int16_t numBufferProcs;
    AllocateBufferProc allocateProc;
    LockBufferProc lockProc;
    UnlockBufferProc unlockProc;
    FreeBufferProc freeProc;
    BufferSpaceProc spaceProc;
} BufferProcs;

/* The host's filter record. Lumarex reads `bufferProcs` and nothing else;
 * the rest of a real host's record is no business of this library. */
typedef struct FilterRecord {
    int32_t serialNumber;
    BufferProcs* bufferProcs;
} FilterRecord;

#ifdef __cplusplus
}
#endif

#endif /* LUMAREX_HOST_SDK_HEADER */
#endif /* LUMAREX_HOST_SDK_H */
