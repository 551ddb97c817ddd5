// The files the program carries: where they are written, the help file's date rule, and the
// user guide as written out: well-formed pages whose every internal link and picture is
// there, with the same chapters in both languages.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <QFile>
#include <QXmlStreamReader>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>

#include "resources/guide/guide_files.h"
#include "resources/viewer/viewer_prc.h"
#include "shell/linux/carried_files.h"

namespace {

namespace fs = std::filesystem;
using resources::Language;

class Carried : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("cc-carried-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "bin");
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
};

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void SetTime(const std::string& path, int year, int month, int day, int hour) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_isdst = -1;
    const utimbuf times{std::mktime(&t), std::mktime(&t)};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

TEST_F(Carried, FilesGoBesideTheProgramOrIntoTheUsersDataFolder) {
    const std::string bin = (m_dir / "bin").string();
    EXPECT_EQ(carried::OutputDirectory(bin), bin);

    ::setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
    const std::string fallback = (m_dir / "data" / "Cradlecourier").string();
    EXPECT_EQ(carried::OutputDirectory((m_dir / "missing").string()), fallback);
    EXPECT_TRUE(fs::is_directory(fallback));
    if (::geteuid() != 0) {  // root may write anywhere
        fs::permissions(bin, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(carried::OutputDirectory(bin), fallback);
        fs::permissions(bin, fs::perms::owner_all);
    }
    ::unsetenv("XDG_DATA_HOME");

    ASSERT_EQ(ExtractViewer(bin), 1);
    const std::vector<uint8_t>& viewer = resources::ViewerPrcBytes();
    EXPECT_EQ(Slurp(carried::ViewerPath(bin)), std::string(viewer.begin(), viewer.end()));
    // The picture conversion's writer: where this program keeps its files.
    const std::string written = WriteViewerFile();
    EXPECT_EQ(written, carried::ViewerPath(carried::OutputDirectory()));
    EXPECT_EQ(fs::file_size(written), viewer.size());
    fs::remove(written);
    // A folder in the file's place: 0, no crash.
    fs::create_directories(m_dir / "blocked" / "VIEWER.PRC");
    EXPECT_EQ(ExtractViewer((m_dir / "blocked").string()), 0);
}

TEST_F(Carried, TheHelpFileIsRewrittenOnlyWhenMissingOrFromBeforeTheCutOff) {
    const std::string dir = m_dir.string();
    const std::string page = PrepareHelpFile(dir, Language::kGerman);
    EXPECT_EQ(page, dir + "/guide/de/index.html");
    ASSERT_TRUE(fs::exists(page));
    EXPECT_TRUE(fs::exists(dir + "/guide/en/index.html"));

    // 17 January 2001: replaced. 18 January 2001, 01:00: kept as it is.
    std::ofstream(page) << "old";
    SetTime(page, 2001, 1, 17, 23);
    EXPECT_TRUE(carried::HelpFileOutdated(page));
    PrepareHelpFile(dir, Language::kGerman);
    EXPECT_NE(Slurp(page), "old");
    EXPECT_FALSE(carried::HelpFileOutdated(page));

    std::ofstream(page) << "mine";
    SetTime(page, 2001, 1, 18, 1);
    PrepareHelpFile(dir, Language::kGerman);
    EXPECT_EQ(Slurp(page), "mine");
}

// One written page: ids, and the links and pictures it refers to.
struct Page {
    std::set<std::string> ids;
    std::vector<std::string> refs;
    std::vector<std::string> sections;  // ids of the h2 headings, in order
};

Page ReadPage(const fs::path& path, std::string& error) {
    Page page;
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot open";
        return page;
    }
    // The pages are written as XHTML-compatible HTML, so an XML reader checks them.
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto attrs = xml.attributes();
        if (attrs.hasAttribute("id")) {
            const std::string id = attrs.value("id").toString().toStdString();
            if (!page.ids.insert(id).second) error = "id " + id + " twice";
            if (xml.name() == QLatin1String("h2")) page.sections.push_back(id);
        }
        for (const char* a : {"href", "src"}) {
            if (attrs.hasAttribute(a)) page.refs.push_back(attrs.value(a).toString().toStdString());
        }
    }
    if (xml.hasError()) {
        error = "line " + std::to_string(xml.lineNumber()) + ": " + xml.errorString().toStdString();
    }
    return page;
}

TEST_F(Carried, TheWrittenGuideIsWellFormedAndEveryLinkResolves) {
    ASSERT_EQ(ExtractHelpFile(m_dir.string()), 1);
    const fs::path guide = m_dir / "guide";
    std::map<fs::path, Page> pages;
    for (const resources::EmbeddedFile& f : resources::GuideFiles()) {
        const fs::path path = guide / f.name;
        EXPECT_EQ(fs::file_size(path), f.size) << f.name;
        if (path.extension() != ".html") continue;
        std::string error;
        pages[path] = ReadPage(path, error);
        EXPECT_EQ(error, "") << f.name;
    }
    ASSERT_EQ(pages.size(), 2u);
    for (const auto& [path, page] : pages) {
        for (const std::string& ref : page.refs) {
            if (ref.rfind("http://", 0) == 0 || ref.rfind("https://", 0) == 0 ||
                ref.rfind("mailto:", 0) == 0) {
                continue;
            }
            const size_t hash = ref.find('#');
            const std::string file = ref.substr(0, hash);
            const fs::path target =
                file.empty() ? path : (path.parent_path() / file).lexically_normal();
            EXPECT_TRUE(fs::exists(target)) << path << " links to missing " << ref;
            if (hash == std::string::npos) continue;
            const auto other = pages.find(target);
            ASSERT_NE(other, pages.end()) << path << ": " << ref;
            EXPECT_TRUE(other->second.ids.count(ref.substr(hash + 1)))
                << path << " links to missing anchor " << ref;
        }
    }
    // Both languages have the same chapters in the same order.
    EXPECT_EQ(pages[guide / "en/index.html"].sections, pages[guide / "de/index.html"].sections);
}

}  // namespace
