#include "MessageLoopMica.h"

#include "DialogMica.h"
#include "Errors.h"

#include <ole2.h>

namespace Mica {

namespace {

ModalFilter g_filter = nullptr;
void* g_filterContext = nullptr;

BOOL CALLBACK DestroyThreadWindow(HWND window, LPARAM)
{
    ::DestroyWindow(window);
    return TRUE;
}

} // namespace

void SetModalFilter(ModalFilter filter, void* context)
{
    g_filter = filter;
    g_filterContext = context;
}

void PumpMessages()
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        // The quit request is put back with its exit code, so that the loop
        // the work was started from sees it too and the program ends.
        if (message.message == WM_QUIT)
            ::PostQuitMessage(static_cast<int>(message.wParam));
        if (g_filter != nullptr) {
            if (message.message == WM_QUIT || !g_filter(message, g_filterContext))
                Bas::ThrowUser();
            continue;
        }
        if (message.message == WM_QUIT) {
            ::EnumThreadWindows(::GetCurrentThreadId(), DestroyThreadWindow, 0);
            ::OleFlushClipboard();
            Bas::ThrowUser();
        }
        if (IsDialogMessageOfAny(message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void PumpMessagesNowAndThen()
{
    static thread_local ULONGLONG last = 0;
    const ULONGLONG now = ::GetTickCount64();
    if (now - last >= 10) {
        last = now;
        PumpMessages();
    }
}

} // namespace Mica
