// Approved-image checks: a rendered frame is compared bit for bit with a
// PNG committed under tests/approved/.
//
// On a mismatch (or a missing approved image) the actual frame and a
// difference image are written into the build tree,
//   <VARNEL_TEST_TMP>/approved/<name>.actual.png
//   <VARNEL_TEST_TMP>/approved/<name>.diff.png   (differing pixels red, the rest dimmed)
// and the check fails. To approve the frames as they are now rendered, run
//   cmake --build --preset release --target approve-frames
// which runs the approved-frame tests with VARNEL_APPROVE=1: every frame is
// then written over its approved image instead of being compared.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "png_write.h"

namespace approved {

// width x height 0x00RRGGBB words; empty when the file is missing or not an
// 8-bit RGB PNG of that layout.
inline std::vector<uint32_t> read_png(const std::string& path, int* width, int* height) {
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    std::vector<uint32_t> pixels;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return pixels;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return pixels;
    }
    *width = (int)image.width;
    *height = (int)image.height;
    pixels.resize((size_t)image.width * image.height);
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = (uint32_t)rgb[3 * i] << 16 | (uint32_t)rgb[3 * i + 1] << 8 | rgb[3 * i + 2];
    return pixels;
}

inline bool approving() {
    const char* v = std::getenv("VARNEL_APPROVE");
    return v && v[0] == '1';
}

// Red where the frames differ (or the expected one is missing), the actual
// frame at a quarter brightness elsewhere.
inline std::vector<uint32_t> difference(const std::vector<uint32_t>& actual,
                                        const std::vector<uint32_t>& expected) {
    std::vector<uint32_t> diff(actual.size());
    for (size_t i = 0; i < actual.size(); i++) {
        bool same = i < expected.size() && expected[i] == actual[i];
        diff[i] = same ? (actual[i] >> 2) & 0x003F3F3Fu : 0x00FF0000u;
    }
    return diff;
}

// Empty when `frame` equals the approved image `name`.png, else a message
// naming what differs and where the actual and difference images went.
// frame words must be 0x00RRGGBB: a set top byte cannot be stored and fails.
inline std::string check(const char* name, const std::vector<uint32_t>& frame, int width, int height) {
    std::string expected_path = std::string(VARNEL_APPROVED_DIR) + "/" + name + ".png";
    for (uint32_t p : frame)
        if (p >> 24) return std::string(name) + ": a pixel has its top byte set";
    if (approving()) {
        if (!png_write_rgb(expected_path.c_str(), frame.data(), width, height))
            return "cannot write " + expected_path;
        return "";
    }
    int ew = 0, eh = 0;
    std::vector<uint32_t> expected = read_png(expected_path, &ew, &eh);
    size_t differing = 0;
    if (ew == width && eh == height)
        for (size_t i = 0; i < frame.size(); i++) differing += expected[i] != frame[i];
    else
        differing = frame.size();
    if (differing == 0) return "";

    std::string dir = std::string(VARNEL_TEST_TMP) + "/approved";
    mkdir(VARNEL_TEST_TMP, 0755);
    mkdir(dir.c_str(), 0755);
    std::string actual_path = dir + "/" + name + ".actual.png";
    std::string diff_path = dir + "/" + name + ".diff.png";
    if (ew != width || eh != height) expected.clear();
    png_write_rgb(actual_path.c_str(), frame.data(), width, height);
    png_write_rgb(diff_path.c_str(), difference(frame, expected).data(), width, height);
    std::string why = expected.empty() ? "no approved " + std::to_string(width) + "x" +
                                             std::to_string(height) + " image " + expected_path
                                       : std::to_string(differing) + " pixels differ from " + expected_path;
    return std::string(name) + ": " + why + "; wrote " + actual_path + " and " + diff_path +
           " (approve with: cmake --build --preset release --target approve-frames)";
}

}  // namespace approved
