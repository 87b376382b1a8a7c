#include "support/ScopedVariable.h"

#include <cstdlib>

namespace mobivert::test {

namespace {

void SetVariable(const std::string& name, const std::optional<std::string>& value) {
    if (value)
        setenv(name.c_str(), value->c_str(), 1);
    else
        unsetenv(name.c_str());
}

} // namespace

ScopedVariable::ScopedVariable(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const char* previous = std::getenv(name_.c_str()))
        previous_ = previous;
    SetVariable(name_, value);
}

ScopedVariable::~ScopedVariable() {
    SetVariable(name_, previous_);
}

} // namespace mobivert::test
