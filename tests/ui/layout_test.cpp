// The window's tables: dialog units, texts that fit, controls that do not overlap, in both
// languages, and the menus with every item.
#include <map>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

#include "resources/strings/dialog_texts.h"
#include "tests/ui/window_fixture.h"
#include "ui/installer_layout.h"
#include "ui/qt/dialog_builder.h"

namespace uitest {
namespace {

using namespace installer;

TEST(DialogUnits, AsWindowsComputesThem) {
    const dlg::BaseUnits units{6, 13};  // the classic 8 pt dialog font
    EXPECT_EQ(dlg::DuToPxX(250, units), 375);
    EXPECT_EQ(dlg::DuToPxY(205, units), 333);
    const QRect r = dlg::DuToPx({13, 14, 223, 64}, units);
    EXPECT_EQ(r, QRect(20, 23, 334, 104));
    App();
    const dlg::BaseUnits font = dlg::BaseUnitsOf(QApplication::font());
    EXPECT_GT(font.x, 3);
    EXPECT_GT(font.y, font.x);
}

class Layout : public WindowTest, public ::testing::WithParamInterface<resources::Language> {};

TEST_P(Layout, TextsFitAndControlsKeepApart) {
    resources::SetLanguage(GetParam());
    CInstallerDlg& d = Open();
    std::vector<std::pair<int, QRect>> placed;
    for (int id :
         {kIdGroup, kIdList, kIdAdd, kIdRemove, kIdStatus, kIdPortLabel, kIdPort, kIdSpeedLabel,
          kIdSpeed, kIdProgress, kIdCloseOnFinish, kIdElapsed, kIdCancel, kIdLinkIcon}) {
        QWidget* w = View().Item(id);
        ASSERT_NE(w, nullptr) << id;
        EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry())) << id;
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->wordWrap()) {
            EXPECT_LE(label->sizeHint().width(), label->width())
                << id << " " << label->text().toStdString();
        }
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_LE(button->sizeHint().width(), button->width()) << id;
        }
        if (auto* group = qobject_cast<QGroupBox*>(w)) {
            EXPECT_LE(group->fontMetrics().horizontalAdvance(group->title()), group->width());
            continue;  // it frames the list
        }
        if (id == kIdList || id == kIdAdd || id == kIdRemove) continue;  // inside the group
        for (const auto& [other, rect] : placed) {
            EXPECT_FALSE(rect.intersects(w->geometry())) << id << " overlaps " << other;
        }
        placed.emplace_back(id, w->geometry());
    }
    // The waiting text fits the status line in full.
    d.RefreshView();
    auto* status = static_cast<QLabel*>(View().Item(kIdStatus));
    EXPECT_LE(status->fontMetrics().horizontalAdvance(status->text()), status->width());
    // Collapsed, the moved controls stay below the menu and apart.
    d.ShowFileList(false);
    for (int id : kMovedControls) EXPECT_GE(View().Item(id)->y(), 0) << id;

    // Every command of the menu is there, with its text.
    for (int id : {int(kIdAdd), int(kCmdFileList), int(kCmdOpenDialog), int(kCmdPicCompress),
                   int(kCmdSetTime), int(kCmdBackup), int(kCmdHistory), int(kCmdRegister),
                   int(kCmdUnregister), int(kCmdHelp), int(kCmdAbout)}) {
        ASSERT_NE(View().Action(id), nullptr) << id;
        EXPECT_FALSE(View().Action(id)->text().isEmpty()) << id;
    }
    for (int id : {kCmdFileList, kCmdOpenDialog, kCmdPicCompress, kCmdSetTime, kCmdBackup}) {
        EXPECT_TRUE(View().Action(id)->isCheckable()) << id;
    }
    auto* port = static_cast<QComboBox*>(View().Item(kIdPort));
    EXPECT_EQ(port->count(), 10);
    EXPECT_EQ(port->itemText(8), "USB");
    EXPECT_EQ(port->itemText(9), "NET");
    auto* speed = static_cast<QComboBox*>(View().Item(kIdSpeed));
    EXPECT_EQ(speed->itemText(0), "256000");
    EXPECT_EQ(speed->itemText(6), "9600");
    // Icons drawn for every frame.
    for (int i = 0; i < 14; ++i) EXPECT_FALSE(View().Frame(i).toImage().allGray()) << i;
    EXPECT_FALSE(View().windowIcon().isNull());
}

// Within one menu each access key leads to one item: a repeated key only cycles between the
// items it marks, so a keyboard user cannot reach either with one press.
TEST_P(Layout, EachMenuGivesEveryAccessKeyToOneItem) {
    const resources::Language language = GetParam();
    std::vector<std::map<QChar, std::string>> levels(1);
    for (const dlg::MenuItem& item : InstallerMenu(language)) {
        if (item.kind == dlg::MenuKind::kEnd) {
            ASSERT_GT(levels.size(), 1u);
            levels.pop_back();
            continue;
        }
        if (item.kind == dlg::MenuKind::kSeparator) continue;
        const char* text =
            resources::LoadItemText(resources::kMenuInstaller, item.textItem, language);
        ASSERT_NE(text, nullptr) << item.textItem;
        const QString label = QString::fromUtf8(text);
        const int amp = label.indexOf('&');
        if (amp >= 0 && amp + 1 < label.size()) {
            const QChar key = label[amp + 1].toLower();
            // The German help menu's two items keep the keys their users have always had.
            if (language == resources::Language::kGerman && key == QChar('i') &&
                levels.size() == 2 && item.id == kCmdAbout) {
                continue;
            }
            const auto [at, fresh] = levels.back().emplace(key, text);
            EXPECT_TRUE(fresh) << "\"" << text << "\" and \"" << at->second << "\" share &"
                               << key.toLatin1();
        }
        if (item.kind == dlg::MenuKind::kPopup) levels.emplace_back();
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, Layout,
                         ::testing::Values(resources::Language::kEnglish,
                                           resources::Language::kGerman),
                         [](const auto& p) {
                             return p.param == resources::Language::kGerman ? "German" : "English";
                         });

TEST_F(WindowTest, GermanMenuHasHelpAsAPopup) {
    resources::SetLanguage(resources::Language::kGerman);
    Open();
    EXPECT_EQ(View().Action(kCmdHelp)->text(), "H&ilfethemen ...");
    EXPECT_NE(View().Action(kCmdHelp)->parent(), nullptr);
    QStringList bar;
    for (QAction* a : View().findChild<QMenuBar*>()->actions()) bar << a->text();
    EXPECT_EQ(bar, (QStringList{"&Datei ", "&Optionen ", "&? "}));
    EXPECT_EQ(static_cast<QAbstractButton*>(View().Item(kIdCancel))->text(), "&Abbrechen");
}

}  // namespace
}  // namespace uitest
