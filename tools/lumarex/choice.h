// SPDX-License-Identifier: MIT
// What the command decides for one photo before correcting it: the settings
// the library is called with, and why. A choice is made once per photo and
// settings, from the photo's analysis and a small copy of the photo, and is
// then applied as it stands to the whole photo, to any region of it and to
// any scaled copy (the preview), so that every one of them is corrected
// alike.
//
// The decisions, in order:
//   cast          --cast auto: removed when the analysis finds a cast, then
//                 held back while it would move the photo's own saturated
//                 colours (ColourGuard below); where every method finds one
//                 and the photo's greys show it, removed to the strength at
//                 which they turn neutral (NeutralPoint below);
//   shadow floor  --shadow-floor auto: the lift starts above the darkest
//                 1 % of the photo, so that its blacks do not turn to haze;
//   brighten      --brighten auto: the strength the analysis measures, as
//                 the photo's key (KeyOf) wants it, within --min-brighten
//                 and --max-brighten; where the key cannot tell (the
//                 exposure set for the highlights), the candidate with the
//                 most contrast (ContrastOf), the photo as it is among them;
//   guard         --guard on: the cast, the black clip and the lift reduced
//                 while the correction newly clips too much.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "batch.h"
#include "colour_measure.h"
#include "correction.h"
#include "frame.h"
#include "image_file.h"
#include "settings.h"

