// The VIEWER.PRC the program carries: its header and resource list, read back with our
// database reader and, independently, with the Palm::PDB Perl module.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "resources/viewer/viewer_prc.h"
#include "tests/viewer/viewer_app.h"

namespace viewer_test {
namespace {

const std::vector<std::pair<std::string, uint16_t>> kResourceList = {
    {"code", 0},    {"code", 1},    {"data", 0},    {"tFRM", 1000}, {"tFRM", 1200},
    {"Talt", 1001}, {"Talt", 1101}, {"Talt", 1201}, {"tAIB", 1000}, {"tSTR", 1000},
    {"tAIN", 1000}, {"taic", 1000}, {"tver", 1000}};

const pdb::Resource* Find(const char (&type)[5], uint16_t id) {
    for (const pdb::Resource& r : ViewerResources()) {
        if (r.type == pdb::MakeFourCC(type) && r.id == id) return &r;
    }
    return nullptr;
}

std::string Text(const pdb::Resource* r) {
    if (r == nullptr || r->data.empty() || r->data.back() != 0) return "<not a text>";
    return std::string(r->data.begin(), r->data.end() - 1);
}

TEST(ViewerPrc, HeaderNamesTheApplication) {
    const pdb::DbInfo& info = ViewerInfo();
    EXPECT_EQ(info.name, "Starter");
    EXPECT_EQ(pdb::FourCCToText(info.type), "appl");
    EXPECT_EQ(pdb::FourCCToText(info.creator), "CcVw");
    EXPECT_EQ(info.version, 1);
    EXPECT_TRUE(info.IsResourceDb());
}

TEST(ViewerPrc, HoldsTheThirteenResourcesInOrder) {
    std::vector<std::pair<std::string, uint16_t>> list;
    for (const pdb::Resource& r : ViewerResources())
        list.emplace_back(pdb::FourCCToText(r.type), r.id);
    EXPECT_EQ(list, kResourceList);
    EXPECT_EQ(Text(Find("taic", 1000)), "Pictures");
    EXPECT_EQ(Text(Find("tver", 1000)), "2.00");
    EXPECT_FALSE(Text(Find("tAIN", 1000)).empty());
    EXPECT_NE(Text(Find("tSTR", 1000)), "<not a text>");
}

TEST(ViewerPrc, CodeResourcesHaveTheLoaderLayout) {
    const pdb::Resource* code0 = Find("code", 0);
    ASSERT_NE(code0, nullptr);
    // Above-A5 size 0x28, no globals, one jump-table entry naming segment 1.
    const std::vector<uint8_t> want = {0, 0, 0, 0x28, 0, 0, 0,    0,    0, 0, 0,    8,
                                       0, 0, 0, 0x20, 0, 0, 0x3F, 0x3C, 0, 1, 0xA9, 0xF0};
    EXPECT_EQ(code0->data, want);
    const pdb::Resource* code1 = Find("code", 1);
    ASSERT_NE(code1, nullptr);
    ASSERT_GT(code1->data.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(code1->data.begin(), code1->data.begin() + 4),
              (std::vector<uint8_t>{0, 0, 0, 1}));
    EXPECT_LT(code1->data.size(), 0x8000u);
    const pdb::Resource* data0 = Find("data", 0);
    ASSERT_NE(data0, nullptr);
    EXPECT_EQ(data0->data, std::vector<uint8_t>(43, 0));  // no initialised globals
}

TEST(ViewerPrc, FormsAndAlertsCarryTheirIds) {
    for (uint16_t id : {1000, 1200}) {
        const pdb::Resource* form = Find("tFRM", id);
        ASSERT_NE(form, nullptr);
        ASSERT_GE(form->data.size(), 68u);
        EXPECT_EQ((form->data[40] << 8) | form->data[41], id);  // form id after the window
    }
    for (uint16_t id : {1001, 1101, 1201}) {
        const pdb::Resource* alert = Find("Talt", id);
        ASSERT_NE(alert, nullptr);
        ASSERT_GT(alert->data.size(), 8u);
        EXPECT_EQ((alert->data[4] << 8) | alert->data[5], 1);  // one button
        // Title, message and button: three texts.
        EXPECT_EQ(std::count(alert->data.begin() + 8, alert->data.end(), 0), 3);
    }
}

TEST(ViewerPrc, EmbeddedBytesAreTheBuiltFile) {
    std::ifstream in(std::string(CC_BINARY_DIR) + "/resources/viewer/VIEWER.PRC", std::ios::binary);
    ASSERT_TRUE(in) << "the build writes VIEWER.PRC";
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    EXPECT_EQ(file, resources::ViewerPrcBytes());
}

TEST(ViewerPrc, AnIndependentReaderSeesTheSame) {
    if (std::system("perl -MPalm::PDB -MPalm::Raw -e 1 2>/dev/null") != 0) {
        GTEST_SKIP() << "Palm::PDB (libpalm-perl) is not installed";
    }
    const std::string path = std::string(CC_BINARY_DIR) + "/resources/viewer/VIEWER.PRC";
    const std::string command =
        "perl -MPalm::PDB -MPalm::Raw -e '"
        "Palm::PDB::RegisterPRCHandlers(q(Palm::Raw), [q(CcVw), q(appl)]);"
        "$p = Palm::PDB->new; $p->Load($ARGV[0]);"
        "print join(q(|), $p->{name}, $p->{type}, $p->{creator}, $p->{version}), qq(\\n);"
        "print qq($_->{type} $_->{id}\\n) for @{$p->{resources}};' " +
        path;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[256];
    while (fgets(buf, sizeof buf, pipe) != nullptr) out += buf;
    ASSERT_EQ(pclose(pipe), 0) << out;
    std::string want = "Starter|appl|CcVw|1\n";
    for (const auto& [type, id] : kResourceList) want += type + " " + std::to_string(id) + "\n";
    EXPECT_EQ(out, want);
}

}  // namespace
}  // namespace viewer_test
