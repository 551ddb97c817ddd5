// cc-ccapack: makes CCA archives, lists them, and makes self-extracting program files.

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/cca/cca_archive.h"
#include "tools/ccapack/cca_packer.h"

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  cc-ccapack [OPTIONS] -o ARCHIVE [[-g GROUP] [-m METHOD] [-n NAME] FILE]...\n"
    "  cc-ccapack --sfx PROGRAM -o OUTPUT ARCHIVE\n"
    "  cc-ccapack --list ARCHIVE\n"
    "\n"
    "Makes a CCA archive of the FILEs. -g, -m and -n apply to the FILEs that follow them\n"
    "(-n to the next FILE only), so one archive can hold files for several groups.\n"
    "\n"
    "Members:\n"
    "  -g, --group GROUP     group of the following files: All (default; every handheld),\n"
    "                        Color (colour handhelds only) or NonC (handhelds without colour)\n"
    "  -m, --method N        storage method of the following files: 1 zlib chunks (default),\n"
    "                        0 stored, 255 skipped (data kept but never extracted; the\n"
    "                        extracted file is empty)\n"
    "  -n, --name NAME       member file name of the next FILE (default: its base name)\n"
    "      --readme FILE     README member, shown before installing\n"
    "      --license FILE    LICENSE member, to be accepted before installing\n"
    "Options (an OPTIONS member is written when any of these is given):\n"
    "  -t, --title TEXT      archive title, at most 29 characters\n"
    "  -p, --password TEXT   archive password, at most 29 characters\n"
    "      --need-color      requires a colour display\n"
    "      --need-ez-cpu     requires a DragonballEZ processor\n"
    "      --os-version M.N  requires at least this OS version (e.g. 3.5)\n"
    "      --options         writes an OPTIONS member even when no option is given\n"
    "Other modes:\n"
    "  -o, --output PATH     file to write (replaced when present)\n"
    "      --sfx PROGRAM     writes OUTPUT as PROGRAM followed by ARCHIVE and the\n"
    "                        self-extracting trailer\n"
    "      --list ARCHIVE    lists an archive's members and options\n"
    "  -h, --help            shows this text\n"
    "\n"
    "A Color and a NonC member may share a file name; any other repeated file name, a\n"
    "name with '/' or '\\', and more than 512 members are refused.\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

int Usage(const std::string& strError) {
    std::fprintf(stderr, "cc-ccapack: %s\n(cc-ccapack --help shows the usage)\n", strError.c_str());
    return 2;
}

int Failure(const std::string& strError) {
    std::fprintf(stderr, "cc-ccapack: %s\n", strError.c_str());
    return 1;
}

