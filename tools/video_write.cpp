#include "video_write.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "scene/output_file.h"

namespace {

const int frame_rate = 50;       // frames a second: one per 20 ms tick
const int keyframe_every = 250;  // frames: a seek lands within 5 s
const int io_buffer_bytes = 1 << 16;

// x264 at "veryfast" keeps pace with the drawing at 1920 x 1080 on two
// cores; CRF 18 is close to what the eye tells from the frames. VP9 in
// realtime mode is what libvpx can encode beside the drawing.
const VideoKind kinds[] = {
    {".mp4", "mp4",
     {"libx264", AV_PIX_FMT_YUV420P, 1, "preset=veryfast:crf=18", "H.264"},
     {"libx264rgb", AV_PIX_FMT_BGR0, 0, "preset=veryfast:qp=0", "lossless H.264 RGB"}},
    {".webm", "webm",
     {"libvpx-vp9", AV_PIX_FMT_YUV420P, 0, "deadline=realtime:cpu-used=8:row-mt=1:crf=32:b=0", "VP9"},
     {"libvpx-vp9", AV_PIX_FMT_GBRP, 0, "deadline=realtime:cpu-used=8:row-mt=1:lossless=1", "lossless VP9 RGB"}},
    {".mkv", "matroska",
     {"libx264", AV_PIX_FMT_YUV420P, 1, "preset=veryfast:crf=18", "H.264"},
     {"ffv1", AV_PIX_FMT_BGR0, 0, "level=3:slices=4:slicecrc=1", "FFV1"}},
};

}  // namespace

struct VideoWriter {
    OutputFile file;          // the clip's file, under no name or a temporary one until it is complete
    std::string target;       // absolute
    int width, height;        // the frames handed in
    int write_errno;          // the first failed write or seek, 0 before
    AVFormatContext* format;
    AVIOContext* io;          // format->pb, over fd
    AVCodecContext* codec;
    AVStream* stream;
    AVFrame* frame;           // the encoder's input, at the coded size
    AVPacket* packet;
    SwsContext* convert;      // 0x00RRGGBB to the encoder's format; null when it takes the words as they are
    int64_t frames;           // frames handed to the encoder
    std::string error;        // why writing stopped; empty while it goes on
};

