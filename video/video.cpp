// The show written as one video file with its tune: FFmpeg's encoders and muxers, fed one
// video frame per 1/F s of virtual-clock time and the offline mix of the tune.
#include "video/video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "core/data_path.h"
#include "core/shared.h"
#include "sound/mixdown.h"
#include "sound/music.h"
#include "video/convert.h"

namespace {

// One supported kind of file: its extension, muxer and encoders.
struct Kind {
    const char* extension;
    const char* muxer;
    const char* video_codec;
    AVPixelFormat pixels;
    const char* audio_codec;
    const char* description;
};

const Kind kKinds[] = {
    {".mp4", "mp4", "libx264", AV_PIX_FMT_YUV420P, "aac", "H.264 with AAC"},
    {".webm", "webm", "libvpx-vp9", AV_PIX_FMT_YUV420P, "libopus", "VP9 with Opus"},
    {".mkv", "matroska", "ffv1", AV_PIX_FMT_0RGB32, "flac", "lossless FFV1 with FLAC"},
};

// The tune's mix, and the sound's rate before any resampling an encoder needs.
constexpr int kMixRate = 44100;
const char* const kTune = "music/tarqle.xm";

// The request and the files.
VideoRequest request;
std::string final_path;
std::string part_path;
const Kind* kind;
bool is_open;

// The working file's name for the interrupt handler, and the actions it stands in for
// while the working file exists.
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};
char interrupted_part[4096];
struct sigaction actions_before[std::size(kEndSignals)];
bool handlers_installed;

AVFormatContext* muxer;
AVCodecContext* video_encoder;
AVCodecContext* audio_encoder;
AVStream* video_stream;
AVStream* audio_stream;
AVPacket* packet;

// The frame on show, enlarged in 0RGB; and in the encoder's pixel format (the same frame
// when the encoder takes 0RGB).
AVFrame* rgb_frame;
AVFrame* coded_frame;
SwsContext* scaler;

// The sound: the tune's mix, the resampler to the encoder's format, the samples waiting for
// a whole encoder frame, and one encoder frame.
std::vector<int16_t> tune;
SwrContext* resampler;
AVAudioFifo* fifo;
AVFrame* audio_frame;
int64_t mix_samples_done; // stereo frames at kMixRate fed to the resampler
int64_t audio_pts;        // samples at the encoder's rate sent to it

// The show's timing: the first present's clock reading, the last present's, and the next
// video frame to encode.
bool presented;
int32_t first_present;
int32_t last_present;
bool holding; // a presented frame is held in rgb_frame/coded_frame
int64_t next_frame;

// Progress on a terminal.
bool show_progress;
timespec started;
double last_progress;

void report(const std::string& what, int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    std::fprintf(stderr, "tarqle-render: %s: %s: %s\n", final_path.c_str(), what.c_str(), text);
}

void report(const std::string& what)
{
    std::fprintf(stderr, "tarqle-render: %s: %s\n", final_path.c_str(), what.c_str());
}

double seconds_since_start()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)(now.tv_sec - started.tv_sec) + (double)(now.tv_nsec - started.tv_nsec) * 1e-9;
}

// A signal that ends the program while it encodes takes the working file with it, then
// ends the program as it would have without this handler.
void remove_part_and_end(int signal_number)
{
    unlink(interrupted_part);
    for (size_t i = 0; i < std::size(kEndSignals); ++i)
        if (kEndSignals[i] == signal_number)
            sigaction(signal_number, &actions_before[i], nullptr);
    raise(signal_number);
}

void install_end_handlers()
{
    std::snprintf(interrupted_part, sizeof interrupted_part, "%s", part_path.c_str());
    struct sigaction action {};
    action.sa_handler = remove_part_and_end;
    sigfillset(&action.sa_mask);
    // A signal ignored before (a program started in the background, or under nohup)
    // stays ignored.
    for (size_t i = 0; i < std::size(kEndSignals); ++i)
        if (sigaction(kEndSignals[i], nullptr, &actions_before[i]) == 0 && actions_before[i].sa_handler != SIG_IGN)
            sigaction(kEndSignals[i], &action, nullptr);
    handlers_installed = true;
}

