#include "bl/inspection.h"

#include <new>

#include "engine/converter.h"
#include "engine/errors.h"
#include "engine/input_file.h"
#include "engine/render_helper.h"
#include "engine/render_pool.h"

namespace bl {

Result<DocumentInfo> inspect_pdf(const std::filesystem::path& path, Secret password,
                                 const ConvertLimits& limits) {
    if (auto problem = check_password(password.view())) {
        return tl::unexpected(std::move(*problem));
    }
    try {
        auto input = open_input_file(path, limits.max_input_bytes);
        if (!input) {
            return tl::unexpected(std::move(input.error()));
        }
        auto control = ControlPage::create();
        if (!control) {
            return tl::unexpected(std::move(control.error()));
        }
        const CancellationToken never;
        RenderPool pool(**input, **control, ImageOptions{}, limits, never, false);
        return pool.open(std::move(password), open_deadline(limits, Clock::now()), kNoDeadline);
    } catch (const std::bad_alloc&) {
        return tl::unexpected(open_out_of_memory_error());
    } catch (...) {
        return tl::unexpected(internal_error());
    }
}

}  // namespace bl
