#include <gtest/gtest.h>

#include <cstring>

#include "texture/image.h"
#include "texture/tga.h"
#include "tga_files.h"

namespace {

uint32_t red(uint32_t p) { return p & 0xFF; }
uint32_t green(uint32_t p) { return (p >> 8) & 0xFF; }
uint32_t blue(uint32_t p) { return (p >> 16) & 0xFF; }

// A picture with smooth areas, edges and long flat runs (for run packets
// longer than 128 pixels and packets that stop at row ends).
Bytes test_picture(int width, int height, int channels) {
    Bytes b;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            bool flat = y % 3 == 1;
            uint8_t r = flat ? 200 : (uint8_t)(x * 7 + y * 3);
            uint8_t g = flat ? 40 : (uint8_t)((x / 4) * 16 + y);
            uint8_t bl = flat ? 90 : (uint8_t)(255 - x * 5);
            b.push_back(r);
            b.push_back(g);
            b.push_back(bl);
            if (channels == 4) b.push_back((uint8_t)(x * 11 + y * 29));
        }
    return b;
}

struct MagickVariant {
    const char* name;
    const char* options;  // convert options for writing the TGA
    int input_alpha;      // feed an RGBA picture and compare alpha too
    int five_bit;         // 16-bit file: compare the top 5 bits of each channel
    int indexed;          // the indexed reader takes it as well
    int type;             // image type byte the file must carry
};

const MagickVariant magick_variants[] = {
    {"mapped", "-type Palette", 0, 0, 1, 1},
    {"mapped_rle", "-type Palette -compress RLE", 0, 0, 1, 9},
    {"mapped_top", "-type Palette -orient TopLeft -compress RLE", 0, 0, 1, 9},
    {"grey", "-type Grayscale", 0, 0, 1, 3},
    {"grey_rle", "-type Grayscale -compress RLE", 0, 0, 1, 11},
    {"true24", "-type TrueColor", 0, 0, 0, 2},
    {"true24_rle", "-type TrueColor -compress RLE", 0, 0, 0, 10},
    {"true24_top", "-type TrueColor -orient TopLeft", 0, 0, 0, 2},
    {"true32", "-type TrueColorAlpha", 1, 0, 0, 2},
    {"true32_rle", "-type TrueColorAlpha -compress RLE", 1, 0, 0, 10},
    {"true16", "-depth 5 -type TrueColor", 0, 1, 0, 2},
    {"true16_rle", "-depth 5 -type TrueColor -compress RLE", 0, 1, 0, 10},
};

// Every variant ImageMagick writes decodes to what ImageMagick itself reads
// from the same file, pixel for pixel, in both readers where they apply.
TEST(TgaReader, MatchesImageMagickForEveryKindAndPacking) {
    if (!have_convert()) GTEST_SKIP() << "ImageMagick convert is not installed";
    ScratchDir dir("tga_magick");
    ASSERT_TRUE(dir.ok());
    const int sizes[][2] = {{37, 23}, {300, 5}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        write_ppm("in.ppm", w, h, test_picture(w, h, 3));
        write_file("in.rgba", std::string((const char*)test_picture(w, h, 4).data(), (size_t)w * h * 4));
        for (const MagickVariant& v : magick_variants) {
            SCOPED_TRACE(std::string(v.name) + " " + std::to_string(w) + "x" + std::to_string(h));
            std::string file = std::string(v.name) + ".tga";
            std::string input = v.input_alpha
                                    ? "-size " + std::to_string(w) + "x" + std::to_string(h) + " -depth 8 rgba:in.rgba"
                                    : std::string("in.ppm");
            ASSERT_TRUE(run("convert " + input + " " + v.options + " " + file));
            ASSERT_EQ(read_file(file)[2], v.type) << "ImageMagick wrote another image type";
            Bytes expect = magick_decode(file, v.input_alpha ? "rgba" : "rgb");
            const size_t channels = v.input_alpha ? 4 : 3;
            ASSERT_EQ(expect.size(), (size_t)w * h * channels);

            RgbImage* image = tga_read_rgb(file.c_str());
            ASSERT_NE(image, nullptr) << tga_error();
            ASSERT_EQ(image->width, w);
            ASSERT_EQ(image->height, h);
            int mismatches = 0;
            for (size_t i = 0; i < (size_t)w * h; i++) {
                uint32_t p = image->pixels[i];
                uint32_t got[4] = {red(p), green(p), blue(p), p >> 24};
                for (size_t c = 0; c < channels; c++) {
                    uint32_t want = expect[i * channels + c];
                    // 5-bit channels: ours are c * 8, ImageMagick's c * 255 / 31.
                    if (v.five_bit ? (got[c] >> 3) != (want >> 3) || (got[c] & 7) : got[c] != want)
                        mismatches++;
                }
                if (!v.input_alpha && (p >> 24) != 0) mismatches++;
            }
            EXPECT_EQ(mismatches, 0);
            rgb_image_free(image);

            IndexedImage* indexed = tga_read_indexed(file.c_str());
            if (!v.indexed) {
                EXPECT_EQ(indexed, nullptr);
                continue;
            }
            ASSERT_NE(indexed, nullptr) << tga_error();
            mismatches = 0;
            for (size_t i = 0; i < (size_t)w * h; i++) {
                uint32_t c = indexed->palette[indexed->pixels[i]];  // 0x00RRGGBB
                if (((c >> 16) & 0xFF) != expect[i * 3] || ((c >> 8) & 0xFF) != expect[i * 3 + 1] ||
                    (c & 0xFF) != expect[i * 3 + 2])
                    mismatches++;
            }
            EXPECT_EQ(mismatches, 0);
            indexed_image_free(indexed);
        }
    }
}

