#pragma once

#include "engine/ReleaseFormat.h"
#include "system/InstallLocation.h"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

constexpr int kInstallAttempts = 3;
constexpr DWORD kRunTimeoutMs = 300000;

// Everything an install session is told; nothing else of the caller's
// reaches it.
struct InstallSettings {
    InstallLocation location = {};
    // Every server file is this followed by its name.
    std::wstring strBaseUrl;
    // Hosts that serve the same files at the same path, tried in order when
    // the base URL's host fails a file.
    std::vector<std::wstring> vecMirrorHosts;
    // The package groups this machine installs (PackageGroupsFor).
    std::set<int> setPackageGroups;
    // With a key every attempt needs a release it signed.
    bool bReleaseRequired = false;
    ReleaseKey releaseKey = {};
    // Unattended: a proxy that asks for credentials gets none.
    bool bSilent = false;
    int nAttempts = kInstallAttempts;
    // Longest time one attempt may take before it is stopped.
    DWORD dwRunTimeout = kRunTimeoutMs;
    // Threads that write and check files beside the run's own. Under Wine
    // each file's creation or opening waits on the server, and the other
    // threads work meanwhile; each thread also keeps about 1 MiB resident.
    int nFileHelpers = 1;
};

// The settings of this program: its own server, mirrors and release key.
InstallSettings ProgramInstallSettings(const InstallLocation& location, std::set<int> setPackageGroups, bool bSilent);
