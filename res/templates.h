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

// The template with that number; nullptr when there is none.
const DialogTemplate* FindTemplate(int id);

// The text of the main window's one menu, which holds what the system menu holds on other platforms.
const char* MainMenuTitle();

}  // namespace qx::res
