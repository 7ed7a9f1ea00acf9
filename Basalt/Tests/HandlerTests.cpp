#include "ErrorReporting.h"
#include "Errors.h"
#include "Library.h"
#include "RegistryKey.h"
#include "Message.h"
#include "MessageHandlers.h"

#include <gtest/gtest.h>

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
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
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
