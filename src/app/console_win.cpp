// Windows: a GUI program has no standard output of its own unless it was redirected. It writes into
// the console it was typed in or, started from Explorer or a shortcut, shows the text in a box.
#include "app/console.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

void printAnswer(const char *text)
{
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE || GetFileType(out) == FILE_TYPE_UNKNOWN) {
        if (AttachConsole(ATTACH_PARENT_PROCESS) && std::freopen("CONOUT$", "w", stdout)) {
            // The prompt came back when the program started: the text goes below it, on a line of
            // its own.
            std::fputs("\n", stdout);
        } else {
            MessageBoxA(nullptr, text, "Vestrel", MB_OK | MB_ICONINFORMATION);
            return;
        }
    }
    std::fputs(text, stdout);
    std::fflush(stdout);
}
