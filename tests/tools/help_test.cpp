// Help and bad values on every command line: --help and -h print the options
// and exit 0; a bad value is refused with exit 2 and a message that names the
// option and the value.
#include <gtest/gtest.h>

#include <string>

#include "import_test_util.h"

namespace {

std::string render_command(const std::string& args) { return std::string("'") + VARNEL_RENDER_PATH + "' " + args; }

TEST(Help, EveryCommandHelpsAndNamesBadValues) {
    ScratchDir scratch("help_bad_values");
    ASSERT_TRUE(scratch.ok());
    write_text(scratch.path() + "/m.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    const std::string m = "'" + scratch.path() + "/m.obj' '" + scratch.path() + "/out'";
    struct Case {
        std::string command;
        int code;
        const char* wanted;  // in stdout for help, in stderr for errors
        const char* value;   // the bad value, also in the message; "" for none
    };
    const Case cases[] = {
        {render_command("--help"), 0, "Key names (any case): ESC or ESCAPE", ""},
        {render_command("-h"), 0, "--size WxH", ""},
        {tool_command("--help"), 0, "varnel-tool COMMAND --help", ""},
        {tool_command("-h"), 0, "soak-events", ""},
        {tool_command("help"), 0, "import", ""},
        {tool_command("import --help"), 0, "--front AXIS", ""},
        {tool_command("import --help"), 0, "--view V", "three-quarter"},
        {tool_command("cone -h"), 0, "1 to 1000", ""},
        {tool_command("split --help"), 0, "0 to 4", ""},
        {tool_command("soak-events --help"), 0, "1 to 1000000", ""},
        {tool_command("texture --help"), 0, "power of two from 2 to 2048", ""},
        {render_command("--frames 0"), 2, "--frames", "'0'"},
        {render_command("--threads 999"), 2, "--threads", "'999'"},
        {render_command("--view depth --out x.png"), 2, "--view 'depth': takes frame, spans", "depth"},
        {render_command("--first 0"), 2, "--first", "'0'"},
        {render_command("--help"), 0, "--video FILE", ".webm (VP9)"},
        {render_command("--size 10x10"), 2, "--size", "10x10"},
        {render_command("--events 1:key:F13"), 2, "--events: unknown key", ""},
        {tool_command("import --up w " + m), 2, "--up", "'w'"},
        {tool_command("import --up +yy " + m), 2, "--up", "'+yy'"},
        {tool_command("import --front y --up Y " + m), 2, "must not lie along --up", "'y'"},
        {tool_command("import --turn 400 " + m), 2, "--turn", "'400'"},
        {tool_command("import --view side " + m), 2, "--view", "'side'"},
        {tool_command("import --scale 0 " + m), 2, "--scale", "'0'"},
        {tool_command("import --scale nan " + m), 2, "--scale", "'nan'"},
        {tool_command("import --max 0 " + m), 2, "--max", "'0'"},
        {tool_command("import --max 100 " + m), 2, "power of two", "'100'"},
        {tool_command("import --sideways " + m), 2, "unknown option", "--sideways"},
        {tool_command("texture --max 3 a.png b.tga"), 2, "--max", "'3'"},
        {tool_command("cone --radius 0 c.tga"), 2, "--radius", "'0'"},
        {tool_command("split 9 a.3ds b.3ds"), 2, "K", "'9'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        std::string out;
        const std::string err_file = scratch.path() + "/err.txt";
        int code = run_output(c.command + " 2>'" + err_file + "'", &out);
        std::string err = read_text(err_file);
        EXPECT_EQ(code, c.code) << out << err;
        const std::string& said = c.code == 0 ? out : err;
        EXPECT_NE(said.find(c.wanted), std::string::npos) << said;
        EXPECT_NE(said.find(c.value), std::string::npos) << said;
        if (c.code == 0) {
            EXPECT_EQ(err, "");
        }
    }
    EXPECT_FALSE(file_exists(scratch.path() + "/out"));
}

// Key names are read in any case, and ESCAPE is ESC: both quit at once.
TEST(Help, KeyNamesInAnyCase) {
    for (const char* key : {"esc", "Escape", "ESCAPE", "f11"}) {
        SCOPED_TRACE(key);
        std::string out;
        EXPECT_EQ(run_output(render_command(std::string("--data '") + VARNEL_DEMO_DATA + "' --frames 2 --events 1:key:" +
                                            key + " 2>&1"),
                             &out),
                  0)
            << out;
    }
}

}  // namespace
