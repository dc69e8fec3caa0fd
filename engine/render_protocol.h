// The messages between the engine and its render helper, and their wire form.
// Both sides include this header; each checks every message it receives, since
// the helper parses untrusted files and must be assumed compromised.
//
// A frame is an 8-byte header (payload length, message code, zero) followed by
// the payload, all little-endian as on the one machine both sides run on. The
// payload is the message's fields in the order its `fields` lists them.
//
// Everything about a message is declared once: its struct (fields, limits) and
// its row in `Table` (code, sender, the reply a request expects). The codec,
// the header's bounds and each side's dispatch are derived from these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

#include "bl/convert_types.h"
#include "bl/secret.h"

namespace bl::protocol {

inline constexpr std::uint32_t kVersion = 2;
inline constexpr std::size_t kHeaderSize = 8;
// Large enough for the page sizes of a million-page document.
inline constexpr std::uint32_t kMaxPayload = 32u << 20;
inline constexpr std::uint32_t kMaxPassword = 4096;
inline constexpr std::uint32_t kMaxBufferSlots = 64;

// The descriptors a helper starts with.
inline constexpr int kSocketFd = 3;
inline constexpr int kInputFd = 4;    // the PDF, opened and checked by the engine; -1 if none
inline constexpr int kControlFd = 5;  // one shared page holding the cancel flag
inline constexpr int kReportFd = 6;   // a pipe for the helper's last words before it dies
// The size of the control page.
inline constexpr std::size_t kControlBytes = 4096;

// Exit status of a helper that stopped because its memory limit was reached.
inline constexpr int kExitOutOfMemory = 86;
// Exit status of a helper that received a message it could not accept.
inline constexpr int kExitProtocolError = 87;
// Exit status of a helper that made a system call its sandbox does not know.
inline constexpr int kExitSandboxViolation = 88;

// What a helper managed to lock itself into.
enum SandboxFlags : std::uint32_t {
    kNoNewPrivileges = 1u << 0,
    kNotDumpable = 1u << 1,
    kLandlock = 1u << 2,
    kSeccomp = 1u << 3,
    kMemoryLimit = 1u << 4,
};
inline constexpr std::uint32_t kKnownSandboxFlags =
    kNoNewPrivileges | kNotDumpable | kLandlock | kSeccomp | kMemoryLimit;

// helper -> engine, once, unasked, after the sandbox is in place and before any
// input is read.
struct Hello {
    static constexpr const char* kName = "Hello";
    std::uint32_t version = kVersion;
    std::uint32_t sandbox = 0;      // SandboxFlags
    std::int32_t landlock_abi = 0;  // 0 when Landlock is not in force

    template <class Self, class F>
    static void fields(Self& m, F&& f) {
        f(m.version, m.sandbox, m.landlock_abi);
    }
    bool valid() const {
        return version == kVersion && (sandbox & ~kKnownSandboxFlags) == 0 && landlock_abi >= 0 &&
               landlock_abi < 1000 && ((sandbox & kLandlock) != 0) == (landlock_abi > 0);
    }
    friend bool operator==(const Hello&, const Hello&) = default;
};

// Why a document did not load.
enum class LoadStatus : std::uint32_t {
    Loaded = 0,
    Unreadable = 1,  // the file could not be read
    Damaged = 2,
    Password = 3,  // a password is needed, or the one given is wrong
    Security = 4,  // an encryption method the library does not support
};

// helper -> engine: the document's raw facts; the engine applies the rules.
struct Opened {
    static constexpr const char* kName = "Opened";
    LoadStatus load = LoadStatus::Loaded;
    std::int32_t page_count = 0;
    std::int32_t pdf_version = 0;
    std::int32_t security_revision = -1;
    std::vector<PageSize> page_sizes;  // every page, or none above max_pages

    template <class Self, class F>
    static void fields(Self& m, F&& f) {
        f(m.load, m.page_count, m.pdf_version, m.security_revision, m.page_sizes);
    }
    bool valid() const;
    friend bool operator==(const Opened&, const Opened&) = default;
};

// engine -> helper: load the document on kInputFd. The password crosses once.
struct Open {
    static constexpr const char* kName = "Open";
    std::uint64_t file_size = 0;
    std::int32_t max_pages = 0;
    bool forms = false;  // create the form-fill environment
    Secret password;

    template <class Self, class F>
    static void fields(Self& m, F&& f) {
        f(m.file_size, m.max_pages, m.forms, m.password);
    }
    bool valid() const { return password.size() <= kMaxPassword && max_pages >= 0; }
    friend bool operator==(const Open&, const Open&) = default;
};

// engine -> helper, with a shared-memory descriptor attached: pixels of `slot`
// are rendered into that memory from now on. Unanswered.
struct MapBuffer {
    static constexpr const char* kName = "MapBuffer";
    std::uint32_t slot = 0;
    std::uint64_t size = 0;

