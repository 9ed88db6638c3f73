#pragma once

#include "CodeSign.h"

#include <ostream>
#include <string>

struct PublishOptions {
    std::string strClientFolder;
    std::string strDescription;
    std::string strUninstaller;
    std::string strServerRoot;  // the tree is written to its "EX3"
    CodeSignSettings codesign;  // signs the UnInstall.exe of the tree
    std::string strSignKey;     // private key; empty publishes no release
    // The public key that verifies the served release; empty: that of strSignKey.
    std::string strPreviousKey;
};

constexpr int kPublished = 0;
constexpr int kRefused = 1;  // the installer could not take the input
constexpr int kFailed = 2;   // usage, reading or writing

// Checks everything first, writes the tree beside the old one and only
// then puts it in place, so a refusal or a failure leaves the published
// tree as it was. Prints the summary to out and every refusal to err.
int RunPublish(const PublishOptions& options, std::ostream& out, std::ostream& err);

// The command line: --client DIR --description FILE --uninstaller FILE
// --out SERVER_ROOT [--sign-key FILE [--previous-key FILE]]
// [--codesign-pkcs12 FILE [--codesign-password-file FILE]],
// or --new-key DIR alone.
int PublishMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
