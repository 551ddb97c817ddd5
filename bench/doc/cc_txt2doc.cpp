// Command-line front to the text converter: cc-txt2doc FILE.txt
// Prints the path of the database written beside the text; exit status 1 on failure.
#include <cstdio>

#include "formats/doc/text_to_doc.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.txt\n", argv[0]);
        return 2;
    }
    char outPath[doc::kOutPathSize] = {};
    if (!ConvertTextFile(argv[1], outPath)) {
        std::fprintf(stderr, "%s: cannot convert\n", argv[1]);
        return 1;
    }
    std::printf("%s\n", outPath);
    return 0;
}
