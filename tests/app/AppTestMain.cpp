// Test entry of the console's tests: the console's own application object, so its error handler is live.
#include "OrvaneApplication.h"

#include <gtest/gtest.h>

#include <cstring>

#ifndef ORVANE_NO_CONSOLE_DRILL
int runConsoleDrillChild(int argc, char** argv);
#endif

int main(int argc, char** argv) {
#ifndef ORVANE_NO_CONSOLE_DRILL
    // The signal drill starts this program again as the console it sends signals to.
    if (argc > 1 && std::strcmp(argv[1], "--console-drill-child") == 0)
        return runConsoleDrillChild(argc, argv);
#endif
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    OrvaneApplication app(argc, argv);
    OrvaneApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
    return RUN_ALL_TESTS();
}
