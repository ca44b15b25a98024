// tarqle-render --video: the lossless file decoded back frame by frame and sample by sample
// against the same run's frame index, the shareable files' streams, and the failures.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <vector>

#include "core/data_path.h"
#include "sound/mixdown.h"
#include "tests/run_program.h"

namespace {

struct Stream {
    std::string codec;
    int width = 0, height = 0;
    AVRational rate{0, 1};
    int sample_rate = 0, channels = 0;
    long frames = 0; // decoded pictures or sample frames
    int largest = 0; // most samples in one decoded sound frame
};

struct Decoded {
    bool opened = false;
    double seconds = 0; // the container's duration
    Stream video, audio;
    std::vector<int16_t> samples; // interleaved, when the sound is 16-bit
};

// Decodes the whole file; each picture goes to on_picture as 0RGB rows when it is 0RGB.
Decoded decode(const std::string& path, const std::function<void(long, const AVFrame&)>& on_picture)
{
    Decoded d;
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, path.c_str(), nullptr, nullptr) < 0)
        return d;
    avformat_find_stream_info(in, nullptr);
    d.opened = true;
    d.seconds = (double)in->duration / AV_TIME_BASE;
    AVCodecContext* decoders[2] = {nullptr, nullptr};
    int index[2] = {av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0),
                    av_find_best_stream(in, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0)};
    Stream* info[2] = {&d.video, &d.audio};
    for (int i = 0; i < 2; ++i) {
        if (index[i] < 0)
            continue;
        const AVStream* st = in->streams[index[i]];
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        info[i]->codec = avcodec_get_name(st->codecpar->codec_id);
        info[i]->width = st->codecpar->width;
        info[i]->height = st->codecpar->height;
        info[i]->rate = st->avg_frame_rate;
        info[i]->sample_rate = st->codecpar->sample_rate;
        info[i]->channels = st->codecpar->ch_layout.nb_channels;
        decoders[i] = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoders[i], st->codecpar);
        avcodec_open2(decoders[i], codec, nullptr);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&](int i) {
        while (avcodec_receive_frame(decoders[i], frame) == 0) {
            if (i == 0) {
                on_picture(d.video.frames, *frame);
            } else {
                d.audio.largest = std::max(d.audio.largest, frame->nb_samples);
                if (frame->format == AV_SAMPLE_FMT_S16) {
                    const int16_t* s = reinterpret_cast<const int16_t*>(frame->data[0]);
                    d.samples.insert(d.samples.end(), s, s + 2 * frame->nb_samples);
                }
            }
            info[i]->frames += i == 0 ? 1 : frame->nb_samples;
        }
    };
    while (av_read_frame(in, packet) >= 0) {
        for (int i = 0; i < 2; ++i)
            if (packet->stream_index == index[i] && decoders[i] != nullptr &&
                avcodec_send_packet(decoders[i], packet) == 0)
                drain(i);
        av_packet_unref(packet);
    }
    for (int i = 0; i < 2; ++i)
        if (decoders[i] != nullptr && avcodec_send_packet(decoders[i], nullptr) == 0)
            drain(i);
    av_frame_free(&frame);
    av_packet_free(&packet);
    for (AVCodecContext*& c : decoders)
        avcodec_free_context(&c);
    avformat_close_input(&in);
    return d;
}

struct Presented {
    long number;
    long time;
    uint32_t image_crc, palette_crc;
};

std::vector<Presented> read_index(const std::string& folder)
{
    std::vector<Presented> out;
    std::istringstream in(read_file(folder + "/frames/index.tsv"));
    Presented p{};
    while (in >> p.number >> p.time >> std::hex >> p.image_crc >> p.palette_crc >> std::dec)
        out.push_back(p);
    return out;
}

// One written frame: its palette indices and its 256 colours.
struct Picture {
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> rgb;
};

