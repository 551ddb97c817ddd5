// ccourier.exe [switches] [FILE...]: the installer window with the files queued, or, when one
// runs already, the files handed to it. The window's language is the user's UI language.
#include <windows.h>

#include "app/win32/desktop_services_win32.h"
#include "platform/system.h"
#include "resources/strings/string_table.h"

int main(int argc, char** argv) {
    resources::SetLanguage(PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_GERMAN
                               ? resources::Language::kGerman
                               : resources::Language::kEnglish);
    // The arguments as UTF-8: Windows hands main() its code page's texts.
    std::vector<std::string> args = platform::ProgramArguments(argc, argv);
    if (!args.empty()) args.erase(args.begin());
    CInstallerApp app(MakeWin32Services());
    return app.Run(args);
}
