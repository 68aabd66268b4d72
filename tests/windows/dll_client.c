/* SPDX-License-Identifier: MIT
 * A host of the shared library as an image editor's plug-in is: it loads
 * lumarex.dll (liblumarex.so) at run time, binds the exports by their
 * exported names, hands over a filter record it built as raw bytes, and runs
 * every export on a real photo, with a fixed grain added so that noise
 * removal has something to change. (What the exports refuse, and how they
 * fail when host memory runs out, the native unit tests check.) It prints one line per result, outputs as
 * FNV-1a checksums, so that the Windows build (run under Wine) and the Linux
 * build can be compared byte for byte.
 *
 *   lumarex_dll_client LIBRARY PHOTO.ppm      run everything
 *   lumarex_dll_client LIBRARY --load-only    load, report, unload
 *
 * PHOTO.ppm is a 16-bit binary PPM (P6, maxval 65535); the 8-bit runs use
 * the top byte of every sample. The exit status is 0 when every expectation
 * held, 1 otherwise; the checksums themselves are compared outside.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lumarex/lumarex.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
typedef HMODULE Library;
static Library OpenLibrary(const char* path) { return LoadLibraryA(path); }
static void* Symbol(Library lib, const char* name) { return (void*)GetProcAddress(lib, name); }
static void CloseLib(Library lib) { FreeLibrary(lib); }

/* The library reports module-start problems through the debugger channel as
 * well as in a message box; a console host without a debugger collects them
 * here, where the exception that OutputDebugString raises passes first. */
