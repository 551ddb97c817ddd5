// The Qt view of the connection check (dialog 320): a read-only text box with the report,
// "Check again" and "Close", built from its control table. CConnectionCheckDlg decides what
// it shows.
#pragma once

#include <QDialog>
#include <map>
#include <memory>

#include "ui/connection_check_dlg.h"

class QPlainTextEdit;

class CConnectionCheckView : public QDialog, public IConnectionCheckView {
    Q_OBJECT

  public:
    CConnectionCheckView(IConnectionProbe& probe, const ISettingsStore& settings,
                         const std::string& port, QWidget* parent = nullptr);

    void ShowReport(const std::string& text, bool reachable) override;

    QWidget* Item(int id) const;
    QPlainTextEdit* ReportBox() const;
    CConnectionCheckDlg& Logic() { return *m_pLogic; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    std::map<int, QWidget*> m_items;
    std::unique_ptr<CConnectionCheckDlg> m_pLogic;
    bool m_bShown = false;
};
