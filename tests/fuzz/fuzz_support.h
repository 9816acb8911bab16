// Small helpers shared by the fuzz targets.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// Any 64-bit pattern as a double: NaN, infinities, denormals and huge values included.
inline double AnyDouble(FuzzedDataProvider& in) {
    const uint64_t bits = in.ConsumeIntegral<uint64_t>();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Ends the run with the reason; libFuzzer keeps the input as a crash artifact.
inline void Require(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "FAULT: %s\n", what.c_str());
        std::abort();
    }
}