TEST(TgaReader, TrueColourPixelOrderRawAndRunLength) {
    // One pixel blue 16, green 32, red 48, then a run of it: same value both ways.
    Bytes raw = tga_header(2, 2, 1, 24, 0x20);
    append(&raw, Bytes{16, 32, 48, 16, 32, 48});
    Bytes rle = tga_header(10, 2, 1, 24, 0x20);
    append(&rle, Bytes{0x81, 16, 32, 48});
    for (const Bytes& file : {raw, rle}) {
        RgbImage* image = tga_decode_rgb(file.data(), file.size());
        ASSERT_NE(image, nullptr) << tga_error();
        EXPECT_EQ(image->pixels[0], 0x00102030u);
        EXPECT_EQ(image->pixels[1], 0x00102030u);
        rgb_image_free(image);
    }
    // 32-bit: alpha above blue; 16-bit: 5-bit channels times 8, bit 15 dropped.
    Bytes deep = tga_header(2, 1, 1, 32, 0);
    append(&deep, Bytes{1, 2, 3, 0xC4});
    RgbImage* image = tga_decode_rgb(deep.data(), deep.size());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[0], 0xC4010203u);
    rgb_image_free(image);
    Bytes shallow = tga_header(2, 1, 1, 16, 0);
    uint16_t v = 0x8000 | (3 << 10) | (17 << 5) | 31;  // red 3, green 17, blue 31
    append(&shallow, Bytes{(uint8_t)v, (uint8_t)(v >> 8)});
    image = tga_decode_rgb(shallow.data(), shallow.size());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixels[0], (31u * 8) << 16 | (17u * 8) << 8 | 3u * 8);
    rgb_image_free(image);
}

TEST(TgaReader, ColourMapEntrySizesAndRowOrder) {
    // Two rows stored bottom first (descriptor 0) with a 16-bit and a 32-bit map.
    for (int bits : {16, 32}) {
        Bytes b = tga_header(1, 2, 2, 8, 0, 2, bits, 3);
        append(&b, Bytes{'i', 'd', '!'});
        if (bits == 16)
            append(&b, Bytes{0x1F, 0x00, 0x00, 0x7C});  // blue 31; red 31
        else
            append(&b, Bytes{0xF8, 0, 0, 9, 0, 0, 0xF8, 9});
        append(&b, Bytes{0, 0, 1, 0});  // bottom row 0 0, top row 1 0
        RgbImage* rgb = tga_decode_rgb(b.data(), b.size());
        ASSERT_NE(rgb, nullptr) << tga_error();
        EXPECT_EQ(rgb->pixels[0], 0x000000F8u);  // top-left: red
        EXPECT_EQ(rgb->pixels[2], 0x00F80000u);  // bottom-left: blue
        rgb_image_free(rgb);
        IndexedImage* indexed = tga_decode_indexed(b.data(), b.size());
        ASSERT_NE(indexed, nullptr);
        EXPECT_EQ(indexed->palette_count, 2);
        EXPECT_EQ(indexed->palette[0], 0x000000F8u);  // 0x00RRGGBB: blue
        EXPECT_EQ(indexed->palette[1], 0x00F80000u);
        EXPECT_EQ(indexed->pixels[0], 1);
        EXPECT_EQ(indexed->pixels[2], 0);
        indexed_image_free(indexed);
    }
}

TEST(TgaReader, GreyHasTheFullRampAndMissingColoursAreBlack) {
    Bytes grey = tga_header(3, 2, 1, 8, 0x20);
    append(&grey, Bytes{0, 255});
    IndexedImage* indexed = tga_decode_indexed(grey.data(), grey.size());
    ASSERT_NE(indexed, nullptr);
    EXPECT_EQ(indexed->palette_count, 256);
    for (uint32_t i = 0; i < 256; i++) EXPECT_EQ(indexed->palette[i], i * 0x010101u);
    indexed_image_free(indexed);

    // Index 7 lies past a 2-entry map: no colour, so black.
    Bytes b = tga_indexed_file(2, 1, {0x00FFFFFF, 0x00123456}, Bytes{7, 1});
    RgbImage* rgb = tga_decode_rgb(b.data(), b.size());
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(rgb->pixels[0], 0u);
    EXPECT_EQ(rgb->pixels[1], 0x00563412u);
    rgb_image_free(rgb);
}

