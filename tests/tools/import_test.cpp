// varnel-tool import: refusals and safety with hostile models, the limits of
// the 3DS format, image lookup, and models of the Debian package
// assimp-testmodels.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "import/import.h"
#include "import_test_util.h"
#include "png_write.h"
#include "scene/load3ds.h"

namespace {

const char* const testmodels = "/usr/share/assimp/models";

class Import : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.ok()); }
    std::string at(const std::string& name) const { return scratch_.path() + "/" + name; }
    ScratchDir scratch_{"import_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())};
};

const char* const triangle_obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

// Nothing but `expected` (and the model files the test wrote) in the folder.
void expect_only(const std::string& folder, const std::set<std::string>& expected) {
    EXPECT_EQ(tree(folder), expected);
}

TEST_F(Import, UnreadableOrEmptyModelsLeaveNoFolder) {
    write_text(at("noise.xyz"), "\x01\x02 no model format at all \x7f");
    write_text(at("lines.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nl 1 2\nl 2 3\n");
    write_text(at("flat.obj"), "v 0 0 0\nv 1 0 0\nv 2 0 0\nf 1 2 3\n");
    write_text(at("empty.obj"), "");
    const struct {
        const char* model;
        const char* says;  // part of the one-line reason
    } cases[] = {{"noise.xyz", "No suitable reader"},
                 {"lines.obj", "no triangle"},
                 {"flat.obj", "no triangle with an area"},
                 {"empty.obj", "empty.obj: "},
                 {"missing.obj", "missing.obj: No such file"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        std::string out;
        EXPECT_EQ(import_model(at(c.model), at("out"), "", &out), 1) << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_FALSE(file_exists(at("out")));
    }
    expect_only(scratch_.path(), {"noise.xyz", "lines.obj", "flat.obj", "empty.obj"});  // no temporary folder left
}

TEST_F(Import, ExistingFolderIsReplacedOnlyWhenAnImportMadeIt) {
    write_text(at("tri.obj"), triangle_obj);
    std::string out;
    ASSERT_EQ(mkdir(at("mine").c_str(), 0755), 0);
    write_text(at("mine/notes.txt"), "keep me");
    EXPECT_EQ(import_model(at("tri.obj"), at("mine"), "", &out), 1) << out;
    EXPECT_NE(out.find("--force"), std::string::npos) << out;
    EXPECT_EQ(import_model(at("tri.obj"), at("mine"), "--force", &out), 1) << out;
    EXPECT_NE(out.find("not made by varnel-tool import"), std::string::npos) << out;
    EXPECT_EQ(read_text(at("mine/notes.txt")), "keep me");
    expect_only(at("mine"), {"notes.txt"});

    ASSERT_EQ(import_model(at("tri.obj"), at("data"), "", &out), 0) << out;
    write_text(at("data/Screenshot 00.bmp"), "from a run");
    EXPECT_EQ(import_model(at("tri.obj"), at("data"), "", &out), 1) << out;
    EXPECT_TRUE(file_exists(at("data/Screenshot 00.bmp")));
    ASSERT_EQ(import_model(at("tri.obj"), at("data/"), "--force", &out), 0) << out;
    EXPECT_EQ(read_text(at("data/Screenshot 00.bmp")), "from a run");  // carried, not made by an import
    EXPECT_NE(out.find("carried into the new folder (not made by an import): 'Screenshot 00.bmp'"), std::string::npos)
        << out;
    EXPECT_TRUE(file_exists(at("data/Svet.3ds")));

    // A model inside the folder would go with it.
    write_text(at("data/inside.obj"), triangle_obj);
    EXPECT_EQ(import_model(at("data/inside.obj"), at("data"), "--force", &out), 1) << out;
    EXPECT_TRUE(file_exists(at("data/inside.obj")));
    expect_only(scratch_.path(), {"tri.obj", "mine/", "mine/notes.txt", "data/", "data/.varnel-import",
                                  "data/Svet.3ds", "data/Star.3ds", "data/Cone.tga", "data/Font.bmp", "data/Pos.txt",
                                  "data/Light.txt", "data/Textures/", "data/Textures/Gold.tga",
                                  "data/Textures/DefaultMaterial.tga", "data/Textures/Ground.tga", "data/inside.obj",
                                  "data/Screenshot 00.bmp"});
}

// --force replaces what an import made and carries everything else into the
// new folder, at the top, inside Textures and whole folders, naming each; a
// file of the user's under a name the new import writes stops it unchanged.
TEST_F(Import, ForceCarriesWhatNoImportMadeAndRefusesAClash) {
    write_text(at("tri.obj"), triangle_obj);
    std::string out;
    ASSERT_EQ(import_model(at("tri.obj"), at("data"), "", &out), 0) << out;
    write_text(at("data/Svet.3ds"), "edited by hand");  // the import's own: replaced
    ASSERT_EQ(mkdir(at("data/shots").c_str(), 0755), 0);
    const struct {
        const char* name;
        const char* text;
    } mine[] = {{"Screenshot 0.bmp", "F12"}, {"notes.txt", "my notes"}, {"Textures/Mine.tga", "painted"},
                {"shots/a.bmp", "older"}, {"Engine.log", "a run's log"}};
    for (const auto& m : mine) write_text(at("data/") + m.name, m.text);
    ASSERT_EQ(import_model(at("tri.obj"), at("data"), "--force", &out), 0) << out;
    for (const auto& m : mine) EXPECT_EQ(read_text(at("data/") + m.name), m.text) << m.name;
    EXPECT_NE(read_text(at("data/Svet.3ds")), "edited by hand");
    EXPECT_NE(out.find("carried into the new folder (not made by an import): 'Engine.log', 'Screenshot 0.bmp', "
                       "'Textures/Mine.tga', 'notes.txt', 'shots'"), std::string::npos) << out;

    // An older import's marker without the list, and a file of the user's
    // where the new import writes one.
    write_text(at("data/.varnel-import"), "This folder was made by varnel-tool import.\n");
    write_text(at("data/Textures/Ground.tga"), "counts as the import's");
    ASSERT_EQ(system(("rm '" + at("data/Light.txt") + "' && echo mine >'" + at("data/Light.txt") + "'").c_str()), 0);
    ASSERT_EQ(import_model(at("tri.obj"), at("data"), "--force", &out), 0) << out;  // Light.txt: every import's
    write_text(at("data/Textures/Ground.tga"), "the user's now");
    write_text(at("data/.varnel-import"), "This folder was made by varnel-tool import.\nFiles it made:\nSvet.3ds\n");
    EXPECT_EQ(import_model(at("tri.obj"), at("data"), "--force", &out), 1) << out;
    EXPECT_NE(out.find("'Pos.txt'"), std::string::npos) << out;
    EXPECT_NE(out.find("'Textures/Ground.tga'"), std::string::npos) << out;
    EXPECT_EQ(read_text(at("data/Textures/Ground.tga")), "the user's now");
    EXPECT_EQ(read_text(at("data/notes.txt")), "my notes");
}

// The temporary folders of imports no longer running go with the next
// import into the same folder; any other folder stays.
TEST_F(Import, NextImportRemovesTheTemporaryFoldersOfDeadImports) {
    write_text("tri.obj", triangle_obj);
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string dead = ".varnel-import.partial-" + std::to_string(gone) + "-0";
    const std::string alive = ".varnel-import.partial-" + std::to_string(getppid()) + "-0";
    for (const std::string& folder : {dead, alive, std::string(".varnel-import-AbC123"), std::string("mine")}) {
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        write_text(folder + "/Svet.3ds", "x");
    }
    std::string out;
    ASSERT_EQ(import_model("tri.obj", "data", "", &out), 0) << out;
    EXPECT_FALSE(file_exists(dead));
    for (const std::string& kept : {alive, std::string(".varnel-import-AbC123/Svet.3ds"), std::string("mine/Svet.3ds")})
        EXPECT_TRUE(file_exists(kept)) << kept;
}

// -- imports kept waiting: the model's material library is a named pipe -----

const char* const piped_obj = "mtllib pipe.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

// `varnel-tool import --force m.obj data` in the background, output in log.txt.
pid_t start_import() {
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open("log.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1), dup2(fd, 2);
        execl(VARNEL_TOOL_PATH, VARNEL_TOOL_PATH, "import", "--force", "m.obj", "data", (char*)nullptr);
        _exit(127);
    }
    return pid;
}

template <typename Done>
bool within_20s(Done done) {
    for (int i = 0; i < 2000; i++, usleep(10000))
        if (done()) return true;
    return false;
}

// Lets the reader past the pipe: a writer held open while the library opens
// the file (twice: a write in between finds no reader), one line, the end.
void release_pipe() {
    void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
    int fd = -1;
    within_20s([&] { return (fd = open("pipe.mtl", O_WRONLY | O_NONBLOCK)) >= 0; });
    within_20s([&] { return fd < 0 || write(fd, "newmtl x\n", 9) == 9; });
    if (fd >= 0) close(fd);
    signal(SIGPIPE, previous);
}

// The exit code, -1 when the process has not exited within 20 s.
int exit_status(pid_t pid) {
    int status = 0;
    return within_20s([&] { return waitpid(pid, &status, WNOHANG) == pid; }) && WIFEXITED(status)
               ? WEXITSTATUS(status) : -1;
}

bool temporary_folder_left() { return system("ls -A | grep -q '^\\.varnel-import\\.partial-'") == 0; }

// DIR is checked when the import starts and again when the new folder takes
// its place: a folder of the user's that took DIR's place while the model was
// read is never removed.
TEST_F(Import, ForceKeepsAFolderThatTookDirsPlaceWhileTheModelWasRead) {
    write_text("m.obj", piped_obj);
    ASSERT_EQ(mkfifo("pipe.mtl", 0600), 0);
    pid_t first = start_import();
    release_pipe();
    ASSERT_EQ(exit_status(first), 0) << read_text("log.txt");
    pid_t second = start_import();
    ASSERT_TRUE(within_20s(temporary_folder_left));  // made once DIR was checked
    ASSERT_EQ(system("rm -r data && mkdir data && echo mine >data/user.txt"), 0);
    release_pipe();
    EXPECT_EQ(exit_status(second), 1);
    EXPECT_NE(read_text("log.txt").find("not made by varnel-tool import"), std::string::npos) << read_text("log.txt");
    expect_only(".", {"m.obj", "pipe.mtl", "log.txt", "data/", "data/user.txt"});
}

// The reader ends with a killed importer (and the importer's temporary
// folder with it), and on a signal sent to it.
TEST_F(Import, TheReaderEndsWithTheImporterAndOnTheSignalsItIsSent) {
    write_text("m.obj", piped_obj);
    ASSERT_EQ(mkfifo("pipe.mtl", 0600), 0);
    for (int importer_killed : {1, 0}) {
        SCOPED_TRACE(importer_killed);
        pid_t importer = start_import();
        const std::string task = "/proc/" + std::to_string(importer) + "/task/" + std::to_string(importer);
        std::string children;  // the sweeper's and the reader's pids, each followed by a space
        within_20s([&] {
            children = read_text(task + "/children");
            return std::count(children.begin(), children.end(), ' ') >= 2;
        });
        std::istringstream pids(children);
        for (pid_t child; !importer_killed && pids >> child;) kill(child, SIGTERM);
        if (importer_killed) kill(importer, SIGKILL);
        int status = exit_status(importer);  // -1: killed, or still waiting
        EXPECT_EQ(status, importer_killed ? -1 : 1) << read_text("log.txt");
        if (!importer_killed && status != 1) kill(importer, SIGKILL), waitpid(importer, nullptr, 0);
        EXPECT_TRUE(within_20s([] { return !temporary_folder_left(); }));
        int fd = open("pipe.mtl", O_WRONLY | O_NONBLOCK);  // frees a reader left waiting for ever
        if (fd >= 0) close(fd);
    }
}

// A damaged model that keeps the library spinning: an ASCII PLY cut inside
// its header. The reader's limit grows with the file, so this small one is
// refused within seconds, in words that say the reader gave up and when.
TEST_F(Import, ASpinningReaderGivesUpWithinSecondsForASmallFile) {
    std::string ply = "ply\nformat ascii 1.0\nelement vertex 8\nproperty float x\nproperty float y\n"
                      "property float z\nelement face 6\nproperty list uchar int vertex_indices\nend_header\n";
    write_text("cut.ply", ply.substr(0, ply.find("end_header") + 4));
    const auto started = std::chrono::steady_clock::now();
    std::string out;
    EXPECT_EQ(run_capture("timeout -s KILL 60 " + tool_command("import cut.ply data"), &out), 1) << out;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(seconds, 20.0);
    const std::string size = std::to_string(ply.find("end_header") + 4);
    EXPECT_NE(out.find("cut.ply: the reader gave up after 5 seconds (the limit for a file of " + size + " bytes"),
              std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    expect_only(".", {"cut.ply"});
}

// A stored (uncompressed) zip archive holding one file.
std::string zip_holding(const std::string& name, const std::string& data) {
    auto le = [](uint32_t v, int bytes) {
        std::string b;
        for (int i = 0; i < bytes; i++) b += (char)(v >> (8 * i) & 0xff);
        return b;
    };
    const uint32_t crc = (uint32_t)crc32(0, (const Bytef*)data.data(), (uInt)data.size());
    const std::string common = le(20, 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0x21, 2) + le(crc, 4) +
                               le((uint32_t)data.size(), 4) + le((uint32_t)data.size(), 4) +
                               le((uint32_t)name.size(), 2) + le(0, 2);
    const std::string local = "PK\x03\x04" + common + name + data;
    const std::string central = "PK\x01\x02" + le(20, 2) + common + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) +
                                le(0, 4) + name;
    return local + central + "PK\x05\x06" + le(0, 2) + le(0, 2) + le(1, 2) + le(1, 2) +
           le((uint32_t)central.size(), 4) + le((uint32_t)local.size(), 4) + le(0, 2);
}

// Game levels: a Quake 3 .bsp, which the library opens only inside its
// package, the package, which it reads into faces its own validation
// refuses, and BSP files of other versions or names: one line that names
// the format and what to give instead.
TEST_F(Import, QuakeLevelsAreRefusedInOneLineThatSaysWhatToGiveInstead) {
    // the magic, the version and 17 empty lumps (offset and length each)
    auto bsp = [](int version) { return std::string("IBSP") + (char)version + std::string(3 + 17 * 8, '\0'); };
    const std::string quake3 = "a Quake 3 level (.bsp/.pk3) cannot be imported; export its geometry as OBJ, glTF or 3DS";
    const struct {
        const char* file;
        std::string bytes;
        std::string says;
    } cases[] = {{"eng.bsp", bsp(46), quake3},
                 {"eng.pk3", zip_holding("maps/eng.bsp", bsp(46)), quake3},
                 {"LEVEL.PK3", zip_holding("maps/level.bsp", bsp(47)), quake3},
                 {"eng.dat", bsp(46), quake3},
                 {"old.bsp", bsp(38), "a BSP game level cannot be imported; export its geometry as OBJ, glTF or 3DS"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        write_text(c.file, c.bytes);
        std::string out;
        EXPECT_EQ(import_model(c.file, "data", "", &out), 1) << out;
        EXPECT_EQ(out, std::string("varnel-tool import: ") + c.file + ": " + c.says + "\n");
        EXPECT_FALSE(file_exists("data"));
        std::remove(c.file);
    }
    expect_only(".", {});
}

// Names from the model become file names only through import_fit_name:
// separators, "..", control characters, device names, long names and names
// that differ only in case all end as distinct, plain names inside DIR.
TEST_F(Import, HostileNamesStayInsideTheFolder) {
    const char* const names[] = {"../../escape", "/etc/passwd", "a\\b\\c", "CON", "\x01\x1f\x7f", "..",
                                 "Wood", "WOOD", "a_very_long_material_name_over_sixteen"};
    std::string mtl, obj = "mtllib evil.mtl\n";
    int n = 0;
    for (const char* name : names) {
        mtl += std::string("newmtl ") + name + "\nKd 0.5 0.2 0.1\nmap_Kd ../../../../../../etc/passwd\n";
        obj += "o " + std::string(name) + "\nv " + std::to_string(n) + " 0 0\nv " + std::to_string(n + 1) +
               " 0 0\nv " + std::to_string(n) + " 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nusemtl " + name + "\nf " +
               std::to_string(3 * n + 1) + "/" + std::to_string(3 * n + 1) + " " + std::to_string(3 * n + 2) + "/" +
               std::to_string(3 * n + 2) + " " + std::to_string(3 * n + 3) + "/" + std::to_string(3 * n + 3) + "\n";
        n++;
    }
    ASSERT_EQ(mkdir(at("models").c_str(), 0755), 0);
    write_text(at("models/evil.mtl"), mtl);
    write_text(at("models/evil.obj"), obj);
    std::string out;
    ASSERT_EQ(import_model(at("models/evil.obj"), at("data"), "", &out), 0) << out;
    expect_only(at("models"), {"evil.mtl", "evil.obj"});
    std::set<std::string> files = tree(at("data"));
    std::set<std::string> lower;
    int textures = 0;
    for (const std::string& f : files) {
        if (f.compare(0, 9, "Textures/") != 0 || f == "Textures/") continue;
        std::string name = f.substr(9, f.size() - 13);
        EXPECT_EQ(f.substr(f.size() - 4), ".tga");
        EXPECT_LE(name.size(), 16u) << name;
        EXPECT_FALSE(name.empty());
        for (char c : name) EXPECT_TRUE(std::isalnum((unsigned char)c) || c == '_' || c == '-') << f;
        EXPECT_STRCASENE(name.c_str(), "CON");
        std::string l;
        for (char c : name) l += (char)std::tolower((unsigned char)c);
        EXPECT_TRUE(lower.insert(l).second) << "two textures differ only in case: " << f;
        textures++;
    }
    // the marker's Gold, the ground's and one per material
    EXPECT_EQ(textures, 2 + (int)(sizeof names / sizeof names[0]));
    EXPECT_NE(out.find("diffuse colour 128 51 26"), std::string::npos) << out;  // /etc/passwd is no image
    Scene* world = scene_load(at("data/Svet.3ds").c_str());
    ASSERT_NE(world, nullptr) << scene_load_error();
    for (int i = 0; i < world->object_count; i++) EXPECT_LE(std::strlen(world->objects[i].name), 10u);
    scene_free(world);
    RgbImage* frame = render_start_frame(at("data"));
    EXPECT_NE(frame, nullptr) << "the folder runs as it is";
    if (frame) rgb_image_free(frame);
}

TEST_F(Import, NonFiniteAndAreaLessTrianglesAreDroppedAndCounted) {
    write_text(at("odd.obj"),
               "v 0 0 0\nv 1 0 0\nv 0 1 0\n"       // a good triangle
               "v 1e39 0 0\nv 0 0 1\nv 0 1 1\n"     // a corner beyond a float
               "v 2 0 0\nv 3 0 0\nv 4 0 0\n"       // on one line
               "f 1 2 3\nf 4 5 6\nf 7 8 9\nf 1 1 2\n");
    std::string out;
    ASSERT_EQ(import_model(at("odd.obj"), at("data"), "", &out), 0) << out;
    EXPECT_NE(out.find("triangles  1 in 1 objects"), std::string::npos) << out;
    EXPECT_NE(out.find("2 without area, 1 with corners not finite"), std::string::npos) << out;
}

// Square on and in the three-quarter view, which turns the model about y.
TEST_F(Import, ScaleKeepsTheAuthorsSizeAndThePathCirclesTheModelInView) {
    write_text(at("box.obj"), "v -1 0 -3\nv 1 0 -3\nv 1 2 3\nv -1 2 3\nf 1 2 3 4\n");
    for (const char* view : {"front", "three-quarter"}) {
        SCOPED_TRACE(view);
        const int front_view = std::string(view) == "front";
        std::string out;
        ASSERT_EQ(import_model(at("box.obj"), at("data"), std::string("--force --ground none --scale 2.5 --view ") + view, &out), 0)
            << out;
        EXPECT_NE(out.find("as --scale says"), std::string::npos) << out;
        EXPECT_NE(out.find(std::string("view       ") + view), std::string::npos) << out;
        Scene* world = scene_load(at("data/Svet.3ds").c_str());
        ASSERT_NE(world, nullptr);
        float low[3] = {1e9f, 1e9f, 1e9f}, high[3] = {-1e9f, -1e9f, -1e9f};
        for (int i = 0; i < world->object_count; i++)
            for (int v = 0; v < world->objects[i].vertex_count; v++) {
                const SceneVertex& p = world->objects[i].vertices[v];
                const float c[3] = {p.x, p.y, p.z};
                for (int k = 0; k < 3; k++) low[k] = std::min(low[k], c[k]), high[k] = std::max(high[k], c[k]);
            }
        scene_free(world);
        // Turned 35 degrees about y: the corners (+-2.5, +-7.5) span
        // 2 (2.5 cos 35 + 7.5 sin 35) across and 2 (7.5 cos 35 + 2.5 sin 35) deep.
        const double angle = (front_view ? 0.0 : 35.0) * M_PI / 180.0;
        EXPECT_NEAR(high[0] - low[0], 5.0 * std::cos(angle) + 15.0 * std::sin(angle), 1e-4);
        EXPECT_NEAR(high[1] - low[1], 5.0f, 1e-4f);
        EXPECT_NEAR(high[2] - low[2], 15.0 * std::cos(angle) + 5.0 * std::sin(angle), 1e-4);
        // The marker path: every point in the start view, in front of the
        // camera, and going all the way round the model's centre.
        FILE* f = std::fopen(at("data/Pos.txt").c_str(), "r");
        ASSERT_NE(f, nullptr);
        int count = 0;
        ASSERT_EQ(std::fscanf(f, "%d", &count), 1);
        ASSERT_GE(count, 8);
        int quadrants = 0;
        for (int i = 0; i < count; i++) {
            float x, y, z;
            ASSERT_EQ(std::fscanf(f, "%f %f %f", &x, &y, &z), 3);
            float depth = z + 50.0f;
            ASSERT_GT(depth, 1.0f);
            EXPECT_LT(std::fabs(200.0f * x / depth), 190.0f) << i;
            EXPECT_LT(std::fabs(200.0f * (y - 30.0f) / depth), 140.0f) << i;
            float cx = 0.5f * (low[0] + high[0]), cz = 0.5f * (low[2] + high[2]);
            quadrants |= 1 << ((x > cx) * 2 + (z > cz));
            EXPECT_GT(std::hypot(x - cx, z - cz), 2.5f) << "outside the model";
        }
        std::fclose(f);
        EXPECT_EQ(quadrants, 15);
    }
}

// Boxes as OBJ text, one after another: (x0, y0, z0) to (x1, y1, z1) each,
// faces counter-clockwise seen from outside.
std::string boxes_obj(const std::vector<std::array<double, 6>>& boxes) {
    std::string obj;
    int base = 1;
    for (const auto& b : boxes) {
        for (int k = 0; k < 8; k++)
            obj += "v " + std::to_string(k & 1 ? b[3] : b[0]) + " " + std::to_string(k & 2 ? b[4] : b[1]) + " " +
                   std::to_string(k & 4 ? b[5] : b[2]) + "\n";
        const int quads[6][4] = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
        for (const auto& q : quads)
            obj += "f " + std::to_string(base + q[0]) + " " + std::to_string(base + q[1]) + " " +
                   std::to_string(base + q[2]) + " " + std::to_string(base + q[3]) + "\n";
        base += 8;
    }
    return obj;
}

// A file that does not say its up axis is guessed, and the guess says so.
// A model that would topple as guessed (an L standing on the foot of its
// post, its arm out to the side) is laid on its widest base; one that
// stands (a pole) or balances on a point (a box on a spike) is left as
// guessed.
TEST_F(Import, GuessedUpGivesWayWhenTheModelWouldNotStand) {
    write_text(at("l.obj"), boxes_obj({{0, 0, 0, 0.2, 2, 0.2}, {0, 1.8, 0, 3, 2, 0.2}}));
    write_text(at("pole.obj"), boxes_obj({{0, 0, 0, 0.4, 6, 0.4}}));
    write_text(at("spike.obj"), boxes_obj({{-1, 1.2, -0.6, 1, 2.8, 0.6}}) +
                                    "v 0 0 0\nv 0.3 1.2 0.3\nv -0.3 1.2 0.3\nv 0 1.2 -0.3\n"
                                    "f 9 10 11\nf 9 11 12\nf 9 12 10\n");
    const struct {
        const char* model;
        const char* up;
        bool turned;
    } cases[] = {{"l.obj", "+z of the file", true}, {"pole.obj", "+y of the file", false},
                 {"spike.obj", "+y of the file", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        std::string out;
        ASSERT_EQ(import_model(at(c.model), at("data"), "--force --ground none --max 16", &out), 0) << out;
        EXPECT_NE(out.find(std::string("up         ") + c.up + " (guessed"), std::string::npos) << out;
        EXPECT_EQ(out.find("would not stand that way up") != std::string::npos, c.turned) << out;
    }
}

// -- the converter and the image lookup, without the library ---------------

TEST(ImportNames, FittedToTheLimitsAndUniqueIgnoringCase) {
    std::vector<std::string> taken = {"Gold"};
    EXPECT_EQ(import_fit_name("Brick wall (old)", 16, "Material", &taken), "Brick_wall_old");
    EXPECT_EQ(import_fit_name("GOLD", 16, "Material", &taken), "GOLD_2");
    EXPECT_EQ(import_fit_name("../..", 16, "Material", &taken), "Material");
    EXPECT_EQ(import_fit_name("", 16, "Material", &taken), "Material_2");
    EXPECT_EQ(import_fit_name("nul", 16, "Material", &taken), "nul_");
    EXPECT_EQ(import_fit_name("abcdefghijklmnopqrstuvwxyz", 10, "Object", &taken), "abcdefghij");
    EXPECT_EQ(import_fit_name("abcdefghijXYZ", 10, "Object", &taken), "abcdefgh_2");
    std::vector<std::string> many;
    for (int i = 0; i < 120; i++) EXPECT_LE(import_fit_name("SameName12", 10, "Object", &many).size(), 10u);
    EXPECT_EQ(many[99], "SameNa_100");
}

// A model made in memory: `triangles` triangles with corners of their own.
ImportModel separate_triangles(long triangles, int with_uv) {
    ImportModel m = {};
    m.folder = ".";
    m.materials.push_back(ImportMaterial{"Paint", Rgba8{10, 20, 30, 255}, "paint.png", -1});
    m.axes = ImportAxes{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, 'y', 0, "test", 0};
    ImportPart part;
    part.name = "Strip";
    part.material = 0;
    for (long t = 0; t < triangles; t++) {
        double x = (double)(t % 1000), y = (double)(t / 1000);
        const double p[9] = {x, y, 0, x + 1, y, 0, x, y + 1, 0};
        part.positions.insert(part.positions.end(), p, p + 9);
        for (int k = 0; k < 3; k++) part.corners.push_back((uint32_t)(3 * t + k));
        if (with_uv) part.uv.insert(part.uv.end(), {0, 0, 1, 0, 0, 1});
    }
    m.parts.push_back(part);
    return m;
}

TEST(ImportConvert, ObjectsSplitAt65535VerticesAndFaces) {
    ImportOptions options = {0, 0.0, 8};
    options.ground = IMPORT_GROUND_NONE;
    ImportResult r;
    ImportModel strip = separate_triangles(50000, 0);
    ASSERT_EQ(import_convert(&strip, &options, {}, &r), 1) << import_error();
    EXPECT_EQ(r.counts.triangles, 50000);
    long faces = 0, vertices = 0;
    for (const Mesh& mesh : r.scene.meshes) {
        EXPECT_LE(mesh.vertices.size(), 65535u);
        EXPECT_LE(mesh.faces.size(), 65535u);
        faces += (long)mesh.faces.size();
        vertices += (long)mesh.vertices.size();
    }
    EXPECT_EQ(r.scene.meshes.size(), 3u);  // 150,000 corners of their own
    EXPECT_EQ(faces, 50000);
    EXPECT_EQ(vertices, 150000);
    EXPECT_EQ(r.scene.meshes[0].name, "Strip");
    EXPECT_EQ(r.scene.meshes[1].name, "Strip_2");
    // The image is not there, and the faces have no mapping anyway: shades
    // of the colour.
    ASSERT_EQ(r.textures.size(), 1u);
    EXPECT_EQ(r.textures[0].file, "Textures/Paint.tga");
    EXPECT_EQ(r.textures[0].source.find("diffuse colour 10 20 30"), 0u) << r.textures[0].source;

    // Shared corners of textured faces: a grid of 70,000 faces over 35,451
    // vertices needs two objects for its faces alone.
    ScratchDir dir("import_convert_split");
    ASSERT_TRUE(dir.ok());
    std::vector<uint32_t> pixels(4 * 4, 0xC86400u);
    ASSERT_EQ(png_write_rgb("paint.png", pixels.data(), 4, 4), 1);
    ImportModel grid = separate_triangles(0, 0);
    grid.folder = dir.path();
    ImportPart& part = grid.parts[0];
    const int columns = 350, rows = 100;
    for (int y = 0; y <= rows; y++)
        for (int x = 0; x <= columns; x++) {
            part.positions.insert(part.positions.end(), {(double)x, (double)y, 0.0});
            part.uv.insert(part.uv.end(), {0.5f, 0.5f});
        }
    for (int y = 0; y < rows; y++)
        for (int x = 0; x < columns; x++) {
            uint32_t a = (uint32_t)(y * (columns + 1) + x), b = a + 1, c = a + columns + 1, d = c + 1;
            part.corners.insert(part.corners.end(), {a, b, d, a, d, c});
        }
    ASSERT_EQ(import_convert(&grid, &options, {}, &r), 1) << import_error();
    ASSERT_EQ(r.scene.meshes.size(), 2u);
    EXPECT_EQ(r.scene.meshes[0].faces.size(), 65535u);
    EXPECT_EQ(r.scene.meshes[1].faces.size(), 70000u - 65535u);
    EXPECT_LE(r.scene.meshes[0].vertices.size(), 35451u);  // shared corners stay shared
}

TEST(ImportConvert, FacesWithoutMappingGetTheSolidColourBesideTexturedOnes) {
    ScratchDir dir("import_convert_mapping");
    ASSERT_TRUE(dir.ok());
    std::vector<uint32_t> pixels(16 * 16, 0xC86400u);
    ASSERT_EQ(png_write_rgb("paint.png", pixels.data(), 16, 16), 1);
    ImportModel m = separate_triangles(2, 1);
    m.folder = dir.path();
    ImportModel plain = separate_triangles(2, 0);
    m.parts.push_back(plain.parts[0]);
    ImportOptions options = {0, 0.0, 8};
    options.ground = IMPORT_GROUND_NONE;
    ImportResult r;
    ASSERT_EQ(import_convert(&m, &options, {"Paint"}, &r), 1) << import_error();
    ASSERT_EQ(r.textures.size(), 2u);
    EXPECT_EQ(r.textures[0].file, "Textures/Paint_2.tga");  // "Paint" is taken by the marker
    EXPECT_NE(r.textures[0].source.find("paint.png, 8 x 8 from 16 x 16"), std::string::npos) << r.textures[0].source;
    EXPECT_EQ(r.textures[1].file, "Textures/Paint_3.tga");
    EXPECT_EQ(r.textures[1].source.find("diffuse colour 10 20 30"), 0u) << r.textures[1].source;
    ASSERT_FALSE(r.guesses.empty());
    EXPECT_NE(r.guesses.back().find("without mapping coordinates"), std::string::npos) << r.guesses.back();
}

// A model that names a missing image takes one beside it named like its
// material, else like the model file, in any case; else its colour.
TEST(ImportConvert, MissingImageFoundByMaterialOrModelName) {
    ScratchDir dir("import_convert_beside");
    ASSERT_TRUE(dir.ok());
    std::vector<uint32_t> pixels(16 * 16, 0xC86400u);
    ImportOptions options = {0, 0.0, 8};
    ImportResult r;
    ImportModel m = separate_triangles(2, 1);
    m.folder = dir.path();
    m.stem = "sydney";
    m.materials[0].image = "dummy.bmp";
    struct Case {
        const char* file;  // written beside the model before the import
        const char* used;  // in the texture's source
    };
    const Case cases[] = {{"notes.png", "diffuse colour"}, {"SYDNEY.Png", "SYDNEY.Png"}, {"Paint.PNG", "Paint.PNG"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(png_write_rgb(c.file, pixels.data(), 16, 16), 1);
        ASSERT_EQ(import_convert(&m, &options, {}, &r), 1) << import_error();
        EXPECT_NE(r.textures[0].source.find(c.used), std::string::npos) << r.textures[0].source;
    }
}

TEST(ImportImages, WindowsSeparatorsLetterCaseAndTheFileNameAlone) {
    ScratchDir dir("import_images");
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(system("mkdir -p Maps/Sub textures && touch Maps/Sub/Wood.PNG textures/stone.jpg && mkfifo pipe.png"), 0);
    const std::string here = dir.path();
    std::string path;
    std::vector<std::string> notes;
    EXPECT_EQ(import_find_image(here, "maps\\sub\\wood.png", &path, &notes), 1);
    EXPECT_EQ(path, here + "/Maps/Sub/Wood.PNG");
    EXPECT_EQ(notes.size(), 2u);  // separators and letter case
    EXPECT_EQ(import_find_image(here, "C:\\Users\\someone\\textures\\STONE.JPG", &path, &notes), 0);
    EXPECT_EQ(import_find_image(here, "C:\\Users\\someone\\textures\\..\\..\\textures\\STONE.JPG", &path, &notes), 0);
    EXPECT_EQ(import_find_image(here, "/somewhere/else/textures/stone.jpg", &path, &notes), 0);
    ASSERT_EQ(system("cp textures/stone.jpg stone.jpg"), 0);
    EXPECT_EQ(import_find_image(here, "C:\\Users\\someone\\textures\\STONE.JPG", &path, &notes), 1);
    EXPECT_EQ(path, here + "/stone.jpg");
    EXPECT_EQ(import_find_image(here, "textures/stone%2Ejpg", &path, &notes), 1);
    EXPECT_EQ(import_find_image(here, "pipe.png", &path, &notes), 0) << "only regular files are images";
    EXPECT_EQ(import_find_image(here, "Maps/Sub", &path, &notes), 0);
    EXPECT_EQ(import_find_image(here, "", &path, &notes), 0);
    // A name without an extension, as MD3 models give it: the image of that
    // name beside the model, in any case.
    ASSERT_EQ(system("touch SKIN.Tga"), 0);
    EXPECT_EQ(import_find_image(here, "skin", &path, &notes), 1);
    EXPECT_EQ(path, here + "/SKIN.Tga");
    EXPECT_EQ(import_find_image(here, "models/skin", &path, &notes), 1) << "beside the model, by its name alone";
    EXPECT_EQ(import_find_image(here, "hide", &path, &notes), 0);
}

// A PNG file's signature and header chunk, which is all that gives its size.
std::string png_header(uint32_t width, uint32_t height, int colour_type) {
    auto be = [](uint32_t v) { return std::string{(char)(v >> 24), (char)(v >> 16), (char)(v >> 8), (char)v}; };
    const std::string chunk = "IHDR" + be(width) + be(height) + std::string{8, (char)colour_type, 0, 0, 0};
    return "\x89PNG\r\n\x1a\n" + be(13) + chunk + be((uint32_t)crc32(0, (const Bytef*)chunk.data(), 17));
}

// An image over the limits is too large, with its size and the limits,
// whatever the decoding library makes of it: it gives up on a PNG of more
// than 1 GiB of pixels before it says its size.
TEST(ImportImages, ImagesOverTheLimitsAreTooLargeWithTheLimitsNamed) {
    const std::string limits = "pixels, where the limit is 16384 pixels a side and 67108864 in all (8192 x 8192)";
    const struct {
        std::string bytes;
        std::string says;  // the reason begins so; "" for any reason that is not "too large"
    } cases[] = {{png_header(20000, 20000, 2), "too large: 20000 x 20000 " + limits},  // RGB
                 {png_header(20000, 20000, 6), "too large: 20000 x 20000 "},           // RGBA
                 {png_header(16385, 16, 2), "too large: 16385 x 16 "},
                 {png_header(9000, 9000, 0), "too large: 9000 x 9000 "},  // grey: the library reads its size
                 {png_header(0x7fffffff, 1, 6), "too large: 2147483647 x 1 "},
                 {png_header(20000, 20000, 2).substr(0, 20), ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        std::vector<Rgba8> pixels;
        int width = 0, height = 0;
        const char* why = "";
        EXPECT_EQ(import_decode_image((const uint8_t*)c.bytes.data(), c.bytes.size(), &pixels, &width, &height, &why), 0);
        if (c.says.empty())
            EXPECT_EQ(std::string(why).find("too large"), std::string::npos) << why;
        else
            EXPECT_EQ(std::string(why).compare(0, c.says.size(), c.says), 0) << why;
    }

    // Through the converter: the material's colour, and the reason in the summary.
    ScratchDir dir("import_images_too_large");
    ASSERT_TRUE(dir.ok());
    write_text("big.png", png_header(20000, 20000, 2));
    ImportModel m = separate_triangles(1, 1);
    m.folder = dir.path();
    m.materials[0].image = "big.png";
    ImportOptions options = {0, 0.0, 8};
    ImportResult r;
    ASSERT_EQ(import_convert(&m, &options, {}, &r), 1) << import_error();
    EXPECT_EQ(r.textures[0].source.find("diffuse colour"), 0u) << r.textures[0].source;
    const std::string said = "image 'big.png' too large: 20000 x 20000 " + limits + "; its diffuse colour 10 20 30";
    EXPECT_TRUE(std::any_of(r.guesses.begin(), r.guesses.end(),
                            [&](const std::string& g) { return g.find(said) != std::string::npos; }));
}

// An absolute path is the author's disk, like a drive path: only its file
// name is looked up beside the model, so no file of the user's can be baked
// into the folder by naming it. Relative paths may climb, and every image
// read from outside the model's folder is named in the summary.
TEST(ImportImages, AbsolutePathsTakeTheFileNameAndImagesOutsideAreNamed) {
    ScratchDir dir("import_images_outside");
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(system("mkdir model textures"), 0);
    std::vector<uint32_t> pixels(16 * 16, 0x204080u);
    for (const char* name : {"secret.png", "textures/wood.png", "model/stone.png"})
        ASSERT_EQ(png_write_rgb(name, pixels.data(), 16, 16), 1);
    const std::string here = dir.path(), climbed = here + "/model/../textures/wood.png";
    const std::string cases[][2] = {{here + "/secret.png", "diffuse colour"},  // image, texture made from
                                    {"file://" + here + "/secret.png", "diffuse colour"},
                                    {here + "/textures/stone.png", here + "/model/stone.png"},
                                    {"../textures/wood.png", climbed}};
    ImportOptions options = {0, 0.0, 8};
    for (const auto& c : cases) {
        ImportModel m = separate_triangles(1, 1);
        m.folder = here + "/model";
        m.materials[0].image = c[0];
        ImportResult r;
        ASSERT_EQ(import_convert(&m, &options, {}, &r), 1) << import_error();
        EXPECT_EQ(r.textures[0].source.compare(0, c[1].size(), c[1]), 0) << r.textures[0].source;
        EXPECT_EQ(r.outside, c[1] == climbed ? std::vector<std::string>{climbed} : std::vector<std::string>{});
    }
}

// -- models of the Debian package assimp-testmodels ---------------------------

TEST_F(Import, TestModelsImportAndShowInTheStartView) {
    if (!file_exists(testmodels)) GTEST_SKIP() << "the package assimp-testmodels is not installed (make deps)";
    const char* const models[] = {"3DS/fels.3ds", "OBJ/spider.obj", "glTF2/BoxTextured-glTF-Binary/BoxTextured.glb",
                                  "Collada/duck.dae", "MS3D/jeep1.ms3d", "STL/Spider_binary.stl", "FBX/box.fbx",
                                  "PLY/cube.ply"};
    for (const char* model : models) {
        SCOPED_TRACE(model);
        std::string dir = at("data"), out;
        ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
        ASSERT_EQ(import_model(std::string(testmodels) + "/" + model, dir, "--max 32 --ground none", &out), 0) << out;
        RgbImage* frame = render_start_frame(dir);
        ASSERT_NE(frame, nullptr);
        long covered = 0, n = (long)frame->width * frame->height;
        for (long i = 0; i < n; i++) covered += frame->pixels[i] != 0;
        rgb_image_free(frame);
        EXPECT_GT(covered, n / 50) << "the model is in view";
        EXPECT_LT(covered, n * 2 / 3) << "and fits it";
    }
}

// The package's invalid/ files: empty, damaged, or made to exhaust memory.
// malformed2.obj is a whole box whose faces name a material no file
// defines; it imports with the library's note about it.
TEST_F(Import, TestModelsInvalidFilesAreRefused) {
    const std::string invalid = std::string(testmodels) + "/invalid";
    if (!file_exists(invalid)) GTEST_SKIP() << "the package assimp-testmodels is not installed (make deps)";
    DIR* d = opendir(invalid.c_str());
    ASSERT_NE(d, nullptr);
    std::vector<std::string> files;
    while (struct dirent* e = readdir(d))
        if (e->d_name[0] != '.') files.push_back(e->d_name);
    closedir(d);
    ASSERT_GE(files.size(), 10u);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::string out;
        int code = import_model(invalid + "/" + file, at("data"), "", &out);
        if (file == "malformed2.obj") {
            EXPECT_EQ(code, 0) << out;
            EXPECT_NE(out.find("DefaultDoesNotExist"), std::string::npos) << out;
            ASSERT_EQ(system(("rm -rf '" + at("data") + "'").c_str()), 0);
            continue;
        }
        EXPECT_EQ(code, 1) << out;
        EXPECT_FALSE(file_exists(at("data")));
    }
    expect_only(scratch_.path(), {});
}

}  // namespace
