#include "ui/report_dialog.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>

#include <cmath>
#include <limits>
#include <vector>

#include "intake/intake.h"
#include "res/strings.h"
#include "ui/file_chooser.h"
#include "ui/message_boxes.h"

namespace qx {
namespace {

// The reason beside the result, where it is in view at the window's width.
enum Column {
    kSource,
    kTarget,
    kResult,
    kReason,
    kBytesBefore,
    kBytesAfter,
    kChange,
    kSizeBefore,
    kSizeAfter,
    kQuality,
    kDistance
};
constexpr int kSortRole = Qt::UserRole;
constexpr int kTextMargin = 12;

// A cell that sorts by a number behind its text (unknown values first), not by the text.
class NumberItem : public QTableWidgetItem {
public:
    NumberItem(const QString& text, qint64 key) : QTableWidgetItem(text) { setData(kSortRole, key); }
    bool operator<(const QTableWidgetItem& other) const override {
        return data(kSortRole).toLongLong() < other.data(kSortRole).toLongLong();
    }
};

QString Path(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

QString PixelSize(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0) return {};
    return QString::fromUtf8(FormatImageSizeCell(width, height));
}

// One outcome in row `r`: numbers sort by their value, not by their text.
void FillRow(QTableWidget& table, int r, const FileOutcome& row) {
    const bool written = row.result == FileResult::Written;
    const auto bytes = [](int64_t value) {
        return new NumberItem(value < 0 ? QString() : QString::fromUtf8(FormatByteSize(value)), value);
    };
    table.setItem(r, kSource, new QTableWidgetItem(Path(row.sourcePath)));
    table.setItem(r, kTarget, new QTableWidgetItem(Path(row.targetPath)));
    table.setItem(r, kResult, new QTableWidgetItem(QString::fromUtf8(ResultText(row.result))));
    table.setItem(r, kBytesBefore, bytes(row.bytesBefore));
    table.setItem(r, kBytesAfter, bytes(written ? row.bytesAfter : -1));
    const std::optional<std::string> change =
        written && row.bytesAfter >= 0 ? FormatChange(row.bytesBefore, row.bytesAfter) : std::nullopt;
    // Per million of the size before, so that the order is the order of the per cent values.
    const qint64 changeKey =
        change ? (row.bytesAfter - row.bytesBefore) * 1000000 / row.bytesBefore : std::numeric_limits<qint64>::min();
    table.setItem(r, kChange, new NumberItem(change ? QString::fromUtf8(*change) : QString(), changeKey));
    table.setItem(
        r, kSizeBefore,
        new NumberItem(PixelSize(row.widthBefore, row.heightBefore), qint64(row.widthBefore) * row.heightBefore));
    table.setItem(r, kSizeAfter,
                  new NumberItem(PixelSize(row.widthAfter, row.heightAfter), qint64(row.widthAfter) * row.heightAfter));
    auto* reason = new QTableWidgetItem(QString::fromUtf8(row.reason.empty() ? row.message : row.reason));
    reason->setToolTip(row.message.empty() || row.reason.empty()
                           ? reason->text()
                           : QString::fromUtf8(row.message) + QLatin1Char('\n') + reason->text());
    table.setItem(r, kReason, reason);
    const bool lossy = written && row.quality >= 0;
    table.setItem(r, kQuality, new NumberItem(lossy ? QString::number(row.quality) : QString(), row.quality));
    const bool measured = written && row.distance >= 0;
    // In hundredths, so that the order is the order of the distances.
    table.setItem(r, kDistance,
                  new NumberItem(measured ? QLocale(QLocale::German).toString(row.distance, 'f', 2) : QString(),
                                 measured ? qint64(std::llround(row.distance * 100)) : -1));
    for (int c : {kBytesBefore, kBytesAfter, kChange, kQuality, kDistance})
        table.item(r, c)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

}  // namespace

CReportDialog::CReportDialog(const BatchReport* report, QWidget* parent)
    : CTemplateDialog(res::IDD_REPORT, parent), report_(report) {
    if (auto* save = ControlAs<QPushButton>(res::kReportSave))
        connect(save, &QPushButton::clicked, this, &CReportDialog::OnSave);
    if (auto* close = ControlAs<QPushButton>(res::kCancelButton))
        connect(close, &QPushButton::clicked, this, &QDialog::reject);
    Fill();
}

QTableWidget* CReportDialog::Table() const { return ControlAs<QTableWidget>(res::kReportTable); }
QLabel* CReportDialog::TotalsLabel() const { return ControlAs<QLabel>(res::kReportTotals); }

void CReportDialog::Fill() {
    QTableWidget* table = Table();
    const QStringList headers = {
        QString::fromUtf8(res::LoadString(res::IDS_REPORT_COL_SOURCE)),
        QString::fromUtf8(res::LoadString(res::IDS_REPORT_COL_TARGET)),
        QString::fromUtf8(res::LoadString(res::IDS_REPORT_COL_RESULT)),
        QString::fromUtf8(res::LoadString(res::IDS_REPORT_COL_REASON)),
        QString::fromUtf8(res::LoadString(res::IDS_REPORT_COL_BYTES_BEFORE)),
        QString::fromUtf8(res::LoadString(res::IDS_REPORT_COL_BYTES_AFTER)),
        QString::fromUtf8(res::LoadString(res::IDS_REPORT_COL_CHANGE)),
        QString::fromUtf8(res::LoadString(res::IDS_REPORT_COL_SIZE_BEFORE)),
        QString::fromUtf8(res::LoadString(res::IDS_REPORT_COL_SIZE_AFTER)),
        QString::fromUtf8(res::LoadString(res::IDS_CSV_QUALITY)),
        QString::fromUtf8(res::LoadString(res::IDS_CSV_DISTANCE)),
    };
    table->setSortingEnabled(false);  // rows are filled in list order, then sorted by the user
    table->setColumnCount(int(headers.size()));
    table->setHorizontalHeaderLabels(headers);
    const QFontMetrics metrics = table->fontMetrics();
    table->verticalHeader()->setDefaultSectionSize(metrics.height() + 4);
    const int rows = report_ ? int(report_->rows.size()) : 0;
    table->setRowCount(rows);
    for (int r = 0; r < rows; ++r) FillRow(*table, r, report_->rows[size_t(r)]);
    SetColumnWidths(*table, headers);
    table->setTextElideMode(Qt::ElideMiddle);
    for (int c : {kBytesBefore, kBytesAfter, kChange})
        table->horizontalHeaderItem(c)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table->horizontalHeader()->setStretchLastSection(true);
    // In list order until the user picks a column; the header then marks the column and its direction.
    table->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table->setSortingEnabled(true);
    table->horizontalHeader()->setSortIndicatorShown(true);
    TotalsLabel()->setText(
        QString::fromUtf8(report_ ? FormatSummaryLine(report_->Totals()) : res::LoadString(res::IDS_REPORT_NONE)));
    if (auto* save = ControlAs<QPushButton>(res::kReportSave)) save->setEnabled(report_ != nullptr);
}

void CReportDialog::SetColumnWidths(QTableWidget& table, const QStringList& headers) const {
    const QFontMetrics metrics = table.fontMetrics();
    std::vector<int> widths;
    for (int c = 0; c < table.columnCount(); ++c) {
        int width = metrics.horizontalAdvance(headers[c]) + 2 * kTextMargin;
        for (int r = 0; r < table.rowCount(); ++r)
            width = std::max(width, metrics.horizontalAdvance(table.item(r, c)->text()) + kTextMargin);
        widths.push_back(width);
    }
    // The two paths, the result and the reason share the visible width; the paths give up width first,
    // shortened in the middle where the folder names repeat, and a long reason shows whole in its tooltip.
    const int visible = table.width() - 2 * table.frameWidth() - style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int minimum = 10 * metrics.averageCharWidth();
    widths[kReason] = std::min(widths[kReason], std::max(minimum, visible / 3));
    const int forPaths = std::max(2 * minimum, visible - widths[kResult] - widths[kReason]);
    const int source = std::min(widths[kSource], std::max(forPaths / 2, forPaths - widths[kTarget]));
    widths[kTarget] = std::min(widths[kTarget], std::max(minimum, forPaths - source));
    widths[kSource] = source;
    for (int c = 0; c < table.columnCount(); ++c) table.setColumnWidth(c, widths[size_t(c)]);
}

void CReportDialog::OnSave() {
    if (!report_) return;
    const QStringList filters = {
        QStringLiteral("%1 (*.csv)").arg(QString::fromUtf8(res::LoadString(res::IDS_REPORT_CSV_FILES))),
        QStringLiteral("%1 (*)").arg(QString::fromUtf8(res::LoadString(res::IDS_ALL_FILES)))};
    const std::string suggested =
        (saveFolder_.empty() ? QFile::encodeName(QDir::homePath()).toStdString() : saveFolder_) + "/bericht.csv";
    std::string path = ChooseSaveFile(this, res::LoadString(res::IDS_REPORT_SAVE_TITLE), suggested, filters);
    if (path.empty()) return;
    // Saved as CSV unless the name asks for JSON Lines; a name without either gets ".csv".
    std::optional<ReportFormat> format = ReportFormatForPath(path);
    if (!format) {
        path += ".csv";
        format = ReportFormat::Csv;
    }
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) saveFolder_ = path.substr(0, slash);
    if (!WriteReportFile(path, *format, *report_)) {
        MessageBoxes().ShowMessage(res::FormatString(res::IDS_REPORT_SAVE_FAILED, path));
    }
}

}  // namespace qx
