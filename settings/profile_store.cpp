#include "settings/profile_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/ascii.h"
#include "engine/file_io.h"

namespace qx {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimBlanks(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool HasMatchingQuotes(const std::string& s) { return s.size() >= 2 && IsQuote(s.front()) && s.back() == s.front(); }

// The text a stored value stands for: blanks around it dropped, then one pair of matching quotes.
std::string DecodeValue(const std::string& raw) {
    std::string value = TrimBlanks(raw);
    if (HasMatchingQuotes(value)) value = value.substr(1, value.size() - 2);
    return value;
}

// The stored form of a text, quoted only when reading would otherwise change it.
std::string EncodeValue(const std::string& value) {
    const bool needsQuotes =
        !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || HasMatchingQuotes(value));
    return needsQuotes ? "\"" + value + "\"" : value;
}

struct Line {
    std::string text;
    std::string end;  // "\n", "\r\n", or "" for a last line without one
};

struct IniFile {
    std::string byteOrderMark;  // as Windows editors put it before the first line, kept for writing
    std::vector<Line> lines;
    std::string newLineEnd = "\n";  // for lines we add: the file's own convention
};

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

IniFile Parse(const std::string& data) {
    IniFile file;
    bool endChosen = false;
    size_t pos = 0;
    if (std::string_view(data).substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) {
        file.byteOrderMark = kUtf8ByteOrderMark;
        pos = kUtf8ByteOrderMark.size();
    }
    while (pos < data.size()) {
        const size_t nl = data.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.text = data.substr(pos);
            pos = data.size();
        } else {
            const bool crlf = nl > pos && data[nl - 1] == '\r';
            line.text = data.substr(pos, nl - pos - (crlf ? 1 : 0));
            line.end = crlf ? std::string("\r\n") : std::string("\n");
            pos = nl + 1;
            if (!endChosen) file.newLineEnd = line.end, endChosen = true;
        }
        file.lines.push_back(std::move(line));
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

// Key and raw value of a "key=value" line; comment lines (";" or "#") and lines without "=" are none.
bool SplitKeyLine(const std::string& line, std::string& key, std::string& rawValue) {
    const std::string t = TrimBlanks(line);
    if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return false;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    key = TrimBlanks(line.substr(0, eq));
    rawValue = line.substr(eq + 1);
    return !key.empty();
}

struct Found {
    std::optional<size_t> sectionLine;
    std::optional<size_t> keyLine;
    size_t sectionEnd = 0;  // one past the section's last key line
    std::string rawValue;
};

Found Find(const IniFile& file, const std::string& section, const std::string& key) {
    Found found;
    for (size_t i = 0; i < file.lines.size(); ++i) {
        auto name = SectionName(file.lines[i].text);
        if (!name || !EqualsIgnoringAsciiCase(*name, section)) continue;
        found.sectionLine = i;
        found.sectionEnd = i + 1;
        for (size_t j = i + 1; j < file.lines.size(); ++j) {
            if (SectionName(file.lines[j].text)) break;
            std::string k, v;
            if (!SplitKeyLine(file.lines[j].text, k, v)) continue;
            found.sectionEnd = j + 1;
            if (!found.keyLine && EqualsIgnoringAsciiCase(k, key)) {
                found.keyLine = j;
                found.rawValue = v;
            }
        }
        break;
    }
    return found;
}

using ReadStatus = ProfileFileState;

// Opens the file, or says why it will not be read: only a regular file is (a folder, a pipe or a device in
// its place would fail or block), and only one of a settings file's size.
int OpenProfileFile(const std::string& path, ReadStatus& status, struct stat& st) {
    const int fd = files::OpenRegularFile(path, st);
    if (fd < 0) {
        status = (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::Missing : ReadStatus::Unreadable;
        return -1;
    }
    status = static_cast<uint64_t>(st.st_size) > kMaxProfileFileBytes ? ReadStatus::TooLarge : ReadStatus::Usable;
    return fd;
}

ReadStatus ReadWholeFile(const std::string& path, std::string& data) {
    struct stat st {};
    ReadStatus status = ReadStatus::Usable;
    const int fd = OpenProfileFile(path, status, st);
    if (fd < 0) return status;
    if (status == ReadStatus::Usable) {
        data.clear();
        data.reserve(static_cast<size_t>(st.st_size));
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                status = ReadStatus::Unreadable;
                break;
            }
            if (n == 0) break;
            data.append(buffer, static_cast<size_t>(n));
            if (data.size() > kMaxProfileFileBytes) {  // grew while we read
                status = ReadStatus::TooLarge;
                break;
            }
        }
    }
    ::close(fd);
    return status;
}

std::optional<std::string> ReadValue(const std::string& path, const std::string& section, const std::string& key) {
    std::string data;
    if (ReadWholeFile(path, data) != ReadStatus::Usable) return std::nullopt;
    Found found = Find(Parse(data), section, key);
    if (!found.keyLine) return std::nullopt;
    return DecodeValue(found.rawValue);
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

}  // namespace

ProfileFileState CheckProfileFile(const std::string& path) {
    struct stat st {};
    ReadStatus status = ReadStatus::Usable;
    const int fd = OpenProfileFile(path, status, st);
    if (fd >= 0) ::close(fd);
    return status;
}

int ParseProfileInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    uint32_t base = 10;
    if (i + 1 < text.size() && text[i] == '0') {
        switch (text[i + 1]) {
            case 'x': base = 16; break;
            case 'o': base = 8; break;
            case 'b': base = 2; break;
            default: break;
        }
        if (base != 10) i += 2;
    }
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i]);
        if (static_cast<uint32_t>(digit) >= base) break;
        value = value * base + static_cast<uint32_t>(digit);
    }
    if (negative) value = 0u - value;
    return static_cast<int>(value);
}

