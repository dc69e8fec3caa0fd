#include "render/pdf_document.h"

#include <cmath>

#include "engine/document_facts.h"
#include "render/page_render.h"

namespace bl {

namespace {

protocol::LoadStatus load_status(unsigned long pdfium_error) {
    switch (pdfium_error) {
        case FPDF_ERR_FILE:
            return protocol::LoadStatus::Unreadable;
        case FPDF_ERR_PASSWORD:
            return protocol::LoadStatus::Password;
        case FPDF_ERR_SECURITY:
            return protocol::LoadStatus::Security;
        default:
            return protocol::LoadStatus::Damaged;
    }
}

}  // namespace

PdfiumLibrary::PdfiumLibrary() {
    FPDF_LIBRARY_CONFIG config{};
    config.version = 2;
    FPDF_InitLibraryWithConfig(&config);
}

PdfiumLibrary::~PdfiumLibrary() {
    FPDF_DestroyLibrary();
}

int get_block(void* param, unsigned long position, unsigned char* buffer, unsigned long size) {
    const auto* file = static_cast<const InputFile*>(param);
    // Written so that it cannot overflow, whatever PDFium asks for.
    if (size > file->size || position > file->size - size) {
        return 0;
    }
    return read_at(*file, position, buffer, size) ? 1 : 0;
}

PdfDocument::PdfDocument() = default;

PdfDocument::~PdfDocument() = default;

std::unique_ptr<PdfDocument> load_pdf(const PdfiumLibrary& /*library*/,
                                      std::unique_ptr<InputFile> file, Secret password,
                                      std::int32_t max_pages, protocol::Opened& facts) {
    // PDFium spends minutes refusing a long password; no valid one is longer.
    cap_password(password);

    auto pdf = std::make_unique<PdfDocument>();
    pdf->file = std::move(file);
    pdf->access.m_FileLen = static_cast<unsigned long>(pdf->file->size);
    pdf->access.m_GetBlock = &get_block;
    pdf->access.m_Param = pdf->file.get();
    pdf->document.reset(
        FPDF_LoadCustomDocument(&pdf->access, password.empty() ? nullptr : password.c_str()));
    password.clear();

    facts = protocol::Opened{};
    if (!pdf->document) {
        facts.load = load_status(FPDF_GetLastError());
        return nullptr;
    }
    facts.page_count = std::max(FPDF_GetPageCount(pdf->document.get()), 0);
    int version = 0;
    if (FPDF_GetFileVersion(pdf->document.get(), &version) && version > 0) {
        facts.pdf_version = version;
    }
    facts.security_revision = std::max(FPDF_GetSecurityHandlerRevision(pdf->document.get()), -1);
    if (facts.page_count <= max_pages) {
        facts.page_sizes.reserve(static_cast<std::size_t>(facts.page_count));
        for (int index = 0; index < facts.page_count; ++index) {
            FS_SIZEF size{};
            // A size the engine would not accept is as good as none.
            if (FPDF_GetPageSizeByIndexF(pdf->document.get(), index, &size) &&
                !std::isnan(size.width) && !std::isnan(size.height)) {
                facts.page_sizes.push_back(PageSize{size.width, size.height});
            } else {
                facts.page_sizes.push_back(PageSize{});
            }
        }
    }
    return pdf;
}

Result<std::unique_ptr<PdfDocument>> open_pdf(const PdfiumLibrary& library,
                                              const std::filesystem::path& path, Secret password,
                                              const ConvertLimits& limits) {
    auto file = open_input_file(path, limits.max_input_bytes);
    if (!file) {
        return tl::unexpected(std::move(file.error()));
    }
    const std::uint64_t size = (*file)->size;
    const bool had_password = !password.empty();
    protocol::Opened facts;
    auto pdf = load_pdf(library, std::move(*file), std::move(password), limits.max_pages, facts);
    auto info = document_info(std::move(facts), size, had_password, limits);
    if (!info) {
        return tl::unexpected(std::move(info.error()));
    }
    pdf->info = std::move(*info);
    return pdf;
}

}  // namespace bl
