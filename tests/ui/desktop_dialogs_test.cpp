// The about box and the default-installer question: their links, hit tests and colours,
// their answers, texts that fit in both languages, and the window's commands that open them.
#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

#include "resources/strings/dialog_texts.h"
#include "shell/linux/carried_files.h"
#include "shell/linux/xdg_file_types.h"
#include "tests/ui/window_fixture.h"
#include "ui/installer_layout.h"
#include "ui/links.h"
#include "ui/qt/about_view.h"
#include "ui/qt/default_types_view.h"
#include "ui/qt/desktop_commands.h"

namespace uitest {
namespace {

using resources::Language;

void Mouse(QWidget* target, QEvent::Type type, const QPoint& at) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

// Every text of the dialog's statics, boxes and buttons fits its control.
void ExpectTextsFit(QWidget* dialog) {
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        QString text;
        int room = w->width();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            text = label->text();
            if (label->wordWrap()) {  // then its lines must fit its height
                const QRect need = label->fontMetrics().boundingRect(QRect(0, 0, room, 1000),
                                                                     Qt::TextWordWrap, text);
                EXPECT_LE(need.height(), label->height()) << text.toStdString();
                continue;
            }
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            text = button->text().remove(QLatin1Char('&'));
            room -= qobject_cast<QCheckBox*>(w) ? 20 : 8;  // the box, the button's frame
        }
        if (text.isEmpty()) continue;
        EXPECT_LE(w->fontMetrics().horizontalAdvance(text), room) << text.toStdString();
    }
}

class AboutBox : public ::testing::TestWithParam<Language> {
  protected:
    void SetUp() override {
        App();
        resources::SetLanguage(GetParam());
    }
    void TearDown() override { resources::SetLanguage(Language::kEnglish); }
    std::vector<std::string> opened;
    CAboutDlg::Opener Recorder() {
        return [this](const std::string& a) { opened.push_back(a); };
    }
};

TEST_P(AboutBox, LinksOpenOnReleaseOverTheirAreasAndTheHiddenIcon) {
    CAboutView d(nullptr, Recorder());
    QWidget* client = d.Item(about::kIdWeb)->parentWidget();
    const QRect web = d.Item(about::kIdWeb)->geometry();
    const QRect mail = d.Item(about::kIdMail)->geometry();
    const QRect hidden = d.Item(about::kIdHiddenIcon)->geometry();
    ASSERT_FALSE(d.Item(about::kIdHiddenIcon)->isVisible());
    EXPECT_TRUE(d.Dialog().HitTest(about::kIdHiddenIcon, hidden.center().x(), hidden.center().y()));
    EXPECT_FALSE(d.Dialog().HitTest(4711, hidden.center().x(), hidden.center().y()));
    EXPECT_FALSE(d.Dialog().HitTest(about::kIdWeb, 2, 2));

    // The hand over the links and the hidden icon's area, the arrow elsewhere.
    for (const QPoint& p : {web.center(), mail.center(), hidden.center(), hidden.bottomLeft()}) {
        Mouse(client, QEvent::MouseMove, p);
        EXPECT_EQ(client->cursor().shape(), Qt::PointingHandCursor);
    }
    Mouse(client, QEvent::MouseMove, QPoint(2, 2));
    EXPECT_EQ(client->cursor().shape(), Qt::ArrowCursor);

    // A press opens nothing; the release does.
    Mouse(client, QEvent::MouseButtonPress, web.center());
    EXPECT_TRUE(opened.empty());
    Mouse(client, QEvent::MouseButtonRelease, web.center());
    Mouse(client, QEvent::MouseButtonRelease, hidden.topLeft());
    Mouse(client, QEvent::MouseButtonRelease, mail.center());
    Mouse(client, QEvent::MouseButtonRelease, QPoint(2, 2));
    const std::string mailto = std::string("mailto:") + links::kSupportMail;
    EXPECT_EQ(opened, (std::vector<std::string>{links::kWebSite, links::kWebSite, mailto}));
}

TEST_P(AboutBox, OnlyTheAddressesTakeTheHighlightColourAndTextsFit) {
    CAboutView d(nullptr, Recorder());
    EXPECT_EQ(d.Dialog().m_strText, resources::LoadString(resources::kIdsAboutNote));
    auto* note = static_cast<QLabel*>(d.Item(about::kIdNote));
    EXPECT_EQ(note->text().toStdString(), d.Dialog().m_strText);
    EXPECT_EQ(d.windowTitle(), "Informationen");

    const QColor highlight = d.palette().color(QPalette::Highlight);
    const QColor normal = d.palette().color(QPalette::WindowText);
    ASSERT_NE(highlight, normal);
    int links = 0, plain = 0;
    for (QLabel* label : d.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        const QString t = label->text();
        const bool address = t == links::kWebSite || t == links::kSupportMail;
        EXPECT_EQ(label->palette().color(QPalette::WindowText), address ? highlight : normal)
            << t.toStdString();
        ++(address ? links : plain);
    }
    EXPECT_EQ(links, 2);
    EXPECT_EQ(plain, 3);  // name and version, the maker's notice, the usage note
    ExpectTextsFit(&d);
}

INSTANTIATE_TEST_SUITE_P(Languages, AboutBox,
                         ::testing::Values(Language::kEnglish, Language::kGerman));

