// The x87 floating-point state the module computes in.
//
// The 32-bit module is built for plain i686 (no SSE2: hosts of the first generations ran on processors
// without it), so its double arithmetic, and the C library's sin, cos, asin and fmod, run on the x87 unit.
// Its results then depend on the control word in force, and 3D hosts lower the precision to 24 bits on
// their thread. The module therefore computes under its own control word: on the host's thread around its
// arithmetic, with the host's whole state put back before it returns to the host; on its own thread once.
// Elsewhere (x86-64) doubles are computed in SSE and these do nothing.
#pragma once

#include <cmath>
#include <cstdint>

// 53-bit precision, round to nearest, every exception masked.
constexpr uint16_t kModuleFpuControl = 0x027F;

// The x87 environment (control and status words among it) as fnstenv stores it.
struct FpuEnvironment {
    uint32_t words[7];
};

#if defined(__i386__)

inline void EnterModuleFpu(FpuEnvironment* saved) {
    const uint16_t control = kModuleFpuControl;
    // fnstenv also masks every exception, so nothing the host unmasked can fire before fldcw.
    __asm__ volatile("fnstenv %0\n\tfldcw %1" : "=m"(*saved) : "m"(control));
}

// Puts back the host's control word and status flags exactly, dropping the flags the module's arithmetic
// raised, so that no exception the host has unmasked fires in its own code afterwards.
inline void LeaveModuleFpu(const FpuEnvironment* saved) {
    __asm__ volatile("fldenv %0" : : "m"(*saved));
}

inline void SetThreadFpu(void) {
    const uint16_t control = kModuleFpuControl;
    __asm__ volatile("fninit\n\tfldcw %0" : : "m"(control));
}

// The arcsine of x (within -1 to 1) as atan(x / sqrt(1 - x * x)), on the x87 unit under the module's control
// word. The C library's asin may take an SSE2 path, which would follow the host's MXCSR instead.
inline double ArcSine(double x) {
    double result;
    __asm__("fld %%st(0)\n\t"
            "fmul %%st(0), %%st(0)\n\t"
            "fld1\n\t"
            "fsubp\n\t"
            "fsqrt\n\t"
            "fpatan"
            : "=t"(result)
            : "0"(x));
    return result;
}

#else

inline void EnterModuleFpu(FpuEnvironment*) {}
inline void LeaveModuleFpu(const FpuEnvironment*) {}
inline void SetThreadFpu(void) {}
inline double ArcSine(double x) {
    return std::asin(x);
}

#endif
