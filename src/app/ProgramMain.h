#pragma once

#include <functional>

class TForm1;
class TQtPrompts;

// The whole program once the application object exists: the window with the given
// prompts and the system clock, termination signals routed to it, the event loop, and
// the window's safe end whatever ended the loop. Shown (if set) runs once after the
// window is shown, before the loop. Returns the program's exit status.
int RunProgram(TQtPrompts& Prompts, const std::function<void(TForm1&)>& Shown = {});