// Frees everything; removes the working file unless it was renamed into place.
void release(bool remove_file)
{
    if (handlers_installed) {
        for (size_t i = 0; i < std::size(kEndSignals); ++i)
            sigaction(kEndSignals[i], &actions_before[i], nullptr);
        handlers_installed = false;
    }
    if (muxer != nullptr) {
        if (muxer->pb != nullptr)
            avio_closep(&muxer->pb);
        avformat_free_context(muxer);
        muxer = nullptr;
    }
    if (remove_file && !part_path.empty())
        std::remove(part_path.c_str());
    avcodec_free_context(&video_encoder);
    avcodec_free_context(&audio_encoder);
    av_packet_free(&packet);
    if (coded_frame != rgb_frame)
        av_frame_free(&coded_frame);
    coded_frame = nullptr;
    av_frame_free(&rgb_frame);
    av_frame_free(&audio_frame);
    sws_freeContext(scaler);
    scaler = nullptr;
    swr_free(&resampler);
    if (fifo != nullptr)
        av_audio_fifo_free(fifo);
    fifo = nullptr;
    tune.clear();
    tune.shrink_to_fit();
    is_open = false;
}

// Sends frame (null: the end) to encoder and writes every packet it gives to stream.
int encode(AVCodecContext* encoder, AVStream* stream, const AVFrame* frame)
{
    int result = avcodec_send_frame(encoder, frame);
    if (result < 0) {
        report("cannot encode", result);
        return -1;
    }
    for (;;) {
        result = avcodec_receive_packet(encoder, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return 0;
        if (result < 0) {
            report("cannot encode", result);
            return -1;
        }
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        result = av_interleaved_write_frame(muxer, packet);
        if (result < 0) {
            report("cannot write", result);
            return -1;
        }
    }
}

// The mix's sample at stereo frame s, counted from the first present: silence before the
// show's music starts and after the tune ends.
void mix_samples(int64_t from, int64_t count, int16_t* out)
{
    std::memset(out, 0, (size_t)count * 2 * sizeof(int16_t));
    int32_t start_time = 0;
    if (!music_start_time(&start_time))
        return; // video is only written for times before the present being handled
    const int64_t start = (int64_t)(start_time - first_present) * kMixRate / 1000;
    const int64_t length = (int64_t)tune.size() / 2;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t at = from + i - start;
        if (at >= 0 && at < length) {
            out[2 * i] = tune[(size_t)(2 * at)];
            out[2 * i + 1] = tune[(size_t)(2 * at + 1)];
        }
    }
}

