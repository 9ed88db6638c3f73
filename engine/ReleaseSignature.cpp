#include "engine/ReleaseSignature.h"

#include "framework/ScopedHandle.h"
#include "log/Log.h"

#include <bcrypt.h>

#include <cstring>

namespace {

struct AlgorithmTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct KeyTraits {
    using Handle = BCRYPT_KEY_HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::BCryptDestroyKey(h); }
};
struct HashTraits {
    using Handle = BCRYPT_HASH_HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::BCryptDestroyHash(h); }
};
using ScopedAlgorithm = CScopedHandle<AlgorithmTraits>;
using ScopedKey = CScopedHandle<KeyTraits>;
using ScopedHash = CScopedHandle<HashTraits>;

bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

NTSTATUS OpenAlgorithm(const wchar_t* pszAlgorithm, ScopedAlgorithm* pAlgorithm)
{
    BCRYPT_ALG_HANDLE h = nullptr;
    const NTSTATUS status = ::BCryptOpenAlgorithmProvider(&h, pszAlgorithm, nullptr, 0);
    pAlgorithm->Reset(Succeeded(status) ? h : nullptr);
    return status;
}

// BCryptHash would do it in one call, but only from Windows 10 on.
NTSTATUS HashOnce(const uint8_t* pData, size_t cbData, Sha256Digest* pDigest)
{
    ScopedAlgorithm algorithm;
    NTSTATUS status = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM, &algorithm);
    if (!Succeeded(status))
        return status;
    BCRYPT_HASH_HANDLE hHash = nullptr;
    status = ::BCryptCreateHash(algorithm.Get(), &hHash, nullptr, 0, nullptr, 0, 0);
    if (!Succeeded(status))
        return status;
    ScopedHash hash(hHash);
    // One call takes at most 4 GiB; the bodies here stay below 2 GiB.
    status = ::BCryptHashData(hash.Get(), const_cast<PUCHAR>(pData), static_cast<ULONG>(cbData), 0);
    if (!Succeeded(status))
        return status;
    return ::BCryptFinishHash(hash.Get(), pDigest->data(), static_cast<ULONG>(pDigest->size()), 0);
}

NTSTATUS Verify(const ReleaseKey& key, const uint8_t* pText, size_t cbText, const uint8_t* pSignature,
                size_t cbSignature)
{
    constexpr NTSTATUS kInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);  // STATUS_INVALID_SIGNATURE
    if (cbSignature != kReleaseSignatureBytes)
        return kInvalidSignature;
    Sha256Digest digest;
    NTSTATUS status = HashOnce(pText, cbText, &digest);
    if (!Succeeded(status))
        return status;
    ScopedAlgorithm algorithm;
    status = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM, &algorithm);
    if (!Succeeded(status))
        return status;

    // A public key blob: its header, then X and Y.
    uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    const BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof(header));
    std::memcpy(blob + sizeof(header), key.data(), key.size());
    BCRYPT_KEY_HANDLE hKey = nullptr;
    status = ::BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &hKey, blob, sizeof(blob), 0);
    if (!Succeeded(status))
        return status;
    ScopedKey publicKey(hKey);
    return ::BCryptVerifySignature(publicKey.Get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                   const_cast<PUCHAR>(pSignature), static_cast<ULONG>(cbSignature), 0);
}

}  // namespace

bool LoadReleaseKey(ReleaseKey* pKey)
{
    HRSRC hInfo = ::FindResourceW(nullptr, kReleaseKeyResource, RT_RCDATA);
    if (!hInfo)
        return false;
    pKey->fill(0);
    HGLOBAL hData = ::LoadResource(nullptr, hInfo);
    const void* pData = hData ? ::LockResource(hData) : nullptr;
    if (pData && ::SizeofResource(nullptr, hInfo) == pKey->size())
        std::memcpy(pKey->data(), pData, pKey->size());
    return true;
}

bool Sha256Of(const uint8_t* pData, size_t cbData, Sha256Digest* pDigest)
{
    const NTSTATUS status = HashOnce(pData, cbData, pDigest);
    if (!Succeeded(status)) {
        LogError(L"[CSetupDlg::CheckRelease] SHA-256 failed status=0x%08lx", static_cast<unsigned long>(status));
        return false;
    }
    return true;
}

Sha256Stream::Sha256Stream()
{
    ScopedAlgorithm algorithm;
    NTSTATUS status = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM, &algorithm);
    BCRYPT_HASH_HANDLE hHash = nullptr;
    if (Succeeded(status))
        status = ::BCryptCreateHash(algorithm.Get(), &hHash, nullptr, 0, nullptr, 0, 0);
    if (!Succeeded(status)) {
        LogError(L"[CSetupDlg::CheckRelease] SHA-256 failed status=0x%08lx", static_cast<unsigned long>(status));
        return;
    }
    m_hAlgorithm = algorithm.Release();
    m_hHash = hHash;
}

Sha256Stream::~Sha256Stream()
{
    if (m_hHash)
        ::BCryptDestroyHash(m_hHash);
    if (m_hAlgorithm)
        ::BCryptCloseAlgorithmProvider(m_hAlgorithm, 0);
}

bool Sha256Stream::Add(const uint8_t* pData, size_t cbData)
{
    m_bFailed = m_bFailed || !m_hHash ||
                !Succeeded(::BCryptHashData(m_hHash, const_cast<PUCHAR>(pData), static_cast<ULONG>(cbData), 0));
    return !m_bFailed;
}

bool Sha256Stream::Finish(Sha256Digest* pDigest)
{
    if (m_bFailed || !m_hHash)
        return false;
    const NTSTATUS status = ::BCryptFinishHash(m_hHash, pDigest->data(), static_cast<ULONG>(pDigest->size()), 0);
    // A finished hash takes nothing more.
    m_bFailed = true;
    return Succeeded(status);
}

bool VerifyReleaseSignature(const ReleaseKey& key, const uint8_t* pText, size_t cbText, const uint8_t* pSignature,
                            size_t cbSignature, LONG* plStatus)
{
    *plStatus = Verify(key, pText, cbText, pSignature, cbSignature);
    return Succeeded(*plStatus);
}