    template <class Self, class F>
    static void fields(Self& m, F&& f) {
        f(m.slot, m.size);
    }
    bool valid() const { return slot < kMaxBufferSlots && size > 0; }
    friend bool operator==(const MapBuffer&, const MapBuffer&) = default;
};

enum RenderFlags : std::uint8_t {
    kAnnotations = 1u << 0,
    kThreeBytes = 1u << 1,  // BGR rows instead of BGRx
    kFormFields = 1u << 2,  // draw form fields, where the document was opened with forms
};
inline constexpr std::uint8_t kKnownRenderFlags = kAnnotations | kThreeBytes | kFormFields;

// engine -> helper: render one page into a mapped buffer.
struct Render {
    static constexpr const char* kName = "Render";
    std::uint32_t page = 0;  // 1-based
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 0;
    std::uint32_t slot = 0;
    std::uint8_t flags = 0;
    Rgb background;
    std::int64_t deadline_ns = 0;  // on the monotonic clock both share; 0 for none

    template <class Self, class F>
    static void fields(Self& m, F&& f) {
        f(m.page, m.width, m.height, m.stride, m.slot, m.flags, m.background, m.deadline_ns);
    }
    bool valid() const;
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

// helper -> engine.
struct Rendered {
    static constexpr const char* kName = "Rendered";
    std::uint32_t page = 0;
    RenderStatus status = RenderStatus::Done;

    template <class Self, class F>
    static void fields(Self& m, F&& f) {
        f(m.page, m.status);
    }
    bool valid() const { return page >= 1 && status <= RenderStatus::Cancelled; }
    friend bool operator==(const Rendered&, const Rendered&) = default;
};

enum SelfTestBits : std::uint32_t {
    kWriteOpenRefused = 1u << 0,
    kSocketRefused = 1u << 1,
    kExecRefused = 1u << 2,
    kReadOutsideFontsRefused = 1u << 3,
    kFontsReadable = 1u << 4,
};
inline constexpr std::uint32_t kKnownSelfTestBits =
    kWriteOpenRefused | kSocketRefused | kExecRefused | kReadOutsideFontsRefused | kFontsReadable;

// helper -> engine.
struct SelfTestResult {
    static constexpr const char* kName = "SelfTestResult";
    std::uint32_t bits = 0;

    template <class Self, class F>
    static void fields(Self& m, F&& f) {
        f(m.bits);
    }
    bool valid() const { return (bits & ~kKnownSelfTestBits) == 0; }
    friend bool operator==(const SelfTestResult&, const SelfTestResult&) = default;
};

// engine -> helper (tests only): try what the sandbox must forbid.
struct SelfTest {
    static constexpr const char* kName = "SelfTest";
    template <class Self, class F>
    static void fields(Self&, F&&) {}
    bool valid() const { return true; }
    friend bool operator==(const SelfTest&, const SelfTest&) = default;
};

// engine -> helper (tests only): make a system call the sandbox has never
// heard of, which must end the helper with a report naming it.
struct UnknownCall {
    static constexpr const char* kName = "UnknownCall";
    template <class Self, class F>
    static void fields(Self&, F&&) {}
    bool valid() const { return true; }
    friend bool operator==(const UnknownCall&, const UnknownCall&) = default;
};

enum class Side { Engine, Helper };

// The reply of a request that is not answered.
struct NoReply {};

template <class M, std::uint16_t Code, Side From, class R = NoReply>
struct Row {
    using Message = M;
    using Reply = R;
    static constexpr std::uint16_t code = Code;
    static constexpr Side from = From;
};

// The protocol. Codes never change meaning; a new message takes a new code.
// clang-format off
using Table = std::tuple<
    //  message         code  sent by        reply
    Row<Hello,           1,   Side::Helper>,  // unasked, first
    Row<Open,            2,   Side::Engine,  Opened>,
    Row<Opened,          3,   Side::Helper>,
    Row<MapBuffer,       4,   Side::Engine>,
    Row<Render,          5,   Side::Engine,  Rendered>,
    Row<Rendered,        6,   Side::Helper>,
    Row<SelfTest,        7,   Side::Engine,  SelfTestResult>,  // tests only
    Row<SelfTestResult,  8,   Side::Helper>,
    Row<UnknownCall,     9,   Side::Engine>>;                  // tests only
// clang-format on

namespace table {

template <class Rows, Side S>
struct Sent;
template <Side S, class... Rows>
struct Sent<std::tuple<Rows...>, S> {
    // Every message `S` sends, as one variant.
    using type = decltype(std::tuple_cat(
        std::declval<std::conditional_t<Rows::from == S, std::tuple<typename Rows::Message>,
                                        std::tuple<>>>()...));
};
template <class Tuple>
struct AsVariant;
template <class... Ms>
struct AsVariant<std::tuple<Ms...>> {
    using type = std::variant<Ms...>;
};

template <class M, class Rows = Table>
struct RowOf;
template <class M, class... Rows>
struct RowOf<M, std::tuple<Rows...>> {
    static_assert((std::is_same_v<M, typename Rows::Message> + ...) == 1,
                  "every message has exactly one row");
    using type = std::tuple_element_t<
        0, decltype(std::tuple_cat(
               std::declval<std::conditional_t<std::is_same_v<M, typename Rows::Message>,
                                               std::tuple<Rows>, std::tuple<>>>()...))>;
};

}  // namespace table

// What the engine sends, and what a helper sends.
using ToHelper = table::AsVariant<typename table::Sent<Table, Side::Engine>::type>::type;
using ToEngine = table::AsVariant<typename table::Sent<Table, Side::Helper>::type>::type;

template <class M>
inline constexpr std::uint16_t code_of = table::RowOf<M>::type::code;
template <class M>
inline constexpr Side sender_of = table::RowOf<M>::type::from;
// The message a request is answered with.
template <class M>
using reply_of = typename table::RowOf<M>::type::Reply;

// The place of message `M` among the alternatives of `Variant`.
template <class Variant, class M>
inline constexpr std::size_t index_in = [] {
    return []<class... Ms>(std::variant<Ms...>*) {
        std::size_t index = 0;
        const bool found = ((std::is_same_v<M, Ms> || (++index, false)) || ...);
        return found ? index : sizeof...(Ms);
    }(static_cast<Variant*>(nullptr));
}();

namespace detail {

template <class T>
constexpr bool kPlain = std::is_arithmetic_v<T> || std::is_enum_v<T> || std::is_same_v<T, Rgb>;

// Appends fields in their wire form.
class Writer {
  public:
    template <class... T>
    void operator()(const T&... values) {
        (put(values), ...);
    }
    std::vector<std::uint8_t>& bytes() { return out_; }

