/* SPDX-License-Identifier: MIT
 * A C host of the shared library: compiles the public header as C, links the
 * exports by their documented names, and makes a blob round trip. */
#include <stdio.h>
#include <string.h>

#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"

int main(void) {
    if (GetLibraryVersion() != 0x05010000u) return 1;
    if (NeedTintCorrection(NULL, 2) != 0) return 2;
    InitLXLibComprehensive("c client");
    SetFilterRecord(LxHeapHostRecord());

    unsigned char rgb[2 * 2 * 3];
    for (int i = 0; i < (int)sizeof rgb; ++i) rgb[i] = (unsigned char)(i * 10);
    ImageDesc d;
    d.sampleType = 0;
    d.width = 2;
    d.height = 2;
    d.rowStride = 6;
    d.pixelStride = 3;
    d.channel1 = rgb;
    d.channel2 = rgb + 1;
    d.channel3 = rgb + 2;
    ImageBlob* blob = AllocImageBlob(&d);
    if (blob == NULL) return 3;
    if (LxHeapHostLiveBlocks() != 1) return 4;
    FreeImageBlob(blob);
    if (LxHeapHostLiveBlocks() != 0) return 5;
    ReleaseLXLibComprehensive();
    puts("c client: ok");
    return 0;
}
