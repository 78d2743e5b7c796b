// Writes pictures of the windows for a look by eye when QUENDRIX_SCREENSHOT_DIR names a folder.
#include <QAbstractButton>
#include <QDir>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <QToolTip>

#include <QFileDialog>
#include <QPushButton>
#include <QTranslator>

#include "settings/settings.h"
#include "support/images.h"
#include "ui/file_list_ctrl.h"
#include "ui/folder_chooser.h"
#include "ui/info_dialog.h"
#include "ui/main_dialog.h"
#include "ui/parameter_dialog.h"
#include "ui/report_dialog.h"
#include "ui_test_support.h"

namespace qx::test {
namespace {

class Screenshots : public WindowTest {
protected:
    void SetUp() override {
        folder = qEnvironmentVariable("QUENDRIX_SCREENSHOT_DIR");
        if (folder.isEmpty()) GTEST_SKIP() << "QUENDRIX_SCREENSHOT_DIR not set";
        QDir().mkpath(folder);
    }
    void Save(QWidget& window, const QString& name) {
        window.show();
        QApplication::processEvents();
        ASSERT_TRUE(window.grab().save(folder + "/" + name + ".png"));
    }
    QString folder;
};

TEST_F(Screenshots, AllWindows) {
    {
        CMainDialog main(store);
        Save(main, "main-empty");
        for (int i = 0; i < 12; ++i)
            main.FileList()->AppendFileRow({"/home/anna/Bilder/Urlaub 2024/Strand_" + std::to_string(i) + "_groß.jpg",
                                            "4032 * 3024", "2345,67 KB"});
        main.ProgressBar()->setRange(0, 12);
        main.ProgressBar()->setValue(5);
        Save(main, "main-rows");
        for (int id : {res::kMainNoEnlarge, res::kMainTargetLikeSource}) {
            QWidget* control = main.Control(id);
            QToolTip::showText(control->mapToGlobal(QPoint(4, 4)), main.ToolTipAt(control->geometry().center()),
                               control);
            QApplication::processEvents();
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (top->inherits("QTipLabel") && top->isVisible()) {
                    ASSERT_TRUE(top->grab().save(folder + QString("/tip-%1.png").arg(id)));
                }
            }
            QToolTip::hideText();
        }
        main.ControlAs<QAbstractButton>(res::kMainSizeBox)->click();
        main.ControlAs<QAbstractButton>(res::kMainTargetOwnFolder)->click();
        Save(main, "main-enabled");
        main.SystemMenu()->popup(main.mapToGlobal(QPoint(0, 20)));
        QApplication::processEvents();
        ASSERT_TRUE(main.SystemMenu()->grab().save(folder + "/main-menu.png"));
        main.SystemMenu()->hide();
    }
    {
        // After a batch without workers: an empty, still bar.
        for (int i = 0; i < 3; ++i) test::WriteImage(dir / ("b" + std::to_string(i) + ".jpg"), 64, 48);
        store.WriteProfileInt(settings::kParameter, "ThreadAnzahl", 0);
        CMainDialog main(store);
        main.show();
        main.OnDropFiles({dir.path()});
        main.CompressButton()->click();
        Save(main, "main-after-batch");
    }
    {
        QTranslator* german = InstallQtGermanTexts();
        QTimer::singleShot(0, [&] {
            if (QWidget* chooser = QApplication::activeModalWidget()) {
                QApplication::processEvents();
                chooser->grab().save(folder + "/folder-chooser.png");
                static_cast<QDialog*>(chooser)->reject();
            }
        });
        std::string path = dir.path();
        BrowseForFolder(nullptr, "Bitte Zielverzeichnis auswählen", path);
        QCoreApplication::removeTranslator(german);
        delete german;
    }
    {
        store.WriteProfileInt(settings::kParameter, settings::kAusgabeDateiTyp, 1);
        CParameterDialog parameter(store);
        Save(parameter, "parameter");
        parameter.ControlAs<QAbstractButton>(res::kParameterOutputWebp)->click();
        Save(parameter, "parameter-webp");
        parameter.ControlAs<QAbstractButton>(res::kParameterNamesLikeSource)->click();
        Save(parameter, "parameter-like-sources");
    }
    {
        CInfoDialog info(nullptr, std::string(QUENDRIX_BINARY_DIR) + "/quendrix");
        Save(info, "info");
    }
}

TEST_F(Screenshots, ReportAfterAMixedBatch) {
    const std::string source = dir / "Urlaub 2024";
    std::filesystem::create_directories(source);
    test::WriteImage(source + "/Strand.jpg", 1600, 1200);
    test::WriteImage(source + "/Hafen am Abend.jpg", 1200, 1600);
    test::WriteImage(source + "/Symbol.png", 48, 48, "png");
    test::WriteBytes(source + "/kaputt.png", test::PngWithBrokenPixels(2000, 1500));
    test::WriteImage(source + "/Berge.png", 2000, 1000, "png");
    store.WriteProfileInt(settings::kAllg, "Bildsize", 1);
    store.WriteProfileInt(settings::kAllg, "NichtVergroessern", 1);
    store.WriteProfileInt(settings::kAllg, "ZielPath", 1);
    store.WriteProfileStringA(settings::kAllg, "Verz", dir / "Ziel");
    CMainDialog main(store);
    main.OnDropFiles({source});
    main.CompressButton()->click();
    CReportDialog report(main.LastReport(), &main);
    Save(report, "report");
}

}  // namespace
}  // namespace qx::test
