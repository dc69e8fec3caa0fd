// Hostile documents through the real brightleaf-convert with a 2 s page limit,
// once with --json and once with text at the same time: every run exits on its
// own within its limits, under the helper's memory cap, with the right kind of
// failure, leaves no temporary file, writes only images that decode, and names
// the file and the page of every failed page. Normal build only: sanitizer
// builds give their helpers no memory limit.
//
// BL_HOSTILE_KEEP=DIR keeps the corpus, and what each run left, in DIR.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// After <cstdio>, which it needs.
#include <jpeglib.h>

#include "bl/convert_types.h"
#include "tests/support/pdf_writer.h"

namespace bl::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPageLimitMs = 2000;
// What the engine allows a page past its limit before it ends the helper.
constexpr int kGraceMs = 1000;
constexpr std::uint64_t kMiB = 1 << 20;

// ---- The corpus ----

std::string deflate(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), 9);
    out.resize(size);
    return out;
}

// A zlib stream of `mebibytes` MiB of zeros: one deflated MiB repeated, so that
// it takes milliseconds to make whatever it unpacks to.
std::string deflated_zeros(std::uint64_t mebibytes) {
    std::string zeros(kMiB, '\0');
    std::string block(kMiB, '\0');
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    stream.next_in = reinterpret_cast<Bytef*>(zeros.data());
    stream.avail_in = static_cast<uInt>(zeros.size());
    stream.next_out = reinterpret_cast<Bytef*>(block.data());
    stream.avail_out = static_cast<uInt>(block.size());
    // A full flush ends on a byte boundary with no reference to earlier data, so
    // that copies of the block can follow one another.
    deflate(&stream, Z_FULL_FLUSH);
    block.resize(block.size() - stream.avail_out);
    deflateEnd(&stream);
    std::string out = "\x78\xDA";
    for (std::uint64_t i = 0; i < mebibytes; ++i) {
        out += block;
    }
    out += std::string("\x01\x00\x00\xFF\xFF", 5);  // an empty last block
    // Adler-32 of zeros: the first sum stays 1, the second counts the bytes.
    const std::uint64_t adler = (mebibytes * kMiB) % 65521 << 16 | 1;
    for (const int shift : {24, 16, 8, 0}) {
        out.push_back(static_cast<char>(adler >> shift & 0xFF));
    }
    return out;
}

// Stream entries and data: a few kilobytes that unpack to 4 GiB of zeros.
const std::string kBombFilters = "/Filter [/FlateDecode /FlateDecode]";
const std::string& bomb() {
    static const std::string data = deflate(deflated_zeros(4096));
    return data;
}

// Bytes that no decoder expects, the same on every run.
std::string garbage(std::size_t size, std::uint32_t seed) {
    std::string out(size, '\0');
    for (char& byte : out) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return out;
}

// A hostile page, made with objects it adds to the writer, and a plain page after
// it, which a failure of the hostile page alone must not take down.
template <class F>
std::string before_a_plain_page(F make_page) {
    PdfWriter writer;
    writer.add_page(make_page(writer));
    PdfPage plain = page_of_size(612, 792);
    plain.content = "BT /F1 24 Tf 72 700 Td (Plain) Tj ET";
    writer.add_page(plain);
    return writer.build();
}

// A page that draws each XObject (a name and an object number) over its whole area.
PdfPage drawing(const std::vector<std::pair<std::string, int>>& xobjects) {
    PdfPage page = page_of_size(612, 792);
    page.extra_resources = "/XObject << ";
    for (const auto& [name, object] : xobjects) {
        page.extra_resources += "/" + name + " " + PdfWriter::ref(object) + " ";
        page.content += "q 612 0 0 792 0 0 cm /" + name + " Do Q ";
    }
    page.extra_resources += ">>";
    return page;
}

const std::string kForm = "/Type /XObject /Subtype /Form /BBox [0 0 10 10]";

PdfPage self_drawing_form(PdfWriter& writer) {
    const int self = writer.add_object("null") + 1;  // the next object's number
    writer.add_stream(kForm + " /Resources << /XObject << /X " + PdfWriter::ref(self) + " >> >>",
                      "/X Do /X Do");
    return drawing({{"X", self}});
}

