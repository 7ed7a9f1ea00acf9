#include "BasaltMessages.h"
#include "ErrorReporting.h"
#include "Errors.h"
#include "Handles.h"
#include "Library.h"
#include "RegistryKey.h"
#include "Message.h"
#include "MessageHandlers.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

TEST(MessageHandlers, AnswerTableAndEventTypes)
{
    struct Row {
        UINT buttons;
        int answers[3];
        WORD type;
    };
    const Row rows[] = {
        {MB_OK, {IDOK, IDOK, IDOK}, EVENTLOG_INFORMATION_TYPE},
        {MB_OKCANCEL, {IDOK, IDCANCEL, IDOK}, EVENTLOG_WARNING_TYPE},
        {MB_YESNO, {IDYES, IDNO, IDYES}, EVENTLOG_INFORMATION_TYPE},
        {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}, EVENTLOG_INFORMATION_TYPE},
        {MB_RETRYCANCEL, {IDRETRY, IDCANCEL, IDRETRY}, EVENTLOG_ERROR_TYPE},
        {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}, EVENTLOG_ERROR_TYPE},
        {MB_CANCELTRYCONTINUE, {IDABORT, IDABORT, IDABORT}, EVENTLOG_INFORMATION_TYPE},
    };
    const UINT defaults[] = {MB_DEFBUTTON1, MB_DEFBUTTON2, MB_DEFBUTTON3};
    for (const Row& row : rows) {
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(Bas::AutomaticAnswer(row.buttons | defaults[column]), row.answers[column])
                << row.buttons << " " << column;
        EXPECT_EQ(Bas::EventTypeFor(row.buttons), row.type) << row.buttons;
    }
    // Icon bits decide the event type before the button set does.
    EXPECT_EQ(Bas::EventTypeFor(MB_OKCANCEL | MB_ICONHAND), EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(Bas::EventTypeFor(MB_RETRYCANCEL | MB_ICONQUESTION), EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(Bas::EventTypeFor(MB_OK | MB_ICONEXCLAMATION), EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(Bas::EventTypeFor(MB_ABORTRETRYIGNORE | MB_ICONASTERISK), EVENTLOG_INFORMATION_TYPE);
}

TEST(MessageHandlers, ConsoleLineBreaks)
{
    using H = Bas::CConsoleMessageHandler;
    EXPECT_EQ(H::ToConsoleLines(L""), L"\r\n");
    EXPECT_EQ(H::ToConsoleLines(L"a\nb"), L"a\r\nb\r\n");
    EXPECT_EQ(H::ToConsoleLines(L"a\r\nb\n"), L"a\r\nb\r\n\r\n");
    EXPECT_EQ(H::ToConsoleLines(L"\n\n"), L"\r\n\r\n\r\n");
    EXPECT_EQ(H::ToConsoleLines(L"a\rb"), L"a\rb\r\n");
}

TEST(MessageHandlers, ChoiceByNameAndEventLogHandler)
{
    EXPECT_NE(dynamic_cast<Bas::CEventLogMessageHandler*>(Bas::NamedMessageHandler(L"EventLog")), nullptr);
    EXPECT_NE(dynamic_cast<Bas::CMessageBoxHandler*>(Bas::NamedMessageHandler(L"MESSAGEBOX")), nullptr);
    EXPECT_NE(dynamic_cast<Bas::CConsoleMessageHandler*>(Bas::NamedMessageHandler(L"console")), nullptr);
    EXPECT_EQ(Bas::NamedMessageHandler(L"EVENTLOGS"), nullptr);
    EXPECT_EQ(Bas::NamedMessageHandler(L""), nullptr);
    // The test program's version block names no handler and its output is
    // redirected by the test runner, so the console handler is the default.
    EXPECT_NE(dynamic_cast<Bas::CConsoleMessageHandler*>(&Bas::DefaultMessageHandler()), nullptr);

    // The event-log handler answers from the table and registers its source
    // with the program as message file.
    const std::wstring key = Bas::CEventLogMessageHandler::SourceKey(L"BasaltTests");
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    Bas::CEventLogMessageHandler handler;
    EXPECT_EQ(handler.ShowMessage(nullptr, L"text", L"caption", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    EXPECT_EQ(handler.ShowMessage(nullptr, L"again", L"caption", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
    wchar_t module[MAX_PATH];
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    EXPECT_EQ(Bas::ReadRegistryString(HKEY_LOCAL_MACHINE, key, L"EventMessageFile"), module);
    // A program that has moved registers its new place.
    {
        Bas::CRegistryKey source;
        ASSERT_TRUE(source.Open(HKEY_LOCAL_MACHINE, key.c_str(), Bas::CRegistryKey::Create));
        source.WriteString(L"EventMessageFile", L"C:\\old place\\BasaltTests.exe");
    }
    Bas::CEventLogMessageHandler moved;
    moved.ShowMessage(nullptr, L"text", L"caption", MB_OK);
    EXPECT_EQ(Bas::ReadRegistryString(HKEY_LOCAL_MACHINE, key, L"EventMessageFile"), module);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
}

// Every text shown through a thread's own handler, with its style.
class CRecordingHandler : public Bas::CMessageHandler {
public:
    CRecordingHandler() { Bas::SetThreadMessageHandler(this); }
    ~CRecordingHandler() override { Bas::SetThreadMessageHandler(nullptr); }
    int ShowMessage(HWND, const std::wstring& text, const std::wstring&, UINT style) override
    {
        shown.emplace_back(text, style);
        return IDOK;
    }
    std::vector<std::pair<std::wstring, UINT>> shown;
};

// An internal error that reaches the top of a program is reported as one:
// counted, system-modal with the hand icon, from the third on with Cancel.
TEST(InternalErrors, ReportedAtTheTopAsInternalErrors)
{
    CRecordingHandler handler;
    for (int i = 0; i < 3; ++i) {
        Bas::CInternalError error(Bas::EInternalError::Assertion, L"x.cpp", 10 + i);
        Bas::ReportException(error);
    }
    ASSERT_EQ(handler.shown.size(), 3u);
    for (const auto& [text, style] : handler.shown)
        EXPECT_EQ(style & (MB_ICONHAND | MB_SYSTEMMODAL), static_cast<UINT>(MB_ICONHAND | MB_SYSTEMMODAL)) << text;
    EXPECT_EQ(handler.shown[2].second & MB_TYPEMASK, static_cast<UINT>(MB_OKCANCEL));
    // Any other error keeps its plain report.
    Bas::CLastErrorException denied(ERROR_ACCESS_DENIED);
    Bas::ReportException(denied);
    ASSERT_EQ(handler.shown.size(), 4u);
    EXPECT_EQ(handler.shown[3], (std::pair{Bas::GetLastErrorText(5), static_cast<UINT>(MB_OK)}));
}

// With "CheckMessagesParamsCount" on, the texts of the library's own errors
// raise no false reports: check exceptions give the parameters they hold,
// internal errors without a code four.
TEST(ParameterCount, NoFalseReportsForTheLibrarysOwnTexts)
{
    CRecordingHandler handler;
    Bas::SetLibraryFlag(Bas::FlagCheckMessagesParamsCount, true);
    Bas::CCheckException(Bas::ERR_FILE_NOT_FOUND, L"x").GetMessageText();
    Bas::CCheckException(Bas::ERR_FILE_GENERIC, L"x", L"why").GetMessageText();
    Bas::CCheckException(Bas::ERR_CANT_LOAD_RESOURCE).GetMessageText();
    Bas::InternalErrorText(Bas::EInternalError::Presumption, "a", "f", "x.cpp", 1, 0);
    Bas::InternalErrorText(Bas::EInternalError::PresumptionWithCode, "a", "f", "x.cpp", 1, 5);
    const std::size_t falseReports = handler.shown.size();
    Bas::Format(Bas::ERR_FILE_NOT_FOUND, std::initializer_list<std::wstring>{});
    Bas::SetLibraryFlag(Bas::FlagCheckMessagesParamsCount, false);
    EXPECT_EQ(falseReports, 0u);
    EXPECT_EQ(handler.shown.size(), 1u) << "a real mismatch is still reported";
}

TEST(InternalErrors, TextsOfTheFourKinds)
{
    EXPECT_EQ(Bas::InternalErrorText(Bas::EInternalError::Presumption, "a == b", "Run", "x.cpp", 12, 0),
              L"Internal Program Error:\nPresumption failed: ( a == b )\nx.cpp, 12.\n( Run ).");
    EXPECT_EQ(Bas::InternalErrorText(Bas::EInternalError::AssertionWithCode, "ok", "F", "y.cpp", 7, 5),
              L"Internal Program Error:\nAssertion failed: ( ok )\ny.cpp, 7.\n( F ).\nError code: " +
                  Bas::HexText(5) + L" - " + Bas::GetLastErrorText(5));
    // Throwing is the normal case; inside a report a failed check is shown
    // and returns instead of throwing out of the report.
    EXPECT_TRUE(Bas::InternalErrorsThrow());
    EXPECT_FALSE(Bas::IsReporting());
    {
        Bas::CReportingScope reporting;
        EXPECT_TRUE(Bas::IsReporting());
    }
    EXPECT_FALSE(Bas::IsReporting());
    EXPECT_THROW(
        {
            try {
                BAS_PRESUME(1 == 2);
            } catch (Bas::CException* raw) {
                auto error = Bas::Own(raw);
                EXPECT_NE(dynamic_cast<Bas::CInternalError*>(error.get()), nullptr);
                throw 1;
            }
        },
        int);
}

TEST(InternalErrors, MinidumpIsWritten)
{
    const std::wstring path = Bas::WriteMinidump();
    ASSERT_FALSE(path.empty());
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    EXPECT_GT(data.nFileSizeLow, 32u);
    ::DeleteFileW(path.c_str());

    // A writer that outlives the wait keeps what it writes into and closes
    // its file when it is done.
    EXPECT_TRUE(Bas::WriteMinidump(0).empty());
    bool closed = false;
    for (int i = 0; i < 300 && !closed; ++i) {
        Bas::CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        closed = file.IsValid();
        if (!closed)
            ::Sleep(100);
    }
    EXPECT_TRUE(closed) << "the dump file is still open";
    ::DeleteFileW(path.c_str());
}

TEST(LibrarySettings, FlagParsing)
{
    for (const wchar_t* yes : {L"1", L"TRUE", L"true", L" Yes ", L"on", L"-3", L"42"})
        EXPECT_TRUE(Bas::SettingIsTrue(yes)) << yes;
    for (const wchar_t* no : {L"", L"0", L"false", L"no", L"off", L"maybe", L"1x"})
        EXPECT_FALSE(Bas::SettingIsTrue(no)) << no;
    unsigned flags = 0;
    flags = Bas::ApplyFlagSetting(flags, L"KeepTempFiles", L"1");
    flags = Bas::ApplyFlagSetting(flags, L"SaveAllMessages", L"true");
    flags = Bas::ApplyFlagSetting(flags, L"CreateMinidumpOnInternalError", L"yes");
    EXPECT_EQ(flags, 0x1u | 0x400u | 0x8000u);
    flags = Bas::ApplyFlagSetting(flags, L"SaveAllMessages", L"0");
    flags = Bas::ApplyFlagSetting(flags, L"NoSuchSetting", L"1");
    EXPECT_EQ(flags, 0x1u | 0x8000u);
    EXPECT_EQ(Bas::ApplyFlagSetting(0, L"CheckMessagesParamsCount", L"1"), 0x800u);
    EXPECT_EQ(Bas::ApplyFlagSetting(0, L"SaveUndefinedMessages", L"1"), 0x2u);
}

} // namespace

namespace {

TEST(ParameterCount, Reports)
{
    using V = std::vector<std::wstring>;
    EXPECT_EQ(Bas::CheckParameterCount(L"%0 and %2", 3), V{L"Some parameters in message \"%0 and %2\" are missing: 1."});
    EXPECT_EQ(Bas::CheckParameterCount(L"%0 and %1", 2), V{});
    EXPECT_EQ(Bas::CheckParameterCount(L"no inserts", 0), V{});
    EXPECT_EQ(Bas::CheckParameterCount(L"%1 %4", 2),
              (V{L"Number of params in message \"%1 %4\" is invalid: 5, expected 2.",
                 L"Some parameters in message \"%1 %4\" are missing: 0 ,2 ,3."}));
    EXPECT_EQ(Bas::CheckParameterCount(L"100% of %0", 0), V{L"Number of params in message \"100% of %0\" is invalid: 1, expected 0."});
}

} // namespace
