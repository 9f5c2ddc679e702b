// The main() of every test executable: a Qt application object for the whole
// run (queued calls, QImage, widgets), then GoogleTest.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#ifdef QUILLO_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (CTest discovery) needs no application, and so no
    // display.
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    TestApplication app(argc, argv);
    // The program remembers settings; every test process starts from none
    // and leaves none behind for the next.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    return RUN_ALL_TESTS();
}
