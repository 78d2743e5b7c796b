// quendrix-notice: one message box with a title and a text, for the helpers that have no window of their
// own (quendrix-compress shows its summary here where no desktop notification can be shown).
#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "res/icon.h"
#include "res/strings.h"

namespace {

constexpr int kExitUsage = 2;

int Usage() {
    std::fputs(qx::res::LoadString(qx::res::IDS_NOTICE_USAGE).c_str(), stderr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // Read before Qt sees the command line: Qt would take a text such as "-reverse" for one of its options.
    QMessageBox::Icon icon = QMessageBox::Information;
    std::vector<std::string> operands;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        if (options && std::strcmp(argv[i], "--") == 0)
            options = false;
        else if (options && std::strcmp(argv[i], "--information") == 0)
            icon = QMessageBox::Information;
        else if (options && std::strcmp(argv[i], "--warning") == 0)
            icon = QMessageBox::Warning;
        else if (options && argv[i][0] == '-' && argv[i][1] != '\0')
            return Usage();
        else
            operands.emplace_back(argv[i]);
    }
    if (operands.size() < 2 || operands.size() > 3) return Usage();

    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setWindowIcon(QPixmap(qx::res::MainIconXpm()));

    QString text = QString::fromUtf8(operands[1]);
    if (operands.size() == 3 && !operands[2].empty()) text += "\n\n" + QString::fromUtf8(operands[2]);
    QMessageBox box(icon, QString::fromUtf8(operands[0]), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);  // file names are never markup
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);

    // For scripts and tests without anyone to press OK: the box as built, on standard output.
    if (const char* print = std::getenv("QUENDRIX_NOTICE_PRINT"); print && *print) {
        const char* kind = box.icon() == QMessageBox::Warning ? "warning" : "information";
        std::printf("%s\n%s\n%s\n", kind, box.windowTitle().toUtf8().constData(), box.text().toUtf8().constData());
        return 0;
    }
    box.exec();
    return 0;
}
