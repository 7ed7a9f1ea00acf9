// Writes one text through the process's default message handler, so the
// tests can see what each kind of standard output receives.
#include "Library.h"
#include "MessageHandlers.h"

#include <cstdio>

int wmain()
{
    Bas::CLibrary library;
    const int answer = Bas::DefaultMessageHandler().ShowMessage(nullptr, L"first line\nsecond\r\nthird", L"Probe",
                                                                MB_YESNOCANCEL | MB_DEFBUTTON3);
    return answer == IDCANCEL ? 0 : 1;
}