Picture read_png(const std::string& path)
{
    Picture p;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return p;
    image.format = PNG_FORMAT_RGB_COLORMAP;
    p.pixels.resize(PNG_IMAGE_SIZE(image));
    p.rgb.resize(768);
    if (!png_image_finish_read(&image, nullptr, p.pixels.data(), 0, p.rgb.data()))
        p.pixels.clear();
    return p;
}

uint32_t crc_of(const std::vector<uint8_t>& bytes)
{
    return (uint32_t)crc32(crc32(0L, Z_NULL, 0), bytes.data(), (uInt)bytes.size());
}

TEST(Video, LosslessFileHoldsEveryShowFrameAndTheTuneInTime)
{
    constexpr int kFps = 60, kScale = 3;
    constexpr long kUntilMs = 2510;
    const std::string folder = make_run_folder("video-mkv");
    const RunResult r = run_program(
        {program_path("tarqle-render"), "--video", "show.mkv", "--until", "2.51", "--png", "0-400"}, "", folder, 300);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("Choose"), std::string::npos) << "no sound menus";
    EXPECT_EQ(r.err, "") << "no progress line off a terminal";

    // The frames presented in the span, each checked against its line of the index.
    const std::vector<Presented> index = read_index(folder);
    ASSERT_GT(index.size(), 8u);
    std::vector<Picture> pictures;
    for (const Presented& p : index) {
        if (p.time - index[0].time >= kUntilMs)
            break;
        char name[32];
        std::snprintf(name, sizeof name, "/frames/%06ld.png", p.number);
        pictures.push_back(read_png(folder + name));
        ASSERT_EQ(crc_of(pictures.back().pixels), p.image_crc) << name;
        ASSERT_EQ(crc_of(pictures.back().rgb), p.palette_crc) << name;
    }

    // Frame k shows the last frame presented at or before k / F; ceil(span * F) frames.
    long mismatched = 0;
    size_t shown = 0;
    const Decoded d = decode(folder + "/show.mkv", [&](long k, const AVFrame& f) {
        ASSERT_EQ(f.format, AV_PIX_FMT_0RGB32);
        while (shown + 1 < pictures.size() && (index[shown + 1].time - index[0].time) * kFps <= k * 1000)
            ++shown;
        const Picture& p = pictures[shown];
        for (int y = 0; y < f.height; ++y) {
            const uint32_t* row = reinterpret_cast<const uint32_t*>(f.data[0] + (size_t)y * (size_t)f.linesize[0]);
            for (int x = 0; x < f.width; ++x) {
                const uint8_t* c = &p.rgb[3 * p.pixels[(size_t)(y / kScale) * 320 + (size_t)(x / kScale)]];
                mismatched += row[x] != ((uint32_t)c[0] << 16 | (uint32_t)c[1] << 8 | c[2]);
            }
        }
    });
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.video.codec, "ffv1");
    EXPECT_EQ(d.video.width, 960);
    EXPECT_EQ(d.video.height, 720);
    EXPECT_EQ(d.video.frames, 151) << "ceil(2.51 s * 60)";
    EXPECT_EQ(mismatched, 0);
    EXPECT_GT(shown, 3u) << "the span shows several frames";

    // The sound: the tune's own mix, from the music's start, as long as the picture.
    EXPECT_EQ(d.audio.codec, "flac");
    EXPECT_EQ(d.audio.sample_rate, 44100);
    EXPECT_EQ(d.audio.channels, 2);
    EXPECT_LE(std::labs(d.audio.frames - 151 * 44100 / kFps), d.audio.largest);
    std::vector<int16_t> tune;
    ASSERT_EQ(mixdown_tune(TARQLE_BUILD_DIR "/music/tarqle.xm", 44100, &tune), 0);
    // The music starts after the load phase, at the clock reading of its last blank screen
    // (the seventh present).
    const long start = (index[6].time - index[0].time) * 44100 / 1000;
    auto first_audible = [](const std::vector<int16_t>& s) {
        return (long)(std::find_if(s.begin(), s.end(), [](int16_t v) { return std::abs(v) > 64; }) - s.begin()) / 2;
    };
    ASSERT_EQ(d.samples.size(), (size_t)d.audio.frames * 2);
    EXPECT_LE(std::labs(first_audible(d.samples) - (start + first_audible(tune))), 441) << "within 10 ms";
    long differing = 0;
    for (size_t i = 0; i < d.samples.size(); ++i) {
        const long at = (long)i - 2 * start;
        differing += d.samples[i] != (at >= 0 && at < (long)tune.size() ? tune[(size_t)at] : 0);
    }
    EXPECT_EQ(differing, 0);
}