// Encodes whole encoder frames from the fifo; with last, also the rest (padded with
// silence when the encoder takes only whole frames).
int drain_fifo(bool last)
{
    const int size = audio_encoder->frame_size > 0 ? audio_encoder->frame_size : 4096;
    while (av_audio_fifo_size(fifo) >= size || (last && av_audio_fifo_size(fifo) > 0)) {
        const int take = std::min(size, av_audio_fifo_size(fifo));
        int result = av_frame_make_writable(audio_frame);
        if (result < 0) {
            report("cannot encode", result);
            return -1;
        }
        const bool small_ok = (audio_encoder->codec->capabilities &
                               (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) != 0;
        audio_frame->nb_samples = small_ok ? take : size;
        av_samples_set_silence(audio_frame->data, 0, audio_frame->nb_samples, audio_encoder->ch_layout.nb_channels,
                               audio_encoder->sample_fmt);
        av_audio_fifo_read(fifo, (void**)audio_frame->data, take);
        audio_frame->pts = audio_pts;
        audio_pts += audio_frame->nb_samples;
        if (encode(audio_encoder, audio_stream, audio_frame) != 0)
            return -1;
    }
    return 0;
}

// Feeds the mix up to stereo frame target (at kMixRate, from the first present) through the
// resampler into the encoder; with last, also what the resampler still holds.
int write_sound_until(int64_t target, bool last)
{
    constexpr int64_t kChunk = 4096;
    std::vector<int16_t> chunk(2 * kChunk);
    while (mix_samples_done < target || last) {
        const int64_t count = std::min(kChunk, target - mix_samples_done);
        if (count > 0)
            mix_samples(mix_samples_done, count, chunk.data());
        const uint8_t* in = reinterpret_cast<const uint8_t*>(chunk.data());
        const int room = swr_get_out_samples(resampler, (int)std::max<int64_t>(count, 0));
        uint8_t** out = nullptr;
        int result = av_samples_alloc_array_and_samples(&out, nullptr, audio_encoder->ch_layout.nb_channels,
                                                        std::max(room, 1), audio_encoder->sample_fmt, 0);
        if (result < 0) {
            report("cannot resample the sound", result);
            return -1;
        }
        const int made = count > 0 ? swr_convert(resampler, out, room, &in, (int)count)
                                   : swr_convert(resampler, out, room, nullptr, 0);
        if (made > 0)
            av_audio_fifo_write(fifo, (void**)out, made);
        av_freep(&out[0]);
        av_freep(&out);
        if (made < 0) {
            report("cannot resample the sound", made);
            return -1;
        }
        if (count > 0)
            mix_samples_done += count;
        if (drain_fifo(false) != 0)
            return -1;
        if (count <= 0 && last) {
            if (made > 0)
                continue; // the resampler may hold more
            return drain_fifo(true);
        }
    }
    return 0;
}

void print_progress(bool final)
{
    if (!show_progress)
        return;
    const double elapsed = seconds_since_start();
    if (!final && elapsed - last_progress < 0.25)
        return;
    last_progress = elapsed;
    const double done = (double)next_frame / request.fps;
    double total = request.until_ms >= 0 ? request.until_ms / 1000.0 : 0.0;
    int32_t start_time = first_present;
    if (total == 0.0 && !tune.empty())
        total = (double)(music_start_time(&start_time) ? start_time - first_present : 0) / 1000.0 +
                (double)tune.size() / 2 / kMixRate; // the show lasts as long as its tune
    const double speed = elapsed > 0.0 ? done / elapsed : 0.0;
    total = total > 0.0 ? std::max(total, done) : 0.0; // the estimate may fall short of the show
    if (total > 0.0 && speed > 0.0)
        std::fprintf(stderr, "\r%7.1f s of %.1f s, %5.2f x real time, %4.0f s left ", done, total, speed,
                     (total - done) / speed);
    else
        std::fprintf(stderr, "\r%7.1f s, %5.2f x real time ", done, speed);
    if (final)
        std::fprintf(stderr, "\n");
}

// Frame k shows show time k / F: the frames due before show time t (ms) are the first
// ceil(t * F / 1000).
int64_t frames_before(int64_t t)
{
    return (t * request.fps + 999) / 1000;
}

// Encodes the held frame as video frames up to (not including) frame number count.
int write_frames_to(int64_t count)
{
    while (holding && next_frame < count) {
        if (write_sound_until((next_frame + 1) * kMixRate / request.fps, false) != 0)
            return -1;
        if (coded_frame != rgb_frame) {
            const int result = av_frame_make_writable(coded_frame);
            if (result < 0) {
                report("cannot encode", result);
                return -1;
            }
        }
        coded_frame->pts = next_frame;
        if (encode(video_encoder, video_stream, coded_frame) != 0)
            return -1;
        ++next_frame;
        print_progress(false);
    }
    return 0;
}

// Makes image under palette (or, with pixels, those true-colour pixels) the held frame,
// in the encoder's pixel format.
int hold(const Image& image, const Palette* palette, const uint32_t* pixels)
{
    int result = av_frame_make_writable(rgb_frame);
    if (result < 0) {
        report("cannot convert the picture", result);
        return -1;
    }
    uint32_t* out = reinterpret_cast<uint32_t*>(rgb_frame->data[0]);
    if (pixels != nullptr)
        video_widen(pixels, image.width, image.height, request.scale, out, rgb_frame->linesize[0] / 4);
    else
        video_convert(image, *palette, request.scale, out, rgb_frame->linesize[0] / 4);
    if (coded_frame != rgb_frame) {
        result = av_frame_make_writable(coded_frame);
        if (result < 0) {
            report("cannot convert the picture", result);
            return -1;
        }
        sws_scale(scaler, rgb_frame->data, rgb_frame->linesize, 0, rgb_frame->height, coded_frame->data,
                  coded_frame->linesize);
    }
    holding = true;
    return 0;
}

AVFrame* picture_frame(AVPixelFormat format, int width, int height)
{
    AVFrame* frame = av_frame_alloc();
    if (frame == nullptr)
        return nullptr;
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame, 0) < 0)
        av_frame_free(&frame);
    return frame;
}

