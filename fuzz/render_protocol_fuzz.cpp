// The render helper protocol's decoder, fed arbitrary bytes as a stream of
// frames: it never reads out of bounds, a frame it accepts has exactly one wire
// form (so that nothing smuggled in is kept), and what it accepts holds the
// ranges the engine and the helper rely on.
//
// Input: raw bytes.

#include "engine/render_protocol.h"
#include "fuzz/fuzz_support.h"

namespace {

namespace proto = bl::protocol;
using bl::fuzz::check;

void check_ranges(const proto::Message& message) {
    if (const auto* render = std::get_if<proto::Render>(&message)) {
        const std::int64_t pixel = (render->flags & proto::kThreeBytes) != 0 ? 3 : 4;
        check(render->width >= 1 && render->height >= 1 && render->page >= 1 &&
                  render->stride >= pixel * render->width && render->slot < proto::kMaxBufferSlots,
              "render sizes are positive, a row fits its stride, the slot exists");
    } else if (const auto* opened = std::get_if<proto::Opened>(&message)) {
        check((opened->page_sizes.empty() ||
               opened->page_sizes.size() == static_cast<std::size_t>(opened->page_count)) &&
                  (opened->load == proto::LoadStatus::Loaded || opened->page_count == 0),
              "sizes for every page or none; a failed load has no pages");
    } else if (const auto* open = std::get_if<proto::Open>(&message)) {
        check(open->password.size() <= proto::kMaxPassword && open->max_pages >= 0,
              "open fields in range");
    } else if (const auto* map = std::get_if<proto::MapBuffer>(&message)) {
        check(map->slot < proto::kMaxBufferSlots && map->size > 0, "buffer fields in range");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // libFuzzer's buffer is exactly sized: the address sanitizer sees a read past its end.
    std::span<const std::uint8_t> rest(data, size);
    while (rest.size() >= proto::kHeaderSize) {
        const auto header = proto::decode_header(rest.first<proto::kHeaderSize>());
        const std::size_t total = proto::kHeaderSize + (header ? header->length : 0);
        if (!header || rest.size() < total) {
            check(!proto::decode(rest), "a bad header or a short frame fails the frame");
            break;
        }
        const auto frame = rest.first(total);
        const auto message = proto::decode(frame);
        const auto payload = proto::decode_payload(header->type, frame.subspan(proto::kHeaderSize));
        check(message.has_value() == payload.has_value(), "both ways of decoding agree");
        if (message) {
            // Compared by their wire forms, which stay comparable whatever the
            // doubles in them hold.
            const auto again = proto::encode(*message);
            check(again == proto::encode(*payload) && std::ranges::equal(again, frame),
                  "both ways give the same message, whose only wire form the frame is");
            check_ranges(*message);
        }
        rest = rest.subspan(total);
    }
    return 0;
}
