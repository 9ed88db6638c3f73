#include "ReleaseSigning.h"

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <iterator>
#include <system_error>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
struct SigFree {
    void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
};
struct FileClose {
    void operator()(FILE* p) const { std::fclose(p); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

std::string OpensslError()
{
    char sz[256] = "unknown error";
    if (const unsigned long nError = ERR_get_error())
        ERR_error_string_n(nError, sz, sizeof(sz));
    ERR_clear_error();
    return sz;
}

std::string Hex(const unsigned char* p, size_t cb)
{
    static const char kHex[] = "0123456789abcdef";
    std::string str;
    for (size_t i = 0; i < cb; ++i) {
        str += kHex[p[i] >> 4];
        str += kHex[p[i] & 0xF];
    }
    return str;
}

bool PublicKeyDer(EVP_PKEY* pKey, std::string* pDer)
{
    unsigned char* pBytes = nullptr;
    const int cb = i2d_PUBKEY(pKey, &pBytes);
    if (cb <= 0)
        return false;
    pDer->assign(reinterpret_cast<char*>(pBytes), static_cast<size_t>(cb));
    OPENSSL_free(pBytes);
    return true;
}

std::string Fingerprint(const std::string& strDer)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int cb = 0;
    EVP_Digest(strDer.data(), strDer.size(), digest, &cb, EVP_sha256(), nullptr);
    return Hex(digest, cb);
}

// The installer verifies P-256 only; another curve would be refused there
// with every release.
bool IsP256(EVP_PKEY* pKey)
{
    char szGroup[64] = {};
    return EVP_PKEY_is_a(pKey, "EC") && EVP_PKEY_get_group_name(pKey, szGroup, sizeof(szGroup), nullptr) &&
           std::string(szGroup) == SN_X9_62_prime256v1;
}

// A new file only: an existing key is never replaced.
FILE* CreateExclusive(const fs::path& path, mode_t mode)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    return fd < 0 ? nullptr : ::fdopen(fd, "wb");
}

bool WriteKeyFiles(EVP_PKEY* pKey, const fs::path& privatePath, const fs::path& publicPath, const std::string& strDer,
                   std::string* pError)
{
    std::unique_ptr<FILE, FileClose> privateFile(CreateExclusive(privatePath, 0600));
    if (!privateFile) {
        *pError = "cannot create " + privatePath.string() + ": " + std::generic_category().message(errno);
        return false;
    }
    if (!PEM_write_PrivateKey(privateFile.get(), pKey, nullptr, nullptr, 0, nullptr, nullptr)) {
        *pError = "cannot write " + privatePath.string() + ": " + OpensslError();
        return false;
    }
    if (std::fclose(privateFile.release()) != 0) {
        *pError = "cannot write " + privatePath.string();
        return false;
    }
    std::unique_ptr<FILE, FileClose> publicFile(CreateExclusive(publicPath, 0644));
    if (!publicFile || std::fwrite(strDer.data(), 1, strDer.size(), publicFile.get()) != strDer.size() ||
        std::fclose(publicFile.release()) != 0) {
        *pError = "cannot write " + publicPath.string();
        return false;
    }
    return true;
}

bool ReadWhole(const fs::path& path, std::string* pData)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    pData->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

Key ReadPrivateKey(const std::string& strKeyFile, std::string* pError)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_file(strKeyFile.c_str(), "r"));
    Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key)
        *pError = "cannot read the private key " + strKeyFile + ": " + OpensslError();
    return key;
}

// A public key as --new-key writes it (DER SubjectPublicKeyInfo).
Key ReadPublicKey(const std::string& strKeyFile, std::string* pError)
{
    std::string strDer;
    Key key;
    if (ReadWhole(strKeyFile, &strDer)) {
        const auto* pDer = reinterpret_cast<const unsigned char*>(strDer.data());
        key.reset(d2i_PUBKEY(nullptr, &pDer, static_cast<long>(strDer.size())));
    }
    if (!key || !IsP256(key.get())) {
        *pError = "cannot read the P-256 public key " + strKeyFile;
        key.reset();
    }
    ERR_clear_error();
    return key;
}

