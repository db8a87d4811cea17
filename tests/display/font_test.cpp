#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "display/bmp.h"
#include "display/font.h"
#include "test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct BmpFields {
    int32_t width;
    int32_t height;            // stored as given; rows are written bottom-up for |height|
    uint16_t bit_count = 24;
    uint32_t compression = 0;
    uint32_t info_size = 40;
    uint32_t offset = 54;      // gap bytes are added between the headers and the rows
};

void put(Bytes* b, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; i++) (*b)[at + i] = (uint8_t)(v >> (8 * i));
}

// A BMP made byte by byte; pixels are 0x00RRGGBB, top row first.
Bytes make_bmp(const BmpFields& f, const std::vector<uint32_t>& pixels) {
    int32_t rows = f.height < 0 ? -f.height : f.height;
    size_t row_size = ((size_t)f.width * 3 + 3) & ~(size_t)3;
    Bytes b(f.offset, 0);
    b[0] = 'B';
    b[1] = 'M';
    put(&b, 2, (uint32_t)(f.offset + row_size * rows), 4);
    put(&b, 10, f.offset, 4);
    put(&b, 14, f.info_size, 4);
    put(&b, 18, (uint32_t)f.width, 4);
    put(&b, 22, (uint32_t)f.height, 4);
    put(&b, 26, 1, 2);
    put(&b, 28, f.bit_count, 2);
    put(&b, 30, f.compression, 4);
    for (int32_t y = rows - 1; y >= 0 && !pixels.empty(); y--) {
        Bytes row(row_size, 0xEE);  // pad bytes are not significant
        for (int32_t x = 0; x < f.width; x++) {
            uint32_t p = pixels[(size_t)y * f.width + x];
            row[3 * x] = (uint8_t)p;
            row[3 * x + 1] = (uint8_t)(p >> 8);
            row[3 * x + 2] = (uint8_t)(p >> 16);
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

void write_bytes(const std::string& name, const Bytes& b) { write_file(name, std::string(b.begin(), b.end())); }

std::vector<uint32_t> picture(int width, int height) {
    std::vector<uint32_t> p((size_t)width * height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) p[(size_t)y * width + x] = (uint32_t)(x * 5) << 16 | (uint32_t)(y * 9) << 8 | (uint32_t)(x ^ y);
    return p;
}

TEST(BmpReader, SkipsRowPaddingForWidths37To40) {
    for (int w = 37; w <= 40; w++) {
        std::vector<uint32_t> pixels = picture(w, 5);
        Bytes file = make_bmp({w, 5}, pixels);
        RgbImage* image = bmp_decode(file.data(), file.size());
        ASSERT_NE(image, nullptr) << bmp_error();
        EXPECT_EQ(image->width, w);
        EXPECT_EQ(image->height, 5);
        EXPECT_EQ(std::vector<uint32_t>(image->pixels, image->pixels + w * 5), pixels) << w;
        rgb_image_free(image);
    }
    // Rows start at bfOffBits, as after a larger information header.
    BmpFields bigger = {3, 2};
    bigger.info_size = 124;
    bigger.offset = 138;
    Bytes file = make_bmp(bigger, picture(3, 2));
    RgbImage* image = bmp_decode(file.data(), file.size());
    ASSERT_NE(image, nullptr) << bmp_error();
    EXPECT_EQ(std::vector<uint32_t>(image->pixels, image->pixels + 6), picture(3, 2));
    rgb_image_free(image);
}

// BMP files ImageMagick writes (bare and extended headers) read as
// ImageMagick reads them.
TEST(BmpReader, MatchesImageMagick) {
    if (std::system("convert -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ImageMagick";
    ScratchDir dir("bmp_magick");
    ASSERT_TRUE(dir.ok());
    for (int w = 37; w <= 40; w++)
        for (const char* prefix : {"BMP3:", "BMP:"}) {
            SCOPED_TRACE(std::string(prefix) + std::to_string(w));
            std::vector<uint32_t> pixels = picture(w, 9);
            std::string rgb;
            for (uint32_t p : pixels) rgb += {(char)(p >> 16), (char)(p >> 8), (char)p};
            write_file("in.rgb", rgb);
            std::string size = std::to_string(w) + "x9";
            ASSERT_EQ(std::system(("convert -size " + size + " -depth 8 rgb:in.rgb -type TrueColor " + prefix + "out.bmp").c_str()), 0);
            ASSERT_EQ(std::system("convert out.bmp -depth 8 rgb:back.rgb"), 0);
            std::string back = read_file("back.rgb");
            RgbImage* image = bmp_read("out.bmp");
            ASSERT_NE(image, nullptr) << bmp_error();
            ASSERT_EQ(back.size(), (size_t)w * 9 * 3);
            int wrong = 0;
            for (size_t i = 0; i < (size_t)w * 9; i++) {
                uint32_t want = (uint32_t)(uint8_t)back[3 * i] << 16 | (uint32_t)(uint8_t)back[3 * i + 1] << 8 |
                                (uint8_t)back[3 * i + 2];
                wrong += image->pixels[i] != want;
            }
            EXPECT_EQ(wrong, 0);
            rgb_image_free(image);
        }
}

TEST(BmpReader, RejectsDamagedFiles) {
    struct Case {
        const char* why;
        BmpFields fields;
    };
    BmpFields negative = {4, -4}, deep = {4, 4}, palette = {4, 4}, rle = {4, 4}, fields = {4, 4},
              huge = {0x7FFFFFFF, 0x7FFFFFFF}, wide = {70000, 70000}, empty = {0, 4}, flat = {4, 0},
              backwards = {-4, 4}, core = {4, 4};
    deep.bit_count = 32;
    palette.bit_count = 8;
    rle.compression = 1;
    fields.compression = 3;
    core.info_size = 12;
    std::vector<Case> cases = {{"negative height", negative}, {"32 bits", deep},   {"8 bits", palette},
                               {"compressed", rle},           {"bit fields", fields}, {"overflowing size", huge},
                               {"4.9e9 pixels", wide},        {"width 0", empty},   {"height 0", flat},
                               {"negative width", backwards}, {"12-byte header", core}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Bytes file = make_bmp(c.fields, {});
        file.resize(file.size() + 4096, 0);  // data enough for the small ones
        EXPECT_EQ(bmp_decode(file.data(), file.size()), nullptr);
        EXPECT_STRNE(bmp_error(), "");
    }
    Bytes file = make_bmp({5, 3}, picture(5, 3));
    file[0] = 'P';
    EXPECT_EQ(bmp_decode(file.data(), file.size()), nullptr);
    // Every prefix of a valid file, copied to exactly its length.
    file[0] = 'B';
    for (size_t n = 0; n < file.size(); n++) {
        uint8_t* cut = (uint8_t*)std::malloc(n ? n : 1);
        std::memcpy(cut, file.data(), n);
        EXPECT_EQ(bmp_decode(cut, n), nullptr) << n;
        std::free(cut);
    }
    EXPECT_EQ(bmp_read("no such file.bmp"), nullptr);
}

// The atlas: every cell pixel a distinct colour, with a black (transparent)
// diagonal pattern; the space cell entirely black.
uint32_t atlas_pixel(int x, int y) {
    int i = x % GLYPH_WIDTH, j = y % GLYPH_HEIGHT;
    if (y < GLYPH_HEIGHT && x < GLYPH_WIDTH) return 0;  // the space
    if ((i + j) % 5 == 0) return 0;
    return 0x00102030u + (uint32_t)x * 0x010000u + (uint32_t)y * 0x000301u;
}

const int CLIP_W = 60, CLIP_H = 40, GUARD = 64;
const uint32_t sentinel = 0xDEADBEEFu;

struct FontFixture : ::testing::Test {
    ScratchDir dir{"font"};
    std::vector<uint32_t> surface;  // CLIP_W x CLIP_H, then GUARD sentinel words

    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        write_atlas(176, 78);
        ASSERT_EQ(font_init(CLIP_W, CLIP_H), 1) << bmp_error();
        clear(0);
    }
    void TearDown() override { font_free(); }
    void write_atlas(int w, int h) {
        std::vector<uint32_t> pixels((size_t)w * h);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) pixels[(size_t)y * w + x] = atlas_pixel(x, y);
        write_bytes("Font.bmp", make_bmp({w, h}, pixels));
    }
    void clear(uint32_t colour) {
        surface.assign(CLIP_W * CLIP_H, colour);
        surface.resize(CLIP_W * CLIP_H + GUARD, sentinel);
    }
    uint32_t at(int x, int y) const { return surface[(size_t)y * CLIP_W + x]; }
    int guard_intact() const {
        for (int i = 0; i < GUARD; i++)
            if (surface[CLIP_W * CLIP_H + i] != sentinel) return 0;
        return 1;
    }
    static int cell_x(char c) { return (c & 15) * GLYPH_WIDTH; }
    static int cell_y(char c) { return ((c - 32) / 16) * GLYPH_HEIGHT; }
};

TEST_F(FontFixture, AdditiveOnBlackReproducesTheCellsAndOnWhiteChangesNothing) {
    const char* text = "12th Frame";
    draw_text_additive(text, 10, 10, surface.data());
    int wrong = 0;
    for (int k = 0; text[k]; k++)
        for (int j = 0; j < GLYPH_HEIGHT; j++)
            for (int i = 0; i < GLYPH_WIDTH && 10 + 11 * k + i < CLIP_W; i++)
                wrong += at(10 + 11 * k + i, 10 + j) != atlas_pixel(cell_x(text[k]) + i, cell_y(text[k]) + j);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(at(9, 10), 0u);
    EXPECT_EQ(at(10, 9), 0u);
    EXPECT_TRUE(guard_intact());

    clear(0x00FFFFFF);
    draw_text_additive(text, 10, 10, surface.data());
    for (int i = 0; i < CLIP_W * CLIP_H; i++) ASSERT_EQ(surface[i], 0x00FFFFFFu) << i;
}

TEST_F(FontFixture, AdditiveSaturatesEachChannelAndClearsTheTopByte) {
    clear(0xFFF0800Fu);
    draw_glyph_additive(20, 20, 'A', surface.data());
    uint32_t a = atlas_pixel(cell_x('A') + 1, cell_y('A'));  // a non-black pixel of the cell
    ASSERT_NE(a, 0u);
    uint32_t d = 0xFFF0800Fu, want = 0;
    for (int s = 0; s < 24; s += 8) {
        uint32_t c = ((a >> s) & 0xFF) + ((d >> s) & 0xFF);
        want |= (c > 255 ? 255 : c) << s;
    }
    EXPECT_EQ(at(21, 20), want);
    EXPECT_EQ(at(20, 20), 0x00F0800Fu);  // black atlas pixel: added nothing, top byte cleared
    EXPECT_EQ(at(19, 20), 0xFFF0800Fu);  // outside the glyph
}

TEST_F(FontFixture, OpaqueKeepsTheDestinationUnderBlackPixels) {
    clear(0x00445566);
    draw_text(" B", 5, 5, surface.data());
    for (int j = 0; j < GLYPH_HEIGHT; j++)
        for (int i = 0; i < GLYPH_WIDTH; i++) {
            EXPECT_EQ(at(5 + i, 5 + j), 0x00445566u);  // the space draws nothing
            uint32_t a = atlas_pixel(cell_x('B') + i, cell_y('B') + j);
            EXPECT_EQ(at(16 + i, 5 + j), a ? a : 0x00445566u);
        }
}

TEST_F(FontFixture, ClipsColumnZeroRowZeroAndTheFarEdges) {
    clear(0);
    draw_glyph(0, 0, 'C', surface.data());
    for (int k = 0; k < GLYPH_WIDTH; k++) {
        EXPECT_EQ(at(k, 0), 0u);  // top row lost
        EXPECT_EQ(at(0, k), 0u);  // first column lost
    }
    EXPECT_EQ(at(1, 1), atlas_pixel(cell_x('C') + 1, cell_y('C') + 1));

    // Past the right and bottom edges: cut at CLIP_W - 1 and CLIP_H - 1, no wrap.
    clear(0);
    draw_text("WWWWWW", CLIP_W - 20, CLIP_H - 5, surface.data());
    draw_glyph_additive(CLIP_W - 3, CLIP_H - 3, 'W', surface.data());
    for (int y = 0; y < CLIP_H - 5; y++)
        for (int x = 0; x < CLIP_W - 20; x++) ASSERT_EQ(at(x, y), 0u);
    EXPECT_EQ(at(CLIP_W - 1, CLIP_H - 5), atlas_pixel(cell_x('W') + 8, cell_y('W')));
    EXPECT_TRUE(guard_intact());

    // Far outside on every side: nothing at all.
    clear(0);
    for (int p : {-1000, -12, CLIP_W, 1 << 30})
        for (int q : {-1000, -14, CLIP_H, -(1 << 30)}) {
            draw_glyph(p, q, 'X', surface.data());
            draw_glyph_additive(q, p, 'X', surface.data());
        }
    for (int i = 0; i < CLIP_W * CLIP_H; i++) ASSERT_EQ(surface[i], 0u);
    EXPECT_TRUE(guard_intact());
}

TEST_F(FontFixture, LineFeedStartsAgainAtTheTextsColumn) {
    draw_text("DE\nF", 3, 2, surface.data());
    EXPECT_EQ(at(3 + 1, 2 + 14), atlas_pixel(cell_x('F') + 1, cell_y('F')));
    EXPECT_EQ(at(3 + 11 + 1, 2), atlas_pixel(cell_x('E') + 1, cell_y('E')));
    EXPECT_EQ(at(3 + 11 + 1, 2 + 14), 0u);
}

// Codes outside 32..127 have no cell: nothing is drawn and, with an atlas of
// exactly 176 x 78, nothing outside it is read (AddressSanitizer).
TEST_F(FontFixture, CharactersWithoutACellDrawNothing) {
    clear(0x00010101);
    const char odd[] = {1, 9, 13, 31, (char)0x80, (char)0xC1, (char)0xFF, 0};
    draw_text(odd, 12, 12, surface.data());
    draw_text_additive(odd, 12, 12, surface.data());
    for (int i = 0; i < CLIP_W * CLIP_H; i++) ASSERT_EQ(surface[i], 0x00010101u);

    // An atlas with only the first row of cells: the rows it lacks draw nothing.
    font_free();
    write_atlas(176, 13);
    ASSERT_EQ(font_init(CLIP_W, CLIP_H), 1);
    draw_text("A~", 12, 12, surface.data());
    for (int i = 0; i < CLIP_W * CLIP_H; i++) ASSERT_EQ(surface[i], 0x00010101u);
    draw_glyph(12, 12, '!', surface.data());
    EXPECT_EQ(at(13, 12), atlas_pixel(cell_x('!') + 1, 0));
}

TEST_F(FontFixture, NoAtlasDrawsNothing) {
    font_free();
    std::remove("Font.bmp");
    EXPECT_EQ(font_init(CLIP_W, CLIP_H), 0);
    draw_text("Hello", 5, 5, surface.data());
    draw_text_additive("Hello", 5, 5, surface.data());
    for (int i = 0; i < CLIP_W * CLIP_H; i++) ASSERT_EQ(surface[i], 0u);
}

}  // namespace
