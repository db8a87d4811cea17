#include "asset/image_encode.h"

namespace {

const int tga_header_size = 18;
const int tga_max_packet = 128;  // pixels per packet: 7 bits of count, plus one

void put_tga_header(ByteBuffer* out, int colour_mapped, int image_type, int width, int height) {
    buffer_put_u8(out, 0);                        // no image ID
    buffer_put_u8(out, colour_mapped);            // colour map type
    buffer_put_u8(out, image_type);
    buffer_put_u16(out, 0);                       // first colour map entry
    buffer_put_u16(out, colour_mapped ? 256 : 0); // colour map length
    buffer_put_u8(out, colour_mapped ? 24 : 0);   // bits per colour map entry
    buffer_put_u16(out, 0);                       // x origin
    buffer_put_u16(out, 0);                       // y origin
    buffer_put_u16(out, (uint32_t)width);
    buffer_put_u16(out, (uint32_t)height);
    buffer_put_u8(out, 8);                        // bits per pixel
    buffer_put_u8(out, 0);                        // bottom-left origin, no alpha bits
}

// One row as TGA packets that never cross the row's end. A run of two or more
// equal values becomes a run packet; anything else collects into raw packets,
// which stop where a run of three begins (a run of two is cheaper inside a raw
// packet than as a packet of its own).
void put_rle_row(ByteBuffer* out, const uint8_t* row, int width) {
    int x = 0;
    while (x < width) {
        int run = 1;
        while (x + run < width && run < tga_max_packet && row[x + run] == row[x]) run++;
        if (run >= 2) {
            buffer_put_u8(out, 0x80u | (uint32_t)(run - 1));
            buffer_put_u8(out, row[x]);
            x += run;
            continue;
        }
        int n = 1;
        while (x + n < width && n < tga_max_packet) {
            if (x + n + 2 < width && row[x + n] == row[x + n + 1] && row[x + n] == row[x + n + 2]) break;
            n++;
        }
        buffer_put_u8(out, (uint32_t)(n - 1));
        buffer_put_bytes(out, row + x, (size_t)n);
        x += n;
    }
}

}  // namespace

int tga_encode_indexed_rle(const uint8_t* indices, int width, int height, const Rgba8* palette,
                           int palette_count, ByteBuffer* out) {
    if (width < 1 || width > 65535 || height < 1 || height > 65535) return 0;
    if (palette_count < 1 || palette_count > 256) return 0;
    out->reserve(out->size() + tga_header_size + 768 + (size_t)width * height / 2);
    put_tga_header(out, 1, 9, width, height);
    for (int i = 0; i < 256; i++) {
        Rgba8 c = i < palette_count ? palette[i] : Rgba8{0, 0, 0, 255};
        buffer_put_u8(out, c.b);
        buffer_put_u8(out, c.g);
        buffer_put_u8(out, c.r);
    }
    for (int y = height - 1; y >= 0; y--) put_rle_row(out, indices + (size_t)y * width, width);
    return 1;
}

int tga_encode_grey(const uint8_t* grey, int width, int height, ByteBuffer* out) {
    if (width < 1 || width > 65535 || height < 1 || height > 65535) return 0;
    put_tga_header(out, 0, 3, width, height);
    for (int y = height - 1; y >= 0; y--) buffer_put_bytes(out, grey + (size_t)y * width, (size_t)width);
    return 1;
}

int bmp_encode_rgb(const Rgba8* pixels, int width, int height, ByteBuffer* out) {
    if (width < 1 || width > 32767 || height < 1 || height > 32767) return 0;
    uint32_t row_bytes = ((uint32_t)width * 3 + 3) & ~3u;
    uint32_t image_bytes = row_bytes * (uint32_t)height;
    buffer_put_u8(out, 'B');
    buffer_put_u8(out, 'M');
    buffer_put_u32(out, 54 + image_bytes);  // file size
    buffer_put_u32(out, 0);                 // reserved
    buffer_put_u32(out, 54);                // offset of the pixels
    buffer_put_u32(out, 40);                // information header size
    buffer_put_u32(out, (uint32_t)width);
    buffer_put_u32(out, (uint32_t)height);  // positive: bottom-up rows
    buffer_put_u16(out, 1);                 // planes
    buffer_put_u16(out, 24);                // bits per pixel
    buffer_put_u32(out, 0);                 // no compression
    buffer_put_u32(out, image_bytes);
    buffer_put_u32(out, 2835);              // 72 dpi, in pixels per metre
    buffer_put_u32(out, 2835);
    buffer_put_u32(out, 0);                 // colours used
    buffer_put_u32(out, 0);                 // important colours
    for (int y = height - 1; y >= 0; y--) {
        const Rgba8* row = pixels + (size_t)y * width;
        for (int x = 0; x < width; x++) {
            buffer_put_u8(out, row[x].b);
            buffer_put_u8(out, row[x].g);
            buffer_put_u8(out, row[x].r);
        }
        for (uint32_t pad = (uint32_t)width * 3; pad < row_bytes; pad++) buffer_put_u8(out, 0);
    }
    return 1;
}
