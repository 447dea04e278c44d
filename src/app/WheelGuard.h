#pragma once

class QAbstractScrollArea;
class QWidget;

// Over a panel that scrolls, the mouse wheel scrolls the panel: a spin box or combo box under
// the pointer takes the wheel only while it has the focus (a click or Tab gives it), so a turn
// of the wheel on the way down the panel changes no setting. Applies to every spin box and
// combo box inside Panel now; Area is what scrolls.
void KeepWheelForScrolling(QWidget* Panel, QAbstractScrollArea* Area);
