// Download throughput of HttpDownload and the peak memory of the process.
//   net_bench.exe ROUNDS URL [ROUNDS URL ...]
// Each URL gets a fresh 10 MiB buffer, as the setup window starts with one,
// and is fetched ROUNDS times into it: the first call grows the buffer for
// a larger body, the later ones reuse what it grew to.
#include "net/HttpDownload.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int32_t kInitialCapacity = 0xA00000;
constexpr double kMiB = 1024.0 * 1024.0;

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    LARGE_INTEGER freq;
    ::QueryPerformanceFrequency(&freq);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
}

bool Measure(const wchar_t* pszUrl, int nRounds)
{
    uint8_t* pBuffer = new uint8_t[kInitialCapacity]();
    int32_t nCapacity = kInitialCapacity;
    wchar_t szUser[64] = {};
    wchar_t szPassword[64] = {};
    std::vector<double> rates;
    int32_t nSize = 0;
    for (int i = 0; i < nRounds; ++i) {
        std::memset(pBuffer, 0, static_cast<size_t>(nCapacity));
        nSize = 0;
        LARGE_INTEGER start, end;
        ::QueryPerformanceCounter(&start);
        int nResult = HttpDownload(pszUrl, &pBuffer, &nSize, &nCapacity, szUser, szPassword, nullptr);
        ::QueryPerformanceCounter(&end);
        if (nResult != 1) {
            std::printf("download failed: %ls\n", pszUrl);
            delete[] pBuffer;
            return false;
        }
        rates.push_back(nSize / kMiB / Seconds(start, end));
    }
    delete[] pBuffer;

    std::vector<double> later(rates.begin() + 1, rates.end());
    std::sort(later.begin(), later.end());
    PROCESS_MEMORY_COUNTERS pmc = {sizeof(pmc)};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof(pmc));
    std::printf("HttpDownload %8.1f MiB  first %8.1f MiB/s  later median %8.1f MiB/s (%d)  buffer %.1f MiB  "
                "peak working set %.1f MiB\n",
                nSize / kMiB, rates[0], later.empty() ? 0.0 : later[later.size() / 2], static_cast<int>(later.size()),
                nCapacity / kMiB, pmc.PeakWorkingSetSize / kMiB);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3 || argc % 2 == 0) {
        std::printf("usage: net_bench.exe ROUNDS URL [ROUNDS URL ...]\n");
        return 2;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!Measure(argv[i + 1], std::max(1, _wtoi(argv[i]))))
            return 1;
    }
    return 0;
}