// The encoders' own settings: quick enough to keep up with the show, good for sharp pixels.
void tune_video_encoder(const char* codec)
{
    if (std::strcmp(codec, "libx264") == 0) {
        av_opt_set(video_encoder->priv_data, "preset", "veryfast", 0);
        av_opt_set(video_encoder->priv_data, "crf", "18", 0);
    } else if (std::strcmp(codec, "libvpx-vp9") == 0) {
        av_opt_set(video_encoder->priv_data, "deadline", "realtime", 0);
        av_opt_set(video_encoder->priv_data, "cpu-used", "8", 0);
        av_opt_set(video_encoder->priv_data, "row-mt", "1", 0);
        av_opt_set(video_encoder->priv_data, "crf", "30", 0);
        video_encoder->bit_rate = 0;
    } else if (std::strcmp(codec, "ffv1") == 0) {
        av_opt_set(video_encoder->priv_data, "slices", "4", 0);
        video_encoder->level = 3;
    }
}

bool supports_format(const AVCodec* codec, AVPixelFormat format)
{
    for (const AVPixelFormat* f = codec->pix_fmts; f != nullptr && *f != AV_PIX_FMT_NONE; ++f)
        if (*f == format)
            return true;
    return codec->pix_fmts == nullptr;
}

// The encoder's best sample format and rate for the 44100 Hz mix.
void choose_sound_format(const AVCodec* codec)
{
    audio_encoder->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    for (const AVSampleFormat* f = codec->sample_fmts; f != nullptr && *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_S16)
            audio_encoder->sample_fmt = AV_SAMPLE_FMT_S16; // the mix as it is, where it can be
    audio_encoder->sample_rate = kMixRate;
    if (codec->supported_samplerates != nullptr) {
        // Opus codes only 48000 Hz and its fractions: the closest rate above the mix's.
        int best = 0;
        for (const int* r = codec->supported_samplerates; *r != 0; ++r) {
            if (*r == kMixRate) {
                best = kMixRate;
                break;
            }
            if (*r > kMixRate && (best == 0 || *r < best))
                best = *r;
        }
        if (best == 0)
            best = codec->supported_samplerates[0];
        audio_encoder->sample_rate = best;
    }
}

int open_encoders(const Kind& k)
{
    const AVCodec* video_codec = avcodec_find_encoder_by_name(k.video_codec);
    const AVCodec* audio_codec = avcodec_find_encoder_by_name(k.audio_codec);
    if (video_codec == nullptr || audio_codec == nullptr) {
        report(std::string("the installed FFmpeg libraries have no ") +
               (video_codec == nullptr ? k.video_codec : k.audio_codec) + " encoder, which " + k.extension +
               " files need (" + k.description + ")");
        return -1;
    }
    if (!supports_format(video_codec, k.pixels)) {
        report(std::string("the ") + k.video_codec + " encoder does not take the pixel format needed");
        return -1;
    }
    const int width = kScreenWidth * request.scale;
    const int height = kScreenHeight * request.scale;
    const bool global_header = (muxer->oformat->flags & AVFMT_GLOBALHEADER) != 0;

    video_encoder = avcodec_alloc_context3(video_codec);
    audio_encoder = avcodec_alloc_context3(audio_codec);
    packet = av_packet_alloc();
    if (video_encoder == nullptr || audio_encoder == nullptr || packet == nullptr) {
        report("out of memory");
        return -1;
    }
    video_encoder->width = width;
    video_encoder->height = height;
    video_encoder->pix_fmt = k.pixels;
    video_encoder->time_base = AVRational{1, request.fps};
    video_encoder->framerate = AVRational{request.fps, 1};
    video_encoder->sample_aspect_ratio = AVRational{1, 1};
    video_encoder->gop_size = 2 * request.fps;
    video_encoder->thread_count = 2;
    if (global_header)
        video_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    tune_video_encoder(k.video_codec);
    int result = avcodec_open2(video_encoder, video_codec, nullptr);
    if (result < 0) {
        report(std::string("cannot start the ") + k.video_codec + " encoder", result);
        return -1;
    }

    choose_sound_format(audio_codec);
    av_channel_layout_default(&audio_encoder->ch_layout, 2);
    audio_encoder->time_base = AVRational{1, audio_encoder->sample_rate};
    audio_encoder->bit_rate = 192000; // the lossy codecs' rate; FLAC ignores it
    if (global_header)
        audio_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    result = avcodec_open2(audio_encoder, audio_codec, nullptr);
    if (result < 0) {
        report(std::string("cannot start the ") + k.audio_codec + " encoder", result);
        return -1;
    }

    video_stream = avformat_new_stream(muxer, nullptr);
    audio_stream = avformat_new_stream(muxer, nullptr);
    if (video_stream == nullptr || audio_stream == nullptr) {
        report("out of memory");
        return -1;
    }
    video_stream->time_base = video_encoder->time_base;
    video_stream->avg_frame_rate = video_encoder->framerate;
    video_stream->sample_aspect_ratio = video_encoder->sample_aspect_ratio;
    audio_stream->time_base = audio_encoder->time_base;
    if (avcodec_parameters_from_context(video_stream->codecpar, video_encoder) < 0 ||
        avcodec_parameters_from_context(audio_stream->codecpar, audio_encoder) < 0) {
        report("out of memory");
        return -1;
    }

    rgb_frame = picture_frame(AV_PIX_FMT_0RGB32, width, height);
    coded_frame = k.pixels == AV_PIX_FMT_0RGB32 ? rgb_frame : picture_frame(k.pixels, width, height);
    if (k.pixels != AV_PIX_FMT_0RGB32)
        scaler = sws_getContext(width, height, AV_PIX_FMT_0RGB32, width, height, k.pixels, SWS_POINT, nullptr, nullptr,
                                nullptr);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    result = swr_alloc_set_opts2(&resampler, &audio_encoder->ch_layout, audio_encoder->sample_fmt,
                                 audio_encoder->sample_rate, &stereo, AV_SAMPLE_FMT_S16, kMixRate, 0, nullptr);
    if (result >= 0)
        result = swr_init(resampler);
    fifo = av_audio_fifo_alloc(audio_encoder->sample_fmt, audio_encoder->ch_layout.nb_channels, 4096);
    audio_frame = av_frame_alloc();
    if (rgb_frame == nullptr || coded_frame == nullptr || (k.pixels != AV_PIX_FMT_0RGB32 && scaler == nullptr) ||
        result < 0 || fifo == nullptr || audio_frame == nullptr) {
        report("cannot set up the picture and sound conversion");
        return -1;
    }
    audio_frame->format = audio_encoder->sample_fmt;
    audio_frame->sample_rate = audio_encoder->sample_rate;
    av_channel_layout_copy(&audio_frame->ch_layout, &audio_encoder->ch_layout);
    audio_frame->nb_samples = audio_encoder->frame_size > 0 ? audio_encoder->frame_size : 4096;
    if (av_frame_get_buffer(audio_frame, 0) < 0) {
        report("out of memory");
        return -1;
    }
    return 0;
}

