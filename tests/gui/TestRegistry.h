#pragma once
// Test classes register themselves by name, so that CTest can run each one on its own.

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace mobivert::guitest {

using TTestFactory = std::function<std::unique_ptr<QObject>()>;

inline std::map<std::string, TTestFactory>& TestClasses() {
    static std::map<std::string, TTestFactory> classes;
    return classes;
}

template <typename T> struct TRegisterTest {
    explicit TRegisterTest(const char* name) {
        TestClasses()[name] = [] { return std::make_unique<T>(); };
    }
};

} // namespace mobivert::guitest

#define MOBIVERT_GUI_TEST(Class)                                                                   \
    static const mobivert::guitest::TRegisterTest<Class> register##Class(#Class)
