// The report-style list of accepted source files; also the store of the work a batch does.
#pragma once

#include <QStringList>
#include <QTableWidget>
#include <string>

#include "intake/intake.h"

namespace qx {

class CFileListCtrl : public QTableWidget {
    Q_OBJECT
public:
    explicit CFileListCtrl(QWidget* parent = nullptr);

    // Rows and columns with a header, grid lines, full-row selection, headers that can be dragged.
    void SetReportStyle();
    // Replaces every column by one per text, each as wide as its padded header; removes all rows.
    void SetColumns(const QStringList& headers);
    // Appends a row at the end; columns widen to the padded width of a wider cell. Returns the row's index.
    int AppendRow(const QStringList& cells, quintptr data);
    // A row made by the intake: its path keeps its exact bytes for the batch.
    int AppendFileRow(const FileRow& row);
    void ClearList();
    // Removes the selected rows (never a file). Also the Delete key, unless the rows are locked.
    void RemoveSelectedRows();
    // While locked (a batch reads the rows), the keyboard changes no row.
    void SetRowsLocked(bool locked) { rowsLocked_ = locked; }

    // Text width in the list's font plus the margin of 12 pixels.
    int PaddedWidth(const QString& text) const;
    std::string RowPath(int row) const;
    QString CellText(int row, int column) const;
    // The rows shown, in list order: what a batch reads.
    const RowList& Rows() const { return rows_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Shows `row` at the end; the row's index.
    int ShowRow(const QStringList& cells, quintptr data);
    RowList rows_;  // one entry per table row, in the same order
    bool rowsLocked_ = false;
};

}  // namespace qx
