// What start-up tells a user about a data folder that is not right, and the
// program's command line.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

#include "app/app.h"
#include "app/command_line.h"
#include "test_support.h"

namespace {

// varnel-render in the working folder for one frame; its exit code, with
// stderr in *err.
int render_here(std::string* err) {
    std::string command = std::string("'") + VARNEL_RENDER_PATH + "' --data . --frames 1 2>stderr.txt";
    int status = std::system(command.c_str());
    *err = read_file("stderr.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t lines(const std::string& text) {
    size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

TEST(StartupMessages, WorldWithoutTrianglesLoadsAndSaysSo) {
    DemoCopy dir("startup_empty_world");
    ASSERT_TRUE(dir.copied());
    write_file("Svet.3ds", std::string("\x4D\x4D\x06\0\0\0", 6));  // the main chunk alone
    std::string err;
    EXPECT_EQ(render_here(&err), 0);
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_NE(err.find("Svet.3ds holds no triangles"), std::string::npos) << err;
}

TEST(StartupMessages, EveryMissingTextureIsNamedInOneMessage) {
    DemoCopy dir("startup_missing_textures");
    ASSERT_TRUE(dir.copied());
    ASSERT_EQ(std::remove("Textures/Brick.tga"), 0);
    ASSERT_EQ(std::remove("Textures/Marble.tga"), 0);
    std::string err;
    EXPECT_EQ(render_here(&err), 1);
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_NE(err.find("Textures/Brick.tga"), std::string::npos) << err;
    EXPECT_NE(err.find("Textures/Marble.tga"), std::string::npos) << err;
}

// A missing Font.bmp only means no text; one that is there but cannot be
// read is one warning naming the file and the problem, and the run goes on.
TEST(StartupMessages, DamagedFontIsSaid) {
    DemoCopy dir("startup_damaged_font");
    ASSERT_TRUE(dir.copied());
    std::string font = read_file("Font.bmp"), err;
    struct Case {
        std::string bytes, reason;  // "" for no file
    };
    std::string huge = font;
    huge.replace(18, 8, std::string("\xA0\x86\x01\0\xA0\x86\x01\0", 8));  // 100000 x 100000
    const Case cases[] = {{"", ""}, {font.substr(0, 40), "truncated"}, {huge, "too large"}, {"BMx", "truncated"}};
    for (const Case& c : cases) {
        std::remove("Font.bmp");
        if (!c.bytes.empty()) write_file("Font.bmp", c.bytes);
        EXPECT_EQ(render_here(&err), 0);
        EXPECT_EQ(lines(err), c.reason.empty() ? 0u : 1u) << err;
        if (!c.reason.empty()) {
            EXPECT_NE(err.find("Font.bmp: "), std::string::npos) << err;
        }
        EXPECT_NE(err.find(c.reason), std::string::npos) << err;
    }
}

TEST(StartupMessages, ModelOfAnotherFormatIsNotA3dsFile) {
    DemoCopy dir("startup_obj_world");
    ASSERT_TRUE(dir.copied());
    write_file("Svet.3ds", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    std::string err;
    EXPECT_EQ(render_here(&err), 1);
    EXPECT_NE(err.find("Svet.3ds: not a 3DS file"), std::string::npos) << err;
}

int command_line(std::vector<const char*> args, std::string* out, std::string* err, AppSettings* settings = nullptr) {
    args.insert(args.begin(), "varnel");
    FILE* o = std::tmpfile();
    FILE* e = std::tmpfile();
    AppSettings ignored;
    int code = app_command_line((int)args.size(), const_cast<char**>(args.data()), o, e, settings ? settings : &ignored);
    for (auto [f, text] : {std::pair<FILE*, std::string*>{o, out}, {e, err}}) {
        std::rewind(f);
        text->clear();
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text->append(buffer, n);
        std::fclose(f);
    }
    return code;
}

TEST(CommandLine, HelpDataFolderAndMistakes) {
    ScratchDir dir("command_line");
    ASSERT_TRUE(dir.ok());
    std::string out, err;
    EXPECT_EQ(command_line({"--help"}, &out, &err), 0);
    EXPECT_NE(out.find("usage: varnel [--data DIR]"), std::string::npos) << out;
    EXPECT_NE(out.find("varnel-tool import"), std::string::npos) << out;
    EXPECT_EQ(err, "");

    // Without a world here, and none beside the test program, the line says
    // how to get one.
    EXPECT_EQ(command_line({}, &out, &err), 1);
    for (const char* hint : {"no world to show", "--data DIR", "varnel-tool demo DIR", "varnel-tool import MODEL DIR"})
        EXPECT_NE(err.find(hint), std::string::npos) << err;
    write_file("Svet.3ds", "");
    EXPECT_EQ(command_line({}, &out, &err), -1);  // runs in the working folder
    EXPECT_EQ(command_line({"--speed"}, &out, &err), 2);
    EXPECT_NE(err.find("--speed"), std::string::npos) << err;
    EXPECT_EQ(command_line({"--data"}, &out, &err), 2);
    EXPECT_EQ(command_line({"--data", "no such folder"}, &out, &err), 1);
    EXPECT_NE(err.find("no such folder"), std::string::npos) << err;

    ASSERT_EQ(mkdir("world", 0755), 0);
    EXPECT_EQ(command_line({"--data", "world"}, &out, &err), 1);
    EXPECT_NE(err.find("the data folder world holds no Svet.3ds"), std::string::npos) << err;
    ASSERT_EQ(chdir(".."), 0);
    write_file("world/Svet.3ds", "");
    EXPECT_EQ(command_line({"--data", "world"}, &out, &err), -1);
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(cwd), dir.path() + "/world");
}

// VARNEL_THREADS: a whole number from 1 to 256, every core when unset;
// anything else is one warning naming the variable, its value and the
// count drawn on instead, in both programs.
TEST(CommandLine, ThreadsFromTheEnvironment) {
    ScratchDir dir("threads_environment");
    ASSERT_TRUE(dir.ok());
    write_file("Svet.3ds", "");
    std::string out, err;
    AppSettings settings = {};
    unsetenv("VARNEL_THREADS");
    EXPECT_EQ(command_line({}, &out, &err, &settings), -1);
    EXPECT_EQ(settings.threads, app_default_threads());
    EXPECT_EQ(err, "");
    setenv("VARNEL_THREADS", "3", 1);
    EXPECT_EQ(command_line({}, &out, &err, &settings), -1);
    EXPECT_EQ(settings.threads, 3);
    const std::string instead = "drawing on " + std::to_string(app_default_threads()) + " threads";
    for (const char* bad : {"0", "-1", "two", "257", "4x", ""}) {
        setenv("VARNEL_THREADS", bad, 1);
        EXPECT_EQ(command_line({}, &out, &err, &settings), -1) << bad;
        EXPECT_EQ(settings.threads, app_default_threads()) << bad;
        EXPECT_NE(err.find(std::string("VARNEL_THREADS='") + bad + "'"), std::string::npos) << err;
        EXPECT_NE(err.find(instead), std::string::npos) << err;
        EXPECT_EQ(lines(err), 1u) << err;
    }
    // The build's varnel-render, where there is no world, shows the demo the
    // build made beside it and says so.
    std::remove("Svet.3ds");
    std::string run = std::string("VARNEL_THREADS=abc '") + VARNEL_RENDER_PATH + "' --frames 1 2>stderr.txt";
    EXPECT_EQ(std::system(run.c_str()), 0);
    err = read_file("stderr.txt");
    for (const char* line : {"varnel-render: VARNEL_THREADS='abc'",
                             "varnel-render: no Svet.3ds in the working folder; showing the demo in "})
        EXPECT_NE(err.find(line), std::string::npos) << err;
    EXPECT_NE(access("Engine.log", F_OK), 0);  // the log is the demo folder's
    unsetenv("VARNEL_THREADS");
    EXPECT_EQ(app_parse_threads("256"), 256);
}


// --size: WxH in range, or screen (0 x 0, the desktop's); --window. Anything
// else is one line naming the accepted range and exit 2.
TEST(CommandLine, FrameSizeAndWindow) {
    ScratchDir dir("frame_size");
    ASSERT_TRUE(dir.ok());
    write_file("Svet.3ds", "");
    struct Case {
        std::vector<const char*> args;
        int code, width, height, windowed;
        bool out_of_range = false;  // the form is right, the size is not
    };
    const Case cases[] = {
        {{}, -1, 400, 300, 0},
        {{"--size", "1920x1080"}, -1, 1920, 1080, 0},
        {{"--size", "401x301", "--window"}, -1, 401, 301, 1},
        {{"--size", "160x120"}, -1, 160, 120, 0},
        {{"--size", "7680x4320"}, -1, 7680, 4320, 0},
        {{"--size", "screen"}, -1, 0, 0, 0},
        {{"--size", "0x0"}, 2, 0, 0, 0, true},
        {{"--size", "400"}, 2, 0, 0, 0},
        {{"--size", "-400x300"}, 2, 0, 0, 0},
        {{"--size", "400x300x2"}, 2, 0, 0, 0},
        {{"--size", "abc"}, 2, 0, 0, 0},
        {{"--size", "99999x99999"}, 2, 0, 0, 0, true},
        {{"--size", "159x120"}, 2, 0, 0, 0, true},
        {{"--size", "7680x4321"}, 2, 0, 0, 0, true},
        {{"--size", "4294967696x300"}, 2, 0, 0, 0, true},
        {{"--size", "100000x100000"}, 2, 0, 0, 0, true},
        {{"--size", " 400x300"}, 2, 0, 0, 0},
        {{"--size"}, 2, 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::string out, err, label = c.args.size() > 1 ? c.args[1] : "default";
        AppSettings settings = {};
        EXPECT_EQ(command_line(c.args, &out, &err, &settings), c.code) << label;
        if (c.code == 2) {
            if (c.args.size() > 1) {
                EXPECT_NE(err.find("160x120 to 7680x4320"), std::string::npos) << label << err;
                EXPECT_EQ(err.find("out of range") != std::string::npos, c.out_of_range) << label << err;
            }
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << label << err;
            continue;
        }
        EXPECT_EQ(settings.width, c.width) << label;
        EXPECT_EQ(settings.height, c.height) << label;
        EXPECT_EQ(settings.windowed, c.windowed) << label;
    }
}

}  // namespace
