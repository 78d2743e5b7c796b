#include "res/templates.h"

#include "res/strings.h"

namespace qx::res {
namespace {

using K = ControlKind;
constexpr uint32_t kEdit = kBorder | kTabStop | kAutoHScroll;
constexpr uint32_t kSpin = kAlignRight | kSetBuddyInt | kArrowKeys;

const DialogTemplate kMain{
    IDD_MAIN,
    "Quendrix",
    537,
    303,
    "MS Sans Serif",
    8,
    {
        {kMainTargetLikeSource, K::RadioButton, kGroup | kTabStop, "Zielverzeichnis wie Quellverzeichnis", 10, 18, 129,
         10},
        {kMainTargetOwnFolder, K::RadioButton, kNone, "Zielverzeichnis", 10, 32, 63, 10},
        {kMainTargetFolder, K::Edit, kEdit, "", 78, 31, 431, 12},
        {kMainBrowse, K::PushButton, kTabStop, "...", 514, 31, 13, 12},
        {kNoId, K::GroupBox, kGroup, "Zielverzeichnis", 7, 7, 524, 43},
        {kMainSizePercent, K::RadioButton, kGroup | kTabStop, "Prozent", 10, 66, 40, 10},
        {kMainPercent, K::Edit, kEdit, "", 98, 64, 31, 12},
        {kMainPercentSpin, K::UpDown, kSpin, "", 139, 59, 11, 14},
        {kMainSizeBox, K::RadioButton, kNone, "Breite, Höhe", 10, 81, 55, 10},
        {kMainWidth, K::Edit, kEdit, "", 98, 79, 31, 12},
        {kMainHeight, K::Edit, kEdit, "", 167, 79, 31, 12},
        {kMainSizeLikeSource, K::RadioButton, kNone, "wie Quelldatei", 10, 96, 60, 10},
        {kNoId, K::GroupBox, kGroup, "Bildgröße", 7, 54, 195, 55},
        {kNoId, K::GroupBox, kNone, "Kompressionsrate (0 bis 100) ", 209, 54, 164, 55},
        {kMainRate, K::Edit, kEdit, "", 214, 64, 31, 12},
        {kMainRateSpin, K::UpDown, kSpin, "", 248, 63, 11, 14},
        {kNoId, K::Static, kNone,
         "(0 = hohe Kompression, schlechte Qualität;  100 = kleine Kompression, gute Qualität)", 216, 85, 142, 16},
        {kNoId, K::GroupBox, kNone, "Optionen", 381, 54, 150, 55},
        {kMainNoEnlarge, K::CheckBox, kTabStop, "Bilder nicht vergrößern (Bildgröße)", 389, 66, 122, 10},
        {kMainFileList, K::ListView, kBorder | kTabStop, "", 7, 119, 524, 157},
        {kOkButton, K::PushButton, kDefault | kTabStop, "Komprimieren", 7, 282, 50, 14},
        {kMainClearList, K::PushButton, kTabStop, "Liste löschen", 73, 282, 50, 14},
        {kMainProgress, K::Progress, kBorder, "", 129, 284, 331, 10},
        {kCancelButton, K::PushButton, kTabStop, "Schließen", 481, 282, 50, 14},
        {kNoId, K::Static, kNone, "%", 132, 66, 8, 8},
        {kNoId, K::Static, kNone, "Breite", 74, 81, 19, 10},
        {kNoId, K::Static, kNone, "Höhe", 144, 81, 18, 10},
        {kMainQualityNote, K::Static, kNone, "Nur für JPG-Ausgabedateien", 264, 66, 91, 8},
    }};

const DialogTemplate kParameter{
    IDD_PARAMETER,
    "Parameter",
    380,
    201,
    "MS Sans Serif",
    8,
    {
        {kParameterAcceptJpg, K::CheckBox, kTabStop, "JPG", 13, 18, 29, 10},
        {kParameterAcceptBmp, K::CheckBox, kTabStop, "BMP", 13, 32, 31, 10},
        {kParameterAcceptPng, K::CheckBox, kTabStop, "PNG", 13, 46, 31, 10},
        {kParameterOutputJpg, K::RadioButton, kGroup | kTabStop, "JPG (mit Kompression)", 141, 20, 86, 10},
        {kParameterOutputBmp, K::RadioButton, kNone, "BMP (ohne Kompression)", 141, 33, 95, 10},
        {kParameterOutputPng, K::RadioButton, kNone, "PNG (ohne Kompression)", 141, 46, 95, 10},
        // The later output types: in the same group, one line further down each; everything below moves down
        // by the three lines they take.
        {kParameterOutputWebp, K::RadioButton, kNone, "WebP (mit Kompression)", 141, 59, 95, 10},
        {kParameterOutputAvif, K::RadioButton, kNone, "AVIF (mit Kompression)", 141, 72, 95, 10},
        {kParameterOutputJxl, K::RadioButton, kNone, "JPEG XL (mit Kompression)", 141, 85, 100, 10},
        {kNoId, K::GroupBox, kGroup, "Ausgabedateitypen", 134, 7, 115, 95},
        {kParameterNamesLikeSource, K::RadioButton, kGroup | kTabStop, "Namen wie die Quelldateien", 14, 124, 104, 10},
        {kParameterNamesByPattern, K::RadioButton, kNone, "Namen nach Muster bilden", 14, 137, 101, 10},
        {kNoId, K::Static, kNone, "Prefix", 133, 137, 18, 8},
        {kParameterPrefix, K::Edit, kEdit, "", 155, 135, 46, 12},
        {kNoId, K::Static, kNone, "Lfd. Nr.", 215, 137, 24, 8},
        {kParameterNumber, K::Edit, kEdit, "", 243, 135, 38, 12},
        {kParameterNumberSpin, K::UpDown, kAlignRight | kArrowKeys, "", 284, 136, 10, 14},
        {kNoId, K::Static, kNone, "Stellen", 304, 137, 22, 8},
        {kParameterDigits, K::Edit, kEdit, "", 330, 135, 23, 12},
        {kParameterDigitsSpin, K::UpDown, kAlignRight | kArrowKeys, "", 351, 136, 10, 14},
        {kNoId, K::GroupBox, kGroup,
         "Namen der Ausgabedateien (bereits vorhandene Dateien werden OHNE Nachfrage überschrieben !!)", 7, 111, 366,
         55},
        {kNoId, K::Static, kNone, "Beispiel", 28, 151, 25, 8},
        {kParameterExample, K::Static, kNone, "IDC_BEISPIEL", 59, 151, 301, 8},
        {kNoId, K::GroupBox, kNone, "Eingabedateitypen", 7, 7, 115, 95},
        {kOkButton, K::PushButton, kDefault | kTabStop, "OK", 7, 180, 50, 14},
        {kCancelButton, K::PushButton, kTabStop, "Abbrechen", 323, 180, 50, 14},
        {kNoId, K::GroupBox, kNone, "Optionen", 262, 7, 111, 95},
        {kNoId, K::Static, kGroup, "Thread-Anzahl", 270, 21, 47, 8},
        {kParameterThreads, K::Edit, kEdit, "", 322, 19, 30, 12},
    }};

const DialogTemplate kAdvanced{
    IDD_ADVANCED,
    "Erweiterte Einstellungen",
    513,
    235,
    "MS Sans Serif",
    8,
    {
        {kAdvancedKeepMetadata, K::CheckBox, kTabStop, "Metadaten übernehmen (EXIF, XMP)", 14, 19, 200, 10},
        {kAdvancedDropGps, K::CheckBox, kTabStop, "GPS-Position entfernen", 26, 33, 150, 10},
        {kNoId, K::GroupBox, kGroup, "Metadaten", 7, 7, 246, 42},
        {kAdvancedOnlySmaller, K::CheckBox, kTabStop, "Nur speichern, wenn kleiner als die Quelldatei", 14, 66, 220,
         10},
        {kAdvancedMaxKBOn, K::CheckBox, kTabStop, "Höchstens", 14, 81, 44, 10},
        {kAdvancedMaxKB, K::Edit, kEdit, "", 62, 80, 40, 12},
        {kNoId, K::Static, kNone, "KB pro Datei", 107, 82, 60, 8},
        {kAdvancedMaxKBNote, K::Static, kNone, "(nur für %1-Ausgabedateien)", 26, 96, 220, 8},
        {kNoId, K::GroupBox, kGroup, "Dateigröße", 7, 54, 246, 56},
        {kAdvancedKeepDate, K::CheckBox, kTabStop, "Änderungsdatum der Quelle übernehmen", 14, 127, 200, 10},
        {kNoId, K::GroupBox, kGroup, "Datum", 7, 115, 246, 27},
        {kAdvancedAcceptHeic, K::CheckBox, kTabStop, "HEIC/HEIF", 14, 159, 60, 10},
        {kAdvancedAcceptWebp, K::CheckBox, kTabStop, "WebP", 80, 159, 50, 10},
        {kAdvancedAcceptAvif, K::CheckBox, kTabStop, "AVIF", 136, 159, 50, 10},
        {kAdvancedAcceptJxl, K::CheckBox, kTabStop, "JPEG XL", 192, 159, 56, 10},
        {kNoId, K::GroupBox, kGroup, "Weitere Eingabetypen", 7, 147, 246, 27},
        {kAdvancedAutoQualityOff, K::RadioButton, kGroup | kTabStop, "Aus (Qualität für alle Bilder)", 267, 19, 112,
         10},
        {kAdvancedAutoQualityLossless, K::RadioButton, kNone, "Visuell verlustfrei", 385, 19, 110, 10},
        {kAdvancedAutoQualityVeryHigh, K::RadioButton, kNone, "Sehr hoch", 267, 33, 112, 10},
        {kAdvancedAutoQualityHigh, K::RadioButton, kNone, "Hoch", 385, 33, 110, 10},
        {kAdvancedAutoQualityMedium, K::RadioButton, kNone, "Mittel", 267, 47, 112, 10},
        {kNoId, K::Static, kNone, "(höchstens die Qualität des Hauptfensters)", 279, 59, 220, 8},
        {kNoId, K::GroupBox, kGroup, "Qualität je Bild wählen", 260, 7, 246, 64},
        {kAdvancedKeepTree, K::CheckBox, kTabStop, "Ordnerstruktur beibehalten", 267, 88, 200, 10},
        {kAdvancedSkipExisting, K::CheckBox, kTabStop, "Vorhandene Zieldateien überspringen", 267, 103, 200, 10},
        {kAdvancedSkipOwnOutputs, K::CheckBox, kTabStop, "Eigene Ausgabedateien nicht erneut komprimieren", 267, 118,
         220, 10},
        {kNoId, K::GroupBox, kGroup, "Ordner", 260, 76, 246, 57},
        {kAdvancedJpegBaseline, K::CheckBox, kTabStop, "JPG als Baseline speichern (nicht progressiv)", 267, 150, 220,
         10},
        {kNoId, K::GroupBox, kGroup, "JPG", 260, 138, 246, 27},
        {kAdvancedJpegLossless, K::CheckBox, kTabStop, "JPEG verlustfrei in JPEG XL umpacken", 14, 191, 200, 10},
        {kNoId, K::GroupBox, kGroup, "JPEG XL", 7, 179, 246, 27},
        {kOkButton, K::PushButton, kDefault | kTabStop, "OK", 7, 214, 50, 14},
        {kCancelButton, K::PushButton, kTabStop, "Abbrechen", 456, 214, 50, 14},
    }};

const DialogTemplate kInfo{IDD_INFO,
                           "Info über Quendrix",
                           274,
                           55,
                           "MS Sans Serif",
                           8,
                           {
                               {kNoId, K::StaticIcon, kNone, "", 11, 17, 21, 20},
                               {kNoId, K::Static, kNoPrefix | kGroup, "Quendrix     Version:", 40, 10, 89, 8},
                               {kNoId, K::Static, kGroup, "Komprimieren von Bildern (JPG, BMP, PNG)", 38, 25, 185, 8},
                               {kOkButton, K::PushButton, kDefault | kGroup | kTabStop, "OK", 220, 7, 47, 14},
                               {kInfoVersion, K::Static, kGroup, "IDC_VERSION", 133, 10, 81, 8},
                           }};

// The report of the last batch: its rows, the totals, saving as CSV.
const DialogTemplate kReport{
    IDD_REPORT,
    LoadString(IDS_REPORT_TITLE).c_str(),
    537,
    260,
    "MS Sans Serif",
    8,
    {
        {kReportTable, K::Table, kBorder | kTabStop, "", 7, 7, 523, 213},
        {kReportTotals, K::Static, kNone, "", 7, 225, 523, 10},
        {kReportSave, K::PushButton, kTabStop, LoadString(IDS_REPORT_SAVE).c_str(), 7, 239, 70, 14},
        {kCancelButton, K::PushButton, kDefault | kTabStop, LoadString(IDS_REPORT_CLOSE).c_str(), 480, 239, 50, 14},
    }};

}  // namespace

const DialogTemplate* FindTemplate(int id) {
    switch (id) {
        case IDD_MAIN: return &kMain;
        case IDD_PARAMETER: return &kParameter;
        case IDD_ADVANCED: return &kAdvanced;
        case IDD_INFO: return &kInfo;
        case IDD_REPORT: return &kReport;
        default: return nullptr;
    }
}

const char* MainMenuTitle() { return "&Quendrix"; }

}  // namespace qx::res
