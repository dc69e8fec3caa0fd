#include "engine/page_render.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>

namespace bl {

namespace {

// PDFium hands the callback the address of `base`; getting back to the whole
// record relies on `base` sitting at its very start.
static_assert(std::is_standard_layout_v<RenderPause>);
static_assert(offsetof(RenderPause, base) == 0);

struct BitmapDeleter {
    void operator()(fpdf_bitmap_t__* bitmap) const { FPDFBitmap_Destroy(bitmap); }
};
using ScopedBitmap = std::unique_ptr<fpdf_bitmap_t__, BitmapDeleter>;

// Rounds halves away from zero, clamped to the 64-bit range. Hostile documents
// may declare pages of 1e30 points or more, whose pixel counts no integer holds;
// the message then shows the largest value instead of invoking undefined
// behaviour.
std::int64_t round_saturated(double value) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= kTwoTo63) {
        return INT64_MAX;
    }
    if (value < -kTwoTo63) {
        return INT64_MIN;
    }
    return std::llround(value);
}

// floor(value) for a value known to lie below 2^31, at least one pixel. The
// lower clamp is done in floating point, so that nonsense limits (a negative
// DPI range) cannot make the conversion overflow either.
std::int32_t pixels_from(double value) {
    const double floored = std::floor(value);
    return floored < 1.0 ? 1 : static_cast<std::int32_t>(floored);
}

ConvertError page_error(ErrorKind kind, const char* message, std::uint32_t page_number) {
    return make_error(kind, message, page_number);
}

}  // namespace

Result<PixelSize> page_pixel_size(PageSize size, double dpi, const ConvertLimits& limits) {
    if (!std::isfinite(size.width) || !std::isfinite(size.height) || size.width <= 0.0 ||
        size.height <= 0.0) {
        return fail(ErrorKind::DamagedPdf, "The page has an invalid size.");
    }
    if (!std::isfinite(dpi) || dpi < limits.min_dpi || dpi > limits.max_dpi) {
        return fail(ErrorKind::InvalidSettings, "DPI must be between " +
                                                    format_number(limits.min_dpi) + " and " +
                                                    format_number(limits.max_dpi) + ".");
    }

    const double exact_width = dpi * size.width / 72.0;
    const double exact_height = size.height * dpi / 72.0;
    const double fw = exact_width + 0.5;
    const double fh = exact_height + 0.5;
    const double side = static_cast<double>(limits.max_side_px) + 1.0;
    if (fw < side && fh < side) {
        const PixelSize pixels{pixels_from(fw), pixels_from(fh)};
        const std::uint64_t count =
            static_cast<std::uint64_t>(pixels.width) * static_cast<std::uint64_t>(pixels.height);
        if (count <= limits.max_page_pixels) {
            return pixels;
        }
        return fail(ErrorKind::LimitExceeded,
                    "At " + format_number(dpi) + " DPI the page would be " +
                        std::to_string(pixels.width) + " \u00D7 " + std::to_string(pixels.height) +
                        " px (" + std::to_string(count / 1'000'000) + " MP); the maximum is " +
                        std::to_string(limits.max_page_pixels / 1'000'000) +
                        " MP per page. Lower the DPI.");
    }
    return fail(ErrorKind::LimitExceeded,
                "At " + format_number(dpi) + " DPI the page would be " +
                    std::to_string(round_saturated(exact_width)) + " \u00D7 " +
                    std::to_string(round_saturated(exact_height)) + " px; the maximum side is " +
                    std::to_string(limits.max_side_px) + " px. Lower the DPI.");
}

FormEnvironment::FormEnvironment(FPDF_DOCUMENT document) {
    // No callbacks: fields are drawn as stored, with no user interaction.
    info_.version = 1;
    handle_ = FPDFDOC_InitFormFillEnvironment(document, &info_);
}

FormEnvironment::~FormEnvironment() {
    if (handle_ != nullptr) {
        FPDFDOC_ExitFormFillEnvironment(handle_);
    }
}

LoadedPage::LoadedPage(FPDF_DOCUMENT document, int index, FPDF_FORMHANDLE form)
    : page_(FPDF_LoadPage(document, index)), form_(form) {
    if (page_ != nullptr && form_ != nullptr) {
        FORM_OnAfterLoadPage(page_, form_);
    }
}

LoadedPage::~LoadedPage() {
    if (page_ != nullptr && form_ != nullptr) {
        FORM_OnBeforeClosePage(page_, form_);
    }
    if (page_ != nullptr) {
        FPDF_ClosePage(page_);
    }
}

