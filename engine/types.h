// Values the engine works with, held by whoever drives it (main window, command line).
#pragma once

#include <cstdint>
#include <string>

namespace qx {

// Section "Allg": the main window's values.
struct MainSettings {
    uint32_t Rate = 80;
    std::string Verz;
    int32_t Bildsize = 2;
    uint32_t Prozent = 100;
    uint32_t Breite = 640;
    uint32_t Hoehe = 480;
    int32_t ZielPath = 0;
    int32_t NichtVergroessern = 0;
};

// Section "Parameter": the Parameter dialog's values.
struct ParameterSettings {
    int32_t AusgabeDateiTyp = 0;
    std::string Prefix = "Pic";
    int32_t LfdNr = 1;
    int32_t Stellen = 3;
    int32_t EingabeTyp = 7;
    int32_t AusgabeTyp = 0;
    int32_t ThreadAnzahl = 10;
};

// A message box that blocks its caller until the user has answered it (one OK button).
class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    virtual void ShowMessage(const std::string& text) = 0;
    // A failure's message with the reason behind it (one line), for a host that can show more than the box:
    // the box itself shows `text` alone.
    virtual void ShowFailure(const std::string& text, const std::string& reason) {
        (void)reason;
        ShowMessage(text);
    }
};

}  // namespace qx
