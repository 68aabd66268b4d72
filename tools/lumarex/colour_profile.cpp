// SPDX-License-Identifier: MIT
#include "colour_profile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <utility>

#include "byte_order.h"

namespace lumarex_cli {
namespace {

// ICC profiles are big-endian throughout.
double S15Fixed16(const uint8_t* p) { return double(int32_t(Load32(p, false))) / 65536.0; }

constexpr size_t kHeader = 128;

// The profile connection space's white, XYZ.
constexpr double kD50[3] = {0.9642, 1.0, 0.8249};

using Matrix = RgbSpace::Matrix;

Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix m{};
    for (size_t r = 0; r < 3; ++r)
        for (size_t c = 0; c < 3; ++c) m[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c];
    return m;
}

Matrix Inverse(const Matrix& m) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    Matrix v{};
    for (size_t r = 0; r < 3; ++r)
        for (size_t c = 0; c < 3; ++c) {
            // The cofactor of (c, r), over the determinant.
            const size_t r0 = (c + 1) % 3, r1 = (c + 2) % 3, c0 = (r + 1) % 3, c1 = (r + 2) % 3;
            v[r][c] = (m[r0][c0] * m[r1][c1] - m[r0][c1] * m[r1][c0]) / det;
        }
    return v;
}

class Profile {
public:
    Profile(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The tag `signature`'s data, checked to lie inside the profile and to
    // hold at least `least` bytes; nullptr when it does not.
    const uint8_t* Tag(const char* signature, size_t least, size_t& length) const {
        if (size_ < kHeader + 4) return nullptr;
        const uint64_t count = Load32(data_ + kHeader, false);
        if (count > (size_ - kHeader - 4) / 12) return nullptr;
        for (uint64_t i = 0; i < count; ++i) {
            const uint8_t* entry = data_ + kHeader + 4 + 12 * i;
            if (std::memcmp(entry, signature, 4) != 0) continue;
            const uint64_t at = Load32(entry + 4, false), n = Load32(entry + 8, false);
            if (at > size_ || n > size_ - at || n < least) return nullptr;
            length = size_t(n);
            return data_ + at;
        }
        return nullptr;
    }

    // A colorant's XYZ (relative to D50).
    bool Colorant(const char* signature, double (&xyz)[3]) const {
        size_t n = 0;
        const uint8_t* t = Tag(signature, 20, n);
        if (t == nullptr || std::memcmp(t, "XYZ ", 4) != 0) return false;
        for (size_t k = 0; k < 3; ++k) xyz[k] = S15Fixed16(t + 8 + 4 * k);
        return true;
    }

    // The linear value of each 8-bit level through a curve tag.
    bool Curve(const char* signature, RgbSpace::Table& out) const {
        size_t n = 0;
        const uint8_t* t = Tag(signature, 12, n);
        if (t == nullptr) return false;
        for (size_t i = 0; i < out.size(); ++i) {
            const double x = double(i) / 255.0;
            double y = 0.0;
            if (std::memcmp(t, "curv", 4) == 0) {
                if (!CurvAt(t, n, x, y)) return false;
            } else if (std::memcmp(t, "para", 4) == 0) {
                if (!ParaAt(t, n, x, y)) return false;
            } else {
                return false;
            }
            if (!std::isfinite(y)) return false;
            out[i] = std::clamp(y, 0.0, 1.0);
        }
        return true;
    }

private:
    // 'curv': no entries, the identity; one, a gamma in u8Fixed8; more, a
    // table over 0..1 read with linear interpolation.
    static bool CurvAt(const uint8_t* t, size_t n, double x, double& y) {
        const uint64_t entries = Load32(t + 8, false);
        if (entries > (n - 12) / 2) return false;
        if (entries == 0) {
            y = x;
        } else if (entries == 1) {
            y = std::pow(x, double(Load16(t + 12, false)) / 256.0);
        } else {
            const double at = x * double(entries - 1);
            const size_t i = std::min(size_t(at), size_t(entries - 2));
            const double f = at - double(i);
            const double a = Load16(t + 12 + 2 * i, false), b = Load16(t + 14 + 2 * i, false);
            y = (a + (b - a) * f) / 65535.0;
        }
        return true;
    }

    // 'para': the five parametric functions, of 1, 3, 4, 5 and 7 numbers.
    static bool ParaAt(const uint8_t* t, size_t n, double x, double& y) {
        static constexpr size_t kCounts[5] = {1, 3, 4, 5, 7};
        const unsigned type = Load16(t + 8, false);
        if (type > 4 || n < 12 + 4 * kCounts[type]) return false;
        double p[7] = {};
        for (size_t k = 0; k < kCounts[type]; ++k) p[k] = S15Fixed16(t + 12 + 4 * k);
        const double g = p[0], a = p[1], b = p[2], c = p[3], d = p[4], e = p[5], f = p[6];
        // Below the break, the linear part; above it, the power. The
        // power's base is kept from going negative.
        const auto power = [&](double base) { return std::pow(std::max(base, 0.0), g); };
        switch (type) {
            case 0: y = power(x); break;
            case 1: y = a * x + b >= 0.0 ? power(a * x + b) : 0.0; break;
            case 2: y = a * x + b >= 0.0 ? power(a * x + b) + c : c; break;
            case 3: y = x >= d ? power(a * x + b) : c * x; break;
            default: y = x >= d ? power(a * x + b) + e : c * x + f; break;
        }
        return true;
    }

    const uint8_t* data_;
    size_t size_;
};

// Bradford's adaptation from the white `from` to `to` (XYZ).
Matrix Bradford(const double (&from)[3], const double (&to)[3]) {
    const Matrix cone = {{{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
    Matrix scale{};
    for (size_t k = 0; k < 3; ++k) {
        const auto& row = cone[k];
        scale[k][k] = (row[0] * to[0] + row[1] * to[1] + row[2] * to[2]) /
                      (row[0] * from[0] + row[1] * from[1] + row[2] * from[2]);
    }
    return Multiply(Inverse(cone), Multiply(scale, cone));
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}
void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}
void PutText(std::vector<uint8_t>& v, const char* s) { v.insert(v.end(), s, s + std::strlen(s)); }
void Set32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + size_t(i)] = uint8_t(x >> (24 - 8 * i));
}

std::vector<uint8_t> XyzTag(uint32_t x, uint32_t y, uint32_t z) {
    std::vector<uint8_t> t;
    PutText(t, "XYZ ");
    Put32(t, 0);
    Put32(t, x);
    Put32(t, y);
    Put32(t, z);
    return t;
}

// The profile of an RGB space of D65 white given by its primaries' x, y,
// with sRGB's curve: the colorants are the primaries' XYZ scaled so that
// they add up to the white, adapted to D50 by the Bradford transform and
// rounded to s15Fixed16 (plain arithmetic, the same on every build). The
// curve's points lie far enough from a rounding boundary that any libm's
// pow rounds them alike (the tests check the margin).
std::vector<uint8_t> ProfileOfPrimaries(const char* name, const double (&xy)[3][2]) {
    constexpr double kWhiteXy[2] = {0.3127, 0.3290};
    const double white[3] = {kWhiteXy[0] / kWhiteXy[1], 1.0, (1.0 - kWhiteXy[0] - kWhiteXy[1]) / kWhiteXy[1]};
    Matrix primaries{};
    for (size_t c = 0; c < 3; ++c) {
        const double x = xy[c][0], y = xy[c][1];
        primaries[0][c] = x / y, primaries[1][c] = 1.0, primaries[2][c] = (1.0 - x - y) / y;
    }
    const Matrix inverse = Inverse(primaries);
    Matrix scaled{};
    for (size_t c = 0; c < 3; ++c) {
        const double s = inverse[c][0] * white[0] + inverse[c][1] * white[1] + inverse[c][2] * white[2];
        for (size_t r = 0; r < 3; ++r) scaled[r][c] = primaries[r][c] * s;
    }
    const Matrix d50 = Multiply(Bradford(white, kD50), scaled);
    int32_t colorants[3][3];
    for (size_t c = 0; c < 3; ++c)
        for (size_t r = 0; r < 3; ++r) colorants[c][r] = int32_t(std::lround(d50[r][c] * 65536.0));
    std::vector<uint8_t> curve;
    PutText(curve, "curv");
    Put32(curve, 0);
    constexpr int kPoints = 1024;
    Put32(curve, kPoints);
    for (int i = 0; i < kPoints; ++i) {
        const double v = double(i) / (kPoints - 1);
        const double linear = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        Put16(curve, uint16_t(std::lround(linear * 65535.0)));
    }
    return DisplayProfile(name, colorants, curve);
}

// A stored CIELAB sample as the number it holds: L* 0..100, or a* or b*.
double LabNumber(uint32_t v, int bits, bool lightness, bool icc) {
    if (lightness) return double(v) * 100.0 / (bits == 16 ? 65535.0 : 255.0);
    if (bits == 16) return icc ? (double(v) - 32768.0) / 256.0 : double(int16_t(uint16_t(v))) / 256.0;
    return icc ? double(v) - 128.0 : double(int8_t(uint8_t(v)));
}

// CIELAB's f() undone.
double LabFInverse(double t) {
    constexpr double d = 6.0 / 29.0;
    return t > d ? t * t * t : 3.0 * d * d * (t - 4.0 / 29.0);
}

template <class T>
void LabToSrgbIn(T* samples, size_t pixels, int channels, int colours, const LabSamples& lab) {
    const double top = sizeof(T) == 2 ? 65535.0 : 255.0;
    const uint32_t widened = sizeof(T) == 2 && lab.bits == 8 ? 257 : 1;
    const double white[3] = {lab.white[0], lab.white[1], lab.white[2]};
    Matrix xyzToSrgb{};
    for (size_t r = 0; r < 3; ++r)
        for (size_t c = 0; c < 3; ++c) xyzToSrgb[r][c] = kXyzToLinearSrgb[r][c];
    const Matrix toSrgb = Multiply(xyzToSrgb, Bradford(white, kD65White));
    const auto number = [&](T v, bool lightness) {
        return LabNumber(uint32_t(v) / widened, lab.bits, lightness, lab.icc);
    };
    for (size_t p = 0; p < pixels; ++p) {
        T* px = samples + p * size_t(channels);
        const double fy = (number(px[0], true) + 16.0) / 116.0;
        if (colours == 1) {
            px[0] = T(std::lround(SrgbEncoded(LabFInverse(fy)) * top));
            continue;
        }
        const double xyz[3] = {white[0] * LabFInverse(fy + number(px[1], false) / 500.0),
                               white[1] * LabFInverse(fy),
                               white[2] * LabFInverse(fy - number(px[2], false) / 200.0)};
        for (size_t c = 0; c < 3; ++c) {
            const auto& m = toSrgb[c];
            px[c] = T(std::lround(SrgbEncoded(m[0] * xyz[0] + m[1] * xyz[1] + m[2] * xyz[2]) * top));
        }
    }
}

}  // namespace

