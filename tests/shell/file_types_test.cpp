// File types on the desktop, in a scratch XDG_DATA_HOME and XDG_CONFIG_HOME: what a start,
// the question and the menu commands leave in the MIME package, the desktop entry and
// mimeapps.list, how other programs' choices are kept and given back, and files we must not
// or cannot rewrite.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "shell/atomic_file.h"
#include "shell/linux/desktop_entry.h"
#include "shell/linux/file_types.h"
#include "shell/linux/mimeapps_list.h"
#include "shell/linux/xdg_file_types.h"
#include "shell/memory_settings.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kPalm = "application/vnd.palm";
constexpr const char* kCca = "application/x-cca";

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spit(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Answers as told and counts the questions.
class CScriptedQuestion final : public IDefaultTypesQuestion {
  public:
    Answer answer = kYes;
    bool check = false;
    int asked = 0;
    Answer Ask(bool& dontAsk) override {
        ++asked;
        EXPECT_FALSE(dontAsk);  // the box starts unchecked
        if (answer != kNoAnswer) dontAsk = check;
        return answer;
    }
};

class FileTypes : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() /
                 ("cc-types-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        m_data = m_root / "data";
        m_config = m_root / "config";
        fs::create_directories(m_data);
        fs::create_directories(m_config);
        // A program file that exists, for the desktop's own tools.
        m_program = (m_root / "bin" / "ccourier").string();
        fs::create_directories(m_root / "bin");
        fs::copy_file("/bin/true", m_program);
        m_registry = std::make_unique<CXdgFileTypes>(XdgDirs{m_data.string(), m_config.string()});
    }
    void TearDown() override { fs::remove_all(m_root); }

    void Register(bool askAlways, const std::string& program = {}) {
        FileTypeContext c{*m_registry, m_settings, m_question,
                          program.empty() ? m_program : program};
        RegisterFileTypes(c, askAlways);
    }
    void Unregister() {
        FileTypeContext c{*m_registry, m_settings, m_question, m_program};
        UnregisterFileTypes(c);
    }
    std::optional<std::string> Default(const char* type) { return m_registry->DefaultFor(type); }
    fs::path MimeApps() const { return m_config / "mimeapps.list"; }
    DesktopEntryState Entry() const { return m_registry->ReadEntry(); }
    bool Lists(const char* type) const {
        const auto types = Entry().mimeTypes;
        return std::find(types.begin(), types.end(), type) != types.end();
    }

    fs::path m_root, m_data, m_config;
    std::string m_program;
    std::unique_ptr<CXdgFileTypes> m_registry;
    CMemorySettings m_settings;
    CScriptedQuestion m_question;
};

