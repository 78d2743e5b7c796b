#include "ui/file_list_ctrl.h"

#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <algorithm>

namespace qx {
namespace {
constexpr int kItemDataRole = Qt::UserRole + 1;
constexpr int kTextMargin = 12;
}  // namespace

CFileListCtrl::CFileListCtrl(QWidget* parent) : QTableWidget(parent) {
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    // One tab stop: Tab leaves the list for the next control; the arrows move between rows.
    setTabKeyNavigation(false);
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

int CFileListCtrl::PaddedWidth(const QString& text) const {
    return fontMetrics().horizontalAdvance(text) + kTextMargin;
}

void CFileListCtrl::SetColumns(const QStringList& headers) {
    setColumnCount(0);
    setColumnCount(int(headers.size()));
    setHorizontalHeaderLabels(headers);
    for (int i = 0; i < headers.size(); ++i) setColumnWidth(i, PaddedWidth(headers[i]));
    ClearList();
}

int CFileListCtrl::AppendRow(const QStringList& cells, quintptr itemData) {
    if (cells.isEmpty()) return rowCount();
    FileRow row;
    row.path = QFile::encodeName(cells[0]).toStdString();
    if (cells.size() > 1) row.sizeCell = cells[1].toStdString();
    if (cells.size() > 2) row.fileSizeCell = cells[2].toStdString();
    rows_.Append(std::move(row));
    return ShowRow(cells, itemData);
}

int CFileListCtrl::ShowRow(const QStringList& cells, quintptr itemData) {
    const int row = rowCount();
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
    rows_.Append(fileRow);
    return ShowRow({QFile::decodeName(QByteArray::fromStdString(fileRow.path)), QString::fromUtf8(fileRow.sizeCell),
                    QString::fromUtf8(fileRow.fileSizeCell)},
                   0);
}

void CFileListCtrl::ClearList() {
    setRowCount(0);
    rows_.Clear();
}

void CFileListCtrl::RemoveSelectedRows() {
    QList<QModelIndex> selected = selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() > b.row(); });
    for (const QModelIndex& index : selected) {  // from the bottom, so indexes stay valid
        removeRow(index.row());
        rows_.Remove(index.row());
    }
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
    if (row < 0 || row >= rows_.RowCount()) return {};
    return rows_.RowPath(row);
}

QString CFileListCtrl::CellText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

}  // namespace qx
