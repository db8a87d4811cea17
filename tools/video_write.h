// Video output for varnel-render: frames of 0x00RRGGBB words encoded into a
// clip at 50 frames a second through the codec libraries, the codec chosen
// by the file's extension.
//
// The clip is written into a new file beside the target (scene/output_file.h:
// one with no name where the file system can make one, so a run that is
// killed leaves nothing behind), and it is given the target's name only when
// it is complete: flushed and on disk.
#pragma once

#include <cstdint>
#include <string>

struct VideoWriter;

// What a clip of one kind holds: its codec and pixel format.
struct VideoCodec {
    const char* encoder;  // the library's encoder name
    int pixel_format;     // AVPixelFormat the encoder is fed
    int even_size;        // 1: the format takes even widths and heights only (4:2:0)
    const char* options;  // encoder options, "key=value:key=value"
    const char* what;     // for messages: "H.264"
};

struct VideoKind {
    const char* extension;  // ".mp4", matched in any case
    const char* muxer;      // the container's name in the format library
    VideoCodec normal;      // what players and browsers take
    VideoCodec lossless;    // decodes to the frames bit for bit
};

// The kind of clip a name's extension asks for; null for any other name.
const VideoKind* video_kind_find(const char* file_name);
// The extensions video_kind_find knows, for messages: ".mp4, .webm or .mkv".
const char* video_extensions();
// The size the clip's frames have for width x height frames: the frame's
// own, or one larger in each odd direction where the codec takes even
// sizes only (the extra row and column are black).
void video_coded_size(const VideoCodec* codec, int width, int height, int* coded_width, int* coded_height);

// Opens the encoder for width x height frames and the new file in the
// folder of `target` (absolute). Null, with the reason in *why, when the
// codec is missing or refuses the size, or the file cannot be made.
VideoWriter* video_open(const char* target, const VideoCodec* codec, int width, int height, std::string* why);
// Encodes one frame (width x height 0x00RRGGBB words, rows top to bottom)
// as the next, 1/50 s after the one before. 0 once writing failed; the
// reason is in video_error.
int video_write(VideoWriter* video, const uint32_t* pixels);
// Flushes the encoder, ends the clip and gives it the target's name, over an
// existing file only with `replace`. 1, or 0 with the reason in *why
// (*kept_as, when not empty, then names the file the whole clip was left
// in). Frees the writer either way, so video_error cannot be asked after
// it; a clip of no frames is not kept.
int video_finish(VideoWriter* video, int replace, std::string* why, std::string* kept_as);
// Drops the clip: nothing is left on disk. Frees the writer.
void video_discard(VideoWriter* video);
const char* video_error(const VideoWriter* video);
int video_frames(const VideoWriter* video);  // frames encoded so far
