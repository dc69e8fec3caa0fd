// Page rendering: a page's pixel size under the limits, and the progressive
// rendering of one page into the caller's buffer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/convert_types.h"
#include "engine/pdf_input.h"
#include "engine/pdfium_api.h"

namespace bl {

struct PixelSize {
    std::int32_t width = 0;
    std::int32_t height = 0;

    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// The pixel size of a page at `dpi`, or why it cannot be rendered. Pure.
Result<PixelSize> page_pixel_size(PageSize size, double dpi, const ConvertLimits& limits);

// PDFium's form-fill environment of one document, for drawing form fields as
// stored. Created and destroyed under pdfium_mutex; owned by the PdfDocument.
class FormEnvironment {
  public:
    explicit FormEnvironment(FPDF_DOCUMENT document);
    FormEnvironment(const FormEnvironment&) = delete;
    FormEnvironment& operator=(const FormEnvironment&) = delete;
    ~FormEnvironment();

    FPDF_FORMHANDLE handle() const { return handle_; }

  private:
    // PDFium keeps a pointer to this record for the environment's whole life.
    FPDF_FORMFILLINFO info_{};
    FPDF_FORMHANDLE handle_ = nullptr;
};

// A loaded page, announced to the form environment when there is one.
class LoadedPage {
  public:
    LoadedPage(FPDF_DOCUMENT document, int index, FPDF_FORMHANDLE form);
    LoadedPage(const LoadedPage&) = delete;
    LoadedPage& operator=(const LoadedPage&) = delete;
    ~LoadedPage();

    FPDF_PAGE page() const { return page_; }

  private:
    FPDF_PAGE page_ = nullptr;
    FPDF_FORMHANDLE form_ = nullptr;
};

// The pause record handed to PDFium's progressive renderer. It must begin with
// PDFium's own record, which is what PDFium hands back to the callback.
struct RenderPause {
    IFSDK_PAUSE base{};
    const std::atomic<bool>* cancelled = nullptr;
    Deadline deadline = kNoDeadline;
    bool timed_out = false;
};

// PDFium's pause callback for a RenderPause: pause when the job is cancelled or
// the deadline has passed; a passed deadline is recorded in `timed_out`.
FPDF_BOOL need_to_pause_now(IFSDK_PAUSE* pause);

// Renders page `page_number` (1-based) at `size` into `buffer` as BGRx rows of
// `stride_out` bytes. The caller holds pdfium_mutex. Every error carries the page.
MaybeError render_page(PdfDocument& document, std::uint32_t page_number, PixelSize size,
                       const ImageOptions& image, std::vector<std::uint8_t>& buffer,
                       std::int32_t& stride_out, const CancellationToken& token, Deadline deadline);

struct VersionInfo {
    std::string application;
    std::string pdfium;
    std::string libjpeg_turbo;
};

// The versions of the application and of the libraries it was linked with.
VersionInfo version_info();

}  // namespace bl
