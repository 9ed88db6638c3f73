#include "zip/ZipHandleIo.h"

namespace {

struct HandleStream {
    HANDLE hFile;
    int nError;
};

voidpf ZCALLBACK OpenStream(voidpf opaque, const void*, int nMode)
{
    if ((nMode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return nullptr;
    return new HandleStream{static_cast<HANDLE>(opaque), 0};
}

uLong ZCALLBACK ReadStream(voidpf, voidpf stream, void* pBuffer, uLong cb)
{
    auto* pStream = static_cast<HandleStream*>(stream);
    DWORD cbRead = 0;
    if (!::ReadFile(pStream->hFile, pBuffer, cb, &cbRead, nullptr))
        pStream->nError = static_cast<int>(::GetLastError());
    return cbRead;
}

uLong ZCALLBACK WriteStream(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

ZPOS64_T ZCALLBACK TellStream(voidpf, voidpf stream)
{
    auto* pStream = static_cast<HandleStream*>(stream);
    LARGE_INTEGER zero = {};
    LARGE_INTEGER position = {};
    if (!::SetFilePointerEx(pStream->hFile, zero, &position, FILE_CURRENT))
        return static_cast<ZPOS64_T>(-1);
    return static_cast<ZPOS64_T>(position.QuadPart);
}

long ZCALLBACK SeekStream(voidpf, voidpf stream, ZPOS64_T nOffset, int nOrigin)
{
    auto* pStream = static_cast<HandleStream*>(stream);
    DWORD dwMethod = FILE_BEGIN;
    if (nOrigin == ZLIB_FILEFUNC_SEEK_CUR)
        dwMethod = FILE_CURRENT;
    else if (nOrigin == ZLIB_FILEFUNC_SEEK_END)
        dwMethod = FILE_END;
    else if (nOrigin != ZLIB_FILEFUNC_SEEK_SET)
        return -1;
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(nOffset);
    if (!::SetFilePointerEx(pStream->hFile, distance, nullptr, dwMethod)) {
        pStream->nError = static_cast<int>(::GetLastError());
        return -1;
    }
    return 0;
}

// The handle stays open: it belongs to the caller.
int ZCALLBACK CloseStream(voidpf, voidpf stream)
{
    delete static_cast<HandleStream*>(stream);
    return 0;
}

int ZCALLBACK StreamError(voidpf, voidpf stream)
{
    return static_cast<HandleStream*>(stream)->nError;
}

}  // namespace

void FillHandleFileFuncs(HANDLE hArchive, zlib_filefunc64_def* pFuncs)
{
    pFuncs->zopen64_file = OpenStream;
    pFuncs->zread_file = ReadStream;
    pFuncs->zwrite_file = WriteStream;
    pFuncs->ztell64_file = TellStream;
    pFuncs->zseek64_file = SeekStream;
    pFuncs->zclose_file = CloseStream;
    pFuncs->zerror_file = StreamError;
    pFuncs->opaque = hArchive;
}
