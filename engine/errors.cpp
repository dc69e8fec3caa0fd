#include "engine/errors.h"

namespace bl {

ConvertError cancelled_error(std::uint32_t page) {
    return make_error(ErrorKind::Cancelled, "Conversion was cancelled.", page);
}

ConvertError job_timeout_error() {
    return make_error(ErrorKind::TimedOut, "The conversion took longer than the allowed time.");
}

ConvertError damaged_error() {
    return make_error(ErrorKind::DamagedPdf, "The PDF is damaged or not a valid PDF document.");
}

ConvertError internal_error() {
    return make_error(ErrorKind::InternalError, "An unexpected internal error occurred.");
}

ConvertError render_failed_error(std::uint32_t page) {
    return make_error(ErrorKind::RenderFailed, "The page could not be rendered.", page);
}

ConvertError render_out_of_memory_error(std::uint32_t page) {
    return make_error(ErrorKind::OutOfMemory, "Not enough memory to render this page.", page);
}

ConvertError open_out_of_memory_error() {
    return make_error(ErrorKind::OutOfMemory, "Not enough memory to open this PDF.");
}

ConvertError job_out_of_memory_error() {
    return make_error(ErrorKind::OutOfMemory, "Not enough memory to complete the conversion.");
}

}  // namespace bl