namespace lumarex_cli {

// What a correction did.
struct CorrectionOutcome {
    int32_t strength = 0;     // the lift applied, percent
    bool castRemoved = false;
    bool heldBack = false;    // the clipping guard reduced the settings
    bool castHeldBack = false;  // the colour guard reduced the cast removal
    bool castByGreys = false;   // the cast removed to its greys' neutral point
    bool asItIs = false;      // the photo as it is showed the most contrast: levels only
};

struct Choice {
    Settings settings;                 // no word left to decide: cast on/off, numbers for the rest
    CorrectionOutcome outcome;         // what the summary line tells
    std::vector<std::string> reasons;  // one sentence a decision, for `analyse` and the preview
    Frame frame;                       // of the photo, kept as it is (frame.h)
};

// The small copy choices are judged on: the photo shrunk by a whole factor
// (block means) to at most this many pixels. Large enough that what clips
// or moves in it does so in the photo, small enough that trying a handful
// of settings on it takes milliseconds.
inline constexpr int64_t kChoicePixels = 512 * 1024;

// The copy of `photo` a choice is judged on (the photo itself when small),
// with the photo's colour profile: its colours are measured in the space the
// profile describes (colour_profile.h), sRGB without one.
Picture ChoiceCopy(const Picture& photo);

// Decides `given` for a photo: `copy` is ChoiceCopy of it, `photoWidth` the
// photo's width and `param` its analysis. False when the library fails (out
// of memory) or `progress` asks to stop; `error` then says which.
bool Choose(const Settings& given, const Picture& copy, int photoWidth, ImageParam* param, Choice& out,
            std::string& error, const FileProgress& progress);

// Clipping the guard allows, percent of the pixels newly at the top or the
// bottom. A careful levels stretch clips a fraction of a percent; beyond
// these, a bright subject visibly burns out or shadow detail blocks up.
inline constexpr double kGuardHighlights = 1.0;
inline constexpr double kGuardShadows = 1.5;

// The colour guard: a cast removal may move the photo's saturated colours
// (chroma 20 and above), with lightness set aside, by this much CIEDE2000 on
// average...
inline constexpr double kGuardColourShift = 2.5;
// ...unless the photo shows the cast on greys: removing it fully turns at
// least this share of the photo grey (chroma under kGrey, L* above 15)
// that was not, percent. A grey card, a wall under tungsten, a film scan's
// sky do; brown pinecones and red fruit, whose colour the analysis took for
// the light's, do not. Pixels near neutral in the photo (chroma under
// kSaturatedChroma) count; saturated ones only as far as those do: a blue
// sky or an evening's orange that fills the frame turns grey as the removal
// takes it for the cast, yet it is the very colour the guard keeps, while a
// strong cast (a faded, yellowed print) pushes its light greys past chroma
// 20 and its darker ones, turning grey with them, show it for a cast.
inline constexpr double kGuardGreyEvidence = 10.0;
inline constexpr double kGrey = 4.0;
inline constexpr double kSaturatedChroma = 20.0;

// A cast that every cast method finds (the light's colour, measured from the
// colours nearest grey, from areas, adaptively and from the average) may
// still be the scene's: brown pinecones fill the frame as a tungsten-lit
// room does. What tells them apart is what the photo's greys do as more of
// the cast is taken away. Under a coloured light, the surfaces that are grey
// (a wall, a linen bag) turn neutral together at one strength of the
// removal and leave neutral past it, taking on the opposite tint; a scene's
// own colour has no such surfaces, and ever more of it merely fades towards
// grey as the removal grows. So the removal the average method measures is
// tried at a quarter, a half, three quarters and all of it, and where the
// share of the photo newly grey (NewlyGrey) peaks below all of it, at
// kNeutralPointGrey percent or more, the cast is removed at that strength,
// by that method, past the colour guard: its evidence is those greys.
// Where all of the removal leaves less of the photo grey than it was, the
// photo's greys were neutral already and the colour measured is the
// scene's (a golden sky whose gradient passes near grey): no neutral point.
// Five judges, shown the tungsten room so corrected beside the default
// removal, all chose it ("walls and beanbag near neutral, floor keeps
// warmth"); the pinecones' greys only grow (docs/quality.md).
inline constexpr double kNeutralPointGrey = 5.0;
struct NeutralPoint {
    bool found = false;
    float strength = 0.0f;   // of the average method's removal
    double grey[4] = {};     // percent newly grey at 1/4, 1/2, 3/4 and all of it
};

// A toned picture (sepia, selenium, a cyanotype, a print scanned with the
// colour of its paper) has one colour, its chroma rising and falling with
// lightness along one hue: removing it as a cast turns the picture black
// and white. A scene's own colours stray from any one hue, and so do they
// under a coloured light: a tungsten room's wine, bottle and wall, an
// underwater turtle's shell, a film scan's skin and sea. Of the pixels
// between L* 15 and 95, the mean a*b* gives the hue; when it is at least
// kToneChroma from grey and the pixels' a*b* across that hue stray by at
// most kToneStray (root mean square), the picture is toned and no cast is
// removed. Toned copies of the sample photos stray by 0.7 to 1.5 (JPEG at
// quality 60 the most); the least of the 30 photos themselves, 2.5.
inline constexpr double kToneChroma = 3.0;
inline constexpr double kToneStray = 2.0;
struct Toning {
    double chroma = 0.0;  // of the mean a*b*
    double stray = 0.0;   // root mean square of a*b* across the mean's hue
    bool Toned() const { return chroma >= kToneChroma && stray <= kToneStray; }
};
Toning ToningOf(const Picture& pic, const RgbSpace& space);

// The photo's key, for --brighten auto. The analysis measures the lift that
// brings the mid-tones to the target; whether the photo wants it depends on
// what kind of photo it is:
//   low key  at least kLowKeyShare percent of the pixels in deep shadow
//            (luma under kDeepShadow): a night scene, a dark ground, a
//            moody still life; or dark as a whole, at least kDarkShare
//            percent of the pixels under kDarkLuma (40 % grey), only a
//            small subject bright: a bird on dark water. It keeps its mood:
//            no lift (the levels stretch still sets its black and white).
//   set      its brightest 1 % reaches kSetHighlights or more: the
//            exposure was set for the highlights, the photo is as bright as
//            meant. Whether its shadows want opening the key cannot tell:
//            the lift is scored (Contrast below), which opens the shadows
//            where that shows and keeps the picture from turning milky.
//   dull     highlights short of white: a dim interior, a flat scan, a
//            grey day. Half the lift or more, scored (kDullLiftQuarters).
// Blind comparisons of the lift at 0, 35, 70 and 100 % of the measured one
// on thirty photos chose along these lines (docs/quality.md). The levels are
// sRGB's: the choice judges a photo in another colour space by its colours
// as sRGB numbers.
inline constexpr int kDeepShadow = 50;
inline constexpr double kLowKeyShare = 40.0;
inline constexpr int kDarkLuma = 100;
inline constexpr double kDarkShare = 90.0;
inline constexpr int kSetHighlights = 230;

enum class Key { kLow, kSet, kDull };
struct KeyMeasure {
    Key key = Key::kDull;
    double deepShadow = 0.0;  // percent of the pixels with luma under kDeepShadow
    double dark = 0.0;        // percent of the pixels with luma under kDarkLuma
    int highlights = 0;       // level (largest channel) of the brightest 1 %
};
KeyMeasure KeyOf(const Picture& pic);

// The contrast of a picture's lightness, what the lift of a photo whose
// exposure is set is chosen by. A lift opens the shadows (more detail shows
// in them) and flattens the picture (its tones move closer together); it is
// worth having while the first outweighs the second. `spread` is the
// standard deviation of L* over the pixels, `detail` the mean L* step
// between neighbouring pixels (across and down); Score() their product, so
// that each counts by its relative change. Blind comparisons of such photos
// at 0, 35, 70 and 100 % of the measured lift never chose 100 %; the
// candidates are 0, 1/4, 1/2 and 3/4 of it, and the photo as it is. The
// largest lift within kUnseenContrast (a share) of the best score is taken:
// a change of contrast that small does not show.
struct Contrast {
    double spread = 0.0, detail = 0.0;
    double Score() const { return spread * detail; }
};
Contrast ContrastOf(const Picture& pic, const RgbSpace& space);
inline constexpr int kSetLiftQuarters = 3;
// A dull photo (its highlights short of white) wants its lift: judges
// picking the best of four lifts chose all of it for dim and flat photos.
// How much of it past half is scored in the same way, from
// kDullLiftQuarters quarters to all of it, no photo as it is among them: a
// dog in a car window whose clouds fall just short of white got all of it,
// which deepened its fur to orange, and judges preferred half (four of
// five, one tie); a dim film scan, whose contrast also falls with the lift,
// was judged alike at half and at all of it. Where the lift adds contrast
// (dim interiors, flat doors and shutters) all of it is still taken.
inline constexpr int kDullLiftQuarters = 2;
inline constexpr double kUnseenContrast = 0.01;

// The darkest share of the pixels that --shadow-floor auto keeps from the
// lift, percent, and the level above which blacks count as lifted already.
inline constexpr double kFloorPercent = 1.0;
inline constexpr int kLiftedBlacks = 64;

// --black-clip auto: the share of the samples set to black.
// kDefaultBlackClip (0.1 %) for a photo with blacks of its own. A veiled
// photo (haze, a faded scan: its darkest 1 % of samples above kVeiled, no
// true black anywhere) has a few dark specks below the veil (cables, a
// shadow), which a 0.1 % clip takes for black, leaving the veil grey. There
// the clip moves up to the veil's floor: the smallest share, in steps of
// 0.1 % up to 1 %, whose level lies within kVeilSpread (a fiftieth of full
// scale) of the darkest 1 %'s. Blind comparisons of the clip at 0.1, 0.3,
// 0.5 and 1 % preferred the larger clips on exactly such photos.
inline constexpr int kVeiled = 16;
inline constexpr int kVeilSpread = 5;
float BlackClipFor(const int32_t (&shadowPercentiles)[50], int bits);

// The 8-bit level (largest channel) below which `percent` of the pixels of
// `pic` lie; 16-bit samples count by their high byte.
int DarkestLevel(const Picture& pic, double percent);

// How far a correction moved saturated colours: the mean CIEDE2000 between
// `a` and `b` (same size, 8-bit) over the pixels of `reference` with chroma
// kSaturatedChroma and above, b's lightness set to a's; and the share of
// such pixels, percent. Colours are those of the samples in `space`, as
// below.
struct SaturatedMove {
    double shift = 0.0;
    double share = 0.0;
};
SaturatedMove SaturatedColoursMoved(const Picture& reference, const Picture& a, const Picture& b,
                                    const RgbSpace& space);

// `a` and `b` are corrections of `photo` (all three of one size): percent
// of the pixels that are grey in `b` (chroma under kGrey, L* above 15) and
// not in `a`, less those grey in `a` and not in `b`. The pixels near
// neutral in `photo` (chroma under kSaturatedChroma) count; the saturated
// ones up to as many as those, and never below none. A saturated colour
// turning grey on its own is that colour lost, no sign of a light's cast;
// turning grey beside the photo's near-neutral pixels, it is the light
// greys of a strong cast.
double NewlyGrey(const Picture& photo, const Picture& a, const Picture& b, const RgbSpace& space);

// The same against one `a` and several pictures of its size (0 for one of
// another size): which pixels count, and which of them are grey in `a`, is
// worked out once.
class GreyPixels {
public:
    GreyPixels(const Picture& photo, const Picture& a, const RgbSpace& space);
    double NewlyGreyIn(const Picture& b) const;

private:
    bool IsGrey(const Picture& p, size_t i) const;

    const RgbSpace& space_;
    int width_, height_;
    // Per grid pixel: kGreyInA, kSaturated (in the photo), both or neither.
    static constexpr uint8_t kGreyInA = 1, kSaturated = 2;
    std::vector<uint8_t> state_;
    int64_t seen_ = 0;
};

// What a correction did, as the commands print it: "brightened 40 %", then
// ", cast removed" (with " until its greys turned neutral" by a neutral
// point), ", cast held back for the scene's colours", ", held back from
// clipping" and ", levels only: the photo as it is had the most contrast"
// where they apply.
std::string SummaryOf(const CorrectionOutcome& outcome);

}  // namespace lumarex_cli
