#include "res/version.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace qx {

// Pulls the record (res/version_record.cpp) into every program that reads its own version.
extern "C" const struct QxVersionRecordTag qx_version_record;
[[gnu::used]] static const void* const kVersionRecordAnchor = &qx_version_record;

namespace {

constexpr char kSectionName[] = ".qx_version";
constexpr char kMagic[8] = {'Q', 'X', 'V', 'E', 'R', 'S', '1', '\0'};
constexpr uint32_t kSignature = 0xFEEF04BDu;
constexpr size_t kFixedSize = 8 + 11 * 4;
constexpr uint64_t kMaxRecordSize = 64 * 1024;
constexpr uint64_t kMaxNameTableSize = 16 * 1024 * 1024;

class FileReader {
public:
    explicit FileReader(const std::string& path) {
        // Non-blocking, so that a named pipe cannot stall the caller; only regular files are read.
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat status {};
        if (fd_ >= 0 && ::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode))
            size_ = static_cast<uint64_t>(status.st_size);
    }
    ~FileReader() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    bool Read(uint64_t offset, uint64_t length, std::vector<unsigned char>& out) const {
        if (fd_ < 0 || offset > size_ || length > size_ - offset) return false;
        out.resize(static_cast<size_t>(length));
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

// Integers of the file in its own byte order.
struct Decoder {
    bool bigEndian = false;
    uint64_t Get(const unsigned char* p, int bytes) const {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            const int shift = bigEndian ? (bytes - 1 - i) * 8 : i * 8;
            value |= static_cast<uint64_t>(p[i]) << shift;
        }
        return value;
    }
};

struct SectionHeader {
    uint64_t name = 0;
    uint64_t type = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t link = 0;
};

// The section ".qx_version" of an ELF file, found through the section headers.
bool FindRecordSection(const FileReader& file, std::vector<unsigned char>& section, Decoder& decoder) {
    std::vector<unsigned char> ident;
    if (!file.Read(0, EI_NIDENT, ident) || std::memcmp(ident.data(), ELFMAG, SELFMAG) != 0) return false;
    const bool is64 = ident[EI_CLASS] == ELFCLASS64;
    if (!is64 && ident[EI_CLASS] != ELFCLASS32) return false;
    if (ident[EI_DATA] != ELFDATA2LSB && ident[EI_DATA] != ELFDATA2MSB) return false;
    decoder.bigEndian = ident[EI_DATA] == ELFDATA2MSB;

    std::vector<unsigned char> header;
    if (!file.Read(0, is64 ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr), header)) return false;
    const unsigned char* h = header.data();
    const uint64_t shoff = is64 ? decoder.Get(h + 0x28, 8) : decoder.Get(h + 0x20, 4);
    const uint64_t shentsize = decoder.Get(h + (is64 ? 0x3A : 0x2E), 2);
    uint64_t shnum = decoder.Get(h + (is64 ? 0x3C : 0x30), 2);
    uint64_t shstrndx = decoder.Get(h + (is64 ? 0x3E : 0x32), 2);
    const uint64_t minEntry = is64 ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr);
    if (shoff == 0 || shentsize < minEntry) return false;

    auto readSection = [&](uint64_t index, SectionHeader& out) {
        std::vector<unsigned char> raw;
        if (index > (UINT64_MAX - shoff) / shentsize || !file.Read(shoff + index * shentsize, minEntry, raw))
            return false;
        const unsigned char* s = raw.data();
        out.name = decoder.Get(s, 4);
        out.type = decoder.Get(s + 4, 4);
        out.offset = is64 ? decoder.Get(s + 0x18, 8) : decoder.Get(s + 0x10, 4);
        out.size = is64 ? decoder.Get(s + 0x20, 8) : decoder.Get(s + 0x14, 4);
        out.link = is64 ? decoder.Get(s + 0x28, 4) : decoder.Get(s + 0x18, 4);
        return true;
    };

    // Very many sections keep their count and the name table's index in section 0.
    SectionHeader first;
    if (!readSection(0, first)) return false;
    if (shnum == 0) shnum = first.size;
    if (shstrndx == SHN_XINDEX) shstrndx = first.link;
    if (shstrndx >= shnum) return false;

    SectionHeader names;
    std::vector<unsigned char> nameTable;
    if (!readSection(shstrndx, names) || names.type != SHT_STRTAB || names.size > kMaxNameTableSize ||
        !file.Read(names.offset, names.size, nameTable)) {
        return false;
    }
    const size_t nameLength = sizeof kSectionName;  // with its NUL
    for (uint64_t i = 1; i < shnum; ++i) {
        SectionHeader s;
        if (!readSection(i, s)) return false;
        if (s.type != SHT_PROGBITS || s.name >= nameTable.size() || nameTable.size() - s.name < nameLength ||
            std::memcmp(nameTable.data() + s.name, kSectionName, nameLength) != 0) {
            continue;
        }
        return s.size <= kMaxRecordSize && file.Read(s.offset, s.size, section);
    }
    return false;
}

