#include "bl/inspection.h"

#include <new>

#include "bl/secret.h"
#include "engine/pdf_input.h"
#include "engine/render_helper.h"

namespace bl {

Result<DocumentInfo> inspect_pdf(const std::filesystem::path& path, std::string password,
                                 const ConvertLimits& limits) {
    if (auto problem = check_password(password)) {
        secure_clear(password);
        return tl::unexpected(std::move(*problem));
    }
    try {
        auto input = open_input_file(path, limits.max_input_bytes);
        if (!input) {
            secure_clear(password);
            return tl::unexpected(std::move(input.error()));
        }
        auto control = ControlPage::create();
        if (!control) {
            secure_clear(password);
            return tl::unexpected(std::move(control.error()));
        }
        auto opened = open_in_helper(**input, **control, password, false, limits,
                                     open_deadline(limits, Clock::now()), nullptr);
        if (!opened) {
            return tl::unexpected(std::move(opened.error()));
        }
        return std::move(opened->info);
    } catch (const std::bad_alloc&) {
        secure_clear(password);
        return fail(ErrorKind::OutOfMemory, "Not enough memory to open this PDF.");
    } catch (...) {
        secure_clear(password);
        return fail(ErrorKind::InternalError, "An unexpected internal error occurred.");
    }
}

}  // namespace bl
