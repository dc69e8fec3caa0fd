// The render helper program: it locks itself down, then opens, inspects and
// renders one document on the engine's request.
#pragma once

namespace bl {

// The helper's whole life; returns its exit status.
int run_render_helper(int argc, char** argv);

}  // namespace bl
