// Programs run as child processes under limits, with their output captured, and the peer programs that read
// our outputs.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace qx::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;  // shadow memory makes address-space limits meaningless
#else
inline constexpr bool kSanitized = false;
#endif

inline constexpr uid_t kNobody = 65534;

inline bool IsRoot() { return ::geteuid() == 0; }

struct RunOptions {
    std::vector<std::string> args{};
    // Added to the environment (an empty value removes a variable). HOME and XDG_CONFIG_HOME point into a
    // scratch folder unless given here, and the variables that choose a settings location are removed.
    std::map<std::string, std::string> env{};
    int timeoutSeconds = 120;
    uint64_t addressSpaceLimit = 0;                        // RLIMIT_AS, 0 for none
    uint64_t fileSizeLimit = 0;                            // RLIMIT_FSIZE, 0 for none; SIGXFSZ is then ignored
    bool asNobody = false;                                 // drops root, so that file modes count
    std::optional<std::chrono::microseconds> killAfter{};  // `killSignal` at this moment
    int killSignal = SIGKILL;
};

struct RunResult {
    int exitCode = -1;  // -1 unless the process exited
    int signal = 0;     // the signal that ended it
    bool timedOut = false;
    std::string out;
    std::string err;
    bool Exited(int code) const { return exitCode == code && signal == 0 && !timedOut; }
};

// How a run ended and the start of its stderr, for failure messages.
inline std::string Describe(const RunResult& r) {
    return "exit " + std::to_string(r.exitCode) + (r.signal ? " signal " + std::to_string(r.signal) : "") +
           (r.timedOut ? " (timed out)" : "") + "\nstderr: " + r.err.substr(0, 2000);
}

// Runs `program` as a child: stdin from /dev/null, stdout and stderr captured, under the limits of `options`.
inline RunResult RunChild(const std::string& program, const RunOptions& options) {
    ScratchDir io;
    ::chmod(io.path().c_str(), 0777);  // a child run as nobody writes its output here too
    std::map<std::string, std::string> variables;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const size_t eq = entry.find('=');
        if (eq != std::string::npos) variables[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const char* name : {"U3_APP_DATA_PATH", "APPDATA", "U3_DEVICE_PATH", "U3_DEVICE_DOCUMENT_PATH"}) {
        variables.erase(name);
    }
    variables["HOME"] = io.path();
    variables["XDG_CONFIG_HOME"] = io / "config";
    for (const auto& [name, value] : options.env) {
        if (value.empty())
            variables.erase(name);
        else
            variables[name] = value;
    }
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : variables) envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings = {program};
    argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (std::string& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);
    const std::string outPath = io / "out", errPath = io / "err";
    // A child run as nobody must reach the program, and a checkout inside a folder only root may enter (mktemp -d
    // makes one) stops it at exec: it runs a copy from the scratch folder instead.
    std::string executable = program;
    if (options.asNobody && ::geteuid() == 0) {
        executable = io / "program";
        std::error_code copyError;
        std::filesystem::copy_file(program, executable, copyError);
        ::chmod(executable.c_str(), 0755);
    }

    const pid_t pid = ::fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork failed";
        return {};
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (in < 0 || out < 0 || err < 0) ::_exit(126);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        if (options.addressSpaceLimit != 0) {
            const rlimit limit{options.addressSpaceLimit, options.addressSpaceLimit};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        if (options.fileSizeLimit != 0) {
            ::signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec: writes fail with EFBIG instead
            const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.asNobody && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(125);
        }
        ::execve(executable.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }

    RunResult result;
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    bool signalled = false;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            ADD_FAILURE() << "waitpid failed: " << std::strerror(errno);
            return result;
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        if (!signalled && options.killAfter && elapsed >= *options.killAfter) {
            ::kill(pid, options.killSignal);
            signalled = true;
        }
        if (!result.timedOut && elapsed >= std::chrono::seconds(options.timeoutSeconds)) {
            ::kill(pid, SIGKILL);
            result.timedOut = true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(options.killAfter ? 200 : 2000));
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    if (result.exitCode == 127 && !Exists(program)) ADD_FAILURE() << "cannot start " << program;
    result.out = ReadBytes(outPath);
    result.err = ReadBytes(errPath);
    return result;
}

// ---- Peer programs that read our outputs

// Which installed peer reads image format `format` ("WEBP", "AVIF"): "identify" (ImageMagick) or "pillow";
// empty when none does, so that a test can skip that check rather than fail.
inline std::string PeerReaderFor(const std::string& format) {
    if (Exists("/usr/bin/identify")) {
        // Lines such as "     WEBP* WEBP      rw+   WebP Image Format (libwebp 1.2.4 [020F])".
        const RunResult list = RunChild("/usr/bin/identify", {.args = {"-list", "format"}});
        size_t start = 0;
        while (start < list.out.size()) {
            const size_t end = std::min(list.out.find('\n', start), list.out.size());
            char name[64] = {}, module[64] = {}, mode[8] = {};
            if (std::sscanf(list.out.substr(start, end - start).c_str(), "%63s %63s %7s", name, module, mode) == 3) {
                std::string word = name;
                if (!word.empty() && word.back() == '*') word.pop_back();
                if (word == format && mode[0] == 'r') return "identify";
            }
            start = end + 1;
        }
    }
    if (Exists("/usr/bin/python3")) {
        std::string feature = format;
        std::transform(feature.begin(), feature.end(), feature.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const RunResult check = RunChild(
            "/usr/bin/python3",
            {.args = {"-c", "import sys\nfrom PIL import features\nsys.exit(0 if features.check(sys.argv[1]) else 1)",
                      feature}});
        if (check.Exited(0)) return "pillow";
    }
    return "";
}

// Width and height of every pixel of `path` decoded by `reader` (from PeerReaderFor) in a child process;
// nothing when it cannot read the file.
inline std::optional<std::pair<uint32_t, uint32_t>> PeerDecodedSize(const std::string& reader,
                                                                    const std::string& path) {
    RunResult r;
    if (reader == "identify") {
        r = RunChild("/usr/bin/identify", {.args = {"-format", "%w %h", path}});
    } else if (reader == "pillow") {
        r = RunChild("/usr/bin/python3", {.args = {"-c",
                                                   "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
                                                   "im.load()\nprint(im.size[0], im.size[1])",
                                                   path}});
    }
    unsigned width = 0, height = 0;
    if (!r.Exited(0) || std::sscanf(r.out.c_str(), "%u %u", &width, &height) != 2) return std::nullopt;
    return std::make_pair(width, height);
}

// Decodes `path` with `reader` (from PeerReaderFor) in a child process into the RGB PNG `png`; false when it
// cannot.
inline bool PeerDecodeToPng(const std::string& reader, const std::string& path, const std::string& png) {
    RunResult r;
    if (reader == "identify") {
        r = RunChild("/usr/bin/convert", {.args = {path, "-type", "TrueColor", "PNG24:" + png}});
    } else if (reader == "pillow") {
        r = RunChild("/usr/bin/python3", {.args = {"-c",
                                                   "import sys\nfrom PIL import Image\n"
                                                   "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])",
                                                   path, png}});
    }
    return r.Exited(0);
}

}  // namespace qx::test
