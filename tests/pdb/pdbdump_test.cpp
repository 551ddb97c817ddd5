#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "pdb/palm_db_file.h"

namespace {

struct Output {
    int status = -1;
    std::string out;
};

Output RunDump(const std::string& args) {
    const std::string cmd =
        std::string(CC_BINARY_DIR) + "/tools/pdbdump/cc-pdbdump " + args + " 2>/dev/null";
    Output o;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) o.out.append(buf, n);
        const int st = pclose(p);
        o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    return o;
}

}  // namespace

TEST(PdbDump, JsonFieldsOfARecordDatabase) {
    char tmpl[] = "/tmp/cc-dump-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    pdb::DbInfo info;
    info.name = "Dump \"Me\"";
    info.type = pdb::MakeFourCC("DATA");
    info.creator = pdb::MakeFourCC("test");
    info.version = 2;
    info.modnum = 9;
    info.createDate = 100;
    info.modifyDate = 200;
    info.backupDate = 300;
    {
        auto db = pdb::CPalmDbFile::Create(dir + "/d.pdb", info);
        ASSERT_TRUE(db);
        db->SetAppInfo(std::vector<uint8_t>(7, 1));
        const uint8_t data[3] = {1, 2, 3};
        db->AppendRecord(data, 3, pdb::kRecAttrDirty, 5, 77);
        ASSERT_EQ(db->Close(), pdb::kOk);
    }
    const Output o = RunDump("--json " + dir + "/d.pdb");
    EXPECT_EQ(o.status, 0);
    for (const char* field :
         {"\"name\":\"Dump \\\"Me\\\"\"", "\"type\":\"DATA\"", "\"creator\":\"test\"",
          "\"version\":2", "\"modnum\":9", "\"created\":100", "\"modified\":200", "\"backup\":300",
          "\"appinfo_size\":7", "\"sortinfo_size\":0",
          "\"entries\":[{\"size\":3,\"attributes\":64,\"category\":5,\"uid\":77}]"}) {
        EXPECT_NE(o.out.find(field), std::string::npos) << field << "\n" << o.out;
    }
    std::filesystem::remove_all(dir);
}

TEST(PdbDump, UnreadableFilesExitWithOne) {
    EXPECT_EQ(RunDump("/nonexistent.pdb").status, 1);
    EXPECT_EQ(RunDump("--json /tmp").status, 1);
    EXPECT_EQ(RunDump("").status, 1);
}

TEST(PdbDump, ResourceEntriesOfASample) {
    const std::string path = std::string(CC_SHARED_DIR) + "/samples/palm/nettest.prc";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no shared samples";
    const Output o = RunDump("--json " + path);
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("\"name\":\"NetTest\""), std::string::npos);
    EXPECT_NE(o.out.find("\"type\":\"code\",\"id\":0"), std::string::npos) << o.out;
}
