// Hostile documents through the real brightleaf-convert with a 2 s page limit,
// once with --json and once with text at the same time: every run exits on its
// own within its limits, under the helper's memory cap, with the right kind of
// failure, leaves no temporary file, writes only images that decode, and names
// the file and the page of every failed page. Ctrl+C on a runaway page ends the
// run within the grace the engine allows; a helper that crashes there is named
// in the debug log. Normal build only: sanitizer builds give their helpers no
// memory limit.
//
// BL_HOSTILE_KEEP=DIR keeps the corpus, and what each run left, in DIR.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bl/convert_types.h"
#include "tests/support/pdf_writer.h"

// Pages are made with designated initializers, which leave the other members
// to their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace bl::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::HasSubstr;

constexpr int kPageLimitMs = 2000;
// What the engine allows a page past its limit, or after a cancel, before it
// ends the helper.
constexpr double kGraceSeconds = 1.0;

// ---- The corpus ----

// What a Python program prints, with json, sys and zlib imported.
std::string python(const std::string& program) {
    const TempDir temp;
    write_file(temp / "p.py", "import json,sys,zlib\n" + program);
    const std::string run = "python3 " + (temp / "p.py").string() + " >" + (temp / "out").string();
    EXPECT_EQ(std::system(run.c_str()), 0);
    return read_file(temp / "out");
}

// The filters of the bombs below.
const std::string kBomb = "/Filter [/FlateDecode /FlateDecode]";

// Two pages under a page tree that claims `count`: `first`, made with objects it
// adds to the writer, then a plain page, which a failure of the first alone must
// not take down.
template <class F>
std::string hostile(F first, int count = 2) {
    PdfWriter writer;
    writer.add_page(first(writer));
    writer.add_page(page_of_size(612, 792));
    writer.set_page_count_override(count);
    return writer.build();
}

PdfPage raw_page(const std::string& entries) {
    return {.raw_dictionary =
                "<< /Type /Page /Parent @PARENT@ /MediaBox [0 0 612 792] " + entries + " >>"};
}

// A page that draws XObjects over its whole area: the given ones, then a new
// image for each dictionary and data given.
PdfPage drawing(PdfWriter& w, std::vector<int> xobjects,
                const std::vector<std::pair<std::string, std::string>>& images = {}) {
    for (const auto& [entries, data] : images) {
        xobjects.push_back(w.add_stream("/Type /XObject /Subtype /Image " + entries, data));
    }
    PdfPage page;
    for (const int x : xobjects) {
        page.extra_resources += "/X" + std::to_string(x) + " " + PdfWriter::ref(x) + " ";
        page.content += "q 612 0 0 792 0 0 cm /X" + std::to_string(x) + " Do Q ";
    }
    page.extra_resources = "/XObject << " + page.extra_resources + ">>";
    return page;
}

// A form that draws `inner` twice, or the form itself when `inner` is 0.
int form(PdfWriter& writer, int inner = 0) {
    const std::string drawn = PdfWriter::ref(inner != 0 ? inner : writer.add_object("null") + 1);
    return writer.add_stream("/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Resources << " +
                                 ("/XObject << /X0 " + drawn + " >> >>"),
                             "/X0 Do /X0 Do");
}

PdfPage font_bomb(PdfWriter& w, const std::string& bomb) {
    const int font = w.add_object(
        "<< /Type /Font /Subtype /TrueType /BaseFont /Bomb /FontDescriptor << /Type "
        "/FontDescriptor /FontName /Bomb /Flags 32 /FontBBox [0 0 1000 1000] /FontFile2 " +
        PdfWriter::ref(w.add_stream(kBomb, bomb)) + " >> >>");
    return {.content = "BT /B 24 Tf 72 700 Td (Hostile) Tj ET",
            .extra_resources = "/Font << /B " + PdfWriter::ref(font) + " >>"};
}

// ---- Running the converter and reading what it left ----

