#include "ui/file_list_ctrl.h"

#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <algorithm>

namespace qx {
namespace {
constexpr int kPathRole = Qt::UserRole;      // the exact bytes of the source path
constexpr int kItemDataRole = Qt::UserRole + 1;
constexpr int kTextMargin = 12;
}  // namespace

CFileListCtrl::CFileListCtrl(QWidget* parent) : QTableWidget(parent) {
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
}

void CFileListCtrl::SetReportStyle() {
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

int CFileListCtrl::PaddedWidth(const QString& text) const { return fontMetrics().horizontalAdvance(text) + kTextMargin; }

void CFileListCtrl::SetColumns(const QStringList& headers) {
    setColumnCount(0);
    setColumnCount(int(headers.size()));
    setHorizontalHeaderLabels(headers);
    for (int i = 0; i < headers.size(); ++i) setColumnWidth(i, PaddedWidth(headers[i]));
    setRowCount(0);
}

int CFileListCtrl::AppendRow(const QStringList& cells, quintptr itemData, int image) {
    const int row = rowCount();
    if (cells.isEmpty()) return row;
    Q_UNUSED(image);  // the list shows no images
    insertRow(row);
    for (int i = 0; i < cells.size() && i < columnCount(); ++i) {
        auto* item = new QTableWidgetItem(cells[i]);
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        if (i == 0) item->setData(kItemDataRole, QVariant::fromValue<qulonglong>(itemData));
        setItem(row, i, item);
        const int width = PaddedWidth(cells[i]);
        if (width > columnWidth(i)) setColumnWidth(i, width);
    }
    return row;
}

int CFileListCtrl::AppendFileRow(const FileRow& fileRow) {
    const QByteArray bytes = QByteArray::fromStdString(fileRow.path);
    const int row = AppendRow({QFile::decodeName(bytes), QString::fromUtf8(fileRow.sizeCell),
                               QString::fromUtf8(fileRow.fileSizeCell)},
                              0, -1);
    if (QTableWidgetItem* first = item(row, 0)) first->setData(kPathRole, bytes);
    return row;
}

void CFileListCtrl::ClearList() { setRowCount(0); }

void CFileListCtrl::RemoveSelectedRows() {
    QList<QModelIndex> selected = selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() > b.row(); });
    for (const QModelIndex& index : selected) removeRow(index.row());  // from the bottom, so indexes stay valid
}

void CFileListCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!rowsLocked_) RemoveSelectedRows();
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

std::string CFileListCtrl::RowPath(int row) const {
    const QTableWidgetItem* first = item(row, 0);
    if (!first) return {};
    const QVariant bytes = first->data(kPathRole);
    if (bytes.isValid()) return bytes.toByteArray().toStdString();
    return QFile::encodeName(first->text()).toStdString();
}

QString CFileListCtrl::CellText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

}  // namespace qx
