// What varnel-render writes into a data folder someone else made: links
// planted at every output name and at the temporary names the run would
// take are replaced or passed over, never written through; names left by
// killed runs never block a write, and those of this program's dead runs go.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct Planted {
    const char* name;
    bool at_name;  // a link at the name itself too, not only at its temporary names
};

// Links at `names` and at the temporary names the next command's pid would
// take ($$ is the shell's pid, which exec hands on to varnel-render), each to
// its own victim under victims/; then the command.
std::string planted(const std::string& folder, const std::vector<Planted>& names, const std::string& command) {
    std::string plant;
    for (const Planted& p : names) {
        const std::string victim = folder + "/victims/" + p.name;
        write_file(victim, "victim");
        if (p.at_name) plant += "ln -s '" + victim + "' '" + p.name + "' && ";
        for (int n = 0; n < 8; n++)
            plant += "ln -s '" + victim + "' '" + p.name + ".partial-'$$'-" + std::to_string(n) + "' && ";
    }
    return plant + "exec " + command;
}

TEST(Outputs, LinksAtEveryOutputNameLeaveTheirTargetsAlone) {
    DemoCopy dir("outputs_links");
    ASSERT_TRUE(dir.copied());
    ASSERT_EQ(mkdir("victims", 0755), 0);
    ASSERT_EQ(std::system("rm -f Engine.log Graph.txt Screenshot*"), 0);  // what runs in the demo folder wrote
    // What killed runs of older schemes left under the names they took.
    for (int n = 0; n < 120; n++) write_file("g.bmp.tmp" + std::to_string(n), "left");
    write_file("f.png.partialAbC123", "left");
    const std::vector<Planted> first = {{"Engine.log", true}, {"Graph.txt", true}, {"Graph.txt.partial", true},
                                        {"Screenshot 0.bmp", true}, {"g.bmp", true}};
    const std::vector<Planted> second = {{"seq-1.png", true}, {"seq-2.png", true}, {"clip.mp4", false}};
    const std::string render = "'" VARNEL_RENDER_PATH "' --data . --size 160x120 --frames 2 ";
    ASSERT_EQ(std::system(planted(dir.path(), first, render + "--events '1:key:HOME 2:key:F12' --out g.bmp 2>err.txt")
                              .c_str()), 0) << read_file("err.txt");
    ASSERT_EQ(std::system(planted(dir.path(), second, render + "--out seq-%d.png --video clip.mp4 2>err.txt").c_str()),
              0) << read_file("err.txt");

    std::vector<Planted> outputs = first;
    outputs.insert(outputs.end(), second.begin(), second.end());
    for (const Planted& p : outputs) EXPECT_EQ(read_file(std::string("victims/") + p.name), "victim") << p.name;
    EXPECT_TRUE(path_is_file("Engine.log"));
    EXPECT_EQ(read_file("Engine.log").find("__________Varnel - Log__________\n"), 0u);
    EXPECT_TRUE(path_is_file("Graph.txt"));
    EXPECT_NE(read_file("Graph.txt").find(" : *"), std::string::npos);
    EXPECT_TRUE(path_is_link("Screenshot 0.bmp"));  // taken: the next free name is used
    EXPECT_EQ(read_file("Screenshot 1.bmp").substr(0, 2), "BM");
    EXPECT_TRUE(path_is_file("g.bmp"));
    EXPECT_EQ(read_file("g.bmp").substr(0, 2), "BM");
    EXPECT_TRUE(path_is_file("seq-1.png") && path_is_file("seq-2.png"));
    EXPECT_TRUE(path_is_file("clip.mp4"));
    EXPECT_EQ(read_file("g.bmp.tmp119"), "left");  // not this program's: never removed
    EXPECT_EQ(read_file("f.png.partialAbC123"), "left");
}

// A run killed part way leaves nothing the next run trips over, and the
// next run removes what this program's dead runs left; a failed write says
// which file and why.
TEST(Outputs, KilledRunsLeaveNothingThatBlocksAndFailuresSayWhy) {
    DemoCopy dir("outputs_killed");
    ASSERT_TRUE(dir.copied());
    for (int k = 0; k < 3; k++) {
        pid_t pid = fork();
        if (pid == 0) {
            execl(VARNEL_RENDER_PATH, VARNEL_RENDER_PATH, "--data", ".", "--size", "1920x1080", "--frames", "400",
                  "--out", "g.bmp", (char*)nullptr);
            _exit(127);
        }
        usleep(150000 + 100000 * k);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string dead = "g.bmp.partial-" + std::to_string(gone) + "-0";
    write_file(dead, "a dead run's");
    std::string out;
    ASSERT_EQ(run_output("'" VARNEL_RENDER_PATH "' --data . --size 160x120 --frames 1 --out g.bmp 2>&1", &out), 0) << out;
    EXPECT_EQ(read_file("g.bmp").substr(0, 2), "BM");
    EXPECT_FALSE(path_is_file(dead));
    EXPECT_NE(std::system("ls -A | grep -q partial"), 0) << "temporary files left behind";

    ASSERT_EQ(mkdir("g2.bmp", 0755), 0);  // a folder under the name: the rename fails
    EXPECT_EQ(run_output("'" VARNEL_RENDER_PATH "' --data . --size 160x120 --frames 1 --out g2.bmp 2>&1", &out), 1);
    EXPECT_NE(out.find("cannot write " + dir.path() + "/g2.bmp: Is a directory"), std::string::npos) << out;
    EXPECT_NE(std::system("ls -A | grep -q partial"), 0) << "temporary files left behind";
}

}  // namespace
