// Settings-file fuzz target: the input as a settings file, read key by key and section by section as the
// programs read it, then written back and read again.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "settings/profile_store.h"
#include "settings/settings.h"

namespace {

std::string ScratchFolder() {
    std::string pattern = "/dev/shm/qx-fuzz-XXXXXX";
    if (::access("/dev/shm", W_OK) != 0) pattern = "/tmp/qx-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) __builtin_trap();
    return pattern;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) __builtin_trap();
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = ScratchFolder();
    static const std::string path = folder + "/quendrix.ini";
    WriteFile(path, data, size);

    qx::ProfileStore store(path);
    const qx::MainSettings main = qx::settings::ReadMainSettings(store, "/default");
    const qx::ParameterSettings parameters = qx::settings::ReadParameterSettings(store);
    (void)qx::settings::ReadEingabeTyp(store);
    (void)qx::settings::UnpackEingabeTyp(parameters.EingabeTyp);
    (void)store.GetProfileStringA("", "", "d");
    (void)qx::ParseProfileInt(std::string(reinterpret_cast<const char*>(data), size));

    // A write keeps the file readable and what was written reads back.
    if (!store.WriteProfileStringA(qx::settings::kAllg, qx::settings::kVerz, "/ziel")) __builtin_trap();
    if (store.GetProfileStringA(qx::settings::kAllg, qx::settings::kVerz, "") != "/ziel") __builtin_trap();
    if (!store.WriteProfileInt(qx::settings::kParameter, qx::settings::kThreadAnzahl, 1000)) __builtin_trap();
    if (store.GetProfileIntA(qx::settings::kParameter, qx::settings::kThreadAnzahl, 0) != 1000) __builtin_trap();
    qx::settings::WriteMainSettings(store, main);
    qx::settings::WriteParameterSettings(store, parameters);
    const qx::ParameterSettings reread = qx::settings::ReadParameterSettings(store);
    if (reread.ThreadAnzahl != parameters.ThreadAnzahl || reread.AusgabeTyp != parameters.AusgabeTyp) __builtin_trap();
    return 0;
}
