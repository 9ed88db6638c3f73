#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    // A crash must fail the test run, not wait for a click on a dialog.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
