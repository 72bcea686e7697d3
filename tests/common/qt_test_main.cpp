#include <QApplication>
#include <cstdio>
#include <gtest/gtest.h>

#include "app/station_main.h"

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // The tests see the dialogs as the operator does: in French.
    if (!zuna::install_french(app)) {
        fprintf(stderr, "Qt's French translations are missing (qt6-translations-l10n).\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