PdfPage fan_out(PdfWriter& writer) {
    int inner = writer.add_stream(kForm, "0 0 1 1 re f");
    for (int level = 0; level < 30; ++level) {
        inner = writer.add_stream(
            kForm + " /Resources << /XObject << /X " + PdfWriter::ref(inner) + " >> >>",
            "/X Do /X Do");
    }
    return drawing({{"X", inner}});
}

// A page whose dictionary holds `entries` beside the ones every page has.
PdfPage raw_page(const std::string& entries) {
    PdfPage page;
    page.raw_dictionary =
        "<< /Type /Page /Parent @PARENT@ /MediaBox [0 0 612 792] " + entries + " >>";
    return page;
}

PdfPage content_bomb(PdfWriter& writer) {
    return raw_page("/Contents " + PdfWriter::ref(writer.add_stream(kBombFilters, bomb())));
}

PdfPage font_bomb(PdfWriter& writer) {
    const int file = writer.add_stream(kBombFilters, bomb());
    const int descriptor = writer.add_object(
        "<< /Type /FontDescriptor /FontName /Bomb /Flags 32 /FontBBox [0 0 1000 1000] "
        "/ItalicAngle 0 /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 /FontFile2 " +
        PdfWriter::ref(file) + " >>");
    const int font =
        writer.add_object("<< /Type /Font /Subtype /TrueType /BaseFont /Bomb /FontDescriptor " +
                          PdfWriter::ref(descriptor) + " >>");
    PdfPage page = page_of_size(612, 792);
    page.extra_resources = "/Font << /B " + PdfWriter::ref(font) + " >>";
    page.content = "BT /B 24 Tf 72 700 Td (Hostile) Tj ET";
    return page;
}

// A page that draws images of `size` pixels with the filter entries and data given.
auto images(const std::string& size, const std::string& colour,
            const std::vector<std::pair<std::string, std::string>>& filters_and_data) {
    return [=](PdfWriter& writer) {
        std::vector<std::pair<std::string, int>> xobjects;
        for (const auto& [filters, data] : filters_and_data) {
            xobjects.emplace_back(
                "I" + std::to_string(xobjects.size()),
                writer.add_stream(
                    "/Type /XObject /Subtype /Image " + size + " " + colour + " " + filters, data));
        }
        return drawing(xobjects);
    };
}

std::string nested_arrays(int depth) {
    return std::string(static_cast<std::size_t>(depth), '[') +
           std::string(static_cast<std::size_t>(depth), ']');
}

std::string page_tree_loop() {
    PdfWriter writer;
    writer.add_page(page_of_size(612, 792));
    PdfPage loop;
    loop.raw_dictionary = "<< /Type /Pages /Parent @PARENT@ /Kids [@PARENT@] /Count 1 >>";
    writer.add_page(loop);
    return writer.build();
}

std::string lying_count(int count) {
    PdfWriter writer;
    writer.add_page(page_of_size(612, 792));
    writer.add_page(page_of_size(612, 792));
    writer.set_page_count_override(count);
    return writer.build();
}

// The three-page test document, changed by `mutate`.
template <class F>
std::string mutated(F mutate) {
    std::string pdf = simple_pdf(3);
    mutate(pdf);
    return pdf;
}

auto truncate_at(double fraction) {
    return [fraction](std::string& pdf) {
        pdf.resize(static_cast<std::size_t>(static_cast<double>(pdf.size()) * fraction));
    };
}

auto erase_from(const char* from, const char* to) {
    return [from, to](std::string& pdf) {
        const auto start = pdf.rfind(from);
        pdf.erase(start, pdf.find(to, start) - start);
    };
}

// Sets the first stream's /Length.
auto set_length(const char* length) {
    return [length](std::string& pdf) {
        const auto at = pdf.find("/Length ") + 8;
        pdf.replace(at, pdf.find(' ', at) - at, length);
    };
}

