// Input checks and PDF opening: from a path to an open PDFium document, or to
// one error whose message the user reads unchanged.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "engine/convert_types.h"
#include "engine/pdfium_api.h"

namespace bl {

// Serialises every PDFium call in the process: PDFium is not safe for
// concurrent use.
extern std::mutex pdfium_mutex;

// One opened input file. PDFium keeps a pointer to `access`, which points back
// here, so an InputFile lives on the heap and never moves.
struct InputFile {
    int handle = -1;
    std::uint64_t size = 0;
    FPDF_FILEACCESS access{};

    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();
};

// Checks that `path` is a non-empty regular file of at most `max_bytes` (and at
// most 4 GiB - 1) with "%PDF-" in its first 1024 bytes, and opens it for reading.
Result<std::unique_ptr<InputFile>> open_input_file(const std::filesystem::path& path,
                                                   std::uint64_t max_bytes);

// Reads exactly `count` bytes at `offset`.
bool read_at(const InputFile& file, std::uint64_t offset, void* buffer, std::uint64_t count);

// PDFium's block-read callback; `param` is the InputFile.
int get_block(void* param, unsigned long position, unsigned char* buffer, unsigned long size);

// "1048575 bytes", "1 MiB", "3 GiB": whole units, truncated.
std::string format_size(std::uint64_t bytes);

// Initialises PDFium once per process and releases it at exit.
void ensure_pdfium_initialized();

// Sets every byte to zero, then empties the string and releases its storage.
void secure_clear(std::string& text);

class FormEnvironment;

// An open document. Destroy only while holding pdfium_mutex.
struct PdfDocument {
    std::unique_ptr<InputFile> file;
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

// Opens a PDF. The caller holds pdfium_mutex. `password` is wiped in every
// outcome, as soon as PDFium has used it.
Result<std::unique_ptr<PdfDocument>> open_pdf(const std::filesystem::path& path,
                                              std::string& password, const ConvertLimits& limits);

// Opens, reads the document's facts and closes again. Takes pdfium_mutex itself
// and never throws.
Result<DocumentInfo> inspect_pdf(const std::filesystem::path& path, std::string password,
                                 const ConvertLimits& limits);

}  // namespace bl
