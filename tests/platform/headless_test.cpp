#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "platform/headless.h"

namespace {

std::vector<HeadlessEvent> parse(const char* text, int expect_ok = 1) {
    std::vector<HeadlessEvent> events(16);
    int count = 0;
    const char* error = nullptr;
    EXPECT_EQ(headless_parse_events(text, events.data(), 16, &count, &error), expect_ok) << text;
    events.resize(count);
    return events;
}

TEST(HeadlessScript, ParsesKeysAndMouseMoves) {
    std::vector<HeadlessEvent> e = parse("5:mouse:20,-3 10:key:F11  12:key:F12");
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].frame, 5);
    EXPECT_EQ(e[0].kind, HEADLESS_MOUSE);
    EXPECT_EQ(e[0].dx, 20);
    EXPECT_EQ(e[0].dy, -3);
    EXPECT_EQ(e[1].key, KEY_F11);
    EXPECT_EQ(e[2].key, KEY_F12);
    const char* bad[] = {"0:key:F11", "x:key:F11", "3:key:F13", "3:jump", "3:mouse:4", "3"};
    for (const char* text : bad) parse(text, 0);
}

// A script file: CRLF line ends and comments; the count taken before the
// array is sized fails on a bad event anywhere, and a full array is refused.
TEST(HeadlessScript, FileScriptsWithCommentsLineEndsAndCounting) {
    const char* text = "# 1:key:ESC is no event\r\n1:key:UP 1:mouse:-4,7\r\n3:key:END# note\n\n4:key:F11,5:key:HOME";
    int count = -1;
    const char* error = nullptr;
    ASSERT_EQ(headless_parse_events(text, nullptr, 0, &count, &error), 1);
    EXPECT_EQ(count, 5);
    std::vector<HeadlessEvent> e = parse(text);
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].key, KEY_UP);
    EXPECT_EQ(e[1].dy, 7);
    EXPECT_EQ(e[4].key, KEY_HOME);
    EXPECT_EQ(headless_parse_events("1:key:UP\n2:key:UPP", nullptr, 0, &count, &error), 0);
    std::vector<HeadlessEvent> two(2);
    EXPECT_EQ(headless_parse_events("1:key:UP 2:key:UP 3:key:UP", two.data(), 2, &count, &error), 0);
}

// Ticks are 1..N; the events of frame k come after tick k - 1 and before
// tick k, in the order given; the clock reads 20 * k during tick k.
TEST(HeadlessScript, DeliversEventsBeforeTheirTickThenCloses) {
    std::vector<HeadlessEvent> e = parse("2:key:UP 2:mouse:3,4 1:key:END 2:mouse:1,1 2:key:DOWN");
    headless_configure(2, e.data(), (int)e.size());
    platform_use(headless_backend());
    Message m;
    const uint32_t expected[][2] = {{MSG_KEYDOWN, KEY_END}, {MSG_TIMER, 0},
                                    {MSG_KEYDOWN, KEY_UP},  {MSG_KEYDOWN, KEY_DOWN},
                                    {MSG_TIMER, 0},         {MSG_CLOSE, 0}};
    int dx = -1, dy = -1;
    for (const auto& x : expected) {
        ASSERT_EQ(platform_next_message(&m), 1);
        EXPECT_EQ(m.type, x[0]);
        EXPECT_EQ(m.key, x[1]);
        if (m.type == MSG_TIMER) {
            EXPECT_EQ(platform_elapsed_ms() % 20, 0u);
            platform_mouse_motion(&dx, &dy);
        }
    }
    EXPECT_EQ(platform_elapsed_ms(), 40u);
    EXPECT_EQ(dx, 4);  // the two moves of frame 2, summed
    EXPECT_EQ(dy, 5);
    platform_post_quit(0);
    EXPECT_EQ(platform_next_message(&m), 0);
}

// A frame's moves are summed without overflow and handed out clamped to
// the int range; the next frame's sum starts afresh.
TEST(HeadlessScript, HugeMouseSumsSaturate) {
    std::vector<HeadlessEvent> e(2200, HeadlessEvent{1, HEADLESS_MOUSE, 0, 1000000, -1000000});
    e.push_back(HeadlessEvent{2, HEADLESS_MOUSE, 0, -5, 6});
    headless_configure(2, e.data(), (int)e.size());
    platform_use(headless_backend());
    Message m;
    int dx[2], dy[2];
    for (int tick = 0; tick < 2; tick++) {
        ASSERT_EQ(platform_next_message(&m), 1);
        platform_mouse_motion(&dx[tick], &dy[tick]);
    }
    EXPECT_EQ(std::vector<int>({dx[0], dy[0], dx[1], dy[1]}), std::vector<int>({INT_MAX, INT_MIN, -5, 6}));
}

}  // namespace

// A quit event is the window manager's close: it comes before its frame's
// tick, and the keys after it are never delivered.
TEST(HeadlessScript, QuitEventClosesBeforeItsTick) {
    std::vector<HeadlessEvent> e = parse("2:key:UP 3:quit 3:key:END");
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[1].kind, HEADLESS_QUIT);
    parse("3:quitting", 0);
    headless_configure(10, e.data(), (int)e.size());
    platform_use(headless_backend());
    Message m;
    const uint32_t expected[][2] = {
        {MSG_TIMER, 0}, {MSG_KEYDOWN, KEY_UP}, {MSG_TIMER, 0}, {MSG_CLOSE, 0}};
    for (const auto& x : expected) {
        ASSERT_EQ(platform_next_message(&m), 1);
        EXPECT_EQ(m.type, x[0]);
        EXPECT_EQ(m.key, x[1]);
    }
    platform_post_quit(0);  // what the window's destruction does
    EXPECT_EQ(platform_next_message(&m), 0);
}
