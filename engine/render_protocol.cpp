#include "engine/render_protocol.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace bl::protocol {

namespace {

static_assert(std::endian::native == std::endian::little, "the wire form is little-endian");

class Writer {
  public:
    template <class T>
    void put(T value) {
        static_assert(std::is_trivially_copyable_v<T>);
        append(&value, sizeof value);
    }
    void put_bytes(const std::string& text) { append(text.data(), text.size()); }
    std::vector<std::uint8_t>& bytes() { return out_; }

  private:
    // resize and memcpy rather than insert, which GCC 12 at -O3 warns about
    // without cause.
    void append(const void* data, std::size_t size) {
        if (size == 0) {
            return;
        }
        const std::size_t at = out_.size();
        out_.resize(at + size);
        std::memcpy(out_.data() + at, data, size);
    }

    std::vector<std::uint8_t> out_;
};

// Reads fields in order; any read past the end makes the whole payload invalid.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

    template <class T>
    T get() {
        static_assert(std::is_trivially_copyable_v<T>);
        T value{};
        if (data_.size() - position_ < sizeof value) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, data_.data() + position_, sizeof value);
        position_ += sizeof value;
        return value;
    }
    bool get_bool() {
        const auto byte = get<std::uint8_t>();
        ok_ = ok_ && byte <= 1;
        return byte == 1;
    }
    std::size_t remaining() const { return data_.size() - position_; }
    std::string get_text(std::size_t size) {
        if (remaining() < size) {
            ok_ = false;
            return {};
        }
        std::string text(reinterpret_cast<const char*>(data_.data() + position_), size);
        position_ += size;
        return text;
    }
    void require(bool condition) { ok_ = ok_ && condition; }
    // True when every field was present and valid and nothing is left over.
    bool complete() const { return ok_ && position_ == data_.size(); }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

MessageType type_of(const Message& message) {
    return std::visit(
        [](const auto& m) {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, Hello>) {
                return MessageType::Hello;
            } else if constexpr (std::is_same_v<T, Open>) {
                return MessageType::Open;
            } else if constexpr (std::is_same_v<T, Opened>) {
                return MessageType::Opened;
            } else if constexpr (std::is_same_v<T, MapBuffer>) {
                return MessageType::MapBuffer;
            } else if constexpr (std::is_same_v<T, Render>) {
                return MessageType::Render;
            } else if constexpr (std::is_same_v<T, Rendered>) {
                return MessageType::Rendered;
            } else if constexpr (std::is_same_v<T, SelfTest>) {
                return MessageType::SelfTest;
            } else {
                return MessageType::SelfTestResult;
            }
        },
        message);
}

void write_payload(Writer& w, const Hello& m) {
    w.put(m.version);
    w.put(m.sandbox);
    w.put(m.landlock_abi);
}
void write_payload(Writer& w, const Open& m) {
    w.put(m.file_size);
    w.put(m.max_pages);
    w.put(static_cast<std::uint8_t>(m.forms ? 1 : 0));
    w.put(static_cast<std::uint32_t>(m.password.size()));
    w.put_bytes(m.password);
}
void write_payload(Writer& w, const Opened& m) {
    w.put(static_cast<std::uint32_t>(m.load));
    w.put(m.page_count);
    w.put(m.pdf_version);
    w.put(m.security_revision);
    w.put(static_cast<std::uint32_t>(m.page_sizes.size()));
    for (const PageSize& size : m.page_sizes) {
        w.put(size.width);
        w.put(size.height);
    }
}
void write_payload(Writer& w, const MapBuffer& m) {
    w.put(m.slot);
    w.put(m.size);
}
void write_payload(Writer& w, const Render& m) {
    w.put(m.page);
    w.put(m.width);
    w.put(m.height);
    w.put(m.stride);
    w.put(m.slot);
    w.put(m.flags);
    w.put(m.background.red);
    w.put(m.background.green);
    w.put(m.background.blue);
    w.put(m.deadline_ns);
}
void write_payload(Writer& w, const Rendered& m) {
    w.put(m.page);
    w.put(static_cast<std::uint32_t>(m.status));
}
void write_payload(Writer&, const SelfTest&) {}
void write_payload(Writer& w, const SelfTestResult& m) {
    w.put(m.bits);
}