// The title and the chapters into the container, before its header is written; the
// video's time is show time, as the tune starts with the first frame on the virtual clock.
int add_title_and_chapters()
{
    if (request.title != nullptr && av_dict_set(&muxer->metadata, "title", request.title, 0) < 0)
        return -1;
    const int64_t end = request.until_ms >= 0 ? request.until_ms : request.show_length_ms;
    for (int k = 0; k < request.chapter_count && request.chapters[k].start_ms < end; ++k) {
        auto** grown = (AVChapter**)av_realloc_array(muxer->chapters, muxer->nb_chapters + 1, sizeof(AVChapter*));
        if (grown == nullptr)
            return -1;
        muxer->chapters = grown;
        auto* chapter = (AVChapter*)av_mallocz(sizeof(AVChapter));
        if (chapter == nullptr)
            return -1;
        muxer->chapters[muxer->nb_chapters++] = chapter;
        chapter->id = k;
        chapter->time_base = {1, 1000};
        chapter->start = request.chapters[k].start_ms;
        chapter->end = k + 1 < request.chapter_count ? std::min<int64_t>(request.chapters[k + 1].start_ms, end) : end;
        if (av_dict_set(&chapter->metadata, "title", request.chapters[k].title, 0) < 0)
            return -1;
    }
    return 0;
}

// Ends the program's writing after a failure: the working file goes.
int fail_and_release()
{
    release(true);
    return -1;
}

} // namespace

