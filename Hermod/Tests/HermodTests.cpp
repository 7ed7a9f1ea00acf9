#include "ErrorReporting.h"
#include "Errors.h"
#include "Handles.h"
#include "Hermod.h"
#include "MapiMailSender.h"
#include "MessageHandlers.h"
#include "NativeFileSystem.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <new>
#include <optional>

namespace {

using Granite::SplitParameter;

TEST(ConsoleCommandLine, ParameterRecords)
{
    const auto option = SplitParameter(L"-s:a:b:c");
    EXPECT_EQ(option.key, L"s");
    EXPECT_EQ(option.value, L"a:b:c") << "only the first colon after the key splits";
    EXPECT_EQ(SplitParameter(L"/nologo").key, L"nologo");
    EXPECT_EQ(SplitParameter(L"/nologo").value, L"");
    // A colon at the second character is part of the key.
    EXPECT_EQ(SplitParameter(L"-:x").key, L":x");
    for (const wchar_t* plain : {L"plain", L"-", L"/", L"C:\\x"}) {
        EXPECT_EQ(SplitParameter(plain).key, L"") << plain;
        EXPECT_EQ(SplitParameter(plain).value, plain);
        EXPECT_EQ(SplitParameter(plain).text, plain);
    }
}

TEST(ConsoleCommandLine, OptionsMatchABeginningOfTheLongName)
{
    const Granite::COption subject = {L"subject", L"s"};
    for (const wchar_t* key : {L"s", L"S", L"subj", L"SUBJECT", L"Subject"})
        EXPECT_TRUE(subject.Matches(key)) << key;
    for (const wchar_t* key : {L"", L"subjects", L"x", L"subjx"})
        EXPECT_FALSE(subject.Matches(key)) << key;
    const Granite::COption noLogo = {L"NoLogo", L""};
    EXPECT_TRUE(noLogo.Matches(L"nologo"));
    EXPECT_FALSE(noLogo.Matches(L"nolog"));
}

TEST(ConsoleCommandLine, NamesAndAddresses)
{
    using V = Granite::CNamedValue;
    auto same = [](const V& a, const V& b) { return a.name == b.name && a.value == b.value; };
    EXPECT_TRUE(same(Granite::SplitNamedValue(L"Zarvo Support <support@zarvo.com>"), {L"Zarvo Support", L"support@zarvo.com"}));
    EXPECT_TRUE(same(Granite::SplitNamedValue(L" plain@x.com "), {L"", L" plain@x.com "}));
    EXPECT_TRUE(same(Granite::SplitNamedValue(L"a <b> <c@d>"), {L"a <b>", L"c@d"}));
    EXPECT_TRUE(same(Granite::SplitNamedValue(L"no <end"), {L"", L"no <end"}));
}

// The options of the mail sender, as Glean's command line gives them.
TEST(HermodOptions, TheCommandLineOfGlean)
{
    Hermod::CHermodApplication application;
    for (const wchar_t* argument : {L"-s:Subject: more", L"-b:Body", L"-a:C:\\Temp\\tmp12345\\Glean.zip",
                                    L"-r:Zarvo Technical Support<support@zarvo.com>", L"-SUBJ:Later subject",
                                    L"/attachment:Shown <C:\\x.bin>"})
        application.ProcessParameter(SplitParameter(argument));
    const auto& message = application.Message();
    EXPECT_EQ(message.subject, L"Later subject");
    EXPECT_EQ(message.body, L"Body");
    ASSERT_EQ(message.recipients.size(), 1u);
    EXPECT_EQ(message.recipients[0].name, L"Zarvo Technical Support");
    EXPECT_EQ(message.recipients[0].address, L"support@zarvo.com");
    ASSERT_EQ(message.attachments.size(), 2u);
    EXPECT_EQ(message.attachments[0].name, L"Glean.zip");
    EXPECT_EQ(message.attachments[1].name, L"Shown");
    EXPECT_EQ(message.attachments[1].path, L"C:\\x.bin");
    // Anything else is an invalid argument, named as it was given.
    for (const wchar_t* bad : {L"-subjects:x", L"plain", L"-x"}) {
        try {
            application.ProcessParameter(SplitParameter(bad));
            ADD_FAILURE() << bad;
        } catch (Bas::CException* raw) {
            auto error = Bas::Own(raw);
            auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
            ASSERT_NE(check, nullptr);
            EXPECT_EQ(&check->Message(), &Granite::ERR_TOOLS_CONSOLE_APPLICATION_INVALID_ARGUMENT);
            EXPECT_EQ(check->Parameter(0), bad);
        }
    }
    // An empty recipient is an internal error.
    EXPECT_THROW(
        {
            try {
                application.ProcessParameter(SplitParameter(L"-r:"));
            } catch (Bas::CException* raw) {
                auto error = Bas::Own(raw);
                EXPECT_NE(dynamic_cast<Bas::CInternalError*>(error.get()), nullptr);
                throw 1;
            }
        },
        int);
}

} // namespace

