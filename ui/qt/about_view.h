// The Qt view of the about box (dialog 100): the table's widgets, the mouse over the client
// area passed to CAboutDlg, and the highlight colour on the statics it names as links.
#pragma once

#include <QDialog>
#include <map>
#include <string>

#include "ui/about_dlg.h"

class CAboutView : public QDialog, private IAboutView {
    Q_OBJECT

  public:
    explicit CAboutView(QWidget* parent = nullptr, CAboutDlg::Opener openAddress = {});

    CAboutDlg& Dialog() { return m_dialog; }
    QWidget* Item(int id) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // IAboutView
    bool ControlRect(int id, dlg::PxRect& rect) const override;
    void SetItemText(int id, const std::string& text) override;
    void SetLinkCursor(bool hand) override;

    // The colour request: statics showing exactly one of the addresses get the highlight.
    void ColourLinks();

    QWidget* m_pClient = nullptr;
    std::map<int, QWidget*> m_items;
    CAboutDlg m_dialog;
};
