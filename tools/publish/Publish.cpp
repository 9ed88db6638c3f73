#include "Publish.h"

#include "Description.h"
#include "PackageWriter.h"
#include "Plan.h"
#include "ReleaseSigning.h"
#include "ServerLists.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr char kTreeName[] = "EX3";
constexpr char kPackageList[] = "divozira.txt";
constexpr char kCrcList[] = "filecrc.txt";
constexpr char kUninstaller[] = "UnInstall.exe";
// The installer's download buffer and file sizes are signed 32-bit.
constexpr uintmax_t kMaxServedSize = std::numeric_limits<int32_t>::max();

bool ReadWholeFile(const std::string& strPath, std::string* pData)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in)
        return false;
    pData->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteWholeFile(const fs::path& path, const std::string& strData)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(strData.data(), static_cast<std::streamsize>(strData.size()));
    out.close();
    return static_cast<bool>(out);
}

std::string Format(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* pszFormat, ...)
{
    char sz[512];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(sz, sizeof(sz), pszFormat, args);
    va_end(args);
    return sz;
}

// Writes the whole tree into a fresh folder; false with a message.
bool WriteTree(const fs::path& tree, const std::vector<PlannedPackage>& packages, const std::string& strUninstaller,
               std::string* pError)
{
    std::error_code ec;
    fs::remove_all(tree, ec);
    if (!fs::create_directories(tree, ec)) {
        *pError = "cannot create " + tree.string() + ": " + ec.message();
        return false;
    }
    for (const PlannedPackage& package : packages)
        if (!WritePackage(package, (tree / package.strName).string(), pError))
            return false;
    if (!WriteWholeFile(tree / kPackageList, ServerListBytes(PackageListLines(packages))) ||
        !WriteWholeFile(tree / kCrcList, ServerListBytes(CrcListLines(VerifiedFiles(packages))))) {
        *pError = "cannot write the lists in " + tree.string();
        return false;
    }
    if (!fs::copy_file(strUninstaller, tree / kUninstaller, fs::copy_options::overwrite_existing, ec)) {
        *pError = "cannot copy " + strUninstaller + ": " + ec.message();
        return false;
    }
    return true;
}

// Puts the new tree where the old one was.
bool ReplaceTree(const fs::path& fresh, const fs::path& tree, std::string* pError)
{
    const fs::path old = tree.parent_path() / (std::string(".") + kTreeName + ".old");
    std::error_code ec;
    fs::remove_all(old, ec);
    if (fs::exists(tree)) {
        fs::rename(tree, old, ec);
        if (ec) {
            *pError = "cannot move the old " + tree.string() + " aside: " + ec.message();
            return false;
        }
    }
    fs::rename(fresh, tree, ec);
    if (ec) {
        *pError = "cannot put the new tree in place: " + ec.message();
        fs::rename(old, tree, ec);
        return false;
    }
    fs::remove_all(old, ec);
    return true;
}

void PrintSummary(const fs::path& tree, const std::vector<PlannedPackage>& packages, std::ostream& out)
{
    out << "published " << tree.string() << "\n";
    for (const PlannedPackage& package : packages) {
        uint64_t nUnpacked = 0;
        for (const PlannedFile& file : package.files)
            nUnpacked += file.nSize;
        out << Format("  %-24s group %d  param %-4d %10ju bytes, %zu files, %ju bytes unpacked\n",
                      package.strName.c_str(), package.nGroup, package.nParam, fs::file_size(tree / package.strName),
                      package.files.size(), static_cast<uintmax_t>(nUnpacked));
        for (const PlannedFile& file : package.files)
            out << Format("      %-34s %10ju bytes%s\n", file.strInstalled.c_str(), static_cast<uintmax_t>(file.nSize),
                          file.bVerify ? Format("  verified, CRC-32 %u", file.nCrc).c_str() : "");
    }
    out << Format("  %-24s %zu packages, %ju bytes\n", kPackageList, packages.size(), fs::file_size(tree / kPackageList));
    out << Format("  %-24s %zu files to verify, %ju bytes\n", kCrcList, VerifiedFiles(packages).size(),
                  fs::file_size(tree / kCrcList));
    out << Format("  %-24s %ju bytes\n", kUninstaller, fs::file_size(tree / kUninstaller));
    const std::pair<int32_t, const char*> kinds[] = {{2, "with the font 微软雅黑 (groups 1, 2)"},
                                                     {3, "without it (groups 1, 3)"}};
    for (const auto& kind : kinds) {
        uint64_t nBytes = 0;
        const std::vector<const PlannedFile*> files = FilesOnMachine(packages, kind.first);
        for (const PlannedFile* pFile : files)
            nBytes += pFile->nSize;
        out << Format("machines %s install %zu files, %ju bytes\n", kind.second, files.size(),
                      static_cast<uintmax_t>(nBytes));
    }
}

// Every file the installer fetches after the release, in its order.
std::vector<std::string> FetchOrder(const std::vector<PlannedPackage>& packages)
{
    std::vector<std::string> names = {kPackageList};
    for (const PlannedPackage& package : packages)
        names.push_back(package.strName);
    names.push_back(kUninstaller);
    names.push_back(kCrcList);
    return names;
}

int MakeKeyMain(const std::string& strFolder, std::ostream& out, std::ostream& err)
{
    std::string strFingerprint;
    std::string strError;
    if (!MakeReleaseKey(strFolder, &strFingerprint, &strError)) {
        err << strError << "\n";
        return kFailed;
    }
    const fs::path folder(strFolder);
    out << "private key " << (folder / kPrivateKeyFile).string() << " (keep it off the build machine)\n"
        << "public key  " << (folder / kPublicKeyFile).string() << " (SETUP_RELEASE_KEY), SHA-256 " << strFingerprint
        << "\n";
    return kPublished;
}

}  // namespace

