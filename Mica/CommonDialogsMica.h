// The system's common dialogs, loaded from Comdlg32.dll when first needed.
#pragma once

#include "Message.h"
#include "WinApi.h"

#include <string>

namespace Mica {

inline const Bas::CMessageName ERR_FILE_DIALOG_FAILED{L"ERR_FILE_DIALOG_FAILED"};

struct CSaveFileRequest {
    std::wstring filterName;       // "Zip Archive"
    std::wstring filterPattern;    // "*.zip"
    std::wstring defaultExtension; // "zip", added when the user types none
    std::wstring initialFolder;
    std::wstring fileName;
};

// The save-file dialog; it asks before an existing file is replaced. The
// chosen path, or empty when the user cancelled; a failure of the dialog
// raises ERR_FILE_DIALOG_FAILED with its code.
std::wstring AskSaveFileName(HWND owner, const CSaveFileRequest& request);

} // namespace Mica
