// Every fuzz target defines this entry point; libFuzzer calls it in the fuzz preset, and the
// smoke driver (smoke_driver.cpp) calls it with seeded random and mutated inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

// A private scratch folder for targets that need files, made once per process.
const std::string& ScratchDir();
// Writes the input to a file in the scratch folder and returns its path.
std::string WriteInput(const uint8_t* data, size_t size, const char* name);
// As WriteInput, with a modification time no earlier input had: readers that keep what they
// read of a file by its name, size and time (Qt's settings) read it again.
std::string WriteFreshInput(const uint8_t* data, size_t size, const char* name);
// Empties the scratch folder's subfolder "out" and returns its path with a trailing '/'.
std::string FreshOutDir();
// A file name a folder can hold, made of input bytes: "/" and NUL become "_", at most 200
// characters, never empty, "." or "..".
std::string PlainFileName(const std::vector<uint8_t>& bytes);
// Writes bytes to a file (a target's own folder).
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Fails the run (libFuzzer records the input) when a target's own check does not hold.
[[noreturn]] void Fail(const char* what);

// Reads an input front to back. Past its end every number is 0 and every byte string empty,
// so a target never has to check what is left.
class CInput {
  public:
    CInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    size_t Left() const { return m_size - m_pos; }
    uint8_t U8();
    uint16_t U16();  // big-endian
    uint32_t U32();
    // Up to n bytes.
    std::vector<uint8_t> Bytes(size_t n);
    // A 16-bit length, then up to that many bytes.
    std::vector<uint8_t> Chunk();
    std::vector<uint8_t> Rest() { return Bytes(Left()); }

  private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Appends a chunk as CInput::Chunk reads it (for seed makers).
void PutChunk(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes);

}  // namespace fuzz
