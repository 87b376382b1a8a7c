#pragma once
// An environment variable set (or removed) for the life of the object; the value it had before,
// or its absence, comes back when the object goes.

#include <optional>
#include <string>

namespace mobivert::test {

class ScopedVariable {
public:
    // Sets the variable; with no value, removes it.
    ScopedVariable(std::string name, const std::optional<std::string>& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

} // namespace mobivert::test
