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
