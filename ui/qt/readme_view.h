// The Qt view of the read-me and licence window (dialog 143), built from its table;
// CReadmeDlg decides what it shows and how it ends. exec() gives 1 or 2.
#pragma once

#include <QDialog>
#include <map>
#include <string>

#include "ui/readme_dlg.h"

class QPlainTextEdit;

class CReadmeView : public QDialog, private IReadmeView {
  public:
    // Constructed without a parent, as the window opens before the main window does.
    CReadmeView();

    // m_strPath, m_strCaption and m_bLicence are set here before the run.
    CReadmeDlg& Dialog() { return m_dialog; }

    // Opening, then the modal run.
    int exec() override;
    void reject() override;

    QWidget* Item(int id) const;
    QPlainTextEdit* TextBox() const;

  private:
    // IReadmeView
    void ShowButtons(bool licence) override;
    void SetText(const std::string& text) override;
    void SetCaption(const std::string& text) override;
    void FocusItem(int id) override;
    void EndDialog(int result) override;

    std::map<int, QWidget*> m_items;
    CReadmeDlg m_dialog;
};
