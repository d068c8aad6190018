// How the program brings up its main window: the window, its start-up (which shows it),
// then the about box and the port selection dialog, made hidden. The main block, the
// command-line program, the benchmark station and the tests all bring it up this way.
#pragma once

#include <memory>

class TMainForm;

// The main window, made with no application title yet: its start-up reads the product's.
// Before it, the program takes its running mark (shell/RunningMark.h) and the chip icon
// becomes the application's window icon.
std::unique_ptr<TMainForm> MakeMainForm();

// The window's start-up, then the about box and the port selection dialog, made hidden.
// False, and no dialogs, when start-up closed the window.
bool StartMainForm(TMainForm& Form);
