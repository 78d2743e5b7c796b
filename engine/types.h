// Values the engine works with, held by whoever drives it (main window, command line).
#pragma once

#include <cstdint>
#include <string>

namespace qx {

// Coded values of the settings.
// Bildsize, the size rule.
inline constexpr int32_t kSizePercent = 0;  // Prozent percent of the source size
inline constexpr int32_t kSizeBox = 1;      // fit into Breite x Hoehe
inline constexpr int32_t kSizeSource = 2;   // the source size
// ZielPath, the target rule.
inline constexpr int32_t kTargetSourceFolder = 0;  // the folder of each source
inline constexpr int32_t kTargetVerz = 1;          // the folder Verz
// AusgabeDateiTyp, the naming mode.
inline constexpr int32_t kNamingLikeSources = 0;
inline constexpr int32_t kNamingPattern = 1;
// AusgabeTyp, the output type: an index into the output formats (FindOutputFormat).
inline constexpr int32_t kOutputTypeJpg = 0;
inline constexpr int32_t kOutputTypeBmp = 1;
inline constexpr int32_t kOutputTypePng = 2;
inline constexpr int32_t kOutputTypeWebp = 3;
inline constexpr int32_t kOutputTypeAvif = 4;
inline constexpr int32_t kOutputTypeJxl = 5;

// Section "Allg": the main window's values.
struct MainSettings {
    uint32_t Rate = 80;
    std::string Verz;
    int32_t Bildsize = kSizeSource;
    uint32_t Prozent = 100;
    uint32_t Breite = 640;
    uint32_t Hoehe = 480;
    int32_t ZielPath = kTargetSourceFolder;
    int32_t NichtVergroessern = 0;
};

// Section "Parameter": the Parameter dialog's values.
struct ParameterSettings {
    int32_t AusgabeDateiTyp = kNamingLikeSources;
    std::string Prefix = "Pic";
    int32_t LfdNr = 1;
    int32_t Stellen = 3;
    int32_t EingabeTyp = 7;
    int32_t AusgabeTyp = kOutputTypeJpg;
    int32_t ThreadAnzahl = 10;
};

// Section "Erweitert": the options of the "Erweiterte Einstellungen" dialog, all off by default but the
// further input types.
struct AdvancedSettings {
    int32_t MetadatenUebernehmen = 0;  // 1: EXIF and XMP of the source go into outputs that carry them
    int32_t GpsEntfernen = 1;          // 1: kept EXIF loses its GPS position
    int32_t NurWennKleiner = 0;        // 1: an output not smaller than its source is not written
    int32_t MaxKBAktiv = 0;            // 1: MaxKB limits outputs of formats with a quality
    int32_t MaxKB = 500;               // most kilobytes (1024 bytes) per output file
    int32_t DatumUebernehmen = 0;      // 1: the output gets the source's modification time
    int32_t WeitereEingabeTypen = 15;  // input types beyond EingabeTyp's: bits 0..3 HEIC, WebP, AVIF, JPEG XL
    // > 0: outputs of formats with a quality take the lowest quality up to Rate whose look stays within this
    // butteraugli distance, in tenths (10 "visuell verlustfrei" .. 30 "mittel"); 0: Rate for every image.
    int32_t AutoQualitaet = 0;
    // 1: with a target folder, files of a dropped folder keep their sub-folders below it
    int32_t OrdnerstrukturBeibehalten = 0;
    // 1: a target already there and not older than its source is left as it is, the file counted as skipped
    int32_t VorhandeneUeberspringen = 0;
    // 1: outputs this program wrote are listed in their folder's ledger, and a listed file is no source
    int32_t EigeneAusgabenUeberspringen = 0;
    int32_t JpegVerlustfreiUmpacken = 0;  // 1: a JPEG whose pixels stay as they are becomes JPEG XL without loss
    int32_t JpegBaseline = 0;             // 1: JPEG outputs in one sequential scan, not progressive
};

// The input types a drop takes, by the input bit the codec table gives each input format: bits 0..2 as
// EingabeTyp stores them (BMP, JPG, PNG), bits 3..6 as WeitereEingabeTypen stores them in its bits 0..3
// (HEIC, WebP, AVIF, JPEG XL).
class InputTypeFlags {
public:
    InputTypeFlags() = default;  // every input type
    static InputTypeFlags Only(uint32_t bits) {
        InputTypeFlags flags;
        flags.bits_ = bits;
        return flags;
    }
    bool Has(int bit) const { return bit >= 0 && bit < 32 && ((bits_ >> bit) & 1u) != 0; }
    void Set(int bit) {
        if (bit >= 0 && bit < 32) bits_ |= 1u << bit;
    }
    uint32_t Bits() const { return bits_; }

private:
    uint32_t bits_ = ~0u;
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
    // A failure of one file of a batch, in a box that also offers to show none of the batch's further failures
    // (a check box, unchecked when the box opens). True when the user checked it.
    virtual bool ShowBatchFailure(const std::string& text, const std::string& reason) {
        ShowFailure(text, reason);
        return false;
    }
};

}  // namespace qx