// Starts the converter on `input`, writing into `out`; its output streams go
// to `out`.out and `out`.err beside it.
pid_t start(const fs::path& input, const fs::path& out, const char* option = nullptr) {
    fs::create_directories(out);
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const int fd : {1, 2}) {
            const std::string path = out.string() + (fd == 1 ? ".out" : ".err");
            ::dup2(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), fd);
        }
        ::execl(BL_CONVERT_EXE, BL_CONVERT_EXE, "--page-timeout",
                std::to_string(kPageLimitMs).c_str(), "-o", out.c_str(), input.c_str(), option,
                nullptr);
        ::_exit(127);
    }
    return pid;
}

// The exit status, or 128 + the signal that ended the program.
int wait_for(pid_t pid) {
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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

// A name, the document, the kinds its failures may have, and how many pages
// must be written all the same.
using Case = std::tuple<std::string, std::string, std::set<ErrorKind>, int>;

TEST(HostileInput, EndsInTimeUnderTheCapAndNamesEveryFailure) {
    using K = ErrorKind;
    // Runaway work ends by the time limit or the memory cap.
    const std::set<K> runaway = {K::TimedOut, K::OutOfMemory};
    const std::set<K> damaged = {K::DamagedPdf, K::RenderFailed};
    const std::string doc = simple_pdf(3);
    // Stream data of a few kilobytes that unpacks, through two filters, to 4 GiB of
    // zeros: the inner zlib stream is one deflated MiB repeated, made in moments. A
    // full flush ends the MiB on a byte boundary with no reference to earlier data,
    // so that copies of it can follow one another; then come an empty last block and
    // the Adler-32 of 4 GiB of zeros (the first sum stays 1, the second counts).
    const std::string bomb = python(
        "c=zlib.compressobj(9,zlib.DEFLATED,-15)\n"
        "block=c.compress(bytes(1<<20))+c.flush(zlib.Z_FULL_FLUSH)\n"
        "adler=((4096<<20)%65521)<<16|1\n"
        "inner=b'\\x78\\xda'+block*4096+b'\\x01\\x00\\x00\\xff\\xff'+adler.to_bytes(4,'big')\n"
        "sys.stdout.buffer.write(zlib.compress(inner,9))");
    // Bytes that no decoder expects, the same on every run.
    std::string noise(1 << 16, '\0');
    std::generate(noise.begin(), noise.end(), std::minstd_rand(7));
    const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
    const std::string big = "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Width ";
    const std::string jbig2 =
        "/Width 2000 /Height 2000 /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter "
        "/JBIG2Decode ";
    const std::string jpx =
        "/Width 2000 /Height 2000 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /JPXDecode";
    const auto edited = [&](const char* pattern, const char* replacement) {
        return std::regex_replace(doc, std::regex(pattern), replacement);
    };
    const auto sized = [](double size, int count = 2) {
        return hostile([=](PdfWriter&) { return page_of_size(size, size); }, count);
    };
    // clang-format off
    const Case cases[] = {
        {"truncated halfway", doc.substr(0, doc.size() / 2), damaged, 0},
        {"truncated near the start", doc.substr(0, 40), damaged, 0},
        {"truncated in the trailer", doc.substr(0, doc.size() * 99 / 100), damaged, 0},
        {"damaged xref", edited("\\d{10} \\d{5} n", "7777777777 77777 n"), damaged, 0},
        {"zeroed xref", edited("\\d{10} (\\d{5} [nf])", "0000000000 $1"), damaged, 0},
        {"missing xref", edited("xref\n[\\s\\S]*(?=trailer)", ""), damaged, 0},
        {"missing trailer", edited("trailer\n[\\s\\S]*(?=startxref)", ""), damaged, 0},
        {"/Length past the end", edited("/Length \\d+", "/Length 999999999"), damaged, 0},
        // A count above the page limit, and one within it that names pages that
        // are not there.
        {"/Count of a million", sized(612, 1'000'000), {K::LimitExceeded}, 0},
        {"/Count of 20", sized(612, 20), damaged, 0},
        {"page-tree loop", hostile([](PdfWriter& w) {  // after a plain page
             w.add_page(page_of_size(612, 792));
             return PdfPage{.raw_dictionary =
                 "<< /Type /Pages /Parent @PARENT@ /Kids [@PARENT@] /Count 1 >>"};
         }, 3), damaged, 1},
        {"100000 nested arrays in a dictionary",
         hostile([&](PdfWriter&) { return raw_page("/Deep " + deep); }), damaged, 1},
        {"100000 nested arrays in content", hostile([&](PdfWriter&) {
             return PdfPage{.content = deep + " pop 0 0 10 10 re f"}; }), damaged, 1},
        // Endless recursion may also end as a crash of the helper, out of stack.
        {"form drawing itself", hostile([](PdfWriter& w) { return drawing(w, {form(w)}); }),
         {K::TimedOut, K::OutOfMemory, K::RenderFailed}, 1},
        {"2^30 fan-out", hostile([](PdfWriter& w) {
             int inner = w.add_stream("/Subtype /Form /BBox [0 0 10 10]", "0 0 1 1 re f");
             for (int level = 0; level < 30; ++level) inner = form(w, inner);
             return drawing(w, {inner});
         }), runaway, 1},
        {"content bomb", hostile([&](PdfWriter& w) {
             return raw_page("/Contents " + PdfWriter::ref(w.add_stream(kBomb, bomb)));
         }), runaway, 1},
        {"font bomb", hostile([&](PdfWriter& w) { return font_bomb(w, bomb); }), runaway, 1},
        // Nearly the largest image PDFium decodes: several times the limit's work.
        {"image bomb", hostile([&](PdfWriter& w) {
             return drawing(w, {}, {{big + "37000 /Height 37000 " + kBomb, bomb}});
         }), runaway, 1},
        {"100000 x 100000 image", hostile([&](PdfWriter& w) {
             return drawing(w, {}, {{big + "100000 /Height 100000 /Filter /FlateDecode",
                                     python("sys.stdout.buffer.write(zlib.compress(b'x'*4096))")}});
         }), runaway, 1},
        {"JBIG2 garbage", hostile([&](PdfWriter& w) {
             const std::string globals = PdfWriter::ref(w.add_stream("", noise.substr(0, 4096)));
             return drawing(w, {}, {{jbig2, noise.substr(4096, 8192)}, {jbig2 +
                 "/DecodeParms << /JBIG2Globals " + globals + " >>", noise.substr(12288, 8192)}});
         }), damaged, 1},
        // A JP2 signature box or a codestream's first markers lead the decoder
        // further in than noise alone.
        {"JPX garbage", hostile([&](PdfWriter& w) {
             return drawing(w, {}, {{jpx, noise.substr(20480, 8192)},
                 {jpx, "\xFF\x4F\xFF\x51" + noise.substr(28672, 8192)},
                 {jpx, std::string("\0\0\0\x0CjP  \r\n\x87\n", 12) + noise.substr(36864, 8192)}});
         }), damaged, 1},
        // A page too large to render fails the file before any page is drawn.
        {"MediaBox of 1e30", sized(1e30), {K::LimitExceeded}, 0},
        {"MediaBox of 0", sized(0), damaged, 0},
        {"MediaBox negative", sized(-612), damaged, 0},
    };
    // clang-format on

    const char* keep = std::getenv("BL_HOSTILE_KEEP");
    const TempDir temp;
    const fs::path root = keep != nullptr ? fs::path(keep) : temp.path();
    int number = 0;
    for (const auto& [name, bytes, kinds, must_write] : cases) {
        SCOPED_TRACE(name);
        const fs::path dir = root / std::to_string(++number);
        const fs::path pdf = dir / "hostile.pdf";
        write_file(pdf, bytes);
        const auto started = Clock::now();
        const pid_t runs[] = {start(pdf, dir / "json", "--json"), start(pdf, dir / "text")};
        const int statuses[] = {wait_for(runs[0]), wait_for(runs[1])};
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        // Of every program the test ran so far, and each helper they started:
        // each reaps every helper it starts.
        rusage usage{};
        ::getrusage(RUSAGE_CHILDREN, &usage);
        EXPECT_LT(usage.ru_maxrss, ConvertLimits{}.max_helper_memory_bytes / 1024);

        // The JSON's result, and each page's, as its page (0 for the job's), the
        // kind of its error and the page that names (-1 and 0 for none).
        std::set<int> failed;
        int written = 0;
        std::istringstream json(python("r=json.load(open('" + (dir / "json.out").string() +
                                       "'))['result']\nfor p in [r]+r['page_results']:\n"
                                       " e=p['error'] or {'kind':-1,'page':0}\n"
                                       " print(p.get('page',0),e['kind'],e['page'])"));
        for (int page, kind, error_page; json >> page >> kind >> error_page;) {
            if (kind >= 0) {
                EXPECT_EQ(kinds.count(static_cast<K>(kind)), 1u) << "kind " << kind;
                // A page's error names its page; the job's names one, or none.
                EXPECT_TRUE(page == 0 || error_page == page) << page;
                failed.insert(error_page);
            }
            written += page > 0 && kind < 0 ? 1 : 0;
        }
        EXPECT_GE(written, must_write);
        // Never a failure reported as success, nor the reverse, in either form.
        EXPECT_EQ(statuses[0], failed.empty() ? 0 : 1);
        EXPECT_EQ(statuses[1], statuses[0]);
        failed.erase(0);
        // Each page that ran into a limit had it and its grace; the rest take
        // moments.
        const auto limited = static_cast<double>(std::max<std::size_t>(failed.size(), 1));
        EXPECT_LT(seconds, limited * (kPageLimitMs / 1000.0 + kGraceSeconds) + 2.0);
        expect_only_whole_jpegs(dir / "json");
        expect_only_whole_jpegs(dir / "text");
        for (const int page : failed) {
            EXPECT_THAT(read_file(dir / "text.err"),
                        HasSubstr(pdf.string() + ": Page " + std::to_string(page) + ": "));
        }
    }

    // Ctrl+C while a page runs away, after the page before it was written.
    PdfWriter writer;
    writer.add_page(page_of_size(612, 792));
    writer.add_page(drawing(writer, {form(writer)}));
    writer.write(root / "interrupted.pdf");
    const pid_t pid = start(root / "interrupted.pdf", root / "interrupted");
    for (int wait = 0; wait < 2000 && fs::is_empty(root / "interrupted"); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto interrupted = Clock::now();
    // Never -1, which would signal every process there is.
    ASSERT_EQ(pid > 0 ? ::kill(pid, SIGINT) : -1, 0);
    EXPECT_EQ(wait_for(pid), 130);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - interrupted).count(),
              kGraceSeconds + 0.75);
    EXPECT_FALSE(fs::is_empty(root / "interrupted"));
    expect_only_whole_jpegs(root / "interrupted");

    // A helper that crashes on that page is named in the debug log, after the file.
    const std::string log = "--debug-log=" + (root / "debug.log").string();
    const pid_t crashing = start(root / "interrupted.pdf", root / "crashed", log.c_str());
    for (int wait = 0; wait < 2000 && fs::is_empty(root / "crashed"); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string task = "/proc/" + std::to_string(crashing) + "/task/";
    std::istringstream helpers(read_file(task + std::to_string(crashing) + "/children"));
    for (pid_t helper = 0; helpers >> helper;) {
        EXPECT_EQ(helper > 1 ? ::kill(helper, SIGSEGV) : -1, 0);
    }
    EXPECT_EQ(wait_for(crashing), 1);
    EXPECT_EQ(read_file(root / "debug.log"),
              (root / "interrupted.pdf").string() + ": Page 2: the render helper crashed\n");
}

}  // namespace
}  // namespace bl::test
