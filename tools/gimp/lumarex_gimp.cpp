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
// Run interactively, plug-in-lumarex opens a dialog: the layer analysed
// once, controls made from the same table, a preview that corrects only
// its visible area the way OK then corrects the selection.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <locale.h>
#include <memory>
#include <new>
#include <optional>
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
        "selection changes. Run interactively, it opens a dialog with a preview, starting from the last values "
        "(at first `lumarex correct`'s defaults); with last values, it applies them without the dialog.",
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
    std::vector<uint8_t> profile;  // the image's ICC profile; none for GIMP's built-in sRGB

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
    // The samples are in the image's colour space; the choice measures
    // colours in it, as the command does with a file's profile.
    if (GimpColorProfile* profile = gimp_image_get_color_profile(gimp_item_get_image(drawable))) {
        gsize length = 0;
        const guint8* icc = gimp_color_profile_get_icc_profile(profile, &length);
        if (icc != nullptr) p.profile.assign(icc, icc + length);
        g_object_unref(profile);
    }
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
    if (!p.profile.empty())
        pic.spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(p.profile.size())),
                           p.profile.data());
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
// one undo step, blended along the selection's mask. False when GIMP
// refuses the merge (a layer group, a layer whose pixels are locked).
bool WriteRegion(gint32 drawable, const Pixels& p, const Region& r, const Picture& fixed) {
    const std::vector<uint8_t> bytes = p.bits == 16 ? RegionBytes(p, r, fixed.rgb16) : RegionBytes(p, r, fixed.rgb8);
    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
    gegl_buffer_set(shadow, GEGL_RECTANGLE(r.x, r.y, r.w, r.h), 0, p.format, bytes.data(), GEGL_AUTO_ROWSTRIDE);
    gegl_buffer_flush(shadow);
    g_object_unref(shadow);
    if (!gimp_drawable_merge_shadow(drawable, TRUE)) return false;
    gimp_drawable_update(drawable, r.x, r.y, r.w, r.h);
    return true;
}

// GIMP's reason for a refused merge, or ours when it gives none.
std::string MergeRefused() {
    const gchar* why = gimp_get_pdb_error();
    const std::string reason = why != nullptr && *why != '\0' ? std::string(": ") + why
                                                              : std::string(" (a layer group, or locked pixels)");
    return "Lumarex: the layer cannot take the corrected pixels" + reason;
}

// --- stopping ---------------------------------------------------------------------

// A run stops when the library's progress callback returns true: the
// dialog's Cancel while OK's correction runs, or the test-only parasite
// below. Nothing is written to the layer before the correction is complete,
// so a stopped run leaves the layer as it was. (A cancel of GIMP's own
// progress bar in the image window does not reach a plug-in in GIMP 2.10:
// GIMP ends the plug-in's process, with the same result for the layer.)
struct Stop {
    float at = 2.0f;          // the test-only stop's share of the work; above 1: none
    bool cancelled = false;   // the dialog's Cancel during OK's correction
    bool asked = false;       // the callback asked the library to stop
};

// For the tests: a parasite of this name on the drawable, whose text is a
// share of the work ("0.75"), makes the run stop once that share is done,
// as a user's Cancel would. A parasite rather than an environment variable
// so that one GIMP session can run stopped and complete calls side by side.
constexpr const char* kStopParasite = "lumarex-stop-at";

float StopAt(gint32 drawable) {
    GimpParasite* parasite = gimp_item_get_parasite(drawable, kStopParasite);
    if (!parasite) return 2.0f;
    const auto* text = static_cast<const char*>(gimp_parasite_data(parasite));
    float at = 2.0f;
    std::from_chars(text, text + gimp_parasite_data_size(parasite), at);
    gimp_parasite_free(parasite);
    return at;
}

// The library's progress, shown in the image window's progress bar, or in
// the dialog's (whose Cancel is then read between steps); true when the run
// is to stop.
FileProgress Reporting(Stop& stop, GtkProgressBar* bar) {
    return [&stop, bar](float done) {
        if (bar) {
            gtk_progress_bar_set_fraction(bar, std::clamp(double(done), 0.0, 1.0));
            while (gtk_events_pending()) gtk_main_iteration();
        } else {
            gimp_progress_update(done);
        }
        if (stop.cancelled || done >= stop.at) stop.asked = true;
        return stop.asked;
    };
}

