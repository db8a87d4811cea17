// libFuzzer program for one entry, chosen at build time by VARNEL_FUZZ_TARGET.
//
//   make fuzz FUZZ_TIME=60      every entry in turn, corpora under build/fuzz/corpus
//   build/fuzz/tests/fuzz/fuzz_cone -max_total_time=60 CORPUS_DIR
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const FuzzTarget* target = fuzz_target_find(VARNEL_FUZZ_TARGET);
    if (!target) __builtin_trap();
    target->entry(data, size);
    return 0;
}
