// PCX picture decoding: version 5, run-length coded, 8 bits, one plane, palette trailer.
#include "pcx/pcx.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/data_path.h"

namespace {

constexpr size_t kHeaderSize = 128;
constexpr size_t kTrailerSize = sizeof(Palette);
static_assert(kTrailerSize == 768);

// The longest run one code pair can write: the low six bits of the code byte.
constexpr uint64_t kLongestRun = 63;

uint32_t word_at(const uint8_t* data, size_t offset)
{
    return (uint32_t)data[offset] | ((uint32_t)data[offset + 1] << 8);
}

// Reads the coded stream and cannot step past its end: a read there yields 0 and marks
// the stream exhausted, which is how a picture that is not complete shows itself.
struct Reader {
    const uint8_t* data;
    size_t length;
    size_t pos;
    bool exhausted;
};

uint8_t next_byte(Reader& r)
{
    if (r.pos >= r.length) {
        r.exhausted = true;
        return 0;
    }
    return r.data[r.pos++];
}

// The most bytes that length file bytes can decode to: every code pair from offset 128
// to the end writing 63, and an odd last byte written once.
uint64_t most_decodable(size_t length)
{
    uint64_t coded = length - kHeaderSize;
    return coded / 2 * kLongestRun + coded % 2;
}

// Fills out[0..total) from the stream; runs go on across row ends, and a run longer than
// what is left is cut at the end. Stops early only when the stream is exhausted.
void decode_runs(Reader& r, uint8_t* out, size_t total)
{
    size_t done = 0;
    while (done < total) {
        uint8_t code = next_byte(r);
        if (r.exhausted)
            return;
        if ((code & 0xC0) != 0xC0) {
            out[done++] = code;
            continue;
        }
        size_t run = code & 0x3F;
        uint8_t value = next_byte(r);
        if (r.exhausted)
            return;
        if (run > total - done)
            run = total - done;
        std::memset(out + done, value, run);
        done += run;
    }
}

int bad_file(const char* path, int result)
{
    std::printf("ERROR: Bad pcx file %s", path);
    return result;
}

int malformed(const char* path)
{
    std::printf("PCX file %s was malformed", path);
    return -4;
}

} // namespace

long file_read_all(const char* path, uint8_t** data)
{
    *data = nullptr;
    FILE* f = std::fopen(data_path(path).c_str(), "rb");
    if (f == nullptr)
        return -1;
    long length = -1;
    if (std::fseek(f, 0, SEEK_END) == 0)
        length = std::ftell(f);
    if (length < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return -1;
    }
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc((size_t)length + 1));
    if (buffer == nullptr) {
        std::fclose(f);
        return -1;
    }
    buffer[length] = 0;
    size_t got = std::fread(buffer, 1, (size_t)length, f);
    std::fclose(f);
    if (got != (size_t)length) {
        std::printf("File read failure\n");
        std::free(buffer);
        return -2;
    }
    *data = buffer;
    return length;
}

int pcx_decode_memory(const char* path, const uint8_t* data, size_t length, uint8_t** pixels, Palette* palette,
                      int32_t* width, int32_t* height)
{
    *pixels = nullptr;
    if (length == 0)
        return bad_file(path, -1);
    // A file too short for the header or the trailer has neither to read.
    if (length < kHeaderSize || length < kTrailerSize || word_at(data, 0) != 0x050A || word_at(data, 2) != 0x0801)
        return bad_file(path, -2);
    if (palette != nullptr)
        std::memcpy(palette->rgb, data + length - kTrailerSize, kTrailerSize);

    uint32_t x_min = word_at(data, 4), y_min = word_at(data, 6);
    uint32_t x_max = word_at(data, 8), y_max = word_at(data, 10);
    uint32_t bytes_per_line = word_at(data, 66);
    if (x_max < x_min || y_max < y_min)
        return bad_file(path, -2);
    int32_t w = (int32_t)(x_max - x_min) + 1;
    int32_t h = (int32_t)(y_max - y_min) + 1;
    if (bytes_per_line < (uint32_t)w)
        return bad_file(path, -2);

    // A header may claim far more than the file could ever decode to; such a picture is
    // malformed whatever its data, and is refused before it costs any memory.
    uint64_t decoded_size = (uint64_t)bytes_per_line * (uint64_t)h;
    if (decoded_size > most_decodable(length))
        return malformed(path);

    uint8_t* decoded = static_cast<uint8_t*>(std::malloc((size_t)decoded_size));
    if (decoded == nullptr) {
        std::printf("ERROR: couldn't allocate");
        return -3;
    }
    // The trailer is no limit: short coded data goes on into the palette bytes.
    Reader reader{data, length, kHeaderSize, false};
    decode_runs(reader, decoded, (size_t)decoded_size);
    if (reader.exhausted) {
        std::free(decoded);
        return malformed(path);
    }

    if (bytes_per_line != (uint32_t)w) {
        // Rows are padded to bytes per line; keep the first width bytes of each.
        uint8_t* packed = static_cast<uint8_t*>(std::malloc((size_t)w * (size_t)h));
        if (packed == nullptr) {
            std::free(decoded);
            std::printf("ERROR: couldn't allocate");
            return -3;
        }
        for (size_t y = 0; y < (size_t)h; ++y)
            std::memcpy(packed + y * (size_t)w, decoded + y * bytes_per_line, (size_t)w);
        std::free(decoded);
        decoded = packed;
    }
    *pixels = decoded;
    *width = w;
    *height = h;
    return 0;
}

int pcx_decode(const char* path, uint8_t** pixels, Palette* palette, int32_t* width, int32_t* height)
{
    *pixels = nullptr;
    uint8_t* data = nullptr;
    long length = file_read_all(path, &data);
    if (length <= 0) {
        std::free(data);
        return bad_file(path, -1);
    }
    int result = pcx_decode_memory(path, data, (size_t)length, pixels, palette, width, height);
    std::free(data);
    return result;
}

int pcx_load(const char* path, Image** image, Palette* palette)
{
    *image = nullptr;
    uint8_t* pixels = nullptr;
    int32_t width = 0, height = 0;
    if (pcx_decode(path, &pixels, palette, &width, &height) < 0)
        return -1;
    Image* record = static_cast<Image*>(std::malloc(sizeof(Image)));
    if (record == nullptr) {
        std::free(pixels);
        return -1;
    }
    record->width = width;
    record->height = height;
    record->pixels = pixels;
    *image = record;
    return 5;
}