namespace {

std::string av_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The clip's bytes go straight to our own descriptor: the format library
// never parses the name, and a full disk is told apart from other failures.
int io_write(void* opaque, uint8_t* data, int size) {
    VideoWriter* v = (VideoWriter*)opaque;
    if (output_write_all(v->file.fd, data, (size_t)size)) return size;
    if (!v->write_errno) v->write_errno = errno;
    return AVERROR(v->write_errno);
}

int64_t io_seek(void* opaque, int64_t offset, int whence) {
    VideoWriter* v = (VideoWriter*)opaque;
    if (whence & AVSEEK_SIZE) {
        struct stat st;
        return fstat(v->file.fd, &st) == 0 ? (int64_t)st.st_size : AVERROR(errno);
    }
    off_t at = lseek(v->file.fd, (off_t)offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : (int64_t)at;
}

// The file the clip goes into, beside the target (scene/output_file.h).
int open_file(VideoWriter* v, std::string* why) {
    if (output_file_open(&v->file, v->target.c_str())) return 1;
    *why = output_file_error();
    return 0;
}

int dictionary_from(const char* options, AVDictionary** d) {
    return av_dict_parse_string(d, options, "=", ":", 0) >= 0;
}

// The encoder and the stream it feeds. The colours are the HD ones, tagged,
// in the limited range players expect of 4:2:0.
int open_codec(VideoWriter* v, const VideoCodec* c, std::string* why) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(c->encoder);
    if (!encoder) {
        *why = std::string("the codec library has no ") + c->encoder + " encoder for " + c->what;
        return 0;
    }
    int coded_width, coded_height;
    video_coded_size(c, v->width, v->height, &coded_width, &coded_height);
    v->codec = avcodec_alloc_context3(encoder);
    v->stream = avformat_new_stream(v->format, nullptr);
    v->frame = av_frame_alloc();
    v->packet = av_packet_alloc();
    if (!v->codec || !v->stream || !v->frame || !v->packet) {
        *why = "out of memory";
        return 0;
    }
    AVCodecContext* ctx = v->codec;
    ctx->width = coded_width;
    ctx->height = coded_height;
    ctx->pix_fmt = (AVPixelFormat)c->pixel_format;
    ctx->time_base = AVRational{1, frame_rate};
    ctx->framerate = AVRational{frame_rate, 1};
    ctx->gop_size = keyframe_every;
    ctx->thread_count = 0;  // as many as the library finds worthwhile
    if (ctx->pix_fmt == AV_PIX_FMT_YUV420P) {
        ctx->colorspace = AVCOL_SPC_BT709;
        ctx->color_primaries = AVCOL_PRI_BT709;
        ctx->color_trc = AVCOL_TRC_BT709;
        ctx->color_range = AVCOL_RANGE_MPEG;
    }
    if (v->format->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    dictionary_from(c->options, &options);
    int r = avcodec_open2(ctx, encoder, &options);
    av_dict_free(&options);
    if (r < 0) {
        *why = std::string(c->encoder) + " refuses " + std::to_string(coded_width) + "x" +
               std::to_string(coded_height) + " frames: " + av_text(r);
        return 0;
    }
    v->stream->time_base = ctx->time_base;
    v->stream->avg_frame_rate = ctx->framerate;
    if (avcodec_parameters_from_context(v->stream->codecpar, ctx) < 0) {
        *why = "out of memory";
        return 0;
    }
    v->frame->format = ctx->pix_fmt;
    v->frame->width = coded_width;
    v->frame->height = coded_height;
    v->frame->color_range = ctx->color_range;
    v->frame->colorspace = ctx->colorspace;
    if (av_frame_get_buffer(v->frame, 0) < 0) {
        *why = "out of memory";
        return 0;
    }
    // The padding stays black: only the frame's own size is written into
    // the buffer, and a buffer the encoder still holds is copied whole.
    ptrdiff_t lines[4] = {v->frame->linesize[0], v->frame->linesize[1], v->frame->linesize[2],
                          v->frame->linesize[3]};
    av_image_fill_black(v->frame->data, lines, ctx->pix_fmt, ctx->color_range, coded_width, coded_height);
    if (ctx->pix_fmt != AV_PIX_FMT_BGR0) {
        // Nothing is scaled, so the filter only halves the chroma for 4:2:0
        // (the planar RGB of lossless VP9 is a plain reordering); the
        // fastest one costs the least beside the drawing.
        v->convert = sws_getContext(v->width, v->height, AV_PIX_FMT_BGR0, v->width, v->height, ctx->pix_fmt,
                                    SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
        if (!v->convert) {
            *why = "the colour conversion cannot be set up";
            return 0;
        }
        if (ctx->pix_fmt == AV_PIX_FMT_YUV420P)
            sws_setColorspaceDetails(v->convert, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                     sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
    }
    return 1;
}

// The writer's reason from the library's code, or from the write that failed.
int fail(VideoWriter* v, const char* doing, int code) {
    if (v->error.empty())
        v->error = std::string(doing) + ": " + (v->write_errno ? std::strerror(v->write_errno) : av_text(code));
    return 0;
}

// Hands every packet the encoder has ready to the container.
int drain(VideoWriter* v) {
    for (;;) {
        int r = avcodec_receive_packet(v->codec, v->packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return 1;
        if (r < 0) return fail(v, "encoding", r);
        av_packet_rescale_ts(v->packet, v->codec->time_base, v->stream->time_base);
        v->packet->stream_index = v->stream->index;
        r = av_interleaved_write_frame(v->format, v->packet);
        if (r < 0 || v->write_errno) return fail(v, "writing", r);
    }
}

void release(VideoWriter* v) {
    if (v->io) av_freep(&v->io->buffer);  // the context does not own its buffer
    avio_context_free(&v->io);
    avformat_free_context(v->format);  // pb is ours, freed above
    avcodec_free_context(&v->codec);
    av_frame_free(&v->frame);
    av_packet_free(&v->packet);
    sws_freeContext(v->convert);
    output_file_discard(&v->file, v->target.c_str(), 0);  // nothing left once the clip has its name
    delete v;
}

// Gives the finished file the target's name, over an existing file only
// with `replace`. When a file of that name appeared during the run, the
// clip takes the first free name "<stem>-<n><extension>" beside it instead.
int give_name(VideoWriter* v, int replace, std::string* why, std::string* kept_as) {
    const char* target = v->target.c_str();
    int placed = output_file_commit(&v->file, target, replace ? OUTPUT_REPLACE : OUTPUT_KEEP_EXISTING);
    if (placed > 0) return 1;
    const size_t dot = v->target.rfind('.');
    for (long n = 1; placed < 0; n++) {
        const std::string name = v->target.substr(0, dot) + "-" + std::to_string(n) + v->target.substr(dot);
        placed = output_file_commit(&v->file, name.c_str(), OUTPUT_KEEP_EXISTING);
        if (placed > 0) {
            *why = "a file of that name appeared during the run; the clip is kept beside it";
            *kept_as = name;
            return 0;
        }
    }
    *why = std::string("cannot name the clip: ") + output_file_error();
    return 0;
}

}  // namespace

const VideoKind* video_kind_find(const char* file_name) {
    const size_t n = std::strlen(file_name);
    for (const VideoKind& k : kinds) {
        const size_t e = std::strlen(k.extension);
        if (n > e && strcasecmp(file_name + n - e, k.extension) == 0) return &k;
    }
    return nullptr;
}

const char* video_extensions() { return ".mp4, .webm or .mkv"; }

void video_coded_size(const VideoCodec* codec, int width, int height, int* coded_width, int* coded_height) {
    *coded_width = codec->even_size ? (width + 1) & ~1 : width;
    *coded_height = codec->even_size ? (height + 1) & ~1 : height;
}

VideoWriter* video_open(const char* target, const VideoCodec* codec, int width, int height, std::string* why) {
    VideoWriter* v = new VideoWriter{};
    v->file.fd = -1;
    v->file.stream = nullptr;
    v->file.temp[0] = 0;
    v->target = target;
    v->width = width;
    v->height = height;
    av_log_set_level(AV_LOG_QUIET);  // failures come back as codes, told in one line
    const VideoKind* kind = video_kind_find(target);
    const AVOutputFormat* container = kind ? av_guess_format(kind->muxer, nullptr, nullptr) : nullptr;
    if (!container) {
        *why = std::string("the format library cannot write ") + (kind ? kind->muxer : "this kind of") + " files";
    } else if (avformat_alloc_output_context2(&v->format, container, nullptr, nullptr) < 0) {
        *why = "out of memory";
    } else if (open_codec(v, codec, why) && open_file(v, why)) {
        uint8_t* buffer = (uint8_t*)av_malloc(io_buffer_bytes);
        v->io = buffer ? avio_alloc_context(buffer, io_buffer_bytes, 1, v, nullptr, io_write, io_seek) : nullptr;
        if (!v->io) {
            av_free(buffer);
            *why = "out of memory";
        } else {
            v->format->pb = v->io;
            int r = avformat_write_header(v->format, nullptr);
            if (r >= 0 && !v->write_errno) return v;
            *why = std::string("cannot start the clip: ") + (v->write_errno ? std::strerror(v->write_errno) : av_text(r));
        }
    }
    release(v);
    return nullptr;
}

int video_write(VideoWriter* v, const uint32_t* pixels) {
    if (!v->error.empty()) return 0;
    int r = av_frame_make_writable(v->frame);
    if (r < 0) return fail(v, "encoding", r);
    const uint8_t* source[1] = {(const uint8_t*)pixels};
    const int source_line[1] = {v->width * 4};
    if (v->convert)
        sws_scale(v->convert, source, source_line, 0, v->height, v->frame->data, v->frame->linesize);
    else
        av_image_copy_plane(v->frame->data[0], v->frame->linesize[0], source[0], source_line[0], v->width * 4,
                            v->height);
    v->frame->pts = v->frames++;
    r = avcodec_send_frame(v->codec, v->frame);
    if (r < 0) return fail(v, "encoding", r);
    return drain(v);
}

int video_finish(VideoWriter* v, int replace, std::string* why, std::string* kept_as) {
    kept_as->clear();
    int ok = v->error.empty() && v->frames > 0;
    if (ok) {
        int r = avcodec_send_frame(v->codec, nullptr);  // the frames the encoder still holds
        ok = r >= 0 ? drain(v) : fail(v, "encoding", r);
    }
    if (ok) {
        int r = av_write_trailer(v->format);
        avio_flush(v->io);
        if (r < 0 || v->write_errno || v->io->error) ok = fail(v, "ending the clip", r < 0 ? r : v->io->error);
    }
    // Written data can still fail to reach the disk (a full one reports
    // so only here): the clip is named only once it is there.
    if (ok && fsync(v->file.fd) != 0) {
        v->write_errno = errno;
        ok = fail(v, "writing", 0);
    }
    if (!ok) *why = v->frames > 0 ? v->error : "no frame was drawn";
    if (ok) ok = give_name(v, replace, why, kept_as);
    release(v);
    return ok;
}

void video_discard(VideoWriter* v) { release(v); }

const char* video_error(const VideoWriter* v) { return v->error.c_str(); }

int video_frames(const VideoWriter* v) { return (int)v->frames; }
