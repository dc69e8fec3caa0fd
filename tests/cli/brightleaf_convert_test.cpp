// Runs the real brightleaf-convert on fixture PDFs, one case of its contract
// each, and checks what it leaves behind: exit status, output, files.

#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/pdf_writer.h"
#include "tests/support/test_files.h"

namespace bl::test {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

// Runs `args` in `dir` with `input` on standard input; returns the exit status,
// with standard output and error left in dir/stdout and dir/stderr.
int run(const std::string& program, const std::vector<std::string>& args, const fs::path& dir,
        const std::string& input) {
    write_file(dir / "stdin", input);
    std::string command = "cd '" + dir.string() + "' && " + program;
    for (const std::string& arg : args) {
        command += " '" + std::regex_replace(arg, std::regex("'"), "'\\''") + "'";
    }
    const int status = std::system((command + " <stdin >stdout 2>stderr").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct Case {
    std::vector<std::string> args;  // run in a folder of the fixtures and an empty "out"
    int status;
    // Parts of standard output and of standard error (none: it stays empty).
    std::vector<std::string> out, err;
    std::set<std::string> files;  // what "out" holds afterwards
    std::string input = {};       // standard input
    // Files in "out" beforehand, holding "mine" (folders end in '/'); they stay
    // as they are unless replaced.
    std::vector<std::string> existing = {};
    // A Python expression over the JSON objects `o` of standard output (one a
    // line), run in the same folder, and what it must print.
    std::string python = {}, printed = {};
};

TEST(ConvertCommand, KeepsItsContract) {
    const TempDir temp;
    const fs::path fixtures = temp / "fixtures";
    write_file(fixtures / "doc.pdf", simple_pdf(3));
    write_file(fixtures / "odd\xff\x01name.pdf", simple_pdf(1));
    PdfWriter mixed("1.5");
    mixed.add_page(page_of_size(595.276, 841.89));
    mixed.add_page(page_of_size(595.276, 841.89));
    mixed.add_page(page_of_size(612, 792));
    mixed.write(fixtures / "mixed.pdf");
    ASSERT_TRUE(qpdf_encrypt(fixtures / "doc.pdf", fixtures / "locked.pdf", "s3cret pass", "owner",
                             256, true));
    write_file(fixtures / "pw.txt", "s3cret pass\n");
    write_file(fixtures / "nul-pw", std::string("pass\0word\n", 10));
    const std::vector<std::string> pages = {"doc_page_0001.jpg", "doc_page_0002.jpg",
                                            "doc_page_0003.jpg"};

    // clang-format off
    const Case cases[] = {
        // Usage errors, one of each sort: status 2, a message, nothing written.
        {{"-o", "out"}, 2, {}, {"PDF is required"}, {}},
        {{"-o", "out", "--dpi", "700", "doc.pdf"}, 2, {}, {"DPI must be between 10 and 600."}, {}},
        {{"-o", "out", "--background", "FFF", "doc.pdf"}, 2, {}, {"\"FFF\" is not a colour"}, {}},
        {{"-o", "doc.pdf/sub", "doc.pdf"}, 2, {},
         {"could not create the output folder \"@DIR@/doc.pdf/sub\": Not a directory"}, {}},
        {{"-o", "out", "--password", "secret", "doc.pdf"}, 2, {}, {"--password"}, {}},
        {{"-o", "out", "--password-file", "nul-pw", "doc.pdf"}, 2, {},
         {"The password cannot contain a NUL character."}, {}},
        {{"-o", "out", "--password-stdin", "doc.pdf"}, 2, {},
         {"standard input is longer than 4096 bytes"}, {}, std::string(4097, 'p') + "\n"},
        // Only the first line counts, without its line end; 4096 bytes is the longest.
        {{"--info", "--password-stdin", "doc.pdf"}, 0, {"Pages: 3"}, {}, {},
         std::string(4096, 'p') + "\r\nmore"},
        {{"--help"}, 0, {"--password-stdin", "Exit status"}, {}, {}},
        {{"--version"}, 0,
         {"brightleaf-convert ", "PDFium ", "libjpeg-turbo ", "\nSandbox: seccomp"}, {}, {}},
        // Standard error is no terminal here: no progress line, nothing else either.
        {{"doc.pdf", "-r", "72"}, 0, {"doc.pdf: 3 of 3 pages written to @DIR@.\n"}, {}, {}, {},
         {}, "len(glob.glob('doc_page_000?.jpg'))", "3"},
        // A missing output folder is made, with its parents.
        {{"-o", "./out/new/../sub/", "-p", "2", "doc.pdf"}, 0, {"Created the output folder "
          "@DIR@/out/new/../sub.\n", "1 of 1 page written to @DIR@/out/new/../sub.\n"}, {},
         {"new", "sub"}, {}, {}, "glob.glob('out/sub/*')", "['out/sub/doc_page_0002.jpg']"},
        {{"-o", "out", "-p", "3, 1", "-n", "{original}-{page_number}-{page_count}-{dpi}", "-r",
          "100", "-q", "75", "--jobs", "3", "--background", "#1a2B3c", "doc.pdf"}, 0,
         {"2 of 2 pages written to @DIR@/out."}, {}, {"doc-1-3-100.jpg", "doc-3-3-100.jpg"}},
        // Checked against the file's own page count, not taken for a usage error.
        {{"-o", "out", "-p", "2-999999999", "doc.pdf"}, 1, {},
         {"doc.pdf: Page 999999999 does not exist; the document has 3 pages."}, {}},
        // A failed write ends the job.
        {{"-o", "out", "-e", "replace", "doc.pdf"}, 1,
         {"doc.pdf: 1 of 3 pages written to @DIR@/out; 1 failed; 1 not attempted."},
         {"doc.pdf: Page 2: "}, {"doc_page_0001.jpg", "doc_page_0002.jpg"}, {},
         {"doc_page_0002.jpg/"}},
        {{"-o", "out", "doc.pdf"}, 1, {},
         {"doc.pdf: \"doc_page_0002.jpg\" already exists", "--existing keep-both"},
         {"doc_page_0002.jpg"}, {}, {"doc_page_0002.jpg"}},
        {{"-o", "out", "-e", "replace", "-p", "2", "doc.pdf"}, 0, {}, {}, {"doc_page_0002.jpg"}, {},
         {"doc_page_0002.jpg"}},
        // The archive holds the pages under the names they were written with.
        {{"-o", "out", "-e", "keep-both", "--zip", "doc.pdf"}, 0,
         {"doc.pdf: ZIP archive @DIR@/out/doc.zip"}, {}, {"doc.zip", "doc_page_0001.jpg",
         "doc_page_0002 (2).jpg", "doc_page_0002.jpg", "doc_page_0003.jpg"}, {},
         {"doc_page_0002.jpg"},
         "zipfile.ZipFile('out/doc.zip').namelist()",
         "['doc_page_0001.jpg', 'doc_page_0002 (2).jpg', 'doc_page_0003.jpg']"},
        // Under "ask" a taken archive name can no longer be asked about once the
        // pages are written: the archive gets a number.
        {{"-o", "out", "--zip", "doc.pdf"}, 0, {}, {},
         {"doc (2).zip", "doc.zip", pages[0], pages[1], pages[2]}, {}, {"doc.zip"},
         "len(zipfile.ZipFile('out/doc (2).zip').namelist())", "3"},
        // Skip makes only what is missing; the archive holds the page that was there,
        // and since pages were written, takes a number beside the old one.
        {{"-o", "out", "-e", "skip", "--zip", "doc.pdf"}, 0, {"doc.pdf: 2 of 3 pages written to "
          "@DIR@/out; 1 skipped.\n", "doc.pdf: ZIP archive @DIR@/out/doc (2).zip ("}, {},
         {"doc (2).zip", "doc.zip", pages[0], pages[1], pages[2]}, {}, {pages[1], "doc.zip"},
         "zipfile.ZipFile('out/doc (2).zip').read('doc_page_0002.jpg')", "b'mine'"},
        {{"-o", "out", "-e", "skip", "--zip", "doc.pdf"}, 0, {"0 of 3 pages written to @DIR@/out; "
          "3 skipped.\n", "doc.zip skipped, since it exists.\n"}, {}, {"doc.zip", pages[0],
          pages[1], pages[2]}, {}, {"doc.zip", pages[0], pages[1], pages[2]}},
        {{"--json", "-o", "out", "-e", "skip", "--debug-log", "debug.log", "doc.pdf"}, 0, {}, {},
         {pages.begin(), pages.end()}, {}, {pages[0], pages[2]}, "[p['skipped'] for p in "
         "o[0]['result']['page_results']], o[0]['result']['pages_skipped'], "
         "o[0]['result']['diagnostics'], len(open('debug.log').read())", "[True, False, True] 2 [] 0"},
        // A dry run writes nothing, makes no folder, and fails as the run would.
        {{"--dry-run", "-o", "new/out", "-p", "1, 3", "doc.pdf"}, 0, {"Would create the output "
          "folder @DIR@/new/out.\n", "doc.pdf: would write 2 images, about ", "kB, to "
          "@DIR@/new/out:\n  doc_page_0001.jpg  1275 x 1650 px\n  doc_page_0003.jpg  1275 x "
          "1650 px\n"}, {}, {}, {}, {}, "os.path.exists('new')", "False"},
        {{"--dry-run", "--json", "-o", "out", "-e", "skip", "doc.pdf"}, 0, {}, {}, {pages[1]}, {},
         {pages[1]}, "[f['name'] for f in o[0]['files']], o[0]['pages_skipped'], "
         "o[0]['sampled_pages'], o[0]['estimated_bytes'] > 10000", "['doc_page_0001.jpg', "
         "'doc_page_0003.jpg'] 1 2 True"},
        {{"--dry-run", "-o", "out", "doc.pdf"}, 1, {}, {"\"doc_page_0002.jpg\" already exists"},
         {pages[1]}, {}, {pages[1]}},
        {{"-o", "out", "--debug-log", "no/log", "doc.pdf"}, 2, {},
         {"could not open the debug log \"no/log\": No such file or directory"}, {}},
        {{"--info", "-o", "out", "doc.pdf", "mixed.pdf"}, 0,
         {"doc.pdf:\n", "  Pages: 3\n  PDF version: 1.7\n  Encryption: none\n", "mixed.pdf:\n",
          "  Page size: 612 x 792 pt (215.9 x 279.4 mm)\n", "    pages 1-2: 595.28 x 841.89 pt "
          "(210 x 297 mm)\n    page 3: 612 x 792 pt (215.9 x 279.4 mm)"}, {}, {}},
        {{"--info", "--json", "doc.pdf", "mixed.pdf"}, 0, {}, {}, {}, {}, {},
         "len(o), o[0]['file'], o[0]['document']['page_count'], "
         "o[1]['document']['pdf_version_text'], o[1]['document']['page_sizes'][2], o[1]['error']",
         "2 doc.pdf 3 1.5 {'width': 612, 'height': 792} None"},
        {{"--json", "-o", "out", "--zip", "doc.pdf", "gone.pdf"}, 1, {}, {},
         {"doc.zip", pages[0], pages[1], pages[2]}, {}, {},
         "len(o), [p['page'] for p in o[0]['result']['page_results']], o[0]['zip']['created'], "
         "o[0]['result']['page_results'][0]['width_px'], o[1]['result']['error']['message'], "
         "o[1]['zip']['attempted'], o[1]['result']['document'], 'encrypted' in o[1]['result'], "
         "o[1]['output_folder_created']",
         "2 [1, 2, 3] True 1275 The input file does not exist. False None False False"},
        // JSON stays valid for names that are not UTF-8.
        {{"--json", "-o", "out/new", "-n", "page{page_number}", "odd\xff\x01name.pdf"}, 0, {}, {},
         {"new"}, {}, {}, "o[0]['file'], o[0]['result']['pages_written'], "
         "o[0]['output_folder_created'], glob.glob('out/new/*')",
         "odd\xef\xbf\xbd\x01name.pdf 1 True ['out/new/page1.jpg']"},
        {{"-o", "out", "locked.pdf"}, 1, {}, {"locked.pdf: This PDF is password-protected. Enter "
         "its password to convert it.", "--password-stdin"}, {}},
        {{"-o", "out", "--password-stdin", "locked.pdf"}, 1, {},
         {"locked.pdf: The password is incorrect."}, {}, "wrong\n"},
        // The JSON states only what is known of a file that did not open.
        {{"--json", "--info", "--password-stdin", "locked.pdf"}, 1, {}, {}, {}, "wrong\n", {},
         "o[0]['document'], o[0]['encrypted']", "None True"},
        {{"-o", "out", "--password-stdin", "locked.pdf"}, 0, {}, {},
         {"locked_page_0001.jpg", "locked_page_0002.jpg", "locked_page_0003.jpg"},
         "s3cret pass\r\nnot this\n"},
        {{"--info", "--password-file", "pw.txt", "locked.pdf"}, 0,
         {"Encryption: yes, security handler revision 6"}, {}, {}},
        // A failure names the file; the other files are converted.
        {{"-o", "out", "missing.pdf", "doc.pdf"}, 1, {"1 failed. 3 images saved."},
         {"missing.pdf: The input file does not exist.\n"}, {pages.begin(), pages.end()}},
    };
    // clang-format on

    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const fs::path dir = temp / std::to_string(++number);
        fs::copy(fixtures, dir);
        fs::create_directory(dir / "out");
        for (const std::string& name : c.existing) {
            name.ends_with('/') ? void(fs::create_directory(dir / "out" / name))
                                : write_file(dir / "out" / name, "mine");
        }
        EXPECT_EQ(run(BL_CONVERT_EXE, c.args, dir, c.input), c.status);
        const std::string out = read_file(dir / "stdout");
        const std::string err = read_file(dir / "stderr");
        for (const auto& [text, parts] : {std::pair(out, c.out), std::pair(err, c.err)}) {
            for (const std::string& part : parts) {
                EXPECT_THAT(text, HasSubstr(std::regex_replace(part, std::regex("@DIR@"),
                                                               fs::absolute(dir).string())));
            }
        }
        EXPECT_TRUE(!c.err.empty() || err.empty()) << err;
        EXPECT_TRUE(c.status != 2 || out.empty()) << out;
        EXPECT_FALSE(std::regex_search(err, std::regex("Page \\d+: Page"))) << err;
        EXPECT_EQ(names_in(dir / "out"), c.files);
        // What was there stays unless replaced; what is new is a whole JPEG.
        for (const std::string& name : c.files) {
            if (fs::is_regular_file(dir / "out" / name)) {
                const std::string bytes = read_file(dir / "out" / name);
                const bool kept = std::ranges::count(c.existing, name) > 0 &&
                                  std::ranges::count(c.args, "replace") == 0;
                EXPECT_TRUE(kept ? bytes == "mine"
                                 : !name.ends_with(".jpg") || (bytes.starts_with("\xFF\xD8\xFF") &&
                                                               bytes.ends_with("\xFF\xD9")))
                    << name;
            }
        }
        if (!c.python.empty()) {
            const std::string check =
                "import glob,json,os,sys,zipfile\n"
                "o=[json.loads(l) for l in sys.stdin.buffer if l[:1] == b'{']\nprint(" +
                c.python + ")";
            ASSERT_EQ(run("python3", {"-c", check}, dir, out), 0) << read_file(dir / "stderr");
            EXPECT_EQ(read_file(dir / "stdout"), c.printed + "\n");
        }
    }
}

}  // namespace
}  // namespace bl::test
