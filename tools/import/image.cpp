// A model's images: finding the file a material names, reading and decoding
// it. Models come from other machines, so names carry Windows separators,
// absolute paths of the author's disk and letter case that differs from the
// files'.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "import/import.h"
#include "stb_image.h"

const char* const IMPORT_IMAGE_EXTENSIONS[IMPORT_IMAGE_EXTENSION_COUNT] = {
    "png", "tga", "jpg", "jpeg", "bmp", "gif", "psd", "pcx", "hdr", "pgm", "ppm", "dds"};

namespace {

const long max_image_pixels = 64L << 20;
const size_t max_image_file = (size_t)256 << 20;
const int max_image_side = 16384;  // what image_resize takes

struct ImageReadState {
    char reason[160];  // the last refusal that names sizes; *why points here
};

ImageReadState image_read = {};

// "too large" with the image's size and the limits, in image_read.reason.
const char* too_large(unsigned long width, unsigned long height) {
    const long square_side = std::lround(std::sqrt((double)max_image_pixels));
    std::snprintf(image_read.reason, sizeof image_read.reason,
                  "too large: %lu x %lu pixels, where the limit is %d pixels a side and %ld in all (%ld x %ld)",
                  width, height, max_image_side, max_image_pixels, square_side, square_side);
    return image_read.reason;
}

int fits(unsigned long width, unsigned long height) {
    return width <= (unsigned long)max_image_side && height <= (unsigned long)max_image_side &&
           width * height <= (unsigned long)max_image_pixels;
}

// A PNG's width and height from its header chunk. stb_image gives up on a
// PNG whose decoded size passes 1 GiB before it gives that size, and then
// tries the other formats, so that its reason becomes "unknown image type".
int png_size(const uint8_t* data, size_t size, unsigned long* width, unsigned long* height) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (size < 24 || std::memcmp(data, signature, 8) != 0 || std::memcmp(data + 12, "IHDR", 4) != 0) return 0;
    auto be32 = [](const uint8_t* b) {
        return (unsigned long)b[0] << 24 | (unsigned long)b[1] << 16 | (unsigned long)b[2] << 8 | b[3];
    };
    *width = be32(data + 16);
    *height = be32(data + 20);
    return 1;
}

int is_regular_file(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0 && S_ISREG(s.st_mode);
}

// The entry of `folder` whose name equals `name` ignoring case; "" for none.
std::string entry_ignoring_case(const std::string& folder, const std::string& name) {
    DIR* d = opendir(folder.c_str());
    if (!d) return "";
    std::string found;
    while (struct dirent* e = readdir(d))
        if (strcasecmp(e->d_name, name.c_str()) == 0) {
            found = e->d_name;
            break;
        }
    closedir(d);
    return found;
}

std::vector<std::string> split_path(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(part);
        start = end + 1;
    }
    return parts;
}

// Walks `relative` down from `base`, each component taken as it is when it
// exists and else matched ignoring case. 1 with *path and *case_matched.
int resolve(const std::string& base, const std::string& relative, std::string* path, int* case_matched) {
    std::string at = base;
    *case_matched = 0;
    for (const std::string& part : split_path(relative)) {
        std::string next = at + "/" + part;
        struct stat s;
        if (part != ".." && lstat(next.c_str(), &s) != 0) {
            std::string entry = entry_ignoring_case(at, part);
            if (entry.empty()) return 0;
            next = at + "/" + entry;
            *case_matched = 1;
        }
        at = next;
    }
    if (!is_regular_file(at)) return 0;
    *path = at;
    return 1;
}

