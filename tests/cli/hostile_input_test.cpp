// Hostile documents through the real brightleaf-convert with a 2 s page limit,
// once with --json and once with text at the same time: every run exits on its
// own within its limits, under the helper's memory cap, with the right kind of
// failure, leaves no temporary file, writes only images that decode, and names
// the file and the page of every failed page. Ctrl+C on a runaway page ends the
// run within the grace the engine allows. Normal build only: sanitizer builds
// give their helpers no memory limit.
//
// BL_HOSTILE_KEEP=DIR keeps the corpus, and what each run left, in DIR.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bl/convert_types.h"
#include "tests/support/pdf_writer.h"

namespace bl::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPageLimitMs = 2000;
// What the engine allows a page past its limit, or after a cancel, before it
// ends the helper.
constexpr double kGraceSeconds = 1.0;

// ---- The corpus ----

std::string deflate(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), 9);
    out.resize(size);
    return out;
}

// Stream data of a few kilobytes that unpacks, through two filters, to 4 GiB of
// zeros: the inner zlib stream is one deflated MiB repeated, made in moments.
const std::string kBomb = "/Filter [/FlateDecode /FlateDecode]";
const std::string& bomb() {
    static const std::string data = [] {
        std::string zeros(1 << 20, '\0');
        std::string block(zeros.size(), '\0');
        z_stream stream{};
        deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        stream.next_in = reinterpret_cast<Bytef*>(zeros.data());
        stream.avail_in = static_cast<uInt>(zeros.size());
        stream.next_out = reinterpret_cast<Bytef*>(block.data());
        stream.avail_out = static_cast<uInt>(block.size());
        // A full flush ends on a byte boundary with no reference to earlier
        // data, so that copies of the block can follow one another.
        ::deflate(&stream, Z_FULL_FLUSH);
        block.resize(block.size() - stream.avail_out);
        deflateEnd(&stream);
        std::string inner = "\x78\xDA";
        for (int i = 0; i < 4096; ++i) {
            inner += block;
        }
        // An empty last block, and the Adler-32 of 4 GiB of zeros: the first
        // sum stays 1, the second counts the bytes.
        inner += std::string("\x01\x00\x00\xFF\xFF", 5);
        const std::uint64_t adler = ((std::uint64_t{4096} << 20) % 65521) << 16 | 1;
        for (const int shift : {24, 16, 8, 0}) {
            inner.push_back(static_cast<char>(adler >> shift & 0xFF));
        }
        return deflate(inner);
    }();
    return data;
}

// Bytes that no decoder expects, the same on every run.
std::string garbage(std::size_t size, unsigned seed) {
    std::minstd_rand random(seed);
    std::string out(size, '\0');
    std::generate(out.begin(), out.end(), [&] { return static_cast<char>(random() >> 8); });
    return out;
}

// The three-page test document with each match of `pattern` replaced, or cut
// to `percent` of its size.
std::string edited(const char* pattern, const char* replacement) {
    return std::regex_replace(simple_pdf(3), std::regex(pattern), replacement);
}
std::string truncated(std::size_t percent) {
    const std::string pdf = simple_pdf(3);
    return pdf.substr(0, pdf.size() * percent / 100);
}

// Two pages: `first`, made with objects it adds to the writer, then a plain
// page, which a failure of the first alone must not take down.
template <class F>
std::string hostile(F first, std::optional<int> count = {}) {
    PdfWriter writer;
    writer.add_page(first(writer));
    writer.add_page(page_of_size(612, 792));
    if (count) {
        writer.set_page_count_override(*count);
    }
    return writer.build();
}

// A page with the given content and resources, or with a dictionary of its own.
PdfPage page(std::string content, std::string resources = {}) {
    PdfPage page;
    page.content = std::move(content);
    page.extra_resources = std::move(resources);
    return page;
}
PdfPage raw_page(const std::string& entries) {
    PdfPage page;
    page.raw_dictionary =
        "<< /Type /Page /Parent @PARENT@ /MediaBox [0 0 612 792] " + entries + " >>";
    return page;
}