constexpr const char* kStopped = "Lumarex: stopped; the layer is unchanged";

// --- correcting -------------------------------------------------------------------

// Corrects the drawable's selected area with `settings` as `command` does.
// Returns the error text, empty on success; `stop.asked` tells a stop.
std::string CorrectDrawable(gint32 image, gint32 drawable, Command command, const Settings& settings, Stop& stop) {
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
    const FileProgress progress = Reporting(stop, nullptr);
    std::string summary;
    const bool ok = command == Command::kAuto
                        ? AutoCorrectRegion(settings, whole ? nullptr : &r, pic, summary, error, progress)
                        : CorrectPicture(settings, whole ? nullptr : &r, pic, nullptr, summary, error, progress);
    const bool written = ok && WriteRegion(drawable, layer, r, pic);
    gimp_progress_update(1.0);
    gimp_progress_end();
    if (ok && !written) return MergeRefused();
    return ok ? std::string() : stop.asked ? kStopped : "Lumarex: " + error;
}

// A layer read and analysed once, for the dialog: its preview and its OK
// correct areas of it with the choice for the settings asked for, through
// the region path of `lumarex correct --region`, whose pixels are those of
// the whole layer's correction. So the preview shows what OK writes, and a
// slider costs a choice and the preview's pixels, never an analysis.
struct AnalysedLayer {
    Pixels layer;
    Picture pic;
    BlobOwner blob;
    ParamOwner param;
    std::unique_ptr<PhotoChoices> choices;
    // Noise removal corrects the whole layer for any area: the last whole
    // correction is kept while the settings stay, for scrolling and OK.
    std::optional<Settings> denoisedFor;
    Picture denoised;
};

int32_t LibraryProgress(int32_t step, int32_t total, void* context) {
    const auto& progress = *static_cast<const FileProgress*>(context);
    return progress(float(step) / float(total)) ? 1 : 0;
}

bool Analyse(gint32 drawable, int bits, AnalysedLayer& a, std::string& error, const FileProgress& progress) {
    a.layer = ReadLayer(drawable, bits);
    a.pic = PictureOf(a.layer);
    const ImageDesc d = DescribeRgb(a.pic);
    a.blob.reset(AllocImageBlob(&d));
    a.choices = std::make_unique<PhotoChoices>(a.pic);
    if (a.blob)
        a.param.reset(AnalyseInsideFrame(a.blob.get(), a.pic, a.choices->frame(), LibraryProgress,
                                         const_cast<FileProgress*>(&progress)));
    if (!a.param) {
        error = "not enough memory for the analysis";
        return false;
    }
    return true;
}

// The area `r` of the layer corrected with `s` (colour only), and the
// choice's summary ("brightened 40 %").
bool CorrectArea(AnalysedLayer& a, const Settings& s, const Region& r, Picture& out, std::string& summary,
                 std::string& error, const FileProgress& progress) {
    const Choice* choice = a.choices->For(s, a.param.get(), error, progress);
    if (!choice) return false;
    std::string applied;
    if (s.denoise == kNoDenoise) {
        if (!ApplyChoiceToRegion(*choice, r, a.blob.get(), a.param.get(), a.pic, out, applied, error, progress))
            return false;
    } else {
        if (a.denoisedFor != s) {
            a.denoisedFor.reset();
            a.denoised = a.pic;
            if (!ApplyChoiceToPicture(*choice, nullptr, a.blob.get(), a.param.get(), a.denoised, applied, error,
                                      progress))
                return false;
            a.denoisedFor = s;
        }
        out = CropPicture(a.denoised, r.x, r.y, r.w, r.h, false);
    }
    summary = SummaryOf(choice->outcome);
    return true;
}

// --- the dialog -------------------------------------------------------------------

constexpr gint kResponseReset = 1;

// One control of the dialog, for one setting of the table: a scale entry for
// numbers (with a toggle for the word a setting takes besides them, such as
// auto), a combo box for a setting that takes words only.
struct Control {
    const SettingInfo* info = nullptr;
    GtkObject* adjustment = nullptr;
    GtkWidget* word = nullptr;  // the toggle, or the combo box
    int digits = 0;

    bool WordsOnly() const { return info->lo > info->hi; }

