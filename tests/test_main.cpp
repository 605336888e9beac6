#include <QApplication>
#include <gtest/gtest.h>

// Widget tests need no display: the platform is chosen here, not in the environment, because
// test discovery runs this binary without ctest's environment.
int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
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
