// Runs the real brightleaf-convert on fixture PDFs, one case of its contract
// each, and checks what it leaves behind: exit status, output, files.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "tests/support/pdf_writer.h"

namespace bl::test {
namespace {

namespace fs = std::filesystem;

// Runs `args` in `dir` with `input` on standard input; returns the exit status,
// with standard output and error left in dir/stdout and dir/stderr.
int run(std::vector<std::string> args, const fs::path& dir, const std::string& input) {
    write_file(dir / "stdin", input);
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addchdir_np(&files, dir.c_str());
    posix_spawn_file_actions_addopen(&files, 0, "stdin", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, "stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    int status = -1;
    EXPECT_EQ(::posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&files);
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Case {
    std::vector<std::string> args;  // run in a folder of the fixtures and an empty "out"
    int status;
    std::vector<std::string> out;    // parts of standard output
    std::vector<std::string> err;    // parts of standard error; none: it stays empty
    std::vector<std::string> files;  // what "out" holds afterwards
    std::string input = {};          // standard input
    // Files in "out" beforehand, holding "mine" (folders end in '/'); they stay
    // as they are unless replaced.
    std::vector<std::string> existing = {};
    // A Python expression over the JSON objects `o` of standard output (one a
    // line), run in the same folder, and what it must print.
    std::string python = {};
    std::string printed = {};
};

TEST(ConvertCommand, KeepsItsContract) {
    const TempDir temp;
    const fs::path fixtures = temp / "fixtures";
    write_file(fixtures / "doc.pdf", simple_pdf(3));
    write_file(fixtures / "odd\xff\x01name.pdf", simple_pdf(1));
    PdfWriter mixed("1.5");
    for (const double width : {595.276, 595.276, 612.0}) {
        mixed.add_page(page_of_size(width, width == 612 ? 792 : 841.89));
    }
    mixed.write(fixtures / "mixed.pdf");
    // A page whose dictionary is not a dictionary has no readable size.
    PdfWriter flat;
    flat.add_page(page_of_size(612, 792));
    PdfPage broken;
    broken.raw_dictionary = "(not a page)";
    flat.add_page(broken);
    flat.write(fixtures / "flat.pdf");
    ASSERT_TRUE(qpdf_encrypt(fixtures / "doc.pdf", fixtures / "locked.pdf", "s3cret pass", "owner",
                             256, true));
    write_file(fixtures / "pw.txt", "s3cret pass\n");
    write_file(fixtures / "nul-pw", std::string("pass\0word\n", 10));
    const std::string longest(cli::kMaxPasswordLine, 'p');
    const std::vector<std::string> pages = {"doc_page_0001.jpg", "doc_page_0002.jpg",
                                            "doc_page_0003.jpg"};
    const std::string locked_json =
        "[(r['document'], r['encrypted']) for r in [o[0].get('result', o[0])]]";

    // clang-format off
    const Case cases[] = {
        // Usage errors, one of each sort: status 2, a message, nothing written.
        {{"-o", "out"}, 2, {}, {"PDF is required"}, {}},
        {{"-o", "out", "--dpi", "abc", "doc.pdf"}, 2, {}, {"--dpi"}, {}},
        {{"-o", "out", "--dpi", "700", "doc.pdf"}, 2, {}, {"DPI must be between 10 and 600."}, {}},
        {{"-o", "out", "--existing", "never", "doc.pdf"}, 2, {}, {"--existing"}, {}},
        {{"-o", "out", "--background", "FFF", "doc.pdf"}, 2, {}, {"\"FFF\" is not a colour"}, {}},
        {{"-o", "out", "--jobs", "0", "doc.pdf"}, 2, {}, {"--jobs"}, {}},
        {{"-o", "missing", "doc.pdf"}, 2, {}, {"The output folder does not exist."}, {}},
        {{"-o", "out", "--password-stdin", "--password-file", "pw.txt", "doc.pdf"}, 2, {},
         {"excludes"}, {}},
        {{"-o", "out", "--password", "secret", "doc.pdf"}, 2, {}, {"--password"}, {}},
        {{"-o", "out", "--password-file", "no-such-file", "doc.pdf"}, 2, {},
         {"could not read the password file \"no-such-file\""}, {}},
        {{"-o", "out", "--password-file", "nul-pw", "doc.pdf"}, 2, {},
         {"The password cannot contain a NUL character."}, {}},
        {{"-o", "out", "--password-stdin", "doc.pdf"}, 2, {},
         {"the first line of standard input is longer than 4096 bytes"}, {}, longest + "p\n"},
        // Only the first line counts, without its line end; 4096 bytes is the longest.
        {{"--info", "--password-stdin", "doc.pdf"}, 0, {"Pages: 3"}, {}, {}, longest + "\r\nmore"},
        {{"--help"}, 0, {"--password-stdin", "Exit status"}, {}, {}},
        {{"--version"}, 0,
         {"brightleaf-convert ", "PDFium ", "libjpeg-turbo ", "\nSandbox: seccomp"}, {}, {}},
        // Standard error is no terminal here: no progress line, nothing else either.
        {{"-o", "out", "--background", "#1a2B3c", "doc.pdf"}, 0,
         {"doc.pdf: 3 of 3 pages written to @DIR@/out."}, {}, pages},
        {{"doc.pdf", "-r", "72"}, 0, {"doc.pdf: 3 of 3 pages written to @DIR@"}, {}, {}, {}, {},
         "[open(f'doc_page_000{i}.jpg', 'rb').read(3) for i in (1, 2, 3)]",
         "[b'\\xff\\xd8\\xff', b'\\xff\\xd8\\xff', b'\\xff\\xd8\\xff']"},
        {{"-o", "out", "-p", "3, 1", "-n", "{original}-{page_number}-of-{page_count}-{dpi}",
          "-r", "100", "-q", "75", "--jobs", "3", "doc.pdf"}, 0, {"2 of 2 pages written"}, {},
         {"doc-1-of-3-100.jpg", "doc-3-of-3-100.jpg"}},
        // Checked against the file's own page count, not taken for a usage error.
        {{"-o", "out", "-p", "2-999999999", "doc.pdf"}, 1, {},
         {"doc.pdf: Page 999999999 does not exist; the document has 3 pages."}, {}},
        // A failed write ends the job.
        {{"-o", "out", "-e", "replace", "doc.pdf"}, 1,
         {"doc.pdf: 1 of 3 pages written to @DIR@/out; 1 failed; 1 not attempted."},
         {"doc.pdf: Page 2: "}, {"doc_page_0001.jpg", "doc_page_0002.jpg"}, {},
         {"doc_page_0002.jpg/"}},
        {{"-o", "out", "doc.pdf"}, 1, {},
         {"doc.pdf: \"doc_page_0002.jpg\" already exists in the output folder. Choose another "
          "folder, or allow overwriting or renaming.", "--existing keep-both"},
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
        {{"--info", "-o", "out", "doc.pdf", "mixed.pdf"}, 0,
         {"doc.pdf:\n", "  Pages: 3\n  PDF version: 1.7\n  Encryption: none\n",
          "  Page size: 612 x 792 pt (215.9 x 279.4 mm)\n", "mixed.pdf:\n", "  PDF version: 1.5\n",
          "    pages 1-2: 595.28 x 841.89 pt (210 x 297 mm)\n"
          "    page 3: 612 x 792 pt (215.9 x 279.4 mm)"}, {}, {}},
        {{"--info", "--json", "doc.pdf", "mixed.pdf"}, 0, {}, {}, {}, {}, {},
         "len(o), o[0]['file'], o[0]['document']['page_count'], "
         "o[1]['document']['pdf_version_text'], o[1]['document']['page_sizes'][2], o[1]['error']",
         "2 doc.pdf 3 1.5 {'width': 612, 'height': 792} None"},
        {{"--json", "-o", "out", "--zip", "doc.pdf", "gone.pdf"}, 1, {}, {},
         {"doc.zip", pages[0], pages[1], pages[2]}, {}, {},
         "len(o), o[0]['result']['pages_written'], "
         "[p['page'] for p in o[0]['result']['page_results']], "
         "o[0]['result']['page_results'][0]['width_px'], "
         "o[0]['result']['page_results'][0]['render_ms'] >= 0, o[0]['zip']['created'], "
         "o[0]['zip']['path'].endswith('/doc.zip'), o[1]['result']['error']['kind'], "
         "o[1]['result']['error']['message'], o[1]['zip']['attempted'], "
         "o[0]['result']['document']['page_count'], o[1]['result']['document'], "
         "'encrypted' in o[1]['result']",
         "2 3 [1, 2, 3] 1275 True True True 3 The input file does not exist. False 3 None False"},
        // JSON stays valid for names that are not UTF-8.
        {{"--json", "-o", "out", "-n", "page{page_number}", "odd\xff\x01name.pdf"}, 0, {}, {},
         {"page1.jpg"}, {}, {}, "o[0]['file'], o[0]['result']['pages_written']",
         "odd\xef\xbf\xbd\x01name.pdf 1"},
        {{"-o", "out", "locked.pdf"}, 1, {}, {"locked.pdf: This PDF is password-protected. Enter "
         "its password to convert it.", "--password-stdin"}, {}},
        {{"-o", "out", "--password-stdin", "locked.pdf"}, 1, {},
         {"locked.pdf: The password is incorrect."}, {}, "wrong\n"},
        // The JSON states only what is known of a file that did not open.
        {{"--json", "--info", "--password-stdin", "locked.pdf"}, 1, {}, {}, {}, "wrong\n", {},
         locked_json, "[(None, True)]"},
        {{"--json", "--zip", "-o", "out", "--password-stdin", "locked.pdf"}, 1, {}, {}, {},
         "wrong\n", {}, locked_json, "[(None, True)]"},
        {{"-o", "out", "--password-stdin", "locked.pdf"}, 0, {}, {}, {"locked_page_0001.jpg",
         "locked_page_0002.jpg", "locked_page_0003.jpg"}, "s3cret pass\r\nnot this\n"},
        {{"--info", "--password-file", "pw.txt", "locked.pdf"}, 0,
         {"Encryption: yes, security handler revision 6"}, {}, {}},
        // Failures name the file, and the page once; the other files are converted.
        {{"-o", "out", "missing.pdf", "flat.pdf", "doc.pdf"}, 1,
         {"1 file converted, 2 failed. 3 images saved."},
         {"missing.pdf: The input file does not exist.\n",
          "flat.pdf: Page 2: The page has an invalid size.\n"}, pages},
    };
    // clang-format on

    int number = 0;
    for (const Case& c : cases) {
        const fs::path dir = temp / std::to_string(++number);
        std::string line = std::to_string(number) + ":";
        for (const std::string& arg : c.args) {
            line += " " + arg;
        }
        SCOPED_TRACE(line);
        fs::copy(fixtures, dir);
        fs::create_directory(dir / "out");
        for (const std::string& name : c.existing) {
            name.ends_with('/') ? void(fs::create_directory(dir / "out" / name))
                                : write_file(dir / "out" / name, "mine");
        }
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), BL_CONVERT_EXE);
        EXPECT_EQ(run(args, dir, c.input), c.status);
        const std::string out = read_file(dir / "stdout");
        const std::string err = read_file(dir / "stderr");
        const std::string where = fs::absolute(dir).string();
        for (std::string part : c.out) {
            part = std::regex_replace(part, std::regex("@DIR@"), where);
            EXPECT_NE(out.find(part), std::string::npos) << part << " is not in:\n" << out;
        }
        for (const std::string& part : c.err) {
            EXPECT_NE(err.find(part), std::string::npos) << part << " is not in:\n" << err;
        }
        EXPECT_TRUE(!c.err.empty() || err.empty()) << err;
        EXPECT_TRUE(c.status != 2 || out.empty()) << out;
        EXPECT_FALSE(std::regex_search(err, std::regex("Page \\d+: Page"))) << err;
        EXPECT_EQ(names_in(dir / "out"), c.files);
        const bool replace = std::find(args.begin(), args.end(), "replace") != args.end();
        for (const std::string& name : names_in(dir / "out")) {
            if (!fs::is_regular_file(dir / "out" / name)) {
                continue;
            }
            const std::string bytes = read_file(dir / "out" / name);
            if (std::find(c.existing.begin(), c.existing.end(), name) != c.existing.end() &&
                !replace) {
                EXPECT_EQ(bytes, "mine") << name;
            } else if (name.ends_with(".jpg")) {
                EXPECT_TRUE(bytes.starts_with("\xFF\xD8\xFF") && bytes.ends_with("\xFF\xD9"))
                    << name;
            }
        }
        if (!c.python.empty()) {
            write_file(
                dir / "check.py",
                "import json,sys,zipfile\n"
                "o=[json.loads(l.decode('utf-8')) for l in sys.stdin.buffer if l[:1] == b'{']\n"
                "print(" +
                    c.python + ")\n");
            ASSERT_EQ(run({"python3", "check.py"}, dir, out), 0) << read_file(dir / "stderr");
            EXPECT_EQ(read_file(dir / "stdout"), c.printed + "\n");
        }
    }
}

}  // namespace
}  // namespace bl::test