void SplitVersion(uint32_t high, uint32_t low, std::array<uint16_t, 4>& out) {
    out = {static_cast<uint16_t>(high >> 16), static_cast<uint16_t>(high & 0xFFFF), static_cast<uint16_t>(low >> 16),
           static_cast<uint16_t>(low & 0xFFFF)};
}

bool ParseRecord(const std::vector<unsigned char>& record, const Decoder& decoder, VersionInfo& info) {
    if (record.size() < kFixedSize || std::memcmp(record.data(), kMagic, sizeof kMagic) != 0) return false;
    auto word = [&](int index) { return static_cast<uint32_t>(decoder.Get(record.data() + 8 + 4 * index, 4)); };
    if (word(0) != kSignature) return false;
    SplitVersion(word(2), word(3), info.fileVersion);
    SplitVersion(word(4), word(5), info.productVersion);
    info.fileFlagsMask = word(6);
    info.fileFlags = word(7);
    info.fileOs = word(8);
    info.fileType = word(9);
    info.language = static_cast<uint16_t>(word(10) >> 16);
    info.codePage = static_cast<uint16_t>(word(10) & 0xFFFF);

    info.strings.clear();
    const char* p = reinterpret_cast<const char*>(record.data()) + kFixedSize;
    const char* end = reinterpret_cast<const char*>(record.data()) + record.size();
    auto takeText = [&](std::string& out) {
        const void* nul = std::memchr(p, '\0', static_cast<size_t>(end - p));
        if (nul == nullptr) return false;
        out.assign(p, static_cast<const char*>(nul));
        p = static_cast<const char*>(nul) + 1;
        return true;
    };
    for (;;) {
        std::string name;
        std::string value;
        if (!takeText(name)) return false;  // a table without its end is broken
        if (name.empty()) return true;
        if (!takeText(value)) return false;
        info.strings.emplace_back(std::move(name), std::move(value));
    }
}

}  // namespace

bool ReadVersionRecord(const std::string& fileName, VersionInfo& info) {
    if (fileName.empty()) return false;
    const FileReader file(fileName);
    std::vector<unsigned char> record;
    Decoder decoder;
    if (!FindRecordSection(file, record, decoder)) return false;
    VersionInfo parsed;
    if (!ParseRecord(record, decoder, parsed)) return false;
    info = std::move(parsed);
    return true;
}

std::string GetVersionString(const std::string& fileName) {
    VersionInfo info;
    if (!ReadVersionRecord(fileName.empty() ? std::string("/proc/self/exe") : fileName, info)) return std::string();
    char text[32];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d", info.fileVersion[0], info.fileVersion[1], info.fileVersion[2],
                  info.fileVersion[3]);
    return text;
}

}  // namespace qx
