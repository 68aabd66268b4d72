/* SPDX-License-Identifier: MIT
 * Lumarex: a stand-in for the host's plug-in SDK record.
 *
 * An image editor hands its filter plug-in a FilterRecord; the plug-in passes
 * it to Lumarex with SetFilterRecord, and Lumarex takes all large working
 * memory through the record's buffer suite (`bufferProcs`). The record is the
 * host's, laid out by the host's plug-in API, so this header declares it
 * member by member, with the API's names and types, up to and including
 * `bufferProcs`: everything after it is no business of this library. The
 * declaration sits under the same 4-byte packing as the API's 64-bit Windows
 * headers, on every platform, so that a build without the real headers reads
 * the suite pointer at the same byte (224 on 64-bit) as a build with them.
 * `BufferProcs` is not packed: its pointers sit on their natural 8-byte
 * boundaries.
 *
 * Builds that have the real SDK set LUMAREX_HOST_SDK_HEADER (CMake option
 * LUMAREX_HOST_SDK_INCLUDE) and the declarations below step aside; the layout
 * checks at the end hold for both.
 */
#ifndef LUMAREX_HOST_SDK_H
#define LUMAREX_HOST_SDK_H

#include <stddef.h>
#include <stdint.h>

#ifdef LUMAREX_HOST_SDK_HEADER
#include LUMAREX_HOST_SDK_HEADER
#else

#ifdef __cplusplus
extern "C" {
#endif

/* The API's small types. */
typedef unsigned char Boolean;
typedef int16_t OSErr;
typedef uint32_t OSType;
typedef int32_t Fixed;              /* 16.16 fixed point */
typedef char** Handle;              /* opaque host handle */
typedef unsigned char FilterColor[4];

typedef struct Point {
    int16_t v;
    int16_t h;
} Point;

typedef struct Rect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
} Rect;

typedef struct RGBColor {
    uint16_t red;
    uint16_t green;
    uint16_t blue;
} RGBColor;

typedef struct PlugInMonitor {
    Fixed gamma;
    Fixed redX;
    Fixed redY;
    Fixed greenX;
    Fixed greenY;
    Fixed blueX;
    Fixed blueY;
    Fixed whiteX;
    Fixed whiteY;
    Fixed ambient;
} PlugInMonitor;

/* A host buffer identifier: opaque to the plug-in, 8 bytes on 64-bit hosts. */
typedef struct LxHostBuffer* BufferID;

/* Returns 0 on success and writes the new identifier through `bufferID`. */
typedef OSErr (*AllocateBufferProc)(int32_t size, BufferID* bufferID);
/* Locks the buffer and returns its address, valid until unlocked. */
typedef void* (*LockBufferProc)(BufferID bufferID, Boolean moveHigh);
typedef void (*UnlockBufferProc)(BufferID bufferID);
typedef void (*FreeBufferProc)(BufferID bufferID);
/* Bytes the host could still hand out; Lumarex never calls it. */
typedef int32_t (*BufferSpaceProc)(void);

/* The buffer suite in its five-procedure form (newer hosts append more
 * procedures after `spaceProc`; Lumarex uses none of them). */
typedef struct BufferProcs {
    int16_t bufferProcsVersion;
    int16_t numBufferProcs;
    AllocateBufferProc allocateProc;
    LockBufferProc lockProc;
    UnlockBufferProc unlockProc;
    FreeBufferProc freeProc;
    BufferSpaceProc spaceProc;
} BufferProcs;

/* Host callbacks of the record that Lumarex never calls. */
typedef Boolean (*TestAbortProc)(void);
typedef void (*ProgressProc)(int32_t done, int32_t total);
typedef void (*HostProcs)(int16_t selector, intptr_t* data);

#pragma pack(push, 4)
/* The host's filter record, up to the buffer suite. Lumarex reads
 * `bufferProcs` and nothing else; a host's record goes on past it. */
typedef struct FilterRecord {
    int32_t serialNumber;
    TestAbortProc abortProc;
    ProgressProc progressProc;
    Handle parameters;
    Point imageSize;
    int16_t planes;
    Rect filterRect;
    RGBColor background;
    RGBColor foreground;
    int32_t maxSpace;
    int32_t bufferSpace;
    Rect inRect;
    int16_t inLoPlane;
    int16_t inHiPlane;
    Rect outRect;
    int16_t outLoPlane;
    int16_t outHiPlane;
    void* inData;
    int32_t inRowBytes;
    void* outData;
    int32_t outRowBytes;
    Boolean isFloating;
    Boolean haveMask;
    Boolean autoMask;
    Rect maskRect;
    void* maskData;
    int32_t maskRowBytes;
    FilterColor backColor;
    FilterColor foreColor;
    OSType hostSig;
    HostProcs hostProcs;
    int16_t imageMode;
    Fixed imageHRes;
    Fixed imageVRes;
    Point floatCoord;
    Point wholeSize;
    PlugInMonitor monitor;
    void* platformData;
    BufferProcs* bufferProcs;
} FilterRecord;
#pragma pack(pop)

#ifdef __cplusplus
}
#endif

#endif /* LUMAREX_HOST_SDK_HEADER */

/* Where a 64-bit host puts what Lumarex reads. These hold with the real
 * headers as well as with the stand-in; a slip here would make the library
 * call through the wrong bytes of every host's record. */
#if defined(__cplusplus)
#define LX_HOST_LAYOUT_CHECK(cond, what) static_assert(cond, what)
#else
#define LX_HOST_LAYOUT_CHECK(cond, what) _Static_assert(cond, what)
#endif
LX_HOST_LAYOUT_CHECK(sizeof(void*) != 8 || offsetof(FilterRecord, bufferProcs) == 224,
                     "FilterRecord.bufferProcs must sit at byte 224 on 64-bit hosts");
LX_HOST_LAYOUT_CHECK(offsetof(BufferProcs, bufferProcsVersion) == 0 && offsetof(BufferProcs, numBufferProcs) == 2,
                     "BufferProcs starts with two int16 counts");
LX_HOST_LAYOUT_CHECK(sizeof(void*) != 8 || (offsetof(BufferProcs, allocateProc) == 8 &&
                                            offsetof(BufferProcs, lockProc) == 16 &&
                                            offsetof(BufferProcs, unlockProc) == 24 &&
                                            offsetof(BufferProcs, freeProc) == 32 &&
                                            offsetof(BufferProcs, spaceProc) == 40),
                     "BufferProcs procedures must sit at bytes 8, 16, 24, 32 and 40 on 64-bit hosts");
#undef LX_HOST_LAYOUT_CHECK

#endif /* LUMAREX_HOST_SDK_H */
