#include <gtest/gtest.h>

#include <windows.h>
#include <gdiplus.h>

namespace {

// GDI+ for the whole test run, as the application starts it for its life.
class GdiplusEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&m_token, &input, nullptr);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(m_token); }

private:
    ULONG_PTR m_token = 0;
};

const testing::Environment* const g_pGdiplus = testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

}  // namespace
