// SPDX-License-Identifier: MIT
// A camera raw file made by the tests: a DNG holding an RGGB mosaic of 14-bit
// samples of a scene of four patches, as a camera whose colour is sRGB's
// would record it under a light of `neutral` (each channel's response to
// white), stored with EXIF `orientation` and, when `exifColorSpace` is not
// 0, an EXIF directory saying that colour space (65535: a camera set to
// Adobe RGB). Written with libtiff, which knows the DNG tags.
#pragma once

#include <tiffio.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace lumarex_test {

// `scene`: the patches' linear sRGB colours, top left first, row by row.
inline bool WriteMosaicDng(const std::string& path, int w, int h, int orientation, const float neutral[3],
                           const float scene[4][3], int exifColorSpace = 0) {
    const int black = 256, white = 16383;
    std::vector<uint16_t> px(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int patch = (y >= h / 2) * 2 + (x >= w / 2), c = y % 2 + x % 2;  // RGGB
            px[size_t(y) * size_t(w) + size_t(x)] =
                uint16_t(black + std::lround(scene[patch][c] * neutral[c] * (white - black)));
        }
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (t == nullptr) return false;
    const uint16_t repeat[2] = {2, 2};
    const uint8_t rggb[4] = {0, 1, 1, 2}, version[4] = {1, 4, 0, 0};
    // The camera's colour is sRGB's: XYZ to linear sRGB, D65.
    const float xyzToCamera[9] = {3.2406f, -1.5372f, -0.4986f, -0.9689f, 1.8758f, 0.0415f, 0.0557f, -0.2040f, 1.0570f};
    const float blackLevel = black;
    const uint32_t whiteLevel = white;
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, 32803);  // colour filter array
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    TIFFSetField(t, TIFFTAG_ORIENTATION, orientation);
    TIFFSetField(t, TIFFTAG_MAKE, "Lumarex");
    TIFFSetField(t, TIFFTAG_MODEL, "Test Mosaic");
    TIFFSetField(t, TIFFTAG_CFAREPEATPATTERNDIM, repeat);
    TIFFSetField(t, TIFFTAG_CFAPATTERN, 4, rggb);
    TIFFSetField(t, TIFFTAG_DNGVERSION, version);
    TIFFSetField(t, TIFFTAG_UNIQUECAMERAMODEL, "Lumarex Test Mosaic");
    TIFFSetField(t, TIFFTAG_COLORMATRIX1, 9, xyzToCamera);
    TIFFSetField(t, TIFFTAG_CALIBRATIONILLUMINANT1, 21);  // D65
    TIFFSetField(t, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
    TIFFSetField(t, TIFFTAG_BLACKLEVEL, 1, &blackLevel);
    TIFFSetField(t, TIFFTAG_WHITELEVEL, 1, &whiteLevel);
    bool ok = true;
    for (int y = 0; y < h && ok; ++y) ok = TIFFWriteScanline(t, &px[size_t(y) * size_t(w)], uint32_t(y), 0) == 1;
    TIFFClose(t);
    if (!ok || exifColorSpace == 0) return ok;
    // An EXIF directory of one entry, appended in the file's byte order,
    // and the picture's directory rewritten with the pointer to it
    // (libtiff's own writing of EXIF directories leaks memory, which the
    // sanitizer build reports).
    uint64_t exif = 0;
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        char order = 0;
        f.read(&order, 1);
        f.seekp(0, std::ios::end);
        exif = uint64_t(f.tellp());
        if (exif % 2 != 0) f.put('\0'), ++exif;
        const bool little = order == 'I';
        const auto put = [&](uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i) f.put(char(v >> (little ? 8 * i : 8 * (bytes - 1 - i))));
        };
        put(1, 2), put(0xA001, 2), put(3, 2), put(1, 4), put(uint32_t(exifColorSpace), 2), put(0, 2), put(0, 4);
        if (!f) return false;
    }
    t = TIFFOpen(path.c_str(), "r+");
    if (t == nullptr) return false;
    ok = TIFFSetField(t, TIFFTAG_EXIFIFD, exif) == 1 && TIFFRewriteDirectory(t) == 1;
    TIFFClose(t);
    return ok;
}

}  // namespace lumarex_test
