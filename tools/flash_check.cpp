// tarqle-flash-check: WCAG 2.3.1 flash analysis of the show as it is shown, from the
// headless renderer's frame index and frames (tarqle-render --png) or from a video file.
// Usage: tarqle-flash-check [--field SHARE] [--area SHARE] [--index INDEX] frames/index.tsv | VIDEO
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/frame_index.h"
#include "display/gentle/flash_measure.h"
#include "tools/flash.h"

namespace {

// The largest picture analysed; a larger video is reduced to it by area averaging, so
// that regions keep their share of the picture.
constexpr int kMaxWidth = 320;
constexpr int kMaxHeight = 240;

struct IndexRow {
    int frame;
    int32_t time;
    uint32_t image_crc;
    uint32_t palette_crc;
};

// The run steps in show order. A step either begins after a blank screen (period 0) or
// follows the one before it without one, from the first frame of its own frame period.
struct Piece {
    const char* name;
    int32_t period;
};
constexpr Piece kPieces[] = {
    {"presents", 0},          {"intro", 0},           {"blobs", 0}, {"flicker sequence and mosaic", 0},
    {"sliding pictures", 45}, {"rippling scroll", 0}, {"fire", 0},  {"whiteout", 70},
    {"closing screens", 0},
};

struct PartStart {
    int32_t time;
    const char* name;
};
std::vector<PartStart> parts;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "tarqle-flash-check: %s\n", what.c_str());
    std::exit(2);
}

std::vector<IndexRow> read_index(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr)
        fail(path + ": cannot read");
    std::vector<IndexRow> rows;
    IndexRow r;
    while (std::fscanf(f, "%d %d %x %x", &r.frame, &r.time, &r.image_crc, &r.palette_crc) == 4)
        rows.push_back(r);
    std::fclose(f);
    if (rows.empty())
        fail(path + ": no frames in it");
    return rows;
}

// Where each run step begins, found from the blank screens between them and the frame
// periods; steps past the end of this list stay unnamed.
void find_parts(const std::vector<IndexRow>& rows)
{
    std::vector<uint8_t> zeros(320 * 240, 0);
    const uint32_t blank_image = frame_crc(zeros.data(), zeros.size());
    const uint32_t blank_palette = frame_crc(zeros.data(), 768);
    size_t next = 0;
    bool after_blank = false;
    for (size_t i = 0; i < rows.size() && next < std::size(kPieces); ++i) {
        if (rows[i].image_crc == blank_image && rows[i].palette_crc == blank_palette) {
            after_blank = true;
            continue;
        }
        const int32_t period = i > 0 ? rows[i].time - rows[i - 1].time : -1;
        const Piece& p = kPieces[next];
        if ((p.period == 0 && after_blank) || (p.period != 0 && period == p.period && !after_blank && next > 0)) {
            parts.push_back({p.period == 0 ? rows[i].time : rows[i - 1].time, p.name});
            ++next;
        }
        after_blank = false;
    }
}

// The parts shown during from..to.
std::string parts_during(int32_t from, int32_t to)
{
    std::string names;
    for (size_t i = 0; i < parts.size(); ++i) {
        const int32_t end = i + 1 < parts.size() ? parts[i + 1].time : INT32_MAX;
        if (parts[i].time <= to && end > from)
            names += (names.empty() ? "" : ", ") + std::string(parts[i].name);
    }
    return names.empty() ? "-" : names;
}

std::vector<FlashWindow> windows;
// A 10° field of view as a share of the picture's width and height, and the share of the
// picture the per-pixel reading counts: by default a quarter of the field.
double field = kFlashFieldShare;
double area = 0.0;

void read_frames(const std::string& index_path)
{
    const std::vector<IndexRow> rows = read_index(index_path);
    find_parts(rows);
    const std::string folder = index_path.substr(0, index_path.rfind('/') + 1);
    std::vector<uint8_t> rgb;
    for (const IndexRow& row : rows) {
        char name[32];
        std::snprintf(name, sizeof name, "%06d.png", row.frame);
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, (folder + name).c_str()))
            fail(folder + name + ": " + image.message + " (write the frames with tarqle-render --png 0-999999)");
        image.format = PNG_FORMAT_RGB;
        if (windows.empty())
            flash_begin((int32_t)image.width, (int32_t)image.height, field, area);
        rgb.resize(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
            fail(folder + name + ": " + image.message);
        windows.push_back(flash_add(rgb.data(), row.time));
    }
}