// Verifies r || s as the installer does; false on any error.
bool VerifyReleaseText(EVP_PKEY* pKey, const std::string& strText, const std::string& strSignature)
{
    if (strSignature.size() != kReleaseSignatureBytes)
        return false;
    const auto* pRaw = reinterpret_cast<const unsigned char*>(strSignature.data());
    std::unique_ptr<ECDSA_SIG, SigFree> sig(ECDSA_SIG_new());
    BIGNUM* pR = BN_bin2bn(pRaw, 32, nullptr);
    BIGNUM* pS = BN_bin2bn(pRaw + 32, 32, nullptr);
    if (!sig || !pR || !pS || ECDSA_SIG_set0(sig.get(), pR, pS) != 1) {
        BN_free(pR);
        BN_free(pS);
        return false;
    }
    unsigned char* pDer = nullptr;
    const int cbDer = i2d_ECDSA_SIG(sig.get(), &pDer);
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    const bool bValid = cbDer > 0 && ctx &&
                        EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, pKey) == 1 &&
                        EVP_DigestVerify(ctx.get(), pDer, static_cast<size_t>(cbDer),
                                         reinterpret_cast<const unsigned char*>(strText.data()), strText.size()) == 1;
    OPENSSL_free(pDer);
    ERR_clear_error();
    return bValid;
}

// The serial goes on from a previous release only when its signature holds:
// else whoever can write the server's folder chooses it, and a raised serial
// would lock installed clients out of every later release.
bool CheckPreviousRelease(const fs::path& previous, const std::string& strText, const std::string& strKeyFile,
                          const std::string& strPreviousKeyFile, std::string* pError)
{
    const fs::path signature = previous.parent_path() / kReleaseSignatureName;
    std::string strSignature;
    if (!ReadWhole(signature, &strSignature)) {
        *pError = "the previous release " + previous.string() + " has no readable " + signature.filename().string() +
                  "; an unsigned serial is not followed";
        return false;
    }
    const Key key =
        strPreviousKeyFile.empty() ? ReadPrivateKey(strKeyFile, pError) : ReadPublicKey(strPreviousKeyFile, pError);
    if (!key)
        return false;
    std::string strDer;
    if (!PublicKeyDer(key.get(), &strDer) || !VerifyReleaseText(key.get(), strText, strSignature)) {
        *pError = "the previous release " + previous.string() + " does not verify with the key with SHA-256 " +
                  Fingerprint(strDer) + "; its serial is not followed" +
                  (strPreviousKeyFile.empty() ? " (after a new key, give the old public key with --previous-key)" : "");
        return false;
    }
    return true;
}

}  // namespace

bool MakeReleaseKey(const std::string& strFolder, std::string* pFingerprint, std::string* pError)
{
    const fs::path folder(strFolder);
    const fs::path privatePath = folder / kPrivateKeyFile;
    const fs::path publicPath = folder / kPublicKeyFile;
    for (const fs::path& path : {privatePath, publicPath}) {
        if (fs::exists(path)) {
            *pError = path.string() + " exists; a key is never replaced";
            return false;
        }
    }
    std::error_code ec;
    if (!fs::is_directory(folder)) {
        fs::create_directories(folder, ec);
        fs::permissions(folder, fs::perms::owner_all, ec);
    }

    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", SN_X9_62_prime256v1));
    std::string strDer;
    if (!key || !PublicKeyDer(key.get(), &strDer)) {
        *pError = "cannot make a P-256 key: " + OpensslError();
        return false;
    }
    if (!WriteKeyFiles(key.get(), privatePath, publicPath, strDer, pError)) {
        fs::remove(privatePath, ec);
        return false;
    }
    *pFingerprint = Fingerprint(strDer);
    return true;
}

