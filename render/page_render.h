// Page rendering through PDFium: the progressive rendering of one page into
// memory the engine provides.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "bl/convert_types.h"
#include "bl/live_checks.h"
#include "engine/render_protocol.h"
#include "render/pdf_document.h"
#include "render/pdfium_api.h"

namespace bl {

// PDFium's form-fill environment of one document, for drawing form fields as
// stored. Created and destroyed under the library's lock; owned by the
// PdfDocument.
class FormEnvironment {
  public:
    explicit FormEnvironment(FPDF_DOCUMENT document);
    FormEnvironment(const FormEnvironment&) = delete;
    FormEnvironment& operator=(const FormEnvironment&) = delete;

    FPDF_FORMHANDLE handle() const { return handle_.get(); }

  private:
    // PDFium keeps a pointer to this record for the environment's whole life, so
    // the handle, declared after it, goes first.
    FPDF_FORMFILLINFO info_{};
    ScopedFPDFFormHandle handle_;
};

// A loaded page, announced to the form environment when there is one.
class LoadedPage {
  public:
    LoadedPage(FPDF_DOCUMENT document, int index, FPDF_FORMHANDLE form);
    LoadedPage(const LoadedPage&) = delete;
    LoadedPage& operator=(const LoadedPage&) = delete;
    ~LoadedPage();

    FPDF_PAGE page() const { return page_.get(); }

  private:
    ScopedFPDFPage page_;
    FPDF_FORMHANDLE form_ = nullptr;
};

// The pause record handed to PDFium's progressive renderer. It must begin with
// PDFium's own record, which is what PDFium hands back to the callback.
struct RenderPause {
    IFSDK_PAUSE base{};
    const std::atomic<std::uint32_t>* cancelled = nullptr;  // non-zero: stop
    Deadline deadline = kNoDeadline;
    bool timed_out = false;
};

// PDFium's pause callback for a RenderPause: pause when the job is cancelled or
// the deadline has passed; a passed deadline is recorded in `timed_out`.
FPDF_BOOL need_to_pause_now(IFSDK_PAUSE* pause);

// Where a page's pixels go: rows of `stride` bytes, three (BGR) or four (BGRx)
// bytes a pixel, in `capacity` bytes of memory.
struct PixelTarget {
    std::uint8_t* pixels = nullptr;
    std::size_t capacity = 0;
    std::int32_t stride = 0;
    bool three_bytes = false;
};

// Renders page `page_number` (1-based) at `size` into `target`, background first.
// The caller holds the library's lock.
protocol::RenderStatus render_page(PdfDocument& document, std::uint32_t page_number, PixelSize size,
                                   const ImageOptions& image, const PixelTarget& target,
                                   const std::atomic<std::uint32_t>* cancelled, Deadline deadline);

}  // namespace bl
