#include "engine/options/MatrixParser.h"

#include "engine/options/ValueConversion.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

#include <cstdlib>

namespace mobivert::engine {

std::vector<uint16_t> ParseMatrix(const std::string& text) {
    std::vector<long> coefficients(MATRIX_SIZE, 0);
    size_t pos = 0;
    for (int i = 0; i < MATRIX_SIZE; ++i) {
        // Decimal like atoi; the text buffer always ends with a zero byte.
        coefficients[i] = std::strtol(text.c_str() + pos, nullptr, 10);
        if (i < MATRIX_SIZE - 1) {
            size_t comma = text.find(',', pos);
            if (comma == std::string::npos)
                throw FFMpegException(
                    FormatText("Syntax error in matrix \"%s\" at coeff %d", text.c_str(), i));
            pos = comma + 1;
        }
    }
    std::vector<uint16_t> matrix(MATRIX_SIZE, 0);
    for (int i = 0; i < MATRIX_SIZE; ++i) {
        if (coefficients[i] < 1 || coefficients[i] > 255)
            throw FFMpegException(FormatText(
                "Invalid coefficient %ld in matrix \"%s\" at coeff %d: it must be 1 to 255",
                coefficients[i], text.c_str(), i));
        matrix[i] = static_cast<uint16_t>(coefficients[i]);
    }
    return matrix;
}

void TCustomFFmpeg::SetIntraMatrix(const std::string& text) {
    IntraMatrix = ParseMatrix(text);
}

void TCustomFFmpeg::SetInterMatrix(const std::string& text) {
    InterMatrix = ParseMatrix(text);
}

} // namespace mobivert::engine
