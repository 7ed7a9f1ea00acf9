#include "GleanDlg.h"

#include "BasaltMessages.h"
#include "CommonDialogsMica.h"
#include "Errors.h"
#include "File.h"
#include "MainLog.h"
#include "MessageLoopMica.h"
#include "GleanSettings.h"
#include "MessageHandlers.h"
#include "NativeFileSystem.h"
#include "Sha256.h"
#include "TempFile.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <new>
#include <vector>

namespace Glean {

CGleanDlg::CGleanDlg(int language)
    : Mica::CDialog(language == kArabic ? kTemplateRightToLeft : kTemplate), m_language(language)
{
}

void CGleanDlg::setText(int id, const Bas::CMessageName& message)
{
    if (Bas::IsDefined(message))
        SetItemText(id, Bas::GetText(message));
    else if (id == IDC_SUGGESTION)
        SetItemText(id, L""); // the template's placeholder says nothing to a user
}

void CGleanDlg::OnInitDialog()
{
    // The marquee runs while messages are pumped; the bar stays hidden
    // until a collection starts.
    ::SendMessageW(Item(IDC_PROGRESS), PBM_SETMARQUEE, TRUE, 50);
    setText(IDC_LABEL, MSG_SYSTEM_INFORMATION);
    setText(IDC_SAVE, MSG_SAVE_BUTTON);
    setText(IDC_SEND, MSG_SEND_BUTTON);
    setText(IDC_EXIT, MSG_EXIT_BUTTON);
    setText(IDC_SUGGESTION, MSG_SUGGESTION);

    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    m_bigIcon.Reset(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIcon), IMAGE_ICON,
                                                    ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0)));
    m_smallIcon.Reset(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIcon), IMAGE_ICON,
                                                      ::GetSystemMetrics(SM_CXSMICON),
                                                      ::GetSystemMetrics(SM_CYSMICON), 0)));
    ::SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon.Get()));
    ::SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon.Get()));

    // The system information is gathered before the window is first shown.
    m_collector = std::make_unique<CLogCollector>();
    SetItemText(IDC_SYSTEM_INFORMATION, m_collector->MainLogText());

    if (m_language == kArabic) {
        // The system information reads left to right and the label stays at
        // the right. An edit control made in the mirrored dialog inherits
        // its layout, and a layout changed after creation leaves its scroll
        // bar unpainted, so the control is made again without it.
        leftToRightEdit();
        HWND label = Item(IDC_LABEL);
        ::SetWindowLongPtrW(label, GWL_EXSTYLE, ::GetWindowLongPtrW(label, GWL_EXSTYLE) & ~LONG_PTR{WS_EX_LAYOUTRTL});
        ::SetWindowLongPtrW(label, GWL_STYLE, ::GetWindowLongPtrW(label, GWL_STYLE) | SS_RIGHT);
        RECT client;
        ::GetClientRect(Handle(), &client);
        ::InvalidateRect(Handle(), &client, TRUE);
    }
}

void CGleanDlg::leftToRightEdit()
{
    HWND old = Item(IDC_SYSTEM_INFORMATION);
    RECT place;
    ::GetWindowRect(old, &place);
    ::MapWindowPoints(HWND_DESKTOP, Handle(), reinterpret_cast<POINT*>(&place), 2);
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(old, GWL_STYLE)) & ~DWORD{ES_RIGHT};
    const auto exStyle = static_cast<DWORD>(::GetWindowLongPtrW(old, GWL_EXSTYLE)) &
                         ~DWORD{WS_EX_RIGHT | WS_EX_RTLREADING | WS_EX_LAYOUTRTL};
    // Children of a dialog with WS_EX_NOINHERITLAYOUT are not mirrored.
    const LONG_PTR dialogExStyle = ::GetWindowLongPtrW(Handle(), GWL_EXSTYLE);
    ::SetWindowLongPtrW(Handle(), GWL_EXSTYLE, dialogExStyle | WS_EX_NOINHERITLAYOUT);
    HWND edit = ::CreateWindowExW(exStyle, L"Edit", L"", style, place.left, place.top, place.right - place.left,
                                  place.bottom - place.top, Handle(),
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SYSTEM_INFORMATION)),
                                  ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(Handle(), GWL_EXSTYLE, dialogExStyle);
    if (edit == nullptr)
        Bas::ThrowLastError();
    ::SendMessageW(edit, WM_SETFONT, ::SendMessageW(old, WM_GETFONT, 0, 0), FALSE);
    ::SetWindowPos(edit, old, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::DestroyWindow(old);
    SetItemText(IDC_SYSTEM_INFORMATION, m_collector->MainLogText());
}

