// A test hook of the windowed program: with QUENOR_TEST_HOLD_WINDOW naming a file, the window
// thread looks for that file every 100 ms; once it appears, the file is removed, "<file>.held" is
// written, the window thread stays busy for 2 s, and "<file>.released" is written. Whole-program
// tests use it to show that alarms reach the automation software while the windows are stuck.
// Without the variable nothing is installed. Main thread.
#pragma once

class QObject;

inline constexpr const char* HOLD_WINDOW_VARIABLE = "QUENOR_TEST_HOLD_WINDOW";

void Install_Window_Hold_Hook(QObject* owner);
