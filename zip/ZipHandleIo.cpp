#include "zip/ZipHandleIo.h"

#include "framework/SafeFile.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {

// minizip reads every header field with a call of its own and seeks before
// each block; under Wine each ReadFile and seek is a trip into the system.
// Two windows, one for the central directory and one where the entries
// are, serve those reads from memory; a block as large as a window is read
// straight into the caller's buffer.
constexpr DWORD kWindowSize = 16384;

struct Window {
    uint64_t nStart = 0;
    DWORD cbValid = 0;
    uint64_t nLastUse = 0;
    uint8_t data[kWindowSize];

    bool Holds(uint64_t nPos) const { return nPos >= nStart && nPos - nStart < cbValid; }
};

struct HandleStream {
    HANDLE hFile;
    // Where the file's bytes start and end for minizip; zeros come before
    // them and the view's tail after them.
    uint64_t nShift;
    uint64_t nEnd;
    const uint8_t* pTail;
    int nError = 0;
    // Where minizip reads next.
    uint64_t nPos = 0;
    uint64_t nUses = 0;
    Window windows[2];

    explicit HandleStream(const ArchiveView& view)
        : hFile(view.hArchive), nShift(view.nShift), nEnd(view.nShift + view.nEnd), pTail(view.tail)
    {
    }
};

// Reads at a position of the view from the file itself; readers on other
// threads may share the handle.
DWORD ReadAt(HandleStream* pStream, uint64_t nPos, void* pBuffer, DWORD cb)
{
    DWORD cbRead = 0;
    if (!ReadFileAt(pStream->hFile, nPos - pStream->nShift, pBuffer, cb, &cbRead)) {
        pStream->nError = static_cast<int>(::GetLastError());
        return 0;
    }
    return cbRead;
}

voidpf ZCALLBACK OpenStream(voidpf opaque, const void*, int nMode)
{
    if ((nMode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return nullptr;
    return new (std::nothrow) HandleStream(*static_cast<const ArchiveView*>(opaque));
}

// Reads what the view takes from the file, up to its end.
uLong ReadFromFile(HandleStream* pStream, uint8_t* pOut, uLong cb)
{
    uLong cbDone = 0;
    while (cbDone < cb && pStream->nPos < pStream->nEnd) {
        uLong cbLeft = cb - cbDone;
        if (pStream->nPos < pStream->nShift) {
            if (cbLeft > pStream->nShift - pStream->nPos)
                cbLeft = static_cast<uLong>(pStream->nShift - pStream->nPos);
            std::memset(pOut + cbDone, 0, cbLeft);
            pStream->nPos += cbLeft;
            cbDone += cbLeft;
            continue;
        }
        if (cbLeft > pStream->nEnd - pStream->nPos)
            cbLeft = static_cast<uLong>(pStream->nEnd - pStream->nPos);
        Window* pHit = nullptr;
        for (Window& w : pStream->windows)
            if (w.Holds(pStream->nPos))
                pHit = &w;
        if (!pHit && cbLeft >= kWindowSize) {
            const DWORD cbRead = ReadAt(pStream, pStream->nPos, pOut + cbDone, cbLeft);
            pStream->nPos += cbRead;
            cbDone += cbRead;
            if (cbRead < cbLeft)
                break;
            continue;
        }
        if (!pHit) {
            Window* pOld = &pStream->windows[0];
            if (pStream->windows[1].nLastUse < pOld->nLastUse)
                pOld = &pStream->windows[1];
            pOld->cbValid = 0;
            pOld->nStart = pStream->nPos;
            const DWORD cbWanted = pStream->nEnd - pStream->nPos < kWindowSize
                                       ? static_cast<DWORD>(pStream->nEnd - pStream->nPos)
                                       : kWindowSize;
            pOld->cbValid = ReadAt(pStream, pStream->nPos, pOld->data, cbWanted);
            if (pOld->cbValid == 0)
                break;
            pHit = pOld;
        }
        pHit->nLastUse = ++pStream->nUses;
        const uint64_t nOffset = pStream->nPos - pHit->nStart;
        DWORD cbCopy = pHit->cbValid - static_cast<DWORD>(nOffset);
        if (cbCopy > cbLeft)
            cbCopy = cbLeft;
        std::memcpy(pOut + cbDone, pHit->data + nOffset, cbCopy);
        pStream->nPos += cbCopy;
        cbDone += cbCopy;
    }
    return cbDone;
}

uLong ZCALLBACK ReadStream(voidpf, voidpf stream, void* pBuffer, uLong cb)
{
    auto* pStream = static_cast<HandleStream*>(stream);
    auto* pOut = static_cast<uint8_t*>(pBuffer);
    uLong cbDone = ReadFromFile(pStream, pOut, cb);
    if (cbDone == cb || pStream->nPos < pStream->nEnd || pStream->nPos - pStream->nEnd >= kZip64LocatorSize)
        return cbDone;
    const size_t nOffset = static_cast<size_t>(pStream->nPos - pStream->nEnd);
    uLong cbCopy = static_cast<uLong>(kZip64LocatorSize - nOffset);
    if (cbCopy > cb - cbDone)
        cbCopy = cb - cbDone;
    std::memcpy(pOut + cbDone, pStream->pTail + nOffset, cbCopy);
    pStream->nPos += cbCopy;
    return cbDone + cbCopy;
}

uLong ZCALLBACK WriteStream(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

ZPOS64_T ZCALLBACK TellStream(voidpf, voidpf stream)
{
    return static_cast<HandleStream*>(stream)->nPos;
}

long ZCALLBACK SeekStream(voidpf, voidpf stream, ZPOS64_T nOffset, int nOrigin)
{
    auto* pStream = static_cast<HandleStream*>(stream);
    uint64_t nBase = 0;
    if (nOrigin == ZLIB_FILEFUNC_SEEK_CUR) {
        nBase = pStream->nPos;
    } else if (nOrigin == ZLIB_FILEFUNC_SEEK_END) {
        nBase = pStream->nEnd + kZip64LocatorSize;
    } else if (nOrigin != ZLIB_FILEFUNC_SEEK_SET) {
        return -1;
    }
    const uint64_t nTarget = nBase + nOffset;
    // Positions past the signed 64-bit range are refused like a failed seek.
    if (static_cast<int64_t>(nTarget) < 0)
        return -1;
    pStream->nPos = nTarget;
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

void FillHandleFileFuncs(const ArchiveView* pView, zlib_filefunc64_def* pFuncs)
{
    pFuncs->zopen64_file = OpenStream;
    pFuncs->zread_file = ReadStream;
    pFuncs->zwrite_file = WriteStream;
    pFuncs->ztell64_file = TellStream;
    pFuncs->zseek64_file = SeekStream;
    pFuncs->zclose_file = CloseStream;
    pFuncs->zerror_file = StreamError;
    pFuncs->opaque = const_cast<ArchiveView*>(pView);
}
