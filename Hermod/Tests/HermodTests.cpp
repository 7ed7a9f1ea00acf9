#include "Errors.h"
#include "Hermod.h"
#include "MessageHandlers.h"

#include <gtest/gtest.h>

#include <new>

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

// A console program whose run fails as real ones do: out of memory in a
// step, or a report that cannot be written (standard output a pipe whose
// reader has gone).
class CFailingConsole : public Granite::CConsoleApplication {
public:
    enum EFault { OutOfMemory, ReportFails };
    explicit CFailingConsole(EFault fault) : m_fault(fault) {}
    std::wstring GetUsage() const override { return {}; }

    bool finished = false;
    bool reportedOutOfMemory = false;

protected:
    void ParseCommandLine() override {}
    void Execute() override
    {
        if (m_fault == OutOfMemory)
            throw std::bad_alloc();
        Bas::ThrowFileError(ERROR_ACCESS_DENIED, L"attachment.bin");
    }
    void HandleException(Bas::CException& error) override
    {
        reportedOutOfMemory = dynamic_cast<Bas::CMemoryException*>(&error) != nullptr;
        if (m_fault == ReportFails)
            Bas::ThrowLastError(ERROR_BROKEN_PIPE);
        SetExitCode(-1);
    }
    void OnFinish() override { finished = true; }

private:
    EFault m_fault;
};

TEST(ConsoleRun, EveryWayOutFinishesAndRestoresTheHandler)
{
    Bas::CMessageHandler* before = Bas::ApplicationMessageHandler();
    for (const auto fault : {CFailingConsole::OutOfMemory, CFailingConsole::ReportFails}) {
        CFailingConsole application(fault);
        EXPECT_EQ(application.Run(), -1) << fault;
        EXPECT_TRUE(application.finished) << fault;
        EXPECT_EQ(application.reportedOutOfMemory, fault == CFailingConsole::OutOfMemory);
        EXPECT_EQ(Bas::ApplicationMessageHandler(), before) << fault;
    }
}

} // namespace