// Changes the digits of the cross-reference table after `keep` characters.
auto overwrite_xref(std::size_t keep, char digit) {
    return [keep, digit](std::string& pdf) {
        const auto xref = pdf.rfind("xref\n");
        for (std::size_t i = xref + keep; i < pdf.rfind("trailer"); ++i) {
            if (pdf[i] >= '0' && pdf[i] <= '9') {
                pdf[i] = digit;
            }
        }
    };
}

// ---- Running the converter and reading what it left ----

struct ConverterRun {
    bool json = false;
    fs::path out;  // the output folder, with the program's output beside it
    pid_t pid = -1;
    Clock::time_point start;
    int exit_status = -1;  // -1 when a signal ended it
    int signal = 0;
    double seconds = 0;
    std::uint64_t peak_bytes = 0;  // of the program and each helper it started
};

ConverterRun start(const fs::path& input, const fs::path& out, bool json) {
    ConverterRun run;
    run.json = json;
    run.out = out;
    fs::create_directories(out);
    std::vector<std::string> args = {BL_CONVERT_EXE, "--page-timeout", std::to_string(kPageLimitMs),
                                     "-o",           out.string(),     input.string()};
    if (json) {
        args.insert(args.begin() + 1, "--json");
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const int out_fd =
        ::open((out.string() + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err_fd =
        ::open((out.string() + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    run.start = Clock::now();
    run.pid = ::fork();
    if (run.pid == 0) {
        ::dup2(out_fd, STDOUT_FILENO);
        ::dup2(err_fd, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out_fd);
    ::close(err_fd);
    return run;
}

// Waits for every run, each timed to its own end.
void wait_for(std::vector<ConverterRun>& runs) {
    for (std::size_t left = runs.size(); left > 0; --left) {
        int status = 0;
        rusage usage{};
        pid_t pid = 0;
        // The usage covers the program and each descendant it reaped: it reaps
        // every helper it starts.
        while ((pid = ::wait4(-1, &status, 0, &usage)) < 0 && errno == EINTR) {
        }
        for (ConverterRun& run : runs) {
            if (run.pid == pid) {
                run.seconds = std::chrono::duration<double>(Clock::now() - run.start).count();
                run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
                run.peak_bytes = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
            }
        }
    }
}

// What the JSON says of the job: its error, and each page's outcome.
struct Reported {
    int job_kind = -1;  // -1: none
    std::uint32_t job_page = 0;
    struct Page {
        std::uint32_t page = 0;
        int kind = -1;
        std::uint32_t error_page = 0;
    };
    std::vector<Page> pages;
};

Reported read_json(const fs::path& json) {
    const std::string command =
        "python3 -c '"
        "import json,sys\n"
        "r=json.load(open(sys.argv[1]))[\"result\"]\n"
        "k=lambda e:(e[\"kind\"],e[\"page\"]) if e else (-1,0)\n"
        "print(*k(r[\"error\"]))\n"
        "for p in r[\"page_results\"]: print(p[\"page\"],*k(p[\"error\"]))\n"
        "' '" +
        json.string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string text;
    char chunk[4096];
    for (std::size_t got = 0; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        text.append(chunk, got);
    }
    EXPECT_EQ(::pclose(pipe), 0) << "the JSON holds no result";
    std::istringstream lines(text);
    Reported reported;
    lines >> reported.job_kind >> reported.job_page;
    for (Reported::Page page; lines >> page.page >> page.kind >> page.error_page;) {
        reported.pages.push_back(page);
    }
    return reported;
}

// Whether libjpeg decodes the whole file without a warning.
bool decodes(const fs::path& path) {
    const std::string bytes = read_file(path);
    struct Errors {
        jpeg_error_mgr base;
        std::jmp_buf jump;
    } errors{};
    jpeg_decompress_struct info{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = [](j_common_ptr common) {
        std::longjmp(reinterpret_cast<Errors*>(common->err)->jump, 1);
    };
    errors.base.emit_message = [](j_common_ptr, int) {};
    // Between setjmp and longjmp only objects declared before setjmp live.
    std::vector<JSAMPLE> row;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    row.resize(static_cast<std::size_t>(info.output_width) *
               static_cast<std::size_t>(info.output_components));
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows = row.data();
        jpeg_read_scanlines(&info, &rows, 1);
    }
    jpeg_finish_decompress(&info);
    const bool clean = errors.base.num_warnings == 0;
    jpeg_destroy_decompress(&info);
    return clean;
}

struct Case {
    const char* name;
    std::string pdf;
    // The kinds its failures may have.
    std::set<ErrorKind> kinds;
    // Pages that must be written all the same.
    std::uint32_t written = 0;
};

TEST(HostileInput, EndsInTimeUnderTheCapAndNamesEveryFailure) {
    using K = ErrorKind;
    // Runaway work ends by the time limit or the memory cap; endless recursion may
    // also end as a crash of the helper, out of stack.
    const std::set<K> runaway = {K::TimedOut, K::OutOfMemory};
    const std::set<K> recursion = {K::TimedOut, K::OutOfMemory, K::RenderFailed};
    const std::set<K> damaged = {K::DamagedPdf, K::RenderFailed};
    const std::string gray = "/ColorSpace /DeviceGray /BitsPerComponent 8";
    const std::string rgb = "/ColorSpace /DeviceRGB /BitsPerComponent 8";
    const std::string jbig2 = "/Filter /JBIG2Decode";
    const std::string jpx = "/Filter /JPXDecode";
    const Case cases[] = {
        {"truncated at 20%", mutated(truncate_at(0.2)), damaged},
        {"truncated at 50%", mutated(truncate_at(0.5)), damaged},
        {"truncated at 80%", mutated(truncate_at(0.8)), damaged},
        {"truncated in the trailer", mutated(truncate_at(0.99)), damaged},
        {"zeroed xref", mutated(overwrite_xref(5, '0')), damaged},
        {"damaged xref", mutated(overwrite_xref(30, '7')), damaged},
        {"missing xref", mutated(erase_from("xref\n", "trailer")), damaged},
        {"missing trailer", mutated(erase_from("trailer\n", "startxref")), damaged},
        {"/Length past the end", mutated(set_length("999999999")), damaged},
        {"/Length too short", mutated(set_length("3")), damaged},
        // A count above the page limit, and one within it that names pages that
        // are not there.
        {"/Count of a million", lying_count(1'000'000), {K::LimitExceeded}},
        {"/Count of 20", lying_count(20), damaged},
        {"/Count negative", lying_count(-7), damaged},
        {"page-tree loop", page_tree_loop(), damaged, 1},
        {"100000 nested arrays in a dictionary", before_a_plain_page([](PdfWriter&) {
             return raw_page("/Deep " + nested_arrays(100'000));
         }),
         damaged, 1},
        {"100000 nested arrays in content", before_a_plain_page([](PdfWriter&) {
             PdfPage page = page_of_size(612, 792);
             page.content = nested_arrays(100'000) + " pop 0 0 10 10 re f";
             return page;
         }),
         damaged, 1},
        {"form drawing itself", before_a_plain_page(self_drawing_form), recursion, 1},
        {"2^30 fan-out", before_a_plain_page(fan_out), runaway, 1},
        {"content bomb", before_a_plain_page(content_bomb), runaway, 1},
        {"font bomb", before_a_plain_page(font_bomb), runaway, 1},
        // Nearly the largest image PDFium decodes: several times the limit's work.
        {"image bomb",
         before_a_plain_page(images("/Width 37000 /Height 37000", rgb, {{kBombFilters, bomb()}})),
         runaway, 1},
        {"100000 x 100000 image",
         before_a_plain_page(images("/Width 100000 /Height 100000", gray,
                                    {{"/Filter /FlateDecode", deflate(std::string(4096, 'x'))}})),
         runaway, 1},
        {"JBIG2 garbage", before_a_plain_page([&](PdfWriter& writer) {
             const int globals = writer.add_stream("", garbage(4096, 1));
             return images(
                 "/Width 2000 /Height 2000", "/ColorSpace /DeviceGray /BitsPerComponent 1",
                 {{jbig2, garbage(8192, 2)},
                  {jbig2 + " /DecodeParms << /JBIG2Globals " + PdfWriter::ref(globals) + " >>",
                   garbage(8192, 3)}})(writer);
         }),
         damaged, 1},
        // A JP2 signature box or a codestream's first markers lead the decoder
        // further in than noise alone.
        {"JPX garbage",
         before_a_plain_page(
             images("/Width 2000 /Height 2000", rgb,
                    {{jpx, garbage(8192, 4)},
                     {jpx, std::string("\0\0\0\x0CjP  \r\n\x87\n", 12) + garbage(8192, 5)},
                     {jpx, "\xFF\x4F\xFF\x51" + garbage(8192, 6)}})),
         damaged, 1},
        // A page too large to render fails the file before any page is drawn.
        {"MediaBox of 1e30",
         before_a_plain_page([](PdfWriter&) { return page_of_size(1e30, 1e30); }),
         {K::LimitExceeded}},
        {"MediaBox of 0", before_a_plain_page([](PdfWriter&) { return page_of_size(0, 0); }),
         damaged},
        {"MediaBox negative",
         before_a_plain_page([](PdfWriter&) { return page_of_size(-612, -792); }), damaged},
    };

    const char* keep = std::getenv("BL_HOSTILE_KEEP");
    const TempDir temp;
    const fs::path root = keep != nullptr ? fs::path(keep) : temp.path();
    int number = 0;
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        const fs::path dir = root / std::to_string(++number);
        const fs::path input = dir / "hostile.pdf";
        write_file(input, item.pdf);
        std::vector<ConverterRun> runs = {start(input, dir / "json", true),
                                          start(input, dir / "text", false)};
        wait_for(runs);

        const Reported reported = read_json(dir / "json.out");
        std::set<std::uint32_t> failed;
        std::uint32_t written = 0;
        for (const Reported::Page& page : reported.pages) {
            if (page.kind < 0) {
                ++written;
                continue;
            }
            failed.insert(page.page);
            EXPECT_EQ(page.error_page, page.page);
            EXPECT_EQ(item.kinds.count(static_cast<K>(page.kind)), 1u) << "kind " << page.kind;
        }
        if (reported.job_kind >= 0) {
            EXPECT_EQ(item.kinds.count(static_cast<K>(reported.job_kind)), 1u)
                << "kind " << reported.job_kind;
        }
        if (reported.job_page != 0) {
            failed.insert(reported.job_page);
        }
        EXPECT_GE(written, item.written);

        for (const ConverterRun& run : runs) {
            std::printf("%-38s %-4s exit %d %5.2f s %5llu MiB\n", item.name,
                        run.json ? "json" : "text", run.exit_status, run.seconds,
                        static_cast<unsigned long long>(run.peak_bytes / kMiB));
            EXPECT_EQ(run.signal, 0);
            EXPECT_TRUE(run.exit_status == 0 || run.exit_status == 1) << run.exit_status;
            if (run.json) {
                // Never a failure reported as success, nor the reverse.
                EXPECT_EQ(run.exit_status, reported.job_kind < 0 && failed.empty() ? 0 : 1);
            }
            // Each page that ran into a limit had it and its grace; the rest take
            // moments.
            const auto limited = static_cast<double>(std::max<std::size_t>(failed.size(), 1));
            EXPECT_LT(run.seconds, limited * (kPageLimitMs + kGraceMs) / 1000.0 + 2.0);
            EXPECT_LT(run.peak_bytes, ConvertLimits{}.max_helper_memory_bytes);
            for (const auto& entry : fs::directory_iterator(run.out)) {
                EXPECT_EQ(entry.path().extension(), ".jpg") << entry.path();
                EXPECT_TRUE(decodes(entry.path())) << entry.path();
            }
            if (!run.json) {
                const std::string err = read_file(run.out.string() + ".err");
                for (const std::uint32_t page : failed) {
                    const std::string named =
                        input.string() + ": Page " + std::to_string(page) + ": ";
                    EXPECT_NE(err.find(named), std::string::npos) << named << " is not in:\n"
                                                                  << err;
                }
            }
        }
    }
}

}  // namespace
}  // namespace bl::test
