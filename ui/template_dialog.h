// Dialogs built from the templates in res/: controls placed by dialog units, the tab order and radio groups
// of classic dialogs, and the small rules of colour and font they are drawn by.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QDialog>
#include <QFont>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "res/templates.h"
#include "ui/data_exchange.h"
class QButtonGroup;
class QMenu;
class QMenuBar;

namespace qx {

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

// A dialog whose controls come from a template: placed by dialog units, created in template order (the tab
// order), radio groups formed by the "starts a group" flags, group boxes kept below the controls they frame.
class CTemplateDialog : public QDialog {
    Q_OBJECT
public:
    // Makes the widget of a list control: the template names only its place.
    using ListFactory = QWidget* (*)(QWidget* parent);
    CTemplateDialog(int templateId, QWidget* parent, ListFactory makeList = nullptr);

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
    ListFactory makeList_;
    QWidget* client_;
    QMenuBar* menuBar_ = nullptr;
    std::vector<Created> controls_;
    std::vector<std::pair<int, QButtonGroup*>> radioGroups_;
    bool exchanging_ = false;
};

}  // namespace qx
