#include "app/cli/TerminalText.h"

namespace mobivert::cli {

namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at the start of text (1 to 4), or 0 when the bytes
// there are no valid sequence (a stray continuation byte, an overlong form, a surrogate, a
// value past U+10FFFF or a sequence cut short).
size_t SequenceLength(std::string_view text) {
    const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (!IsContinuation(byte(i)))
            return 0;
    return length;
}

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%s%0*x", prefix, digits, value);
    out += text;
}

} // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        const size_t length = SequenceLength(text.substr(at));
        if (length == 0) {
            AppendHex(out, "\\x", byte, 2); // not UTF-8: raw C1 controls among them
            ++at;
        } else if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
            AppendHex(out, "\\u", static_cast<unsigned char>(text[at + 1]), 4); // U+0080..U+009F
            at += 2;
        } else if (length == 1 && (byte < 0x20 || byte == 0x7F)) {
            if (byte == '\n')
                out += "\\n";
            else if (byte == '\r')
                out += "\\r";
            else if (byte == '\t')
                out += "\\t";
            else
                AppendHex(out, "\\x", byte, 2);
            ++at;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

std::string PrintableLine(std::string_view message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.remove_suffix(1);
    std::string line;
    line.reserve(message.size());
    for (char c : message) {
        if (c == '\r')
            continue;
        line += c == '\n' ? ' ' : c;
    }
    return Printable(line);
}

void WriteLine(FILE* out, std::string_view text, bool flush) {
    std::string line = Printable(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
    if (flush)
        std::fflush(out);
}

size_t FittingBytes(std::string_view text, size_t width) {
    if (text.size() <= width)
        return text.size();
    size_t end = width;
    while (end > 0 && IsContinuation(static_cast<unsigned char>(text[end])))
        --end;
    return end;
}

} // namespace mobivert::cli