void CGleanDlg::OnCommand(int id)
{
    switch (id) {
    case IDC_SAVE:
        busy([this] { save(); });
        break;
    case IDC_SEND:
        busy([this] { send(); });
        break;
    case IDC_EXIT:
    case IDCANCEL:
        Close();
        break;
    }
}

void CGleanDlg::busy(const std::function<void()>& action)
{
    EnableItem(IDC_SAVE, false);
    EnableItem(IDC_SEND, false);
    try {
        action();
    } catch (Bas::CUserException* raw) {
        // The user closed the program during the run.
        Bas::Own(raw);
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        Bas::ReportException(*error);
    } catch (const std::bad_alloc&) {
        Bas::CMemoryException error;
        Bas::ReportException(error);
    }
    EnableItem(IDC_SAVE, true);
    EnableItem(IDC_SEND, true);
}

std::wstring CGleanDlg::askDestination()
{
    // The file dialog may change the current directory.
    std::vector<wchar_t> current(32768);
    const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data());
    Mica::CSaveFileRequest request;
    request.filterName = L"Zip Archive";
    request.filterPattern = L"*.zip";
    request.defaultExtension = L"zip";
    request.initialFolder = CGleanSettings::SpecialFolder(CSIDL_PERSONAL);
    request.fileName = L"Glean.zip";
    const std::wstring destination = Mica::AskSaveFileName(Handle(), request);
    if (!destination.empty() && length > 0 && !::SetCurrentDirectoryW(current.data()))
        Bas::ThrowLastError();
    return destination;
}

void CGleanDlg::save()
{
    const std::wstring destination = askDestination();
    if (destination.empty())
        return;
    discardPreviousRun();
    saveAndShow(destination, true);
}

void CGleanDlg::saveAndShow(const std::wstring& destination, bool collectFirst)
{
    std::wstring summary;
    withProgress([&] {
        if (collectFirst)
            collect();
        // The key to masked data stays with the user, beside the archive.
        const std::wstring key = m_collector->CopyArchive(destination);
        summary = summaryText(destination);
        if (!key.empty())
            summary += L"\n\n" + Bas::Format(MSG_PRIVACY_KEY_SAVED, key);
    });
    Bas::ShowMessage(summary, MB_OK | MB_ICONINFORMATION);
}

void CGleanDlg::send()
{
    discardPreviousRun();
    // Mail servers refuse large attachments; above the limit the user may
    // save the archive already collected instead.
    const int limit = CGleanSettings::Instance().MaxMailSizeMB();
    std::uint64_t size = 0;
    bool tooLarge = false;
    std::wstring key;
    withProgress([&] {
        collect();
        size = FileSize(m_collector->ArchivePath());
        tooLarge = limit > 0 && size > std::uint64_t(limit) * 1048576;
        if (!tooLarge)
            key = copyForMail();
    });
    if (tooLarge) {
        const int answer = Bas::ShowMessage(Bas::Format(MSG_ARCHIVE_TOO_LARGE_FOR_MAIL, MegabytesText(size),
                                                        std::to_wstring(limit)),
                                            MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDNO) {
            const std::wstring destination = askDestination();
            if (!destination.empty())
                saveAndShow(destination, false);
            return;
        }
        if (answer != IDYES)
            return;
        withProgress([&] { key = copyForMail(); });
    }
    SendArchive(Bas::JoinPath(m_sendFolder, kMailArchiveName));
    if (!key.empty())
        Bas::ShowMessage(Bas::Format(MSG_PRIVACY_KEY_SAVED, key), MB_OK | MB_ICONINFORMATION);
}

std::wstring CGleanDlg::copyForMail()
{
    // The key of a mailed archive goes into the user's documents, where no
    // other Send's key replaces it.
    m_sendFolder = Bas::CreateTempFolder(Bas::GetTempFolder());
    return m_collector->CopyArchive(Bas::JoinPath(m_sendFolder, kMailArchiveName),
                                    CGleanSettings::SpecialFolder(CSIDL_PERSONAL));
}

void CGleanDlg::discardPreviousRun()
{
    // The copy made for the mail and the mail sender written out for it;
    // the previous archive itself goes when the collector packs a new one.
    if (!m_sendFolder.empty()) {
        Bas::RemoveFolderTree(m_sendFolder);
        m_sendFolder.clear();
    }
    if (!m_mailSender.empty()) {
        if (Bas::IsTempFile(m_mailSender))
            Bas::DeleteTempFile(m_mailSender);
        m_mailSender.clear();
    }
}