bool SignReleaseText(const std::string& strKeyFile, const std::string& strText, std::string* pSignature,
                     std::string* pFingerprint, std::string* pError)
{
    const Key key = ReadPrivateKey(strKeyFile, pError);
    if (!key)
        return false;
    std::string strDer;
    if (!IsP256(key.get()) || !PublicKeyDer(key.get(), &strDer)) {
        *pError = strKeyFile + " is not an ECDSA P-256 key";
        return false;
    }

    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    size_t cbDer = 0;
    const auto* pText = reinterpret_cast<const unsigned char*>(strText.data());
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &cbDer, pText, strText.size()) != 1) {
        *pError = "cannot sign: " + OpensslError();
        return false;
    }
    std::vector<unsigned char> der(cbDer);
    if (EVP_DigestSign(ctx.get(), der.data(), &cbDer, pText, strText.size()) != 1) {
        *pError = "cannot sign: " + OpensslError();
        return false;
    }

    // OpenSSL gives the DER form; Windows verifies r and s side by side.
    const unsigned char* pDer = der.data();
    std::unique_ptr<ECDSA_SIG, SigFree> sig(d2i_ECDSA_SIG(nullptr, &pDer, static_cast<long>(cbDer)));
    const BIGNUM* pR = nullptr;
    const BIGNUM* pS = nullptr;
    unsigned char raw[kReleaseSignatureBytes];
    if (sig)
        ECDSA_SIG_get0(sig.get(), &pR, &pS);
    if (!pR || !pS || BN_bn2binpad(pR, raw, 32) != 32 || BN_bn2binpad(pS, raw + 32, 32) != 32) {
        *pError = "cannot convert the signature: " + OpensslError();
        return false;
    }
    pSignature->assign(reinterpret_cast<char*>(raw), sizeof(raw));
    *pFingerprint = Fingerprint(strDer);
    return true;
}

bool HashFile(const std::string& strPath, Sha256Digest* pDigest, uint64_t* pnSize)
{
    std::ifstream in(strPath, std::ios::binary);
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!in || !ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        return false;
    std::vector<char> block(1 << 16);
    *pnSize = 0;
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto cb = static_cast<size_t>(in.gcount());
        EVP_DigestUpdate(ctx.get(), block.data(), cb);
        *pnSize += cb;
    }
    unsigned int cbDigest = 0;
    return !in.bad() && EVP_DigestFinal_ex(ctx.get(), pDigest->data(), &cbDigest) == 1 && cbDigest == pDigest->size();
}

bool WriteSignedRelease(const std::string& strFolder, const std::string& strPreviousFolder,
                        const std::vector<std::string>& names, const std::string& strKeyFile,
                        const std::string& strPreviousKeyFile, SignedRelease* pWritten, std::string* pError)
{
    const fs::path previous = fs::path(strPreviousFolder) / kReleaseTextName;
    Release release;
    if (fs::exists(previous)) {
        std::string strPrevious;
        Release earlier;
        if (!ReadWhole(previous, &strPrevious) || !ParseRelease(strPrevious, &earlier) ||
            earlier.nSerial == UINT32_MAX) {
            *pError = "the previous release " + previous.string() + " has no serial to follow";
            return false;
        }
        if (!CheckPreviousRelease(previous, strPrevious, strKeyFile, strPreviousKeyFile, pError))
            return false;
        release.nSerial = earlier.nSerial + 1;
    } else {
        release.nSerial = 1;
    }

    for (const std::string& strName : names) {
        ReleaseFile file;
        file.strName = strName;
        uint64_t nSize = 0;
        if (!HashFile((fs::path(strFolder) / strName).string(), &file.sha256, &nSize) || nSize > kMaxReleaseFileSize) {
            *pError = "cannot read " + strName + " for the release";
            return false;
        }
        file.nSize = static_cast<uint32_t>(nSize);
        release.files.push_back(file);
    }

    const std::string strText = FormatRelease(release);
    Release check;
    std::string strSignature;
    if (!ParseRelease(strText, &check)) {
        *pError = "the release would not be readable by the installer";
        return false;
    }
    if (!SignReleaseText(strKeyFile, strText, &strSignature, &pWritten->strFingerprint, pError))
        return false;
    const std::pair<const char*, const std::string*> outputs[] = {{kReleaseTextName, &strText},
                                                                   {kReleaseSignatureName, &strSignature}};
    for (const auto& output : outputs) {
        std::ofstream file(fs::path(strFolder) / output.first, std::ios::binary | std::ios::trunc);
        file.write(output.second->data(), static_cast<std::streamsize>(output.second->size()));
        file.close();
        if (!file) {
            *pError = std::string("cannot write ") + output.first;
            return false;
        }
    }
    pWritten->nSerial = release.nSerial;
    pWritten->nFiles = release.files.size();
    return true;
}
