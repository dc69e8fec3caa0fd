#include "engine/pdf_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "engine/page_render.h"
#include "engine/secret.h"

namespace bl {

std::mutex pdfium_mutex;

namespace {

// The access record's length field is 32 bits wide on the platforms the format
// was designed for; files beyond that are refused everywhere alike.
constexpr std::uint64_t kLargestAccessibleFile = 4'294'967'295;
constexpr std::uint64_t kHeaderWindow = 1024;
constexpr std::uint64_t kLargestSingleRead = 1'073'741'824;

// Runs a clean-up on every way out of a scope, exceptions included.
template <class F>
class ScopeExit {
  public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { f_(); }

  private:
    F f_;
};

ConvertError open_failure(int error_number) {
    if (error_number == ENOENT || error_number == ENOTDIR) {
        return make_error(ErrorKind::InputNotFound, "The input file does not exist.");
    }
    return make_error(ErrorKind::InputUnreadable,
                      "The input file could not be opened (it may be locked or access is "
                      "denied).");
}

ConvertError load_failure(unsigned long pdfium_error, bool had_password) {
    switch (pdfium_error) {
        case FPDF_ERR_FILE:
            return make_error(ErrorKind::InputUnreadable, "The input file could not be read.");
        case FPDF_ERR_PASSWORD:
            if (had_password) {
                return make_error(ErrorKind::WrongPassword, "The password is incorrect.");
            }
            return make_error(ErrorKind::PasswordRequired,
                              "This PDF is password-protected. Enter its password to convert it.");
        case FPDF_ERR_SECURITY:
            return make_error(ErrorKind::UnsupportedEncryption,
                              "This PDF uses an unsupported encryption method.");
        default:
            return make_error(ErrorKind::DamagedPdf,
                              "The PDF is damaged or not a valid PDF document.");
    }
}

}  // namespace

InputFile::~InputFile() {
    if (handle >= 0) {
        ::close(handle);
    }
}

Result<std::unique_ptr<InputFile>> open_input_file(const std::filesystem::path& path,
                                                   std::uint64_t max_bytes) {
    auto file = std::make_unique<InputFile>();
    // Non-blocking, so that a FIFO at the path cannot stall the worker; it is then
    // refused as not a regular file.
    file->handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file->handle < 0) {
        return tl::unexpected(open_failure(errno));
    }

    struct stat status {};
    if (::fstat(file->handle, &status) != 0 || !S_ISREG(status.st_mode)) {
        return fail(ErrorKind::InputUnreadable, "The input path is not a regular file.");
    }

    const int flags = ::fcntl(file->handle, F_GETFL);
    if (flags < 0 || ::fcntl(file->handle, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return tl::unexpected(open_failure(errno));
    }
    ::posix_fadvise(file->handle, 0, 0, POSIX_FADV_RANDOM);
    // Readers may share the file; a program holding a write lock on it keeps us out.
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(file->handle, F_OFD_SETLK, &lock) != 0) {
        return tl::unexpected(open_failure(errno));
    }

    file->size = static_cast<std::uint64_t>(status.st_size);
    if (file->size == 0) {
        return fail(ErrorKind::NotAPdf, "The file is empty.");
    }
    const std::uint64_t limit = std::min(max_bytes, kLargestAccessibleFile);
    if (file->size > limit) {
        return fail(ErrorKind::LimitExceeded, "The file is " + format_size(file->size) +
                                                  "; the maximum allowed is " + format_size(limit) +
                                                  ".");
    }

    char window[kHeaderWindow];
    const std::uint64_t window_size = std::min(file->size, kHeaderWindow);
    if (!read_at(*file, 0, window, window_size)) {
        return fail(ErrorKind::InputUnreadable, "The input file could not be read.");
    }
    // Junk before the header is tolerated as long as the marker lies in the window.
    const std::string_view header(window, window_size);
    if (header.find("%PDF-") == std::string_view::npos) {
        return fail(ErrorKind::NotAPdf, "The file is not a PDF document (no PDF header found).");
    }

    file->access.m_FileLen = static_cast<unsigned long>(file->size);
    file->access.m_GetBlock = &get_block;
    file->access.m_Param = file.get();
    return file;
}

bool read_at(const InputFile& file, std::uint64_t offset, void* buffer, std::uint64_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        const std::uint64_t chunk = std::min(count, kLargestSingleRead);
        const ssize_t got =
            ::pread(file.handle, out, static_cast<size_t>(chunk), static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        const auto done = static_cast<std::uint64_t>(got);
        out += done;
        offset += done;
        count -= done;
    }
    return true;
}

