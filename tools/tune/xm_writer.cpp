// The extended-module (XM) file writer: header, packed patterns, instruments, delta-coded samples.
#include "tools/tune/xm_writer.h"

#include <cstddef>

namespace {

constexpr int kMaxChannels = 32;
constexpr int kMaxPatterns = 256;
constexpr int kMaxInstruments = 128;
constexpr int kMaxEnvelopePoints = 12;
constexpr uint32_t kHeaderSize = 276;     // counted from the header-size field to the end of the order table
constexpr uint32_t kInstrumentSize = 263; // an instrument header with samples, counted from its size field
constexpr uint32_t kSampleHeaderSize = 40;
constexpr uint32_t kPatternHeaderSize = 9;

struct Out {
    std::vector<uint8_t> bytes;
};

void put8(Out& out, uint32_t v)
{
    out.bytes.push_back(static_cast<uint8_t>(v));
}

void put16(Out& out, uint32_t v)
{
    put8(out, v & 0xFF);
    put8(out, (v >> 8) & 0xFF);
}

void put32(Out& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// The text padded with zero bytes (or cut) to exactly size bytes.
void put_text(Out& out, const std::string& text, size_t size)
{
    for (size_t i = 0; i < size; i++)
        put8(out, i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}

void put_zeros(Out& out, size_t count)
{
    out.bytes.insert(out.bytes.end(), count, 0);
}

// One cell in the format's packing: a flag byte naming the fields present, then those
// fields; a cell with every field present goes out as five plain bytes (one byte shorter).
void put_cell(Out& out, const XmCell& c)
{
    const uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.param};
    uint8_t flags = 0;
    for (int i = 0; i < 5; i++)
        if (fields[i] != 0)
            flags |= static_cast<uint8_t>(1 << i);
    if (flags != 0x1F)
        put8(out, 0x80 | flags);
    for (int i = 0; i < 5; i++)
        if (fields[i] != 0)
            put8(out, fields[i]);
}

bool check(const XmModule& m, std::string* error)
{
    auto fail = [error](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (m.channels < 1 || m.channels > kMaxChannels)
        return fail("channel count out of range");
    if (m.patterns.empty() || m.patterns.size() > kMaxPatterns)
        return fail("pattern count out of range");
    if (m.instruments.empty() || m.instruments.size() > kMaxInstruments)
        return fail("instrument count out of range");
    if (m.order.empty() || m.order.size() > 256)
        return fail("order length out of range");
    if (m.speed < 1 || m.speed > 31 || m.bpm < 32 || m.bpm > 255)
        return fail("speed or tempo out of range");
    for (uint8_t p : m.order)
        if (p >= m.patterns.size())
            return fail("order names a missing pattern");
    for (const XmPattern& p : m.patterns) {
        if (p.rows < 1 || p.rows > 256 || p.cells.size() != static_cast<size_t>(p.rows * m.channels))
            return fail("pattern size does not match its rows and the channel count");
        for (const XmCell& c : p.cells) {
            if (c.note > kXmNoteMax && c.note != kXmNoteOff)
                return fail("note number out of range");
            if (c.instrument > m.instruments.size())
                return fail("cell names a missing instrument");
        }
    }
    for (const XmInstrument& in : m.instruments) {
        const XmSample& s = in.sample;
        if (s.data.empty() || s.data.size() > 0x7FFFFFFF / 2)
            return fail("sample empty or too long");
        if (s.loop_length != 0 && (s.loop_start >= s.data.size() || s.loop_length > s.data.size() - s.loop_start))
            return fail("sample loop outside the sample");
        if (s.volume > 64)
            return fail("sample volume above 64");
        if (in.volume_envelope.size() > kMaxEnvelopePoints)
            return fail("volume envelope has more than 12 points");
        for (size_t i = 0; i < in.volume_envelope.size(); i++) {
            if (in.volume_envelope[i].y > 64 || (i == 0 && in.volume_envelope[i].x != 0) ||
                (i > 0 && in.volume_envelope[i].x <= in.volume_envelope[i - 1].x))
                return fail("volume envelope points out of order or range");
        }
        if (in.vibrato_depth > 15 || in.vibrato_rate > 63)
            return fail("automatic vibrato out of range");
        if (in.volume_sustain >= static_cast<int>(in.volume_envelope.size()))
            return fail("sustain point outside the envelope");
    }
    return true;
}

void put_pattern(Out& out, const XmPattern& p, std::string* error, bool* ok)
{
    Out packed;
    for (const XmCell& c : p.cells)
        put_cell(packed, c);
    if (packed.bytes.size() > 0xFFFF) {
        if (error)
            *error = "packed pattern longer than 65535 bytes";
        *ok = false;
        return;
    }
    put32(out, kPatternHeaderSize);
    put8(out, 0); // packing type
    put16(out, static_cast<uint32_t>(p.rows));
    put16(out, static_cast<uint32_t>(packed.bytes.size()));
    out.bytes.insert(out.bytes.end(), packed.bytes.begin(), packed.bytes.end());
}

void put_instrument(Out& out, const XmInstrument& in)
{
    const size_t start = out.bytes.size();
    put32(out, kInstrumentSize);
    put_text(out, in.name, 22);
    put8(out, 0);  // type
    put16(out, 1); // one sample
    put32(out, kSampleHeaderSize);
    put_zeros(out, 96); // every note plays sample 0
    for (int i = 0; i < kMaxEnvelopePoints; i++) {
        const bool used = i < static_cast<int>(in.volume_envelope.size());
        put16(out, used ? in.volume_envelope[i].x : 0);
        put16(out, used ? in.volume_envelope[i].y : 0);
    }
    put_zeros(out, 48); // panning envelope
    put8(out, static_cast<uint32_t>(in.volume_envelope.size()));
    put8(out, 0); // panning envelope points
    put8(out, in.volume_sustain >= 0 ? static_cast<uint32_t>(in.volume_sustain) : 0);
    put8(out, 0);      // volume loop start
    put8(out, 0);      // volume loop end
    put_zeros(out, 3); // panning sustain and loop
    uint32_t volume_type = 0;
    if (!in.volume_envelope.empty())
        volume_type |= 1;
    if (!in.volume_envelope.empty() && in.volume_sustain >= 0)
        volume_type |= 2;
    put8(out, volume_type);
    put8(out, 0); // panning type
    put8(out, 0); // vibrato wave: sine
    put8(out, in.vibrato_sweep);
    put8(out, in.vibrato_depth);
    put8(out, in.vibrato_rate);
    put16(out, in.fadeout);
    put_zeros(out, start + kInstrumentSize - out.bytes.size()); // reserved

    const XmSample& s = in.sample;
    put32(out, static_cast<uint32_t>(s.data.size() * 2));
    put32(out, s.loop_start * 2);
    put32(out, s.loop_length * 2);
    put8(out, s.volume);
    put8(out, static_cast<uint8_t>(s.finetune));
    put8(out, (s.loop_length != 0 ? 1 : 0) | 0x10); // forward loop or none; 16-bit data
    put8(out, s.panning);
    put8(out, static_cast<uint8_t>(s.relative_note));
    put8(out, 0); // reserved
    put_text(out, s.name, 22);

    // Sample data as differences from the previous value, wrapping in 16 bits.
    int16_t previous = 0;
    for (int16_t v : s.data) {
        put16(out, static_cast<uint16_t>(v - previous));
        previous = v;
    }
}

} // namespace

static_assert(kInstrumentSize == 4 + 22 + 1 + 2 + 4 + 96 + 48 + 48 + 1 + 1 + 3 + 3 + 1 + 1 + 4 + 2 + 22);
static_assert(kHeaderSize == 4 + 8 * 2 + 256);
static_assert(kSampleHeaderSize == 4 + 4 + 4 + 1 + 1 + 1 + 1 + 1 + 1 + 22);

std::vector<uint8_t> xm_encode(const XmModule& m, std::string* error)
{
    if (!check(m, error))
        return {};
    Out out;
    put_text(out, "Extended Module: ", 17);
    put_text(out, m.name, 20);
    put8(out, 0x1A);
    put_text(out, "tarqle tune maker", 20);
    put16(out, 0x0104);
    put32(out, kHeaderSize);
    put16(out, static_cast<uint32_t>(m.order.size()));
    put16(out, 0); // restart position; the demo's player never wraps
    put16(out, static_cast<uint32_t>(m.channels));
    put16(out, static_cast<uint32_t>(m.patterns.size()));
    put16(out, static_cast<uint32_t>(m.instruments.size()));
    put16(out, 1); // linear frequency table
    put16(out, static_cast<uint32_t>(m.speed));
    put16(out, static_cast<uint32_t>(m.bpm));
    for (size_t i = 0; i < 256; i++)
        put8(out, i < m.order.size() ? m.order[i] : 0);

    bool ok = true;
    for (const XmPattern& p : m.patterns) {
        put_pattern(out, p, error, &ok);
        if (!ok)
            return {};
    }
    for (const XmInstrument& in : m.instruments)
        put_instrument(out, in);
    return out.bytes;
}
