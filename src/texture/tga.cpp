// TGA readers: colour-mapped, grey and true-colour images, raw or run-length.
//
// The whole file is read into memory first and decoded from there, so every
// read is checked against the end of the data and a damaged file is rejected
// with a reason instead of being read past its end.
#include "texture/tga.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "texture/image.h"

namespace {

enum {
    TGA_HEADER_SIZE = 18,
    TGA_MAX_SIDE = 16384,    // larger images are rejected before allocating
    TGA_MAX_PALETTE = 256,   // the work palette; longer colour maps are rejected
    TGA_KIND_MAPPED = 1,
    TGA_KIND_TRUE = 2,
    TGA_KIND_GREY = 3,
    TGA_RLE_BIT = 8,
    TGA_TOP_FIRST = 0x20,    // descriptor bit: the first row in the file is the top row
    RLE_RUN_BIT = 0x80,      // packet header: one value repeated (h & 0x7F) + 1 times
};

struct TgaState {
    const char* error;  // reason for the last failure, a static string
};

TgaState tga = {""};

struct ByteReader {
    const uint8_t* at;   // next byte to read
    const uint8_t* end;  // one past the last byte of the file
};

struct TgaHeader {
    int id_length;        // bytes of image ID after the header, skipped
    int image_type;       // low 3 bits the kind, bit 3 run-length
    int map_length;       // colour map entries that follow the image ID
    int map_entry_bits;   // 15, 16, 24 or 32
    int width;            // pixels per row, 1..TGA_MAX_SIDE
    int height;           // rows, 1..TGA_MAX_SIDE
    int pixel_depth;      // bits per pixel
    int descriptor;       // bit 5: top row first
};

// Colours as the file stores them (blue, green, red), one entry per palette
// slot; slots the colour map does not fill stay black.
struct WorkPalette {
    uint8_t blue[TGA_MAX_PALETTE];
    uint8_t green[TGA_MAX_PALETTE];
    uint8_t red[TGA_MAX_PALETTE];
};

int fail(const char* why) {
    tga.error = why;
    return 0;
}

int has(const ByteReader* r, size_t n) { return (size_t)(r->end - r->at) >= n; }

int u16le(const uint8_t* p) { return p[0] | (p[1] << 8); }

// 5-bit channels scaled by 8: bits 0-4 blue, 5-9 green, 10-14 red; bit 15 dropped.
uint32_t rgb15_to_bgr(int v) {
    return ((uint32_t)(v & 31) << 16 | (uint32_t)((v >> 5) & 31) << 8 | (uint32_t)((v >> 10) & 31)) * 8;
}

// True-colour pixel forms: file bytes -> 0x00BBGGRR (alpha in 24-31 for 32 bits).
uint32_t pixel_from_16(const uint8_t* p) { return rgb15_to_bgr(u16le(p)); }
uint32_t pixel_from_24(const uint8_t* p) {
    return (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | (uint32_t)p[2];
}
uint32_t pixel_from_32(const uint8_t* p) {
    return (uint32_t)p[3] << 24 | (uint32_t)p[0] << 16 | (uint32_t)p[1] << 8 | (uint32_t)p[2];
}
// Colour-mapped and grey pixels: the index itself, turned into a colour after the row.
uint32_t pixel_from_8(const uint8_t* p) { return p[0]; }

struct PixelForm {
    int bytes;                              // bytes per pixel in the file
    uint32_t (*convert)(const uint8_t* p);  // file bytes -> 32-bit slot
};

// Indexed by bytes per pixel.
const PixelForm pixel_forms[] = {
    {0, nullptr},
    {1, pixel_from_8},
    {2, pixel_from_16},
    {3, pixel_from_24},
    {4, pixel_from_32},
};
static_assert(sizeof pixel_forms / sizeof pixel_forms[0] == 5, "one form per byte count 0..4");

int read_header(ByteReader* r, TgaHeader* h) {
    if (!has(r, TGA_HEADER_SIZE)) return fail("truncated header");
    const uint8_t* p = r->at;
    h->id_length = p[0];
    h->image_type = p[2];
    h->map_length = u16le(p + 5);
    h->map_entry_bits = p[7];
    h->width = u16le(p + 12);
    h->height = u16le(p + 14);
    h->pixel_depth = p[16];
    h->descriptor = p[17];
    r->at += TGA_HEADER_SIZE;
    if (h->width == 0 || h->height == 0) return fail("empty image");
    if (h->width > TGA_MAX_SIDE || h->height > TGA_MAX_SIDE) return fail("image too large");
    if (h->map_length > TGA_MAX_PALETTE) return fail("colour map longer than 256 entries");
    if (!has(r, (size_t)h->id_length)) return fail("truncated image ID");
    r->at += h->id_length;
    return 1;
}

// Reads the colour map (whenever its length is nonzero) and, for grey
// images, replaces it with the grey ramp.
int read_palette(ByteReader* r, const TgaHeader* h, WorkPalette* palette) {
    std::memset(palette, 0, sizeof *palette);
    if (h->map_length > 0) {
        int bytes;
        switch (h->map_entry_bits) {
        case 15:
        case 16: bytes = 2; break;
        case 24: bytes = 3; break;
        case 32: bytes = 4; break;
        default: return fail("bad colour map entry size");
        }
        if (!has(r, (size_t)h->map_length * (size_t)bytes)) return fail("truncated colour map");
        for (int i = 0; i < h->map_length; i++, r->at += bytes) {
            const uint8_t* p = r->at;
            if (bytes == 2) {
                uint32_t c = rgb15_to_bgr(u16le(p));
                palette->blue[i] = (uint8_t)(c >> 16);
                palette->green[i] = (uint8_t)(c >> 8);
                palette->red[i] = (uint8_t)c;
            } else {  // blue, green, red (, alpha dropped)
                palette->blue[i] = p[0];
                palette->green[i] = p[1];
                palette->red[i] = p[2];
            }
        }
    }
    // Grey images, raw or run-length, index the grey ramp.
    if ((h->image_type & 7) == TGA_KIND_GREY)
        for (int i = 0; i < TGA_MAX_PALETTE; i++)
            palette->blue[i] = palette->green[i] = palette->red[i] = (uint8_t)i;
    return 1;
}

// The fewest file bytes that can hold the pixels: raw rows, or run-length
// rows of full 128-pixel run packets. Checked before allocating so a short
// file cannot make the reader allocate a huge image.
int pixels_fit(const ByteReader* r, const TgaHeader* h, int bytes_per_pixel) {
    size_t rows = (size_t)h->height;
    size_t need;
    if (h->image_type & TGA_RLE_BIT)
        need = rows * (size_t)((h->width + 127) / 128) * (size_t)(1 + bytes_per_pixel);
    else
        need = rows * (size_t)h->width * (size_t)bytes_per_pixel;
    return has(r, need);
}

int destination_row(const TgaHeader* h, int r) {
    return (h->descriptor & TGA_TOP_FIRST) ? r : h->height - 1 - r;
}

uint32_t palette_to_bgr(const WorkPalette* palette, uint32_t index) {
    return (uint32_t)palette->blue[index] << 16 | (uint32_t)palette->green[index] << 8 |
           (uint32_t)palette->red[index];
}

}  // namespace

namespace {

// The packet walk shared by the row decoders: every pixel takes `bytes`
// file bytes and `convert` turns them into a row element. A row starts a new
// packet; packets are decoded until at least `count` pixels have been
// produced. The part of a packet that runs past the row end is read from the
// file and dropped, so the file stays in step and nothing is written outside
// the row. 0 when the data ends first.
template <typename Pixel, typename Convert>
int decode_packets(Pixel* row, int count, int bytes, Convert convert, const uint8_t** at,
                   const uint8_t* end) {
    const uint8_t* p = *at;
    int done = 0;
    while (done < count) {
        if (p >= end) return 0;
        int h = *p++;
        int n = (h & 0x7F) + 1;
        int keep = n < count - done ? n : count - done;
        if (h & RLE_RUN_BIT) {
            if (end - p < bytes) return 0;
            Pixel v = convert(p);
            p += bytes;
            for (int i = 0; i < keep; i++) row[done + i] = v;
        } else {
            if ((end - p) / bytes < n) return 0;
            for (int i = 0; i < keep; i++) row[done + i] = convert(p + i * bytes);
            p += (size_t)n * (size_t)bytes;
        }
        done += n;
    }
    *at = p;
    return 1;
}

}  // namespace

int rle_decode_row(uint8_t* row, int count, const uint8_t** at, const uint8_t* end) {
    return decode_packets(row, count, 1, [](const uint8_t* p) { return *p; }, at, end);
}

int rle_decode_row32(uint32_t* row, int count, int bytes_per_pixel, const uint8_t** at,
                     const uint8_t* end) {
    if (bytes_per_pixel < 1 || bytes_per_pixel > 4) return 0;
    const PixelForm* form = &pixel_forms[bytes_per_pixel];
    return decode_packets(row, count, form->bytes, form->convert, at, end);
}

IndexedImage* tga_decode_indexed(const uint8_t* data, size_t size) {
    ByteReader r = {data, data + size};
    TgaHeader h;
    WorkPalette palette;
    if (!read_header(&r, &h) || !read_palette(&r, &h, &palette)) return nullptr;
    int kind = h.image_type & 7;
    if (kind != TGA_KIND_MAPPED && kind != TGA_KIND_GREY) {
        fail("not a colour-mapped or grey image");
        return nullptr;
    }
    if (h.pixel_depth > 8) {
        fail("unsupported pixel depth");
        return nullptr;
    }
    if (!pixels_fit(&r, &h, 1)) {
        fail("truncated pixel data");
        return nullptr;
    }
    IndexedImage* image = (IndexedImage*)std::calloc(1, sizeof(IndexedImage));
    if (!image) {
        fail("out of memory");
        return nullptr;
    }
    // The palette always has 256 entries so that every byte value indexes it;
    // entries past the colour map are black.
    image->palette = (uint32_t*)std::calloc(TGA_MAX_PALETTE, sizeof(uint32_t));
    image->pixels = (uint8_t*)std::malloc((size_t)h.width * (size_t)h.height);
    if (!image->palette || !image->pixels) {
        indexed_image_free(image);
        fail("out of memory");
        return nullptr;
    }
    image->palette_count = kind == TGA_KIND_GREY ? TGA_MAX_PALETTE : h.map_length;
    image->width = h.width;
    image->height = h.height;
    for (int i = 0; i < TGA_MAX_PALETTE; i++)
        image->palette[i] = (uint32_t)palette.red[i] << 16 | (uint32_t)palette.green[i] << 8 |
                            (uint32_t)palette.blue[i];

    for (int y = 0; y < h.height; y++) {
        uint8_t* row = image->pixels + (size_t)destination_row(&h, y) * (size_t)h.width;
        if (h.image_type & TGA_RLE_BIT) {
            if (!rle_decode_row(row, h.width, &r.at, r.end)) {
                indexed_image_free(image);
                fail("truncated pixel data");
                return nullptr;
            }
        } else {  // pixels_fit has checked the whole raw image
            std::memcpy(row, r.at, (size_t)h.width);
            r.at += h.width;
        }
    }
    return image;
}

RgbImage* tga_decode_rgb(const uint8_t* data, size_t size) {
    ByteReader r = {data, data + size};
    TgaHeader h;
    WorkPalette palette;
    if (!read_header(&r, &h) || !read_palette(&r, &h, &palette)) return nullptr;
    int kind = h.image_type & 7;
    int bytes;
    if (kind == TGA_KIND_MAPPED || kind == TGA_KIND_GREY) {
        if (h.pixel_depth > 8) {
            fail("unsupported pixel depth");
            return nullptr;
        }
        bytes = 1;
    } else if (kind == TGA_KIND_TRUE) {
        switch (h.pixel_depth) {
        case 15:
        case 16: bytes = 2; break;
        case 24: bytes = 3; break;
        case 32: bytes = 4; break;
        default: fail("unsupported pixel depth"); return nullptr;
        }
    } else {
        fail("bad image type");
        return nullptr;
    }
    if (!pixels_fit(&r, &h, bytes)) {
        fail("truncated pixel data");
        return nullptr;
    }
    RgbImage* image = (RgbImage*)std::calloc(1, sizeof(RgbImage));
    if (!image) {
        fail("out of memory");
        return nullptr;
    }
    image->pixels = (uint32_t*)std::malloc((size_t)h.width * (size_t)h.height * sizeof(uint32_t));
    if (!image->pixels) {
        rgb_image_free(image);
        fail("out of memory");
        return nullptr;
    }
    image->width = h.width;
    image->height = h.height;

    const PixelForm* form = &pixel_forms[bytes];
    for (int y = 0; y < h.height; y++) {
        uint32_t* row = image->pixels + (size_t)destination_row(&h, y) * (size_t)h.width;
        if (h.image_type & TGA_RLE_BIT) {
            if (!rle_decode_row32(row, h.width, bytes, &r.at, r.end)) {
                rgb_image_free(image);
                fail("truncated pixel data");
                return nullptr;
            }
        } else {  // pixels_fit has checked the whole raw image
            for (int x = 0; x < h.width; x++, r.at += bytes) row[x] = form->convert(r.at);
        }
        if (bytes == 1)
            for (int x = 0; x < h.width; x++) row[x] = palette_to_bgr(&palette, row[x]);
    }
    return image;
}

IndexedImage* tga_read_indexed(const char* file_name) {
    size_t size;
    const char* why;
    uint8_t* data = image_file_read(file_name, &size, &why);
    if (!data) {
        fail(why);
        return nullptr;
    }
    IndexedImage* image = tga_decode_indexed(data, size);
    std::free(data);
    return image;
}

RgbImage* tga_read_rgb(const char* file_name) {
    size_t size;
    const char* why;
    uint8_t* data = image_file_read(file_name, &size, &why);
    if (!data) {
        fail(why);
        return nullptr;
    }
    RgbImage* image = tga_decode_rgb(data, size);
    std::free(data);
    return image;
}

const char* tga_error() { return tga.error; }