    // The scale's value on the table's steps, as the entry shows it.
    double Number() const {
        double v = gtk_adjustment_get_value(GTK_ADJUSTMENT(adjustment));
        if (info->step > 0) v = info->lo + std::round((v - info->lo) / info->step) * info->step;
        const double scale = std::pow(10.0, digits);
        return std::round(v * scale) / scale;
    }

    double Value() const {
        if (WordsOnly()) {
            gint i = 0;
            gimp_int_combo_box_get_active(GIMP_INT_COMBO_BOX(word), &i);
            return info->words[size_t(i)].value;
        }
        if (word && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(word))) return info->words[0].value;
        return Number();
    }

    void Show(double v) const {
        if (WordsOnly()) {
            for (size_t i = 0; i < info->words.size(); ++i)
                if (info->words[i].value == v) gimp_int_combo_box_set_active(GIMP_INT_COMBO_BOX(word), gint(i));
            return;
        }
        const bool isWord = word && v == info->words[0].value;
        if (word) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(word), isWord);
        if (!isWord) gtk_adjustment_set_value(GTK_ADJUSTMENT(adjustment), v);
    }
};

struct Dialog {
    gint32 drawable = -1;
    AnalysedLayer* analysed = nullptr;
    Stop* stop = nullptr;
    GtkWidget* window = nullptr;
    GtkWidget* preview = nullptr;
    GtkWidget* summary = nullptr;
    GtkWidget* controls = nullptr;
    GtkWidget* bar = nullptr;
    std::vector<Control> settings;
    // OK's correction runs (and the preview, scrolled meanwhile, waits):
    // the analysed layer is the correction's.
    bool correcting = false;

    Settings Current() const {
        Settings s = DefaultSettings(Command::kCorrect);
        for (const Control& c : settings) SetFromValue(*c.info, c.Value(), s);  // in range by construction
        return s;
    }

    void Show(const Settings& s) const {
        for (const Control& c : settings) c.Show(ValueOf(*c.info, s));
    }
};

// `r` of the layer as the preview draws it: 8-bit R'G'B'(A), the colour of
// `fixed` (the size of `r`) or, without it, the layer's own, with the
// layer's alpha. 16-bit samples are rounded to 8 bits.
template <typename T>
std::vector<uint8_t> PreviewBytes(const Pixels& p, const Region& r, const std::vector<T>* fixed) {
    const size_t ch = size_t(p.channels);
    std::vector<uint8_t> bytes(size_t(r.w) * size_t(r.h) * ch);
    const auto* in = reinterpret_cast<const T*>(p.bytes.data());
    const auto eight = [](T v) { return sizeof(T) == 1 ? uint8_t(v) : uint8_t((uint32_t(v) * 255 + 32767) / 65535); };
    for (int y = 0; y < r.h; ++y)
        for (int x = 0; x < r.w; ++x) {
            const size_t o = size_t(y) * size_t(r.w) + size_t(x);
            const size_t l = size_t(r.y + y) * size_t(p.width) + size_t(r.x + x);
            for (size_t c = 0; c < ch; ++c)
                bytes[o * ch + c] = eight(fixed && c < 3 ? (*fixed)[o * 3 + c] : in[l * ch + c]);
        }
    return bytes;
}

