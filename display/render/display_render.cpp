// The headless back-end: one line of frame index per presented frame, chosen frames as PNG
// pictures, so whole runs can be checked frame by frame, and the whole show as a video file.
#include <png.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/shared.h"
#include "display/display.h"
#include "display/render/display_render.h"
#include "display/frame_index.h"
#include "display/gentle/gentle.h"
#include "display/viewer/viewer.h"
#include "video/video.h"

namespace {

// The frame index as it is written, in a run without a video.
FILE* index_file;
// A video run's frame index, kept here and written whole when the video is (a failed or
// interrupted video leaves the index of an earlier run as it was).
std::string video_index;
// Between display_open and display_close.
bool presenting;
FrameNumbering numbering;
Palette current_palette;
// Inclusive frame ranges to write as PNG, from --png.
std::vector<std::pair<long, long>> png_frames;
// The video asked for by the command line (path null: none).
VideoRequest video_request{nullptr, 3, 60, -1, nullptr, nullptr, 0, 0};
// Whether the frames also go to a video file, from --video.
bool video_on;
// Whether the pictures (PNG, video) are the gentle picture, from --gentle; the frame index
// is the show's own either way.
bool gentle;

const char* const kUsage = "usage: tarqle-render [--seed N] [--start TIME] [--png LIST] [--gentle]\n"
                           "                     [--video FILE [--scale N] [--fps F] [--until SECONDS]] [--help]\n"
                           "  --seed N         seed the random numbers with N, not from the clock\n"
                           "  --start TIME     begin at this show time, in seconds or a part's name (presents,\n"
                           "                   intro, blobs, flicker, mosaic, slides, words, fire, closing);\n"
                           "                   the run's frames before it are not written\n"
                           "  --png LIST       also write these frames as frames/NNNNNN.png, e.g. 8,100-120\n"
                           "  --gentle         the PNG pictures and the video show the gentle picture (the frame\n"
                           "                   index stays the show's own)\n"
                           "  --video FILE     write the show as a video file (.mp4, .webm or .mkv) with its tune\n"
                           "  --scale N        video pixels per show pixel across, 1 to 8 (default 3)\n"
                           "  --fps F          video frames per second, 1 to 240 (default 60)\n"
                           "  --until SECONDS  end the video after this much show time, 0.045 to 3600\n"
                           "  --help           this text\n"
                           "Without --video it asks the sound questions on the terminal.\n";

} // namespace

void usage_error(const char* option, const char* what)
{
    std::fprintf(stderr, "tarqle-render: %s: %s\n%s", option, what, kUsage);
    std::exit(2);
}

namespace {

[[noreturn]] void fail(const char* what, const char* detail)
{
    std::fprintf(stderr, "tarqle-render: %s: %s\n", what, detail);
    std::exit(1);
}

// A file that could not be written or closed: says which and why, then ends the show by
// the fatal-exit sequence with status 1 (its display_close finds this file already closed,
// and keeps no video of the run).
[[noreturn]] void write_failure(const char* path, int error)
{
    std::fprintf(stderr, "tarqle-render: %s: %s\n", path, std::strerror(error != 0 ? error : EIO));
    fatal_exit(true, 1);
}

// Closes a written file; true when every write to it and the close went well. Else errno
// tells why: the failing write's reason (the caller clears errno before its writes), the
// close's, or EIO.
bool close_written(FILE* f)
{
    const int write_error = std::ferror(f) != 0 ? (errno != 0 ? errno : EIO) : 0;
    const bool closed = std::fclose(f) == 0;
    if (write_error != 0)
        errno = write_error;
    return closed && write_error == 0;
}

// Parses "8,100-120": comma-separated frame numbers and inclusive ranges.
bool parse_frame_list(const char* text, std::vector<std::pair<long, long>>& out)
{
    const char* p = text;
    for (;;) {
        char* end;
        if (*p < '0' || *p > '9')
            return false;
        long first = std::strtol(p, &end, 10);
        long last = first;
        p = end;
        if (*p == '-') {
            ++p;
            if (*p < '0' || *p > '9')
                return false;
            last = std::strtol(p, &end, 10);
            p = end;
        }
        if (last < first)
            return false;
        out.emplace_back(first, last);
        if (*p == '\0')
            return true;
        if (*p != ',')
            return false;
        ++p;
    }
}

// A whole number in first..last, the whole text.
bool parse_whole(const char* text, long first, long last, long* out)
{
    char* end;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < first || value > last)
        return false;
    *out = value;
    return true;
}

