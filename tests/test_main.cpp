#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Widget tests need no display: the platform is chosen here, not in the environment, because
// test discovery runs this binary without ctest's environment. Settings and journals go to
// a folder of the run's own, never to the user's; so does Qt's runtime folder, which it would
// otherwise make in /tmp, with a warning, and leave there.
int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    QDir().mkdir(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       home.filePath(QStringLiteral("config")));
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dorq-pulse"));
    return RUN_ALL_TESTS();
}

#if defined(__SANITIZE_ADDRESS__)
// Freed memory waits in a quarantine of up to 256 MB by default, which would read as growth
// to the tests that check that a stream from the peer is not hoarded.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=16";
}
#endif