// The selection's mask over `r` of the layer, 0..255.
std::vector<uint8_t> SelectionMask(gint32 drawable, const Region& r) {
    gint ox = 0, oy = 0;
    gimp_drawable_offsets(drawable, &ox, &oy);
    GeglBuffer* buffer = gimp_drawable_get_buffer(gimp_image_get_selection(gimp_item_get_image(drawable)));
    std::vector<uint8_t> mask(size_t(r.w) * size_t(r.h));
    gegl_buffer_get(buffer, GEGL_RECTANGLE(r.x + ox, r.y + oy, r.w, r.h), 1.0, babl_format("Y u8"), mask.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    g_object_unref(buffer);
    return mask;
}

// The preview's visible area corrected with the dialog's settings, drawn
// as OK writes it where the selection is whole; along a feathered edge the
// corrected pixels are blended with the layer's by the mask on 8-bit
// samples (GIMP's merge blends otherwise). The blend is drawn
// here rather than by GIMP's drawable preview, whose own blend draws a
// layer's thumbnail in place of the buffer it is given.
void RenderPreview(GimpPreview* preview, Dialog* d) {
    if (d->correcting) return;
    AnalysedLayer& a = *d->analysed;
    Region r;
    gint px = 0, py = 0;
    gimp_preview_get_position(preview, &px, &py);
    gimp_preview_get_size(preview, &r.w, &r.h);
    r.x = std::clamp(px, 0, a.layer.width - 1);
    r.y = std::clamp(py, 0, a.layer.height - 1);
    r.w = std::clamp(r.w, 1, a.layer.width - r.x);
    r.h = std::clamp(r.h, 1, a.layer.height - r.y);
    Picture out;
    std::string summary, error;
    const FileProgress never = [](float) { return false; };
    try {
        if (!CorrectArea(a, d->Current(), r, out, summary, error, never)) {
            gtk_label_set_text(GTK_LABEL(d->summary), ("Lumarex: " + error).c_str());
            return;
        }
        const bool wide = a.layer.bits == 16;
        const std::vector<uint8_t> fixed =
            wide ? PreviewBytes(a.layer, r, &out.rgb16) : PreviewBytes(a.layer, r, &out.rgb8);
        const gint stride = r.w * a.layer.channels;
        const GimpImageType type = a.layer.channels == 4 ? GIMP_RGBA_IMAGE : GIMP_RGB_IMAGE;
        auto* area = GIMP_PREVIEW_AREA(gimp_preview_get_area(preview));
        if (gimp_selection_is_empty(gimp_item_get_image(d->drawable))) {
            gimp_preview_draw_buffer(preview, fixed.data(), stride);
        } else {
            // Blended here, exactly where the mask is 0 or 255: GimpPreviewArea's
            // own blend is a level off on RGB layers.
            std::vector<uint8_t> shown = wide ? PreviewBytes<uint16_t>(a.layer, r, nullptr)
                                              : PreviewBytes<uint8_t>(a.layer, r, nullptr);
            const std::vector<uint8_t> mask = SelectionMask(d->drawable, r);
            const size_t ch = size_t(a.layer.channels);
            for (size_t i = 0; i < shown.size(); ++i) {
                const unsigned m = mask[i / ch];
                shown[i] = uint8_t((shown[i] * (255 - m) + fixed[i] * m + 127) / 255);
            }
            gimp_preview_area_draw(area, r.x - px, r.y - py, r.w, r.h, type, shown.data(), stride);
        }
        gtk_label_set_text(GTK_LABEL(d->summary), summary.c_str());
    } catch (const std::bad_alloc&) {
        gtk_label_set_text(GTK_LABEL(d->summary), "Lumarex: not enough memory for the preview");
    }
}

void OnWordToggled(GtkToggleButton* toggle, GtkObject* adjustment) {
    gimp_scale_entry_set_sensitive(adjustment, !gtk_toggle_button_get_active(toggle));
}

// While OK's correction runs, Cancel (or closing the window) stops it.
void OnResponseWhileCorrecting(GtkDialog*, gint response, Stop* stop) {
    if (response == GTK_RESPONSE_CANCEL || response == GTK_RESPONSE_DELETE_EVENT) stop->cancelled = true;
}

// The dialog's controls, one row per setting of `correct` in the table's
// order, named as the command's options, with its ranges, defaults and help.
GtkWidget* BuildControls(Dialog& d) {
    const Settings defaults = DefaultSettings(Command::kCorrect);
    const auto infos = CorrectSettings();
    GtkWidget* table = gtk_table_new(guint(infos.size()), 4, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_table_set_row_spacings(GTK_TABLE(table), 2);
    for (size_t row = 0; row < infos.size(); ++row) {
        const SettingInfo& info = *infos[row];
        const std::string help = Description(info, defaults);
        Control c;
        c.info = &info;
        if (c.WordsOnly()) {
            std::vector<const gchar*> words;
            for (const SettingWord& w : info.words) words.push_back(w.word);
            c.word = gimp_int_combo_box_new_array(gint(words.size()), words.data());
            GtkWidget* label = gtk_label_new(info.name);
            gtk_misc_set_alignment(GTK_MISC(label), 0.0, 0.5);
            gtk_table_attach(GTK_TABLE(table), label, 0, 1, guint(row), guint(row) + 1, GTK_FILL, GTK_FILL, 0, 0);
            gtk_table_attach(GTK_TABLE(table), c.word, 1, 3, guint(row), guint(row) + 1, GTK_FILL, GTK_FILL, 0, 0);
            gtk_widget_set_tooltip_text(c.word, help.c_str());
            gtk_widget_set_tooltip_text(label, help.c_str());
            gtk_widget_show(label);
            gtk_widget_show(c.word);
            g_signal_connect_swapped(c.word, "changed", G_CALLBACK(gimp_preview_invalidate), d.preview);
        } else {
            const bool whole = IsWhole(info);
            c.digits = whole ? 0 : info.step > 0 ? int(std::ceil(-std::log10(info.step) - 1e-9)) : 2;
            const double step = info.step > 0 ? info.step : whole ? 1.0 : 0.01;
            const double page = std::max(step, whole ? std::round((info.hi - info.lo) / 10) : (info.hi - info.lo) / 10);
            c.adjustment = gimp_scale_entry_new(GTK_TABLE(table), 0, gint(row), info.name, 160, 6, info.lo, info.lo,
                                                info.hi, step, page, guint(c.digits), TRUE, info.lo, info.hi,
                                                help.c_str(), nullptr);
            g_signal_connect_swapped(c.adjustment, "value-changed", G_CALLBACK(gimp_preview_invalidate), d.preview);
            if (!info.words.empty()) {
                c.word = gtk_check_button_new_with_label(info.words[0].word);
                gtk_widget_set_tooltip_text(c.word, help.c_str());
                gtk_table_attach(GTK_TABLE(table), c.word, 3, 4, guint(row), guint(row) + 1, GTK_FILL, GTK_FILL, 0,
                                 0);
                gtk_widget_show(c.word);
                g_signal_connect(c.word, "toggled", G_CALLBACK(OnWordToggled), c.adjustment);
                g_signal_connect_swapped(c.word, "toggled", G_CALLBACK(gimp_preview_invalidate), d.preview);
            }
        }
        d.settings.push_back(c);
    }
    return table;
}

// Opens the dialog on an analysed layer with `s`; true with the settings in
// `s` when OK was pressed. The dialog stays open (d.window) for the
// correction's progress.
bool RunDialog(gint32 drawable, Dialog& d, Settings& s) {
    d.window = gimp_dialog_new("Lumarex", "lumarex", nullptr, GtkDialogFlags(0), gimp_standard_help_func,
                               kCorrectProc, "_Reset", kResponseReset, "_Cancel", GTK_RESPONSE_CANCEL, "_OK",
                               GTK_RESPONSE_OK, nullptr);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(d.window), kResponseReset, GTK_RESPONSE_OK,
                                            GTK_RESPONSE_CANCEL, -1);
    gimp_window_set_transient(GTK_WINDOW(d.window));

    GtkWidget* box = gtk_hbox_new(FALSE, 12);
    gtk_container_set_border_width(GTK_CONTAINER(box), 12);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d.window))), box, TRUE, TRUE, 0);
    GtkWidget* left = gtk_vbox_new(FALSE, 6);
    gtk_box_pack_start(GTK_BOX(box), left, TRUE, TRUE, 0);

    // GIMP's previews take their size (200 pixels) from a style property
    // of the widget: a larger one, for a photo.
    gtk_rc_parse_string("style \"lumarex-preview\" { GimpPreview::size = 400 }\n"
                        "widget \"*.lumarex-preview\" style \"lumarex-preview\"\n");
    d.preview = gimp_drawable_preview_new_from_drawable_id(drawable);
    gtk_widget_set_name(d.preview, "lumarex-preview");
    gtk_box_pack_start(GTK_BOX(left), d.preview, TRUE, TRUE, 0);
    g_signal_connect(d.preview, "invalidated", G_CALLBACK(RenderPreview), &d);
    d.summary = gtk_label_new("");
    gtk_misc_set_alignment(GTK_MISC(d.summary), 0.0, 0.5);
    gtk_box_pack_start(GTK_BOX(left), d.summary, FALSE, FALSE, 0);
    d.bar = gtk_progress_bar_new();
    gtk_box_pack_start(GTK_BOX(left), d.bar, FALSE, FALSE, 0);

    d.controls = BuildControls(d);
    gtk_box_pack_start(GTK_BOX(box), d.controls, FALSE, FALSE, 0);
    d.Show(s);
    gtk_widget_show_all(box);
    gtk_widget_hide(d.bar);
    gtk_widget_show(d.window);

    for (;;) {
        const gint response = gimp_dialog_run(GIMP_DIALOG(d.window));
        if (response == kResponseReset) {
            d.Show(DefaultSettings(Command::kCorrect));
            continue;
        }
        if (response != GTK_RESPONSE_OK) return false;
        s = d.Current();
        return true;
    }
}