std::wstring CGleanDlg::summaryText(const std::wstring& destination)
{
    const std::uint64_t size = FileSize(destination);
    return Bas::Format(MSG_ARCHIVE_SAVED, destination, MegabytesText(size),
                       Granite::FileSha256Text(destination, [] { Mica::PumpMessagesNowAndThen(); }),
                       std::to_wstring(size));
}

std::uint64_t CGleanDlg::FileSize(const std::wstring& path)
{
    return Bas::CFile(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead | Bas::CFile::ShareWrite).GetLength();
}

std::wstring CGleanDlg::MegabytesText(std::uint64_t bytes)
{
    wchar_t text[32];
    std::swprintf(text, 32, L"%.2f", static_cast<double>(bytes) / 1048576.0);
    // The digits are written with a point whatever the locale says.
    for (wchar_t& c : text)
        if (c == L',')
            c = L'.';
    return text;
}

std::wstring MailSenderCommandLine(const std::array<std::wstring, 6>& values)
{
    // Inside quotes the mail sender reads two quotes as one.
    std::wstring quoted[6];
    for (std::size_t i = 0; i < values.size(); ++i) {
        for (const wchar_t c : values[i]) {
            quoted[i] += c;
            if (c == L'"')
                quoted[i] += L'"';
        }
    }
    return Bas::FormatText(L"\"%0\" -s:\"%1\" -b:\"%2\" -a:\"%3\" -r:\"%4<%5>\"", quoted, 6);
}

void CGleanDlg::SendArchive(const std::wstring& archive)
{
    // The mail interface of a mail client can only be used from a process
    // of its own bitness.
    CWindowsMainLogSystem system;
    const CGleanSettings& settings = CGleanSettings::Instance();
    CMainLog mainLog(system, {settings.AppName(), settings.AppPath(), settings.TempDir()});
    const wchar_t* resource = mainLog.GetOutlookBitness() == OutlookBitness::x64 ? L"IDR_HERMOD64" : L"IDR_HERMOD32";
    HRSRC found = ::FindResourceW(nullptr, resource, L"RT_BINARY");
    HGLOBAL loaded = found != nullptr ? ::LoadResource(nullptr, found) : nullptr;
    const DWORD size = found != nullptr ? ::SizeofResource(nullptr, found) : 0;
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr || size == 0)
        Bas::ThrowCheck(Bas::ERR_CANT_LOAD_RESOURCE);
    const std::wstring program = Bas::CreateTempFile(Bas::GetTempFolder(), L"tmp", L"tmp");
    m_mailSender = program;
    {
        Bas::CFile file(program, Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
        file.Write(bytes, size);
    }

    std::wstring commandLine =
        MailSenderCommandLine({program, Bas::GetText(MSG_SUBJ_MAIL), Bas::GetText(MSG_BODY_MAIL), archive,
                               settings.RecipientName(), settings.RecipientAddress()});
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &started))
        Bas::ThrowLastError();
    const Bas::CKernelHandle process(started.hProcess);
    const Bas::CKernelHandle thread(started.hThread);
    // The window stays alive while the mail sender runs; closing it ends
    // the wait, and the mail sender keeps running.
    for (;;) {
        const DWORD result = ::MsgWaitForMultipleObjects(1, &started.hProcess, FALSE, INFINITE, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0)
            return;
        if (result == WAIT_FAILED)
            Bas::ThrowLastError();
        Mica::PumpMessages();
    }
}

void CGleanDlg::collect()
{
    m_collector->CollectLogs();
    m_collector->PackArchive();
}

void CGleanDlg::withProgress(const std::function<void()>& work)
{
    // The bar stays through the copy, its read-back and the digest, while
    // messages are pumped between their blocks.
    HWND progress = Item(IDC_PROGRESS);
    setText(IDC_SUGGESTION, MSG_COLLECTING_FILES);
    ::ShowWindow(progress, SW_SHOW);
    ::SendMessageW(progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    auto restore = [&] {
        setText(IDC_SUGGESTION, MSG_SUGGESTION);
        ::ShowWindow(progress, SW_HIDE);
    };
    try {
        work();
    } catch (Bas::CException*) {
        restore();
        throw;
    }
    restore();
}

} // namespace Glean