// A page that draws each XObject (by object number) over its whole area.
PdfPage drawing(const std::vector<int>& xobjects) {
    PdfPage drawn = page("", "/XObject << ");
    for (std::size_t i = 0; i < xobjects.size(); ++i) {
        drawn.extra_resources += "/X" + std::to_string(i) + " " + PdfWriter::ref(xobjects[i]) + " ";
        drawn.content += "q 612 0 0 792 0 0 cm /X" + std::to_string(i) + " Do Q ";
    }
    drawn.extra_resources += ">>";
    return drawn;
}

// A form that draws `inner` twice, or the form itself when `inner` is 0.
int form(PdfWriter& writer, int inner = 0) {
    const int self = writer.add_object("null") + 1;
    return writer.add_stream("/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Resources << " +
                                 ("/XObject << /X0 " + PdfWriter::ref(inner ? inner : self)) +
                                 " >> >>",
                             "/X0 Do /X0 Do");
}

// A page that draws an image of the dictionary `entries` for each data given.
auto images(const std::string& entries, std::vector<std::string> each) {
    return [=](PdfWriter& writer) {
        std::vector<int> xobjects;
        for (const std::string& data : each) {
            xobjects.push_back(
                writer.add_stream("/Type /XObject /Subtype /Image " + entries, data));
        }
        return drawing(xobjects);
    };
}

PdfPage font_bomb(PdfWriter& writer) {
    const int file = writer.add_stream(kBomb, bomb());
    const int descriptor = writer.add_object(
        "<< /Type /FontDescriptor /FontName /Bomb /Flags 32 /FontBBox [0 0 1000 1000] "
        "/ItalicAngle 0 /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 /FontFile2 " +
        PdfWriter::ref(file) + " >>");
    const int font =
        writer.add_object("<< /Type /Font /Subtype /TrueType /BaseFont /Bomb /FontDescriptor " +
                          PdfWriter::ref(descriptor) + " >>");
    return page("BT /B 24 Tf 72 700 Td (Hostile) Tj ET",
                "/Font << /B " + PdfWriter::ref(font) + " >>");
}

// ---- Running the converter and reading what it left ----

