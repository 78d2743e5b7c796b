// The settings file: an INI file read and written with the semantics of the Windows profile functions.
#pragma once

#include <string>

namespace qx {

// Reading follows the Windows profile functions: section and key names match without regard to ASCII
// letter case (the first section and the first key of a name count), blanks and tabs around names and
// values are dropped, and one pair of matching quotes ('...' or "...") around a value is removed.
// Writing keeps every other line of the file byte for byte (line ends and a leading UTF-8 byte-order mark
// included) and quotes a value that would otherwise lose blanks or quotes at its ends, so every text
// survives a round trip unchanged.
class ProfileStore {
public:
    explicit ProfileStore(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // The key's integer (see ParseProfileInt); `defaultValue` when the file, section or key is missing or
    // the value is empty.
    int GetProfileIntA(const std::string& section, const std::string& key, int defaultValue) const;
    // The key's text; `defaultValue` when the file, section or key is missing. An empty value is "".
    std::string GetProfileStringA(const std::string& section, const std::string& key,
                                  const std::string& defaultValue) const;
    // Writes replace the file atomically; callers do not examine the result (false only for tests).
    // A value is cut at its first line break or NUL: one key holds one line of text.
    bool WriteProfileInt(const std::string& section, const std::string& key, int value);
    bool WriteProfileStringA(const std::string& section, const std::string& key, const std::string& value);

private:
    std::string path_;
};

// The integer that profile text states, as the Windows profile read converts it: leading blanks and
// control characters skipped, an optional sign, a base prefix "0x" (hex), "0o" (octal) or "0b" (binary),
// else decimal; digits up to the first character that is not one (trailing text ignored), wrapping like
// a 32-bit value; no digits give 0.
int ParseProfileInt(const std::string& text);

// Larger settings files are not ours (a real one holds a few hundred bytes): they are not read (defaults)
// and never overwritten, and the programs say so.
inline constexpr size_t kMaxProfileFileBytes = 1024 * 1024;

enum class ProfileFileState { Usable, Missing, Unreadable, TooLarge };
// What reads of the file at `path` will find, from its status alone (nothing is read).
ProfileFileState CheckProfileFile(const std::string& path);

}  // namespace qx
