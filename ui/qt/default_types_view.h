// The Qt view of the default-installer question (dialog 135), built from its table; the
// answers go to CDefaultTypesDlg, which decides what they give.
#pragma once

#include <QDialog>
#include <functional>
#include <map>

#include "ui/default_types_dlg.h"

class CDefaultTypesView : public QDialog, private IDefaultTypesView {
    Q_OBJECT

  public:
    explicit CDefaultTypesView(QWidget* parent = nullptr, std::function<void()> onHelp = {});

    CDefaultTypesDlg& Dialog() { return m_dialog; }
    QWidget* Item(int id) const;
    // Escape and the close box.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // IDefaultTypesView
    void SetDontAsk(bool checked) override;
    bool DontAsk() const override;
    void EndDialog(int result) override;

    std::map<int, QWidget*> m_items;
    CDefaultTypesDlg m_dialog;
};

// The question asked with the Qt dialog over parent.
CDefaultTypesQuestion::Runner DefaultTypesRunner(QWidget* parent, std::function<void()> onHelp);
