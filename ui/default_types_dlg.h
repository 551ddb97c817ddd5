// The question whether to become the default installer for the Palm types (dialog 135):
// three lines of text, "Don't ask this question again", Yes, No and Help. Yes and No take
// the check box into m_nDontAsk and end the dialog with 6 or 7; Escape and the close box end
// it with 2 and leave m_nDontAsk as it was. Help opens the user guide and keeps the question
// open. The behaviour, without a toolkit, over a small view; ui/qt/default_types_view.h is
// the Qt view.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "shell/file_types.h"
#include "ui/dialog_template.h"

namespace defaulttypes {

// Control ids of dialog 135.
enum ControlId : int {
    kIdYes = 6,
    kIdNo = 7,
    kIdHelp = 9,
    kIdIcon = 128,
    kIdDontAsk = 1030,
};

const dlg::Template& DefaultTypesTemplate();

}  // namespace defaulttypes

class IDefaultTypesView {
  public:
    virtual ~IDefaultTypesView() = default;
    virtual void SetDontAsk(bool checked) = 0;
    virtual bool DontAsk() const = 0;
    virtual void EndDialog(int result) = 0;
};

class CDefaultTypesDlg {
  public:
    CDefaultTypesDlg(IDefaultTypesView& view, std::function<void()> onHelp)
        : m_view(view), m_onHelp(std::move(onHelp)) {}

    int m_nDontAsk = 0;  // the check box's number, 0 at the start

    // Data exchange at initialisation: the check box shows m_nDontAsk.
    void OnInitDialog();
    // Yes or No: the check box into m_nDontAsk, then the end with the button's id.
    void OnAnswer(int id);
    void OnHelp();
    // Escape and the close box.
    void OnCancel();

  private:
    IDefaultTypesView& m_view;
    std::function<void()> m_onHelp;
};

// The question asked with the dialog, for RegisterFileTypes. The runner shows the dialog
// modally with its m_nDontAsk set to the number given, and gives its result and the
// number it ended with. The confirmer asks a question with Yes and No in a message box and
// says whether Yes was chosen; without one, nothing is offered.
class CDefaultTypesQuestion final : public IDefaultTypesQuestion {
  public:
    using Runner = std::function<int(int& dontAsk)>;
    using Confirmer = std::function<bool(const std::string& text)>;
    explicit CDefaultTypesQuestion(Runner run, Confirmer confirm = {})
        : m_run(std::move(run)), m_confirm(std::move(confirm)) {}
    Answer Ask(bool& dontAsk) override;
    bool OfferSystemSettings(const std::vector<std::string>& extensions) override;

    // The message that says the system kept another program for the extensions.
    static std::string SystemSettingsText(const std::vector<std::string>& extensions);

  private:
    Runner m_run;
    Confirmer m_confirm;
};
