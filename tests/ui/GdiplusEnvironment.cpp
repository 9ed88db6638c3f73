#include <gtest/gtest.h>

#include <windows.h>
#include <gdiplus.h>
#include <objbase.h>

namespace {

// COM and GDI+ for the whole test run, as the application starts them on
// its main thread for its life.
class GdiplusEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&m_token, &input, nullptr);
    }
    void TearDown() override
    {
        Gdiplus::GdiplusShutdown(m_token);
        ::CoUninitialize();
    }

private:
    ULONG_PTR m_token = 0;
};

const testing::Environment* const g_pGdiplus = testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

}  // namespace
