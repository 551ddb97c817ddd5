// The read-me and licence window as the user works it: which buttons show, what each one
// (and Escape) gives, the text as the box shows it; and start-up keeping or dropping an
// archive by the real window's answer.
#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "tests/app/startup_fakes.h"
#include "tests/support/qt_test_app.h"
#include "tools/ccapack/cca_packer.h"
#include "ui/qt/readme_view.h"

namespace startuptest {
namespace {

QApplication& App() {
    return testsupport::QtTestApp();
}

// Once the window is open: what it shows, then the button (or key) that ends it.
struct Seen {
    bool ok = false, accept = false, decline = false;
    QString text, caption;
};
void Answer(Seen& seen, int buttonId, int key = 0) {
    QTimer::singleShot(0, [&seen, buttonId, key] {
        auto* dlg = dynamic_cast<CReadmeView*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        seen.ok = dlg->Item(CReadmeDlg::kIdOk)->isVisible();
        seen.accept = dlg->Item(CReadmeDlg::kIdAccept)->isVisible();
        seen.decline = dlg->Item(CReadmeDlg::kIdCancel)->isVisible();
        seen.text = dlg->TextBox()->toPlainText();
        seen.caption = dlg->windowTitle();
        if (key) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(dlg, &press);
        } else {
            static_cast<QPushButton*>(dlg->Item(buttonId))->click();
        }
    });
}

class ReadmeDlg : public Startup {
  protected:
    void SetUp() override {
        App();
        Startup::SetUp();
    }
    int Show(const std::string& path, bool licence, const std::string& caption = "Readme: - T") {
        CReadmeView dlg;
        dlg.Dialog().m_strPath = path;
        dlg.Dialog().m_strCaption = caption;
        dlg.Dialog().m_bLicence = licence;
        return dlg.exec();
    }
};

TEST_F(ReadmeDlg, ReadmeHasOkLicenceHasAcceptAndDecline) {
    const std::string text = MakeFile("README", "first\r\nsecond\nthird");
    Seen seen;
    Answer(seen, CReadmeDlg::kIdOk);
    EXPECT_EQ(Show(text, false), 1);
    EXPECT_TRUE(seen.ok);
    EXPECT_FALSE(seen.accept || seen.decline);
    EXPECT_EQ(seen.text, QStringLiteral("first\nsecond\nthird"));
    EXPECT_EQ(seen.caption, QStringLiteral("Readme: - T"));

    Answer(seen, CReadmeDlg::kIdAccept);
    EXPECT_EQ(Show(text, true), 1);
    EXPECT_FALSE(seen.ok);
    EXPECT_TRUE(seen.accept && seen.decline);
    Answer(seen, CReadmeDlg::kIdCancel);
    EXPECT_EQ(Show(text, true), 2);
    Answer(seen, 0, Qt::Key_Escape);
    EXPECT_EQ(Show(text, true), 2);
    // A stray Enter accepts no licence.
    Answer(seen, 0, Qt::Key_Return);
    QTimer::singleShot(200, [] {
        if (auto* dlg = QApplication::activeModalWidget()) dlg->close();
    });
    EXPECT_EQ(Show(text, true), 2);
}

// How texts are read is CReadmeDlg's (tests/ui_logic); the box shows what it reads.
TEST_F(ReadmeDlg, OlderArchivesTextsAndMissingFiles) {
    Seen seen;
    Answer(seen, CReadmeDlg::kIdOk);
    EXPECT_EQ(Show(MakeFile("l1",
                            "Gr\xfc\xdf"
                            "e"),
                   false),
              1);
    EXPECT_EQ(seen.text, QStringLiteral("Grüße"));
    Answer(seen, CReadmeDlg::kIdOk);
    EXPECT_EQ(Show(Path("none"), false), 1);
    EXPECT_EQ(seen.text, QString());
}

TEST_F(ReadmeDlg, StartUpDropsAnArchiveWhoseLicenceIsDeclined) {
    ccapack::CCcaPacker packer;
    std::string error;
    ccapack::PackOptions options;
    options.strTitle = "Space Game";
    ASSERT_TRUE(packer.SetOptions(options, error));
    ASSERT_TRUE(packer.AddData("All", "a.prc", {1}, 1, error));
    ASSERT_TRUE(packer.SetReadme(MakeFile("r.txt", "Read me"), error));
    ASSERT_TRUE(packer.SetLicense(MakeFile("l.txt", "Terms"), error));
    ASSERT_TRUE(packer.Write(Path("game.cca"), error));

    StartupServices services = Services();
    services.showReadme = [](const std::string& p, const std::string& c, bool l) {
        CReadmeView dlg;
        dlg.Dialog().m_strPath = p;
        dlg.Dialog().m_strCaption = c;
        dlg.Dialog().m_bLicence = l;
        return dlg.exec();
    };
    Seen readme, licence;
    Answer(readme, CReadmeDlg::kIdOk);
    // The licence window opens once the read-me window has closed.
    QTimer::singleShot(0, [&] { Answer(licence, CReadmeDlg::kIdCancel); });
    app = std::make_unique<CInstallerApp>(services);
    app->Run({Path("game.cca")});
    EXPECT_EQ(readme.text, QStringLiteral("Read me"));
    EXPECT_EQ(licence.caption, QStringLiteral("Software Licence Agreement: - Space Game"));
    EXPECT_EQ(licence.text, QStringLiteral("Terms"));
    EXPECT_TRUE(window.files.empty());
    EXPECT_FALSE(fs::exists(Temp() + "LICENSE"));

    Answer(readme, CReadmeDlg::kIdOk);
    QTimer::singleShot(0, [&] { Answer(licence, CReadmeDlg::kIdAccept); });
    app = std::make_unique<CInstallerApp>(services);
    app->Run({Path("game.cca")});
    EXPECT_EQ(window.files, std::vector<std::string>{Path("game.cca")});
}

}  // namespace
}  // namespace startuptest
