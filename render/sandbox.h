// The render helper's lock-down, applied before it reads a byte of a PDF.
#pragma once

#include <cstdint>

#include "engine/render_protocol.h"

namespace bl::sandbox {

struct Report {
    std::uint32_t flags = 0;  // protocol::SandboxFlags in force
    std::int32_t landlock_abi = 0;
};

// In this order: no new privileges; not dumpable and no core files; the
// address-space limit (`memory_limit` bytes, 0 for none); Landlock with read
// access to the font folders only; a seccomp allow-list. Each step that the
// kernel does not offer is skipped, and the report says what took hold.
Report lock_down(std::uint64_t memory_limit);

// Makes a crash tell whether the memory limit caused it: a helper whose address
// space is all but used up exits with protocol::kExitOutOfMemory; any other
// fatal signal ends it as before.
void install_crash_handler(std::uint64_t memory_limit);

// Tries what the sandbox must forbid; the result's bits say what was refused.
std::uint32_t self_test();

// Makes a system call the sandbox knows nothing of, which ends the helper with a
// report naming it (tests only).
void make_unknown_call();

}  // namespace bl::sandbox
