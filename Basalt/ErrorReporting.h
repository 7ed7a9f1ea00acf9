// What happens when a check fails or an error is never caught: the
// non-throwing report of a failed check, the per-thread reporting state
// that turns a failure inside a report into one last message, the minidump,
// and the last-resort handlers for uncaught exceptions and invalid
// run-time parameters.
#pragma once

#include "Errors.h"

#include <string>

namespace Bas {

// Whether failed checks throw CInternalError (the normal case) or are
// reported on the spot and return to their caller.
void SetInternalErrorsThrow(bool on) noexcept;
bool InternalErrorsThrow() noexcept;

// Called with every failed check before anything else is done with it.
using InternalErrorCallback = void (*)(EInternalError kind, const char* expression, const char* function,
                                       const char* file, int line, DWORD code);
void SetInternalErrorCallback(InternalErrorCallback callback) noexcept;

// "AssertStopMode" and "ErrorStopMode": 2 breaks into an attached
// debugger, 3 always breaks, anything else never.
void SetStopModes(int assertMode, int errorMode) noexcept;

// The text of a failed check: the expression, function, file, line and,
// for the kinds with a code, the code in hexadecimal and its Windows text.
std::wstring InternalErrorText(EInternalError kind, const char* expression, const char* function, const char* file,
                               int line, DWORD code);

// The calling thread's reporting state for the lifetime of the object.
// Entering it while the thread already reports shows "Double internal
// error!" and ends the process.
class CReportingScope {
public:
    CReportingScope();
    ~CReportingScope();
    CReportingScope(const CReportingScope&) = delete;
    CReportingScope& operator=(const CReportingScope&) = delete;
};
bool IsReporting() noexcept;

// Writes a minidump of the process into the temporary folder, from a
// thread of its own so that the failing thread's stack is seen as it is,
// waiting for it at most `timeout` milliseconds. Returns the file's path, or
// empty when no dump was written in that time.
std::wstring WriteMinidump(DWORD timeout = 30000);

// The terminate handler ("Unhandled Internal Error") and a silent
// invalid-parameter handler; Remove puts the previous ones back.
void InstallLastResortHandlers();
void RemoveLastResortHandlers();

} // namespace Bas