int List(const std::string& strArchive) {
    CCcaArchive archive;
    if (!archive.Open(strArchive)) {
        return Failure("not a readable CCA archive (error " + std::to_string(archive.GetError()) +
                       "): " + strArchive);
    }
    // Options are read through an extracted file, so they need a scratch directory.
    std::error_code ec;
    std::string strDir = (std::filesystem::temp_directory_path(ec) / "cc-ccapack-XXXXXX").string();
    const bool bHaveDir = !ec && ::mkdtemp(strDir.data()) != nullptr;
    const bool bOptions = bHaveDir && archive.ReadOptions(strDir + "/");
    if (bHaveDir) ::rmdir(strDir.c_str());
    std::printf("members: %zu\n", archive.GetMemberCount());
    for (const CCcaMember& member : archive.GetMembers()) {
        std::printf("  %-8s %s\n", member.m_bHasGroup ? member.m_strGroup.c_str() : "-",
                    member.m_strFileName.c_str());
    }
    if (bOptions) {
        std::printf("title: %s\n", archive.GetTitle().c_str());
        std::printf("password: %s\n", archive.GetPassword().empty() ? "no" : "yes");
        std::printf("need color: %s\n", archive.GetNeedColor() ? "yes" : "no");
        std::printf("need DragonballEZ: %s\n", archive.GetNeedEzCpu() ? "yes" : "no");
        std::printf("OS version: %s\n",
                    archive.GetOsVersion()
                        ? CCcaArchive::FormatOsVersion(archive.GetOsVersion()).c_str()
                        : "any");
    } else {
        std::printf("options: none\n");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    ccapack::CCcaPacker packer;
    ccapack::PackOptions options;
    std::string strOutput, strSfxProgram, strList, strReadme, strLicense, strNextName;
    std::string strGroup(cca::kGroupAll);
    uint16_t wMethod = cca::kMethodZlib;
    struct FileArg {
        std::string strGroup, strPath, strName;
        uint16_t wMethod;
    };
    std::vector<FileArg> files;

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& strOut) {
            if (i + 1 >= args.size()) return false;
            strOut = args[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "-o" || a == "--output") {
            if (!value(strOutput)) return Usage(a + " needs a path");
        } else if (a == "-g" || a == "--group") {
            if (!value(strGroup)) return Usage(a + " needs a group");
        } else if (a == "-m" || a == "--method") {
            if (!value(v)) return Usage(a + " needs a number");
            if (v == "0") {
                wMethod = cca::kMethodStored;
            } else if (v == "1") {
                wMethod = cca::kMethodZlib;
            } else if (v == "255") {
                wMethod = cca::kMethodSkipped;
            } else {
                return Usage("storage method must be 0, 1 or 255: " + v);
            }
        } else if (a == "-n" || a == "--name") {
            if (!value(strNextName)) return Usage(a + " needs a name");
        } else if (a == "-t" || a == "--title") {
            if (!value(options.strTitle)) return Usage(a + " needs a text");
        } else if (a == "-p" || a == "--password") {
            if (!value(options.strPassword)) return Usage(a + " needs a text");
        } else if (a == "--need-color") {
            options.bNeedColor = true;
        } else if (a == "--need-ez-cpu") {
            options.bNeedEzCpu = true;
        } else if (a == "--os-version") {
            if (!value(options.strOsVersion)) return Usage(a + " needs a version");
        } else if (a == "--options") {
            options.bForceOptions = true;
        } else if (a == "--readme") {
            if (!value(strReadme)) return Usage(a + " needs a file");
        } else if (a == "--license") {
            if (!value(strLicense)) return Usage(a + " needs a file");
        } else if (a == "--sfx") {
            if (!value(strSfxProgram)) return Usage(a + " needs a program file");
        } else if (a == "--list") {
            if (!value(strList)) return Usage(a + " needs an archive");
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage("unknown option: " + a);
        } else {
            files.push_back({strGroup, a, strNextName, wMethod});
            strNextName.clear();
        }
    }

    if (!strList.empty()) {
        if (!files.empty() || !strOutput.empty()) return Usage("--list takes only the archive");
        return List(strList);
    }
    if (strOutput.empty()) return Usage("no output given (-o)");
    std::string strError;
    if (!strSfxProgram.empty()) {
        if (files.size() != 1) return Usage("--sfx takes exactly one archive");
        if (!ccapack::AppendSfxArchive(strSfxProgram, files[0].strPath, strOutput, strError)) {
            return Failure(strError);
        }
        return 0;
    }
    if (!strNextName.empty()) return Usage("-n without a file after it");
    if (!packer.SetOptions(options, strError)) return Usage(strError);
    if (!strReadme.empty() && !packer.SetReadme(strReadme, strError)) return Failure(strError);
    if (!strLicense.empty() && !packer.SetLicense(strLicense, strError)) return Failure(strError);
    for (const FileArg& file : files) {
        if (!packer.AddFile(file.strGroup, file.strPath, file.strName, file.wMethod, strError)) {
            return Failure(strError);
        }
    }
    if (!packer.Write(strOutput, strError)) return Failure(strError);
    return 0;
}
