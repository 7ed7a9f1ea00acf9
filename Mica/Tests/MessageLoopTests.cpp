#include "ApplicationMica.h"
#include "DialogMica.h"
#include "Errors.h"
#include "MessageLoopMica.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Whether a quit request with this code is waiting; it is taken.
bool QuitWaiting(WPARAM code)
{
    MSG message;
    return ::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && message.wParam == code;
}

bool ThrowsUserException()
{
    try {
        Mica::PumpMessages();
    } catch (Bas::CUserException* raw) {
        Bas::Own(raw);
        return true;
    }
    return false;
}

// A quit request ends the work and stays for the loop the work was started
// from, with its exit code.
TEST(PumpMessages, QuitEndsTheWorkAndIsPutBack)
{
    ::PostQuitMessage(7);
    EXPECT_TRUE(ThrowsUserException());
    EXPECT_TRUE(QuitWaiting(7));
    EXPECT_FALSE(ThrowsUserException()) << "nothing is waiting any more";

    // The same inside a modal loop, whose filter never sees the quit.
    int offered = 0;
    Mica::SetModalFilter([](MSG&, void* count) { return ++*static_cast<int*>(count), true; }, &offered);
    ::PostThreadMessageW(::GetCurrentThreadId(), WM_USER, 0, 0);
    EXPECT_FALSE(ThrowsUserException());
    EXPECT_EQ(offered, 1);
    ::PostQuitMessage(3);
    EXPECT_TRUE(ThrowsUserException());
    Mica::SetModalFilter(nullptr, nullptr);
    EXPECT_EQ(offered, 1);
    EXPECT_TRUE(QuitWaiting(3));
}

} // namespace

namespace {

class CFailingApplication : public Mica::CApplication {
public:
    CFailingApplication() : Mica::CApplication(L"Test") {}

protected:
    bool StartUp() override { throw new Bas::CInternalError(Bas::EInternalError::Assertion, L"start.cpp", 1); }
};

class CRecordingHandler : public Bas::CMessageHandler {
public:
    int ShowMessage(HWND, const std::wstring&, const std::wstring&, UINT style) override
    {
        styles.push_back(style);
        // A quit request waiting here would close a real message box at once.
        MSG message;
        quitWaiting.push_back(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE);
        return IDOK;
    }
    std::vector<UINT> styles;
    std::vector<bool> quitWaiting;
};

class CFailingDialog : public Mica::CDialog {
public:
    CFailingDialog() : Mica::CDialog(200) {}

protected:
    void OnInitDialog() override { throw new Bas::CInternalError(Bas::EInternalError::Assertion, L"dialog.cpp", 2); }
};

// The main dialog fails while it opens.
class CFailingDialogApplication : public Mica::CApplication {
public:
    CFailingDialogApplication() : Mica::CApplication(L"Test") {}

protected:
    bool StartUp() override
    {
        SetMainDialog(&m_dialog);
        m_dialog.Create();
        return true;
    }

private:
    CFailingDialog m_dialog;
};

// An internal error that escapes StartUp is reported as one (system-modal,
// with the hand icon), and the program ends with exit code 1.
TEST(Application, AnErrorOfStartUpIsReportedAsWhatItIs)
{
    CRecordingHandler handler;
    Bas::SetThreadMessageHandler(&handler);
    const int code = CFailingApplication().Run();
    Bas::SetThreadMessageHandler(nullptr);
    EXPECT_EQ(code, 1);
    ASSERT_EQ(handler.styles.size(), 1u);
    EXPECT_EQ(handler.styles[0] & (MB_ICONHAND | MB_SYSTEMMODAL), static_cast<UINT>(MB_ICONHAND | MB_SYSTEMMODAL));
}

// The same for an error of the main dialog's opening: its window is gone,
// and no quit request closes the report before it is read.
TEST(Application, AnErrorOfTheDialogsOpeningStaysOnScreen)
{
    CRecordingHandler handler;
    Bas::SetThreadMessageHandler(&handler);
    const int code = CFailingDialogApplication().Run();
    Bas::SetThreadMessageHandler(nullptr);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(handler.quitWaiting, std::vector<bool>{false});
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

} // namespace
