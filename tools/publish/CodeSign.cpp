#include "CodeSign.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Runs a program found on the PATH and collects what it prints on both
// streams: osslsigncode reports a failure on either, depending on its
// version. Returns its exit status, or -1 when it did not run or end.
int RunCollecting(const std::vector<std::string>& args, std::string* pOutput)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        *pOutput = std::strerror(errno);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& str : args)
        argv.push_back(const_cast<char*>(str.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int nSpawn = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (nSpawn != 0) {
        close(fds[0]);
        *pOutput = args[0] + ": " + std::strerror(nSpawn);
        return -1;
    }
    char buffer[4096];
    ssize_t nRead = 0;
    while ((nRead = read(fds[0], buffer, sizeof(buffer))) > 0 || (nRead < 0 && errno == EINTR))
        pOutput->append(buffer, nRead > 0 ? static_cast<size_t>(nRead) : 0);
    close(fds[0]);
    int nStatus = 0;
    if (waitpid(pid, &nStatus, 0) != pid || !WIFEXITED(nStatus))
        return -1;
    return WEXITSTATUS(nStatus);
}

}  // namespace

bool SignProgram(const std::string& strPath, const CodeSignSettings& settings, std::string* pError)
{
    if (settings.strPkcs12.empty())
        return true;
    const std::string strSigned = strPath + ".signed";
    std::vector<std::string> args = {"osslsigncode", "sign", "-pkcs12", settings.strPkcs12, "-h", "sha256"};
    if (!settings.strPasswordFile.empty())
        args.insert(args.end(), {"-readpass", settings.strPasswordFile});
    args.insert(args.end(), {"-in", strPath, "-out", strSigned});
    std::error_code ec;
    fs::remove(strSigned, ec);  // osslsigncode writes no file that exists
    std::string strOutput;
    const int nStatus = RunCollecting(args, &strOutput);
    if (nStatus != 0) {
        fs::remove(strSigned, ec);
        *pError = "cannot sign " + strPath + " with " + settings.strPkcs12 + " (osslsigncode " +
                  (nStatus < 0 ? std::string("did not run") : "ended with " + std::to_string(nStatus)) + "):\n" +
                  strOutput;
        return false;
    }
    fs::rename(strSigned, strPath, ec);
    if (ec) {
        *pError = "cannot put the signed " + strPath + " in place: " + ec.message();
        return false;
    }
    return true;
}