constexpr std::uint32_t kKnownSandboxFlags =
    kNoNewPrivileges | kNotDumpable | kLandlock | kSeccomp | kMemoryLimit;
constexpr std::uint8_t kKnownRenderFlags = kAnnotations | kThreeBytes;
constexpr std::uint32_t kKnownSelfTestBits =
    kWriteOpenRefused | kSocketRefused | kExecRefused | kReadOutsideFontsRefused | kFontsReadable;

std::optional<Message> read_hello(Reader& r) {
    Hello m;
    m.version = r.get<std::uint32_t>();
    m.sandbox = r.get<std::uint32_t>();
    m.landlock_abi = r.get<std::int32_t>();
    r.require(m.version == kVersion && (m.sandbox & ~kKnownSandboxFlags) == 0 &&
              m.landlock_abi >= 0 && m.landlock_abi < 1000);
    r.require(((m.sandbox & kLandlock) != 0) == (m.landlock_abi > 0));
    return m;
}

std::optional<Message> read_open(Reader& r) {
    Open m;
    m.file_size = r.get<std::uint64_t>();
    m.max_pages = r.get<std::int32_t>();
    m.forms = r.get_bool();
    const auto length = r.get<std::uint32_t>();
    r.require(length <= kMaxPassword && m.max_pages >= 0);
    m.password = r.get_text(length);
    return m;
}

std::optional<Message> read_opened(Reader& r) {
    Opened m;
    const auto load = r.get<std::uint32_t>();
    m.load = static_cast<LoadStatus>(load);
    m.page_count = r.get<std::int32_t>();
    m.pdf_version = r.get<std::int32_t>();
    m.security_revision = r.get<std::int32_t>();
    const auto count = r.get<std::uint32_t>();
    // Either every page's size or none; never more than the payload can hold.
    r.require(load <= kLastLoadStatus && m.page_count >= 0 && m.security_revision >= -1 &&
              m.pdf_version >= 0);
    r.require(count == 0 || count == static_cast<std::uint32_t>(m.page_count));
    r.require(count <= r.remaining() / (2 * sizeof(double)));
    r.require(m.load == LoadStatus::Loaded || (m.page_count == 0 && count == 0));
    // In 64 bits: a count of 2^31 or more must not wrap round to the bytes left.
    if (!r.complete() && r.remaining() == std::size_t{count} * 2 * sizeof(double)) {
        m.page_sizes.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            const auto width = r.get<double>();
            const auto height = r.get<double>();
            // A helper sends 0 for a size it could not read; NaN would make a size
            // that equals nothing, not even itself.
            r.require(!std::isnan(width) && !std::isnan(height));
            m.page_sizes.push_back(PageSize{width, height});
        }
    }
    return m;
}

std::optional<Message> read_map_buffer(Reader& r) {
    MapBuffer m;
    m.slot = r.get<std::uint32_t>();
    m.size = r.get<std::uint64_t>();
    r.require(m.slot < kMaxBufferSlots && m.size > 0);
    return m;
}

std::optional<Message> read_render(Reader& r) {
    Render m;
    m.page = r.get<std::uint32_t>();
    m.width = r.get<std::int32_t>();
    m.height = r.get<std::int32_t>();
    m.stride = r.get<std::int32_t>();
    m.slot = r.get<std::uint32_t>();
    m.flags = r.get<std::uint8_t>();
    m.background.red = r.get<std::uint8_t>();
    m.background.green = r.get<std::uint8_t>();
    m.background.blue = r.get<std::uint8_t>();
    m.deadline_ns = r.get<std::int64_t>();
    const std::int64_t pixel_bytes = (m.flags & kThreeBytes) != 0 ? 3 : 4;
    r.require(m.page >= 1 && m.page <= INT32_MAX && m.width >= 1 && m.height >= 1 &&
              m.slot < kMaxBufferSlots && (m.flags & ~kKnownRenderFlags) == 0 &&
              m.deadline_ns >= 0);
    // The stride holds a row and fits in 32 bits; the buffer's size is checked
    // against its mapping by the receiver.
    r.require(m.width <= INT32_MAX / 4 && m.stride >= pixel_bytes * m.width);
    return m;
}

