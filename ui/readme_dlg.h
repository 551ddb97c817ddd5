// The read-me and licence window of an archive (dialog 143): a read-only text box with a
// text file in it, and "OK" for a read-me, "&Accept!" and "&Don't accept" for a licence.
// The run gives 1 (OK, accepted) or 2 (declined, Escape, the close box). The behaviour,
// without a toolkit, over a small view; ui/qt/readme_view.h is the Qt view.
#pragma once

#include <cstdint>
#include <string>

#include "ui/dialog_template.h"

class IReadmeView {
  public:
    virtual ~IReadmeView() = default;
    // Which buttons show: "Accept" and "Don't accept" for a licence, else OK.
    virtual void ShowButtons(bool licence) = 0;
    // The text (UTF-8, "\n" line ends), shown from its start.
    virtual void SetText(const std::string& text) = 0;
    virtual void SetCaption(const std::string& text) = 0;
    virtual void FocusItem(int id) = 0;
    virtual void EndDialog(int result) = 0;
};

class CReadmeDlg {
  public:
    static constexpr int kIdOk = 1;
    static constexpr int kIdCancel = 2;
    static constexpr int kIdAccept = 3;
    static constexpr int kIdText = 1041;
    // Longest text shown; a larger file shows its beginning.
    static constexpr int64_t kMaxTextBytes = 4 << 20;

    explicit CReadmeDlg(IReadmeView& view) : m_view(view) {}

    // Set by the caller before the run.
    std::string m_strPath;
    std::string m_strCaption;
    bool m_bLicence = false;

    // Opening: buttons, text, caption, and the focus where a stray Enter does no harm.
    void OnInitDialog();
    // OK, Accept and Don't accept.
    void OnButton(int id);
    // Escape and the close box: declined.
    void OnCancel();

    // The text as the box shows it (UTF-8): line ends made uniform, taken as UTF-8 when the
    // file is valid UTF-8 and as Latin-1 otherwise (texts from older archives); empty when
    // it can't be read.
    static std::string LoadText(const std::string& strPath, int64_t nMaxBytes = kMaxTextBytes);

  private:
    IReadmeView& m_view;
};

namespace readme {
const dlg::Template& ReadmeTemplate();
}  // namespace readme
