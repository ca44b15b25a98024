// The tune's score: the grid notes are written into, melodies read from text, and the patterns cut from it.
#include "tools/tune/score.h"

#include <utility>

#include "tools/tune/instruments.h"

Grid grid_make(int rows, int channels)
{
    return {rows, channels, std::vector<XmCell>(static_cast<size_t>(rows) * channels)};
}

XmCell& cell(Grid& g, int row, int channel)
{
    return g.cells[static_cast<size_t>(row) * g.channels + channel];
}

void play(Grid& g, int row, int channel, int note, uint8_t instrument, int volume)
{
    if (row < 0 || row >= g.rows)
        return;
    XmCell& c = cell(g, row, channel);
    c.note = static_cast<uint8_t>(note);
    c.instrument = instrument;
    const int level = (volume < 0 ? 0 : volume > 64 ? 64 : volume) * instrument_entry(instrument).level / 64;
    c.volume = static_cast<uint8_t>(0x10 + level);
}

void set_volume(Grid& g, int row, int channel, uint8_t instrument, int volume)
{
    if (row >= 0 && row < g.rows)
        cell(g, row, channel).volume = static_cast<uint8_t>(0x10 + volume * instrument_entry(instrument).level / 64);
}

void release(Grid& g, int row, int channel)
{
    if (row < 0 || row >= g.rows)
        return;
    cell(g, row, channel) = XmCell{};
    cell(g, row, channel).note = kXmNoteOff;
}

std::vector<MelodyNote> parse_melody(const char* text)
{
    static const int kPitch[7] = {9, 11, 0, 2, 4, 5, 7}; // A B C D E F G
    std::vector<MelodyNote> notes;
    int row = 0;
    const char* p = text;
    while (*p) {
        while (*p == ' ')
            p++;
        if (!*p)
            break;
        int note = 0;
        if (*p == 'r') {
            p++;
        } else {
            int pc = kPitch[*p - 'A'];
            p++;
            if (*p == '#') {
                pc++;
                p++;
            }
            note = note_number(*p - '0', pc);
            p++;
        }
        p++; // ':'
        int length = 0;
        while (*p >= '0' && *p <= '9')
            length = length * 10 + (*p++ - '0');
        if (note != 0)
            notes.push_back({row, note, length});
        row += length;
    }
    return notes;
}

void grid_to_patterns(const Grid& g, int pattern_rows, XmModule& module)
{
    for (int first = 0; first < g.rows; first += pattern_rows) {
        XmPattern p;
        p.rows = first + pattern_rows <= g.rows ? pattern_rows : g.rows - first;
        p.cells.assign(g.cells.begin() + static_cast<long>(first) * g.channels,
                       g.cells.begin() + static_cast<long>(first + p.rows) * g.channels);
        size_t index = 0;
        while (index < module.patterns.size() && module.patterns[index].cells != p.cells)
            index++;
        if (index == module.patterns.size())
            module.patterns.push_back(std::move(p));
        module.order.push_back(static_cast<uint8_t>(index));
    }
}
