#pragma once
// The Qt side of the page tests: one QApplication for the test program (offscreen, software
// scene graph, HOME and the XDG folders in a temp dir so no test reads or writes the user's
// settings), the install root of the build tree as working directory, and a record of every
// QML/Qt warning so that a test can fail on one.

#include <QString>
#include <QStringList>

#include <functional>

namespace devicebench_test {

//! Warnings and errors recorded since the last call; clears the record. UI thread.
QStringList TakeWarnings();

//! Runs the event loop until `predicate` holds, at most `limit_ms`; returns its last value.
bool Spin(const std::function<bool()>& predicate, int limit_ms = 10000);

//! Runs the event loop for `duration_ms`.
void SpinFor(int duration_ms);

//! Folder for the pictures the tests write for review (created on demand).
QString ScreenshotDir();

}  // namespace devicebench_test
