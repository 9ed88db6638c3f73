#include "engine/ReleaseFormat.h"

#include <cstdlib>

// Whatever release text the installer takes writes back byte for byte:
// no two texts read as the same release.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb)
{
    const std::string strText(reinterpret_cast<const char*>(pData), cb);
    Release release;
    if (ParseRelease(strText, &release) && FormatRelease(release) != strText)
        std::abort();
    return 0;
}
