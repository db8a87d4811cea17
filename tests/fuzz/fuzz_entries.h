// One entry per reader that takes a user's file. Each writes the bytes to a
// scratch file, reads it the way the program does and checks that what came
// back stays inside its own buffers. The libFuzzer programs call one entry
// each; the test suite replays the kept inputs of tests/fuzz/corpus.
#pragma once

#include <cstddef>
#include <cstdint>

struct FuzzTarget {
    const char* name;                                 // corpus folder and program suffix
    void (*entry)(const uint8_t* data, size_t size);  // faults trap or are caught by the sanitizers
};

extern const FuzzTarget fuzz_targets[];
extern const int fuzz_target_count;

const FuzzTarget* fuzz_target_find(const char* name);
