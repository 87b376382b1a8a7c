#include "converter/LineText.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace mobivert::converter {

std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

bool Unescape(const std::string& text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    bool written = true;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            written = written && text[i] != '\\';
            out += text[i];
            continue;
        }
        const char next = text[++i];
        switch (next) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            written = false;
            out += next;
        }
    }
    return written;
}

std::string Unescape(const std::string& text) {
    std::string out;
    Unescape(text, out);
    return out;
}

bool WriteAll(int fd, const std::string& text) {
    bool socket = true;
    for (size_t done = 0; done < text.size();) {
        const char* data = text.data() + done;
        const size_t left = text.size() - done;
        ssize_t n = socket ? send(fd, data, left, MSG_NOSIGNAL) : write(fd, data, left);
        if (n < 0 && socket && errno == ENOTSOCK) {
            socket = false;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace mobivert::converter