class DefaultTypes : public ::testing::TestWithParam<Language> {
  protected:
    void SetUp() override {
        App();
        resources::SetLanguage(GetParam());
    }
    void TearDown() override { resources::SetLanguage(Language::kEnglish); }
};

// Acts on the modal dialog once it shows.
void WhenShown(const std::function<void(CDefaultTypesView&)>& act) {
    QTimer::singleShot(0, [act] {
        auto* d = qobject_cast<CDefaultTypesView*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        act(*d);
    });
}

void Click(CDefaultTypesView& d, int id) {
    static_cast<QAbstractButton*>(d.Item(id))->click();
}

TEST_P(DefaultTypes, AnswersTakeTheCheckBoxAndEscapeLeavesIt) {
    int helps = 0;
    CDefaultTypesQuestion question(DefaultTypesRunner(nullptr, [&] { ++helps; }));
    bool dontAsk = false;
    WhenShown([](CDefaultTypesView& d) {
        EXPECT_FALSE(static_cast<QCheckBox*>(d.Item(defaulttypes::kIdDontAsk))->isChecked());
        ExpectTextsFit(&d);
        Click(d, defaulttypes::kIdHelp);  // the guide opens, the question stays
        EXPECT_TRUE(d.isVisible());
        static_cast<QCheckBox*>(d.Item(defaulttypes::kIdDontAsk))->setChecked(true);
        Click(d, defaulttypes::kIdYes);
    });
    EXPECT_EQ(question.Ask(dontAsk), IDefaultTypesQuestion::kYes);
    EXPECT_TRUE(dontAsk);
    EXPECT_EQ(helps, 1);

    // The box shows the number it is given; No takes it as it is then.
    WhenShown([](CDefaultTypesView& d) {
        auto* box = static_cast<QCheckBox*>(d.Item(defaulttypes::kIdDontAsk));
        EXPECT_TRUE(box->isChecked());
        box->setChecked(false);
        Click(d, defaulttypes::kIdNo);
    });
    EXPECT_EQ(question.Ask(dontAsk), IDefaultTypesQuestion::kNo);
    EXPECT_FALSE(dontAsk);

    dontAsk = false;
    WhenShown([](CDefaultTypesView& d) {
        static_cast<QCheckBox*>(d.Item(defaulttypes::kIdDontAsk))->setChecked(true);
        d.reject();  // Escape, the close box
    });
    EXPECT_EQ(question.Ask(dontAsk), IDefaultTypesQuestion::kNoAnswer);
    EXPECT_FALSE(dontAsk);
}

INSTANTIATE_TEST_SUITE_P(Languages, DefaultTypes,
                         ::testing::Values(Language::kEnglish, Language::kGerman));

// The menu command through the real dialog onto a scratch desktop: No with the box checked
// keeps the Palm types elsewhere, writes our command and stores the box.
TEST(DesktopCommands, RegisterThroughTheDialogAndHelpOpensTheGuide) {
    App();
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("cc-desk-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    CXdgFileTypes registry(XdgDirs{(root / "data").string(), (root / "config").string()});
    registry.SetDefaultFor("application/vnd.palm", "other.desktop;");
    CMemorySettings settings;
    WhenShown([](CDefaultTypesView& d) {
        static_cast<QCheckBox*>(d.Item(defaulttypes::kIdDontAsk))->setChecked(true);
        Click(d, defaulttypes::kIdNo);
    });
    desktop::RegisterFileTypes(nullptr, settings, true, &registry);
    EXPECT_EQ(registry.DefaultFor("application/vnd.palm"), "other.desktop;");
    EXPECT_EQ(registry.DefaultFor("application/x-cca"), "cradlecourier.desktop;");
    const DesktopEntryState entry = registry.ReadEntry();
    EXPECT_EQ(entry.exec.rfind(desktop::ProgramPath(), 0), 0u);
    EXPECT_EQ(entry.mimeTypes,
              (std::vector<std::string>{"application/x-cca", "application/vnd.palm"}));
    EXPECT_EQ(settings.ReadInt("main", "DontAskDefault", 0), 1);

    desktop::UnregisterFileTypes(settings, &registry);
    EXPECT_EQ(registry.DefaultFor("application/x-cca"), "cradlecourier.desktop;");

    // Help: the guide written out where the program's files go, opened as a file address.
    std::vector<std::string> opened;
    desktop::OnHelp([&](const std::string& a) { opened.push_back(a); });
    ASSERT_EQ(opened.size(), 1u);
    const std::string page =
        carried::HelpFilePath(carried::OutputDirectory(), resources::CurrentLanguage());
    EXPECT_EQ(opened[0], "file://" + page);
    EXPECT_TRUE(std::filesystem::exists(page));
    std::filesystem::remove_all(root);
}

TEST_F(WindowTest, TheMenuReachesTheDesktopCommands) {
    CInstallerDlg& d = Open();
    d.OnCommand(installer::kCmdRegister);
    d.OnCommand(installer::kCmdUnregister);
    d.OnCommand(installer::kCmdHelp);
    EXPECT_EQ(registers, std::vector<bool>{true});
    EXPECT_EQ(unregisters, 1);
    EXPECT_EQ(helps, 1);
}

}  // namespace
}  // namespace uitest
