#include "render/page_render.h"

#include <climits>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace bl {

namespace {

// PDFium hands the callback the address of `base`; getting back to the whole
// record relies on `base` sitting at its very start.
static_assert(std::is_standard_layout_v<RenderPause>);
static_assert(offsetof(RenderPause, base) == 0);

}  // namespace

FormEnvironment::FormEnvironment(FPDF_DOCUMENT document) {
    // No callbacks: fields are drawn as stored, with no user interaction.
    info_.version = 1;
    handle_.reset(FPDFDOC_InitFormFillEnvironment(document, &info_));
}

LoadedPage::LoadedPage(FPDF_DOCUMENT document, int index, FPDF_FORMHANDLE form)
    : page_(FPDF_LoadPage(document, index)), form_(form) {
    if (page_ && form_ != nullptr) {
        FORM_OnAfterLoadPage(page_.get(), form_);
    }
}

LoadedPage::~LoadedPage() {
    // The form environment lets go of the page before it closes.
    if (page_ && form_ != nullptr) {
        FORM_OnBeforeClosePage(page_.get(), form_);
    }
}

FPDF_BOOL need_to_pause_now(IFSDK_PAUSE* base) {
    auto* pause = reinterpret_cast<RenderPause*>(base);
    // Another thread or process sets the flag; this runs inside PDFium.
    if (pause->cancelled != nullptr && pause->cancelled->load(std::memory_order_acquire) != 0) {
        return 1;
    }
    if (Clock::now() < pause->deadline) {
        return 0;
    }
    pause->timed_out = true;
    return 1;
}

namespace {

// The page's own drawing, paused at the cancel flag and the deadline.
protocol::RenderStatus draw_progressively(FPDF_BITMAP bitmap, FPDF_PAGE page, PixelSize size,
                                          int flags, const std::atomic<std::uint32_t>* cancelled,
                                          Deadline deadline) {
    using protocol::RenderStatus;
    RenderPause pause;
    pause.base.version = 1;
    pause.base.NeedToPauseNow = &need_to_pause_now;
    pause.base.user = nullptr;
    pause.cancelled = cancelled;
    pause.deadline = deadline;
    pause.timed_out = false;
    const auto stop_asked = [cancelled] {
        return cancelled != nullptr && cancelled->load(std::memory_order_acquire) != 0;
    };
    int status = FPDF_RenderPageBitmap_Start(bitmap, page, 0, 0, size.width, size.height, 0, flags,
                                             &pause.base);
    while (status == FPDF_RENDER_TOBECONTINUED && !stop_asked() && !pause.timed_out) {
        status = FPDF_RenderPage_Continue(page, &pause.base);
    }
    FPDF_RenderPage_Close(page);
    // Read once more: a page PDFium finished while the flag was set still counts
    // as cancelled.
    if (stop_asked()) {
        return RenderStatus::Cancelled;
    }
    if (pause.timed_out) {
        return RenderStatus::TimedOut;
    }
    return status == FPDF_RENDER_DONE ? RenderStatus::Done : RenderStatus::RenderFailed;
}

}  // namespace

protocol::RenderStatus render_page(PdfDocument& document, std::uint32_t page_number, PixelSize size,
                                   const ImageOptions& image, const PixelTarget& target,
                                   const std::atomic<std::uint32_t>* cancelled, Deadline deadline) {
    using protocol::RenderStatus;
    const FPDF_FORMHANDLE form =
        document.forms && image.render_form_fields ? document.forms->handle() : nullptr;
    if (page_number == 0 || page_number > static_cast<std::uint32_t>(INT_MAX)) {
        return RenderStatus::LoadFailed;
    }
    // The target must hold every row; anything else could not be a PDFium bitmap
    // either.
    const std::int32_t pixel_bytes = target.three_bytes ? 3 : 4;
    if (size.width < 1 || size.height < 1 || size.width > INT32_MAX / 4 ||
        target.stride < size.width * pixel_bytes || target.pixels == nullptr ||
        static_cast<std::uint64_t>(size.height) * static_cast<std::uint64_t>(target.stride) >
            target.capacity) {
        return RenderStatus::OutOfMemory;
    }
    const LoadedPage loaded(document.document.get(), static_cast<int>(page_number - 1), form);
    if (loaded.page() == nullptr) {
        return RenderStatus::LoadFailed;
    }

    const ScopedFPDFBitmap bitmap(FPDFBitmap_CreateEx(
        size.width, size.height, target.three_bytes ? FPDFBitmap_BGR : FPDFBitmap_BGRx,
        target.pixels, target.stride));
    if (!bitmap) {
        return RenderStatus::OutOfMemory;
    }
    const FPDF_DWORD colour = 0xFF000000UL | (FPDF_DWORD{image.background.red} << 16) |
                              (FPDF_DWORD{image.background.green} << 8) |
                              FPDF_DWORD{image.background.blue};
    FPDFBitmap_FillRect(bitmap.get(), 0, 0, size.width, size.height, colour);

    const int flags = image.render_annotations ? FPDF_ANNOT : 0;
    const RenderStatus drawn =
        draw_progressively(bitmap.get(), loaded.page(), size, flags, cancelled, deadline);
    if (drawn != RenderStatus::Done) {
        return drawn;
    }
    // Widget annotations are drawn only by the form pass, never by the page
    // render itself.
    if (form != nullptr) {
        FPDF_FFLDraw(form, bitmap.get(), loaded.page(), 0, 0, size.width, size.height, 0, flags);
    }
    return RenderStatus::Done;
}

}  // namespace bl
