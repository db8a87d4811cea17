// libFuzzer entry for the TGA readers: both decoders on the same bytes.
#include <cstddef>
#include <cstdint>

#include "texture/tga_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rgb_image_free(tga_decode_rgb(data, size));
    indexed_image_free(tga_decode_indexed(data, size));
    return 0;
}
