// Writes a fixture PDF from the command line, for the tests and scripts that
// run the installed programs:
//   make_pdf OUTPUT PAGES [WIDTH HEIGHT]   (sizes in points; Letter by default)
#include <cstdio>
#include <exception>
#include <string>

#include "tests/support/pdf_writer.h"

int main(int argc, char* argv[]) {
    if (argc != 3 && argc != 5) {
        std::fputs("usage: make_pdf OUTPUT PAGES [WIDTH HEIGHT]\n", stderr);
        return 2;
    }
    try {
        const int pages = std::stoi(argv[2]);
        const double width = argc == 5 ? std::stod(argv[3]) : 612.0;
        const double height = argc == 5 ? std::stod(argv[4]) : 792.0;
        bl::test::write_file(argv[1], bl::test::simple_pdf(pages, width, height));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_pdf: %s\n", error.what());
        return 1;
    }
    return 0;
}
