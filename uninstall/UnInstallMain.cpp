// UnInstall.exe "<install folder>" [/S]: removes an installation of the
// client after asking. See uninstall/Uninstaller.h for the switches and the
// exit codes.
#include "framework/DllSearch.h"
#include "system/ClientFiles.h"
#include "system/ClientProcess.h"
#include "uninstall/SelfRelaunch.h"
#include "uninstall/Uninstaller.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

constexpr wchar_t kCaption[] = L"卸载Fenmora";
constexpr DWORD kWaitForStarterMs = 30000;

class CArguments {
public:
    CArguments() : m_ppszArgs(::CommandLineToArgvW(::GetCommandLineW(), &m_nArgs)) {}
    ~CArguments() { ::LocalFree(m_ppszArgs); }
    CArguments(const CArguments&) = delete;
    CArguments& operator=(const CArguments&) = delete;

    // The arguments after the program's own path.
    int Count() const { return m_ppszArgs && m_nArgs > 1 ? m_nArgs - 1 : 0; }
    const wchar_t* const* Values() const { return m_ppszArgs ? m_ppszArgs + 1 : nullptr; }

private:
    int m_nArgs = 0;
    wchar_t** m_ppszArgs;
};

int Tell(const UninstallRequest& request, const std::wstring& strText, UINT uIcon, int nExit)
{
    if (!request.bSilent)
        ::MessageBoxW(nullptr, strText.c_str(), kCaption, MB_OK | uIcon | MB_SETFOREGROUND);
    return nExit;
}

int Run(const UninstallRequest& request)
{
    std::wstring strFolder;
    if (!NormalizeInstallFolder(request.strFolder.c_str(), &strFolder))
        return Tell(request, request.strFolder + L"\n不是Fenmora的安装目录，无法卸载。", MB_ICONERROR,
                    kUninstallRefused);

    // Checked before the hand-over, so that the starter's exit code tells a
    // refusal: the copy's own code reaches nobody.
    if (CheckInstallation(strFolder) != InstallCheck::Installation)
        return Tell(request, strFolder + L"\n不是Fenmora的安装目录，无法卸载。", MB_ICONERROR, kUninstallRefused);
    if (FindProcess(kClientProgramName, strFolder.c_str()))
        return Tell(request, L"程序正在运行，请先关闭程序再卸载", MB_ICONINFORMATION, kUninstallRunning);

    if (request.hWaitFor) {
        ::WaitForSingleObject(request.hWaitFor, kWaitForStarterMs);
        ::CloseHandle(request.hWaitFor);
    } else {
        wchar_t szSelf[MAX_PATH];
        DWORD cch = ::GetModuleFileNameW(nullptr, szSelf, MAX_PATH);
        std::wstring strSelf;
        if (cch > 0 && cch < MAX_PATH && NormalizeInstallFolder(szSelf, &strSelf) &&
            IsInsideFolder(strSelf, strFolder)) {
            if (RelaunchFromTemp(strFolder, request.bSilent))
                return kUninstallDone;
            return Tell(request, L"无法启动卸载程序，请稍后重试。", MB_ICONERROR, kUninstallUsage);
        }
    }

    if (!request.bSilent) {
        const std::wstring strQuestion =
            L"确定要卸载Fenmora吗？\n\n将删除安装目录 " + strFolder + L" 及其中的所有文件。";
        if (::MessageBoxW(nullptr, strQuestion.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) !=
            IDYES)
            return kUninstallCancelled;
    }

    const UninstallResult result = RemoveInstallation(strFolder);
    if (!result.bFolderRemoved && !result.bRegistrationRemoved)
        return Tell(request, L"Fenmora未能卸载：程序文件无法删除，请关闭程序后重试。\n" + strFolder, MB_ICONWARNING,
                    kUninstallIncomplete);
    if (!result.bFolderRemoved)
        return Tell(request, L"Fenmora已卸载，但以下目录中仍有文件无法删除，请手动删除：\n" + strFolder, MB_ICONWARNING,
                    kUninstallIncomplete);
    return Tell(request, L"Fenmora已成功卸载。", MB_ICONINFORMATION, kUninstallDone);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // The copy runs from the temp folder: no DLL is ever taken from there.
    RestrictDllSearch();

    CArguments args;
    UninstallRequest request;
    if (!ParseUninstallArguments(args.Count(), args.Values(), &request)) {
        if (!request.bSilent)
            ::MessageBoxW(nullptr, L"用法：UnInstall.exe \"安装目录\"", kCaption, MB_OK | MB_ICONERROR);
        return kUninstallUsage;
    }
    return Run(request);
}
