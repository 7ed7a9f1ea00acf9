// A quit request posted to the test's thread, as closing the window posts
// it: the next Mica::PumpMessagesNowAndThen sees it (the pump's 10 ms are
// waited out first) and ends the work with CUserException. The request the
// pump puts back is taken when this object goes.
#pragma once

#include "WinApi.h"

namespace Testing {

class CPostedQuit {
public:
    CPostedQuit()
    {
        ::PostQuitMessage(0);
        ::Sleep(30);
    }
    ~CPostedQuit()
    {
        MSG message;
        while (::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
    CPostedQuit(const CPostedQuit&) = delete;
    CPostedQuit& operator=(const CPostedQuit&) = delete;
};

} // namespace Testing
