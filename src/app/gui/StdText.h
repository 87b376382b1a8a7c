#pragma once
// The Qt-free code's texts (UTF-8 std::string) as the window's QString.

#include <QString>
#include <string>

namespace mobivert::gui {

inline QString FromStd(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace mobivert::gui
