// Dialog templates: the controls of each dialog with their ids, kinds, styles, texts and positions in
// dialog units. The order of the rows is the creation order, which is also the tab order.
#pragma once

#include <cstdint>
#include <vector>

namespace qx::res {

enum class ControlKind {
    PushButton,
    RadioButton,
    CheckBox,
    Edit,
    GroupBox,
    Static,      // a text label
    StaticIcon,  // the program icon
    UpDown,      // arrow buttons beside the control before it
    ListView,
    Progress,
    Table,  // a table of rows and columns with a header, sortable by column
};

enum ControlStyle : uint32_t {
    kNone = 0,
    kGroup = 1u << 0,  // starts a group (radio groups end at the next one)
    kTabStop = 1u << 1,
    kDefault = 1u << 2,  // the default push button (Enter)
    kBorder = 1u << 3,
    kAutoHScroll = 1u << 4,
    kNoPrefix = 1u << 5,     // "&" shown as it is
    kAlignRight = 1u << 6,   // up-down: sits at its partner's right edge
    kSetBuddyInt = 1u << 7,  // up-down: writes its position into the partner
    kArrowKeys = 1u << 8,    // up-down: the arrow keys in the partner move it
};

inline constexpr int kNoId = -1;

struct DialogControl {
    int id;
    ControlKind kind;
    uint32_t style;
    const char* text;  // UTF-8
    int x, y, width, height;
};

struct DialogTemplate {
    int id;
    const char* title;
    int width, height;     // dialog units
    const char* fontFace;  // the face the template names; the template layer picks a local sans font
    int pointSize;
    std::vector<DialogControl> controls;
};

inline constexpr int IDD_INFO = 100;
inline constexpr int IDD_MAIN = 102;
inline constexpr int IDD_PARAMETER = 130;
inline constexpr int IDD_REPORT = 140;
inline constexpr int IDD_ADVANCED = 131;

// Control ids, one enum per dialog. A value never changes: the tooltip strings are numbered like the
// controls they explain. The same number may name different controls in different dialogs (1040, 1041).

// The two buttons every dialog numbers alike: the one that takes the dialog's values ("OK", in the main
// window "Komprimieren") and the one that closes it without ("Abbrechen", "Schließen").
enum CommonControl : int {
    kOkButton = 1,
    kCancelButton = 2,
};

enum MainControl : int {
    kMainTargetFolder = 1000,  // the edit beside "Zielverzeichnis"
    kMainFileList = 1001,
    kMainRate = 1003,    // Kompressionsrate
    kMainBrowse = 1004,  // "..." beside the target folder
    kMainClearList = 1005,
    kMainProgress = 1006,
    kMainSizePercent = 1007,  // first of the size group: "Prozent", "Breite, Höhe", "wie Quelldatei"
    kMainSizeBox = 1008,
    kMainSizeLikeSource = 1009,
    kMainPercent = 1010,
    kMainWidth = 1011,
    kMainHeight = 1012,
    kMainRateSpin = 1013,
    kMainPercentSpin = 1014,
    kMainTargetLikeSource = 1029,  // first of the target group: like the source folder, the own folder
    kMainTargetOwnFolder = 1031,
    kMainNoEnlarge = 1032,
    kMainQualityNote = 1033,  // which output types the rate counts for
};

enum ParameterControl : int {
    kParameterNamesLikeSource = 1016,  // first of the naming group
    kParameterNamesByPattern = 1017,
    kParameterPrefix = 1018,
    kParameterDigits = 1019,
    kParameterNumber = 1020,  // the first running number
    kParameterNumberSpin = 1021,
    kParameterDigitsSpin = 1022,
    kParameterExample = 1023,
    kParameterOutputJpg = 1024,  // first of the output type group, which goes on with WebP, AVIF and JPEG XL
    kParameterOutputBmp = 1025,
    kParameterOutputPng = 1026,
    kParameterAcceptJpg = 1027,  // the input types
    kParameterAcceptBmp = 1028,
    kParameterAcceptPng = 1030,
    kParameterThreads = 1034,
    kParameterOutputWebp = 1040,
    kParameterOutputAvif = 1041,
    kParameterOutputJxl = 1042,
};

enum AdvancedControl : int {
    kAdvancedKeepMetadata = 1040,
    kAdvancedDropGps = 1041,
    kAdvancedOnlySmaller = 1042,
    kAdvancedMaxKBOn = 1043,
    kAdvancedMaxKB = 1044,
    kAdvancedKeepDate = 1045,
    kAdvancedAcceptHeic = 1046,  // the input types beyond the Parameter dialog's
    kAdvancedAcceptWebp = 1047,
    kAdvancedAcceptAvif = 1048,
    kAdvancedAcceptJxl = 1058,
    kAdvancedMaxKBNote = 1090,       // its %1 stands for the formats with a quality; no tooltip, so no number of one
    kAdvancedAutoQualityOff = 1053,  // first of the quality-per-image group, in the order of kAutoQualitaetLevels
    kAdvancedAutoQualityLossless = 1054,
    kAdvancedAutoQualityVeryHigh = 1055,
    kAdvancedAutoQualityHigh = 1056,
    kAdvancedAutoQualityMedium = 1057,
    kAdvancedKeepTree = 1049,
    kAdvancedSkipExisting = 1050,
    kAdvancedSkipOwnOutputs = 1051,
    kAdvancedJpegLossless = 1052,
    kAdvancedJpegBaseline = 1059,
};

enum InfoControl : int {
    kInfoVersion = 1015,
};

enum ReportControl : int {
    kReportTable = 1101,
    kReportTotals = 1102,
    kReportSave = 1103,
};

// The template with that number; nullptr when there is none.
const DialogTemplate* FindTemplate(int id);

// The text of the main window's one menu, which holds what the system menu holds on other platforms.
const char* MainMenuTitle();

}  // namespace qx::res