// Starts the converter on `input` with `options`; its output folder is `out`,
// its output streams `out`.out and `out`.err beside it.
pid_t start(const fs::path& input, const fs::path& out, std::vector<std::string> options = {}) {
    fs::create_directories(out);
    options.insert(options.begin(), {BL_CONVERT_EXE, "--page-timeout", std::to_string(kPageLimitMs),
                                     "-o", out.string()});
    options.push_back(input.string());
    std::vector<char*> argv;
    for (std::string& arg : options) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    for (const int fd : {1, 2}) {
        const std::string path = out.string() + (fd == 1 ? ".out" : ".err");
        posix_spawn_file_actions_addopen(&files, fd, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// The exit status, or 128 + the signal that ended the program.
int wait_for(pid_t pid) {
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// What the JSON says: the job's error, then each page's, as the page (0 for the
// job), and the kind and the page of its error (-1 and 0 for none).
using Outcome = std::array<int, 3>;

std::vector<Outcome> read_json(const fs::path& json) {
    FILE* pipe = ::popen(("python3 -c 'import json,sys\n"
                          "r=json.load(open(sys.argv[1]))[\"result\"]\n"
                          "for p in [r]+r[\"page_results\"]:\n"
                          " e=p[\"error\"] or {\"kind\":-1,\"page\":0}\n"
                          " print(p.get(\"page\",0),e[\"kind\"],e[\"page\"])' '" +
                          json.string() + "'")
                             .c_str(),
                         "r");
    std::vector<Outcome> outcomes;
    for (Outcome o; std::fscanf(pipe, "%d %d %d", &o[0], &o[1], &o[2]) == 3;) {
        outcomes.push_back(o);
    }
    EXPECT_EQ(::pclose(pipe), 0) << "the JSON holds no result";
    return outcomes.empty() ? std::vector<Outcome>{{0, -1, 0}} : outcomes;
}

// Every run leaves only JPEG files that decode without a warning (djpeg exits
// with 2 on one): what it writes takes its name only when complete.
void expect_only_whole_jpegs(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_EQ(entry.path().extension(), ".jpg") << entry.path();
        const std::string decode = "djpeg -outfile /dev/null '" + entry.path().string() + "'";
        EXPECT_EQ(std::system(decode.c_str()), 0) << entry.path();
    }
}

struct Case {
    std::string name;
    std::string pdf;
    std::set<ErrorKind> kinds;  // the kinds its failures may have
    int written = 0;            // pages that must be written all the same
};

TEST(HostileInput, EndsInTimeUnderTheCapAndNamesEveryFailure) {
    using K = ErrorKind;
    // Runaway work ends by the time limit or the memory cap; endless recursion may
    // also end as a crash of the helper, out of stack.
    const std::set<K> runaway = {K::TimedOut, K::OutOfMemory};
    const std::set<K> damaged = {K::DamagedPdf, K::RenderFailed};
    const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
    const std::string big = "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Width ";
    const std::string jbig2 =
        "/Width 2000 /Height 2000 /ColorSpace /DeviceGray /BitsPerComponent "
        "1 /Filter /JBIG2Decode ";
    const std::string jpx =
        "/Width 2000 /Height 2000 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
        "/Filter /JPXDecode";
    const auto sized = [](double size, std::optional<int> count = {}) {
        return hostile([=](PdfWriter&) { return page_of_size(size, size); }, count);
    };
    PdfPage loop;
    loop.raw_dictionary = "<< /Type /Pages /Parent @PARENT@ /Kids [@PARENT@] /Count 1 >>";
    PdfWriter looped;
    looped.add_page(page_of_size(612, 792));
    looped.add_page(loop);
    // clang-format off
    const Case cases[] = {
        {"truncated at 20%", truncated(20), damaged},
        {"truncated at 50%", truncated(50), damaged},
        {"truncated at 80%", truncated(80), damaged},
        {"truncated in the trailer", truncated(99), damaged},
        {"zeroed xref", edited("\\d{10} (\\d{5} [nf])", "0000000000 $1"), damaged},
        {"damaged xref", edited("\\d{10} \\d{5} n", "7777777777 77777 n"), damaged},
        {"missing xref", edited("xref\n[\\s\\S]*(?=trailer)", ""), damaged},
        {"missing trailer", edited("trailer\n[\\s\\S]*(?=startxref)", ""), damaged},
        {"/Length past the end", edited("/Length \\d+", "/Length 999999999"), damaged},
        {"/Length too short", edited("/Length \\d+", "/Length 3"), damaged},
        // A count above the page limit, and ones within it that name pages that
        // are not there.
        {"/Count of a million", sized(612, 1'000'000), {K::LimitExceeded}},
        {"/Count of 20", sized(612, 20), damaged},
        {"/Count negative", sized(612, -7), damaged},
        {"page-tree loop", looped.build(), damaged, 1},
        {"100000 nested arrays in a dictionary",
         hostile([&](PdfWriter&) { return raw_page("/Deep " + deep); }), damaged, 1},
        {"100000 nested arrays in content",
         hostile([&](PdfWriter&) { return page(deep + " pop 0 0 10 10 re f"); }), damaged, 1},
        {"form drawing itself", hostile([](PdfWriter& w) { return drawing({form(w)}); }),
         {K::TimedOut, K::OutOfMemory, K::RenderFailed}, 1},
        {"2^30 fan-out", hostile([](PdfWriter& w) {
             int inner =
                 w.add_stream("/Type /XObject /Subtype /Form /BBox [0 0 10 10]", "0 0 1 1 re f");
             for (int level = 0; level < 30; ++level) inner = form(w, inner);
             return drawing({inner});
         }), runaway, 1},
        {"content bomb", hostile([](PdfWriter& w) {
             return raw_page("/Contents " + PdfWriter::ref(w.add_stream(kBomb, bomb())));
         }), runaway, 1},
        {"font bomb", hostile(font_bomb), runaway, 1},
        // Nearly the largest image PDFium decodes: several times the limit's work.
        {"image bomb", hostile(images(big + "37000 /Height 37000 " + kBomb, {bomb()})), runaway, 1},
        {"100000 x 100000 image", hostile(images(big + "100000 /Height 100000 /Filter /FlateDecode",
                                                 {deflate(std::string(4096, 'x'))})), runaway, 1},
        {"JBIG2 garbage", hostile([&](PdfWriter& w) {
             const std::string globals = PdfWriter::ref(w.add_stream("", garbage(4096, 1)));
             const std::string image = "/Type /XObject /Subtype /Image " + jbig2;
             const std::string parms = "/DecodeParms << /JBIG2Globals " + globals + " >>";
             return drawing({w.add_stream(image, garbage(8192, 2)),
                             w.add_stream(image + parms, garbage(8192, 3))});
         }), damaged, 1},
        // A JP2 signature box or a codestream's first markers lead the decoder
        // further in than noise alone.
        {"JPX garbage", hostile(images(jpx, {garbage(8192, 4),
             "\xFF\x4F\xFF\x51" + garbage(8192, 6),
             std::string("\0\0\0\x0CjP  \r\n\x87\n", 12) + garbage(8192, 5)})), damaged, 1},
        // A page too large to render fails the file before any page is drawn.
        {"MediaBox of 1e30", sized(1e30), {K::LimitExceeded}},
        {"MediaBox of 0", sized(0), damaged},
        {"MediaBox negative", sized(-612), damaged},
    };
    // clang-format on

    const char* keep = std::getenv("BL_HOSTILE_KEEP");
    const TempDir temp;
    const fs::path root = keep != nullptr ? fs::path(keep) : temp.path();
    int number = 0;
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        const fs::path dir = root / std::to_string(++number);
        write_file(dir / "hostile.pdf", item.pdf);
        const auto started = Clock::now();
        const pid_t json = start(dir / "hostile.pdf", dir / "json", {"--json"});
        const pid_t text = start(dir / "hostile.pdf", dir / "text");
        const int statuses[] = {wait_for(json), wait_for(text)};
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        // Of every program the test ran so far, and each helper they started:
        // each reaps every helper it starts.
        rusage usage{};
        ::getrusage(RUSAGE_CHILDREN, &usage);
        const auto peak = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;

        const std::vector<Outcome> outcomes = read_json(dir / "json.out");
        std::set<int> failed;
        int written = 0;
        for (const auto& [page, kind, error_page] : outcomes) {
            if (kind >= 0) {
                EXPECT_EQ(item.kinds.count(static_cast<K>(kind)), 1u) << "kind " << kind;
                // A page's error names its page; the job's names one, or none.
                EXPECT_TRUE(page == 0 || error_page == page) << page;
                failed.insert(error_page);
            }
            written += page > 0 && kind < 0 ? 1 : 0;
        }
        EXPECT_GE(written, item.written);
        // Never a failure reported as success, nor the reverse, in either form.
        const bool failure = outcomes[0][1] >= 0 || !failed.empty();
        EXPECT_EQ(statuses[0], failure ? 1 : 0);
        EXPECT_EQ(statuses[1], failure ? 1 : 0);
        failed.erase(0);
        // Each page that ran into a limit had it and its grace; the rest take
        // moments.
        const auto limited = static_cast<double>(std::max<std::size_t>(failed.size(), 1));
        EXPECT_LT(seconds, limited * (kPageLimitMs / 1000.0 + kGraceSeconds) + 2.0);
        EXPECT_LT(peak, ConvertLimits{}.max_helper_memory_bytes);
        expect_only_whole_jpegs(dir / "json");
        expect_only_whole_jpegs(dir / "text");
        const std::string err = read_file(dir / "text.err");
        for (const int page : failed) {
            const std::string named =
                (dir / "hostile.pdf").string() + ": Page " + std::to_string(page) + ": ";
            EXPECT_NE(err.find(named), std::string::npos) << named << " is not in:\n" << err;
        }
    }

    // Ctrl+C while a page runs away, after the page before it was written.
    PdfWriter writer;
    writer.add_page(page_of_size(612, 792));
    writer.add_page(drawing({form(writer)}));
    writer.write(root / "interrupted.pdf");
    const pid_t pid = start(root / "interrupted.pdf", root / "interrupted");
    for (int wait = 0; wait < 2000 && fs::is_empty(root / "interrupted"); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto interrupted = Clock::now();
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    EXPECT_EQ(wait_for(pid), 130);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - interrupted).count(),
              kGraceSeconds + 0.75);
    EXPECT_NE(read_file(root / "interrupted.err").find("Conversion was cancelled."),
              std::string::npos);
    EXPECT_FALSE(fs::is_empty(root / "interrupted"));
    expect_only_whole_jpegs(root / "interrupted");
}

}  // namespace
}  // namespace bl::test
