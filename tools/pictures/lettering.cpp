// Lettering from a font: bevelled words with a rim, for the intro's lettering sheet and the scroll's words.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "tools/pictures/catalogue.h"
#include "tools/pictures/families.h"

namespace {

// How a word is drawn: bevelled letters in the values letter_lo .. letter_hi, lit from the
// upper left, inside a darker rim in rim_lo .. rim_hi, with 0 all around.
struct Lettering {
    float letter_lo, letter_hi, rim_lo, rim_hi;
};

// Draws text centred in rect of sheet (values 0..255, 0 where nothing is drawn).
void draw_word(std::vector<uint8_t>& sheet, int sheet_w, const SheetRect& r, const std::string& text,
               const std::string& font, const Lettering& look)
{
    constexpr int kRim = 2;
    constexpr int kMargin = kRim + 2;
    int bw = r.x1 - r.x0 - 2 * kMargin, bh = r.y1 - r.y0 - 2 * kMargin;
    Canvas m = text_fit(font, text, bw, bh);
    // Pad for the rim and the bevel, then light the blurred letters as a relief.
    Canvas pad = padded(m, kMargin);
    Canvas shade = relief(blur(pad, 2, 2), 6.0f, -0.5f, -0.7f, 0.6f);
    int ox = r.x0 + (r.x1 - r.x0 - pad.w) / 2, oy = r.y0 + (r.y1 - r.y0 - pad.h) / 2;
    for (int y = 0; y < pad.h; ++y)
        for (int x = 0; x < pad.w; ++x) {
            float rim = 0.0f;
            for (int dy = -kRim; dy <= kRim; ++dy)
                for (int dx = -kRim; dx <= kRim; ++dx)
                    if (dx * dx + dy * dy <= kRim * kRim + 1)
                        rim = std::max(rim, at_clamped(pad, x + dx, y + dy));
            float ink = at(pad, x, y);
            float value;
            if (ink >= 0.5f)
                value = mix(look.letter_lo, look.letter_hi, at(shade, x, y));
            else if (rim >= 0.3f)
                value = mix(look.rim_lo, look.rim_hi, ink * 2.0f);
            else
                continue;
            int sx = ox + x, sy = oy + y;
            if (sx > r.x0 && sy > r.y0 && sx < r.x1 - 1 && sy < r.y1 - 1)
                sheet[(size_t)sy * sheet_w + sx] = (uint8_t)std::lround(value);
        }
}

} // namespace

void make_lettering(Out& out)
{
    constexpr int kIntroSheetH = 243;
    std::vector<uint8_t> intro((size_t)W * kIntroSheetH, 0);
    static const char* const kPieceText[10] = {"WE ARE", "TARQLE",  "WITH",    "A NEW",  "DEMO",
                                               "NINE",   "EFFECTS", "THIS IS", "TARQLE", "ENJOY"};
    Lettering intro_look{215.0f, 255.0f, 14.0f, 60.0f};
    for (int i = 0; i < 10; ++i)
        if (i != 8) // the same rectangle as piece 1
            draw_word(intro, W, kIntroPieces[i], kPieceText[i], kFontSerifBold, intro_look);
    save(out, "grafika/intro/inttxt.pcx", intro, W, kIntroSheetH, sepia_palette());

    constexpr int kWordsSheetH = 800;
    static const char* const kWords[24] = {
        "RIPPLE", "FLOW", "LIGHT", "SHADOWS",  "MOTION",  "SUN", "WAVE", "SKY",    "DREAM",    "GO",   "SPEED", "ZOOM",
        "NIGHT",  "GLOW", "FLAME", "SOFTWARE", "TRACKER", "RUN", "FIRE", "BRIGHT", "ILLUSION", "BEAT", "PIXEL", "SPACE",
    };
    static_assert(std::size(kWords) == std::size(kWordRects));
    std::vector<uint8_t> words((size_t)W * kWordsSheetH, 0);
    Lettering look{205.0f, 255.0f, 40.0f, 150.0f};
    for (size_t i = 0; i < std::size(kWords); ++i)
        draw_word(words, W, kWordRects[i], kWords[i], kFontBold, look);
    save(out, "grafika/words.pcx", words, W, kWordsSheetH, grey_palette());
}
