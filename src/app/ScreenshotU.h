#pragma once

#include <QString>
#include <functional>

class QImage;
class QWidget;

// Finds the widget whose window text (object name or window title, first 31
// characters) contains Text among all top-level widgets and their descendants; a later
// match replaces an earlier one. Returns null when none matches.
QWidget* FindWindowByText(const QString& Text);

// The image of the matching widget after raising its window (WaitMs lets it repaint); a
// null image when no widget matched.
QImage GrabWindowByText(const QString& Text, const std::function<void(int)>& WaitMs);

// Copies the image of the matching widget to the clipboard. WaitMs lets the widget
// repaint after it has been raised. Returns false when no widget matched.
bool CopyWindowToClipboard(const QString& Text, const std::function<void(int)>& WaitMs);