int RunPublish(const PublishOptions& options, std::ostream& out, std::ostream& err)
{
    std::string strText;
    if (!ReadWholeFile(options.strDescription, &strText)) {
        err << "cannot read the description " << options.strDescription << "\n";
        return kFailed;
    }
    if (!fs::is_directory(options.strClientFolder)) {
        err << "the client folder " << options.strClientFolder << " does not exist\n";
        return kFailed;
    }

    std::vector<std::string> errors;
    std::vector<DescribedPackage> described;
    std::vector<PlannedPackage> packages;
    if (ParseDescription(strText, &described, &errors))
        MakePlan(described, options.strClientFolder, &packages, &errors);

    for (const std::string& strError : errors)
        err << options.strDescription << ":" << strError << "\n";
    std::string strProgram;
    if (!ReadWholeFile(options.strUninstaller, &strProgram) || strProgram.compare(0, 2, "MZ") != 0) {
        err << "the uninstaller " << options.strUninstaller << " is not a Windows program\n";
        errors.push_back(options.strUninstaller);
    }
    if (!errors.empty()) {
        err << "refused: nothing was published\n";
        return kRefused;
    }

    const fs::path tree = fs::path(options.strServerRoot) / kTreeName;
    const fs::path fresh = fs::path(options.strServerRoot) / (std::string(".") + kTreeName + ".new");
    std::string strError;
    std::error_code ec;
    if (!WriteTree(fresh, packages, options.strUninstaller, &strError) ||
        !SignProgram((fresh / kUninstaller).string(), options.codesign, &strError)) {
        fs::remove_all(fresh, ec);
        err << strError << "\nnothing was published\n";
        return kFailed;
    }
    for (const PlannedPackage& package : packages) {
        if (fs::file_size(fresh / package.strName) > kMaxServedSize) {
            fs::remove_all(fresh, ec);
            err << package.strName << " is 2 GiB or larger; the installer downloads packages below 2 GiB\n"
                << "refused: nothing was published\n";
            return kRefused;
        }
    }
    SignedRelease release;
    if (!options.strSignKey.empty() &&
        !WriteSignedRelease(fresh.string(), tree.string(), FetchOrder(packages), options.strSignKey,
                            options.strPreviousKey, &release, &strError)) {
        fs::remove_all(fresh, ec);
        err << strError << "\nnothing was published\n";
        return kFailed;
    }
    if (!ReplaceTree(fresh, tree, &strError)) {
        fs::remove_all(fresh, ec);
        err << strError << "\n";
        return kFailed;
    }
    PrintSummary(tree, packages, out);
    if (!options.strSignKey.empty())
        out << Format("  %-24s serial %u, %zu files, signed by the key with SHA-256 %s\n", kReleaseTextName,
                      release.nSerial, release.nFiles, release.strFingerprint.c_str());
    return kPublished;
}

int PublishMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    if (argc == 3 && std::string(argv[1]) == "--new-key")
        return MakeKeyMain(argv[2], out, err);
    PublishOptions options;
    const std::pair<const char*, std::string*> kOptions[] = {{"--client", &options.strClientFolder},
                                                             {"--description", &options.strDescription},
                                                             {"--uninstaller", &options.strUninstaller},
                                                             {"--out", &options.strServerRoot},
                                                             {"--sign-key", &options.strSignKey},
                                                             // optional, after the kRequired ones
                                                             {"--previous-key", &options.strPreviousKey},
                                                             {"--codesign-pkcs12", &options.codesign.strPkcs12},
                                                             {"--codesign-password-file",
                                                              &options.codesign.strPasswordFile}};
    constexpr size_t kRequired = 4;
    for (int i = 1; i < argc; ++i) {
        const auto* pOption = std::find_if(std::begin(kOptions), std::end(kOptions),
                                           [&](const auto& option) { return std::string(argv[i]) == option.first; });
        // An option where the value belongs means the value was left out.
        if (pOption == std::end(kOptions) || i + 1 >= argc || std::string(argv[i + 1]).compare(0, 2, "--") == 0) {
            err << "unknown or incomplete argument " << argv[i] << "\n";
            options = PublishOptions();
            break;
        }
        *pOption->second = argv[++i];
    }
    for (size_t n = 0; n < kRequired; ++n) {
        if (kOptions[n].second->empty()) {
            err << "usage: " << (argc > 0 ? argv[0] : "fenmora-publish")
                << " --client DIR --description FILE --uninstaller UnInstall.exe --out SERVER_ROOT\n"
                   "       [--sign-key FILE [--previous-key FILE]]\n"
                   "       [--codesign-pkcs12 FILE [--codesign-password-file FILE]]\n"
                   "  writes SERVER_ROOT/EX3: one zip per package, divozira.txt, filecrc.txt, UnInstall.exe\n"
                   "  (UnInstall.exe signed with the PKCS#12 file's code-signing certificate when given;\n"
                   "  with --sign-key also release.txt and release.sig, signed with that private key)\n"
                   "   or: " << (argc > 0 ? argv[0] : "fenmora-publish")
                << " --new-key DIR\n"
                   "  writes a new key pair: DIR/release-private.pem and DIR/release-public.der\n";
            return kFailed;
        }
    }
    return RunPublish(options, out, err);
}
