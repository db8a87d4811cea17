// libFuzzer entry for the BMP reader of the font atlas.
#include <cstddef>
#include <cstdint>

#include "display/font.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rgb_image_free(bmp_decode(data, size));
    return 0;
}
