// What tests on real files share: scratch folders, bytes on disk, images written by the real codecs, and
// programs run as child processes with their output captured.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
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
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <avif/avif.h>
#include <webp/decode.h>

#include "engine/compress.h"
#include "engine/imaging/imaging.h"

extern char** environ;

namespace qx::test {

inline const std::string kCorpus = QUENDRIX_CORPUS;
inline const std::string kBatchProgram = QUENDRIX_BINARY_DIR "/quendrix-batch";

// ---- Folders and files

// A fresh folder under a mkdtemp directory, removed with everything in it. Folders a test made read-only or
// unsearchable get their modes back first, so that nothing is left behind.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quendrix-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        ::chmod(path_.c_str(), 0700);
        for (auto it = std::filesystem::recursive_directory_iterator(
                 path_, std::filesystem::directory_options::skip_permission_denied, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored)) ::chmod(it->path().c_str(), 0700);
        }
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The whole file, or the empty text when it cannot be read.
inline std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Anything at `path`, a dangling link included.
inline bool Exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// A new folder with exactly `mode` (mkdir alone would apply the umask).
inline void MakeDir(const std::string& path, mode_t mode = 0755) {
    ASSERT_EQ(::mkdir(path.c_str(), mode), 0) << path << ": " << std::strerror(errno);
    ::chmod(path.c_str(), mode);
}

// Names in `folder` (not below it), sorted; none when it does not exist.
inline std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Every entry below `folder` as a relative path, folders included, sorted.
inline std::vector<std::string> Tree(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        names.push_back(it->path().lexically_relative(folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Sets `name` to `value`, or removes it for nullptr, until the end of the scope: then it is as it was, also
// when the test failed on the way.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) old_ = old;
        if (value)
            ::setenv(name_.c_str(), value, 1);
        else
            ::unsetenv(name_.c_str());
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// ---- Images

// The codec table's row of that name ("jpg", "png", ...); nullptr for a name no row has.
inline const imaging::Codec* CodecNamed(std::string_view name) { return imaging::FindCodecByName(name); }

// A width x height image in format `format`, a photo of the corpus drawn into it so that it compresses like one.
inline void WriteImage(const std::string& path, uint32_t width, uint32_t height, std::string_view format = "jpg") {
    auto bitmap = imaging::Bitmap::CreateArgb(width, height);
    ASSERT_TRUE(bitmap) << width << "x" << height;
    auto photo = imaging::Bitmap::FromFile(kCorpus + "/libjpeg-turbo/testorig.jpg");
    ASSERT_TRUE(photo);
    ASSERT_TRUE(imaging::Graphics(*bitmap).DrawImage(*photo, 0, 0, static_cast<int>(width), static_cast<int>(height)));
    const imaging::Codec* codec = CodecNamed(format);
    ASSERT_TRUE(codec) << format;
    ASSERT_TRUE(bitmap->Save(path, *codec, 90)) << path;
}

// Width and height of a fully decoded image file, or nothing when it does not decode.
inline std::optional<std::pair<uint32_t, uint32_t>> DecodedSize(const std::string& path) {
    auto bitmap = imaging::Bitmap::FromFile(path);
    if (!bitmap || !bitmap->Decode()) return std::nullopt;
    return std::make_pair(bitmap->Width(), bitmap->Height());
}

// Width and height of a WebP or AVIF file with every pixel decoded by libwebp or libavif (the layer writes
// these formats but does not read them), or nothing when it does not decode.
inline std::optional<std::pair<uint32_t, uint32_t>> DecodedWebpSize(const std::string& bytes) {
    int width = 0, height = 0;
    uint8_t* pixels = WebPDecodeRGBA(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &width, &height);
    if (pixels == nullptr) return std::nullopt;
    WebPFree(pixels);
    return std::make_pair(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
}
inline std::optional<std::pair<uint32_t, uint32_t>> DecodedAvifSize(const std::string& bytes) {
    avifDecoder* decoder = avifDecoderCreate();
    avifImage* image = avifImageCreateEmpty();
    std::optional<std::pair<uint32_t, uint32_t>> size;
    if (avifDecoderReadMemory(decoder, image, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) ==
        AVIF_RESULT_OK)
        size = std::make_pair(image->width, image->height);
    avifImageDestroy(image);
    avifDecoderDestroy(decoder);
    return size;
}

inline std::string BigEndian32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// One PNG chunk: length, `typeAndData` ("IHDR" and its bytes, say), CRC.
inline std::string PngChunk(const std::string& typeAndData) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : typeAndData) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return BigEndian32(static_cast<uint32_t>(typeAndData.size() - 4)) + typeAndData + BigEndian32(~crc);
}

// A PNG with an intact header of width x height pixels whose pixel data is two bytes of garbage.
inline std::string PngWithBrokenPixels(uint32_t width, uint32_t height) {
    const std::string ihdr = "IHDR" + BigEndian32(width) + BigEndian32(height) + std::string("\x08\x02\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk(ihdr) + PngChunk("IDATxx") + PngChunk("IEND");
}

// ---- Child processes

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

}  // namespace qx::test
