// Loads each DLL named on the command line the way a program without a
// restricted DLL search does: the program's own folder comes first.
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    int nLoaded = 0;
    for (int i = 1; i < argc; ++i) {
        if (LoadLibraryW(argv[i]))
            ++nLoaded;
    }
    return nLoaded == argc - 1 ? 0 : 1;
}
