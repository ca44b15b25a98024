// The show written as one video file with its tune, frame-exact on the virtual clock.
#pragma once

#include <cstdint>

#include "core/image.h"

// A chapter of the video: its title and the show time it starts at; it lasts until the
// next one starts, the last until the video ends.
struct VideoChapter {
    const char* title;
    int32_t start_ms;
};

// What to write: the file (its extension picks container and codecs: .mp4, .webm, .mkv),
// the enlargement, the frame rate, the show time to stop at (negative: the whole show),
// and the file's title and chapters (in order of time; null: none), which the
// caller keeps while the video is open.
struct VideoRequest {
    const char* path;
    int scale;
    int fps;
    int32_t until_ms;
    const char* title;
    const VideoChapter* chapters;
    int chapter_count;
    int32_t show_length_ms; // where the last chapter ends when the whole show is written
};

// The calls below are made in tarqle-render and answered by the video module, which
// the first video_open loads (beside the program, else in the installed module folder).

// Called once by the headless back-end's display_open, before the first present: checks
// the request, opens the encoders and a working file beside path, and mixes the tune
// (music/tarqle.xm by the data-folder rule, core/data_path.h; when it cannot be loaded it
// prints what the show prints and the sound is silence). When the module cannot be loaded, or on failure, prints
// "tarqle-render: ..." on standard error, leaves no file and returns -1; 0 otherwise. path is copied.
int video_open(const VideoRequest& request);

// Called by display_present with each presented frame, its palette and the clock reading:
// encodes the video frames due before now and keeps this frame for the ones that follow.
// Both are only read during the call. On a write or encoder failure prints why, removes
// the working file and returns -1; the caller then ends the program with a failure.
int video_present(const Image& image, const Palette& palette, int32_t now);

// The same for a frame already in true colour: the screen's 320 × 240 pixels as
// 0x00RRGGBB (the gentle picture), read only during the call.
int video_present_pixels(const uint32_t* pixels, int32_t now);

// Called by display_close: ends the video at the last present (or at the requested stop),
// writes the rest of the sound, finishes the file and renames it to path. Returns 0, or
// -1 after printing why (the working file removed). Nothing after the first call.
int video_close();

// Called by display_close instead of video_close when the run failed: ends the encoders
// and removes the working file, so path and the frame index stay as they were. Nothing
// after video_close or a first video_discard.
void video_discard();

// What the module hands over: its own calls, above. Called once, by the loader.
struct VideoEncoder {
    int (*open)(const VideoRequest& request);
    int (*present)(const Image& image, const Palette& palette, int32_t now);
    int (*present_pixels)(const uint32_t* pixels, int32_t now);
    int (*close)();
    void (*discard)();
};
extern "C" const VideoEncoder* tarqle_video_encoder();
