#include "engine/render_protocol.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/errors.h"

namespace bl::protocol {

namespace {

static_assert(std::endian::native == std::endian::little, "the wire form is little-endian");
static_assert(sizeof(PageSize) == 2 * sizeof(double) && sizeof(Rgb) == 3);

using detail::kPlain;

// Reads fields in order; any read past the end makes the whole payload invalid.
// A count is checked against the bytes left before anything is allocated.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

    template <class... T>
    void operator()(T&... values) {
        (get(values), ...);
    }
    // True when every field was present and valid and nothing is left over.
    bool complete() const { return ok_ && position_ == data_.size(); }

  private:
    template <class T>
    void get(T& value) {
        static_assert(kPlain<T>);
        take(&value, sizeof value);
    }
    void get(bool& value) {
        std::uint8_t byte = 0;
        get(byte);
        ok_ = ok_ && byte <= 1;
        value = byte == 1;
    }
    void get(std::string& text) {
        std::uint32_t size = 0;
        get(size);
        if (!ok_ || size > remaining()) {
            ok_ = false;
            return;
        }
        text.assign(reinterpret_cast<const char*>(data_.data() + position_), size);
        position_ += size;
    }
    void get(Secret& text) {
        std::string plain;
        get(plain);
        text = Secret(std::move(plain));
    }
    void get(std::vector<PageSize>& sizes) {
        std::uint32_t count = 0;
        get(count);
        // In 64 bits: a count of 2^31 or more must not wrap round to the bytes left.
        if (!ok_ || std::size_t{count} > remaining() / sizeof(PageSize)) {
            ok_ = false;
            return;
        }
        sizes.resize(count);
        take(sizes.data(), std::size_t{count} * sizeof(PageSize));
    }
    std::size_t remaining() const { return data_.size() - position_; }
    void take(void* out, std::size_t size) {
        if (!ok_ || remaining() < size) {
            ok_ = false;
            return;
        }
        if (size > 0) {
            std::memcpy(out, data_.data() + position_, size);
        }
        position_ += size;
    }

