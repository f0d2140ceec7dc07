#pragma once
// Target selection for the decoder's vector kernels: AVX2 where the CPU has
// it, compiled per function so the library runs on any x86-64.

#if defined(__x86_64__) || defined(__i386__)
#define RD_MJPEG_X86 1
#include <immintrin.h>
#define RD_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define RD_MJPEG_X86 0
#endif

namespace rd::mjpeg {

// Whether this CPU runs the AVX2 kernels (checked once per process).
bool CpuHasAvx2();

// The process-wide switch of SetVectorPathsEnabled, read when kernels are chosen.
bool VectorPathsEnabled();

}  // namespace rd::mjpeg
