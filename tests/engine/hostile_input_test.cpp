// Hostile documents end within their limits, with the right kind, under the
// helper's memory cap, and leave no temporary file. Not run in sanitizer builds,
// whose helpers have no memory limit.
#include <sys/resource.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <set>

#include "engine/converter.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

namespace fs = std::filesystem;
using test::PdfPage;
using test::PdfWriter;

constexpr std::uint64_t kMemoryCap = 1ull << 30;
constexpr std::int64_t kPageLimitMs = 2000;

// `count` zero bytes, deflated: about a thousandth of their size.
std::string deflated_zeros(std::uint64_t count) {
    z_stream stream{};
    // Run-length matching only: as tight on zeros as the best level, and far faster.
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 9, Z_RLE);
    const std::string zeros(1 << 20, '\0');
    std::string out;
    char chunk[1 << 16];
    for (std::uint64_t left = count; left > 0 || stream.avail_in > 0;) {
        if (stream.avail_in == 0 && left > 0) {
            const std::uint64_t take = std::min<std::uint64_t>(left, zeros.size());
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
            stream.avail_in = static_cast<uInt>(take);
            left -= take;
        }
        do {
            stream.next_out = reinterpret_cast<Bytef*>(chunk);
            stream.avail_out = sizeof chunk;
            deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
            out.append(chunk, sizeof chunk - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

PdfPage page_drawing(const std::string& form_reference) {
    PdfPage page = test::page_of_size(612, 792);
    page.extra_resources = "/XObject << /X " + form_reference + " >>";
    page.content = "/X Do";
    return page;
}

const std::string kForm = "/Type /XObject /Subtype /Form /BBox [0 0 10 10]";

std::string self_drawing_form() {
    PdfWriter writer;
    const int self = writer.add_object("null") + 1;  // the next object's number
    writer.add_stream(kForm + " /Resources << /XObject << /X " + PdfWriter::ref(self) + " >> >>",
                      "/X Do /X Do");
    writer.add_page(page_drawing(PdfWriter::ref(self)));
    return writer.build();
}

std::string fan_out() {
    PdfWriter writer;
    int inner = writer.add_stream(kForm, "0 0 1 1 re f");
    for (int level = 0; level < 30; ++level) {
        inner = writer.add_stream(
            kForm + " /Resources << /XObject << /X " + PdfWriter::ref(inner) + " >> >>",
            "/X Do /X Do");
    }
    writer.add_page(page_drawing(PdfWriter::ref(inner)));
    return writer.build();
}

std::string content_bomb() {
    PdfWriter writer;
    const int content =
        writer.add_stream("/Filter /FlateDecode", deflated_zeros(std::uint64_t{1} << 30));
    PdfPage page = test::page_of_size(612, 792);
    page.raw_dictionary = "<< /Type /Page /Parent @PARENT@ /MediaBox [0 0 612 792] /Contents " +
                          PdfWriter::ref(content) + " >>";
    writer.add_page(page);
    return writer.build();
}

std::string page_tree_loop() {
    PdfWriter writer;
    writer.add_page(test::page_of_size(612, 792));
    PdfPage loop;
    loop.raw_dictionary = "<< /Type /Pages /Parent @PARENT@ /Kids [@PARENT@] /Count 1 >>";
    writer.add_page(loop);
    return writer.build();
}

std::string damaged_xref() {
    std::string pdf = test::simple_pdf(2);
    const auto xref = pdf.rfind("xref");
    for (std::size_t i = xref + 30; i < pdf.size() - 40; ++i) {
        if (pdf[i] >= '0' && pdf[i] <= '9') {
            pdf[i] = '7';
        }
    }
    return pdf;
}

TEST(HostileInput, EndsWithinItsLimitsAndLeavesNothingBehind) {
    struct Case {
        const char* name;
        std::string pdf;
        // What the job reports: a failed page's kinds, or the job's own error.
        std::set<ErrorKind> page_kinds;
        std::optional<ErrorKind> job_kind;
    };
    const Case cases[] = {
        {"form drawing itself",
         self_drawing_form(),
         {ErrorKind::TimedOut, ErrorKind::OutOfMemory, ErrorKind::RenderFailed},
         std::nullopt},
        {"2^30 fan-out", fan_out(), {ErrorKind::TimedOut, ErrorKind::OutOfMemory}, std::nullopt},
        {"content-stream bomb",
         content_bomb(),
         {ErrorKind::TimedOut, ErrorKind::OutOfMemory, ErrorKind::RenderFailed},
         std::nullopt},
        // PDFium breaks the loop and rebuilds the table: both convert.
        {"page-tree loop", page_tree_loop(), {}, std::nullopt},
        {"damaged xref", damaged_xref(), {}, std::nullopt},
    };
    test::TempDir dir;
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        const fs::path out = dir / item.name;
        fs::create_directories(out);
        test::write_file(dir / "hostile.pdf", item.pdf);
        ConvertRequest request;
        request.input = dir / "hostile.pdf";
        request.output_folder = out;
        request.limits.page_timeout_ms = kPageLimitMs;
        request.limits.max_helper_memory_bytes = kMemoryCap;
        const auto start = Clock::now();
        const ConvertResult result = convert(std::move(request), {}, CancellationToken{});
        // The limit, its second of grace, and time to start a helper on a busy machine.
        EXPECT_LT(elapsed_ms(start, Clock::now()), kPageLimitMs + 1000 + 3000);
        EXPECT_EQ(result.error ? std::optional(result.error->kind) : std::nullopt, item.job_kind)
            << (result.error ? result.error->message : "");
        for (const PageResult& page : result.page_results) {
            if (page.error) {
                EXPECT_EQ(item.page_kinds.count(page.error->kind), 1u) << page.error->message;
            }
        }
        for (const std::string& name : test::names_in(out)) {
            EXPECT_EQ(name.find(".partial"), std::string::npos) << name;
        }
    }
    rusage children{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &children), 0);
    EXPECT_LE(static_cast<std::uint64_t>(children.ru_maxrss) * 1024, kMemoryCap);
}

}  // namespace
}  // namespace bl
