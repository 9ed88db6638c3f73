#include "engine/InstallObserver.h"

std::wstring InstallErrorText(const InstallError& error)
{
    switch (error.kind) {
    case InstallError::kListDownload:
        return L"下载Setupconfig.txt失败";
    case InstallError::kListEmpty:
        return L"divozira.txt为空";
    case InstallError::kFolders:
        return L"安装失败";
    case InstallError::kPackageDownload:
        return L"下载" + error.strPackage + L"失败";
    case InstallError::kPackageInstall:
        return L"安装" + error.strPackage + L"失败";
    case InstallError::kVerification:
        return L"校验失败";
    case InstallError::kTimedOut:
        return L"安装超时，请检查网络后重试";
    }
    return L"";
}

std::wstring PackageStatusText(const std::wstring& strPackage)
{
    return L"正在安装" + strPackage + L" ......";
}
