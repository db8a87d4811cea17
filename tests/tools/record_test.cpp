// A walk recorded by varnel-render: every frame as numbered images, clips
// decoded back through the codec libraries, --first against a whole run,
// and what a refused, failed, killed or interrupted run leaves on disk.
#include <gtest/gtest.h>
#include <dirent.h>

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "asset_test_util.h"
#include "display/bmp.h"
#include "texture/image.h"

namespace {

// A clip as a player sees it, every frame turned back into 0x00RRGGBB words.
struct Clip {
    int width, height;
    AVRational rate;
    std::string codec;
    std::vector<std::vector<uint32_t>> frames;
};

void take_frames(AVCodecContext* c, AVFrame* frame, SwsContext** sws, Clip* clip) {
    while (avcodec_receive_frame(c, frame) == 0) {
        *sws = sws_getCachedContext(*sws, frame->width, frame->height, (AVPixelFormat)frame->format, frame->width,
                                    frame->height, AV_PIX_FMT_BGR0, SWS_POINT, nullptr, nullptr, nullptr);
        std::vector<uint32_t> words((size_t)frame->width * frame->height);
        uint8_t* out[1] = {(uint8_t*)words.data()};
        const int line[1] = {frame->width * 4};
        sws_scale(*sws, frame->data, frame->linesize, 0, frame->height, out, line);
        for (uint32_t& w : words) w &= 0xFFFFFF;
        clip->frames.push_back(words);
    }
}

int clip_decode(const std::string& path, Clip* clip) {
    AVFormatContext* f = nullptr;
    if (avformat_open_input(&f, path.c_str(), nullptr, nullptr) < 0) return 0;
    int s = avformat_find_stream_info(f, nullptr) >= 0 ? av_find_best_stream(f, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                                                       : -1;
    const AVCodec* decoder = s >= 0 ? avcodec_find_decoder(f->streams[s]->codecpar->codec_id) : nullptr;
    AVCodecContext* c = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    if (!c || avcodec_parameters_to_context(c, f->streams[s]->codecpar) < 0 || avcodec_open2(c, decoder, nullptr) < 0) {
        avcodec_free_context(&c);
        avformat_close_input(&f);
        return 0;
    }
    *clip = Clip{c->width, c->height, f->streams[s]->avg_frame_rate, decoder->name, {}};
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* sws = nullptr;
    while (av_read_frame(f, packet) >= 0) {
        if (packet->stream_index == s && avcodec_send_packet(c, packet) == 0) take_frames(c, frame, &sws, clip);
        av_packet_unref(packet);
    }
    avcodec_send_packet(c, nullptr);
    take_frames(c, frame, &sws, clip);
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&c);
    avformat_close_input(&f);
    return 1;
}

std::vector<uint32_t> image_words(const std::string& path) {
    RgbImage* image = bmp_read(path.c_str());
    if (!image) return {};
    std::vector<uint32_t> words(image->pixels, image->pixels + (size_t)image->width * image->height);
    rgb_image_free(image);
    return words;
}

// Names in the working folder that start with `prefix`.
int files_starting(const std::string& prefix) {
    int n = 0;
    if (DIR* d = opendir(".")) {
        while (struct dirent* e = readdir(d)) n += std::string(e->d_name).compare(0, prefix.size(), prefix) == 0;
        closedir(d);
    }
    return n;
}

// What a case looks at once varnel-render has ended.
enum Check {
    NOTHING,
    SEQUENCE,  // seq-001.bmp .. seq-006.bmp, the last the same file as last.bmp
    FIRST,     // part-004..006.bmp equal seq-004..006.bmp, no part-001..003
    CLIP,      // `file` decodes to `frames` frames at 50 fps and `width` x `height`, codec `codec`
    LOSSLESS,  // `file` decodes to seq-001..006.bmp, bit for bit
    ABSENT,    // nothing named `file`, nor any temporary file beside it
    STOPPED,   // `file` decodes to as many frames as stderr says were drawn, at 50 fps
};

struct Case {
    std::string args;  // after --data and --size 160x120
    int signal;        // sent while frames are written: SIGINT, SIGKILL; 0 none
    int code;          // exit code; -signal when killed by one
    const char* said;  // in stderr
    Check check;
    const char* file;
    int frames, width, height;
    const char* codec;
};

std::string scratch_path() {
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) ? cwd : ".";
}

// Runs varnel-render with stderr into err.txt; `limit` blocks of file size.
int run_case(const Case& c, int limit) {
    std::string command = std::string("exec '") + VARNEL_RENDER_PATH + "' --data '" + VARNEL_DEMO_DATA +
                          "' --size 160x120 " + c.args + " 2>err.txt";
    if (limit) command = "trap '' XFSZ; ulimit -f " + std::to_string(limit) + "; " + command;
    pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), (char*)nullptr);
        _exit(127);
    }
    if (c.signal) {  // once the clip's file is open, and a few frames later
        const std::string here = scratch_path() + "/", fds = "/proc/" + std::to_string(pid) + "/fd";
        for (int waited = 0, open = 0; waited < 30000 && !open; waited += 20) {
            usleep(20000);
            if (DIR* d = opendir(fds.c_str())) {
                while (struct dirent* e = readdir(d)) {
                    char target[4096] = {};
                    if (readlink((fds + "/" + e->d_name).c_str(), target, sizeof target - 1) <= 0) continue;
                    std::string t = target;
                    open |= t.compare(0, here.size(), here) == 0 && t.find("err.txt") == std::string::npos;
                }
                closedir(d);
            }
        }
        usleep(300000);
        kill(pid, c.signal);
    }
    int status = wait_child(pid, 60000);
    return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1000;
}