int get_block(void* param, unsigned long position, unsigned char* buffer, unsigned long size) {
    const auto* file = static_cast<const InputFile*>(param);
    // Written so that it cannot overflow, whatever PDFium asks for.
    if (size > file->size || position > file->size - size) {
        return 0;
    }
    return read_at(*file, position, buffer, size) ? 1 : 0;
}

std::string format_size(std::uint64_t bytes) {
    if (bytes < 1'048'576) {
        return std::to_string(bytes) + " bytes";
    }
    if (bytes < 1'073'741'824) {
        return std::to_string(bytes >> 20) + " MiB";
    }
    return std::to_string(bytes >> 30) + " GiB";
}

void ensure_pdfium_initialized() {
    static const bool initialized = [] {
        FPDF_LIBRARY_CONFIG config{};
        config.version = 2;
        FPDF_InitLibraryWithConfig(&config);
        std::atexit([] { FPDF_DestroyLibrary(); });
        return true;
    }();
    (void)initialized;
}

void secure_clear(std::string& text) {
    // Zero the whole buffer, not only the current length: earlier, longer contents
    // may still sit beyond it.
    text.resize(text.capacity());
    ::explicit_bzero(text.data(), text.size());
    text.clear();
    text.shrink_to_fit();
}

PdfDocument::PdfDocument() = default;

PdfDocument::~PdfDocument() {
    forms.reset();
    if (document != nullptr) {
        FPDF_CloseDocument(document);
        document = nullptr;
    }
    info = DocumentInfo{};
    file.reset();
}

Result<std::unique_ptr<PdfDocument>> open_pdf(const std::filesystem::path& path,
                                              std::string& password, const ConvertLimits& limits) {
    // However this ends, the password does not outlive the call.
    const ScopeExit wipe([&password] { secure_clear(password); });

    auto file = open_input_file(path, limits.max_input_bytes);
    if (!file) {
        return tl::unexpected(std::move(file.error()));
    }
    ensure_pdfium_initialized();

    auto pdf = std::make_unique<PdfDocument>();
    pdf->file = std::move(*file);
    cap_password(password);
    const bool had_password = !password.empty();
    pdf->document =
        FPDF_LoadCustomDocument(&pdf->file->access, had_password ? password.c_str() : nullptr);
    secure_clear(password);
    if (pdf->document == nullptr) {
        return tl::unexpected(load_failure(FPDF_GetLastError(), had_password));
    }

    DocumentInfo& info = pdf->info;
    info.file_size = pdf->file->size;
    info.page_count = FPDF_GetPageCount(pdf->document);
    if (info.page_count <= 0) {
        return fail(ErrorKind::NoPages, "The PDF contains no pages.");
    }
    if (info.page_count > limits.max_pages) {
        return fail(ErrorKind::LimitExceeded, "The PDF has " + std::to_string(info.page_count) +
                                                  " pages; the maximum allowed is " +
                                                  std::to_string(limits.max_pages) + ".");
    }
    int version = 0;
    if (FPDF_GetFileVersion(pdf->document, &version)) {
        info.pdf_version = version;
    }
    info.security_revision = FPDF_GetSecurityHandlerRevision(pdf->document);
    info.encrypted = info.security_revision >= 0;

    info.page_sizes.reserve(static_cast<std::size_t>(info.page_count));
    for (int index = 0; index < info.page_count; ++index) {
        FS_SIZEF size{};
        if (FPDF_GetPageSizeByIndexF(pdf->document, index, &size)) {
            info.page_sizes.push_back(PageSize{size.width, size.height});
        } else {
            info.page_sizes.push_back(PageSize{});
        }
    }
    return pdf;
}

Result<DocumentInfo> inspect_pdf(const std::filesystem::path& path, std::string password,
                                 const ConvertLimits& limits) {
    const ScopeExit wipe([&password] { secure_clear(password); });
    if (auto problem = check_password(password)) {
        return tl::unexpected(std::move(*problem));
    }
    try {
        const std::lock_guard lock(pdfium_mutex);
        auto pdf = open_pdf(path, password, limits);
        if (!pdf) {
            return tl::unexpected(std::move(pdf.error()));
        }
        DocumentInfo info = std::move((*pdf)->info);
        pdf->reset();  // closed while the lock is still held
        return info;
    } catch (const std::bad_alloc&) {
        return fail(ErrorKind::OutOfMemory, "Not enough memory to open this PDF.");
    } catch (...) {
        return fail(ErrorKind::InternalError, "An unexpected internal error occurred.");
    }
}

}  // namespace bl
