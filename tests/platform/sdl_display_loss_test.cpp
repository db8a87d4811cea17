// The window program losing its X display or its window, on a private X
// server (Xvfb); skipped where there is none.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/x11_loss.h"
#include "test_support.h"

namespace {

// A private X server on a display number it picks itself, ended with the
// object or by stop(); name() is empty when it did not start.
class TestXServer {
public:
    TestXServer() {
        int fds[2];
        if (pipe(fds) != 0 || (pid_ = fork()) < 0) return;
        if (pid_ == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", (char*)nullptr);
            _exit(127);
        }
        close(fds[1]);
        char c;
        pollfd p = {fds[0], POLLIN, 0};
        while (poll(&p, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') name_ += c;
        close(fds[0]);
        if (!name_.empty()) name_ = ":" + name_;
    }
    ~TestXServer() { stop(); }
    void stop() {
        if (pid_ > 0) kill(pid_, SIGTERM), waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// Destroys the top-level windows titled `title...` as another client would.
void destroy_windows(const std::string& display_name, const char* title) {
    Display* d = XOpenDisplay(display_name.c_str());
    ASSERT_NE(d, nullptr);
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count; i++) {
        char* name = nullptr;
        if (XFetchName(d, children[i], &name) && std::strncmp(name, title, std::strlen(title)) == 0)
            XDestroyWindow(d, children[i]);
        XFree(name);
    }
    XFree(children);
    XCloseDisplay(d);
}

// The X server ends under the running program, or another client destroys
// its window: it ends by itself at once, with exit code 1 and one line.
TEST(SdlDisplayLoss, ProgramEndsWhenItsDisplayOrWindowGoesAway) {
    if (std::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
    for (int server_ends : {1, 0}) {
        DemoCopy data("sdl_display_loss");
        ASSERT_TRUE(data.copied());
        std::remove("Engine.log");  // the demo folder may hold one from an earlier run
        TestXServer server;
        ASSERT_FALSE(server.name().empty()) << "Xvfb did not start";
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            dup2(open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            setenv("DISPLAY", server.name().c_str(), 1);
            unsetenv("WAYLAND_DISPLAY");
            unsetenv("SDL_VIDEODRIVER");
            setenv("VARNEL_THREADS", "3", 1);
            execl(VARNEL_PROGRAM_PATH, VARNEL_PROGRAM_PATH, (char*)nullptr);
            _exit(127);
        }
        for (int i = 0; i < 1000 && read_file("Engine.log").find("Rendering !") == std::string::npos; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // frames drawn, threads between jobs
        if (server_ends)
            server.stop();
        else
            destroy_windows(server.name(), "Varnel - Engine");
        int status = wait_child(pid, 3000);
        std::string err = read_file("err.txt");
        EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find("went away"), std::string::npos) << err;
    }
}

// A write to a connection whose other end has closed, as Xlib's to a server
// that just ended, fails with EPIPE once the handlers are in place, so the
// I/O error handler can speak, instead of ending the process by SIGPIPE
// (which it did now and then when the server ended mid-write).
TEST(SdlDisplayLoss, BrokenConnectionFailsTheWriteInsteadOfKillingTheProgram) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        x11_end_on_display_loss();
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) _exit(2);
        close(ends[1]);
        _exit(write(ends[0], "x", 1) == -1 && errno == EPIPE ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