TEST(TgaReader, RunLengthPacketsAndOverlongPackets) {
    uint8_t row[6];
    // 0x83: one value four times; 0x02: three values follow.
    Bytes packets{0x83, 9, 0x01, 1, 2};
    const uint8_t* at = packets.data();
    ASSERT_EQ(rle_decode_row(row, 6, &at, packets.data() + packets.size()), 1);
    EXPECT_EQ(Bytes(row, row + 6), (Bytes{9, 9, 9, 9, 1, 2}));
    EXPECT_EQ(at, packets.data() + packets.size());

    // Packets that run past the row end are consumed whole, their excess
    // dropped, and the next row starts with a new packet.
    Bytes file = tga_header(9, 3, 3, 8, 0x20, 4);
    append(&file, Bytes(12, 0));
    append(&file, Bytes{0x84, 1,            // 5 copies into a 3-pixel row
                        0x04, 2, 3, 2, 3, 2,  // 5 raw values into a 3-pixel row
                        0x82, 3});
    IndexedImage* image = tga_decode_indexed(file.data(), file.size());
    ASSERT_NE(image, nullptr) << tga_error();
    EXPECT_EQ(Bytes(image->pixels, image->pixels + 9), (Bytes{1, 1, 1, 2, 3, 2, 3, 3, 3}));
    indexed_image_free(image);

    uint32_t wide[2];
    Bytes true_packets{0x85, 1, 2, 3};
    at = true_packets.data();
    ASSERT_EQ(rle_decode_row32(wide, 2, 3, &at, true_packets.data() + true_packets.size()), 1);
    EXPECT_EQ(wide[1], 0x00010203u);
    at = true_packets.data();
    EXPECT_EQ(rle_decode_row32(wide, 2, 3, &at, true_packets.data() + 3), 0);  // value cut off
}

TEST(TgaReader, RejectsBadHeaders) {
    struct Case {
        const char* why;
        Bytes file;
    };
    Bytes pixels(64, 0);
    std::vector<Case> cases = {
        {"colour map of 257 entries", tga_header(1, 2, 2, 8, 0, 257)},
        {"no image data (type 0)", tga_header(0, 2, 2, 8, 0)},
        {"type 4", tga_header(4, 2, 2, 8, 0)},
        {"type 7", tga_header(7, 2, 2, 8, 0)},
        {"width 0", tga_header(3, 0, 2, 8, 0)},
        {"height 0", tga_header(3, 2, 0, 8, 0)},
        {"width 16385", tga_header(3, 16385, 1, 8, 0)},
        {"height 65535", tga_header(3, 1, 65535, 8, 0)},
        {"colour map entries of 8 bits", tga_header(1, 2, 2, 8, 0, 4, 8)},
        {"true colour of 8 bits", tga_header(2, 2, 2, 8, 0)},
        {"colour-mapped with 16-bit pixels", tga_header(1, 2, 2, 16, 0, 2)},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.why);
        append(&c.file, Bytes(4096, 0));  // plenty of data: the header alone must decide
        EXPECT_EQ(tga_decode_rgb(c.file.data(), c.file.size()), nullptr);
        EXPECT_EQ(tga_decode_indexed(c.file.data(), c.file.size()), nullptr);
        EXPECT_STRNE(tga_error(), "");
    }
    Bytes true_colour = tga_header(2, 2, 2, 24, 0);
    append(&true_colour, Bytes(12, 0));
    EXPECT_EQ(tga_decode_indexed(true_colour.data(), true_colour.size()), nullptr);
    EXPECT_EQ(tga_read_rgb("no such file.tga"), nullptr);
    EXPECT_STREQ(tga_error(), "cannot open file");
}

// Every prefix of a valid file is rejected, without reading past its end.
TEST(TgaReader, RejectsEveryTruncation) {
    Bytes mapped = tga_indexed_file(5, 3, {1, 2, 3}, Bytes(15, 2));
    Bytes rle = tga_header(10, 5, 2, 24, 0x20, 0, 0, 2);
    append(&rle, Bytes{'x', 'y', 0x01, 4, 5, 6, 7, 8, 9, 0x82, 1, 1, 1, 0x84, 1, 2, 3});
    Bytes deep = tga_header(2, 3, 2, 32, 0);
    append(&deep, Bytes(24, 7));
    for (const Bytes& full : {mapped, rle, deep}) {
        RgbImage* whole = tga_decode_rgb(full.data(), full.size());
        ASSERT_NE(whole, nullptr) << tga_error();
        rgb_image_free(whole);
        for (size_t n = 0; n < full.size(); n++) {
            // A copy of exactly n bytes, so AddressSanitizer sees any overread.
            uint8_t* cut = (uint8_t*)std::malloc(n ? n : 1);
            std::memcpy(cut, full.data(), n);
            EXPECT_EQ(tga_decode_rgb(cut, n), nullptr) << n << " bytes";
            EXPECT_EQ(tga_decode_indexed(cut, n), nullptr) << n << " bytes";
            std::free(cut);
        }
    }
}

}  // namespace