    std::span<const std::uint8_t> data_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

template <class M, class Variant>
std::optional<Variant> decode_as(std::span<const std::uint8_t> payload) {
    M message;
    Reader r(payload);
    M::fields(message, r);
    if (!r.complete() || !message.valid()) {
        return std::nullopt;
    }
    return Variant(std::move(message));
}

// The decoder of each of a variant's messages, found by code.
template <class Variant>
struct Decoders;
template <class... Ms>
struct Decoders<std::variant<Ms...>> {
    using Variant = std::variant<Ms...>;
    using Decode = std::optional<Variant> (*)(std::span<const std::uint8_t>);
    static std::optional<Variant> decode(std::uint16_t code,
                                         std::span<const std::uint8_t> payload) {
        static constexpr std::array<std::uint16_t, sizeof...(Ms)> codes = {code_of<Ms>...};
        static constexpr std::array<Decode, sizeof...(Ms)> decoders = {&decode_as<Ms, Variant>...};
        for (std::size_t i = 0; i < codes.size(); ++i) {
            if (codes[i] == code) {
                return decoders[i](payload);
            }
        }
        return std::nullopt;
    }
};

template <class... Rows>
constexpr bool is_known_code(std::uint16_t code, std::tuple<Rows...>*) {
    return ((Rows::code == code) || ...);
}

template <class R>
constexpr bool replies_soundly() {
    if constexpr (std::is_same_v<typename R::Reply, NoReply>) {
        return true;
    } else {
        return R::from == Side::Engine && sender_of<typename R::Reply> == Side::Helper;
    }
}

// Every request's reply is a message the helper sends, and codes are unique.
template <class... Rows>
constexpr bool table_is_sound(std::tuple<Rows...>*) {
    constexpr std::array<std::uint16_t, sizeof...(Rows)> codes = {Rows::code...};
    for (std::size_t i = 0; i < codes.size(); ++i) {
        for (std::size_t j = i + 1; j < codes.size(); ++j) {
            if (codes[i] == codes[j] || codes[i] == 0) {
                return false;
            }
        }
    }
    return (replies_soundly<Rows>() && ...);
}
static_assert(table_is_sound(static_cast<Table*>(nullptr)));

}  // namespace

bool Opened::valid() const {
    // Either every page's size or none; a failed load has no pages.
    if (load > LoadStatus::Security || page_count < 0 || security_revision < -1 ||
        pdf_version < 0) {
        return false;
    }
    if (!page_sizes.empty() && page_sizes.size() != static_cast<std::size_t>(page_count)) {
        return false;
    }
    if (load != LoadStatus::Loaded && (page_count != 0 || !page_sizes.empty())) {
        return false;
    }
    // A helper sends 0 for a size it could not read; NaN would make a size that
    // equals nothing, not even itself.
    for (const PageSize& size : page_sizes) {
        if (std::isnan(size.width) || std::isnan(size.height)) {
            return false;
        }
    }
    return true;
}

bool Render::valid() const {
    const std::int64_t pixel_bytes = (flags & kThreeBytes) != 0 ? 3 : 4;
    // The stride holds a row and fits in 32 bits; the buffer's size is checked
    // against its mapping by the receiver.
    return page >= 1 && page <= INT32_MAX && width >= 1 && height >= 1 && slot < kMaxBufferSlots &&
           (flags & ~kKnownRenderFlags) == 0 && deadline_ns >= 0 && width <= INT32_MAX / 4 &&
           stride >= pixel_bytes * width;
}

namespace detail {

void Writer::append(const void* data, std::size_t size) {
    // resize and memcpy rather than insert, which GCC 12 at -O3 warns about
    // without cause.
    if (size == 0) {
        return;
    }
    const std::size_t at = out_.size();
    out_.resize(at + size);
    std::memcpy(out_.data() + at, data, size);
}

std::vector<std::uint8_t> finish_frame(std::vector<std::uint8_t>& bytes) {
    const auto length = static_cast<std::uint32_t>(bytes.size() - kHeaderSize);
    std::memcpy(bytes.data(), &length, sizeof length);
    return std::move(bytes);
}

}  // namespace detail

std::vector<std::uint8_t> encode(const ToHelper& message) {
    return std::visit([](const auto& m) { return encode(m); }, message);
}

std::vector<std::uint8_t> encode(const ToEngine& message) {
    return std::visit([](const auto& m) { return encode(m); }, message);
}

std::optional<FrameHeader> decode_header(std::span<const std::uint8_t, kHeaderSize> bytes) {
    FrameHeader header;
    std::uint16_t reserved = 0;
    std::memcpy(&header.length, bytes.data(), 4);
    std::memcpy(&header.code, bytes.data() + 4, 2);
    std::memcpy(&reserved, bytes.data() + 6, 2);
    if (reserved != 0 || header.length > kMaxPayload ||
        !is_known_code(header.code, static_cast<Table*>(nullptr))) {
        return std::nullopt;
    }
    return header;
}

template <class Variant>
std::optional<Variant> decode_payload(std::uint16_t code, std::span<const std::uint8_t> payload) {
    return Decoders<Variant>::decode(code, payload);
}

template <class Variant>
std::optional<Variant> decode(std::span<const std::uint8_t> frame) {
    if (frame.size() < kHeaderSize) {
        return std::nullopt;
    }
    const auto header = decode_header(frame.first<kHeaderSize>());
    if (!header || frame.size() - kHeaderSize != header->length) {
        return std::nullopt;
    }
    return decode_payload<Variant>(header->code, frame.subspan(kHeaderSize));
}

template std::optional<ToHelper> decode_payload<ToHelper>(std::uint16_t,
                                                          std::span<const std::uint8_t>);
template std::optional<ToEngine> decode_payload<ToEngine>(std::uint16_t,
                                                          std::span<const std::uint8_t>);
template std::optional<ToHelper> decode<ToHelper>(std::span<const std::uint8_t>);
template std::optional<ToEngine> decode<ToEngine>(std::span<const std::uint8_t>);

ConvertError render_error(RenderStatus status, std::uint32_t page) {
    switch (status) {
        case RenderStatus::LoadFailed:
            return make_error(ErrorKind::RenderFailed, "The page could not be loaded.", page);
        case RenderStatus::OutOfMemory:
            return render_out_of_memory_error(page);
        case RenderStatus::TimedOut:
            return make_error(ErrorKind::TimedOut,
                              "Rendering this page took longer than the allowed time.", page);
        case RenderStatus::Cancelled:
            return cancelled_error(page);
        case RenderStatus::Done:
        case RenderStatus::RenderFailed:
            break;
    }
    return render_failed_error(page);
}

}  // namespace bl::protocol
