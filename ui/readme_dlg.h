// The read-me and licence window of an archive (dialog 143): a read-only text box with a
// text file in it, and "OK" for a read-me, "&Accept!" and "&Don't accept" for a licence.
// exec() gives 1 (OK, accepted) or 2 (declined, Escape, the close box).
#pragma once

#include <QDialog>
#include <map>
#include <string>

class QPlainTextEdit;
class QPushButton;

class CReadmeDlg : public QDialog {
  public:
    static constexpr int kIdOk = 1;
    static constexpr int kIdCancel = 2;
    static constexpr int kIdAccept = 3;
    static constexpr int kIdText = 1041;
    // Longest text shown; a larger file shows its beginning.
    static constexpr qint64 kMaxTextBytes = 4 << 20;

    // Constructed without a parent, as the window opens before the main window does.
    CReadmeDlg();

    // Set by the caller before the run.
    std::string m_strPath;
    std::string m_strCaption;
    bool m_bLicence = false;

    // Opening (icon, buttons, text, caption), then the modal run.
    int exec() override;
    void reject() override;

    QWidget* Item(int id) const;
    QPlainTextEdit* TextBox() const;

    // The text as the box shows it: line ends made uniform, UTF-8 when the file is valid
    // UTF-8 and Latin-1 otherwise (texts from older archives); empty when it can't be read.
    static QString LoadText(const std::string& strPath, qint64 nMaxBytes = kMaxTextBytes);

  private:
    void InitDialog();

    std::map<int, QWidget*> m_items;
};
