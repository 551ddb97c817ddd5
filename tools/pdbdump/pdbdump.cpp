// cc-pdbdump: shows what a Palm database file holds, as text or as JSON.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "pdb/palm_db_file.h"

namespace {

void Usage(std::FILE* out) {
    std::fputs(
        "usage: cc-pdbdump [--json] FILE\n"
        "Shows the header and the entry list of a Palm database file (.pdb, .prc, .pqa).\n"
        "  --json   one JSON object instead of readable text\n",
        out);
}

// JSON string text: four-character codes and names may hold any byte.
std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) out += (c >= 0x20 && c < 0x7F) ? char(c) : '.';
    return out;
}

std::string DateText(int64_t t) {
    if (t == -pdb::kEpochOffset) return "never";
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    if (!gmtime_r(&tt, &tm)) return "?";
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

int Dump(const pdb::CPalmDbFile& db, bool json) {
    const pdb::DbInfo& info = db.Info();
    std::vector<uint8_t> appInfo, sortInfo;
    if (db.GetAppInfo(appInfo) != pdb::kOk || db.GetSortInfo(sortInfo) != pdb::kOk) {
        std::fprintf(stderr, "cc-pdbdump: %s: app or sort info block is damaged\n",
                     db.Path().c_str());
        return 1;
    }
    const bool res = info.IsResourceDb();
    const int n = db.EntryCount();
    std::string entries;
    int bad = -1;
    for (int i = 0; i < n; ++i) {
        char buf[160];
        if (res) {
            pdb::Resource r;
            if (db.ReadResource(i, r) != pdb::kOk) {
                bad = i;
                break;
            }
            if (json)
                std::snprintf(buf, sizeof buf, "%s{\"size\":%zu,\"type\":%s,\"id\":%u}",
                              i ? "," : "", r.data.size(),
                              JsonString(pdb::FourCCToText(r.type)).c_str(), unsigned(r.id));
            else
                std::snprintf(buf, sizeof buf, "  %5d  %s %5u  %8zu bytes\n", i,
                              Printable(pdb::FourCCToText(r.type)).c_str(), unsigned(r.id),
                              r.data.size());
        } else {
            pdb::Record r;
            if (db.ReadRecord(i, r) != pdb::kOk) {
                bad = i;
                break;
            }
            if (json)
                std::snprintf(buf, sizeof buf,
                              "%s{\"size\":%zu,\"attributes\":%u,\"category\":%u,\"uid\":%u}",
                              i ? "," : "", r.data.size(), unsigned(r.attributes),
                              unsigned(r.category), unsigned(r.uid));
            else
                std::snprintf(buf, sizeof buf, "  %5d  attr 0x%02X cat %2u uid %8u  %8zu bytes\n",
                              i, unsigned(r.attributes), unsigned(r.category), unsigned(r.uid),
                              r.data.size());
        }
        entries += buf;
    }
    if (bad >= 0) {
        std::fprintf(stderr, "cc-pdbdump: %s: entry %d is not in the file (truncated or damaged)\n",
                     db.Path().c_str(), bad);
        return 1;
    }
    if (json) {
        std::printf(
            "{\"name\":%s,\"type\":%s,\"creator\":%s,\"attributes\":%u,\"version\":%u,"
            "\"modnum\":%" PRIu32 ",\"created\":%" PRId64 ",\"modified\":%" PRId64
            ",\"backup\":%" PRId64 ",\"uid_seed\":%" PRIu32
            ",\"appinfo_size\":%zu,\"sortinfo_size\":%zu,\"resource\":%s,\"entries\":[%s]}\n",
            JsonString(info.name).c_str(), JsonString(pdb::FourCCToText(info.type)).c_str(),
            JsonString(pdb::FourCCToText(info.creator)).c_str(), unsigned(info.attributes),
            unsigned(info.version), info.modnum, info.createDate, info.modifyDate, info.backupDate,
            info.uniqueIdSeed, appInfo.size(), sortInfo.size(), res ? "true" : "false",
            entries.c_str());
    } else {
        std::printf("name:       %s\n", Printable(info.name).c_str());
        std::printf("type:       %s\ncreator:    %s\n",
                    Printable(pdb::FourCCToText(info.type)).c_str(),
                    Printable(pdb::FourCCToText(info.creator)).c_str());
        std::printf("kind:       %s database\n", res ? "resource" : "record");
        std::printf("attributes: 0x%04X\nversion:    %u\nmodnum:     %" PRIu32 "\n",
                    unsigned(info.attributes), unsigned(info.version), info.modnum);
        std::printf("created:    %s\nmodified:   %s\nbackup:     %s\n",
                    DateText(info.createDate).c_str(), DateText(info.modifyDate).c_str(),
                    DateText(info.backupDate).c_str());
        std::printf("app info:   %zu bytes\nsort info:  %zu bytes\n", appInfo.size(),
                    sortInfo.size());
        std::printf("%s:  %d\n%s", res ? "resources" : "records  ", n, entries.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            Usage(stdout);
            return 0;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "cc-pdbdump: unknown option %s\n", argv[i]);
            Usage(stderr);
            return 1;
        } else if (!path) {
            path = argv[i];
        } else {
            std::fprintf(stderr, "cc-pdbdump: only one file, please\n");
            return 1;
        }
    }
    if (!path) {
        Usage(stderr);
        return 1;
    }
    std::string message;
    auto db = pdb::CPalmDbFile::Open(path, nullptr, &message);
    if (!db) {
        std::fprintf(stderr, "cc-pdbdump: %s\n", message.c_str());
        return 1;
    }
    return Dump(*db, json);
}
