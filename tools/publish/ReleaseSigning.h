#pragma once

#include "engine/ReleaseFormat.h"

#include <cstdint>
#include <string>
#include <vector>

// The publisher's key pair, as --new-key writes it.
constexpr char kPrivateKeyFile[] = "release-private.pem";
constexpr char kPublicKeyFile[] = "release-public.der";

// Makes an ECDSA P-256 key pair in the folder: the private key as PKCS #8
// PEM, readable by its owner only, and the public key as DER
// SubjectPublicKeyInfo (what the installer's SETUP_RELEASE_KEY takes).
// Refuses to replace a key that is there. *pFingerprint is the SHA-256 of
// the public key file in hex. False with a message.
bool MakeReleaseKey(const std::string& strFolder, std::string* pFingerprint, std::string* pError);

// Signs the text with the P-256 private key in the PEM file: r || s as the
// installer verifies it. *pFingerprint names the public key that verifies
// it. The key itself never leaves this call. False with a message.
bool SignReleaseText(const std::string& strKeyFile, const std::string& strText, std::string* pSignature,
                     std::string* pFingerprint, std::string* pError);

// SHA-256 and size of a file, read in pieces; false when it cannot be read.
bool HashFile(const std::string& strPath, Sha256Digest* pDigest, uint64_t* pnSize);

// What WriteSignedRelease wrote.
struct SignedRelease {
    uint32_t nSerial = 0;
    size_t nFiles = 0;
    std::string strFingerprint;
};

// Writes release.txt and release.sig into the folder: the named files of
// that folder in the order given, and a serial one more than that of
// the release.txt in the previous folder (1 when there is none). A previous
// release.txt that cannot be read refuses: counting again from 1 would look
// like a rollback to every installed client. So does one whose release.sig
// is missing or does not verify with the public key file strPreviousKeyFile,
// or, when that is empty, with the key of strKeyFile. False with a message.
bool WriteSignedRelease(const std::string& strFolder, const std::string& strPreviousFolder,
                        const std::vector<std::string>& names, const std::string& strKeyFile,
                        const std::string& strPreviousKeyFile, SignedRelease* pWritten, std::string* pError);
