// The program's version record, kept in its own section of the executable so that it can be read back
// from the program file on disk (app/version.cpp reads it).
//
// Layout of the section ".qx_version" (integers in the file's byte order):
//   8 bytes   "QXVERS1\0"
//   uint32    signature 0xFEEF04BD
//   uint32    layout version 0x00010000
//   uint32    file version, high word (major << 16 | minor), then low word (build << 16 | revision)
//   uint32    product version, high word, then low word
//   uint32    file flags mask, file flags, operating system, file type
//   uint32    translation: language << 16 | code page
//   bytes     string table: name NUL value NUL ..., ended by an empty name
#include <cstdint>

namespace qx::res {

#define QX_VERSION_STRINGS                             \
    "CompanyName\0Quendrix-Projekt\0"                  \
    "FileDescription\0Komprimieren von Bildern\0"      \
    "FileVersion\0"                                    \
    "1, 0, 0, 6\0"                                     \
    "InternalName\0Quendrix\0"                         \
    "LegalCopyright\0Copyright (C) Quendrix-Projekt\0" \
    "OriginalFilename\0Quendrix.EXE\0"                 \
    "ProductName\0Anwendung Quendrix\0"                \
    "ProductVersion\0"                                 \
    "1, 0, 0, 1\0"                                     \
    "Comments\0\0"                                     \
    "LegalTrademarks\0\0"                              \
    "PrivateBuild\0\0"                                 \
    "SpecialBuild\0\0"  // the literal's own NUL closes the table

struct VersionRecord {
    char magic[8];
    uint32_t signature;
    uint32_t layoutVersion;
    uint32_t fileVersionHigh;
    uint32_t fileVersionLow;
    uint32_t productVersionHigh;
    uint32_t productVersionLow;
    uint32_t fileFlagsMask;
    uint32_t fileFlags;
    uint32_t fileOs;
    uint32_t fileType;
    uint32_t translation;
    char strings[sizeof(QX_VERSION_STRINGS)];
};

// Referenced by the version reader, so that every program that can show its version carries the record.
extern "C" {
extern const VersionRecord qx_version_record;
[[gnu::section(".qx_version"), gnu::used, gnu::retain]] const VersionRecord qx_version_record = {
    {'Q', 'X', 'V', 'E', 'R', 'S', '1', '\0'},
    0xFEEF04BDu,
    0x00010000u,
    (1u << 16) | 0u,
    (0u << 16) | 6u,  // file version 1.0.0.6
    (1u << 16) | 0u,
    (0u << 16) | 1u,  // product version 1.0.0.1
    0x3Fu,            // flags mask; no flags
    0u,
    4u,                        // operating system 4
    1u,                        // file type: application
    (0x0407u << 16) | 65001u,  // German, UTF-8 text
    QX_VERSION_STRINGS,
};
}

}  // namespace qx::res
