// The question whether to become the default installer for the Palm types (dialog 135):
// three lines of text, "Don't ask this question again", Yes, No and Help. Yes and No take
// the check box into m_nDontAsk and end the dialog with 6 or 7; Escape and the close box end
// it with 2 and leave m_nDontAsk as it was. Help opens the user guide and keeps the question
// open.
#pragma once

#include <QDialog>
#include <functional>
#include <map>

#include "shell/linux/file_types.h"

namespace defaulttypes {

// Control ids of dialog 135.
enum ControlId : int {
    kIdYes = 6,
    kIdNo = 7,
    kIdHelp = 9,
    kIdIcon = 128,
    kIdDontAsk = 1030,
};

}  // namespace defaulttypes

class CDefaultTypesDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CDefaultTypesDlg(QWidget* parent = nullptr, std::function<void()> onHelp = {});

    int m_nDontAsk = 0;  // the check box's number, 0 at the start

    QWidget* Item(int id) const;
    // Escape and the close box.
    void reject() override;

  protected:
    // Data exchange at initialisation: the check box shows m_nDontAsk.
    void showEvent(QShowEvent* event) override;

  private:
    void OnAnswer(int result);

    std::function<void()> m_onHelp;
    std::map<int, QWidget*> m_items;
};

// The question asked with the dialog, for RegisterFileTypes.
class CDefaultTypesQuestion final : public IDefaultTypesQuestion {
  public:
    CDefaultTypesQuestion(QWidget* parent, std::function<void()> onHelp)
        : m_pParent(parent), m_onHelp(std::move(onHelp)) {}
    Answer Ask(bool& dontAsk) override;

  private:
    QWidget* m_pParent;
    std::function<void()> m_onHelp;
};
