// Runs the window's test classes: all of them, or the one named first on the command line (the
// remaining arguments go to Qt Test).

#include "app/gui/Look.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <map>
#include <memory>

#include "TestRegistry.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Corvel");
    QApplication::setApplicationName("Mobivert");
    // Batch journals of the window's conversions go to a folder of the tests' own.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());

    const auto& registry = mobivert::guitest::TestClasses();
    QStringList names;
    int first = 1;
    if (argc > 1 && registry.count(argv[1])) {
        names << argv[1];
        first = 2;
    } else {
        for (const auto& [name, make] : registry)
            names << QString::fromStdString(name);
    }
    QStringList arguments{argv[0]};
    for (int i = first; i < argc; ++i)
        arguments << argv[i];

    int failures = 0;
    for (const QString& name : names) {
        std::unique_ptr<QObject> test = registry.at(name.toStdString())();
        failures += QTest::qExec(test.get(), arguments);
    }
    return failures == 0 ? 0 : 1;
}
