// main() of every GUI test: one QApplication for all cases, created before
// the first case. Listing the cases (test discovery at build time) needs no
// application and no display.

#include <QApplication>

#include <cstring>

#include <gtest/gtest.h>

#include "gui/QtSourcePageHandler.h"

namespace {

bool OnlyListing(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) {
            return true;
        }
    }
    return false;
}

void DefaultTo(const char* name, const char* value) {
    if (qEnvironmentVariableIsEmpty(name)) {
        qputenv(name, value);
    }
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (OnlyListing(argc, argv)) {
        return RUN_ALL_TESTS();
    }
    // Run the same way whether started by CTest or by hand.
    DefaultTo("QT_QPA_PLATFORM", "offscreen");
    DefaultTo("QTWEBENGINE_DISABLE_SANDBOX", "1");
    DefaultTo("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    quiltara::QtSourcePageHandler::RegisterScheme();
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
