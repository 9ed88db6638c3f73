#include "engine/SetupCommandLine.h"
#include "fuzz/FuzzUnits.h"
#include "system/CommandLineArgs.h"

#include <cstdlib>

// The installer's arguments as wWinMain gets them, and the folder of /D= as
// both programs normalise it: a normalised folder normalises to itself.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb)
{
    const std::wstring strArgs = WideUnits(pData, cb);
    SetupCommandLine commandLine;
    if (!ParseSetupCommandLine(strArgs.c_str(), &commandLine) || commandLine.strFolder.empty())
        return 0;
    std::wstring strFolder;
    std::wstring strAgain;
    if (NormalizeFolderPath(commandLine.strFolder, &strFolder) &&
        (!NormalizeFolderPath(strFolder, &strAgain) || strAgain != strFolder))
        std::abort();
    return 0;
}
