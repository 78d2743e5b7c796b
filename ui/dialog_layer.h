// The small dialog layer: dialogs built from the templates in res/, data exchange with validation, message
// boxes, and the up-down control.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QDialog>
#include <QFont>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/types.h"
#include "res/templates.h"
#include "settings/settings.h"

class QButtonGroup;
class QTranslator;
class QLineEdit;
class QToolButton;
class QMenu;
class QMenuBar;

namespace qx {

// --- Message boxes -------------------------------------------------------------------------------------

// The service every dialog shows its messages through: a modal box with one OK button, caption "Quendrix".
MessageBoxService& MessageBoxes();
// Replaces the service (tests install a recorder); nullptr puts the real message boxes back.
void SetMessageBoxService(MessageBoxService* service);

// --- Qt's own texts -----------------------------------------------------------------------------------

// Puts Qt's German translations in place, so that its standard dialogs and buttons (the folder chooser,
// say) speak German whatever the user's locale. Looks in `folder`, by default where Qt keeps its
// translations. Returns the translator installed (owned by the application), or nullptr when there is none
// to load: the texts then stay Qt's English ones.
QTranslator* InstallQtGermanTexts(const QString& folder = QString());

// --- Small rules ---------------------------------------------------------------------------------------

// A colour value as the templates' owners give it: 0x00BBGGRR.
QColor ColorFromColorref(uint32_t colorref);

// WCAG 2's contrast ratio of two colours: 1 (the same) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);
// `wanted` as it is on a light `background`; on a dark one the same colour mixed with white until it has the
// readable contrast of 4.5:1.
QColor ReadableOn(const QColor& wanted, const QColor& background);

// The font all dialogs are laid out in, the desktop's, and the pixel size of its dialog units.
QFont DialogFont();
struct DialogUnits {
    int averageCharWidth;  // one horizontal unit is a quarter of it
    int charHeight;        // one vertical unit is an eighth of it
};
DialogUnits DialogBaseUnits(const QFont& font);
QRect MapDialogRect(const DialogUnits& units, int x, int y, int width, int height);

// --- Up-down control -----------------------------------------------------------------------------------

// Two small arrow buttons that step the number in their partner edit. The range may run downwards
// (lower > upper): then the up arrow lowers the number. The default range is 100..0.
class CUpDown : public QWidget {
    Q_OBJECT
public:
    CUpDown(QWidget* parent, QLineEdit* buddy, bool arrowKeys);
    void SetRange(int lower, int upper);
    int Lower() const { return lower_; }
    int Upper() const { return upper_; }
    QLineEdit* Buddy() const { return buddy_; }
    // One step as the up (+1) or down (-1) arrow makes it.
    void Step(int direction);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QLineEdit* buddy_;
    QToolButton* up_;
    QToolButton* down_;
    int lower_ = 100;
    int upper_ = 0;
    int position_ = 0;
};

// --- Dialogs from templates ----------------------------------------------------------------------------

class CTemplateDialog;

// A control that shows a key of the settings file: a check box, a radio group (by its first button), a
// number field checked against the key's range, or a text field.
struct Bound {
    int control;
    const char* key;
};

// One run of a dialog's exchange: the dialog's DoDataExchange calls these in the order of its table. After
// the first failure every later call does nothing.
class DataExchange {
public:
    DataExchange(CTemplateDialog& dialog, bool saveAndValidate) : dialog_(dialog), save_(saveAndValidate) {}
    bool Saving() const { return save_; }
    bool Failed() const { return failed_; }

    void Text(int id, std::string& value);
    void Number(int id, uint32_t& value, uint32_t minimum, uint32_t maximum);
    void Radio(int firstId, int32_t& value);
    void Check(int id, int32_t& value);
    // One bit of a set of flags as a check box.
    void CheckBit(int id, int32_t& bits, int bit);
    template <class Settings>
    void Exchange(const Bound& bound, Settings& values) {
        const settings::SettingKey& row = settings::Key(bound.key);
        settings::WithMember<Settings>(row, [&](auto member) { Value(bound.control, row, values.*member); });
    }

private:
    void Value(int id, const settings::SettingKey&, std::string& value) { Text(id, value); }
    void Value(int id, const settings::SettingKey& row, uint32_t& value);
    void Value(int id, const settings::SettingKey& row, int32_t& value);
    void Fail(int id, const std::string& message);
    CTemplateDialog& dialog_;
    bool save_;
    bool failed_ = false;
};

// A dialog whose controls come from a template: placed by dialog units, created in template order (the tab
// order), radio groups formed by the "starts a group" flags, group boxes kept below the controls they frame.
class CTemplateDialog : public QDialog {
    Q_OBJECT
public:
    CTemplateDialog(int templateId, QWidget* parent);

    const res::DialogTemplate& Template() const { return *template_; }
    // The control with that id (the first one, for id -1); nullptr when there is none.
    QWidget* Control(int id) const;
    template <typename T>
    T* ControlAs(int id) const {
        return qobject_cast<T*>(Control(id));
    }
    // Every control in template order, with its template row.
    struct Created {
        const res::DialogControl* row;
        QWidget* widget;
    };
    const std::vector<Created>& Controls() const { return controls_; }
    // The radio buttons of the group that starts at `firstId`, in order.
    std::vector<QWidget*> RadioGroup(int firstId) const;
    // Position of the checked button of that group, or -1 when none is checked.
    int RadioIndex(int firstId) const;
    // Checks the button at `index`; any other index leaves every button of the group unchecked.
    void SetRadioIndex(int firstId, int index);
    // Where the controls live (below the menu bar, if there is one).
    QWidget* Client() const { return client_; }
    // Adds a menu to the dialog's menu bar above its controls (made at the first call); the window grows
    // by the bar's height.
    QMenu* AddMenu(const QString& title);

    // Runs DoDataExchange: to the controls, or from them with validation (false: a message was shown).
    bool UpdateData(bool saveAndValidate);
    bool Exchanging() const { return exchanging_; }

protected:
    virtual void DoDataExchange(DataExchange& dx) = 0;
    // Calls `handler` of this dialog when the button `id` is clicked.
    template <class Dialog>
    void OnClicked(int id, void (Dialog::*handler)()) {
        if (auto* button = ControlAs<QAbstractButton>(id))
            connect(button, &QAbstractButton::clicked, this,
                    [this, handler] { (static_cast<Dialog*>(this)->*handler)(); });
    }
    // Tab and Shift+Tab: into a radio group they land on its checked button (its first when none is checked).
    bool focusNextPrevChild(bool next) override;

private:
    void CreateControls();
    void FixSize();
    QButtonGroup* RadioGroupOf(QWidget* widget) const;
    bool IsTabStop(QWidget* widget) const;
    const res::DialogTemplate* template_;
    QWidget* client_;
    QMenuBar* menuBar_ = nullptr;
    std::vector<Created> controls_;
    std::vector<std::pair<int, QButtonGroup*>> radioGroups_;
    bool exchanging_ = false;
};

}  // namespace qx
