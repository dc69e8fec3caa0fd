// The render helper protocol's decoders, fed arbitrary bytes as a stream of
// frames, for both directions: they never read out of bounds, a frame they
// accept has exactly one wire form (so that nothing smuggled in is kept), and
// every message they accept holds its row's limits. Whatever the table holds is
// covered: the harness knows no message by name.
//
// Input: raw bytes.

#include "engine/render_protocol.h"
#include "fuzz/fuzz_support.h"

namespace {

namespace proto = bl::protocol;
using bl::fuzz::check;

template <class Variant>
void check_frame(std::span<const std::uint8_t> frame, const proto::FrameHeader& header) {
    const auto message = proto::decode<Variant>(frame);
    const auto payload =
        proto::decode_payload<Variant>(header.code, frame.subspan(proto::kHeaderSize));
    check(message.has_value() == payload.has_value(), "both ways of decoding agree");
    if (!message) {
        return;
    }
    // Compared by their wire forms, which stay comparable whatever the doubles in
    // them hold.
    const auto again = proto::encode(*message);
    check(again == proto::encode(*payload) && std::ranges::equal(again, frame),
          "both ways give the same message, whose only wire form the frame is");
    check(std::visit([](const auto& m) { return m.valid(); }, *message),
          "an accepted message holds its limits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // libFuzzer's buffer is exactly sized: the address sanitizer sees a read past its end.
    std::span<const std::uint8_t> rest(data, size);
    while (rest.size() >= proto::kHeaderSize) {
        const auto header = proto::decode_header(rest.first<proto::kHeaderSize>());
        const std::size_t total = proto::kHeaderSize + (header ? header->length : 0);
        if (!header || rest.size() < total) {
            check(!proto::decode<proto::ToHelper>(rest) && !proto::decode<proto::ToEngine>(rest),
                  "a bad header or a short frame fails the frame");
            break;
        }
        const auto frame = rest.first(total);
        check(!(proto::decode<proto::ToHelper>(frame) && proto::decode<proto::ToEngine>(frame)),
              "no frame is a message of both sides");
        check_frame<proto::ToHelper>(frame, *header);
        check_frame<proto::ToEngine>(frame, *header);
        rest = rest.subspan(total);
    }
    return 0;
}