FPDF_BOOL need_to_pause_now(IFSDK_PAUSE* base) {
    auto* pause = reinterpret_cast<RenderPause*>(base);
    // Another thread sets the flag; this runs inside PDFium on the rendering thread.
    if (pause->cancelled != nullptr && pause->cancelled->load(std::memory_order_acquire)) {
        return 1;
    }
    if (Clock::now() < pause->deadline) {
        return 0;
    }
    pause->timed_out = true;
    return 1;
}

MaybeError render_page(PdfDocument& document, std::uint32_t page_number, PixelSize size,
                       const ImageOptions& image, std::vector<std::uint8_t>& buffer,
                       std::int32_t& stride_out, const CancellationToken& token,
                       Deadline deadline) {
    const FPDF_FORMHANDLE form = document.forms ? document.forms->handle() : nullptr;
    if (page_number == 0 || page_number > static_cast<std::uint32_t>(INT_MAX)) {
        return page_error(ErrorKind::RenderFailed, "The page could not be loaded.", page_number);
    }
    const LoadedPage loaded(document.document, static_cast<int>(page_number - 1), form);
    if (loaded.page() == nullptr) {
        return page_error(ErrorKind::RenderFailed, "The page could not be loaded.", page_number);
    }

    // Sizes come from page_pixel_size; anything else could not be a PDFium bitmap
    // either, and must not overflow the stride.
    if (size.width < 1 || size.height < 1 || size.width > INT32_MAX / 4) {
        return page_error(ErrorKind::OutOfMemory, "Not enough memory to render this page.",
                          page_number);
    }
    const std::int32_t stride = size.width * 4;
    stride_out = stride;
    const std::uint64_t needed =
        static_cast<std::uint64_t>(size.height) * static_cast<std::uint64_t>(stride);
    if (buffer.size() < needed) {
        try {
            buffer.resize(static_cast<std::size_t>(needed));
        } catch (const std::bad_alloc&) {
            return page_error(ErrorKind::OutOfMemory, "Not enough memory to render this page.",
                              page_number);
        }
    }

    const ScopedBitmap bitmap(
        FPDFBitmap_CreateEx(size.width, size.height, FPDFBitmap_BGRx, buffer.data(), stride));
    if (!bitmap) {
        return page_error(ErrorKind::OutOfMemory, "Not enough memory to render this page.",
                          page_number);
    }
    const FPDF_DWORD colour = 0xFF000000UL | (FPDF_DWORD{image.background.red} << 16) |
                              (FPDF_DWORD{image.background.green} << 8) |
                              FPDF_DWORD{image.background.blue};
    FPDFBitmap_FillRect(bitmap.get(), 0, 0, size.width, size.height, colour);

    const int flags = image.render_annotations ? FPDF_ANNOT : 0;
    RenderPause pause;
    pause.base.version = 1;
    pause.base.NeedToPauseNow = &need_to_pause_now;
    pause.base.user = nullptr;
    pause.cancelled = &token.flag();
    pause.deadline = deadline;
    pause.timed_out = false;

    int status = FPDF_RenderPageBitmap_Start(bitmap.get(), loaded.page(), 0, 0, size.width,
                                             size.height, 0, flags, &pause.base);
    while (status == FPDF_RENDER_TOBECONTINUED && !token.is_cancelled() && !pause.timed_out) {
        status = FPDF_RenderPage_Continue(loaded.page(), &pause.base);
    }
    FPDF_RenderPage_Close(loaded.page());

    // Read once more: a page PDFium finished while the token was set still counts
    // as cancelled.
    if (token.is_cancelled()) {
        return page_error(ErrorKind::Cancelled, "Conversion was cancelled.", page_number);
    }
    if (pause.timed_out) {
        return page_error(ErrorKind::TimedOut,
                          "Rendering this page took longer than the allowed time.", page_number);
    }
    if (status != FPDF_RENDER_DONE) {
        return page_error(ErrorKind::RenderFailed, "The page could not be rendered.", page_number);
    }
    // Widget annotations are drawn only by the form pass, never by the page
    // render itself.
    if (form != nullptr) {
        FPDF_FFLDraw(form, bitmap.get(), loaded.page(), 0, 0, size.width, size.height, 0, flags);
    }
    return std::nullopt;
}

VersionInfo version_info() {
    return VersionInfo{BL_APP_VERSION, BL_PDFIUM_BUILD, BL_TURBOJPEG_VERSION};
}

}  // namespace bl
