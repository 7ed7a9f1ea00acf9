// The collector's application object and its start-up.
#pragma once

#include "ApplicationMica.h"
#include "CommandLine.h"
#include "GleanAppLog.h"
#include "GleanDlg.h"
#include "GleanSettings.h"

#include <memory>
#include <string>
#include <vector>

namespace Glean {

struct CGleanCommandLine {
    std::vector<int> languages;   // in the order the switches were given
    std::wstring outputPath;      // silent mode when not empty
    std::wstring settingsPath;    // empty: Glean.ini beside the program
};

// Checks the arguments after the program's own and fills the result.
// Throws ERR_GLEAN_HELP_MESSAGE for /? or /help without a value, and
// ERR_GLEAN_BAD_COMMAND_LINE for anything it cannot accept.
CGleanCommandLine ParseGleanCommandLine(const Bas::CCommandLine& commandLine);

class CGleanApp : public Mica::CApplication {
public:
    CGleanApp();

    const std::wstring& ProgramFolder() const noexcept { return m_programFolder; }
    const CGleanCommandLine& CommandLine() const noexcept { return m_commandLine; }

protected:
    bool StartUp() override;
    int OnStartUpError(Bas::CException& error) override;

private:
    void runSilently(const std::wstring& outputPath);

    CGleanSettings m_settings;
    CGleanAppLog m_appLog;
    std::unique_ptr<CGleanDlg> m_dialog;
    std::wstring m_programFolder;
    CGleanCommandLine m_commandLine;
};

} // namespace Glean
