#pragma once

#include <functional>

class QWidget;

// Linking QtBenchSupport.cpp provides main(): the benchmarks run inside a QApplication on the
// offscreen platform unless QT_QPA_PLATFORM names another.
namespace quillex::bench {

// Shows the widget and lets Qt handle the layout and paint events that showing queues, so a
// measurement starts from a settled widget.
void ShowAndSettle(QWidget& Widget);

// Runs Cleanup after the last benchmark while the QApplication still exists: widgets kept
// across benchmarks must not outlive it.
void AtBenchmarksEnd(std::function<void()> Cleanup);

} // namespace quillex::bench
