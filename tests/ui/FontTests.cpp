#include "tests/support/TempDir.h"
#include "engine/PackageList.h"
#include "ui/FontCheck.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

namespace {

// The test session replaces "微软雅黑" and "Microsoft YaHei" with an
// installed face; UI_TEST_FONTS=absent says a run has them removed.
bool ReplacementsAbsent()
{
    const char* pszFonts = std::getenv("UI_TEST_FONTS");
    return pszFonts && std::string(pszFonts) == "absent";
}

}  // namespace

TEST(Fonts, GdiIgnoresCaseGdiplusDoesNot)
{
    if (ReplacementsAbsent())
        GTEST_SKIP() << "needs the font replacements";
    struct Case {
        const wchar_t* pszFace;
        bool bGdi;
        bool bGdiplus;
    };
    const Case cases[] = {
        {L"微软雅黑", true, true},
        {L"Microsoft YaHei", true, true},
        {L"microsoft yahei", true, false},
        {L"MICROSOFT YAHEI", true, false},
        {L"Fenmora No Such Face", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.bGdi, FindFontByGdi(c.pszFace)) << Narrow(c.pszFace);
        EXPECT_EQ(c.bGdiplus, FindFontByGdiplus(c.pszFace)) << Narrow(c.pszFace);
    }
}

TEST(Fonts, PackageGroupsFollowTheFace)
{
    // Both font systems are asked, as before every install.
    if (ReplacementsAbsent()) {
        EXPECT_FALSE(IsFontInstalled());
        EXPECT_EQ((std::set<int>{1, 3}), PackageGroupsFor(IsFontInstalled()));
    } else {
        EXPECT_TRUE(IsFontInstalled());
        EXPECT_EQ((std::set<int>{1, 2}), PackageGroupsFor(IsFontInstalled()));
    }
}
