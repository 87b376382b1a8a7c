#pragma once
// Quantiser matrices given as text: 64 comma-separated whole numbers.

#include <cstdint>
#include <string>
#include <vector>

namespace mobivert::engine {

constexpr int MATRIX_SIZE = 64;

// Reads the 64 coefficients of a matrix text, each as the whole number at the start of its
// place (C atoi: leading blanks and a sign allowed, no digits count as 0), the places separated
// by ",". Text after the 64th number is ignored. Refusals (FFMpegException): fewer than 64 places
// give "Syntax error in matrix "<text>" at coeff <i>"; a coefficient outside 1..255 (a zero
// divides by zero in the encoders, larger ones do not fit the 8 bits of the stream) gives
// "Invalid coefficient <n> in matrix "<text>" at coeff <i>: it must be 1 to 255".
std::vector<uint16_t> ParseMatrix(const std::string& text);

} // namespace mobivert::engine
