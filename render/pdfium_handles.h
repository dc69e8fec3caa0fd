// Owners of PDFium's handles and of the library itself.
#pragma once

#include <memory>
#include <mutex>

#include "render/pdfium_api.h"

namespace bl {

template <auto Release>
struct PdfiumDeleter {
    template <class Handle>
    void operator()(Handle* handle) const {
        Release(handle);
    }
};

using ScopedFPDFDocument = std::unique_ptr<fpdf_document_t__, PdfiumDeleter<&FPDF_CloseDocument>>;
using ScopedFPDFPage = std::unique_ptr<fpdf_page_t__, PdfiumDeleter<&FPDF_ClosePage>>;
using ScopedFPDFBitmap = std::unique_ptr<fpdf_bitmap_t__, PdfiumDeleter<&FPDFBitmap_Destroy>>;
using ScopedFPDFFormHandle =
    std::unique_ptr<fpdf_form_handle_t__, PdfiumDeleter<&FPDFDOC_ExitFormFillEnvironment>>;

// PDFium, initialised for as long as this object lives: one per process, made
// before the first document is opened and gone after the last one closed.
class PdfiumLibrary {
  public:
    PdfiumLibrary();
    PdfiumLibrary(const PdfiumLibrary&) = delete;
    PdfiumLibrary& operator=(const PdfiumLibrary&) = delete;
    ~PdfiumLibrary();

    // PDFium is not safe for concurrent use; every call is made while holding this.
    std::unique_lock<std::mutex> lock() const { return std::unique_lock(mutex_); }

  private:
    mutable std::mutex mutex_;
};

}  // namespace bl