void read_video(const std::string& path)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(format, nullptr) < 0)
        fail(path + ": cannot read as a video");
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream < 0)
        fail(path + ": no video in it");
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, format->streams[stream]->codecpar);
    if (avcodec_open2(decoder, codec, nullptr) < 0)
        fail(path + ": cannot decode its video");
    const AVRational base = format->streams[stream]->time_base;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* scaler = nullptr;
    int width = 0, height = 0;
    int64_t first_pts = AV_NOPTS_VALUE;
    std::vector<uint8_t> rgb;
    auto take = [&]() {
        while (avcodec_receive_frame(decoder, frame) == 0) {
            if (scaler == nullptr) {
                const double shrink =
                    std::min({1.0, (double)kMaxWidth / frame->width, (double)kMaxHeight / frame->height});
                width = std::max(1, (int)(frame->width * shrink + 0.5));
                height = std::max(1, (int)(frame->height * shrink + 0.5));
                scaler = sws_getContext(frame->width, frame->height, (AVPixelFormat)frame->format, width, height,
                                        AV_PIX_FMT_RGB24, SWS_AREA, nullptr, nullptr, nullptr);
                if (scaler == nullptr)
                    fail(path + ": cannot convert its pictures");
                flash_begin(width, height, field, area);
                rgb.resize((size_t)width * (size_t)height * 3);
            }
            const int64_t pts = frame->best_effort_timestamp;
            if (first_pts == AV_NOPTS_VALUE)
                first_pts = pts;
            const int32_t time = (int32_t)av_rescale_q(pts - first_pts, base, AVRational{1, 1000});
            uint8_t* planes[1] = {rgb.data()};
            const int strides[1] = {width * 3};
            sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
            windows.push_back(flash_add(rgb.data(), time));
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(decoder, packet) == 0)
            take();
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    take();
    if (windows.empty())
        fail(path + ": no pictures in it");
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
}

double seconds(int32_t ms)
{
    return std::max(0, ms) / 1000.0;
}

// One reading's findings: the failing windows by their start times, grouped into
// stretches, and the most flashes in any second.
bool report(const char* rule, int FlashWindow::*count)
{
    int failing = 0;
    const FlashWindow* worst = &windows[0];
    for (const FlashWindow& w : windows) {
        failing += w.*count > kFlashLimit;
        if (w.*count > worst->*count)
            worst = &w;
    }
    std::printf("%s: %d of %zu one-second windows fail; most in one second: %.1f flashes (%d transitions), "
                "the second from %.2f s (%s)\n",
                rule, failing, windows.size(), worst->*count / 2.0, worst->*count,
                seconds(worst->time - kFlashWindowMs), parts_during(worst->time - kFlashWindowMs, worst->time).c_str());
    for (size_t i = 0; i < windows.size();) {
        if (windows[i].*count <= kFlashLimit) {
            ++i;
            continue;
        }
        size_t j = i;
        int most = 0;
        while (j < windows.size() && windows[j].*count > kFlashLimit)
            most = std::max(most, windows[j++].*count);
        std::printf("  failing windows starting %6.2f s to %6.2f s: up to %.1f flashes  (%s)\n",
                    seconds(windows[i].time - kFlashWindowMs), seconds(windows[j - 1].time - kFlashWindowMs),
                    most / 2.0, parts_during(windows[i].time - kFlashWindowMs, windows[j - 1].time).c_str());
        i = j;
    }
    return failing > 0;
}

} // namespace

int main(int argc, char** argv)
{
    const char* const usage = "usage: tarqle-flash-check [--field SHARE] [--area SHARE] [--index frames/index.tsv] "
                              "frames/index.tsv | VIDEO";
    std::string input, index;
    const auto share = [&](int& i, const char* what) {
        const double value = i + 1 < argc ? std::atof(argv[++i]) : 0.0;
        if (!(value > 0.0 && value <= 1.0))
            fail(std::string(what) + ": expected a share of the picture, more than 0 and at most 1");
        return value;
    };
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--field") == 0) {
            field = share(i, "--field");
        } else if (std::strcmp(argv[i], "--area") == 0) {
            area = share(i, "--area");
        } else if (std::strcmp(argv[i], "--index") == 0 && i + 1 < argc) {
            index = argv[++i];
        } else if (argv[i][0] != '-' && input.empty()) {
            input = argv[i];
        } else {
            fail(usage);
        }
    }
    if (input.empty())
        fail(usage);
    if (area == 0.0)
        area = field * field / 4.0;
    const bool from_index = input.size() >= 4 && input.compare(input.size() - 4, 4, ".tsv") == 0;
    if (from_index) {
        read_frames(input);
    } else {
        if (!index.empty())
            find_parts(read_index(index));
        read_video(input);
    }
    std::printf("%s: %zu frames, %.2f s; a flash counts per pixel where at least %.1f%% of the picture makes it, per "
                "frame where a quarter of a region of %.0f%% of its width and height (a 10 degree field) or of the "
                "whole picture turns at once\n",
                input.c_str(), windows.size(), seconds(windows.back().time), area * 100.0, field * 100.0);
    bool failed = false;
    failed |= report("general flash rule, per pixel", &FlashWindow::general);
    failed |= report("general flash rule, per frame", &FlashWindow::frame_general);
    failed |= report("general flash rule, the picture's mean", &FlashWindow::mean);
    failed |= report("red flash rule, per pixel", &FlashWindow::red);
    failed |= report("red flash rule, per frame", &FlashWindow::frame_red);
    std::printf("%s\n", failed ? "FAIL: flashes above the WCAG 2.3.1 thresholds" : "PASS: no failing window");
    return failed ? 1 : 0;
}
