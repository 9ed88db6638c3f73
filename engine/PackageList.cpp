#include "engine/PackageList.h"

#include "engine/SetupEngine.h"
#include "log/Log.h"

std::set<int> PackageGroupsFor(bool bYaHeiInstalled)
{
    return {1, bYaHeiInstalled ? 2 : 3};
}

int CSetupEngine::Execute(int* pnCount)
{
    const std::wstring strUrl = m_strBaseUrl + L"divozira.txt";
    LogNormal(L"[CSetupDlg::Execute] start download  %ls", strUrl.c_str());
    if (!FetchIntoBuffer(strUrl.c_str())) {
        ShowError(L"下载Setupconfig.txt失败");
        LogError(L"[CSetupDlg::Execute] download Setupconfig.txt failed");
        return 0;
    }
    if (m_nDownloadSize < 3) {
        ShowError(L"下载Setupconfig.txt失败");
        LogError(L"[CSetupDlg::Execute] download Setupconfig.txt faile");
        return 0;
    }

    // Copied out, so later downloads may reuse the buffer.
    const std::wstring strText = ServerListText(m_pDownloadBuffer, m_nDownloadSize);
    LogNormal(L"[CSetupDlg::Execute] divozira.txt Begin");
    LogNormal(L"[CSetupDlg::Execute] %ls", strText.c_str());
    LogNormal(L"[CSetupDlg::Execute] divozira.txt End");
    if (strText.empty() || ParsePackageList(strText, &m_vecPackages) <= 0) {
        ShowError(L"divozira.txt为空");
        LogError(L"[CSetupDlg::Execute]Setupconfig.txt no content");
        return 0;
    }
    LogNormal(L"[CSetupDlg::Execute] download divozira.txt sccuss");
    *pnCount = static_cast<int>(m_vecPackages.size());
    return 1;
}
