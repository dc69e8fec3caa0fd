#include "engine/page_render.h"

namespace bl {

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

}  // namespace bl
