#include "app/profile_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

namespace qx {
namespace {

// Larger settings files are not ours; reading stops there rather than taking unbounded memory.
constexpr std::streamsize kMaxFileBytes = 64 * 1024 * 1024;

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string TrimBlanks(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

struct Line {
    std::string text;  // without its line end
};

struct IniFile {
    std::vector<Line> lines;
    std::string lineEnd = "\n";
    bool endsWithLineEnd = true;
};

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string data;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        data.append(buffer, static_cast<size_t>(in.gcount()));
        if (static_cast<std::streamsize>(data.size()) > kMaxFileBytes) return std::nullopt;
    }
    if (in.bad()) return std::nullopt;
    return data;
}

IniFile Parse(const std::string& data) {
    IniFile file;
    if (data.find("\r\n") != std::string::npos) file.lineEnd = "\r\n";
    size_t pos = 0;
    while (pos < data.size()) {
        size_t nl = data.find('\n', pos);
        std::string text = data.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        file.lines.push_back({std::move(text)});
        if (nl == std::string::npos) {
            file.endsWithLineEnd = false;
            break;
        }
        pos = nl + 1;
    }
    return file;
}

// The section a line opens, if it is a section line: "[name]" with blanks allowed around the name.
std::optional<std::string> SectionName(const std::string& line) {
    const std::string t = TrimBlanks(line);
    if (t.size() < 2 || t.front() != '[') return std::nullopt;
    const size_t close = t.find(']');
    if (close == std::string::npos) return std::nullopt;
    return TrimBlanks(t.substr(1, close - 1));
}

// Key and value of a "key=value" line. The value is kept exactly as written after the "=", so that blanks
// at either end of a stored text survive a round trip.
bool SplitKeyLine(const std::string& line, std::string& key, std::string& value) {
    const std::string t = TrimBlanks(line);
    if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return false;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    key = TrimBlanks(line.substr(0, eq));
    value = line.substr(eq + 1);
    return !key.empty();
}

struct Found {
    std::optional<size_t> sectionLine;
    std::optional<size_t> keyLine;
    size_t sectionEnd = 0;  // one past the section's last key line
    std::string value;
};

Found Find(const IniFile& file, const std::string& section, const std::string& key) {
    Found found;
    for (size_t i = 0; i < file.lines.size(); ++i) {
        auto name = SectionName(file.lines[i].text);
        if (!name) continue;
        if (!EqualsIgnoringCase(*name, section)) continue;
        // The first section of that name counts, as with the Windows functions.
        found.sectionLine = i;
        found.sectionEnd = i + 1;
        for (size_t j = i + 1; j < file.lines.size(); ++j) {
            if (SectionName(file.lines[j].text)) break;
            std::string k, v;
            if (!SplitKeyLine(file.lines[j].text, k, v)) continue;
            found.sectionEnd = j + 1;
            if (!found.keyLine && EqualsIgnoringCase(k, key)) {
                found.keyLine = j;
                found.value = v;
            }
        }
        break;
    }
    return found;
}

std::optional<std::string> ReadValue(const std::string& path, const std::string& section, const std::string& key) {
    auto data = ReadWholeFile(path);
    if (!data) return std::nullopt;
    Found found = Find(Parse(*data), section, key);
    if (!found.keyLine) return std::nullopt;
    return found.value;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces `path` by `data` through a temporary file in the same folder, so that a crash or a full disk
// leaves either the old or the new file, never a half-written one.
bool ReplaceFileAtomically(const std::string& path, const std::string& data) {
    std::string target = path;
    if (char* real = realpath(path.c_str(), nullptr)) {  // write through a link, keep the link
        target = real;
        free(real);
    }
    std::string tmp = target + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) return false;
    struct stat old {};
    mode_t mode = 0666;
    if (stat(target.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode &= ~mask;
    }
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, data) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok) ok = rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) unlink(tmp.c_str());
    return ok;
}

}  // namespace

int ParseProfileInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<int>(value);
}

int ProfileStore::GetProfileIntA(const std::string& section, const std::string& key, int defaultValue) const {
    auto value = ReadValue(path_, section, key);
    if (!value || TrimBlanks(*value).empty()) return defaultValue;
    return ParseProfileInt(*value);
}

std::string ProfileStore::GetProfileStringA(const std::string& section, const std::string& key,
                                            const std::string& defaultValue) const {
    auto value = ReadValue(path_, section, key);
    return value ? *value : defaultValue;
}

bool ProfileStore::WriteProfileInt(const std::string& section, const std::string& key, int value) {
    return WriteProfileStringA(section, key, std::to_string(value));
}

bool ProfileStore::WriteProfileStringA(const std::string& section, const std::string& key,
                                       const std::string& value) {
    // A value with a line break would turn into lines of its own; what follows the break is dropped.
    std::string oneLine = value.substr(0, value.find_first_of("\r\n"));
    IniFile file;
    if (auto data = ReadWholeFile(path_)) {
        file = Parse(*data);
    } else {
        struct stat st {};
        if (stat(path_.c_str(), &st) == 0) return false;  // there but unreadable: leave it alone
    }
    Found found = Find(file, section, key);
    if (found.keyLine) {
        std::string k, v;
        SplitKeyLine(file.lines[*found.keyLine].text, k, v);
        file.lines[*found.keyLine].text = k + "=" + oneLine;
    } else if (found.sectionLine) {
        file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(found.sectionEnd), {key + "=" + oneLine});
    } else {
        file.lines.push_back({"[" + section + "]"});
        file.lines.push_back({key + "=" + oneLine});
        file.endsWithLineEnd = true;
    }
    std::string out;
    for (size_t i = 0; i < file.lines.size(); ++i) {
        out += file.lines[i].text;
        if (i + 1 < file.lines.size() || file.endsWithLineEnd) out += file.lineEnd;
    }
    return ReplaceFileAtomically(path_, out);
}

}  // namespace qx