// "%20" and the like, as glTF file references are written.
std::string percent_decoded(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit((unsigned char)s[i + 1]) &&
            std::isxdigit((unsigned char)s[i + 2])) {
            out += (char)std::stoi(s.substr(i + 1, 2), nullptr, 16);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

int import_find_image(const std::string& folder, const std::string& reference, std::string* path,
                      std::vector<std::string>* notes) {
    std::string name = reference;
    int windows = 0;
    for (char& c : name)
        if (c == '\\') c = '/', windows = 1;
    if (name.empty() || name.find('\0') != std::string::npos) return 0;
    // "C:/maps/wood.png" and "/home/someone/maps/wood.png": the author's disk,
    // where only the file name can help. Read as it stands, an absolute path
    // would bake any file the user can read into a folder that may be shared.
    int drive = name.size() > 2 && std::isalpha((unsigned char)name[0]) && name[1] == ':' && name[2] == '/';
    if (name.compare(0, 7, "file://") == 0) name.erase(0, 7);
    const int absolute = drive || name.empty() || name[0] == '/';
    int case_matched = 0;
    int found = !absolute && resolve(folder, name, path, &case_matched);
    if (!found && !absolute && name.find('%') != std::string::npos)
        found = resolve(folder, percent_decoded(name), path, &case_matched);
    int by_file_name = 0, by_extension = 0;
    const size_t slash = name.rfind('/');
    const std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
    if (!found) {
        found = !file.empty() && file != ".." && resolve(folder, file, path, &case_matched);
        by_file_name = found;
    }
    // Some formats name an image without its extension ("skin"): the usual
    // image extensions beside the model, in any case.
    if (!found && !file.empty() && file.find('.') == std::string::npos)
        for (const char* extension : IMPORT_IMAGE_EXTENSIONS)
            if ((found = resolve(folder, file + "." + extension, path, &case_matched)) != 0) {
                by_extension = 1;
                break;
            }
    if (!found) return 0;
    if (windows) notes->push_back("'" + reference + "': '\\' read as a folder separator");
    if (by_extension) notes->push_back("'" + reference + "' names no extension; took " + *path);
    else if (by_file_name) notes->push_back("'" + reference + "' not found there; took " + *path + " by its file name");
    else if (case_matched) notes->push_back("'" + reference + "' matched " + *path + " ignoring letter case");
    return 1;
}

int import_outside_folder(const std::string& folder, const std::string& path) {
    char buffer[PATH_MAX];
    std::string inside = realpath(folder.c_str(), buffer) ? buffer : "";
    std::string file = realpath(path.c_str(), buffer) ? buffer : "";
    if (inside.empty() || file.empty()) return 1;
    if (inside != "/") inside += '/';
    return file.compare(0, inside.size(), inside) != 0;
}

int import_read_file(const std::string& path, size_t limit, std::vector<uint8_t>* data, const char** why) {
    // Non-blocking open: a named pipe given as an image must not stall the import.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = "cannot open file";
        return 0;
    }
    struct stat s;
    if (fstat(fd, &s) != 0 || !S_ISREG(s.st_mode) || s.st_size < 0 || (unsigned long long)s.st_size > limit) {
        close(fd);
        *why = S_ISREG(s.st_mode) ? "file too large" : "not a regular file";
        return 0;
    }
    data->resize((size_t)s.st_size);
    size_t done = 0;
    while (done < data->size()) {
        ssize_t n = read(fd, data->data() + done, data->size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += (size_t)n;
    }
    close(fd);
    if (done != data->size()) {
        *why = "cannot read file";
        return 0;
    }
    return 1;
}

int import_decode_image(const uint8_t* data, size_t size, std::vector<Rgba8>* pixels, int* width,
                        int* height, const char** why) {
    int w, h, channels;
    if (size == 0 || size > (size_t)INT32_MAX || !stbi_info_from_memory(data, (int)size, &w, &h, &channels)) {
        unsigned long pw, ph;
        if (size && png_size(data, size, &pw, &ph) && !fits(pw, ph))
            *why = too_large(pw, ph);
        else
            *why = size ? stbi_failure_reason() : "empty file";
        return 0;
    }
    if (w < 1 || h < 1) {
        *why = "the image has no pixels";
        return 0;
    }
    if (!fits((unsigned long)w, (unsigned long)h)) {
        *why = too_large((unsigned long)w, (unsigned long)h);
        return 0;
    }
    unsigned char* rgba = stbi_load_from_memory(data, (int)size, &w, &h, &channels, 4);
    if (!rgba) {
        *why = stbi_failure_reason();
        return 0;
    }
    pixels->assign((const Rgba8*)rgba, (const Rgba8*)rgba + (size_t)w * h);
    stbi_image_free(rgba);
    *width = w;
    *height = h;
    return 1;
}

int import_load_image(const std::string& path, std::vector<Rgba8>* pixels, int* width, int* height,
                      const char** why) {
    std::vector<uint8_t> file;
    return import_read_file(path, max_image_file, &file, why) &&
           import_decode_image(file.data(), file.size(), pixels, width, height, why);
}