int video_open(const VideoRequest& wanted)
{
    request = wanted;
    final_path = wanted.path;
    kind = nullptr;
    for (const Kind& k : kKinds) {
        const size_t n = std::strlen(k.extension);
        if (final_path.size() > n && final_path.compare(final_path.size() - n, n, k.extension) == 0)
            kind = &k;
    }
    if (kind == nullptr) {
        report("unknown kind of video file; the name must end in .mp4 (H.264 with AAC), .webm (VP9 with Opus) "
               "or .mkv (lossless FFV1 with FLAC)");
        return -1;
    }
    // Written beside the file and renamed when whole, so path never holds half a video.
    part_path = final_path + ".part";
    av_log_set_level(AV_LOG_ERROR);

    int result = avformat_alloc_output_context2(&muxer, nullptr, kind->muxer, part_path.c_str());
    if (result < 0) {
        report("cannot make the container", result);
        part_path.clear();
        return fail_and_release();
    }
    if (open_encoders(*kind) != 0) {
        part_path.clear();
        return fail_and_release();
    }
    result = avio_open(&muxer->pb, part_path.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        report("cannot write", result);
        part_path.clear();
        return fail_and_release();
    }
    if (part_path.size() < sizeof interrupted_part)
        install_end_handlers();
    if (add_title_and_chapters() != 0) {
        report("cannot add the chapters", AVERROR(ENOMEM));
        return fail_and_release();
    }
    AVDictionary* options = nullptr;
    if (std::strcmp(kind->muxer, "mp4") == 0)
        av_dict_set(&options, "movflags", "+faststart", 0); // playable while it downloads
    result = avformat_write_header(muxer, &options);
    av_dict_free(&options);
    if (result < 0) {
        report("cannot write", result);
        return fail_and_release();
    }

    // Found where the show finds it: the current folder's data, else the installed data.
    if (mixdown_tune(data_path(kTune).c_str(), kMixRate, &tune) != 0)
        tune.clear(); // the message is printed; the sound is silence
    presented = false;
    holding = false;
    next_frame = 0;
    mix_samples_done = 0;
    audio_pts = 0;
    show_progress = isatty(STDERR_FILENO) == 1;
    clock_gettime(CLOCK_MONOTONIC, &started);
    last_progress = -1.0;
    is_open = true;
    return 0;
}

namespace {

// A present of image under palette, or of true-colour pixels of the screen's size.
int present(const Image& image, const Palette* palette, const uint32_t* pixels, int32_t now)
{
    if (!is_open)
        return 0;
    if (image.width != kScreenWidth || image.height != kScreenHeight) {
        report("a frame of another size than the screen's");
        return fail_and_release();
    }
    if (!presented) {
        presented = true;
        first_present = now;
    }
    last_present = now;
    int64_t t = (int64_t)(now - first_present);
    if (request.until_ms >= 0 && t >= request.until_ms)
        return 0; // frames past the stop are not shown; video_close writes up to the stop
    if (write_frames_to(frames_before(t)) != 0 || hold(image, palette, pixels) != 0)
        return fail_and_release();
    return 0;
}

} // namespace

int video_present(const Image& image, const Palette& palette, int32_t now)
{
    return present(image, &palette, nullptr, now);
}

int video_present_pixels(const uint32_t* pixels, int32_t now)
{
    const Image screen{kScreenWidth, kScreenHeight, nullptr};
    return present(screen, nullptr, pixels, now);
}

int video_close()
{
    if (!is_open)
        return 0;
    int64_t end = presented ? (int64_t)(last_present - first_present) : 0;
    if (request.until_ms >= 0)
        end = std::min<int64_t>(end, request.until_ms);
    // A show of one instant still gets its one frame.
    if (write_frames_to(std::max<int64_t>(frames_before(end), 1)) != 0 ||
        write_sound_until(next_frame * kMixRate / request.fps, true) != 0 ||
        encode(video_encoder, video_stream, nullptr) != 0 || encode(audio_encoder, audio_stream, nullptr) != 0)
        return fail_and_release();
    int result = av_write_trailer(muxer);
    if (result >= 0) {
        avio_flush(muxer->pb);
        result = muxer->pb->error;
    }
    if (result >= 0)
        result = avio_closep(&muxer->pb);
    if (result < 0) {
        report("cannot write", result);
        return fail_and_release();
    }
    print_progress(true);
    if (std::rename(part_path.c_str(), final_path.c_str()) != 0) {
        report(std::string("cannot rename ") + part_path + ": " + std::strerror(errno));
        return fail_and_release();
    }
    part_path.clear();
    release(false);
    return 0;
}

void video_discard()
{
    if (is_open)
        release(true);
}

extern "C" __attribute__((visibility("default"))) const VideoEncoder* tarqle_video_encoder()
{
    static const VideoEncoder encoder{video_open, video_present, video_present_pixels, video_close, video_discard};
    return &encoder;
}
