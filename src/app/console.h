#pragma once
// Where the answer to --help or --version goes. One file per system answers it (console_unix.cpp,
// console_win.cpp): a Windows program without a console of its own writes into the one it was typed
// in, or shows a box.

// Prints text for the user who typed a switch.
void printAnswer(const char *text);
