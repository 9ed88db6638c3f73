#pragma once

#include "engine/ReleaseFormat.h"

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>

// The exe carries the key as an RCDATA resource of this name when it was
// built with SETUP_RELEASE_KEY (cmake/ReleaseKey.cmake writes it); the
// libraries and the programs without it stay in the mode without releases.
constexpr wchar_t kReleaseKeyResource[] = L"RELEASE_KEY";

// The key resource of the exe. False when there is none; a resource of any
// other size also counts as a key, one that verifies nothing.
bool LoadReleaseKey(ReleaseKey* pKey);

// SHA-256 through CNG; false (logged) when the system cannot compute it.
bool Sha256Of(const uint8_t* pData, size_t cbData, Sha256Digest* pDigest);

// SHA-256 through CNG over pieces as they come; a failure (logged when the
// hash cannot be made) makes Finish false.
class Sha256Stream {
public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(const Sha256Stream&) = delete;
    Sha256Stream& operator=(const Sha256Stream&) = delete;

    // One piece of at most 4 GiB.
    bool Add(const uint8_t* pData, size_t cbData);
    bool Finish(Sha256Digest* pDigest);

private:
    void* m_hAlgorithm = nullptr;
    void* m_hHash = nullptr;
    bool m_bFailed = false;
};

// Whether the signature (r || s) of the text verifies with the key, through
// CNG. *plStatus is the status of the failed call, for the log.
bool VerifyReleaseSignature(const ReleaseKey& key, const uint8_t* pText, size_t cbText, const uint8_t* pSignature,
                            size_t cbSignature, LONG* plStatus);
