#include "system/SingleInstance.h"

#include <sddl.h>

namespace {

constexpr wchar_t kNamespace[] = L"FenmoraSetup";
constexpr wchar_t kPrivateMutex[] = L"FenmoraSetup\\Running";
constexpr wchar_t kGlobalMutex[] = L"Global\\FenmoraSetup.Running";
// The namespace and the mutex in it: the Administrators and SYSTEM only.
constexpr wchar_t kGuardSddl[] = L"D:P(A;;GA;;;BA)(A;;GA;;;SY)";

}  // namespace

CSingleInstance::~CSingleInstance()
{
    m_mutex.Reset();
    if (m_hNamespace)
        ::ClosePrivateNamespace(m_hNamespace, 0);
    if (m_hBoundary)
        ::DeleteBoundaryDescriptor(m_hBoundary);
}

bool CSingleInstance::Acquire()
{
    bool bAnswered = false;
    const bool bFirst = AcquirePrivate(&bAnswered);
    if (bAnswered)
        return bFirst;
    // A mutex another user made and may not share also means a copy runs.
    m_mutex.Reset(::CreateMutexW(nullptr, FALSE, kGlobalMutex));
    return m_mutex && ::GetLastError() != ERROR_ALREADY_EXISTS;
}

// *pbAnswered false: no private namespace here; the global name decides.
bool CSingleInstance::AcquirePrivate(bool* pbAnswered)
{
    // Wine returns no descriptor, and must not be asked for the rest.
    m_hBoundary = ::CreateBoundaryDescriptorW(kNamespace, 0);
    if (!m_hBoundary)
        return false;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD cbSid = sizeof(sid);
    ScopedLocal descriptor;
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &cbSid) ||
        !::AddSIDToBoundaryDescriptor(&m_hBoundary, sid) ||
        !::ConvertStringSecurityDescriptorToSecurityDescriptorW(kGuardSddl, SDDL_REVISION_1, descriptor.Put(), nullptr))
        return false;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), descriptor.Get(), FALSE};
    m_hNamespace = ::CreatePrivateNamespaceW(&sa, m_hBoundary, kNamespace);
    if (!m_hNamespace && ::GetLastError() == ERROR_ALREADY_EXISTS)
        m_hNamespace = ::OpenPrivateNamespaceW(m_hBoundary, kNamespace);
    // A process without the Administrators in its token cannot make it.
    if (!m_hNamespace)
        return false;
    *pbAnswered = true;
    m_mutex.Reset(::CreateMutexW(&sa, FALSE, kPrivateMutex));
    return m_mutex && ::GetLastError() != ERROR_ALREADY_EXISTS;
}
