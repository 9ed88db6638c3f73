#include "engine/SetupCommandLine.h"
#include "system/CommandLineArgs.h"

#include <gtest/gtest.h>

TEST(SetupCommandLine, Parse)
{
    struct Case {
        const wchar_t* pszArgs;
        bool bValid;
        bool bSilent;
        const wchar_t* pszFolder;
    };
    const Case cases[] = {
        {L"", true, false, L""},
        {L"  ", true, false, L""},
        {L"/S", true, true, L""},
        {L"-s", true, true, L""},
        {L"\"/S\"", true, true, L""},
        {L"/S /D=R:\\Apps 中文 目录", true, true, L"R:\\Apps 中文 目录"},
        {L"/d=\"C:\\Program Files\\Brivex\"  ", true, false, L"C:\\Program Files\\Brivex"},
        {L"-D=C:\\a /S", true, false, L"C:\\a /S"},
        {L"/S /D= \"C:\\x\"", true, true, L"C:\\x"},
        {L"/D=\tC:\\x y", true, false, L"C:\\x y"},
        {L"/D=", false, false, L""},
        {L"/X", false, false, L""},
        {L"/S /SS", false, true, L""},
        {L"S", false, false, L""},
    };
    for (const Case& c : cases) {
        SetupCommandLine commandLine;
        EXPECT_EQ(ParseSetupCommandLine(c.pszArgs, &commandLine), c.bValid) << static_cast<int>(c.pszArgs[0]);
        if (c.bValid) {
            EXPECT_EQ(commandLine.bSilent, c.bSilent);
            EXPECT_EQ(commandLine.strFolder, c.pszFolder);
        }
    }
}

TEST(CommandLineArgs, Folder)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Apps", L"C:\\Apps"},
        {L"c:/apps/./x\\", L"c:\\apps\\x"},
        {L"R:\\", L"R:\\"},
        {L"\\\\server\\share\\dir", L"\\\\server\\share\\dir"},
        {L"Apps", nullptr},
        {L"", nullptr},
        {L"C:", nullptr},
        {L"C:Apps", nullptr},
        {L"\\Apps", nullptr},
        {L"\\\\server", nullptr},
        {L"\\\\?\\C:\\Apps", nullptr},
        {L"C:\\a\\..\\b", nullptr},
        {L"C:\\..", nullptr},
        {L"C:\\a.\\b", nullptr},
        {L"C:\\a \\b", nullptr},
        {L"C:\\a:b", nullptr},
        {L"C:\\a|b", nullptr},
        {L"C:\\Apps\\con", nullptr},
        {L"C:\\NUL.txt\\x", nullptr},
        {L"C:\\com1 .log", nullptr},
        {L"R:\\Apps\\lpt9", nullptr},
        {L"R:\\CONIN$", nullptr},
        {L"\\\\server\\aux\\dir", nullptr},
        {L"C:\\console\\COM10\\nul_", L"C:\\console\\COM10\\nul_"},
        {L"C:\\x\\COM\u00B9", nullptr},
        {L"\u00E9:\\x", nullptr},
        {L"\uFF21:\\x", nullptr},
        {L"\\\\localhost\\pipe\\x", nullptr},
        {L"\\\\localhost\\MailSlot\\x", nullptr},
        {L"\\\\;LanmanRedirector\\srv\\sh", nullptr},
        {L"\\\\ srv\\sh", nullptr},
        {L"C:\\Apps\\\u202Eexe.txt", nullptr},
        {L"C:\\Apps\\a\u2067b", nullptr},
        {L"\\\\fs-01.corp_x\\pipeline\\x", L"\\\\fs-01.corp_x\\pipeline\\x"},
        // The administrative shares reach a server's drives and system.
        {L"\\\\localhost\\C$\\Apps", nullptr},
        {L"\\\\127.0.0.1\\ADMIN$\\x", nullptr},
        {L"\\\\srv\\ipc$", nullptr},
        {L"\\\\srv\\print$\\x", nullptr},
        {L"\\\\?\\C:\\Apps", nullptr},
        {L"\\\\srv\\Apps$\\x", L"\\\\srv\\Apps$\\x"},
    };
    for (const auto& c : cases) {
        std::wstring strFolder;
        EXPECT_EQ(NormalizeFolderPath(c.first, &strFolder), c.second != nullptr) << c.first[0];
        if (c.second) {
            EXPECT_EQ(strFolder, c.second);
        }
    }
}

TEST(SetupCommandLine, WindowsFolder)
{
    struct Case {
        const wchar_t* pszFolder;
        const wchar_t* pszWindows;
        bool bInside;
    };
    const Case cases[] = {
        {L"C:\\windows", L"C:\\windows", true},
        {L"c:\\WINDOWS\\x\\y", L"C:\\windows", true},
        {L"C:\\windows\\x", L"C:\\windows\\", true},
        {L"C:\\windows2", L"C:\\windows", false},
        {L"C:\\win", L"C:\\windows", false},
        {L"D:\\windows\\x", L"C:\\windows", false},
        {L"C:\\", L"C:\\windows", false},
        {L"C:\\Apps", L"C:\\", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsInWindowsFolder(c.pszFolder, c.pszWindows), c.bInside) << &c - cases;
}

TEST(SetupCommandLine, ExitCodes)
{
    auto code = [](bool bStarted, bool bFinished, bool bSucceeded, bool bStop, unsigned long dwError,
                   bool bSilent = false, bool bRegistered = true) {
        InstallOutcome outcome;
        outcome.bStarted = bStarted;
        outcome.bFinished = bFinished;
        outcome.bSucceeded = bSucceeded;
        outcome.bStopRequested = bStop;
        outcome.bRegistered = bRegistered;
        outcome.dwLastError = dwError;
        return ExitCodeFor(outcome, bSilent);
    };
    EXPECT_EQ(code(true, true, true, false, 0), kExitInstalled);
    EXPECT_EQ(code(true, true, true, false, 0, true), kExitInstalled);
    // Deployment tools find an installation by its entry; the window's
    // install counts without it.
    EXPECT_EQ(code(true, true, true, false, 0, true, false), kExitFailed);
    EXPECT_EQ(code(true, true, true, false, 0, false, false), kExitInstalled);
    EXPECT_EQ(code(false, false, false, false, 0), kExitUserClosed);
    EXPECT_EQ(code(false, false, false, false, 0, true), kExitFailed);
    EXPECT_EQ(code(true, true, false, true, 0), kExitUserClosed);
    EXPECT_EQ(code(true, true, false, false, 0), kExitFailed);
    EXPECT_EQ(code(true, false, false, false, 0), kExitFailed);
    EXPECT_EQ(code(true, true, false, false, 112), kExitDiskFull);
    EXPECT_EQ(code(true, true, false, false, 39), kExitDiskFull);
    EXPECT_EQ(code(true, true, false, false, 5), kExitFailed);
}
