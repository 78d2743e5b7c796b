// The report of the last batch: a row per file with its sizes and result, sortable by column, the totals, and
// saving as CSV.
#pragma once

#include <string>

#include "engine/report.h"
#include "ui/template_dialog.h"

class QTableWidget;
class QLabel;

namespace qx {

class CReportDialog : public CTemplateDialog {
    Q_OBJECT
public:
    // `report` is nullptr before the first batch: the table stays empty and the totals line says so.
    CReportDialog(const BatchReport* report, QWidget* parent = nullptr);

    QTableWidget* Table() const;
    QLabel* TotalsLabel() const;
    // "Speichern unter...": a CSV file chosen by the user; a failed write is reported in a message box.
    void OnSave();

protected:
    void DoDataExchange(DataExchange&) override {}

private:
    void Fill();
    // Fits the columns to their texts within the visible width.
    void SetColumnWidths(QTableWidget& table, const QStringList& headers) const;
    const BatchReport* report_;
    std::string saveFolder_;
};

}  // namespace qx