int ProfileStore::GetProfileIntA(const std::string& section, const std::string& key, int defaultValue) const {
    auto value = ReadValue(path_, section, key);
    if (!value || value->empty()) return defaultValue;
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

bool ProfileStore::WriteProfileStringA(const std::string& section, const std::string& key, const std::string& value) {
    // What follows a line break would become lines of its own; a NUL ends a text for every reader.
    const std::string stored = EncodeValue(value.substr(0, value.find_first_of(std::string("\r\n\0", 3))));
    IniFile file;
    std::string data;
    switch (ReadWholeFile(path_, data)) {
        case ReadStatus::Usable: file = Parse(data); break;
        case ReadStatus::Missing: break;
        case ReadStatus::Unreadable:
        case ReadStatus::TooLarge: return false;  // there but not read: never replace it blindly
    }
    auto insertAt = [&file](size_t index, std::string text) {
        if (index > 0 && file.lines[index - 1].end.empty()) file.lines[index - 1].end = file.newLineEnd;
        file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(index),
                          Line{std::move(text), file.newLineEnd});
    };
    const Found found = Find(file, section, key);
    if (found.keyLine) {
        std::string k, v;
        SplitKeyLine(file.lines[*found.keyLine].text, k, v);
        file.lines[*found.keyLine].text = k + "=" + stored;
    } else if (found.sectionLine) {
        insertAt(found.sectionEnd, key + "=" + stored);
    } else {
        insertAt(file.lines.size(), "[" + section + "]");
        insertAt(file.lines.size(), key + "=" + stored);
    }
    std::string out = file.byteOrderMark;
    out.reserve(data.size() + key.size() + stored.size() + section.size() + 8);
    for (const Line& line : file.lines) out.append(line.text).append(line.end);
    // Through a link to the file it names; its mode and owner kept; a file made read-only stays as it is.
    files::ReplaceOptions options;
    options.throughLinks = true;
    options.keepModeAndOwner = true;
    options.refuseUnwritable = true;
    return files::ReplaceFileAtomically(
        path_, [&out](int fd) { return files::WriteAll(fd, out.data(), out.size()); }, options);
}

}  // namespace qx
