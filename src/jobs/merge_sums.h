// The additions of the averaging job, written as plain loops the compiler vectorises (this file
// is built with -O3, and once more for AVX2, picked when the processor has it).
#pragma once

#include <cstddef>
#include <cstdint>

// sums[i] += bytes[i] for i < n, modulo 2^16 (the job keeps every sum below 65536).
void AddBytesToSums(std::uint16_t* sums, const std::uint8_t* bytes, std::size_t n);
// sums[i] -= bytes[i] for i < n, modulo 2^16: takes back what AddBytesToSums added.
void SubtractBytesFromSums(std::uint16_t* sums, const std::uint8_t* bytes, std::size_t n);
// into[i] += from[i] for i < n, modulo 2^16.
void AddSumsToSums(std::uint16_t* into, const std::uint16_t* from, std::size_t n);
