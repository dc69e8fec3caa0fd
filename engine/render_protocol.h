// The messages between the engine and its render helper, and their wire form.
// Both sides include this header; each checks every message it receives, since
// the helper parses untrusted files and must be assumed compromised.
//
// A frame is an 8-byte header (payload length, message type, zero) followed by
// the payload, all little-endian as on the one machine both sides run on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "bl/convert_types.h"

namespace bl::protocol {

inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kHeaderSize = 8;
// Large enough for the page sizes of a million-page document.
inline constexpr std::uint32_t kMaxPayload = 32u << 20;
inline constexpr std::uint32_t kMaxPassword = 4096;
inline constexpr std::uint32_t kMaxBufferSlots = 64;

// The descriptors a helper starts with.
inline constexpr int kSocketFd = 3;
inline constexpr int kInputFd = 4;    // the PDF, opened and checked by the engine; -1 if none
inline constexpr int kControlFd = 5;  // one shared page holding the cancel flag

// Exit status of a helper that stopped because its memory limit was reached.
inline constexpr int kExitOutOfMemory = 86;
// Exit status of a helper that received a message it could not accept.
inline constexpr int kExitProtocolError = 87;

enum class MessageType : std::uint16_t {
    Hello = 1,
    Open = 2,
    Opened = 3,
    MapBuffer = 4,
    Render = 5,
    Rendered = 6,
    SelfTest = 7,
    SelfTestResult = 8,
};

// What a helper managed to lock itself into.
enum SandboxFlags : std::uint32_t {
    kNoNewPrivileges = 1u << 0,
    kNotDumpable = 1u << 1,
    kLandlock = 1u << 2,
    kSeccomp = 1u << 3,
    kMemoryLimit = 1u << 4,
};

// helper -> engine, once, after the sandbox is in place and before any input is read.
struct Hello {
    std::uint32_t version = kVersion;
    std::uint32_t sandbox = 0;      // SandboxFlags
    std::int32_t landlock_abi = 0;  // 0 when Landlock is not in force
    friend bool operator==(const Hello&, const Hello&) = default;
};

// engine -> helper: load the document on kInputFd. The password crosses once.
struct Open {
    std::uint64_t file_size = 0;
    std::int32_t max_pages = 0;
    bool forms = false;  // create the form-fill environment
    std::string password;
    friend bool operator==(const Open&, const Open&) = default;
};

// Why a document did not load.
enum class LoadStatus : std::uint32_t {
    Loaded = 0,
    Unreadable = 1,  // the file could not be read
    Damaged = 2,
    Password = 3,  // a password is needed, or the one given is wrong
    Security = 4,  // an encryption method the library does not support
};
inline constexpr std::uint32_t kLastLoadStatus = 4;

// helper -> engine: the document's raw facts; the engine applies the rules.
struct Opened {
    LoadStatus load = LoadStatus::Loaded;
    std::int32_t page_count = 0;
    std::int32_t pdf_version = 0;
    std::int32_t security_revision = -1;
    std::vector<PageSize> page_sizes;  // every page, or none above max_pages
    friend bool operator==(const Opened&, const Opened&) = default;
};

// engine -> helper, with a shared-memory descriptor attached: pixels of `slot`
// are rendered into that memory from now on.
struct MapBuffer {
    std::uint32_t slot = 0;
    std::uint64_t size = 0;
    friend bool operator==(const MapBuffer&, const MapBuffer&) = default;
};

enum RenderFlags : std::uint8_t {
    kAnnotations = 1u << 0,
    kThreeBytes = 1u << 1,  // BGR rows instead of BGRx
};

// engine -> helper: render one page into a mapped buffer.
struct Render {
    std::uint32_t page = 0;  // 1-based
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
    std::uint32_t slot = 0;
    std::uint8_t flags = 0;
    Rgb background;
    std::int64_t deadline_ns = 0;  // on the monotonic clock both share; 0 for none
    friend bool operator==(const Render&, const Render&) = default;
};

enum class RenderStatus : std::uint32_t {
    Done = 0,
    LoadFailed = 1,
    RenderFailed = 2,
    OutOfMemory = 3,
    TimedOut = 4,
    Cancelled = 5,
};
inline constexpr std::uint32_t kLastRenderStatus = 5;

// helper -> engine.
struct Rendered {
    std::uint32_t page = 0;
    RenderStatus status = RenderStatus::Done;
    friend bool operator==(const Rendered&, const Rendered&) = default;
};

// engine -> helper (tests only): try what the sandbox must forbid.
struct SelfTest {
    friend bool operator==(const SelfTest&, const SelfTest&) = default;
};

enum SelfTestBits : std::uint32_t {
    kWriteOpenRefused = 1u << 0,
    kSocketRefused = 1u << 1,
    kExecRefused = 1u << 2,
    kReadOutsideFontsRefused = 1u << 3,
    kFontsReadable = 1u << 4,
};

struct SelfTestResult {
    std::uint32_t bits = 0;
    friend bool operator==(const SelfTestResult&, const SelfTestResult&) = default;
};

using Message =
    std::variant<Hello, Open, Opened, MapBuffer, Render, Rendered, SelfTest, SelfTestResult>;

struct FrameHeader {
    std::uint32_t length = 0;
    MessageType type = MessageType::Hello;
};

// The whole frame of a message.
std::vector<std::uint8_t> encode(const Message& message);

// A valid header, or nothing when the type is unknown, the reserved field is not
// zero or the length is out of range.
std::optional<FrameHeader> decode_header(std::span<const std::uint8_t, kHeaderSize> bytes);

// The message of a payload whose header was valid, or nothing when the payload
// does not have exactly the form its type requires.
std::optional<Message> decode_payload(MessageType type, std::span<const std::uint8_t> payload);

// The message of one complete frame, or nothing.
std::optional<Message> decode(std::span<const std::uint8_t> frame);

// The user's error for a render that did not finish, with its page.
ConvertError render_error(RenderStatus status, std::uint32_t page);

}  // namespace bl::protocol
