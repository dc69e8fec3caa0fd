// The render helper protocol's decoder, fed arbitrary bytes as a stream of
// frames: it never reads out of bounds, a frame it accepts has exactly one wire
// form (so that nothing smuggled in is kept), and what it accepts holds the
// ranges the engine and the helper rely on.
//
// Input: raw bytes, or, after a first line "hex", frames written as hex digits
// (the seeds are text; other characters are skipped).

#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/render_protocol.h"
#include "fuzz/fuzz_support.h"

namespace {

namespace proto = bl::protocol;
using bl::fuzz::check;

std::vector<std::uint8_t> bytes_of(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!text.starts_with("hex\n")) {
        return {data, data + size};
    }
    std::vector<std::uint8_t> out;
    int high = -1;
    for (const char c : text.substr(4)) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        }
        if (digit < 0) {
            continue;
        }
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    return out;
}

void check_ranges(const proto::Message& message) {
    if (const auto* render = std::get_if<proto::Render>(&message)) {
        const std::int64_t pixel = (render->flags & proto::kThreeBytes) != 0 ? 3 : 4;
        check(render->width >= 1 && render->height >= 1 && render->page >= 1,
              "render sizes are positive");
        check(render->stride >= pixel * render->width, "a row fits its stride");
        check(render->slot < proto::kMaxBufferSlots, "the slot exists");
    } else if (const auto* opened = std::get_if<proto::Opened>(&message)) {
        check(opened->page_sizes.empty() ||
                  opened->page_sizes.size() == static_cast<std::size_t>(opened->page_count),
              "sizes for every page or none");
        check(opened->load == proto::LoadStatus::Loaded || opened->page_count == 0,
              "a failed load has no pages");
    } else if (const auto* open = std::get_if<proto::Open>(&message)) {
        check(open->password.size() <= proto::kMaxPassword && open->max_pages >= 0,
              "open fields in range");
    } else if (const auto* map = std::get_if<proto::MapBuffer>(&message)) {
        check(map->slot < proto::kMaxBufferSlots && map->size > 0, "buffer fields in range");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> stream = bytes_of(data, size);
    std::span<const std::uint8_t> rest(stream);
    while (rest.size() >= proto::kHeaderSize) {
        const auto header = proto::decode_header(rest.first<proto::kHeaderSize>());
        if (!header) {
            check(!proto::decode(rest), "a bad header fails the frame");
            break;
        }
        const std::size_t total = proto::kHeaderSize + header->length;
        if (rest.size() < total) {
            check(!proto::decode(rest), "a short frame is refused");
            break;
        }
        const auto frame = rest.first(total);
        const auto message = proto::decode(frame);
        const auto payload = proto::decode_payload(header->type, frame.subspan(proto::kHeaderSize));
        check(message.has_value() == payload.has_value(), "both ways of decoding agree");
        if (message) {
            // Compared by their wire forms, which stay comparable whatever the doubles
            // in them hold.
            const auto again = proto::encode(*message);
            check(again == proto::encode(*payload), "both ways give the same message");
            check(again.size() == frame.size() &&
                      std::equal(again.begin(), again.end(), frame.begin()),
                  "an accepted frame is its message's only wire form");
            check_ranges(*message);
        }
        rest = rest.subspan(total);
    }
    return 0;
}