static char g_debugText[1024];
static LONG CALLBACK CollectDebugText(EXCEPTION_POINTERS* e) {
    if (e->ExceptionRecord->ExceptionCode == DBG_PRINTEXCEPTION_C && e->ExceptionRecord->NumberParameters >= 2) {
        const char* text = (const char*)e->ExceptionRecord->ExceptionInformation[1];
        strncat(g_debugText, text, sizeof g_debugText - strlen(g_debugText) - 1);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}
static void StartCollecting(void) {
    AddVectoredExceptionHandler(1, CollectDebugText);
    _setmode(_fileno(stdout), _O_BINARY); /* "\n", not "\r\n": the lines are compared with Linux's */
}
#else
#include <dlfcn.h>
typedef void* Library;
static Library OpenLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* Symbol(Library lib, const char* name) { return dlsym(lib, name); }
static void CloseLib(Library lib) { dlclose(lib); }
static char g_debugText[1] = "";
static void StartCollecting(void) {}
#endif

/* ---- the exports, as a host binds them ------------------------------------ */

/* Pointers of the types the header declares, bound by the exported names. */
static struct {
    __typeof__(&InitLXLibComprehensive) init;
    __typeof__(&ReleaseLXLibComprehensive) release;
    __typeof__(&GetLibraryVersion) version;
    __typeof__(&SetFilterRecord) setRecord;
    __typeof__(&LumarexComprehensive) oneShot;
    __typeof__(&AllocImageBlob) allocBlob;
    __typeof__(&FreeImageBlob) freeBlob;
    __typeof__(&CalcImageBlobParam) calc;
    __typeof__(&FreeImageParam) freeParam;
    __typeof__(&ApplyImageBlobParam) apply;
    __typeof__(&ApplyImageBlobParamLocal) applyLocal;
    __typeof__(&NeedTintCorrection) needTint;
    __typeof__(&DetectNoise) detectNoise;
} lx;

static int g_failures = 0;
static void Expect(int ok, const char* what) {
    if (!ok) printf("FAILED: %s\n", what), ++g_failures;
}

/* Each export by its exported name, into its field of `lx`. */
static int Bind(Library lib) {
    const struct {
        void** field;
        const char* name;
    } exports[] = {{(void**)&lx.init, "InitLXLibComprehensive"}, {(void**)&lx.release, "ReleaseLXLibComprehensive"},
                   {(void**)&lx.version, "GetLibraryVersion"},   {(void**)&lx.setRecord, "_SetFilterRecord"},
                   {(void**)&lx.oneShot, "_LumarexComprehensive"}, {(void**)&lx.allocBlob, "_AllocImageBlob"},
                   {(void**)&lx.freeBlob, "_FreeImageBlob"},     {(void**)&lx.calc, "_CalcImageBlobParam"},
                   {(void**)&lx.freeParam, "_FreeImageParam"},   {(void**)&lx.apply, "_ApplyImageBlobParam"},
                   {(void**)&lx.applyLocal, "_ApplyImageBlobParamLocal"},
                   {(void**)&lx.needTint, "NeedTintCorrection"}, {(void**)&lx.detectNoise, "_DetectNoise"}};
    int missing = 0;
    for (size_t i = 0; i < sizeof exports / sizeof exports[0]; ++i) {
        *exports[i].field = Symbol(lib, exports[i].name);
        if (*exports[i].field == NULL) printf("FAILED: export %s not found\n", exports[i].name), ++missing;
    }
    return missing == 0;
}

/* ---- the host: a record and a buffer suite as raw bytes ------------------- */

/* The record is the host's: 256 zero bytes with the buffer suite's address at
 * byte 224, where a 64-bit host puts it. The suite is two int16 counts and
 * five procedures at bytes 8, 16, 24, 32 and 40. */
static _Alignas(8) unsigned char g_record[256];
static _Alignas(8) unsigned char g_suite[48];

static int64_t g_live;

static int16_t HostAllocate(int32_t size, BufferID* id) {
    void* p = malloc(size > 0 ? (size_t)size : 1u);
    if (p == NULL) return -108;
    ++g_live;
    *id = (BufferID)p;
    return 0;
}
static void* HostLock(BufferID id, unsigned char moveHigh) { return (void)moveHigh, (void*)id; }
static void HostUnlock(BufferID id) { (void)id; }
static void HostFree(BufferID id) { --g_live, free((void*)id); }
static int32_t HostSpace(void) { return 0x7fffffff; }

static FilterRecord* HostRecord(void) {
    const int16_t version = 2, count = 5;
    AllocateBufferProc allocate = HostAllocate;
    LockBufferProc lock = HostLock;
    UnlockBufferProc unlock = HostUnlock;
    FreeBufferProc release = HostFree;
    BufferSpaceProc space = HostSpace;
    void* suite = g_suite;
    memcpy(g_suite + 0, &version, 2);
    memcpy(g_suite + 2, &count, 2);
    memcpy(g_suite + 8, &allocate, 8);
    memcpy(g_suite + 16, &lock, 8);
    memcpy(g_suite + 24, &unlock, 8);
    memcpy(g_suite + 32, &release, 8);
    memcpy(g_suite + 40, &space, 8);
    memcpy(g_record + 224, &suite, 8);
    return (FilterRecord*)(void*)g_record;
}

/* ---- images --------------------------------------------------------------- */

typedef struct {
    int32_t w, h, bytes; /* bytes per sample: 1 or 2 */
    unsigned char* px;   /* interleaved, red first */
} Image;

static ImageDesc Desc(Image* im) {
    ImageDesc d = {im->bytes == 2 ? 1 : 0, im->w, im->h, im->w * 3 * im->bytes, 3 * im->bytes,
                   im->px, im->px + im->bytes, im->px + 2 * im->bytes};
    return d;
}

static Image MakeImage(int32_t w, int32_t h, int32_t bytes) {
    Image im = {w, h, bytes, calloc((size_t)w * h * 3 * bytes, 1)};
    return im;
}

static Image DuplicateImage(const Image* src) {
    Image im = MakeImage(src->w, src->h, src->bytes);
    memcpy(im.px, src->px, (size_t)src->w * src->h * 3 * src->bytes);
    return im;
}

/* Reads a P6 PPM with maxval 65535 into a 16-bit image (native order). */
static int ReadPpm16(const char* path, Image* out) {
    FILE* f = fopen(path, "rb");
    if (f == NULL) return 0;
    int w = 0, h = 0, maxval = 0;
    int ok = fscanf(f, "P6 %d %d %d", &w, &h, &maxval) == 3 && fgetc(f) != EOF && maxval == 65535 && w > 0 && h > 0;
    if (ok) {
        *out = MakeImage(w, h, 2);
        const size_t n = (size_t)w * h * 3;
        uint16_t* px = (uint16_t*)(void*)out->px;
        for (size_t i = 0; i < n && ok; ++i) {
            const int hi = fgetc(f), lo = fgetc(f);
            ok = hi != EOF && lo != EOF;
            px[i] = (uint16_t)((hi << 8) | lo);
        }
    }
    fclose(f);
    return ok;
}

/* The 8-bit photo: the top byte of every 16-bit sample. */
static Image TopBytes(const Image* wide) {
    Image im = MakeImage(wide->w, wide->h, 1);
    const uint16_t* px = (const uint16_t*)(const void*)wide->px;
    for (size_t i = 0; i < (size_t)wide->w * wide->h * 3; ++i) im.px[i] = (unsigned char)(px[i] >> 8);
    return im;
}

static uint64_t Fnv1a(const void* data, size_t n) {
    uint64_t h = 1469598103934665603ull;
    const unsigned char* p = (const unsigned char*)data;
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

/* A line's name, formatted: valid until the next call. */
static const char* Name(const char* format, const char* pass, int bits) {
    static char name[64];
    snprintf(name, sizeof name, format, pass, bits);
    return name;
}

/* Every image checksum printed so far, folded together: the two passes
 * around ReleaseLXLibComprehensive must fold to the same value. */
static uint64_t g_printed;

static uint64_t PrintImage(const char* name, const Image* im) {
    const uint64_t h = Fnv1a(im->px, (size_t)im->w * im->h * 3 * im->bytes);
    g_printed = (g_printed ^ h) * 1099511628211ull;
    printf("%-36s %016llx\n", name, (unsigned long long)h);
    return h;
}

/* ---- the calls ---------------------------------------------------------- */

/* Progress: records the steps and asks to stop at `stopAt` (0: never). */
typedef struct {
    int32_t steps[16];
    int32_t count, stopAt;
} Progress;

static int32_t OnProgress(int32_t step, int32_t total, void* context) {
    Progress* p = (Progress*)context;
    if (p->count < 16) p->steps[p->count++] = step * 100 + total;
    return p->stopAt != 0 && step >= p->stopAt;
}

static void PrintProgress(const char* name, const Progress* p) {
    printf("%-36s", name);
    for (int32_t i = 0; i < p->count; ++i) printf(" %d/%d", p->steps[i] / 100, p->steps[i] % 100);
    printf("\n");
}

/* ApplyImageBlobParam into `out`, or with `region` (left, top)
 * ApplyImageBlobParamLocal on the blob's region of out's size. Every stage on
 * (tint mode 3 at 80 %, shadow clip row 4, tone level row 1, local contrast,
 * the strong curve, colour mode 2, sharpening, tables B and C) with the curve
 * amount and warm tone given; `denoise`: noise preset 2 through the noise
 * library, bound at module start. */
static int32_t Apply(Image* out, const ImageBlob* blob, ImageParam* param, const int32_t* region, float curve,
                     int32_t warmTone, int32_t denoise, int32_t* strength, Progress* progress) {
    ImageDesc d = Desc(out);
#define SETTINGS                                                                                                 \
    1, 3, 0.8f, 1, 4, 1, 1, 100, strength, 1, curve, 1, 12, 2, 0.6f, 1, 1.0f, warmTone, 0, 0.7f, 1, 1, 1, denoise, \
        denoise ? 2 : 0, 0, 0, -1, -1, 0, progress != NULL ? OnProgress : NULL, progress
    return region == NULL ? lx.apply(&d, blob, param, 0, 0, 1.0f, SETTINGS)
                          : lx.applyLocal(&d, blob, param, 0, 0, 1.0f, region[0], region[1], out->w, out->h, SETTINGS);
#undef SETTINGS
}

/* Every setting of the one-shot on. */
static int32_t OneShot(Image* im, int32_t* strength) {
    ImageDesc d = Desc(im);
    return lx.oneShot(&d, 1, 3, 0, 0.7f, 12, 1, 3, strength, 1, 1, 40, 1, 0.5f, 1, 1.0f, 1, 1, 120, 1, 0.8f, 1, 1, 1);
}

/* ---- the runs ------------------------------------------------------------- */

/* One-shot, then the two-phase road at 8 and 16 bits. Run twice, before and
 * after ReleaseLXLibComprehensive, which must change nothing. */
static void Corrections(const char* pass, const Image* photo16, const Image* photo8) {
    Image im = DuplicateImage(photo8);
    int32_t strength = 60;
    Expect(OneShot(&im, &strength) == 0, "LumarexComprehensive returns 0");
    PrintImage(Name("%s.oneshot8", pass, 8), &im);
    printf("%-36s %d\n", Name("%s.oneshot8.strength", pass, 8), strength);
    free(im.px);

    for (int bits = 8; bits <= 16; bits += 8) {
        const Image* src = bits == 8 ? photo8 : photo16;
        Image in = DuplicateImage(src);
        ImageDesc d = Desc(&in);
        ImageBlob* blob = lx.allocBlob(&d);
        Progress calcSteps = {{0}, 0, 0};
        ImageParam* param = lx.calc(blob, OnProgress, &calcSteps);
        Expect(blob != NULL && param != NULL, "the two-phase road analyses the photo");
        if (param == NULL) {
            if (blob != NULL) lx.freeBlob(blob);
            free(in.px);
            return;
        }
        PrintProgress(Name("%s.calc%d.progress", pass, bits), &calcSteps);
        printf("%-36s %d %d %d %d\n", Name("%s.needtint%d", pass, bits), lx.needTint(param, 0),
               lx.needTint(param, 1), lx.needTint(param, 2), lx.needTint(param, 3));

        int32_t tone = 0;
        Progress steps = {{0}, 0, 0};
        Image whole = MakeImage(src->w, src->h, src->bytes);
        Expect(Apply(&whole, blob, param, NULL, 0.3f, 1, 0, &tone, &steps) == 0, "ApplyImageBlobParam succeeds");
        const uint64_t applied = PrintImage(Name("%s.apply%d", pass, bits), &whole);
        PrintProgress(Name("%s.apply%d.progress", pass, bits), &steps);
        printf("%-36s %d\n", Name("%s.apply%d.strength", pass, bits), tone);

        Image crop = MakeImage(64, 48, src->bytes);
        const int32_t at[2] = {30, 20};
        Expect(Apply(&crop, blob, param, at, 0.05f, 0, 0, &(int32_t){0}, NULL) == 1, "the local apply succeeds");
        PrintImage(Name("%s.local%d", pass, bits), &crop);

        Expect(Apply(&whole, blob, param, NULL, 0.3f, 1, 1, &(int32_t){0}, NULL) == 0, "a denoising apply succeeds");
        Expect(PrintImage(Name("%s.denoise%d", pass, bits), &whole) != applied, "noise removal changes the grain");

        Progress stop = {{0}, 0, 3}; /* step 3 of 6 */
        Expect(Apply(&whole, blob, param, NULL, 0.3f, 1, 0, &(int32_t){0}, &stop) == -1, "a stopped apply fails");
        PrintProgress(Name("%s.stop%d.progress", pass, bits), &stop);

        lx.freeParam(param);
        lx.freeBlob(blob);
        Expect(g_live == 0, "every host block is back");
        free(in.px);
        free(whole.px);
        free(crop.px);
    }

    /* DetectNoise on the interleaved 8-bit photo. */
    Image noisy = DuplicateImage(photo8);
    ImageDesc nd = Desc(&noisy);
    printf("%-36s %d\n", Name("%s.detectnoise", pass, 8), lx.detectNoise(&nd, 2, -1, 0, 0));
    free(noisy.px);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s LIBRARY PHOTO.ppm | --load-only\n", argv[0]);
        return 2;
    }
    setvbuf(stdout, NULL, _IOFBF, 1 << 16);
    StartCollecting();
    Library lib = OpenLibrary(argv[1]);
    if (lib == NULL) {
        printf("FAILED: cannot load %s\n", argv[1]);
        return 1;
    }
    if (!Bind(lib)) return 1;
    if (strcmp(argv[2], "--load-only") == 0) {
        /* Module start has run: report what it said, then go on working. */
        printf("module start: %s", g_debugText[0] != '\0' ? g_debugText : "(nothing)\n");
        lx.setRecord(HostRecord());
        Expect(lx.version() == 0x05010000u, "the library works after module start");
        printf("loaded: version %08x\n", (unsigned)lx.version());
        CloseLib(lib);
        return g_failures == 0 ? 0 : 1;
    }

    Image photo16;
    if (!ReadPpm16(argv[2], &photo16)) {
        printf("FAILED: cannot read %s\n", argv[2]);
        return 1;
    }
    /* Grain of up to 6 levels in 256 from a fixed sequence, so that noise
     * removal has work to do. */
    uint16_t* grain = (uint16_t*)(void*)photo16.px;
    uint32_t seed = 1;
    for (size_t i = 0; i < (size_t)photo16.w * photo16.h * 3; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int32_t v = grain[i] + (int32_t)(seed >> 22) * 3 - 1536;
        grain[i] = (uint16_t)(v < 0 ? 0 : v > 65535 ? 65535 : v);
    }
    Image photo8 = TopBytes(&photo16);
    printf("%-36s %dx%d\n", "photo", photo16.w, photo16.h);
    PrintImage("photo16", &photo16);

    lx.init("dll client");
    lx.setRecord(HostRecord());
    g_printed = 0;
    Corrections("first", &photo16, &photo8);
    const uint64_t first = g_printed;
    lx.release();
    g_printed = 0;
    Corrections("after_release", &photo16, &photo8);
    Expect(g_printed == first, "ReleaseLXLibComprehensive changes no output");

    Expect(lx.version() == 0x05010000u, "GetLibraryVersion is 0x05010000 after everything");

    free(photo8.px);
    free(photo16.px);
    CloseLib(lib);
    printf("%s\n", g_failures == 0 ? "all expectations held" : "some expectations FAILED");
    return g_failures == 0 ? 0 : 1;
}