// What the desktop's own query tool answers, with our scratch folders as the user's.
std::string XdgMimeDefault(const fs::path& data, const fs::path& config, const char* type) {
    const std::string command = "env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION XDG_DATA_HOME='" +
                                data.string() + "' XDG_CONFIG_HOME='" + config.string() +
                                "' xdg-mime query default " + type + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {};
    std::string out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    ::pclose(pipe);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TEST_F(FileTypes, FirstStartAsksAndYesMakesUsTheOpener) {
    m_question.answer = IDefaultTypesQuestion::kYes;
    Register(false);
    EXPECT_EQ(m_question.asked, 1);
    EXPECT_EQ(Default(kCca), "cradlecourier.desktop;");
    EXPECT_EQ(Default(kPalm), "cradlecourier.desktop;");
    EXPECT_EQ(m_settings.ReadInt("main", "DontAskDefault", -1), 0);

    const DesktopEntryState entry = Entry();
    EXPECT_EQ(entry.exec, m_program + " %F");
    EXPECT_TRUE(Lists(kCca));
    EXPECT_TRUE(Lists(kPalm));
    EXPECT_TRUE(fs::exists(m_data / "mime/packages/cradlecourier.xml"));
    EXPECT_TRUE(fs::exists(m_data / "icons/hicolor/scalable/apps/cradlecourier.svg"));
    EXPECT_TRUE(fs::exists(m_data / "icons/hicolor/scalable/mimetypes/application-x-cca.svg"));
    EXPECT_TRUE(fs::exists(m_data / "icons/hicolor/scalable/mimetypes/application-vnd.palm.svg"));

    // A second start asks nothing and writes nothing.
    const auto entryTime = fs::last_write_time(m_registry->EntryPath());
    const std::string list = Slurp(MimeApps());
    Register(false);
    EXPECT_EQ(m_question.asked, 1);
    EXPECT_EQ(fs::last_write_time(m_registry->EntryPath()), entryTime);
    EXPECT_EQ(Slurp(MimeApps()), list);

    if (std::system("command -v xdg-mime >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xdg-mime (xdg-utils) is not installed";
    }
    EXPECT_EQ(XdgMimeDefault(m_data, m_config, kCca), "cradlecourier.desktop");
    EXPECT_EQ(XdgMimeDefault(m_data, m_config, kPalm), "cradlecourier.desktop");
}

TEST_F(FileTypes, TheDesktopKnowsTheArchiveTypeAndAcceptsTheEntry) {
    if (std::system("command -v update-mime-database >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "update-mime-database (shared-mime-info) is not installed";
    }
    Register(false);
    EXPECT_TRUE(m_registry->TypePackageCurrent());
    EXPECT_NE(Slurp(m_data / "mime/globs2").find(":application/x-cca:*.cca"), std::string::npos);
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") == 0) {
        const std::string command = "desktop-file-validate '" + m_registry->EntryPath() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
}

TEST_F(FileTypes, NoKeepsThePalmDefaultsButWritesTheCommandAndTheCheckBox) {
    Spit(MimeApps(), "[Default Applications]\napplication/vnd.palm=other.desktop;\n");
    m_question.answer = IDefaultTypesQuestion::kNo;
    m_question.check = true;
    Register(false);
    EXPECT_EQ(m_question.asked, 1);
    EXPECT_EQ(Default(kPalm), "other.desktop;");
    EXPECT_EQ(Default(kCca), "cradlecourier.desktop;");
    EXPECT_TRUE(Lists(kPalm));
    EXPECT_EQ(m_settings.ReadInt("main", "DontAskDefault", -1), 1);

    // Now a start leaves the Palm types alone, while the menu command still asks.
    Register(false);
    EXPECT_EQ(m_question.asked, 1);
    m_question.check = false;
    Register(true);
    EXPECT_EQ(m_question.asked, 2);
    EXPECT_EQ(m_settings.ReadInt("main", "DontAskDefault", -1), 0);
}

TEST_F(FileTypes, DontAskTouchesOnlyTheArchiveEntries) {
    const std::string before = "[Default Applications]\napplication/vnd.palm=other.desktop;\n";
    Spit(MimeApps(), before);
    m_settings.WriteInt("main", "DontAskDefault", 1);
    Register(false);
    EXPECT_EQ(m_question.asked, 0);
    EXPECT_EQ(Slurp(MimeApps()), before + "application/x-cca=cradlecourier.desktop;\n");
    EXPECT_TRUE(Lists(kCca));
    EXPECT_FALSE(Lists(kPalm));
    EXPECT_FALSE(m_settings.Has(file_types::kPriorSection, file_types::PriorEntry(kPalm)));
}

TEST_F(FileTypes, EscapeStoresZeroAndAPalmTypeOfOursAsksNothing) {
    m_settings.WriteInt("main", "DontAskDefault", 1);
    m_question.answer = IDefaultTypesQuestion::kNoAnswer;
    m_question.check = true;
    Register(true);
    EXPECT_EQ(m_question.asked, 1);
    EXPECT_EQ(m_settings.ReadInt("main", "DontAskDefault", -1), 0);
    EXPECT_FALSE(Default(kPalm).has_value());

    Spit(MimeApps(), "[Default Applications]\napplication/vnd.palm=cradlecourier.desktop\n");
    Register(true);
    EXPECT_EQ(m_question.asked, 1);
}

TEST_F(FileTypes, UnregisterGivesBackWhatWasThereAndKeepsTheArchives) {
    Spit(MimeApps(),
         "# mine\n[Default Applications]\napplication/vnd.palm=other.desktop;x.desktop\n");
    Register(false);  // Yes
    EXPECT_EQ(Default(kPalm), "cradlecourier.desktop;other.desktop;x.desktop;");
    Unregister();
    EXPECT_EQ(Default(kPalm), "other.desktop;x.desktop");
    EXPECT_EQ(Default(kCca), "cradlecourier.desktop;");
    EXPECT_FALSE(m_settings.Has(file_types::kPriorSection, file_types::PriorEntry(kPalm)));
    EXPECT_EQ(Slurp(MimeApps()).substr(0, 7), "# mine\n");

    // With nothing there before, our line goes; once the user chose another, it stays.
    fs::remove(MimeApps());
    Register(true);
    Unregister();
    EXPECT_FALSE(Default(kPalm).has_value());
    Register(true);
    m_registry->SetDefaultFor(kPalm, "third.desktop;");
    Unregister();
    EXPECT_EQ(Default(kPalm), "third.desktop;");
}

TEST_F(FileTypes, ExecQuotesAPathWithABlankAndFollowsAMovedProgram) {
    const std::string spaced = (m_root / "my programs" / "ccourier").string();
    Register(false, spaced);
    EXPECT_EQ(Entry().exec, "\"" + spaced + "\" %F");
    EXPECT_NE(Slurp(m_registry->EntryPath()).find("\nExec=\"" + spaced + "\" %F\n"),
              std::string::npos);

    // Moved: the next start points the command at the new place, types and all.
    m_settings.WriteInt("main", "DontAskDefault", 1);
    Register(false);
    EXPECT_EQ(Entry().exec, m_program + " %F");
    EXPECT_TRUE(Lists(kPalm));

    // A program whose name only begins like ours is another program.
    Register(false, m_program + "-cli");
    EXPECT_EQ(Entry().exec, m_program + "-cli %F");
}

TEST(DesktopEntry, ArgumentsAndValuesFollowTheFormatsRules) {
    using namespace desktop_entry;
    EXPECT_EQ(QuoteArgument("/usr/bin/ccourier"), "/usr/bin/ccourier");
    EXPECT_EQ(QuoteArgument("/opt/a b/c"), "\"/opt/a b/c\"");
    EXPECT_EQ(QuoteArgument("/x/$HOME`a\"b\\c"), "\"/x/\\$HOME\\`a\\\"b\\\\c\"");
    EXPECT_EQ(QuoteArgument("/x/100%/c"), "/x/100%%/c");
    // The file level doubles the backslashes again; reading undoes it.
    const std::string exec = ExecLine("/x/a\\b c/p");
    EXPECT_EQ(EscapeValue(exec), "\"/x/a\\\\\\\\b c/p\" %F");
    EXPECT_EQ(UnescapeValue(EscapeValue(exec)), exec);
    EXPECT_TRUE(ExecRunsProgram("/p %F", "/p"));
    EXPECT_TRUE(ExecRunsProgram("/p", "/p"));
    EXPECT_FALSE(ExecRunsProgram("/p2 %F", "/p"));
    EXPECT_FALSE(ExecRunsProgram("", ""));
}

TEST(MimeAppsList, ChangesOneLineAndKeepsTheRest) {
    CMimeAppsList list;
    const std::string text =
        "[Added Associations]\r\ntext/plain=a.desktop;\r\n\r\n[Default Applications]\r\n"
        "# comment\r\nimage/png=b.desktop\r\nx/y = c.desktop\r\nx/y=d.desktop\r\n"
        "[Removed Associations]\r\nx/y=e.desktop";
    ASSERT_TRUE(list.Parse(text));
    EXPECT_EQ(list.Default("x/y"), "c.desktop");
    EXPECT_EQ(list.Default("text/plain"), "");
    EXPECT_FALSE(list.HasDefault("text/plain"));
    list.SetDefault("x/y", "f.desktop;");
    list.SetDefault("a/b", "g.desktop;");
    EXPECT_EQ(list.Text(),
              "[Added Associations]\r\ntext/plain=a.desktop;\r\n\r\n[Default Applications]\r\n"
              "# comment\r\nimage/png=b.desktop\r\nx/y=f.desktop;\na/b=g.desktop;\n"
              "[Removed Associations]\r\nx/y=e.desktop");
    list.RemoveDefault("x/y");
    EXPECT_FALSE(list.HasDefault("x/y"));

    CMimeAppsList empty;
    ASSERT_TRUE(empty.Parse("[Added Associations]\na/b=x;"));
    empty.SetDefault("a/b", "y;");
    EXPECT_EQ(empty.Text(), "[Added Associations]\na/b=x;\n\n[Default Applications]\na/b=y;\n");

    std::string problem;
    EXPECT_FALSE(CMimeAppsList().Parse("[Default Applications]\nrubbish\n", &problem));
    EXPECT_EQ(problem, "line 2 is no entry");
    EXPECT_FALSE(CMimeAppsList().Parse("a=b\n", &problem));
    EXPECT_FALSE(CMimeAppsList().Parse("[Default Applications]\na/b=\xff\n", &problem));
    EXPECT_FALSE(CMimeAppsList().Parse(std::string("[x]\0", 4), &problem));
}

TEST_F(FileTypes, FilesWeMayNotRewriteStayAsTheyAre) {
    // Malformed: read what can be read, write nothing.
    const std::string malformed =
        "[Default Applications]\napplication/x-cca=old.desktop\nrubbish\n";
    Spit(MimeApps(), malformed);
    Register(false);
    EXPECT_EQ(Slurp(MimeApps()), malformed);
    ASSERT_FALSE(m_registry->Warnings().empty());
    EXPECT_NE(m_registry->Warnings().back().find("line 3 is no entry"), std::string::npos);

    // Read-only: left alone and still read-only.
    const std::string kept = "[Default Applications]\napplication/x-cca=old.desktop\n";
    Spit(MimeApps(), kept);
    ::chmod(MimeApps().c_str(), 0444);
    Register(false);
    EXPECT_EQ(Slurp(MimeApps()), kept);
    struct stat st {};
    ASSERT_EQ(::stat(MimeApps().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_NE(m_registry->Warnings().back().find("read-only"), std::string::npos);

    // A link is followed, not replaced; and no temporary file is left anywhere.
    ::chmod(MimeApps().c_str(), 0644);
    fs::rename(MimeApps(), m_root / "dotfiles.list");
    fs::create_symlink(m_root / "dotfiles.list", MimeApps());
    Register(false);
    EXPECT_TRUE(fs::is_symlink(MimeApps()));
    EXPECT_NE(Slurp(m_root / "dotfiles.list").find("x-cca=cradlecourier.desktop;old.desktop;"),
              std::string::npos);
    for (const auto& e : fs::recursive_directory_iterator(m_root)) {
        EXPECT_EQ(e.path().filename().string().find(".mimeapps.list."), std::string::npos);
    }

    // A directory where the list should be: a warning, no crash.
    fs::remove(MimeApps());
    fs::create_directories(MimeApps());
    Register(false);
    EXPECT_TRUE(fs::is_directory(MimeApps()));
}

TEST_F(FileTypes, AMissingMimeDatabaseToolStillLeavesThePackage) {
    m_registry->SetUpdateTools("cc-no-such-update-mime-database", "cc-no-such-tool");
    Register(false);
    EXPECT_TRUE(fs::exists(m_data / "mime/packages/cradlecourier.xml"));
    EXPECT_FALSE(m_registry->TypePackageCurrent());
    ASSERT_FALSE(m_registry->Warnings().empty());
    EXPECT_NE(m_registry->Warnings().front().find("not installed"), std::string::npos);
    EXPECT_EQ(Default(kCca), "cradlecourier.desktop;");
}

TEST(AtomicFile, ReplacesWholeAndNeverOpensAFifoBlocking) {
    const fs::path dir = fs::temp_directory_path() / ("cc-atomic-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const std::string path = (dir / "sub" / "f.txt").string();
    EXPECT_EQ(atomic_file::Write(path, "one"), atomic_file::Result::kWritten);
    ::chmod(path.c_str(), 0600);
    EXPECT_EQ(atomic_file::Write(path, "one"), atomic_file::Result::kUnchanged);
    EXPECT_EQ(atomic_file::Write(path, "two"), atomic_file::Result::kWritten);
    struct stat st {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string bytes;
    EXPECT_TRUE(atomic_file::Read(path, 10, bytes));
    EXPECT_EQ(bytes, "two");
    EXPECT_FALSE(atomic_file::Read(path, 2, bytes));

    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string error;
    EXPECT_FALSE(atomic_file::Read(fifo, 100, bytes, &error));
    EXPECT_NE(error.find("not a plain file"), std::string::npos);
    EXPECT_EQ(atomic_file::Write(fifo, "x"), atomic_file::Result::kFailed);
    fs::remove_all(dir);
}

}  // namespace
