#include "app/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "res/strings.h"
#include "res/version.h"

namespace qx {
namespace {

// `relative` joined to `folder`, without the "." steps that "./x.jpg" brings along; ".." stays, since a
// lexical step back is wrong beside a symbolic link.
std::string Join(const std::string& folder, const std::string& relative) {
    std::string result = folder;
    size_t begin = 0;
    while (begin <= relative.size()) {
        size_t end = relative.find('/', begin);
        if (end == std::string::npos) end = relative.size();
        const std::string step = relative.substr(begin, end - begin);
        if (!step.empty() && step != ".") {
            if (result.empty() || result.back() != '/') result += '/';
            result += step;
        }
        begin = end + 1;
    }
    if (!relative.empty() && relative.back() == '/' && result.back() != '/') result += '/';
    return result;
}

}  // namespace

std::vector<std::string> CommandLinePaths(int argc, const char* const* argv, const std::string& currentFolder) {
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) continue;
        const std::string argument = argv[i];
        if (argument.empty()) continue;  // would otherwise name the working folder
        if (argument.front() == '/' || currentFolder.empty())
            paths.push_back(argument);
        else
            paths.push_back(Join(currentFolder, argument));
    }
    return paths;
}

std::optional<int> AnswerInfoOption(int argc, const char* const* argv) {
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        const std::string argument = argv[i];
        if (argument == "--") break;
        if (argument == "--help") {
            std::fputs(res::LoadString(res::IDS_APP_USAGE).c_str(), stdout);
            return 0;
        }
        if (argument == "--version") {
            VersionInfo info;
            if (!ReadVersionRecord("/proc/self/exe", info)) return 1;
            std::printf("%u.%u.%u.%u\n", info.fileVersion[0], info.fileVersion[1], info.fileVersion[2],
                        info.fileVersion[3]);
            return 0;
        }
    }
    return std::nullopt;
}

std::string CurrentFolder() {
    std::string buffer(4096, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.c_str();
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace qx
