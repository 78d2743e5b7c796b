// Listing a dropped folder: through the intake alone into a row list, or through the real window (offscreen)
// receiving the drop, until every row with its size cells is in the list. One untimed run first, then N timed.
// Usage: qx_listing --mode intake|window [--runs N] [--expect ROWS] FOLDER
// Prints one JSON line: mode, rows, the warm-up and each timed run in wall seconds with their median, and the
// CPU seconds of the timed runs with their median.
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "intake/intake.h"
#include "settings/profile_store.h"
#include "ui/file_list_ctrl.h"
#include "ui/main_dialog.h"

namespace {

// CPU seconds of the whole process (all its threads): what a loaded machine distorts least.
std::vector<double> cpuTimes;

double CpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Wall seconds of the run; its CPU seconds go to cpuTimes.
double Seconds(const std::function<void()>& run) {
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    run();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpuTimes.push_back(CpuSeconds() - cpuStart);
    return wall;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int Fail(const char* what) {
    std::fprintf(stderr, "qx_listing: %s\n", what);
    return 1;
}

// The rows the intake gives for the folder, every input type on.
qx::RowList IntakeRows(const std::string& folder) {
    qx::RowList rows;
    qx::OnDropFiles({folder}, qx::InputTypeFlags{}, rows.Appender());
    return rows;
}

// The window's list must show exactly the intake's rows, in order, with both size cells.
bool SameRows(const qx::CFileListCtrl& list, const qx::RowList& rows) {
    if (list.rowCount() != rows.RowCount()) return false;
    for (int i = 0; i < rows.RowCount(); ++i) {
        const qx::FileRow& row = rows.Row(i);
        if (list.RowPath(i) != row.path || list.CellText(i, 1).toStdString() != row.sizeCell ||
            list.CellText(i, 2).toStdString() != row.fileSizeCell)
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = "intake";
    int runs = 5;
    int expect = -1;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--mode") && i + 1 < argc)
            mode = argv[++i];
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--expect") && i + 1 < argc)
            expect = std::atoi(argv[++i]);
        else
            folder = std::filesystem::absolute(argv[i]).lexically_normal().string();
    }
    if (folder.empty() || runs < 1 || (mode != "intake" && mode != "window"))
        return Fail("usage: qx_listing --mode intake|window [--runs N] [--expect ROWS] FOLDER");

    const qx::RowList reference = IntakeRows(folder);
    if (expect >= 0 && reference.RowCount() != expect) {
        std::fprintf(stderr, "qx_listing: %d rows, expected %d\n", reference.RowCount(), expect);
        return 1;
    }

    std::vector<double> times;  // the first is the warm-up
    if (mode == "intake") {
        for (int r = 0; r <= runs; ++r) {
            qx::RowList rows;
            times.push_back(Seconds([&] { qx::OnDropFiles({folder}, qx::InputTypeFlags{}, rows.Appender()); }));
            if (rows.Rows().size() != reference.Rows().size()) return Fail("the intake's rows changed between runs");
        }
    } else {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        QTemporaryDir settingsDir;
        if (!settingsDir.isValid()) return Fail("no temporary folder for the settings file");
        qx::ProfileStore store(settingsDir.filePath("settings.ini").toStdString());  // missing: every type accepted
        qx::CMainDialog dialog(store);
        dialog.show();
        QApplication::processEvents();
        for (int r = 0; r <= runs; ++r) {
            dialog.ClearList();
            QApplication::processEvents();
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder))});
            const QPointF where = QPointF(dialog.FileList()->mapTo(&dialog, dialog.FileList()->rect().center()));
            // As a real drag: the enter makes the window the drop's target.
            QDragEnterEvent enter(where.toPoint(), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(&dialog, &enter);
            if (!enter.isAccepted()) return Fail("the window does not take the drag");
            times.push_back(Seconds([&] {
                QDropEvent drop(where, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(&dialog, &drop);
                QApplication::processEvents();  // the repaint the last rows asked for
            }));
            if (!SameRows(*dialog.FileList(), reference)) {
                std::fprintf(stderr, "qx_listing: the window shows %d rows, the intake gives %d\n",
                             dialog.FileList()->rowCount(), reference.RowCount());
                return 1;
            }
        }
    }
    const std::vector<double> timed(times.begin() + 1, times.end());
    std::printf("{\"mode\": \"%s\", \"rows\": %d, \"warmup\": %.3f, \"times\": [", mode.c_str(), reference.RowCount(),
                times.front());
    for (size_t i = 0; i < timed.size(); ++i) std::printf("%s%.3f", i ? ", " : "", timed[i]);
    const std::vector<double> cpu(cpuTimes.begin() + 1, cpuTimes.end());
    std::printf("], \"median\": %.3f, \"cpu\": [", Median(timed));
    for (size_t i = 0; i < cpu.size(); ++i) std::printf("%s%.3f", i ? ", " : "", cpu[i]);
    std::printf("], \"cpu_median\": %.3f}\n", Median(cpu));
    return 0;
}