TEST(Record, SequencesClipsAndWhatFailuresLeave) {
    ScratchFolder scratch("record");
    ASSERT_TRUE(scratch.ok());
    const std::string walk = "--events '2:mouse:-40,6 3:key:UP 4:key:F11 5:mouse:60,-8 6:key:END' --frames 6 ";
    const std::string forever = "--frames 1000000 --video ";
    const Case cases[] = {
        {walk + "--out seq-%03d.bmp", 0, 0, "", NOTHING, "", 0, 0, 0, ""},
        {walk + "--out last.bmp", 0, 0, "", SEQUENCE, "", 0, 0, 0, ""},
        {walk + "--first 4 --out part-%03d.bmp", 0, 0, "", FIRST, "", 0, 0, 0, ""},
        {"--frames 250 --events 1:mouse:2,0 --video walk.mp4", 0, 0, "", CLIP, "walk.mp4", 250, 160, 120, "h264"},
        {"--frames 250 --events 1:mouse:2,0 --video walk.webm", 0, 0, "", CLIP, "walk.webm", 250, 160, 120, "vp9"},
        {walk + "--video lossless.mkv --lossless", 0, 0, "", LOSSLESS, "lossless.mkv", 0, 0, 0, ""},
        {walk + "--video lossless.mp4 --lossless", 0, 0, "", LOSSLESS, "lossless.mp4", 0, 0, 0, ""},
        {walk + "--video lossless.webm --lossless", 0, 0, "", LOSSLESS, "lossless.webm", 0, 0, 0, ""},
        {"--size 161x121 --frames 3 --video odd.mp4", 0, 0, "one black column and row", CLIP, "odd.mp4", 3, 162, 122,
         "h264"},
        {"--size 161x121 --frames 3 --video odd.webm", 0, 0, "", CLIP, "odd.webm", 3, 161, 121, "vp9"},
        {"--frames 2 --video walk.mp4", 0, 1, "walk.mp4 exists; use --force", CLIP, "walk.mp4", 250, 160, 120, "h264"},
        {"--frames 2 --video walk.mp4 --force", 0, 0, "", CLIP, "walk.mp4", 2, 160, 120, "h264"},
        {"--frames 2 --video walk.avi", 0, 2, "takes a file ending in .mp4, .webm or .mkv", ABSENT, "walk.avi", 0, 0, 0, ""},
        {"--frames 2 --video nowhere/walk.mp4", 0, 1, "nowhere: No such file", NOTHING, "", 0, 0, 0, ""},
        {"--frames 2 --out 'a-%s.bmp'", 0, 2, "one integer conversion", NOTHING, "", 0, 0, 0, ""},
        {"--frames 3 --first 5 --out a.bmp", 0, 2, "--first 5 lies after the last frame", NOTHING, "", 0, 0, 0, ""},
        {"--frames 300 --lossless --video full.mkv", 0, 1, "full.mkv: writing: File too large", ABSENT, "full.mkv", 0, 0, 0, ""},
        {forever + "killed.mp4", SIGKILL, -SIGKILL, "", ABSENT, "killed.mp4", 0, 0, 0, ""},
        {forever + "stopped.mp4", SIGINT, 128 + SIGINT, "stopped by signal 2 after frame", STOPPED, "stopped.mp4", 0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const int limit = c.check == ABSENT && c.code == 1 ? 64 : 0;  // a disk that fills
        EXPECT_EQ(run_case(c, limit), c.code);
        const std::string err = read_text("err.txt");
        EXPECT_NE(err.find(c.said), std::string::npos) << err;
        Clip clip = {};
        switch (c.check) {
        case NOTHING: break;
        case SEQUENCE:
            EXPECT_EQ(files_starting("seq-"), 6);
            EXPECT_TRUE(file_exists("seq-001.bmp"));
            EXPECT_EQ(read_text("seq-006.bmp"), read_text("last.bmp"));
            break;
        case FIRST:
            EXPECT_EQ(files_starting("part-"), 3);
            for (const char* n : {"004", "005", "006"})
                EXPECT_EQ(read_text(std::string("part-") + n + ".bmp"), read_text(std::string("seq-") + n + ".bmp"));
            break;
        case CLIP:
            ASSERT_TRUE(clip_decode(c.file, &clip));
            EXPECT_EQ(clip.frames.size(), (size_t)c.frames);
            EXPECT_EQ(clip.rate.num, 50 * clip.rate.den);
            EXPECT_EQ(clip.width, c.width);
            EXPECT_EQ(clip.height, c.height);
            EXPECT_EQ(clip.codec, c.codec);
            break;
        case LOSSLESS:
            ASSERT_TRUE(clip_decode(c.file, &clip));
            ASSERT_EQ(clip.frames.size(), 6u);
            for (int i = 0; i < 6; i++)
                EXPECT_TRUE(clip.frames[(size_t)i] == image_words("seq-00" + std::to_string(i + 1) + ".bmp")) << i;
            break;
        case ABSENT:
            EXPECT_EQ(files_starting(c.file), 0);
            break;
        case STOPPED: {
            size_t at = err.find("after frame ");
            ASSERT_NE(at, std::string::npos);
            const int drawn = std::atoi(err.c_str() + at + 12);
            EXPECT_GT(drawn, 0);
            ASSERT_TRUE(clip_decode(c.file, &clip));
            EXPECT_EQ(clip.frames.size(), (size_t)drawn);
            EXPECT_EQ(clip.rate.num, 50 * clip.rate.den);
            EXPECT_EQ(files_starting(c.file), 1) << "no temporary file is left beside it";
            break;
        }
        }
    }
}

}  // namespace