std::optional<Message> read_rendered(Reader& r) {
    Rendered m;
    m.page = r.get<std::uint32_t>();
    const auto status = r.get<std::uint32_t>();
    r.require(status <= kLastRenderStatus && m.page >= 1);
    m.status = static_cast<RenderStatus>(status);
    return m;
}

std::optional<Message> read_self_test_result(Reader& r) {
    SelfTestResult m;
    m.bits = r.get<std::uint32_t>();
    r.require((m.bits & ~kKnownSelfTestBits) == 0);
    return m;
}

}  // namespace

std::vector<std::uint8_t> encode(const Message& message) {
    Writer w;
    w.put(std::uint32_t{0});
    w.put(static_cast<std::uint16_t>(type_of(message)));
    w.put(std::uint16_t{0});
    std::visit([&w](const auto& m) { write_payload(w, m); }, message);
    auto& bytes = w.bytes();
    const auto length = static_cast<std::uint32_t>(bytes.size() - kHeaderSize);
    std::memcpy(bytes.data(), &length, sizeof length);
    return std::move(bytes);
}

std::optional<FrameHeader> decode_header(std::span<const std::uint8_t, kHeaderSize> bytes) {
    Reader r(bytes);
    FrameHeader header;
    header.length = r.get<std::uint32_t>();
    const auto type = r.get<std::uint16_t>();
    const auto reserved = r.get<std::uint16_t>();
    if (reserved != 0 || header.length > kMaxPayload || type < 1 ||
        type > static_cast<std::uint16_t>(MessageType::SelfTestResult)) {
        return std::nullopt;
    }
    header.type = static_cast<MessageType>(type);
    return header;
}

std::optional<Message> decode_payload(MessageType type, std::span<const std::uint8_t> payload) {
    Reader r(payload);
    std::optional<Message> message;
    switch (type) {
        case MessageType::Hello:
            message = read_hello(r);
            break;
        case MessageType::Open:
            message = read_open(r);
            break;
        case MessageType::Opened:
            message = read_opened(r);
            break;
        case MessageType::MapBuffer:
            message = read_map_buffer(r);
            break;
        case MessageType::Render:
            message = read_render(r);
            break;
        case MessageType::Rendered:
            message = read_rendered(r);
            break;
        case MessageType::SelfTest:
            message = SelfTest{};
            break;
        case MessageType::SelfTestResult:
            message = read_self_test_result(r);
            break;
    }
    if (!r.complete()) {
        return std::nullopt;
    }
    return message;
}

std::optional<Message> decode(std::span<const std::uint8_t> frame) {
    if (frame.size() < kHeaderSize) {
        return std::nullopt;
    }
    const auto header = decode_header(frame.first<kHeaderSize>());
    if (!header || frame.size() - kHeaderSize != header->length) {
        return std::nullopt;
    }
    return decode_payload(header->type, frame.subspan(kHeaderSize));
}

ConvertError render_error(RenderStatus status, std::uint32_t page) {
    switch (status) {
        case RenderStatus::LoadFailed:
            return make_error(ErrorKind::RenderFailed, "The page could not be loaded.", page);
        case RenderStatus::OutOfMemory:
            return make_error(ErrorKind::OutOfMemory, "Not enough memory to render this page.",
                              page);
        case RenderStatus::TimedOut:
            return make_error(ErrorKind::TimedOut,
                              "Rendering this page took longer than the allowed time.", page);
        case RenderStatus::Cancelled:
            return make_error(ErrorKind::Cancelled, "Conversion was cancelled.", page);
        case RenderStatus::Done:
        case RenderStatus::RenderFailed:
            break;
    }
    return make_error(ErrorKind::RenderFailed, "The page could not be rendered.", page);
}

}  // namespace bl::protocol
