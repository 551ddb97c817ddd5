// The smaller windows' rules through recording views: the about box's links, the read-me
// and licence window, the default-types question, the history and the desktop users.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "engine/user_library.h"
#include "resources/strings/string_table.h"
#include "shell/desktop_users.h"
#include "tests/session/db_builder.h"
#include "ui/about_dlg.h"
#include "ui/default_types_dlg.h"
#include "ui/desktop_users_dlg.h"
#include "ui/history_dlg.h"
#include "ui/links.h"
#include "ui/readme_dlg.h"
#include "ui/utf8_text.h"

namespace uilogic {
namespace {

namespace fs = std::filesystem;

// ---- the about box ----

class CFakeAboutView final : public IAboutView {
  public:
    bool ControlRect(int id, dlg::PxRect& rect) const override {
        const auto it = rects.find(id);
        if (it == rects.end()) return false;
        rect = it->second;
        return true;
    }
    void SetItemText(int id, const std::string& text) override { texts[id] = text; }
    void SetLinkCursor(bool on) override { hand = on; }
    std::map<int, dlg::PxRect> rects;
    std::map<int, std::string> texts;
    bool hand = false;
};

TEST(AboutLogic, LinksOverTheirAreasAndTheHiddenIconOpenOnRelease) {
    CFakeAboutView view;
    view.rects = {{about::kIdWeb, {60, 80, 100, 12}},
                  {about::kIdHiddenIcon, {14, 80, 30, 30}},
                  {about::kIdMail, {60, 100, 100, 12}},
                  {about::kIdNote, {60, 50, 100, 24}}};
    std::vector<std::string> opened;
    CAboutDlg dlg(view, [&](const std::string& a) { opened.push_back(a); });
    dlg.OnInitDialog();
    EXPECT_EQ(view.texts[about::kIdWeb], links::kWebSite);
    EXPECT_EQ(view.texts[about::kIdMail], links::kSupportMail);
    EXPECT_EQ(view.texts[about::kIdNote], dlg.m_strText);
    EXPECT_EQ(dlg.m_strText, resources::LoadString(resources::kIdsAboutNote));
    EXPECT_EQ(view.texts[about::kIdName].find("%s"), std::string::npos);

    for (auto [x, y] : std::vector<std::pair<int, int>>{{60, 80}, {159, 91}, {14, 109}}) {
        view.hand = false;
        dlg.OnMouseMove(x, y);
        EXPECT_TRUE(view.hand) << x << "," << y;
    }
    dlg.OnMouseMove(160, 80);  // just right of the web link
    EXPECT_FALSE(view.hand);
    dlg.OnMouseMove(70, 60);  // the usage note is no link
    EXPECT_FALSE(view.hand);

    EXPECT_TRUE(dlg.OnLButtonUp(20, 90));
    EXPECT_TRUE(dlg.OnLButtonUp(61, 101));
    EXPECT_FALSE(dlg.OnLButtonUp(2, 2));
    EXPECT_EQ(opened, (std::vector<std::string>{links::kWebSite,
                                                std::string("mailto:") + links::kSupportMail}));
    EXPECT_FALSE(dlg.HitTest(4711, 20, 90));
    EXPECT_TRUE(CAboutDlg::IsLinkText(links::kWebSite));
    EXPECT_FALSE(CAboutDlg::IsLinkText(std::string(links::kWebSite) + " "));
    EXPECT_FALSE(CAboutDlg::IsLinkText(dlg.m_strText));
}

// ---- the read-me and licence window ----

class CFakeReadmeView final : public IReadmeView {
  public:
    void ShowButtons(bool l) override { licence = l; }
    void SetText(const std::string& t) override { text = t; }
    void SetCaption(const std::string& c) override { caption = c; }
    void FocusItem(int id) override { focus = id; }
    void EndDialog(int r) override { result = r; }
    bool licence = false;
    std::string text, caption;
    int focus = 0, result = 0;
};

TEST(ReadmeLogic, ButtonsFocusAndResults) {
    const std::string dir = testdb::ScratchDir("readme-logic");
    std::ofstream(dir + "r.txt", std::ios::binary) << "one\r\ntwo\rthree\n";
    CFakeReadmeView view;
    CReadmeDlg dlg(view);
    dlg.m_strPath = dir + "r.txt";
    dlg.m_strCaption = "Licence: - T";
    dlg.m_bLicence = true;
    dlg.OnInitDialog();
    EXPECT_TRUE(view.licence);
    EXPECT_EQ(view.text, "one\ntwo\rthree\n");
    EXPECT_EQ(view.caption, "Licence: - T");
    EXPECT_EQ(view.focus, CReadmeDlg::kIdCancel);  // a stray Enter accepts nothing
    dlg.OnButton(CReadmeDlg::kIdAccept);
    EXPECT_EQ(view.result, 1);
    dlg.OnButton(CReadmeDlg::kIdCancel);
    EXPECT_EQ(view.result, 2);
    dlg.OnButton(CReadmeDlg::kIdOk);
    dlg.OnCancel();
    EXPECT_EQ(view.result, 2);
    dlg.m_bLicence = false;
    dlg.OnInitDialog();
    EXPECT_EQ(view.focus, CReadmeDlg::kIdOk);
    fs::remove_all(dir);
}

TEST(ReadmeLogic, TextsAsTheBoxShowsThem) {
    const std::string dir = testdb::ScratchDir("readme-texts");
    const auto file = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir + name, std::ios::binary) << bytes;
        return dir + name;
    };
    EXPECT_EQ(CReadmeDlg::LoadText(file("l1",
                                        "Gr\xfc\xdf"
                                        "e")),
              "Gr\xc3\xbc\xc3\x9f"
              "e");
    EXPECT_EQ(CReadmeDlg::LoadText(file("u8",
                                        "Gr\xc3\xbc\xc3\x9f"
                                        "e")),
              "Gr\xc3\xbc\xc3\x9f"
              "e");
    // A surrogate or an overlong form is no UTF-8: the whole text is Latin-1.
    EXPECT_EQ(CReadmeDlg::LoadText(file("sur", "\xed\xa0\x80")), "\xc3\xad\xc2\xa0\xc2\x80");
    EXPECT_EQ(CReadmeDlg::LoadText(file("ovl", "\xc0\xaf")), "\xc3\x80\xc2\xaf");
    EXPECT_EQ(CReadmeDlg::LoadText(dir + "none"), "");
    EXPECT_EQ(CReadmeDlg::LoadText(file("big", std::string(5000, 'x')), 100).size(), 100u);
    EXPECT_EQ(CReadmeDlg::LoadText(file("zero", std::string("a\0b", 3))).size(), 3u);
    fs::remove_all(dir);
}

