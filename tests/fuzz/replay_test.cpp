// Every input kept under tests/fuzz/corpus/<entry>/ (hand-made seeds and the
// inputs that once made an entry fail) goes through its entry again. Under
// the asan preset a read past a buffer, a leak or undefined behaviour fails
// the run; in release, the entries' own checks trap.
#include <dirent.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz/fuzz_entries.h"
#include "test_support.h"

namespace {

std::vector<std::string> corpus_files(const std::string& dir) {
    std::vector<std::string> files;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') files.push_back(dir + "/" + e->d_name);
        closedir(d);
    }
    return files;
}

class FuzzCorpus : public ::testing::TestWithParam<int> {};

TEST_P(FuzzCorpus, EveryKeptInputIsReadWithoutFault) {
    const FuzzTarget& target = fuzz_targets[GetParam()];
    std::vector<std::string> files = corpus_files(std::string(VARNEL_FUZZ_CORPUS) + "/" + target.name);
    ASSERT_FALSE(files.empty()) << "no kept inputs for " << target.name;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::string bytes = read_file(file);
        target.entry((const uint8_t*)bytes.data(), bytes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Entries, FuzzCorpus, ::testing::Range(0, fuzz_target_count),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(fuzz_targets[info.param].name);
                         });

}  // namespace
