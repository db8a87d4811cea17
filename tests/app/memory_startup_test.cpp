// Start-up steps that find no memory: each ends start-up with its own line
// on stderr naming what could not be had, and the log's last line names the
// group that failed. The sweep of real address-space limits over the whole
// programs is tools/memory_limit_test.sh.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/app.h"
#include "pipeline/frame.h"
#include "platform/headless.h"
#include "raster/span_pool.h"
#include "test_support.h"

namespace {

const AppSettings two_threads = {2, SCREEN_WIDTH, SCREEN_HEIGHT, 0, LIGHT_FROM_FILE, {}};

void* refuse_memory(void*, size_t) { return nullptr; }

std::string last_line(const std::string& text) {
    size_t end = text.size() && text.back() == '\n' ? text.size() - 1 : text.size();
    size_t start = text.rfind('\n', end ? end - 1 : 0);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

struct MemoryCase {
    const char* name;
    int span_pool_refuses;  // every span pool allocation fails
    int surfaces;           // headless_fail_surfaces: 0, 1 (refused) or PLATFORM_NO_MEMORY
    StartupResult result;
    const char* log_last;   // the last line of Engine.log
    const char* says;       // in the line on stderr
};

const MemoryCase memory_cases[] = {
    {"span lists", 1, 0, STARTUP_MEMORY, "Init engine ...", "varnel: not enough memory for the span lists (400 x 300)"},
    {"display surfaces", 0, PLATFORM_NO_MEMORY, STARTUP_MEMORY, "DDraw is not running..",
     "varnel: not enough memory for the display surfaces (400 x 300)"},
    {"display refused", 0, 1, STARTUP_NO_DISPLAY, "DDraw is not running..", "the display cannot be set up"},
};

// One case per process: the scenes a start-up loads live until the process
// ends, and only the latest start-up's stay reachable.
class MemoryStep : public ::testing::TestWithParam<MemoryCase> {};

TEST_P(MemoryStep, StopsStartUpWithItsLineAndGroup) {
    const MemoryCase& c = GetParam();
    DemoCopy data(std::string("memory_startup_") + std::to_string(&c - memory_cases));
    ASSERT_TRUE(data.copied());
    headless_configure(1, nullptr, 0);
    platform_use(headless_backend());
    headless_fail_surfaces(c.surfaces);
    if (c.span_pool_refuses) span_pool_set_allocator(refuse_memory);
    testing::internal::CaptureStderr();
    const StartupResult result = app_startup(&two_threads);
    const std::string err = testing::internal::GetCapturedStderr();
    span_pool_set_allocator(nullptr);
    headless_fail_surfaces(0);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(last_line(read_file("Engine.log")), c.log_last);
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_EQ(frame_threads(), 1 + (c.span_pool_refuses ? 0 : 1));  // no thread for rows that are not there
    app_shutdown();
}

INSTANTIATE_TEST_SUITE_P(MemoryStartup, MemoryStep, ::testing::ValuesIn(memory_cases),
                         [](const ::testing::TestParamInfo<MemoryCase>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) ch = ch == ' ' ? '_' : ch;
                             return name;
                         });

// The light view's rows are made before the first frame when asked for;
// without memory that is 0, and the view drawn anyway is black but for the
// memory warning, never a crash.
TEST(MemoryStartup, LightViewWithoutMemoryIsRefusedAndDrawnAsTheWarning) {
    DemoCopy data("memory_light_view");
    ASSERT_TRUE(data.copied());
    headless_configure(1, nullptr, 0);
    platform_use(headless_backend());
    ASSERT_EQ(app_startup(&two_threads), STARTUP_OK);
    EXPECT_EQ(frame_view_prepare(FRAME_VIEW_FRAME), 1);  // needs nothing of its own
    span_pool_set_allocator(refuse_memory);
    EXPECT_EQ(frame_view_prepare(FRAME_VIEW_LIGHT), 0);
    Message m;
    while (platform_next_message(&m) && m.type != MSG_TIMER) window_proc(m.type, m.key);
    window_proc(m.type, m.key);
    std::vector<uint32_t> out((size_t)SCREEN_WIDTH * SCREEN_HEIGHT, 0x123456u);
    ASSERT_EQ(frame_draw_view(FRAME_VIEW_LIGHT, out.data()), 1);
    span_pool_set_allocator(nullptr);
    long lit = 0;
    for (uint32_t p : out) lit += p != 0;
    EXPECT_GT(lit, 0);                                  // the warning's text
    EXPECT_LT(lit, (long)out.size() / 20);              // and nothing else
    EXPECT_EQ(frame_view_prepare(FRAME_VIEW_LIGHT), 1);  // memory again: made now
    app_shutdown();
}

// The size check asks for what the views need on top of the frame's own
// (whether it is refused under a limit is the sweep's to see).
TEST(MemoryStartup, SizeCheckCountsTheViewsBuffers) {
    const size_t pixels = (size_t)7680 * 4320;
    EXPECT_GE(frame_view_bytes(FRAME_VIEW_LIGHT, 7680, 4320), pixels * 4 + frame_rows_bytes(7680, 4320));
    EXPECT_EQ(frame_view_bytes(FRAME_VIEW_SPANS, 7680, 4320), 0u);
    EXPECT_GE(app_views_bytes(7680, 4320), frame_view_bytes(FRAME_VIEW_LIGHT, 7680, 4320));
    EXPECT_GT(frame_rows_bytes(7680, 4320), pixels);  // hints, floors and pools: not a rounding error
}

}  // namespace
