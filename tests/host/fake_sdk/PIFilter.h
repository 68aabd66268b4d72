/* SPDX-License-Identifier: MIT
 * A stand-in for a host SDK's filter header, used only to prove that
 * -DLUMAREX_HOST_SDK_INCLUDE=<dir> still configures and builds and that the
 * layout checks of lumarex/host_sdk.h hold against headers that are not
 * Lumarex's own. It spells the record the way such SDKs do: their own integer
 * names, the 4-byte packing set by the header, a record that goes on past the
 * buffer suite.
 */
#ifndef FAKE_SDK_PIFILTER_H
#define FAKE_SDK_PIFILTER_H

#include <stdint.h>

typedef int16_t int16;
typedef int32_t int32;
typedef uint16_t unsigned16;
typedef uint32_t unsigned32;
typedef unsigned char Boolean;
typedef int16 OSErr;
typedef unsigned32 OSType;
typedef int32 Fixed;
typedef char* Ptr;
typedef Ptr* Handle;
typedef unsigned char FilterColor[4];

typedef struct Point { int16 v, h; } Point;
typedef struct Rect { int16 top, left, bottom, right; } Rect;
typedef struct RGBColor { unsigned16 red, green, blue; } RGBColor;
typedef struct PlugInMonitor {
    Fixed gamma, redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY, ambient;
} PlugInMonitor;

typedef struct OpaqueBuffer* BufferID;
typedef OSErr (*AllocateBufferProc)(int32 size, BufferID* bufferID);
typedef Ptr (*LockBufferProc)(BufferID bufferID, Boolean moveHigh);
typedef void (*UnlockBufferProc)(BufferID bufferID);
typedef void (*FreeBufferProc)(BufferID bufferID);
typedef int32 (*BufferSpaceProc)(void);

typedef struct BufferProcs {
    int16 bufferProcsVersion;
    int16 numBufferProcs;
    AllocateBufferProc allocateProc;
    LockBufferProc lockProc;
    UnlockBufferProc unlockProc;
    FreeBufferProc freeProc;
    BufferSpaceProc spaceProc;
} BufferProcs;

#pragma pack(push, 4)
typedef struct FilterRecord {
    int32 serialNumber;
    Boolean (*abortProc)(void);
    void (*progressProc)(int32 done, int32 total);
    Handle parameters;
    Point imageSize;
    int16 planes;
    Rect filterRect;
    RGBColor background, foreground;
    int32 maxSpace, bufferSpace;
    Rect inRect;
    int16 inLoPlane, inHiPlane;
    Rect outRect;
    int16 outLoPlane, outHiPlane;
    void* inData;
    int32 inRowBytes;
    void* outData;
    int32 outRowBytes;
    Boolean isFloating, haveMask, autoMask;
    Rect maskRect;
    void* maskData;
    int32 maskRowBytes;
    FilterColor backColor, foreColor;
    OSType hostSig;
    void (*hostProcs)(int16 selector, intptr_t* data);
    int16 imageMode;
    Fixed imageHRes, imageVRes;
    Point floatCoord, wholeSize;
    PlugInMonitor monitor;
    void* platformData;
    BufferProcs* bufferProcs;
    void* resourceProcs;
    void* processEvent;
    char pastTheSuite[200];
} FilterRecord;
#pragma pack(pop)

#endif /* FAKE_SDK_PIFILTER_H */