void LabToSrgb(uint8_t* samples, size_t pixels, int channels, int colours, const LabSamples& lab) {
    LabToSrgbIn(samples, pixels, channels, colours, lab);
}

void LabToSrgb(uint16_t* samples, size_t pixels, int channels, int colours, const LabSamples& lab) {
    LabToSrgbIn(samples, pixels, channels, colours, lab);
}

std::vector<uint8_t> DisplayProfile(const char* name, const int32_t (&colorants)[3][3],
                                    const std::vector<uint8_t>& curve) {
    std::vector<uint8_t> desc;  // textDescriptionType: ASCII, no Unicode, no Macintosh name
    PutText(desc, "desc");
    Put32(desc, 0);
    Put32(desc, uint32_t(std::strlen(name) + 1));
    PutText(desc, name);
    desc.push_back(0);
    Put32(desc, 0);  // Unicode language
    Put32(desc, 0);  // Unicode count
    Put16(desc, 0);  // ScriptCode code
    desc.push_back(0);  // ScriptCode count
    desc.insert(desc.end(), 67, 0);
    std::vector<uint8_t> cprt;
    PutText(cprt, "text");
    Put32(cprt, 0);
    PutText(cprt, "No copyright, use freely");
    cprt.push_back(0);
    const std::vector<uint8_t> white = XyzTag(0xF6D6, 0x10000, 0xD32D);  // D50, the white of a display profile
    std::vector<uint8_t> primary[3];
    for (size_t c = 0; c < 3; ++c)
        primary[c] = XyzTag(uint32_t(colorants[c][0]), uint32_t(colorants[c][1]), uint32_t(colorants[c][2]));
    // The three curves are one piece of data, which their tags share.
    const std::pair<const char*, const std::vector<uint8_t>*> tags[] = {
        {"desc", &desc},       {"cprt", &cprt},  {"wtpt", &white},  {"rXYZ", &primary[0]}, {"gXYZ", &primary[1]},
        {"bXYZ", &primary[2]}, {"rTRC", &curve}, {"gTRC", &curve}, {"bTRC", &curve},
    };
    constexpr size_t kTags = std::size(tags);

    std::vector<uint8_t> p(128, 0);
    Set32(p, 8, 0x02100000);  // version 2.1
    std::memcpy(&p[12], "mntr", 4);
    std::memcpy(&p[16], "RGB ", 4);
    std::memcpy(&p[20], "XYZ ", 4);
    // Date and time of creation, fixed so that every output carries the
    // same bytes: 2026-12-08 00:00:00.
    const uint16_t when[6] = {2026, 12, 8, 0, 0, 0};
    for (int i = 0; i < 6; ++i) p[24 + 2 * i] = uint8_t(when[i] >> 8), p[25 + 2 * i] = uint8_t(when[i]);
    std::memcpy(&p[36], "acsp", 4);
    Set32(p, 68, 0xF6D6);  // the connection space's illuminant, D50
    Set32(p, 72, 0x10000);
    Set32(p, 76, 0xD32D);
    Put32(p, uint32_t(kTags));
    const size_t table = p.size();
    p.resize(table + 12 * kTags);
    // Each piece of data once, at a 4-byte boundary.
    for (size_t i = 0; i < kTags; ++i) {
        const std::vector<uint8_t>& data = *tags[i].second;
        size_t at = p.size();
        if (i > 0 && tags[i - 1].second == &data) {
            at = Load32(&p[table + 12 * (i - 1) + 4], false);
        } else {
            p.insert(p.end(), data.begin(), data.end());
            while (p.size() % 4 != 0) p.push_back(0);
        }
        std::memcpy(&p[table + 12 * i], tags[i].first, 4);
        Set32(p, table + 12 * i + 4, uint32_t(at));
        Set32(p, table + 12 * i + 8, uint32_t(data.size()));
    }
    Set32(p, 0, uint32_t(p.size()));
    return p;
}

