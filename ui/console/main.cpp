#include <string>
#include <vector>

#include "engine/picture_converter.h"
#include "formats/doc/text_to_doc.h"
#include "platform/system.h"
#include "ui/console/console_app.h"
#ifdef CC_HAVE_VIEWER
#include "resources/viewer/viewer_prc.h"
#endif

int main(int argc, char** argv) {
    // Text files become DOC databases when they are queued, as in the window.
    console::SetTextConverter([](const std::string& textPath, std::string& dbPath) {
        return ConvertTextFile(textPath, dbPath);
    });
#ifdef CC_HAVE_VIEWER
    CPictureConverter pictures(
        []() -> const std::vector<uint8_t>& { return resources::ViewerPrcBytes(); });
    console::SetPictureConverter(&pictures);
#endif
    // The arguments as UTF-8 on every system: Windows hands main() its code page's texts.
    const std::vector<std::string> args = platform::ProgramArguments(argc, argv);
    std::vector<const char*> argPointers;
    for (const std::string& arg : args) argPointers.push_back(arg.c_str());
    argPointers.push_back(nullptr);
    return console::RunCli(static_cast<int>(args.size()), argPointers.data());
}
