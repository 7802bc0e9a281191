#pragma once

// Test entry points. Each test executable gets a fresh home, config, data, cache and runtime
// folder before Qt starts, so settings, the store and the archive never touch anything real,
// and sockets named after the runtime folder (the single-instance URL socket) are not shared
// by tests running side by side. Variables that reach the test machine's services (session
// bus, sound server) are kept: they name their sockets in full.

#ifdef QT_WIDGETS_LIB
#include <QApplication>
#endif
#ifdef QT_GUI_LIB
#include <QGuiApplication>
#endif
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

namespace TestSupport {

inline QTemporaryDir& isolatedHome()
{
    static QTemporaryDir dir;
    return dir;
}

inline void isolateHome()
{
    const QString root = isolatedHome().path();
    const auto set = [&](const char* name, const char* sub) {
        const QString path = root + QLatin1Char('/') + QLatin1String(sub);
        QDir().mkpath(path);
        qputenv(name, path.toUtf8());
    };
    set("HOME", "home");
    set("XDG_CONFIG_HOME", "home/.config");
    set("XDG_DATA_HOME", "home/.local/share");
    set("XDG_CACHE_HOME", "home/.cache");
    set("XDG_STATE_HOME", "home/.local/state");
    set("XDG_RUNTIME_DIR", "runtime");
    // Qt ignores a runtime folder that others may enter.
    QFile::setPermissions(
        root + QStringLiteral("/runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace TestSupport

#define QUILLET_TEST_MAIN(TestObject)                                                                                  \
    int main(int argc, char* argv[])                                                                                   \
    {                                                                                                                  \
        TestSupport::isolateHome();                                                                                    \
        QCoreApplication app(argc, argv);                                                                              \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }

#ifdef QT_WIDGETS_LIB
#define QUILLET_WIDGET_TEST_MAIN(TestObject)                                                                           \
    int main(int argc, char* argv[])                                                                                   \
    {                                                                                                                  \
        TestSupport::isolateHome();                                                                                    \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                            \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                                   \
        QApplication app(argc, argv);                                                                                  \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
#endif

#ifdef QT_GUI_LIB
// For code that reaches the desktop through Qt Gui alone (the clipboard), without widgets.
#define QUILLET_GUI_TEST_MAIN(TestObject)                                                                              \
    int main(int argc, char* argv[])                                                                                   \
    {                                                                                                                  \
        TestSupport::isolateHome();                                                                                    \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                            \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                                   \
        QGuiApplication app(argc, argv);                                                                               \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
#endif
