#pragma once
// A test program on one offscreen screen of a given size (logical pixels) and
// pixel ratio, as a scaled desktop has it. The platform reads the screen from
// a file named in QT_QPA_PLATFORM, so it is set up before the application.

#include "common/TestMain.h"

#include <QFile>

namespace tarvo::test {

// The configuration file's path, empty when it could not be written.
inline QString configureScaledScreen(int width, int height, qreal ratio)
{
    const QString config =
        QDir::tempPath() +
        QStringLiteral("/tarvo2-screen-%1.json").arg(QCoreApplication::applicationPid());
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(QStringLiteral(R"({"screens": [{"name": "scaled", "x": 0, "y": 0, "width": %1,
        "height": %2, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": %3}]})")
                   .arg(width)
                   .arg(height)
                   .arg(ratio)
                   .toUtf8());
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));
    return config;
}

} // namespace tarvo::test

#define TARVO_TEST_MAIN_SCALED(TestObject, width, height, ratio)                                   \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        tarvo::test::prepareTestHome();                                                            \
        const QString config = tarvo::test::configureScaledScreen(width, height, ratio);           \
        if (config.isEmpty())                                                                      \
            return 1;                                                                              \
        QApplication app(argc, argv);                                                              \
        QFile::remove(config);                                                                     \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
