// The tune of the show, composed here: 141 s in A minor that follows the parts and ends by itself.
#include "tools/tune/compose.h"

#include <cstdint>
#include <vector>

#include "tools/tune/instruments.h"
#include "tools/tune/score.h"

namespace {

// 125 beats per minute at 6 ticks per row: a row is 0.12 s, a bar of 16 rows 1.92 s.
constexpr int kSpeed = 6;
constexpr int kBpm = 125;
constexpr int kRowsPerBar = 16;
constexpr int kPatternRows = 64;

// The sections, in bars, laid over the show: intro under the presents screen, the build
// under the intro, the main theme under the blobs and the flicker, its variation under the
// mosaic and the slides, a breakdown under the words, the theme again under the fire, and
// the outro fading out over the whiteout and the closing picture.
constexpr int kIntroBar = 0;
constexpr int kBuildBar = 6;
constexpr int kMainBar = 16;
constexpr int kVariationBar = 32;
constexpr int kBreakdownBar = 48;
constexpr int kClimaxBar = 60;
constexpr int kOutroBar = 70;
constexpr int kOutroRows = 56; // three and a half bars
constexpr int kSongRows = kOutroBar * kRowsPerBar + kOutroRows;
static_assert(kSongRows * kSpeed * 2.5 / kBpm > 141.0 && kSongRows * kSpeed * 2.5 / kBpm < 141.2,
              "the tune lasts as long as the show");

// The pad has two sets of three channels: a new chord starts on one set while the chord
// before it dies away on the other, so chord changes cross-fade instead of cutting off.
enum Channel {
    kChKick,
    kChSnare,
    kChHat,
    kChCrash,
    kChBass,
    kChPad0,
    kChPad1,
    kChPad2,
    kChPadB0,
    kChPadB1,
    kChPadB2,
    kChArp,
    kChLead,
    kChEcho,
    kChannels
};
constexpr int kPadVoices = 3;

// Where each channel sits in the stereo picture; sent with every note, since a new note
// takes its sample's panning otherwise.
constexpr uint8_t kPanning[kChannels] = {128, 120, 176, 96, 128, 72, 128, 184, 84, 128, 172, 56, 108, 208};

// A chord: root pitch class (C = 0) and whether it is minor.
struct Chord {
    int root;
    bool minor;
};

constexpr Chord kAm{9, true}, kC{0, false}, kDm{2, true}, kE{4, false}, kEm{4, true}, kF{5, false}, kG{7, false};

// The XM note of pitch class pc in the octave that puts it in low .. low + 11.
int place(int pc, int low)
{
    return low + ((pc + 1 - low) % 12 + 12) % 12;
}

// The lead plays the melody from row start; the echo channel repeats it three rows later,
// softer and on the other side.
void lead(Grid& g, int start, const char* text, int volume)
{
    const std::vector<MelodyNote> notes = parse_melody(text);
    for (size_t i = 0; i < notes.size(); i++) {
        const MelodyNote& n = notes[i];
        const int end = n.row + n.length;
        const bool gap = i + 1 == notes.size() || notes[i + 1].row > end;
        for (int echo = 0; echo < 2; echo++) {
            const int channel = echo ? kChEcho : kChLead;
            const int shift = echo ? 3 : 0;
            play(g, start + n.row + shift, channel, n.note, kInsLead, echo ? volume * 2 / 5 : volume);
            if (gap)
                release(g, start + end + shift, channel);
        }
    }
}

// The pad's state while the tune is composed: the set of channels holding the chord now
// (0 or 1; it alternates with every new chord) and that chord.
int g_pad_set = 1; // the first chord goes to set 0
Chord g_pad_chord = {-1, false};

int pad_channel(int set, int voice)
{
    return (set ? kChPadB0 : kChPad0) + voice;
}

// The chord on a pad set, voiced close around the fourth octave, while the other set is
// released; a chord equal to the one before is held rather than struck again.
void pad(Grid& g, int bar, Chord chord, int volume)
{
    if (g_pad_chord.root == chord.root && g_pad_chord.minor == chord.minor)
        return;
    const int tones[kPadVoices] = {chord.root, (chord.root + (chord.minor ? 3 : 4)) % 12, (chord.root + 7) % 12};
    const int row = bar * kRowsPerBar;
    for (int i = 0; i < kPadVoices; i++) {
        release(g, row, pad_channel(g_pad_set, i));
        play(g, row, pad_channel(1 - g_pad_set, i), place(tones[i], note_number(3, 8)), kInsPad, volume); // G#3 .. G4
    }
    g_pad_set = 1 - g_pad_set;
    g_pad_chord = chord;
}

enum BassStyle { kBassHeld, kBassEighths, kBassDrive };

void bass(Grid& g, int bar, Chord chord, BassStyle style, int volume)
{
    const int root = place(chord.root, note_number(2, 4)); // E2 .. D#3
    const int row = bar * kRowsPerBar;
    switch (style) {
    case kBassHeld: play(g, row, kChBass, root, kInsBass, volume); break;
    case kBassEighths:
        for (int r = 0; r < kRowsPerBar; r += 2)
            play(g, row + r, kChBass, r % 4 == 0 ? root : root + 12, kInsBass, r % 4 == 0 ? volume : volume - 10);
        break;
    case kBassDrive: {
        // A syncopated figure: root, root, octave, root, root, octave, fifth.
        static const int kRows[7] = {0, 3, 6, 8, 10, 11, 14};
        static const int kStep[7] = {0, 0, 12, 0, 0, 12, 7};
        for (int i = 0; i < 7; i++)
            play(g, row + kRows[i], kChBass, root + kStep[i], kInsBass, kStep[i] ? volume - 8 : volume);
        break;
    }
    }
}

// Sixteenth notes running up and down the chord over two octaves.
void arpeggio(Grid& g, int bar, Chord chord, int volume)
{
    const int root = place(chord.root, note_number(4, 0)); // C4 .. B4
    const int third = chord.minor ? 3 : 4;
    static const int kShape[8] = {0, 1, 2, 3, 4, 5, 3, 2}; // indexes into the steps below
    const int steps[6] = {0, third, 7, 12, 12 + third, 19};
    for (int r = 0; r < kRowsPerBar; r++)
        play(g, bar * kRowsPerBar + r, kChArp, root + steps[kShape[r % 8]], kInsPluck,
             r % 4 == 0 ? volume : volume - 8);
}

static_assert(kDrumNote == note_number(4, 0), "drums play at C-4");

enum DrumStyle { kDrumsHats, kDrumsFour, kDrumsFull, kDrumsBusy };

void drums(Grid& g, int bar, DrumStyle style, int volume)
{
    const int row = bar * kRowsPerBar;
    for (int r = 0; r < kRowsPerBar; r++) {
        const bool off_beat = r % 4 == 2;
        if (style == kDrumsHats) {
            if (off_beat)
                play(g, row + r, kChHat, kDrumNote, kInsHat, volume * 3 / 4);
            continue;
        }
        play(g, row + r, kChHat, kDrumNote, kInsHat, off_beat ? volume * 3 / 4 : volume * 3 / 8);
        if (r % 4 == 0)
            play(g, row + r, kChKick, kDrumNote, kInsKick, volume);
        if (style >= kDrumsFull && (r == 4 || r == 12))
            play(g, row + r, kChSnare, kDrumNote, kInsSnare, volume * 7 / 8);
        if (style == kDrumsBusy && (r == 7 || r == 10))
            play(g, row + r, kChKick, kDrumNote, kInsKick, volume * 3 / 4);
    }
}

// A snare roll over bars: eighths, then sixteenths, getting louder towards the next section.
void snare_roll(Grid& g, int bar, int bars)
{
    const int first = bar * kRowsPerBar;
    const int rows = bars * kRowsPerBar;
    for (int r = 0; r < rows; r++) {
        const bool sixteenths = r >= rows / 2;
        if (sixteenths || r % 2 == 0)
            play(g, first + r, kChSnare, kDrumNote, kInsSnare, 20 + 40 * r / rows);
    }
}

void crash(Grid& g, int bar, int volume)
{
    play(g, bar * kRowsPerBar, kChCrash, kDrumNote, kInsCrash, volume);
}

// A fill of sixteenths on the last beat of a bar, before a new phrase.
void fill(Grid& g, int bar)
{
    for (int i = 0; i < 4; i++)
        play(g, bar * kRowsPerBar + 12 + i, kChSnare, kDrumNote, kInsSnare, 36 + 6 * i);
}

// Bars with the whole band: a crash at the start, the chords on the pad, the driving bass,
// the beat and the arpeggio, a fill in the last bar and the melody over it all. lift is
// added to the accompaniment's volumes.
void phrase(Grid& g, int first, const Chord* chords, int bars, DrumStyle style, const char* melody, int lead_volume,
            int lift)
{
    crash(g, first, 52 + lift);
    for (int i = 0; i < bars; i++) {
        pad(g, first + i, chords[i], 40 + lift);
        bass(g, first + i, chords[i], kBassDrive, 52 + lift);
        drums(g, first + i, style, 56 + lift);
        arpeggio(g, first + i, chords[i], 22 + lift);
    }
    fill(g, first + bars - 1);
    lead(g, first * kRowsPerBar, melody, lead_volume);
}

const Chord kMainChords[8] = {kAm, kF, kC, kG, kAm, kF, kG, kE};
const Chord kVariationChords[8] = {kF, kG, kEm, kAm, kDm, kG, kC, kE};
const Chord kClimaxChords[10] = {kAm, kF, kC, kG, kAm, kF, kG, kE, kF, kG};
const Chord kBreakdownChords[12] = {kAm, kAm, kF, kF, kC, kC, kG, kG, kDm, kDm, kE, kE};

const char* const kTheme = "E5:3 D5:1 C5:2 B4:2 A4:4 C5:2 E5:2 "
                           "F5:6 E5:2 C5:4 A4:4 "
                           "G5:3 F5:1 E5:2 D5:2 C5:4 E5:2 G5:2 "
                           "D5:8 B4:4 G4:4 "
                           "E5:3 D5:1 C5:2 B4:2 A4:4 C5:2 E5:2 "
                           "A5:6 G5:2 F5:4 C5:4 "
                           "G5:3 F5:1 E5:2 D5:2 B4:4 D5:4 "
                           "E5:6 D5:2 C5:2 B4:2 G#4:2 r:2";

const char* const kVariation = "A5:2 C6:2 A5:2 F5:2 A5:4 G5:4 "
                               "B5:2 D6:2 B5:2 G5:2 D6:4 C6:2 B5:2 "
                               "G5:4 E5:2 B4:2 E5:4 G5:4 "
                               "A5:8 E5:4 C5:4 "
                               "F5:2 A5:2 D6:4 C6:2 A5:2 F5:4 "
                               "G5:2 B5:2 D6:4 B5:4 G5:4 "
                               "E5:2 G5:2 C6:4 B5:2 G5:2 E5:4 "
                               "G#5:4 B5:4 E5:6 r:2";

// Long, quiet notes over the breakdown's last eight bars, one per chord.
const char* const kBreakdownLine = "E5:28 r:4 D5:28 r:4 F5:28 r:4 G#5:24 B5:8";

// The whole tune as one grid of rows × channels.
Grid compose()
{
    Grid g = grid_make(kSongRows, kChannels);
    g_pad_set = 1;
    g_pad_chord = {-1, false};

    // Intro: the pads alone, swelling, then the bass and a quiet hi-hat.
    for (int i = 0; i < 6; i++) {
        const Chord& c = kMainChords[i % 4];
        pad(g, kIntroBar + i, c, 22 + 4 * i);
        if (i >= 2)
            bass(g, kIntroBar + i, c, kBassHeld, 40);
        if (i >= 4)
            drums(g, kIntroBar + i, kDrumsHats, 28);
    }

    // Build: four on the floor, the bass moves, the arpeggio comes in, a snare roll leads on.
    crash(g, kBuildBar, 40);
    for (int i = 0; i < 10; i++) {
        const int bar = kBuildBar + i;
        const Chord& c = kMainChords[i % 4];
        pad(g, bar, c, 44);
        bass(g, bar, c, kBassEighths, 48);
        if (i < 8)
            drums(g, bar, kDrumsFour, 44 + 2 * i);
        if (i >= 4)
            arpeggio(g, bar, c, 18 + 2 * (i - 4));
    }
    snare_roll(g, kBuildBar + 8, 2);

    // Main theme, twice; then the variation twice: new chords, a busier beat, the melody higher.
    for (int half = 0; half < 2; half++)
        phrase(g, kMainBar + 8 * half, kMainChords, 8, kDrumsFull, kTheme, 54, 0);
    for (int half = 0; half < 2; half++)
        phrase(g, kVariationBar + 8 * half, kVariationChords, 8, kDrumsBusy, kVariation, 50, 0);

    // Breakdown: no drums, held bass, the arpeggio alone over the pads; the kick comes back
    // for the last four bars and a roll leads into the theme.
    for (int i = 0; i < 12; i++) {
        const int bar = kBreakdownBar + i;
        const Chord& c = kBreakdownChords[i];
        pad(g, bar, c, 44);
        bass(g, bar, c, i < 8 ? kBassHeld : kBassEighths, 44);
        arpeggio(g, bar, c, 26);
        if (i >= 8)
            drums(g, bar, kDrumsFour, 40 + 4 * (i - 8));
    }
    lead(g, (kBreakdownBar + 4) * kRowsPerBar, kBreakdownLine, 40);
    snare_roll(g, kBreakdownBar + 10, 2);

    // The theme again, louder, then F and G turning back home.
    phrase(g, kClimaxBar, kClimaxChords, 10, kDrumsBusy, kTheme, 56, 2);
    fill(g, kClimaxBar + 7);
    lead(g, (kClimaxBar + 8) * kRowsPerBar, "A5:4 G5:4 F5:4 E5:4 D5:4 E5:4 F5:4 G#5:4", 52);

    // Outro: one last A minor, the crash and the kick once, then everything fades to silence
    // before the song's last row, where the player stops.
    const int outro = kOutroBar * kRowsPerBar;
    crash(g, kOutroBar, 56);
    play(g, outro, kChKick, kDrumNote, kInsKick, 60);
    pad(g, kOutroBar, kAm, 44);
    bass(g, kOutroBar, kAm, kBassHeld, 50);
    play(g, outro, kChLead, note_number(5, 9), kInsLead, 52);
    play(g, outro + 3, kChEcho, note_number(5, 9), kInsLead, 21);
    const int fade_rows = kOutroRows - 8;
    for (int r = 2; r <= fade_rows; r += 2) {
        const int left = fade_rows - r; // rows until silence
        set_volume(g, outro + r, kChBass, kInsBass, 50 * left / fade_rows);
        for (int i = 0; i < kPadVoices; i++)
            set_volume(g, outro + r, pad_channel(g_pad_set, i), kInsPad, 44 * left / fade_rows);
        set_volume(g, outro + r, kChLead, kInsLead, 52 * left / fade_rows);
        set_volume(g, outro + r + 3, kChEcho, kInsLead, 21 * left / fade_rows);
    }
    for (int ch = 0; ch < kChannels; ch++)
        release(g, kSongRows - 1, ch);

    // Every struck note carries its channel's panning.
    for (int row = 0; row < kSongRows; row++)
        for (int ch = 0; ch < kChannels; ch++) {
            XmCell& c = cell(g, row, ch);
            if (c.instrument != 0 && c.effect == 0) {
                c.effect = 0x08;
                c.param = kPanning[ch];
            }
        }
    return g;
}

} // namespace

XmModule tune_score()
{
    XmModule m;
    m.channels = kChannels;
    m.speed = kSpeed;
    m.bpm = kBpm;
    grid_to_patterns(compose(), kPatternRows, m);
    return m;
}
