#pragma once

#include <cstdint>
#include <string>

// Block indexes of test bytes, as fernup-pack build publishes them.

// The index of bytes at the shift (0: the builder's own rule).
std::string BlockIndexOf(const std::string& bytes, uint32_t shift = 0);
