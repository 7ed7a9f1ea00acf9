// Dispatching waiting window messages during long work on the UI thread.
#pragma once

#include "WinApi.h"

namespace Mica {

// A modal loop's pre-processing: true when it took the message.
using ModalFilter = bool (*)(MSG& message, void* context);
void SetModalFilter(ModalFilter filter, void* context);

// Dispatches every waiting message. A quit request (WM_QUIT), or a message a
// modal loop refuses, ends the work with the silent CUserException; without
// a modal loop the program's windows are closed first.
void PumpMessages();
// The same at most every 10 ms: for loops over many small items, often
// enough for the window to stay responsive, rare enough to cost nothing.
void PumpMessagesNowAndThen();

} // namespace Mica
