// SPDX-License-Identifier: MIT
// Tables of 256 entries looked up at 64 byte indices at a time, for the
// target with AVX-512 byte permutes (VBMI: Highway's AVX3_DL, which a file
// asks for with HWY_WANT_AVX3_DL before its first Highway include). Include
// it after <hwy/highway.h> in a file compiled once per target; on other
// targets it declares nothing.
//
// A float table is kept as four planes of bytes (simd/byte_planes.h), one
// per byte of its entries. 64 pixels' bytes become four vectors of 16
// 32-bit lanes through in-lane unpacks, which take every 128-bit lane apart
// on its own; TransposeGroups first moves each pixel's byte to where those
// unpacks make the four vectors 16 consecutive pixels each (and moves them
// back before bytes are stored), so the lanes line up with plain loads of
// floats.
#if defined(LUMAREX_SIMD_BYTE_TABLES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LUMAREX_SIMD_BYTE_TABLES_INL_H_
#undef LUMAREX_SIMD_BYTE_TABLES_INL_H_
#else
#define LUMAREX_SIMD_BYTE_TABLES_INL_H_
#endif

#include <hwy/highway.h>

#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {

#if HWY_TARGET == HWY_AVX3_DL
// table[index] for 64 byte indices, table 256 bytes: two permutes over 128
// entries each, picked by the index's top bit.
HWY_INLINE __m512i LookupBytes(const uint8_t* table, __m512i index) {
    const __m512i low = _mm512_permutex2var_epi8(_mm512_loadu_si512(table), index, _mm512_loadu_si512(table + 64));
    const __m512i high =
        _mm512_permutex2var_epi8(_mm512_loadu_si512(table + 128), index, _mm512_loadu_si512(table + 192));
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

// Byte 16 L + 4 j + i <-> byte 16 j + 4 L + i (L, j, i in 0..3): the 4 x 4
// transpose of 4-byte groups; its own inverse.
HWY_INLINE __m512i TransposeGroups(__m512i v) {
    alignas(64) static constexpr uint8_t kIndex[64] = {
        0,  1,  2,  3,  16, 17, 18, 19, 32, 33, 34, 35, 48, 49, 50, 51,  //
        4,  5,  6,  7,  20, 21, 22, 23, 36, 37, 38, 39, 52, 53, 54, 55,  //
        8,  9,  10, 11, 24, 25, 26, 27, 40, 41, 42, 43, 56, 57, 58, 59,  //
        12, 13, 14, 15, 28, 29, 30, 31, 44, 45, 46, 47, 60, 61, 62, 63};
    return _mm512_permutexvar_epi8(_mm512_load_si512(kIndex), v);
}

// Transposed bytes to four vectors of 32-bit lanes: out[j] holds the bytes
// of pixels 16 j .. 16 j + 15.
HWY_INLINE void WidenBytes(__m512i b, __m512i out[4]) {
    const __m512i z = _mm512_setzero_si512();
    const __m512i lo = _mm512_unpacklo_epi8(b, z), hi = _mm512_unpackhi_epi8(b, z);
    out[0] = _mm512_unpacklo_epi16(lo, z), out[1] = _mm512_unpackhi_epi16(lo, z);
    out[2] = _mm512_unpacklo_epi16(hi, z), out[3] = _mm512_unpackhi_epi16(hi, z);
}

// The reverse of WidenBytes for lanes of 0 .. 255.
HWY_INLINE __m512i NarrowToBytes(const __m512i v[4]) {
    return _mm512_packus_epi16(_mm512_packus_epi32(v[0], v[1]), _mm512_packus_epi32(v[2], v[3]));
}

// The float entries of a table's four byte planes at 64 transposed byte
// indices, as WidenBytes lays them out.
HWY_INLINE void LookupFloats(const uint8_t (*planes)[256], __m512i index, __m512 out[4]) {
    const __m512i b0 = LookupBytes(planes[0], index), b1 = LookupBytes(planes[1], index);
    const __m512i b2 = LookupBytes(planes[2], index), b3 = LookupBytes(planes[3], index);
    const __m512i lo01 = _mm512_unpacklo_epi8(b0, b1), hi01 = _mm512_unpackhi_epi8(b0, b1);
    const __m512i lo23 = _mm512_unpacklo_epi8(b2, b3), hi23 = _mm512_unpackhi_epi8(b2, b3);
    out[0] = _mm512_castsi512_ps(_mm512_unpacklo_epi16(lo01, lo23));
    out[1] = _mm512_castsi512_ps(_mm512_unpackhi_epi16(lo01, lo23));
    out[2] = _mm512_castsi512_ps(_mm512_unpacklo_epi16(hi01, hi23));
    out[3] = _mm512_castsi512_ps(_mm512_unpackhi_epi16(hi01, hi23));
}
#endif  // HWY_TARGET == HWY_AVX3_DL

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#endif  // include guard