TEST(Video, ShareableFilesReportTheirStreams)
{
    struct Case {
        const char* file;
        std::vector<std::string> options;
        const char* video_codec;
        const char* audio_codec;
        int width, height, fps, sample_rate;
    };
    const Case cases[] = {
        {"show.mp4", {}, "h264", "aac", 960, 720, 60, 44100},
        {"show.webm", {"--scale", "2", "--fps", "30"}, "vp9", "opus", 640, 480, 30, 48000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string folder = make_run_folder(std::string("video-") + c.file);
        std::vector<std::string> argv = {program_path("tarqle-render"), "--video", c.file, "--until", "1"};
        argv.insert(argv.end(), c.options.begin(), c.options.end());
        const RunResult r = run_program(argv, "", folder, 300);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        const Decoded d = decode(folder + "/" + c.file, [](long, const AVFrame&) {});
        ASSERT_TRUE(d.opened);
        EXPECT_EQ(d.video.codec, c.video_codec);
        EXPECT_EQ(d.audio.codec, c.audio_codec);
        EXPECT_EQ(d.video.width, c.width);
        EXPECT_EQ(d.video.height, c.height);
        EXPECT_EQ(av_q2d(d.video.rate), c.fps);
        EXPECT_EQ(d.video.frames, c.fps);
        EXPECT_EQ(d.audio.sample_rate, c.sample_rate);
        EXPECT_EQ(d.audio.channels, 2);
        EXPECT_NEAR(d.seconds, 1.0, 0.05);
        EXPECT_NEAR((double)d.audio.frames / c.sample_rate, 1.0, (double)d.audio.largest / c.sample_rate);
    }
}

TEST(Video, MissingTuneGivesTheShowsMessageAndSilence)
{
    const std::string folder = make_run_folder("video-no-tune");
    // An empty tune folder in place of the link to the build's: the pictures are still read here.
    std::remove((folder + "/music").c_str());
    mkdir((folder + "/music").c_str(), 0755);
    const RunResult r =
        run_program({program_path("tarqle-render"), "--video", "quiet.mkv", "--until", "0.5"}, "", folder, 120);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nMikMod Error\n"), std::string::npos) << r.out;
    const Decoded d = decode(folder + "/quiet.mkv", [](long, const AVFrame&) {});
    EXPECT_EQ(d.video.frames, 30);
    EXPECT_EQ(d.samples.size(), (size_t)d.audio.frames * 2);
    EXPECT_LE(std::labs(d.audio.frames - 22050), d.audio.largest);
    EXPECT_EQ(std::count(d.samples.begin(), d.samples.end(), 0), (long)d.samples.size());
}

// The tune is looked for where the show looks: with no grafika/ beside it, this folder's
// music/ is not the data folder, the installed one is.
TEST(Video, TheTuneFollowsTheDataFolderRule)
{
    const std::string folder = make_run_folder("video-data-folder");
    std::remove((folder + "/grafika").c_str());
    const RunResult r =
        run_program({program_path("tarqle-render"), "--video", "x.mkv", "--until", "0.1"}, "", folder, 60);
    const bool installed = access((std::string(data_installed_folder()) + "/music/tarqle.xm").c_str(), R_OK) == 0;
    EXPECT_EQ(r.out.find("MikMod Error\n") != std::string::npos, !installed) << r.out;
}

// The encoders' libraries (and what they pull in) stay out of every run but a video's.
TEST(Video, OnlyAVideoRunLoadsTheEncoders)
{
    const std::string folder = make_run_folder("video-libraries");
    const std::string render = program_path("tarqle-render");
    RunResult r = run_program({render}, "0\n", folder, 60, {"LD_DEBUG=libs"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("libmikmod"), std::string::npos) << "the loader's report is missing";
    EXPECT_EQ(r.err.find("libavcodec"), std::string::npos);
    r = run_program({render, "--video", "short.mkv", "--until", "0.1"}, "", folder, 60, {"LD_DEBUG=libs"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("libavcodec"), std::string::npos);
}

TEST(Video, FailuresLeaveNoFile)
{
    const std::string folder = make_run_folder("video-failures");
    const std::string render = program_path("tarqle-render");
    // An earlier run's frame index, which no failed video may touch.
    mkdir((folder + "/frames").c_str(), 0755);
    FILE* earlier = std::fopen((folder + "/frames/index.tsv").c_str(), "w");
    ASSERT_NE(earlier, nullptr);
    std::fputs("earlier\n", earlier);
    std::fclose(earlier);

    RunResult r = run_program({render, "--video", "show.avi"}, "", folder, 60);
    EXPECT_NE(r.status, 0);
    for (const char* kind : {".mp4", ".webm", ".mkv"})
        EXPECT_NE(r.err.find(kind), std::string::npos) << r.err;
    EXPECT_TRUE(read_file(folder + "/show.avi").empty());

    r = run_program({render, "--video", "no/such/folder/show.mp4"}, "", folder, 60);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("no/such/folder/show.mp4"), std::string::npos) << r.err;

    r = run_program({render, "--until", "1"}, "0\n", folder, 60);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("--video"), std::string::npos) << r.err;

    // A file-size limit of 512 KiB, far below a few seconds of lossless video.
    r = run_program({"/bin/sh", "-c", "ulimit -f 1024; exec " + render + " --video big.mkv --until 4"}, "", folder,
                    120);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("big.mkv"), std::string::npos) << r.err;
    FILE* f = std::fopen((folder + "/big.mkv").c_str(), "rb");
    EXPECT_EQ(f, nullptr) << "no half-written file";
    if (f != nullptr)
        std::fclose(f);
    EXPECT_TRUE(read_file(folder + "/big.mkv.part").empty());
    // A limit of 40 KiB, which the short video fits in and its frame index does not: named
    // as a full disk is, and no video without its index.
    r = run_program(
        {"/bin/sh", "-c", "ulimit -f 80; exec " + render + " --video small.mp4 --scale 1 --fps 5 --until 0.1"}, "",
        folder, 120);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("tarqle-render: frames/index.tsv.part: " + std::string(std::strerror(EFBIG))),
              std::string::npos)
        << r.err;
    EXPECT_NE(access((folder + "/small.mp4").c_str(), F_OK), 0);
    EXPECT_NE(access((folder + "/frames/index.tsv.part").c_str(), F_OK), 0);

    // Interrupted while it encodes: ended by the signal, with neither file left.
    r = run_program({"/bin/sh", "-c",
                     render + " --video cut.mkv & i=0; while [ ! -s cut.mkv.part ] && [ $i -lt 400 ]; do sleep 0.05; "
                              "i=$((i+1)); done; kill -TERM $!; wait $!; echo status $?"},
                    "", folder, 120);
    EXPECT_NE(r.out.find("status 143"), std::string::npos) << r.out << r.err;
    EXPECT_NE(access((folder + "/cut.mkv.part").c_str(), F_OK), 0);
    EXPECT_NE(access((folder + "/cut.mkv").c_str(), F_OK), 0);
    EXPECT_EQ(read_file(folder + "/frames/index.tsv"), "earlier\n");

    // Where there is no frames/ folder, a refused video makes none.
    const std::string bare = make_run_folder("video-failures-bare");
    r = run_program({render, "--video", "show.avi"}, "", bare, 60);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(access((bare + "/frames").c_str(), F_OK), 0);
}

} // namespace