namespace {

// Standard output a pipe whose reader has gone, while the object lives.
class CClosedPipeOutput {
public:
    CClosedPipeOutput() : m_previous(::GetStdHandle(STD_OUTPUT_HANDLE))
    {
        HANDLE read = nullptr;
        HANDLE write = nullptr;
        EXPECT_TRUE(::CreatePipe(&read, &write, nullptr, 0));
        ::CloseHandle(read);
        m_write.Reset(write);
        ::SetStdHandle(STD_OUTPUT_HANDLE, write);
    }
    ~CClosedPipeOutput() { ::SetStdHandle(STD_OUTPUT_HANDLE, m_previous); }

private:
    HANDLE m_previous;
    Bas::CKernelHandle m_write;
};

// A console program whose run fails as real ones do: out of memory in a
// step, an error of a step, or an error that the step reports on its own
// through the library (as the Extended MAPI route does with the mail
// system's errors); the last two while standard output is a closed pipe.
class CFailingConsole : public Granite::CConsoleApplication {
public:
    enum EFault { OutOfMemory, StepFails, ReportedInStep };
    explicit CFailingConsole(EFault fault) : m_fault(fault) {}
    std::wstring GetUsage() const override { return {}; }

    bool finished = false;
    bool reportedOutOfMemory = false;
    DWORD handledCode = 0;

protected:
    void ParseCommandLine() override {}
    void Execute() override
    {
        if (m_fault == OutOfMemory)
            throw std::bad_alloc();
        Bas::CLastErrorException denied(ERROR_ACCESS_DENIED);
        if (m_fault == ReportedInStep)
            Bas::ReportException(denied);
        Bas::ThrowFileError(ERROR_ACCESS_DENIED, L"attachment.bin");
    }
    void HandleException(Bas::CException& error) override
    {
        reportedOutOfMemory = dynamic_cast<Bas::CMemoryException*>(&error) != nullptr;
        if (const auto* code = dynamic_cast<Bas::CLastErrorException*>(&error))
            handledCode = code->Code();
        if (m_fault == OutOfMemory) {
            SetExitCode(-1);
            return;
        }
        CConsoleApplication::HandleException(error);
    }
    void OnFinish() override { finished = true; }

private:
    EFault m_fault;
};

TEST(ConsoleRun, EveryWayOutFinishesAndRestoresTheHandler)
{
    Bas::CMessageHandler* before = Bas::ApplicationMessageHandler();
    for (const auto fault : {CFailingConsole::OutOfMemory, CFailingConsole::StepFails, CFailingConsole::ReportedInStep}) {
        CFailingConsole application(fault);
        {
            std::optional<CClosedPipeOutput> closed;
            if (fault != CFailingConsole::OutOfMemory)
                closed.emplace();
            // A report that cannot be written inside the library's reporting
            // reaches the run as the write's error, not as a failed check
            // that would end the process (at once: no box waits).
            Bas::SuppressMessageBoxes(true);
            EXPECT_EQ(application.Run(), -1) << fault;
            Bas::SuppressMessageBoxes(false);
        }
        EXPECT_FALSE(Bas::IsReporting()) << fault;
        EXPECT_TRUE(application.finished) << fault;
        EXPECT_EQ(application.reportedOutOfMemory, fault == CFailingConsole::OutOfMemory);
        if (fault == CFailingConsole::ReportedInStep) {
            EXPECT_TRUE(application.handledCode == ERROR_NO_DATA || application.handledCode == ERROR_BROKEN_PIPE)
                << application.handledCode;
        }
        EXPECT_EQ(Bas::ApplicationMessageHandler(), before) << fault;
    }
}

// Code page 1252 has no Cyrillic; 1251 has.
TEST(SimpleMapiCodePage, TextsThatSurviveAndThoseThatDoNot)
{
    using Granite::SurvivesCodePage;
    EXPECT_TRUE(SurvivesCodePage(L"C:\\Temp\\Glean.zip", 1252));
    EXPECT_TRUE(SurvivesCodePage(L"caf\u00E9 \u20AC", 1252));
    EXPECT_FALSE(SurvivesCodePage(L"\u041E\u0442\u0447\u0451\u0442", 1252));
    EXPECT_TRUE(SurvivesCodePage(L"\u041E\u0442\u0447\u0451\u0442", 1251));
    // A best-fit look-alike ("a" for "a" with macron) is no survival.
    EXPECT_FALSE(SurvivesCodePage(L"\u0101", 1252));
    EXPECT_FALSE(SurvivesCodePage(L"\U0001F600", 1252));
    EXPECT_TRUE(SurvivesCodePage(L"\U0001F600", CP_UTF8));
    EXPECT_FALSE(SurvivesCodePage(std::wstring(1, wchar_t(0xD800)), CP_UTF8)) << "a lone surrogate";

    EXPECT_EQ(Granite::ReplaceOutsideCodePage(L"\u041E\u0442-1 \U0001F600.zip", 1252, L'_'), L"__-1 _.zip");

    // The path, else its short form: surviving and shorter than MAX_PATH.
    const std::wstring cyrillic = L"C:\\Users\\\u041E\\Glean.zip";
    const std::wstring deep = L"C:\\" + std::wstring(300, L'a') + L"\\Glean.zip";
    using Granite::PathForCodePage;
    EXPECT_EQ(PathForCodePage(L"C:\\x\\Glean.zip", L"C:\\X\\GLEAN.ZIP", 1252), L"C:\\x\\Glean.zip");
    EXPECT_EQ(PathForCodePage(cyrillic, L"C:\\Users\\1~1\\Glean.zip", 1252), L"C:\\Users\\1~1\\Glean.zip");
    EXPECT_EQ(PathForCodePage(deep, L"C:\\AAAAAA~1\\Glean.zip", 1252), L"C:\\AAAAAA~1\\Glean.zip");
    EXPECT_EQ(PathForCodePage(cyrillic, L"", 1252), L"");
    EXPECT_EQ(PathForCodePage(deep, deep, 1252), L"");
    // Read without "\\?\", "dir." is "dir" and "nul.txt" the device.
    EXPECT_EQ(PathForCodePage(L"C:\\dir.\\Glean.zip", L"C:\\DIR~1\\Glean.zip", 1252), L"C:\\DIR~1\\Glean.zip");
    EXPECT_EQ(PathForCodePage(L"C:\\x\\nul.txt", L"C:\\x\\nul.txt", 1252), L"");
    EXPECT_EQ(PathForCodePage(L"C:\\x\\a \\..\\b.zip", L"", 1252), L"");

    // A recipient: an address that would change is left out, a name shows
    // the address instead; no name leaves it out on every route.
    using Granite::RecipientForCodePage;
    const auto same = [](const std::optional<Granite::CMailAddress>& a, const wchar_t* name, const wchar_t* address) {
        return a && a->name == name && a->address == address;
    };
    EXPECT_TRUE(same(RecipientForCodePage({L"Support", L"s@x.com"}, 1252), L"Support", L"s@x.com"));
    EXPECT_TRUE(same(RecipientForCodePage({L"\u041E", L"s@x.com"}, 1252), L"s@x.com", L"s@x.com"));
    EXPECT_FALSE(RecipientForCodePage({L"Support", L"\u041E@x.com"}, 1252));
    EXPECT_FALSE(RecipientForCodePage({L"", L"s@x.com"}, 1252));
}

// The copy goes under the first root that fits the code page and MAX_PATH
// and takes a folder, and goes with the object; a copy that fails leaves no
// folder behind.
TEST(SimpleMapiCodePage, CopyInAFolderThatFits)
{
    Testing::CTestFolder folder;
    const std::wstring outside = folder / L"\u041E";
    const std::wstring deep = folder / std::wstring(240, L'd');
    const std::wstring fits = folder / L"fits";
    for (const std::wstring& root : {outside, deep, fits})
        ASSERT_TRUE(Bas::MakeFolder(root));
    folder.WriteBytes(L"\u041E\\\u041E\u0442-1.zip", std::string(70000, 'x') + "end");
    const std::wstring source = outside + L"\\\u041E\u0442-1.zip";
    std::wstring kept;
    {
        Granite::CCodePageCopy first(source, {outside, deep, fits}, 1252);
        Granite::CCodePageCopy second(source, {fits}, 1252);
        kept = Bas::FolderOf(first.Path());
        EXPECT_EQ(Bas::FolderOf(kept), fits);
        EXPECT_EQ(Bas::FileNameOf(first.Path()), L"__-1.zip");
        EXPECT_EQ(Testing::ReadFileBytes(first.Path()), std::string(70000, 'x') + "end");
        EXPECT_NE(Bas::FolderOf(second.Path()), kept) << "a folder of its own";
        EXPECT_EQ(Testing::ReadFileBytes(second.Path()), std::string(70000, 'x') + "end");
        // The copy's name reads as itself without "\\?\".
        const std::wstring named = Bas::LongPath(folder / L"\u041E\\nul.zip.");
        Bas::CFileHandle file(::CreateFileW(named.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.Get(), "device", 6, &written, nullptr));
        file = Bas::CFileHandle();
        Granite::CCodePageCopy device(folder / L"\u041E\\nul.zip.", {fits}, 1252);
        EXPECT_EQ(Bas::FileNameOf(device.Path()), L"_nul.zip_");
        EXPECT_EQ(Testing::ReadFileBytes(device.Path()), "device");
    }
    EXPECT_EQ(Bas::PathAttributes(kept), INVALID_FILE_ATTRIBUTES) << "the copy's folder was left";

    try {
        Granite::CCodePageCopy none(source, {outside, deep}, 1252);
        ADD_FAILURE() << "no root fits";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
        ASSERT_NE(check, nullptr);
        EXPECT_EQ(&check->Message(), &Granite::ERR_TOOLS_NO_ATTACHMENT_COPY);
    }
    try {
        Granite::CCodePageCopy missing(folder / L"missing.zip", {fits}, 1252);
        ADD_FAILURE() << "a missing file was copied";
    } catch (Bas::CException* raw) {
        Bas::Own(raw);
    }
    EXPECT_TRUE(Bas::ListFolderEntries(fits, L"*", Bas::FindFileEntries | Bas::FindFolderEntries).empty())
        << "a failed copy left its folder";
}

} // namespace
