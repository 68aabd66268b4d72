// SPDX-License-Identifier: MIT
// The GIMP 2.10 plug-in: Lumarex's corrections on a layer, as the command
// makes them. Two procedures:
//   plug-in-lumarex-auto  <Image>/Colors/Auto   `lumarex auto` with its defaults
//   plug-in-lumarex       <Image>/Colors        `lumarex correct`, every setting
//                                               of its table a parameter
// The analysis and the choice are made on the whole layer, as the command
// makes them on the whole photo; only the selection's bounds are corrected
// (as they look in the whole) and written through the shadow buffer, whose
// merge blends them with the layer along the selection's (feathered) mask.
// The settings, their ranges and their checks come from the command's table
// (settings.h) and the corrections from its own code (photo_correction.h),
// so that a layer gets the pixels the command writes for the same photo.
#include <libgimp/gimp.h>

#include <charconv>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <exception>
#include <locale.h>
#include <new>
#include <string>
#include <vector>

#include "correction.h"
#include "image_file.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "photo_correction.h"
#include "settings.h"

using namespace lumarex_cli;

namespace {

constexpr const char* kAutoProc = "plug-in-lumarex-auto";
constexpr const char* kCorrectProc = "plug-in-lumarex";
// run-mode, image, drawable
constexpr int kFixedParams = 3;

// --- the parameters of plug-in-lumarex ---------------------------------------------

// The settings `lumarex correct` takes, in the table's order: the
// procedure's parameters after the three every filter has.
std::vector<const SettingInfo*> CorrectSettings() {
    std::vector<const SettingInfo*> out;
    for (const SettingInfo& i : SettingsTable())
        if (TakenBy(i, Command::kCorrect)) out.push_back(&i);
    return out;
}

bool IsWhole(const SettingInfo& info) { return std::holds_alternative<int Settings::*>(info.field); }

// Shortest text that reads back as `v` ("0.3", "7"), whatever the locale.
std::string NumberText(double v) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

// A procedure takes numbers only: a setting that takes words takes the
// words' values (cast: -1 auto, 1 on, 0 off). The description tells them,
// then the command's help with its range and default.
std::string Description(const SettingInfo& info, const Settings& defaults) {
    std::string d;
    for (const SettingWord& w : info.words)
        d += (d.empty() ? "" : ", ") + NumberText(w.value) + " " + w.word;
    if (!d.empty()) d += ". ";
    return d + HelpText(info, defaults);
}

// Sets the setting from a parameter's value with the command's own check:
// a word's value is taken as the word, any other number as its text.
// Returns the command's error text, empty when the value was taken.
std::string SetFromValue(const SettingInfo& info, double v, Settings& s) {
    for (const SettingWord& w : info.words)
        if (v == w.value) return SetFromText(info, w.word, s);
    return SetFromText(info, NumberText(v), s);
}

double ValueOf(const SettingInfo& info, const Settings& s) {
    if (IsWhole(info)) return s.*std::get<int Settings::*>(info.field);
    return double(s.*std::get<float Settings::*>(info.field));
}

// The last values of plug-in-lumarex, kept by GIMP for the session: the
// settings by their place in the table, with the count as a check against
// a record from another version of the plug-in.
struct LastValues {
    uint32_t count = 0;
    double values[32] = {};
};

void SaveLastValues(const Settings& s) {
    LastValues last;
    const auto settings = CorrectSettings();
    last.count = uint32_t(settings.size());
    for (size_t i = 0; i < settings.size() && i < std::size(last.values); ++i)
        last.values[i] = ValueOf(*settings[i], s);
    gimp_set_data(kCorrectProc, &last, sizeof last);
}

// The last values, or `correct`'s defaults when there are none.
Settings LoadLastValues() {
    Settings s = DefaultSettings(Command::kCorrect);
    LastValues last;
    const auto settings = CorrectSettings();
    if (gimp_get_data_size(kCorrectProc) != sizeof last || !gimp_get_data(kCorrectProc, &last) ||
        last.count != settings.size())
        return s;
    Settings read = s;
    for (size_t i = 0; i < settings.size(); ++i)
        if (!SetFromValue(*settings[i], last.values[i], read).empty()) return s;
    return read;
}

// --- registration -------------------------------------------------------------------

void Query() {
    static const GimpParamDef kFilterArgs[] = {
        {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
         const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), RUN-WITH-LAST-VALS (2) }")},
        {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
        {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Input drawable")},
    };
    gimp_install_procedure(
        kAutoProc, "Lumarex automatic photo correction",
        "Analyses the layer, then removes the black offset and a colour cast the analysis finds, stretches the "
        "levels and brightens shadows and mid-tones, as `lumarex auto` does with its defaults. RGB layers of "
        "8 or 16-bit integer precision; the alpha channel is kept as it is. With a selection, the layer is "
        "analysed as a whole and only the selection changes.",
        "Lumarex", "Lumarex", "2026", "Lumarex _Auto", "RGB*", GIMP_PLUGIN, kFixedParams, 0,
        const_cast<GimpParamDef*>(kFilterArgs), nullptr);
    gimp_plugin_menu_register(kAutoProc, "<Image>/Colors/Auto");

    // The parameter names and descriptions live until the procedure is
    // installed.
    const Settings defaults = DefaultSettings(Command::kCorrect);
    const auto settings = CorrectSettings();
    std::vector<std::string> descriptions;
    descriptions.reserve(settings.size());
    std::vector<GimpParamDef> args(std::begin(kFilterArgs), std::end(kFilterArgs));
    for (const SettingInfo* info : settings) {
        descriptions.push_back(Description(*info, defaults));
        args.push_back({IsWhole(*info) ? GIMP_PDB_INT32 : GIMP_PDB_FLOAT, const_cast<gchar*>(info->name),
                        const_cast<gchar*>(descriptions.back().c_str())});
    }
    gimp_install_procedure(
        kCorrectProc, "Lumarex photo correction with settings",
        "Analyses the layer, then corrects it with the given settings, as `lumarex correct` does: each parameter "
        "is the command's option of the same name; a setting that takes words takes their numbers (auto is -1). "
        "A value out of range is refused, naming the parameter. RGB layers of 8 or 16-bit integer precision; "
        "the alpha channel is kept as it is. With a selection, the layer is analysed as a whole and only the "
        "selection changes. Run from the menu, it applies the last values (at first `lumarex correct`'s "
        "defaults).",
        "Lumarex", "Lumarex", "2026", "_Lumarex", "RGB*", GIMP_PLUGIN, gint(args.size()), 0, args.data(),
        nullptr);
    gimp_plugin_menu_register(kCorrectProc, "<Image>/Colors");
}

// --- the layer ------------------------------------------------------------------

// Why a drawable cannot be corrected, empty when it can. `bits` gets 8 or 16.
std::string Refusal(gint32 image, gint32 drawable, int& bits) {
    if (!gimp_item_is_layer(drawable))
        return "Lumarex corrects layers; this is a layer mask or a channel (select the layer itself).";
    if (!gimp_drawable_is_rgb(drawable))
        return gimp_drawable_is_gray(drawable)
                   ? "Lumarex corrects RGB layers; this one is grayscale (Image > Mode > RGB converts it)."
                   : "Lumarex corrects RGB layers; this one is indexed (Image > Mode > RGB converts it).";
    switch (gimp_image_get_precision(image)) {
        case GIMP_PRECISION_U8_GAMMA: bits = 8; return {};
        case GIMP_PRECISION_U16_GAMMA: bits = 16; return {};
        case GIMP_PRECISION_U8_LINEAR:
        case GIMP_PRECISION_U16_LINEAR:
            // Its curves are made for perceptual samples, as files hold them.
            return "Lumarex corrects images of perceptual (gamma) precision; this one is linear light "
                   "(Image > Precision > Perceptual gamma converts it).";
        default:
            return "Lumarex corrects 8 and 16-bit integer images; this one has a higher precision "
                   "(Image > Precision > 16 bit integer converts it).";
    }
}

// The layer's pixels as babl gives them in `format`: interleaved R'G'B'(A),
// 8 or 16 bits, in the image's colour space, so that they are the stored
// samples themselves.
struct Pixels {
    int width = 0, height = 0, bits = 8, channels = 3;
    const Babl* format = nullptr;
    std::vector<uint8_t> bytes;

    size_t SampleBytes() const { return bits == 16 ? 2 : 1; }
};

Pixels ReadLayer(gint32 drawable, int bits) {
    Pixels p;
    p.width = gimp_drawable_width(drawable);
    p.height = gimp_drawable_height(drawable);
    p.bits = bits;
    const bool alpha = gimp_drawable_has_alpha(drawable);
    p.channels = alpha ? 4 : 3;
    const char* name = bits == 16 ? (alpha ? "R'G'B'A u16" : "R'G'B' u16") : (alpha ? "R'G'B'A u8" : "R'G'B' u8");
    p.format = babl_format_with_space(name, gimp_drawable_get_format(drawable));
    p.bytes.resize(size_t(p.width) * size_t(p.height) * size_t(p.channels) * p.SampleBytes());
    GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
    gegl_buffer_get(buffer, GEGL_RECTANGLE(0, 0, p.width, p.height), 1.0, p.format, p.bytes.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    g_object_unref(buffer);
    return p;
}

template <typename T>
void ColourOf(const Pixels& p, std::vector<T>& rgb) {
    const auto* in = reinterpret_cast<const T*>(p.bytes.data());
    const size_t n = size_t(p.width) * size_t(p.height);
    rgb.resize(n * 3);
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) rgb[i * 3 + c] = in[i * size_t(p.channels) + c];
}

// The layer's colour as the command's picture (its alpha stays in `p`).
Picture PictureOf(const Pixels& p) {
    Picture pic;
    pic.width = p.width;
    pic.height = p.height;
    pic.bits = p.bits;
    if (p.bits == 16) ColourOf(p, pic.rgb16);
    else ColourOf(p, pic.rgb8);
    return pic;
}

// The corrected colour of `r` (the picture `fixed` holds), with the layer's
// own alpha, as the interleaved samples of `p`'s format.
template <typename T>
std::vector<uint8_t> RegionBytes(const Pixels& p, const Region& r, const std::vector<T>& fixed) {
    std::vector<uint8_t> bytes(size_t(r.w) * size_t(r.h) * size_t(p.channels) * sizeof(T));
    auto* out = reinterpret_cast<T*>(bytes.data());
    const auto* in = reinterpret_cast<const T*>(p.bytes.data());
    const size_t ch = size_t(p.channels);
    for (int y = 0; y < r.h; ++y)
        for (int x = 0; x < r.w; ++x) {
            const size_t o = size_t(y) * size_t(r.w) + size_t(x);
            const size_t l = size_t(r.y + y) * size_t(p.width) + size_t(r.x + x);
            for (int c = 0; c < 3; ++c) out[o * ch + c] = fixed[o * 3 + c];
            if (ch == 4) out[o * ch + 3] = in[l * ch + 3];
        }
    return bytes;
}

// Writes the corrected region through the shadow buffer and merges it as
// one undo step, blended along the selection's mask.
void WriteRegion(gint32 drawable, const Pixels& p, const Region& r, const Picture& fixed) {
    const std::vector<uint8_t> bytes = p.bits == 16 ? RegionBytes(p, r, fixed.rgb16) : RegionBytes(p, r, fixed.rgb8);
    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
    gegl_buffer_set(shadow, GEGL_RECTANGLE(r.x, r.y, r.w, r.h), 0, p.format, bytes.data(), GEGL_AUTO_ROWSTRIDE);
    gegl_buffer_flush(shadow);
    g_object_unref(shadow);
    gimp_drawable_merge_shadow(drawable, TRUE);
    gimp_drawable_update(drawable, r.x, r.y, r.w, r.h);
}

// Corrects the drawable's selected area with `settings` as `command` does.
// Returns the error text, empty on success.
std::string CorrectDrawable(gint32 image, gint32 drawable, Command command, const Settings& settings) {
    int bits = 8;
    std::string error = Refusal(image, drawable, bits);
    if (!error.empty()) return error;
    Region r;
    if (!gimp_drawable_mask_intersect(drawable, &r.x, &r.y, &r.w, &r.h)) return {};  // nothing selected on it

    gimp_progress_init(command == Command::kAuto ? "Lumarex: automatic correction" : "Lumarex: correction");
    const Pixels layer = ReadLayer(drawable, bits);
    Picture pic = PictureOf(layer);
    // The whole layer goes the command's way for a whole photo; an area is
    // corrected as it looks in the whole.
    const bool whole = r.x == 0 && r.y == 0 && r.w == layer.width && r.h == layer.height;
    const FileProgress progress = [](float done) {
        gimp_progress_update(done);
        return false;
    };
    std::string summary;
    const bool ok = command == Command::kAuto
                        ? AutoCorrectRegion(settings, whole ? nullptr : &r, pic, summary, error, progress)
                        : CorrectPicture(settings, whole ? nullptr : &r, pic, nullptr, summary, error, progress);
    if (!ok) return "Lumarex: " + error;
    WriteRegion(drawable, layer, r, pic);
    gimp_progress_update(1.0);
    gimp_progress_end();
    return {};
}

// --- running ----------------------------------------------------------------------

// The settings of a non-interactive plug-in-lumarex call, or the error text.
std::string SettingsOfCall(gint nparams, const GimpParam* param, Settings& s) {
    const auto settings = CorrectSettings();
    if (nparams != kFixedParams + gint(settings.size()))
        return std::string(kCorrectProc) + " takes " + std::to_string(kFixedParams + settings.size()) +
               " parameters, got " + std::to_string(nparams);
    s = DefaultSettings(Command::kCorrect);
    for (size_t i = 0; i < settings.size(); ++i) {
        const GimpParam& p = param[kFixedParams + i];
        const double v = p.type == GIMP_PDB_FLOAT ? p.data.d_float : double(p.data.d_int32);
        const std::string error = SetFromValue(*settings[i], v, s);
        if (!error.empty()) return std::string("Lumarex: ") + settings[i]->name + " " + error;
    }
    return {};
}

// The numbers are read and written in the C locale whatever the user's:
// the table's checks parse the text of a value.
class CNumbers {
public:
    CNumbers() : c_(newlocale(LC_ALL_MASK, "C", locale_t(0))), old_(c_ ? uselocale(c_) : locale_t(0)) {}
    ~CNumbers() {
        if (c_) {
            uselocale(old_);
            freelocale(c_);
        }
    }
    CNumbers(const CNumbers&) = delete;
    CNumbers& operator=(const CNumbers&) = delete;

private:
    locale_t c_;
    locale_t old_;
};

// Returns the error text and sets `status`; empty on success.
std::string Run(const gchar* name, gint nparams, const GimpParam* param, GimpPDBStatusType& status) {
    if (nparams < kFixedParams) {
        status = GIMP_PDB_CALLING_ERROR;
        return std::string(name) + " needs a run mode, an image and a drawable";
    }
    const auto mode = GimpRunMode(param[0].data.d_int32);
    const gint32 drawable = param[2].data.d_drawable;
    // The drawable's own image, whose precision it has and whose undo
    // stack takes the step, whatever image a script passed with it.
    const gint32 image = gimp_item_get_image(drawable);
    const bool automatic = std::strcmp(name, kAutoProc) == 0;
    Settings settings = DefaultSettings(automatic ? Command::kAuto : Command::kCorrect);
    if (!automatic) {
        if (mode == GIMP_RUN_NONINTERACTIVE) {
            std::string error = SettingsOfCall(nparams, param, settings);
            if (!error.empty()) {
                status = GIMP_PDB_CALLING_ERROR;
                return error;
            }
        } else {
            settings = LoadLastValues();
        }
    }
    gimp_image_undo_group_start(image);
    std::string error = CorrectDrawable(image, drawable, automatic ? Command::kAuto : Command::kCorrect, settings);
    gimp_image_undo_group_end(image);
    if (!error.empty()) {
        status = GIMP_PDB_EXECUTION_ERROR;
        return error;
    }
    if (!automatic && mode != GIMP_RUN_WITH_LAST_VALS) SaveLastValues(settings);
    if (mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
    return {};
}

void RunProcedure(const gchar* name, gint nparams, const GimpParam* param, gint* nreturn_vals,
                  GimpParam** return_vals) {
    static GimpParam values[2];
    static std::string message;
    GimpPDBStatusType status = GIMP_PDB_SUCCESS;
    {
        const CNumbers numbers;
        gegl_init(nullptr, nullptr);
        try {
            message = Run(name, nparams, param, status);
        } catch (const std::bad_alloc&) {
            status = GIMP_PDB_EXECUTION_ERROR;
            message = "Lumarex: not enough memory for the layer";
        } catch (const std::exception& e) {
            status = GIMP_PDB_EXECUTION_ERROR;
            message = std::string("Lumarex: ") + e.what();
        }
    }
    *nreturn_vals = 1;
    *return_vals = values;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = status;
    // GIMP shows a failed call's message (its second value) to the user, or
    // hands it to the calling script.
    if (status != GIMP_PDB_SUCCESS) {
        *nreturn_vals = 2;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = const_cast<gchar*>(message.c_str());
    }
}

const GimpPlugInInfo kPlugIn = {nullptr, nullptr, Query, RunProcedure};

}  // namespace

// The library's host: its working memory from the process heap, as the
// command takes it.
int main(int argc, char* argv[]) {
    SetFilterRecord(LxHeapHostRecord());
    return gimp_main(&kPlugIn, argc, argv);
}
