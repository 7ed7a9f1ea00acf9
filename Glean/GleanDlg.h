// The main dialog: the system information of the main log, and Save, Send
// and Exit. Save and Send each run a collection and copy the archive; Send
// then hands it to the mail sender and tells where the key of masked data
// went.
#pragma once

#include "DialogMica.h"
#include "Handles.h"
#include "LogCollector.h"
#include "Message.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Glean {

// The dialog's texts; the language modules carry them.
inline const Bas::CMessageName MSG_SYSTEM_INFORMATION{L"MSG_SYSTEM_INFORMATION"};
inline const Bas::CMessageName MSG_SAVE_BUTTON{L"MSG_SAVE_BUTTON"};
inline const Bas::CMessageName MSG_SEND_BUTTON{L"MSG_SEND_BUTTON"};
inline const Bas::CMessageName MSG_EXIT_BUTTON{L"MSG_EXIT_BUTTON"};
inline const Bas::CMessageName MSG_SUGGESTION{L"MSG_SUGGESTION"};
inline const Bas::CMessageName MSG_COLLECTING_FILES{L"MSG_COLLECTING_FILES"};
inline const Bas::CMessageName MSG_SUBJ_MAIL{L"MSG_SUBJ_MAIL"};
inline const Bas::CMessageName MSG_BODY_MAIL{L"MSG_BODY_MAIL"};
// The summary after a Save, and the question before a large Send.
inline const Bas::CMessageName MSG_ARCHIVE_SAVED{L"MSG_ARCHIVE_SAVED"};
inline const Bas::CMessageName MSG_ARCHIVE_TOO_LARGE_FOR_MAIL{L"MSG_ARCHIVE_TOO_LARGE_FOR_MAIL"};
inline const Bas::CMessageName MSG_PRIVACY_KEY_SAVED{L"MSG_PRIVACY_KEY_SAVED"};

// The mail sender's command line: program, subject, body, archive,
// recipient name and address, each quoted so that it reads back whole.
std::wstring MailSenderCommandLine(const std::array<std::wstring, 6>& values);

class CGleanDlg : public Mica::CDialog {
public:
    enum : UINT { kTemplate = 101, kTemplateRightToLeft = 102, kIcon = 101 };
    enum : int {
        IDC_LABEL = 103,
        IDC_SYSTEM_INFORMATION = 1000,
        IDC_EXIT = 1002,
        IDC_SEND = 1003,
        IDC_PROGRESS = 1004,
        IDC_SUGGESTION = 1005,
        IDC_SAVE = 1008,
    };
    // The interface language Arabic (61) takes the right-to-left template.
    static constexpr int kArabic = 61;

    explicit CGleanDlg(int language);

    // Writes out the mail sender that matches the installed Outlook's
    // bitness and runs it on the archive, waiting while the window stays
    // alive. Its exit code is not looked at: it reports its own errors.
    void SendArchive(const std::wstring& archive);

protected:
    void OnInitDialog() override;
    void OnCommand(int id) override;

private:
    void save();
    void send();
    // The path the user picks in the save-file dialog; empty on Cancel.
    std::wstring askDestination();
    // One collection run, up to the packed archive.
    void collect();
    // The packed archive copied for the mail, with its key into the
    // documents folder when masking; returns the key's path.
    std::wstring copyForMail();
    // The work with the progress bar and the collecting text shown.
    void withProgress(const std::function<void()>& work);
    // Where the archive went, its size and its SHA-256, for support to
    // check what they receive.
    static std::wstring summaryText(const std::wstring& destination);
    // With the bar shown, collects first when asked, then copies the
    // archive with the key of masked data beside it; shows the summary.
    void saveAndShow(const std::wstring& destination, bool collectFirst);
    // Removes what the previous Save or Send left: the copy for the mail
    // and the mail sender written out.
    void discardPreviousRun();
    static std::uint64_t FileSize(const std::wstring& path);
    // Megabytes with two decimals.
    static std::wstring MegabytesText(std::uint64_t bytes);
    // Runs an action with Save and Send disabled; its errors are reported
    // (a cancellation silently) and the buttons are enabled again.
    void busy(const std::function<void()>& action);
    void leftToRightEdit();
    // The message's text, or the template's own when no module has one.
    void setText(int id, const Bas::CMessageName& message);

    // The name the mailed archive has in its folder.
    static constexpr wchar_t kMailArchiveName[] = L"Glean.zip";

    int m_language;
    std::unique_ptr<CLogCollector> m_collector;
    std::wstring m_sendFolder;
    std::wstring m_mailSender;
    Bas::CIconHandle m_bigIcon;
    Bas::CIconHandle m_smallIcon;
};

} // namespace Glean
