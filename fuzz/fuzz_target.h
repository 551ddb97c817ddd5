// Every fuzz target defines this entry point; libFuzzer calls it under clang, and the
// smoke driver (smoke_driver.cpp) calls it with seeded random and mutated inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

// A private scratch folder for targets that need files, made once per process.
const std::string& ScratchDir();
// Writes the input to a file in the scratch folder and returns its path.
std::string WriteInput(const uint8_t* data, size_t size, const char* name);
// Empties the scratch folder's subfolder "out" and returns its path with a trailing '/'.
std::string FreshOutDir();

}  // namespace fuzz
