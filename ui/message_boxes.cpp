#include "ui/message_boxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

#include "res/strings.h"
#include "res/templates.h"

namespace qx {

namespace {

class RealMessageBoxes : public MessageBoxService {
public:
    void ShowMessage(const std::string& text) override {
        QMessageBox box(QMessageBox::Warning, QString::fromUtf8(res::FindTemplate(res::IDD_MAIN)->title),
                        QString::fromUtf8(text), QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    }
    bool ShowBatchFailure(const std::string& text, const std::string& reason) override {
        (void)reason;
        QMessageBox box(QMessageBox::Warning, QString::fromUtf8(res::FindTemplate(res::IDD_MAIN)->title),
                        QString::fromUtf8(text), QMessageBox::Ok, QApplication::activeWindow());
        auto* quiet = new QCheckBox(QString::fromUtf8(res::LoadString(res::IDS_QUIET_FAILURES)));
        box.setCheckBox(quiet);  // the box owns it
        box.exec();
        return quiet->isChecked();
    }
};

MessageBoxService* g_override = nullptr;

}  // namespace

MessageBoxService& MessageBoxes() {
    static RealMessageBoxes real;
    return g_override ? *g_override : real;
}

void SetMessageBoxService(MessageBoxService* service) { g_override = service; }

QTranslator* InstallQtGermanTexts(const QString& folder) {
    const QString where = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_de"), where)) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

}  // namespace qx
