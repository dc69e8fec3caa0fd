// Opening PDFs through PDFium: the render helper's side of the input, from a
// checked input file to an open document and the facts the engine needs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "engine/convert_types.h"
#include "engine/pdf_input.h"
#include "engine/render_protocol.h"
#include "render/pdfium_api.h"

namespace bl {

// Serialises PDFium calls: the library is not safe for concurrent use. The
// helper is single-threaded; tests that call in directly from several threads
// rely on it.
extern std::mutex pdfium_mutex;

// Initialises PDFium once per process and releases it at exit.
void ensure_pdfium_initialized();

// PDFium's block-read callback; `param` is the InputFile.
int get_block(void* param, unsigned long position, unsigned char* buffer, unsigned long size);

class FormEnvironment;

// An open document. Destroy only while holding pdfium_mutex.
struct PdfDocument {
    std::unique_ptr<InputFile> file;
    // PDFium keeps a pointer to this record until the document is closed, so a
    // PdfDocument lives on the heap and never moves.
    FPDF_FILEACCESS access{};
    FPDF_DOCUMENT document = nullptr;
    std::unique_ptr<FormEnvironment> forms;
    DocumentInfo info;

    PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;
    // Exits the form environment, closes the document, then closes the file,
    // which PDFium reads until the document is closed.
    ~PdfDocument();
};

// Loads the document of a checked input file and reports its facts; the
// document is null when it did not load. Page sizes are listed only for
// documents of at most `max_pages` pages. `password` is wiped as soon as PDFium
// has used it. The caller holds pdfium_mutex.
std::unique_ptr<PdfDocument> load_pdf(std::unique_ptr<InputFile> file, std::string& password,
                                      std::int32_t max_pages, protocol::Opened& facts);

// Checks and opens a PDF by path, with every rule applied. The caller holds
// pdfium_mutex. `password` is wiped in every outcome.
Result<std::unique_ptr<PdfDocument>> open_pdf(const std::filesystem::path& path,
                                              std::string& password, const ConvertLimits& limits);

}  // namespace bl
