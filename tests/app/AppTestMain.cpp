// Test entry of the console's tests: the console's own application object, so its error handler is live.
#include "OrvaneApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    OrvaneApplication app(argc, argv);
    OrvaneApplication::setApplicationDisplayName(QStringLiteral("Orvane"));
    return RUN_ALL_TESTS();
}
