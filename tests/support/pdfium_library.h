// The PDFium library for tests that drive it in their own process, as the
// render helper does.
#pragma once

#include "render/pdfium_handles.h"

namespace bl::test {

inline const PdfiumLibrary& pdfium() {
    static const PdfiumLibrary library;
    return library;
}

}  // namespace bl::test