  private:
    template <class T>
    void put(const T& value) {
        static_assert(kPlain<T>);
        append(&value, sizeof value);
    }
    void put(bool value) { put(static_cast<std::uint8_t>(value ? 1 : 0)); }
    void put(std::string_view text) {
        put(static_cast<std::uint32_t>(text.size()));
        append(text.data(), text.size());
    }
    void put(const std::string& text) { put(std::string_view(text)); }
    void put(const Secret& text) { put(text.view()); }
    void put(const std::vector<PageSize>& sizes) {
        put(static_cast<std::uint32_t>(sizes.size()));
        append(sizes.data(), sizes.size() * sizeof(PageSize));
    }
    void append(const void* data, std::size_t size);

    std::vector<std::uint8_t> out_;
};

// The header with its length still zero, then the fields.
std::vector<std::uint8_t> finish_frame(std::vector<std::uint8_t>& bytes);

}  // namespace detail

// The whole frame of a message. It may hold a password: wipe it after use.
template <class M>
std::vector<std::uint8_t> encode(const M& message) {
    detail::Writer w;
    w(std::uint32_t{0}, code_of<M>, std::uint16_t{0});
    M::fields(message, w);
    return detail::finish_frame(w.bytes());
}
std::vector<std::uint8_t> encode(const ToHelper& message);
std::vector<std::uint8_t> encode(const ToEngine& message);

struct FrameHeader {
    std::uint32_t length = 0;
    std::uint16_t code = 0;
};

// A valid header, or nothing when the code is not in the table, the reserved
// field is not zero or the length is out of range.
std::optional<FrameHeader> decode_header(std::span<const std::uint8_t, kHeaderSize> bytes);

// The message of a payload whose header was valid, or nothing when the code is
// not one of `Variant`'s or the payload does not have exactly the form and
// limits its message requires. `Variant` is ToHelper or ToEngine.
template <class Variant>
std::optional<Variant> decode_payload(std::uint16_t code, std::span<const std::uint8_t> payload);

// The message of one complete frame, or nothing.
template <class Variant>
std::optional<Variant> decode(std::span<const std::uint8_t> frame);

// The name of the message a variant holds, for reports.
template <class Variant>
const char* name_of(const Variant& message) {
    return std::visit([](const auto& m) { return std::decay_t<decltype(m)>::kName; }, message);
}

// The user's error for a render that did not finish, with its page.
ConvertError render_error(RenderStatus status, std::uint32_t page);

}  // namespace bl::protocol
