// SSE2 lane operations whose emscripten forms are slow in the page: there
// the conversions are worked out lane by lane through lrint and a shift by a
// vector count becomes four scalar shifts. Each has the same results as its
// SSE2 form on the lanes its callers use; the page takes WebAssembly's own
// instruction, every other build the SSE2 one.
#pragma once

#ifdef __SSE2__

#include <cstdint>

#include <emmintrin.h>
#ifdef __wasm_simd128__
#include <wasm_simd128.h>
#endif

// Truncation toward zero of the lanes that fit 32 bits (WebAssembly's
// saturates the others, SSE2 gives 0x80000000 there).
inline __m128i lanes_truncate(__m128 x) {
#ifdef __wasm_simd128__
    return (__m128i)wasm_i32x4_trunc_sat_f32x4((v128_t)x);
#else
    return _mm_cvttps_epi32(x);
#endif
}

// The same for two doubles, into the low two lanes (the high two are 0).
inline __m128i lanes_truncate_pd(__m128d x) {
#ifdef __wasm_simd128__
    return (__m128i)wasm_i32x4_trunc_sat_f64x2_zero((v128_t)x);
#else
    return _mm_cvttpd_epi32(x);
#endif
}

// Every lane shifted right by `shift` (0..31), arithmetically.
inline __m128i lanes_shift_right(__m128i lanes, int32_t shift) {
#ifdef __wasm_simd128__
    // The empty asm keeps the count inside the caller's loop. Hoisted out of
    // it, the count became a vector the backend did not see was one value
    // four times, and the shift went lane by lane through scalar shifts.
    __asm__ volatile("" : "+r"(shift));
    return (__m128i)wasm_i32x4_shr((v128_t)lanes, (uint32_t)shift);
#else
    return _mm_sra_epi32(lanes, _mm_cvtsi32_si128(shift));
#endif
}

#endif
