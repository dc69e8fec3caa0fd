// The conversion driver: one PDF in, one JPEG per selected page out.
#pragma once

#include <functional>

#include "engine/convert_types.h"

namespace bl {

using ProgressCallback = std::function<void(const ProgressEvent&)>;

// Converts one PDF. Never throws; every outcome is in the result. Progress
// events arrive on the calling thread.
ConvertResult convert(ConvertRequest request, const ProgressCallback& progress,
                      const CancellationToken& token);

// The up-front checks of a request; nothing is opened or written.
MaybeError validate_request(const ConvertRequest& request);

}  // namespace bl