bool png_wanted(long frame)
{
    for (const auto& [first, last] : png_frames)
        if (first <= frame && frame <= last)
            return true;
    return false;
}

// Frame number frame as frames/NNNNNN.png: image under the current palette, or with
// shown the gentle picture's 0x00RRGGBB pixels of it.
void write_png(const Image& image, const uint32_t* shown, int frame)
{
    char path[32];
    std::snprintf(path, sizeof path, "frames/%06d.png", frame);
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr)
        write_failure(path, errno);
    errno = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
        const int error = errno;
        std::fclose(f);
        write_failure(path, error);
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, (png_uint_32)image.width, (png_uint_32)image.height, 8,
                 shown != nullptr ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color colours[256];
    for (int i = 0; i < 256; ++i)
        colours[i] = {current_palette.rgb[3 * i], current_palette.rgb[3 * i + 1], current_palette.rgb[3 * i + 2]};
    if (shown == nullptr)
        png_set_PLTE(png, info, colours, 256);
    png_write_info(png, info);
    std::vector<uint8_t> row((size_t)image.width * 3);
    for (int y = 0; y < image.height; ++y) {
        if (shown == nullptr) {
            png_write_row(png, image.pixels + (size_t)y * (size_t)image.width);
            continue;
        }
        for (int x = 0; x < image.width; ++x) {
            const uint32_t p = shown[(size_t)y * (size_t)image.width + (size_t)x];
            row[3 * (size_t)x] = (uint8_t)(p >> 16);
            row[3 * (size_t)x + 1] = (uint8_t)(p >> 8);
            row[3 * (size_t)x + 2] = (uint8_t)p;
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    if (!close_written(f))
        write_failure(path, errno);
}

// Finishes a video run: its frame index written beside its place, the video finished and
// renamed into place, then the index, with the signals that end the program held back
// meanwhile (the last frames' encoding): the run leaves both files whole, or no video and
// the earlier index as it was.
void finish_video()
{
    sigset_t ending, before;
    sigemptyset(&ending);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        sigaddset(&ending, s);
    sigprocmask(SIG_BLOCK, &ending, &before);
    const char* const part = "frames/index.tsv.part";
    if (mkdir("frames", 0777) != 0 && errno != EEXIST)
        write_failure("frames", errno);
    FILE* f = std::fopen(part, "w");
    if (f == nullptr)
        write_failure(part, errno);
    errno = 0;
    std::fwrite(video_index.data(), 1, video_index.size(), f);
    if (!close_written(f)) {
        const int error = errno;
        std::remove(part);
        write_failure(part, error); // the video is discarded as for any failed run
    }
    video_on = false;
    if (video_close() != 0) {
        std::remove(part);
        std::exit(1);
    }
    if (std::rename(part, "frames/index.tsv") != 0) {
        const int error = errno;
        std::remove(part);
        std::remove(video_request.path);
        write_failure("frames/index.tsv", error);
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

} // namespace

void display_render_chapters(const char* title, const VideoChapter* chapters, int count, int32_t show_length_ms)
{
    video_request.title = title;
    video_request.chapters = chapters;
    video_request.chapter_count = count;
    video_request.show_length_ms = show_length_ms;
}

bool display_render_configure(int argc, char** argv)
{
    VideoRequest& video = video_request;
    const char* video_option = nullptr; // the first of --scale, --fps and --until given
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (std::strcmp(option, "--help") == 0) {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (std::strcmp(option, "--gentle") == 0) {
            gentle = true;
            continue;
        }
        const bool takes_value = std::strcmp(option, "--png") == 0 || std::strcmp(option, "--video") == 0 ||
                                 std::strcmp(option, "--scale") == 0 || std::strcmp(option, "--fps") == 0 ||
                                 std::strcmp(option, "--until") == 0;
        if (!takes_value)
            usage_error(option, "unknown option");
        if (i + 1 >= argc)
            usage_error(option, "needs a value");
        const char* text = argv[++i];
        long value = 0;
        if (std::strcmp(option, "--png") == 0) {
            if (!parse_frame_list(text, png_frames))
                usage_error(option, "expected frame numbers and ranges such as 8,100-120");
        } else if (std::strcmp(option, "--video") == 0) {
            video.path = text;
        } else if (std::strcmp(option, "--scale") == 0) {
            if (!parse_whole(text, 1, 8, &value))
                usage_error(option, "expected a whole enlargement from 1 to 8");
            video.scale = (int)value;
        } else if (std::strcmp(option, "--fps") == 0) {
            if (!parse_whole(text, 1, 240, &value))
                usage_error(option, "expected whole frames per second from 1 to 240");
            video.fps = (int)value;
        } else {
            char* end;
            const double seconds = std::strtod(text, &end);
            // At least the show's shortest frame period (the sliding pictures' 45 ms), the
            // least time in which a part shows a frame and moves on: a shorter video would
            // hold no more than the instant of the show's first present.
            if (end == text || *end != '\0' || !(seconds >= 0.045 && seconds <= 3600.0))
                usage_error(option, "expected seconds of show time, from 0.045 to 3600");
            video.until_ms = (int32_t)(seconds * 1000.0 + 0.5);
        }
        if (std::strcmp(option, "--png") != 0 && std::strcmp(option, "--video") != 0 && video_option == nullptr)
            video_option = option;
    }
    if (video_option != nullptr && video.path == nullptr)
        usage_error(video_option, "needs --video FILE");
    return video.path != nullptr;
}

void display_open(int, char**, const char*, int, int)
{
    // A file-size limit reached must come back as a failed write, named like a full disk,
    // not end the program unannounced.
    signal(SIGXFSZ, SIG_IGN);
    numbering = {0, false};
    std::memset(current_palette.rgb, 0, sizeof current_palette.rgb);
    // A refused video touches nothing in frames/.
    video_on = video_request.path != nullptr;
    if (gentle)
        gentle_reset();
    if (video_on && video_open(video_request) != 0)
        std::exit(1);
    if ((!video_on || !png_frames.empty()) && mkdir("frames", 0777) != 0 && errno != EEXIST)
        fail("frames", std::strerror(errno));
    if (!video_on) {
        index_file = std::fopen("frames/index.tsv", "w");
        if (index_file == nullptr)
            fail("frames/index.tsv", std::strerror(errno));
    }
    video_index.clear();
    presenting = true;
}

void display_set_palette(const Palette& palette)
{
    current_palette = palette;
}

void display_present(const Image& image)
{
    if (!presenting)
        return;
    int frame_number = 0;
    if (!frame_index_number(&numbering, !viewer_frame_seen(), &frame_number))
        return;
    char line[kFrameIndexLineSize];
    frame_index_line(line, frame_number, clock_now(), image, current_palette);
    if (index_file != nullptr) {
        if (std::fputs(line, index_file) == EOF) {
            const int error = errno;
            std::fclose(index_file);
            index_file = nullptr;
            write_failure("frames/index.tsv", error);
        }
    } else
        video_index += line;
    // The gentle picture follows every frame, written or not, as a screen would show it, on
    // the virtual clock's own reading, which a seek does not move.
    const uint32_t* shown = gentle ? gentle_present(image, current_palette, clock_source_now()) : nullptr;
    if (png_wanted(frame_number))
        write_png(image, shown, frame_number);
    if (video_on && (shown != nullptr ? video_present_pixels(shown, clock_now())
                                      : video_present(image, current_palette, clock_now())) != 0)
        std::exit(1);
}

void display_wait_retrace() {}

void display_close()
{
    presenting = false;
    if (video_on) {
        // A run that failed (a picture missing, a file unwritten) leaves no video, and the
        // index of an earlier run as it was.
        if (show_failed) {
            video_on = false;
            video_discard();
        } else {
            finish_video();
        }
    }
    if (index_file != nullptr) {
        FILE* f = index_file;
        index_file = nullptr;
        if (!close_written(f))
            write_failure("frames/index.tsv", errno);
    }
}