DescribedSpace SpaceOfColourDescription(int primaries, int transfer) {
    // The transfers still pictures are decoded with as sRGB: unspecified,
    // BT.709, BT.601, sRGB, BT.2020 at 10 and 12 bits.
    constexpr int kSdr[] = {1, 2, 6, 13, 14, 15};
    if (std::find(std::begin(kSdr), std::end(kSdr), transfer) == std::end(kSdr)) return {};
    if (primaries == 12) {
        static const std::vector<uint8_t> p3 =
            ProfileOfPrimaries("Compatible with Display P3", {{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}});
        return {"Display P3", &p3};
    }
    if (primaries == 9) {
        static const std::vector<uint8_t> bt2020 =
            ProfileOfPrimaries("Compatible with ITU-R BT.2020", {{0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}});
        return {"BT.2020", &bt2020};
    }
    return {};
}

std::optional<RgbSpace> SpaceOfIccProfile(const uint8_t* data, size_t size) {
    if (data == nullptr || size < kHeader + 4 || std::memcmp(data + 16, "RGB ", 4) != 0 ||
        std::memcmp(data + 36, "acsp", 4) != 0)
        return std::nullopt;
    const Profile profile(data, size);
    double colorants[3][3];
    std::array<RgbSpace::Table, 3> linear{};
    const char* xyz[3] = {"rXYZ", "gXYZ", "bXYZ"};
    const char* trc[3] = {"rTRC", "gTRC", "bTRC"};
    for (size_t c = 0; c < 3; ++c)
        if (!profile.Colorant(xyz[c], colorants[c]) || !profile.Curve(trc[c], linear[c])) return std::nullopt;
    Matrix d50{};
    for (size_t r = 0; r < 3; ++r) {
        for (size_t c = 0; c < 3; ++c) d50[r][c] = colorants[c][r];
        // The three primaries at full strength make the white; a profile
        // whose do not is not one to measure colours by.
        const double white = d50[r][0] + d50[r][1] + d50[r][2];
        if (!(std::fabs(white - kD50[r]) <= 0.05 * kD50[r])) return std::nullopt;
    }
    return RgbSpace(linear, Multiply(Bradford(kD50, kD65White), d50));
}

std::optional<RgbSpace> OwnSpaceOf(const OIIO::ImageSpec& spec) {
    const OIIO::ParamValue* icc = spec.find_attribute("ICCProfile");
    if (icc == nullptr || icc->type().basetype != OIIO::TypeDesc::UINT8) return std::nullopt;
    std::optional<RgbSpace> space =
        SpaceOfIccProfile(static_cast<const uint8_t*>(icc->data()), size_t(icc->type().size()));
    if (space && space->CloseToSrgb(kSrgbTolerance)) return std::nullopt;
    return space;
}

}  // namespace lumarex_cli
