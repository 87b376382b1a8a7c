#pragma once
// The two load failure texts of the library binding. "libraray" is the product's own spelling.

#include <string>

namespace mobivert::binding {

std::string FormatLoadLibraryError(const std::string& fileName, const std::string& systemText);
std::string FormatLoadFunctionError(const std::string& entry, const std::string& fileName,
                                    const std::string& systemText);

} // namespace mobivert::binding