// plug-in-lumarex from the menu: the layer analysed once, the dialog, then
// OK's correction through the same path as the preview's.
std::string RunInteractive(gint32 image, gint32 drawable, GimpPDBStatusType& status) {
    int bits = 8;
    std::string error = Refusal(image, drawable, bits);
    if (!error.empty()) {
        status = GIMP_PDB_EXECUTION_ERROR;
        return error;
    }
    Region r;
    if (!gimp_drawable_mask_intersect(drawable, &r.x, &r.y, &r.w, &r.h)) return {};
    // GTK ends a process that cannot open its display: without one
    // (gimp-console), the call fails instead.
    if (!gtk_init_check(nullptr, nullptr)) {
        status = GIMP_PDB_EXECUTION_ERROR;
        return "Lumarex: the dialog needs a display; without one, call plug-in-lumarex RUN-NONINTERACTIVE";
    }
    Stop stop;
    stop.at = StopAt(drawable);
    gimp_ui_init("lumarex-gimp", FALSE);

    AnalysedLayer analysed;
    gimp_progress_init("Lumarex: analysing the layer");
    const bool ok = Analyse(drawable, bits, analysed, error, Reporting(stop, nullptr));
    gimp_progress_end();
    if (!ok) {
        status = stop.asked ? GIMP_PDB_CANCEL : GIMP_PDB_EXECUTION_ERROR;
        return stop.asked ? kStopped : "Lumarex: " + error;
    }

    Dialog d;
    d.drawable = drawable;
    d.analysed = &analysed;
    d.stop = &stop;
    Settings settings = LoadLastValues();
    if (!RunDialog(drawable, d, settings)) {
        gtk_widget_destroy(d.window);
        status = GIMP_PDB_CANCEL;
        return {};
    }
    // The correction, with its progress in the dialog, whose Cancel stops it.
    d.correcting = true;
    gtk_widget_set_sensitive(d.controls, FALSE);
    gtk_dialog_set_response_sensitive(GTK_DIALOG(d.window), kResponseReset, FALSE);
    gtk_dialog_set_response_sensitive(GTK_DIALOG(d.window), GTK_RESPONSE_OK, FALSE);
    gtk_widget_show(d.bar);
    g_signal_connect(d.window, "response", G_CALLBACK(OnResponseWhileCorrecting), &stop);

    gimp_image_undo_group_start(image);
    Picture out;
    std::string summary;
    const FileProgress progress = Reporting(stop, GTK_PROGRESS_BAR(d.bar));
    // The library looks at the callback between its steps only: a Cancel
    // pressed during its last one is read once more before writing.
    const bool corrected = CorrectArea(analysed, settings, r, out, summary, error, progress) && !progress(1.0f);
    const bool written = corrected && WriteRegion(drawable, analysed.layer, r, out);
    gimp_image_undo_group_end(image);
    gtk_widget_destroy(d.window);
    if (corrected && !written) {
        status = GIMP_PDB_EXECUTION_ERROR;
        return MergeRefused();
    }
    if (!corrected) {
        status = stop.asked ? GIMP_PDB_CANCEL : GIMP_PDB_EXECUTION_ERROR;
        return stop.asked ? kStopped : "Lumarex: " + error;
    }
    SaveLastValues(settings);
    gimp_displays_flush();
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
    if (!automatic && mode == GIMP_RUN_INTERACTIVE) return RunInteractive(image, drawable, status);
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
    Stop stop;
    stop.at = StopAt(drawable);
    gimp_image_undo_group_start(image);
    std::string error =
        CorrectDrawable(image, drawable, automatic ? Command::kAuto : Command::kCorrect, settings, stop);
    gimp_image_undo_group_end(image);
    if (!error.empty()) {
        status = stop.asked ? GIMP_PDB_CANCEL : GIMP_PDB_EXECUTION_ERROR;
        return error;
    }
    if (!automatic && mode == GIMP_RUN_NONINTERACTIVE) SaveLastValues(settings);
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
    if (status != GIMP_PDB_SUCCESS && !message.empty()) {
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
