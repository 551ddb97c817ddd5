// One QApplication for a whole test program. It goes when the tests have run, before the
// program's static objects (Qt's own among them) are destroyed; a leftover one leaves the
// font library's caches behind for the leak checker.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

namespace testsupport {

inline QApplication* g_pQtApp = nullptr;

inline QApplication& QtTestApp() {
    static int argc = 1;
    static char name[] = "qt_test";
    static char* argv[] = {name, nullptr};
    if (!g_pQtApp) g_pQtApp = new QApplication(argc, argv);
    return *g_pQtApp;
}

class CQtTestEnvironment final : public ::testing::Environment {
  public:
    void TearDown() override {
        delete g_pQtApp;
        g_pQtApp = nullptr;
    }
};
inline ::testing::Environment* const g_pQtTestEnvironment =
    ::testing::AddGlobalTestEnvironment(new CQtTestEnvironment);

}  // namespace testsupport
