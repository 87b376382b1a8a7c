#include "binding/LoadError.h"

namespace mobivert::binding {

std::string FormatLoadLibraryError(const std::string& fileName, const std::string& systemText) {
    return "Load libraray " + fileName + " error: " + systemText;
}

std::string FormatLoadFunctionError(const std::string& entry, const std::string& fileName,
                                    const std::string& systemText) {
    return "Load function " + entry + "@" + fileName + " error: " + systemText;
}

} // namespace mobivert::binding
