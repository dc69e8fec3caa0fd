// The rules applied to what a render helper reports of a document, so that
// every way of opening one words its refusals alike.
#pragma once

#include <cstdint>

#include "bl/convert_types.h"
#include "engine/render_protocol.h"

namespace bl {

// The error of a document that did not load.
ConvertError load_error(protocol::LoadStatus status, bool had_password);

// The document's facts from a helper's report, or why it cannot be converted.
Result<DocumentInfo> document_info(protocol::Opened opened, std::uint64_t file_size,
                                   bool had_password, const ConvertLimits& limits);

}  // namespace bl