TEST(Utf8Text, ShownLinesAndCodePoints) {
    EXPECT_EQ(utf8::ShownLine("a\nb\x7f"
                              "c\xff"),
              "a\xef\xbf\xbd"
              "b\xef\xbf\xbd"
              "c\xef\xbf\xbd");
    EXPECT_EQ(utf8::CodePoints("\xf0\x9f\x98\x80!"), std::u32string(U"\U0001F600!"));
    EXPECT_TRUE(utf8::IsValid("\xf4\x8f\xbf\xbf"));
    EXPECT_FALSE(utf8::IsValid("\xf4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(utf8::IsValid("\xe2\x82"));          // cut short
}

// ---- the default-types question ----

class CFakeDefaultTypesView final : public IDefaultTypesView {
  public:
    void SetDontAsk(bool checked) override { box = checked; }
    bool DontAsk() const override { return box; }
    void EndDialog(int r) override { result = r; }
    bool box = false;
    int result = 0;
};

TEST(DefaultTypesLogic, AnswersTakeTheBoxAndEscapeLeavesIt) {
    int helps = 0;
    // The runner plays the user: it sets the box and presses a button.
    int press = defaulttypes::kIdYes;
    bool tick = true;
    CDefaultTypesQuestion question([&](int& dontAsk) {
        CFakeDefaultTypesView view;
        CDefaultTypesDlg dlg(view, [&] { ++helps; });
        dlg.m_nDontAsk = dontAsk;
        dlg.OnInitDialog();
        EXPECT_EQ(view.box, dontAsk != 0);
        dlg.OnHelp();
        EXPECT_EQ(view.result, 0);  // the guide opens, the question stays
        view.box = tick;
        if (press == 0) {
            dlg.OnCancel();
        } else {
            dlg.OnAnswer(press);
        }
        dontAsk = dlg.m_nDontAsk;
        return view.result;
    });
    bool dontAsk = false;
    EXPECT_EQ(question.Ask(dontAsk), IDefaultTypesQuestion::kYes);
    EXPECT_TRUE(dontAsk);
    press = defaulttypes::kIdNo;
    tick = false;
    EXPECT_EQ(question.Ask(dontAsk), IDefaultTypesQuestion::kNo);
    EXPECT_FALSE(dontAsk);
    press = 0;
    tick = true;
    EXPECT_EQ(question.Ask(dontAsk), IDefaultTypesQuestion::kNoAnswer);
    EXPECT_FALSE(dontAsk);
    EXPECT_EQ(helps, 3);
    EXPECT_EQ(CDefaultTypesQuestion({}).Ask(dontAsk), IDefaultTypesQuestion::kNoAnswer);
}

// When the system keeps another program for some types, the offer names them in the
// user's language and takes the message box's answer; without a box nothing is offered.
TEST(DefaultTypesQuestion, OffersTheSystemSettingsNamingTheTypesKept) {
    std::vector<std::string> shown;
    bool yes = true;
    CDefaultTypesQuestion question({}, [&](const std::string& text) {
        shown.push_back(text);
        return yes;
    });
    resources::SetLanguage(resources::Language::kEnglish);
    EXPECT_TRUE(question.OfferSystemSettings({".prc", ".pqa"}));
    resources::SetLanguage(resources::Language::kGerman);
    yes = false;
    EXPECT_FALSE(question.OfferSystemSettings({".pdb"}));
    EXPECT_FALSE(question.OfferSystemSettings({}));
    resources::SetLanguage(resources::SystemLanguage());
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_NE(shown[0].find("another program for .prc, .pqa files"), std::string::npos);
    EXPECT_NE(shown[0].find("Default apps"), std::string::npos);
    EXPECT_NE(shown[1].find("Programms für .pdb-Dateien"), std::string::npos);
    EXPECT_FALSE(CDefaultTypesQuestion({}).OfferSystemSettings({".prc"}));
}

// ---- the history ----

class CFakeLibrary final : public IUserLibrary {
  public:
    struct User {
        uint32_t id;
        std::string name, dir;
    };
    std::vector<User> users;
    std::string root;
    int UmGetUserCount() override { return static_cast<int>(users.size()); }
    int UmGetUserID(int i, uint32_t& id) override {
        id = users[size_t(i)].id;
        return 0;
    }
    int UmGetUserName(uint32_t id, std::string& name) override {
        for (const User& u : users) {
            if (u.id == id) name = u.name;
        }
        return 0;
    }
    int UmGetRootDirectory(std::string& dir) override {
        dir = root;
        return 0;
    }
    int UmGetUserDirectory(uint32_t id, std::string& dir) override {
        for (const User& u : users) {
            if (u.id == id) dir = u.dir;
        }
        return 0;
    }
};

class CFakeHistoryView final : public IHistoryView {
  public:
    void ShowUsers(const std::vector<HistoryUser>& u, int s) override {
        users = u;
        selected = s;
    }
    void ShowRows(const std::vector<HistoryRow>& r) override { rows = r; }
    void ShowLastBackup(const std::string& t) override { lastBackup = t; }
    void EnableDelete(bool e) override { canDelete = e; }
    bool AskYesNo(const std::string& text) override {
        asked.push_back(text);
        return answer;
    }
    std::vector<HistoryUser> users;
    int selected = -2;
    std::vector<HistoryRow> rows;
    std::string lastBackup;
    bool canDelete = true, answer = false;
    std::vector<std::string> asked;
};

TEST(HistoryLogic, UsersSortedRowsAndDeletingACopy) {
    const std::string root = testdb::ScratchDir("history-logic");
    for (const char* d : {"Z/Backup", "B/Backup", "A/Backup"}) fs::create_directories(root + d);
    std::ofstream(root + "B/CCourier.log", std::ios::binary)
        << "GAME.PRC, 1.0, Fri Jan 19 10:00:00 2001\r\nGONE.PDB, , Sat Jan 20 11:00:00 2001\r\n";
    std::ofstream(root + "B/Backup/GAME.PRC") << "x";
    CFakeLibrary library;
    library.root = root;
    // Case is no matter; the library's names are Latin-1, and Ümit comes after z.
    library.users = {{1, "zoe", "Z/"}, {2, "Bert", "B/"}, {3, "anna", "A/"}, {4, "\xdcmit", "A/"}};
    CFakeHistoryView view;
    CHistoryDlg dlg(view, &library, root + "B/");
    dlg.OnInitDialog();
    ASSERT_EQ(view.users.size(), 4u);
    EXPECT_EQ(view.users[0].name, "anna");
    EXPECT_EQ(view.users[1].name, "Bert");
    EXPECT_EQ(view.users[2].name, "zoe");
    EXPECT_EQ(view.users[3].name, "\xc3\x9cmit");
    EXPECT_EQ(view.selected, 1);
    ASSERT_EQ(view.rows.size(), 2u);
    EXPECT_FALSE(view.canDelete);

    // Only a row whose copy exists can be deleted, and only after a Yes.
    dlg.OnRowChange(1);
    EXPECT_FALSE(view.canDelete);
    dlg.OnRowChange(0);
    EXPECT_TRUE(view.canDelete);
    dlg.OnDelete();
    ASSERT_EQ(view.asked.size(), 1u);
    EXPECT_NE(view.asked[0].find("GAME.PRC"), std::string::npos);
    EXPECT_TRUE(fs::exists(root + "B/Backup/GAME.PRC"));
    view.answer = true;
    dlg.OnDelete();
    EXPECT_FALSE(fs::exists(root + "B/Backup/GAME.PRC"));
    EXPECT_FALSE(view.canDelete);  // the rows were shown anew, none current
    dlg.OnDelete();
    EXPECT_EQ(view.asked.size(), 2u);
    dlg.OnRowChange(7);  // no such row
    EXPECT_FALSE(view.canDelete);

    // The box's places map to the users they show.
    dlg.OnUserChange(2);
    EXPECT_EQ(dlg.m_strUserDir, root + "Z/");
    EXPECT_TRUE(view.rows.empty());
    dlg.OnUserChange(9);
    EXPECT_EQ(dlg.m_strUserDir, root + "Z/");
    // All files: copies no log line names join the list.
    std::ofstream(root + "Z/Backup/LOOSE.PDB") << "x";
    dlg.OnAllFilesClicked(true);
    EXPECT_EQ(dlg.m_bAllFiles, 1);
    ASSERT_EQ(view.rows.size(), 1u);
    EXPECT_EQ(view.rows[0].name, "LOOSE.PDB");
    dlg.OnAllFilesClicked(false);
    EXPECT_TRUE(view.rows.empty());
    fs::remove_all(root);
}

TEST(HistoryLogic, NamesSortLikeASortedList) {
    const std::vector<std::string> names = {"b",
                                            "\xc3\x84rger",
                                            "A",
                                            "a",
                                            "\xc3\xa4"
                                            "b",
                                            "B"};
    const std::vector<size_t> order = history::SortedNameOrder(names);
    // A and a stay in their order, as do b and B; the umlauts come after the plain letters.
    EXPECT_EQ(order, (std::vector<size_t>{2, 3, 0, 5, 4, 1}));
}

// ---- the desktop users ----

class CFakeUsersView final : public IDesktopUsersView {
  public:
    void ShowUsers(const std::vector<deskusers::Row>& r) override { rows = r; }
    void ShowOffer(const std::string& o) override { offer = o; }
    void SelectRow(int row) override { selected = row; }
    void EnableAdd(bool e) override { canAdd = e; }
    void EnableRemove(bool e) override { canRemove = e; }
    bool AskYesNo(const std::string& text) override {
        asked.push_back(text);
        return answer;
    }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<deskusers::Row> rows;
    std::string offer;
    int selected = -1;
    bool canAdd = false, canRemove = true, answer = true;
    std::vector<std::string> asked, messages;
};

TEST(DesktopUsersLogic, OfferAddRefuseAndRemove) {
    const std::string root = testdb::ScratchDir("users-logic");
    CDesktopUserStore store(root);
    CFakeUsersView view;
    CDesktopUsersDlg dlg(view, store, "Virtual User");
    dlg.Refresh();
    EXPECT_EQ(view.offer, "Virtual User");
    EXPECT_TRUE(view.canAdd);
    EXPECT_FALSE(view.canRemove);
    dlg.OnAdd();
    ASSERT_EQ(view.rows.size(), 1u);
    EXPECT_EQ(view.rows[0].folder, root + "Virtual_User/Backup/");
    EXPECT_EQ(view.offer, "");  // a user now: offered no more
    EXPECT_EQ(view.selected, 0);
    EXPECT_TRUE(view.canRemove);
    EXPECT_FALSE(view.canAdd);
    EXPECT_TRUE(dlg.Changed());

    dlg.OnNameChange("Virtual User");
    dlg.OnAdd();
    dlg.OnNameChange("");
    EXPECT_FALSE(view.canAdd);
    dlg.OnAdd();  // nothing to add
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_NE(view.messages[0].find("Virtual User"), std::string::npos);

    view.answer = false;
    dlg.OnRemove();
    EXPECT_EQ(view.rows.size(), 1u);
    ASSERT_EQ(view.asked.size(), 1u);
    EXPECT_NE(view.asked[0].find("Virtual User"), std::string::npos);
    view.answer = true;
    dlg.OnRowChange(0);
    dlg.OnRemove();
    EXPECT_TRUE(view.rows.empty());
    EXPECT_FALSE(view.canRemove);
    dlg.OnRemove();  // no row: no question
    EXPECT_EQ(view.asked.size(), 2u);
    fs::remove_all(root);
}

}  // namespace
}  // namespace uilogic
