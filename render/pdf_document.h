// Opening PDFs through PDFium: the render helper's side of the input, from a
// checked input file to an open document and the facts the engine needs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "bl/convert_types.h"
#include "bl/secret.h"
#include "engine/input_file.h"
#include "engine/render_protocol.h"
#include "render/pdfium_api.h"
#include "render/pdfium_handles.h"

namespace bl {

// PDFium's block-read callback; `param` is the InputFile.
int get_block(void* param, unsigned long position, unsigned char* buffer, unsigned long size);

class FormEnvironment;

// An open document. Destroy only while holding the library's lock. The
// members go in reverse order: the form environment, the document, then the
// file, which PDFium reads until the document is closed.
struct PdfDocument {
    std::unique_ptr<InputFile> file;
    // PDFium keeps a pointer to this record until the document is closed, so a
    // PdfDocument lives on the heap and never moves.
    FPDF_FILEACCESS access{};
    ScopedFPDFDocument document;
    std::unique_ptr<FormEnvironment> forms;
    DocumentInfo info;

    PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;
    ~PdfDocument();
};

// Loads the document of a checked input file and reports its facts; the
// document is null when it did not load. Page sizes are listed only for
// documents of at most `max_pages` pages. `password` is wiped as soon as PDFium
// has used it. The caller holds the library's lock.
std::unique_ptr<PdfDocument> load_pdf(const PdfiumLibrary& library, std::unique_ptr<InputFile> file,
                                      Secret password, std::int32_t max_pages,
                                      protocol::Opened& facts);

// Checks and opens a PDF by path, with every rule applied. The caller holds
// the library's lock.
Result<std::unique_ptr<PdfDocument>> open_pdf(const PdfiumLibrary& library,
                                              const std::filesystem::path& path, Secret password,
                                              const ConvertLimits& limits);

}  // namespace bl
