/* SPDX-License-Identifier: MIT
 * A program built against an installed Lumarex, as a plug-in developer builds
 * one, in C: it reads a binary PPM photo (8 or 16 bits per sample), analyses
 * it, corrects it with the heap host and writes the result as PPM.
 *
 *   lumarex_consumer IN.ppm OUT.ppm
 *
 * It also asks the noise library for an estimate, which works only when the
 * noise library was installed beside the Lumarex library. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <lumarex/heap_host.h>
#include <lumarex/lumarex.h>

typedef struct Photo {
    int w, h, maxval;
    unsigned char* px; /* interleaved RGB, native-endian 16-bit when maxval > 255 */
} Photo;

static int ReadPpm(const char* path, Photo* p) {
    FILE* f = fopen(path, "rb");
    if (f == NULL) return 0;
    int ok = fscanf(f, "P6 %d %d %d", &p->w, &p->h, &p->maxval) == 3 && fgetc(f) != EOF && p->w > 0 &&
             p->h > 0 && p->w <= 20000 && p->h <= 20000 && (p->maxval == 255 || p->maxval == 65535);
    size_t bytes = ok ? (size_t)p->w * (size_t)p->h * 3u * (p->maxval > 255 ? 2u : 1u) : 0u;
    p->px = ok ? malloc(bytes) : NULL;
    ok = p->px != NULL && fread(p->px, 1, bytes, f) == bytes;
    fclose(f);
    if (ok && p->maxval > 255) /* PPM stores 16-bit samples big-endian */
        for (size_t i = 0; i < bytes; i += 2) {
            uint16_t v = (uint16_t)(p->px[i] << 8 | p->px[i + 1]);
            memcpy(p->px + i, &v, 2);
        }
    return ok;
}

static int WritePpm(const char* path, const Photo* p) {
    FILE* f = fopen(path, "wb");
    if (f == NULL) return 0;
    fprintf(f, "P6\n%d %d\n%d\n", p->w, p->h, p->maxval);
    for (size_t i = 0; i < (size_t)p->w * (size_t)p->h * 3u; ++i) {
        if (p->maxval > 255) {
            uint16_t v;
            memcpy(&v, p->px + 2 * i, 2);
            fputc(v >> 8, f); /* big-endian */
            fputc(v & 0xff, f);
        } else {
            fputc(p->px[i], f);
        }
    }
    return fclose(f) == 0;
}

static ImageDesc Describe(const Photo* p, unsigned char* px) {
    int bytes = p->maxval > 255 ? 2 : 1;
    ImageDesc d = {bytes - 1, p->w, p->h, p->w * 3 * bytes, 3 * bytes, px, px + bytes, px + 2 * bytes};
    return d;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s IN.ppm OUT.ppm\n", argv[0]);
        return 2;
    }
    Photo in;
    if (!ReadPpm(argv[1], &in)) {
        fprintf(stderr, "%s: not a binary PPM photo\n", argv[1]);
        return 1;
    }
    SetFilterRecord(LxHeapHostRecord());
    InitLXLibComprehensive("consumer");
    printf("library version %08x\n", (unsigned)GetLibraryVersion());

    ImageDesc src = Describe(&in, in.px);
    ImageBlob* blob = AllocImageBlob(&src);
    ImageParam* param = blob != NULL ? CalcImageBlobParam(blob, NULL, NULL) : NULL;
    if (param == NULL) {
        fprintf(stderr, "the analysis failed\n");
        FreeImageBlob(blob);
        return 1;
    }
    printf("casts found (tint modes 0-3): %d %d %d %d\n", NeedTintCorrection(param, 0),
           NeedTintCorrection(param, 1), NeedTintCorrection(param, 2), NeedTintCorrection(param, 3));

    Photo out = in;
    out.px = malloc((size_t)in.w * (size_t)in.h * 3u * (in.maxval > 255 ? 2u : 1u));
    ImageDesc dst = Describe(&out, out.px);
    int32_t strength = 0;
    int32_t result = out.px == NULL ? -1
                                    : ApplyImageBlobParam(&dst, blob, param, 0, 0, 1.0f, 1, 3, 0.7f, 1, 0, 1, 1,
                                                          100, &strength, 1, 0.5f, 0, 12, 0, 0.0f, 1, 1.0f, 0, 0,
                                                          0.0f, 0, 0, 0, 0, 0, 0, 0, -1, -1, 0, NULL, NULL);
    FreeImageParam(param);
    FreeImageBlob(blob);
    if (result != 0 || !WritePpm(argv[2], &out)) {
        fprintf(stderr, "the correction failed\n");
        return 1;
    }
    printf("corrected %dx%d, tone strength %d\n", in.w, in.h, strength);

    printf("noise library: %s\n", DetectNoise(&src, 0, -1, -1, 0) ? "found" : "missing");
    ReleaseLXLibComprehensive();
    printf("host blocks left: %lld\n", (long long)LxHeapHostLiveBlocks());
    free(out.px);
    free(in.px);
    return LxHeapHostLiveBlocks() == 0 ? 0 : 1;
}
