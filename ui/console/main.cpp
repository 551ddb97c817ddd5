#include "engine/picture_converter.h"
#include "formats/doc/text_to_doc.h"
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
    return console::RunCli(argc, argv);
}
