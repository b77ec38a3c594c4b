// Another process does what the window's close box does: sends the window WM_SYSCOMMAND SC_CLOSE,
// which DefWindowProc answers with WM_CLOSE. Sent, not posted, as the close box sends it, so that it
// reaches the window procedure directly and not through the program's message loop.
//   closecommand.exe "<window title>"
// Exit status: 0 sent, 1 no such window, 2 the window did not answer within 10 s.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int wmain(int argc, wchar_t *argv[])
{
    const HWND window = argc == 2 ? FindWindowW(nullptr, argv[1]) : nullptr;
    if (!window)
        return 1;
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_ABORTIFHUNG, 10000, &result) ? 0 : 2;
}
