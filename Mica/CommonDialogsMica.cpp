#include "CommonDialogsMica.h"

#include "BasaltMessages.h"
#include "Errors.h"
#include "Handles.h"

#include <commdlg.h>

#include <vector>

namespace Mica {

namespace {

using GetSaveFileNameFn = BOOL(WINAPI*)(OPENFILENAMEW*);
using CommDlgExtendedErrorFn = DWORD(WINAPI*)();

// Comdlg32.dll stays loaded once it has been needed.
HMODULE CommonDialogs()
{
    static HMODULE module = [] {
        HMODULE loaded = ::LoadLibraryW(L"Comdlg32.dll");
        if (loaded == nullptr) {
            const DWORD code = ::GetLastError();
            Bas::ThrowCheck(Bas::ERR_CANT_LOAD_DLL, L"Comdlg32.dll", Bas::GetLastErrorText(code));
        }
        return loaded;
    }();
    return module;
}

} // namespace

std::wstring AskSaveFileName(HWND owner, const CSaveFileRequest& request)
{
    HMODULE module = CommonDialogs();
    const auto getSaveFileName = Bas::GetProc<GetSaveFileNameFn>(module, "GetSaveFileNameW");
    const auto extendedError = Bas::GetProc<CommDlgExtendedErrorFn>(module, "CommDlgExtendedError");
    BAS_PRESUME(getSaveFileName != nullptr && extendedError != nullptr);

    // Description and pattern pairs, each ended by a zero, the list by one more.
    std::wstring filter = request.filterName + L'\0' + request.filterPattern + L'\0' + L'\0';
    std::vector<wchar_t> path(32768, L'\0');
    request.fileName.copy(path.data(), path.size() - 1);
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrInitialDir = request.initialFolder.empty() ? nullptr : request.initialFolder.c_str();
    dialog.lpstrDefExt = request.defaultExtension.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOREADONLYRETURN;
    if (getSaveFileName(&dialog))
        return path.data();
    if (const DWORD code = extendedError())
        Bas::ThrowCheck(ERR_FILE_DIALOG_FAILED, Bas::HexText(code));
    return {};
}

} // namespace Mica
