// Writing files: links at every name are replaced, never written through;
// taken temporary names never block; leftovers go only when their writer is
// certainly gone; failures name the file and the system's reason.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "scene/output_file.h"
#include "test_support.h"

namespace {

// The pid of a process that has ended.
pid_t dead_pid() {
    pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

std::string temp_for(const std::string& target, long pid, int n) {
    return target + ".partial-" + std::to_string(pid) + "-" + std::to_string(n);
}

TEST(OutputFile, LinksAtTheTargetAndAtTemporaryNamesAreNeverWrittenThrough) {
    ScratchDir dir("output_links");
    ASSERT_TRUE(dir.ok());
    write_file("victim", "victim");
    // The next temporary names this process would take, planted as links.
    for (int n = 0; n < 64; n++) ASSERT_EQ(symlink("victim", temp_for("a.txt", getpid(), n).c_str()), 0);
    ASSERT_EQ(symlink("victim", "a.txt"), 0);
    ASSERT_EQ(symlink("victim", "b.txt"), 0);
    ASSERT_EQ(symlink("missing", "c.txt"), 0);  // a dangling link names a file that would be created
    const struct {
        const char* name;
        OutputPlace how;
        int result;       // of output_file_save
        bool link_after;  // the name is still the link
    } cases[] = {
        {"a.txt", OUTPUT_REPLACE, 1, false},
        {"b.txt", OUTPUT_KEEP_EXISTING, -1, true},
        {"c.txt", OUTPUT_KEEP_EXISTING, -1, true},
        {"c.txt", OUTPUT_REPLACE, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(output_file_save(c.name, "new", 3, c.how), c.result) << output_file_error();
        EXPECT_EQ(path_is_link(c.name), c.link_after);
        if (!c.link_after) {
            EXPECT_EQ(read_file(c.name), "new");
        }
        EXPECT_EQ(read_file("victim"), "victim");
    }
    EXPECT_FALSE(path_exists("missing"));
    EXPECT_NE(std::string(output_file_error()).find("c.txt: file exists"), std::string::npos);
}

// Names an older scheme left, and any number of files under the names this
// one would take, never stop a write.
TEST(OutputFile, TakenNamesNeverBlock) {
    ScratchDir dir("output_taken");
    ASSERT_TRUE(dir.ok());
    for (int n = 0; n < 120; n++) {
        write_file("g.bmp.tmp" + std::to_string(n), "old");
        write_file(temp_for("g.bmp", getpid(), n + 200), "taken");
    }
    OutputFile f;
    for (int k = 0; k < 150; k++) {  // past every planted name, whether the file is unnamed or not
        ASSERT_EQ(output_file_open(&f, "g.bmp"), 1) << output_file_error();
        ASSERT_EQ(output_file_write(&f, "x", 1), 1);
        ASSERT_EQ(output_file_commit(&f, "g.bmp", OUTPUT_REPLACE), 1) << output_file_error();
    }
    EXPECT_EQ(read_file("g.bmp"), "x");
    EXPECT_EQ(read_file(temp_for("g.bmp", getpid(), 200)), "taken");
}

TEST(OutputFile, FailuresNameTheFileAndTheReasonAndLeaveNothing) {
    ScratchDir dir("output_fail");
    ASSERT_TRUE(dir.ok());
    EXPECT_EQ(output_file_save("no/such/folder/x.bmp", "x", 1, OUTPUT_REPLACE), 0);
    EXPECT_EQ(std::string(output_file_error()), "no/such/folder/x.bmp: No such file or directory");

    write_file("kept.txt", "old");
    int placed = -2;
    {
        FileSizeLimit limit(4);
        ASSERT_TRUE(limit.ok());
        OutputFile f;
        FILE* stream = output_file_open(&f, "kept.txt") ? output_file_stream(&f) : nullptr;
        if (stream) std::fputs("more than four bytes", stream);
        if (stream) placed = output_file_commit(&f, "kept.txt", OUTPUT_REPLACE);
    }
    EXPECT_EQ(placed, 0);
    EXPECT_EQ(std::string(output_file_error()), "kept.txt: File too large");
    EXPECT_EQ(read_file("kept.txt"), "old");
    EXPECT_NE(std::system("ls -A | grep -q partial"), 0) << "temporary file left behind";
}

// Only a leftover of this program's form, of a process that is gone and
// whose lock nobody holds, is removed.
TEST(OutputFile, SweepRemovesOnlyLeftoversOfDeadRuns) {
    ScratchDir dir("output_sweep");
    ASSERT_TRUE(dir.ok());
    const pid_t dead = dead_pid(), alive = getppid();
    const std::string locked = temp_for("locked.png", dead, 0);
    write_file(locked, "a run in another pid namespace, still writing");
    int held = open(locked.c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    ASSERT_EQ(mkdir(temp_for("dead_folder", dead, 1).c_str(), 0755), 0);
    write_file(temp_for("dead_folder", dead, 1) + "/inside", "x");
    write_file("outside", "x");
    ASSERT_EQ(symlink("outside", temp_for("link", dead, 2).c_str()), 0);
    const struct {
        std::string name;
        bool removed;
    } cases[] = {
        {temp_for("g.bmp", dead, 0), true},
        {temp_for("dead_folder", dead, 1), true},
        {locked, false},
        {temp_for("g.bmp", alive, 0), false},
        {temp_for("g.bmp", getpid(), 7), false},
        {temp_for("link", dead, 2), false},  // a link, never followed or removed
        {"g.bmp.partial", false},
        {"g.bmp.partial-" + std::to_string(dead), false},
        {temp_for("g.bmp", dead, 0) + ".png", false},
        {"notes.partial-" + std::to_string(dead) + "-x", false},
    };
    for (const auto& c : cases)
        if (!path_exists(c.name)) write_file(c.name, "x");
    EXPECT_EQ(output_sweep("."), 2);
    for (const auto& c : cases) EXPECT_EQ(path_exists(c.name), !c.removed) << c.name;
    EXPECT_EQ(read_file("outside"), "x");
    close(held);
    EXPECT_EQ(output_sweep("."), 1);  // the lock is free now
    EXPECT_FALSE(path_exists(locked));
}

// A folder being filled is locked: a sweep leaves it while it is held, even
// when its pid reads as gone.
TEST(OutputFile, TemporaryFolderIsLockedWhileFilled) {
    ScratchDir dir("output_folder");
    ASSERT_TRUE(dir.ok());
    OutputFolder d;
    ASSERT_EQ(output_folder_make(&d, "made"), 1) << output_file_error();
    long pid = 0;
    const std::string name = std::string(d.temp);
    ASSERT_EQ(output_temp_name(name.c_str(), &pid), 1);
    EXPECT_EQ(pid, (long)getpid());
    const std::string renamed = temp_for("made", dead_pid(), 0);  // as if its writer's pid were gone
    ASSERT_EQ(rename(name.c_str(), renamed.c_str()), 0);
    EXPECT_EQ(output_sweep("."), 0);
    EXPECT_TRUE(path_exists(renamed));
    output_folder_release(&d);
    EXPECT_EQ(output_sweep("."), 1);
    EXPECT_FALSE(path_exists(renamed));
}

}  // namespace
