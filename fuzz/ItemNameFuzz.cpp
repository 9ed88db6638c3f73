#include "fuzz/FuzzUnits.h"
#include "zip/ItemNameRule.h"
#include "zip/ItemPath.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb)
{
    const std::wstring strUnits = WideUnits(pData, cb);

    // The rule gets a length, not a terminator: the component sits in a
    // buffer of exactly its size, so a read past its end is caught.
    const std::vector<char16_t> component(strUnits.begin(), strUnits.end());
    IsDeviceName(component.data(), component.size());
    IsRefusedComponent(component.data(), component.size());

    // A stored name, cut at its first zero as the zip layer reads it.
    // Cleaning only drops a prefix and a last "." component, and never
    // leaves a rooted path.
    const std::wstring strStored = strUnits.c_str();
    std::vector<wchar_t> name(strStored.c_str(), strStored.c_str() + strStored.size() + 1);
    CleanItemName(name.data());
    std::wstring strKept = name.data();
    if (strKept.size() < strStored.size() && strStored.back() == L'.' &&
        (strKept.empty() || IsPathSeparator(strKept.back())))
        strKept += L'.';
    if (strStored.compare(strStored.size() - strKept.size(), strKept.size(), strKept) != 0 ||
        ClassifyItemPath(name.data()) == ItemPathKind::Absolute)
        std::abort();
    return 0;
}
