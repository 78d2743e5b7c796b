// The Parameter dialog with its real widgets and a real settings file.
#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "engine/imaging/imaging.h"
#include "res/strings.h"
#include "settings/settings.h"
#include "ui/parameter_dialog.h"
#include "ui_test_support.h"

namespace qx::test {
namespace {

class ParameterDialogTest : public WindowTest {
protected:
    static QLineEdit* Edit(CParameterDialog& d, int id) { return d.ControlAs<QLineEdit>(id); }
    static void Click(CParameterDialog& d, int id) { d.ControlAs<QAbstractButton>(id)->click(); }
    static bool Checked(CParameterDialog& d, int id) { return d.ControlAs<QAbstractButton>(id)->isChecked(); }
    // Pattern naming with these fields, typed in one after the other.
    void Pattern(CParameterDialog& d, const QString& prefix, const QString& digits, const QString& number,
                 int outputButton) {
        Click(d, res::kParameterNamesByPattern);
        Edit(d, res::kParameterPrefix)->setText(prefix);
        Edit(d, res::kParameterDigits)->setText(digits);
        Edit(d, res::kParameterNumber)->setText(number);
        Click(d, outputButton);
    }
};

TEST_F(ParameterDialogTest, FirstStartShowsTheDefaults) {
    CParameterDialog dialog(store);
    EXPECT_EQ(dialog.windowTitle(), "Parameter");
    EXPECT_TRUE(Checked(dialog, res::kParameterNamesLikeSource));
    EXPECT_FALSE(Checked(dialog, res::kParameterNamesByPattern));
    for (int id : {res::kParameterPrefix, res::kParameterNumber, res::kParameterDigits})
        EXPECT_FALSE(dialog.Control(id)->isEnabled()) << id;
    EXPECT_EQ(Edit(dialog, res::kParameterPrefix)->text(), "Pic");
    EXPECT_EQ(Edit(dialog, res::kParameterNumber)->text(), "1");
    EXPECT_EQ(Edit(dialog, res::kParameterDigits)->text(), "3");
    EXPECT_EQ(dialog.ExampleText(), "");
    EXPECT_TRUE(Checked(dialog, res::kParameterAcceptJpg) && Checked(dialog, res::kParameterAcceptBmp) &&
                Checked(dialog, res::kParameterAcceptPng));
    EXPECT_TRUE(Checked(dialog, res::kParameterOutputJpg));
    EXPECT_EQ(Edit(dialog, res::kParameterThreads)->text(), "10");
    EXPECT_EQ(dialog.NumberSpin()->Lower(), 1);
    EXPECT_EQ(dialog.NumberSpin()->Upper(), 9999);
    EXPECT_EQ(dialog.DigitsSpin()->Lower(), 1);
    EXPECT_EQ(dialog.DigitsSpin()->Upper(), 4);
    EXPECT_EQ(dialog.ControlAs<QLabel>(res::kParameterExample)->palette().color(QPalette::WindowText),
              QColor(0, 0, 200));
    EXPECT_EQ(dialog.focusWidget(), dialog.Control(res::kParameterAcceptJpg));
    EXPECT_TRUE(recorder.messages().empty());
}

TEST_F(ParameterDialogTest, ExampleLineFollowsEveryChange) {
    CParameterDialog dialog(store);
    Pattern(dialog, "Pic", "3", "1", res::kParameterOutputJpg);
    EXPECT_EQ(dialog.ExampleText(), "Pic001.jpg,   Pic002.jpg,   Pic003.jpg,   ");
    Pattern(dialog, "Pic", "1", "9", res::kParameterOutputPng);
    EXPECT_EQ(dialog.ExampleText(), "Pic9.png,   Pic10.png,   Pic11.png,   ");
    Pattern(dialog, "Pic", "4", "9999", res::kParameterOutputBmp);
    EXPECT_EQ(dialog.ExampleText(), "Pic9999.bmp,   Pic10000.bmp,   Pic10001.bmp,   ");
    Pattern(dialog, "", "3", "1", res::kParameterOutputJpg);
    EXPECT_EQ(dialog.ExampleText(), "001.jpg,   002.jpg,   003.jpg,   ");
    Pattern(dialog, "a%d", "3", "1", res::kParameterOutputJpg);
    EXPECT_EQ(dialog.ExampleText(), "a%d001.jpg,   a%d002.jpg,   a%d003.jpg,   ");
    EXPECT_TRUE(recorder.messages().empty());

    // Each keystroke counts, also the up-down arrows.
    QTest::keyClick(Edit(dialog, res::kParameterPrefix), Qt::Key_X);
    EXPECT_EQ(dialog.ExampleText(), "a%dx001.jpg,   a%dx002.jpg,   a%dx003.jpg,   ");
    dialog.NumberSpin()->Step(+1);
    EXPECT_EQ(Edit(dialog, res::kParameterNumber)->text(), "2");
    EXPECT_EQ(dialog.ExampleText(), "a%dx002.jpg,   a%dx003.jpg,   a%dx004.jpg,   ");

    // Names like the sources: edits off, example empty; back again: filled.
    Click(dialog, res::kParameterNamesLikeSource);
    for (int id : {res::kParameterPrefix, res::kParameterNumber, res::kParameterDigits})
        EXPECT_FALSE(dialog.Control(id)->isEnabled()) << id;
    EXPECT_EQ(dialog.ExampleText(), "");
    Click(dialog, res::kParameterNamesByPattern);
    for (int id : {res::kParameterPrefix, res::kParameterNumber, res::kParameterDigits})
        EXPECT_TRUE(dialog.Control(id)->isEnabled()) << id;
    EXPECT_EQ(dialog.ExampleText(), "a%dx002.jpg,   a%dx003.jpg,   a%dx004.jpg,   ");
}

TEST_F(ParameterDialogTest, WebpAvifAndJpegXlJoinTheOutputTypesAsThreeFourAndFive) {
    {
        CParameterDialog dialog(store);
        // One group, a button for each output type of the codec table: choosing one unchecks the others.
        size_t outputTypes = 0;
        for (const imaging::Codec& codec : imaging::Codecs()) outputTypes += codec.outputType >= 0;
        EXPECT_EQ(dialog.RadioGroup(res::kParameterOutputJpg).size(), outputTypes);
        Pattern(dialog, "Pic", "3", "1", res::kParameterOutputWebp);
        EXPECT_EQ(dialog.ControlAs<QAbstractButton>(res::kParameterOutputWebp)->text(), "WebP (mit Kompression)");
        EXPECT_EQ(dialog.ExampleText(), "Pic001.webp,   Pic002.webp,   Pic003.webp,   ");
        EXPECT_FALSE(Checked(dialog, res::kParameterOutputJpg));
        Pattern(dialog, "Pic", "3", "1", res::kParameterOutputAvif);
        EXPECT_EQ(dialog.ControlAs<QAbstractButton>(res::kParameterOutputAvif)->text(), "AVIF (mit Kompression)");
        EXPECT_EQ(dialog.ExampleText(), "Pic001.avif,   Pic002.avif,   Pic003.avif,   ");
        EXPECT_FALSE(Checked(dialog, res::kParameterOutputWebp));
        Pattern(dialog, "Pic", "3", "1", res::kParameterOutputJxl);
        EXPECT_EQ(dialog.ControlAs<QAbstractButton>(res::kParameterOutputJxl)->text(), "JPEG XL (mit Kompression)");
        EXPECT_EQ(dialog.ExampleText(), "Pic001.jxl,   Pic002.jxl,   Pic003.jxl,   ");
        EXPECT_FALSE(Checked(dialog, res::kParameterOutputAvif));
        dialog.OnOK();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(store.GetProfileIntA("Parameter", "AusgabeTyp", 0), 5);
    {
        CParameterDialog dialog(store);
        EXPECT_TRUE(Checked(dialog, res::kParameterOutputJxl));
        Click(dialog, res::kParameterOutputAvif);
        dialog.OnOK();
    }
    EXPECT_EQ(store.GetProfileIntA("Parameter", "AusgabeTyp", 0), 4);
    {
        CParameterDialog dialog(store);
        EXPECT_TRUE(Checked(dialog, res::kParameterOutputAvif));
        Click(dialog, res::kParameterOutputWebp);
        dialog.OnOK();
    }
    EXPECT_EQ(store.GetProfileIntA("Parameter", "AusgabeTyp", 0), 3);
    CParameterDialog dialog(store);
    EXPECT_TRUE(Checked(dialog, res::kParameterOutputWebp));
    // Laid out in order: the new buttons inside the output types' box, which ends above the naming box, which
    // ends above the buttons, which lie inside the dialog.
    auto box = [&](const std::string& title) {
        for (const auto& created : dialog.Controls())
            if (created.row->kind == res::ControlKind::GroupBox && title == created.row->text)
                return created.widget->geometry();
        return QRect();
    };
    const QRect outputs = box("Ausgabedateitypen");
    const QRect naming =
        box("Namen der Ausgabedateien (bereits vorhandene Dateien werden OHNE Nachfrage überschrieben !!)");
    for (int id : {res::kParameterOutputJpg, res::kParameterOutputPng, res::kParameterOutputWebp,
                   res::kParameterOutputAvif, res::kParameterOutputJxl})
        EXPECT_TRUE(outputs.contains(dialog.Control(id)->geometry())) << id;
    EXPECT_LT(outputs.bottom(), naming.top());
    for (int id : {res::kParameterNamesLikeSource, res::kParameterNamesByPattern, res::kParameterPrefix,
                   res::kParameterDigits, res::kParameterExample})
        EXPECT_TRUE(naming.contains(dialog.Control(id)->geometry())) << id;
    EXPECT_LT(naming.bottom(), dialog.Control(res::kOkButton)->geometry().top());
    EXPECT_TRUE(dialog.Client()->rect().contains(dialog.Control(res::kCancelButton)->geometry()));
    EXPECT_TRUE(recorder.messages().empty());
}

TEST_F(ParameterDialogTest, ValidationWhileTyping) {
    CParameterDialog dialog(store);
    Pattern(dialog, "Pic", "3", "1", res::kParameterOutputJpg);
    ASSERT_TRUE(recorder.messages().empty());
    Edit(dialog, res::kParameterDigits)->setText("");
    QTest::keyClick(Edit(dialog, res::kParameterDigits), Qt::Key_5);
    ASSERT_FALSE(recorder.messages().empty());
    EXPECT_EQ(recorder.messages().back(), "Bitte geben Sie eine ganze Zahl zwischen 1 und 4 ein.");
    EXPECT_EQ(dialog.ExampleText(), "");
    EXPECT_EQ(dialog.focusWidget(), dialog.Control(res::kParameterDigits));

    Edit(dialog, res::kParameterDigits)->setText("2");
    recorder.Clear();
    Edit(dialog, res::kParameterNumber)->clear();
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{res::LoadString(res::IDS_PARSE_INT)});
    recorder.Clear();
    dialog.OnOK();  // refused until a number is entered
    EXPECT_EQ(recorder.messages().size(), 1u);
    EXPECT_FALSE(store.GetProfileStringA("Parameter", "Prefix", "<none>") != "<none>");
    Edit(dialog, res::kParameterNumber)->setText("7");
    EXPECT_EQ(dialog.ExampleText(), "Pic07.jpg,   Pic08.jpg,   Pic09.jpg,   ");

    // Thread count 0 is accepted, 1001 refused.
    recorder.Clear();
    Edit(dialog, res::kParameterThreads)->setText("1001");
    EXPECT_FALSE(dialog.UpdateData(true));
    EXPECT_EQ(recorder.messages().back(), "Bitte geben Sie eine ganze Zahl zwischen 0 und 1000 ein.");
    Edit(dialog, res::kParameterThreads)->setText("0");
    EXPECT_TRUE(dialog.UpdateData(true));
    dialog.OnOK();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const ParameterSettings saved = settings::ReadParameterSettings(store);
    EXPECT_EQ(saved.AusgabeDateiTyp, 1);
    EXPECT_EQ(saved.Prefix, "Pic");
    EXPECT_EQ(saved.LfdNr, 7);
    EXPECT_EQ(saved.Stellen, 2);
    EXPECT_EQ(saved.EingabeTyp, 7);
    EXPECT_EQ(saved.AusgabeTyp, 0);
    EXPECT_EQ(saved.ThreadAnzahl, 0);
}

TEST_F(ParameterDialogTest, NoInputTypeWritesAllKeysAndKeepsTheDialogOpen) {
    CParameterDialog dialog(store);
    dialog.show();
    for (int id : {res::kParameterAcceptJpg, res::kParameterAcceptBmp, res::kParameterAcceptPng})
        dialog.ControlAs<QCheckBox>(id)->setChecked(false);
    Click(dialog, res::kParameterOutputPng);
    dialog.OnOK();
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{"Es muß mindestens ein Eingabedateityp angegeben werden."});
    EXPECT_TRUE(dialog.isVisible());
    for (const char* key :
         {"AusgabeDateiTyp", "Prefix", "LfdNr", "Stellen", "EingabeTyp", "AusgabeTyp", "ThreadAnzahl"})
        EXPECT_NE(store.GetProfileStringA("Parameter", key, "<none>"), "<none>") << key;
    EXPECT_EQ(store.GetProfileIntA("Parameter", "EingabeTyp", 7), 0);
    EXPECT_EQ(store.GetProfileIntA("Parameter", "AusgabeTyp", 0), 2);
    QTest::keyClick(&dialog, Qt::Key_Escape);  // "Abbrechen" closes, the 0 stays
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(store.GetProfileIntA("Parameter", "EingabeTyp", 7), 0);
}

TEST_F(ParameterDialogTest, StoredValuesOutsideTheButtonsAndRanges) {
    store.WriteProfileInt("Parameter", "AusgabeDateiTyp", 1);
    // The first output type the codec table does not have.
    store.WriteProfileInt("Parameter", "AusgabeTyp", static_cast<int32_t>(imaging::Codecs().size()));
    {
        CParameterDialog dialog(store);
        EXPECT_EQ(dialog.RadioIndex(res::kParameterOutputJpg), -1);
        for (QWidget* button : dialog.RadioGroup(res::kParameterOutputJpg))
            EXPECT_FALSE(static_cast<QAbstractButton*>(button)->isChecked());
        EXPECT_EQ(dialog.ExampleText(), "Pic001,   Pic002,   Pic003,   ");
        dialog.OnOK();
    }
    EXPECT_EQ(store.GetProfileIntA("Parameter", "AusgabeTyp", 0), -1);

    store.WriteProfileInt("Parameter", "AusgabeDateiTyp", 2);
    {
        CParameterDialog dialog(store);
        EXPECT_FALSE(Checked(dialog, res::kParameterNamesLikeSource) || Checked(dialog, res::kParameterNamesByPattern));
        for (int id : {res::kParameterPrefix, res::kParameterNumber, res::kParameterDigits})
            EXPECT_FALSE(dialog.Control(id)->isEnabled()) << id;
        EXPECT_EQ(dialog.ExampleText(), "");
        dialog.OnOK();
    }
    EXPECT_EQ(store.GetProfileIntA("Parameter", "AusgabeDateiTyp", 0), -1);

    // A stored digit count of 9: the message at once, the template state stays.
    store.WriteProfileInt("Parameter", "Stellen", 9);
    recorder.Clear();
    CParameterDialog dialog(store);
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{"Bitte geben Sie eine ganze Zahl zwischen 1 und 4 ein."});
    EXPECT_EQ(Edit(dialog, res::kParameterDigits)->text(), "9");
    for (int id : {res::kParameterPrefix, res::kParameterNumber, res::kParameterDigits})
        EXPECT_TRUE(dialog.Control(id)->isEnabled()) << id;
    EXPECT_EQ(dialog.ExampleText(), "IDC_BEISPIEL");
}

TEST_F(ParameterDialogTest, UpDownStepsWithinItsRangeWithoutWrapping) {
    CParameterDialog dialog(store);
    Click(dialog, res::kParameterNamesByPattern);
    QLineEdit* digits = Edit(dialog, res::kParameterDigits);
    digits->setText("4");
    dialog.DigitsSpin()->Step(+1);
    EXPECT_EQ(digits->text(), "4");
    dialog.DigitsSpin()->Step(-1);
    EXPECT_EQ(digits->text(), "3");
    QTest::keyClick(digits, Qt::Key_Down);  // the arrow keys in the edit move it too
    QTest::keyClick(digits, Qt::Key_Down);
    QTest::keyClick(digits, Qt::Key_Down);
    EXPECT_EQ(digits->text(), "1");
    // The edit takes any text; the up-down leaves a bad one to the validation.
    digits->setText("x");
    EXPECT_EQ(digits->text(), "x");
    QLineEdit* number = Edit(dialog, res::kParameterNumber);
    number->setText("9998");
    dialog.NumberSpin()->Step(+1);
    dialog.NumberSpin()->Step(+1);
    EXPECT_EQ(number->text(), "9999");
}

}  // namespace
}  // namespace qx::test
