// Runs the real brightleaf-convert on fixture PDFs and checks what it leaves
// behind: files, exit statuses and output.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "tests/support/pdf_writer.h"

namespace bl::test {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;  // the exit status, or 128 + the signal that ended the program
    std::string out;
    std::string err;
};

// One started program whose standard streams are files in `io`.
class Child {
  public:
    Child(const std::vector<std::string>& args, const fs::path& io, const std::string& input,
          const fs::path& cwd)
        : out_(io / "stdout"), err_(io / "stderr") {
        write_file(io / "stdin", input);
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        const int in_fd = ::open((io / "stdin").c_str(), O_RDONLY | O_CLOEXEC);
        const int out_fd = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int err_fd = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const std::string dir = cwd.string();
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::dup2(in_fd, STDIN_FILENO);
            ::dup2(out_fd, STDOUT_FILENO);
            ::dup2(err_fd, STDERR_FILENO);
            if (!dir.empty() && ::chdir(dir.c_str()) != 0) {
                ::_exit(127);
            }
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in_fd);
        ::close(out_fd);
        ::close(err_fd);
    }

    pid_t pid() const { return pid_; }

    Outcome wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        Outcome run;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.out = read_file(out_);
        run.err = read_file(err_);
        return run;
    }

  private:
    fs::path out_;
    fs::path err_;
    pid_t pid_ = -1;
};

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    if (fs::exists(folder)) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

::testing::AssertionResult contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

bool is_jpeg(const fs::path& path) {
    const std::string bytes = read_file(path);
    return bytes.size() > 4 && bytes.compare(0, 3, "\xFF\xD8\xFF") == 0 &&
           bytes.compare(bytes.size() - 2, 2, "\xFF\xD9") == 0;
}

class ConvertCommand : public ::testing::Test {
  protected:
    ConvertCommand() {
        fs::create_directories(out_);
        write_file(doc_, simple_pdf(3));
    }

    // Runs brightleaf-convert with `args` in the work folder.
    Outcome convert(std::vector<std::string> args, const std::string& input = {}) {
        args.insert(args.begin(), BL_CONVERT_EXE);
        return run(args, input);
    }

    Outcome run(const std::vector<std::string>& args, const std::string& input = {}) {
        return Child(args, io_.path(), input, work_.path()).wait();
    }

    // Checks `json` (one object per line) with a Python expression over the list
    // of parsed objects `o`; returns what it prints.
    std::string python_json(const std::string& json, const std::string& expression) {
        const Outcome checked =
            run({"python3", "-c",
                 "import json,sys\n"
                 "o=[json.loads(l.decode('utf-8')) for l in sys.stdin.buffer if l.strip()]\n"
                 "print(" +
                     expression + ")"},
                json);
        EXPECT_EQ(checked.status, 0) << checked.err;
        return checked.out;
    }

    TempDir work_;
    TempDir io_;
    fs::path out_ = work_ / "out";
    fs::path doc_ = work_ / "doc.pdf";
    const std::vector<std::string> three_pages_ = {"doc_page_0001.jpg", "doc_page_0002.jpg",
                                                   "doc_page_0003.jpg"};
};

TEST_F(ConvertCommand, UsageErrorsExitWithTwoAndSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string doc = doc_.string();
    write_file(work_ / "long-pw", std::string(cli::kMaxPasswordLine + 1, 'p') + "\n");
    write_file(work_ / "nul-pw", std::string("pass\0word\n", 10));
    const Case cases[] = {
        {{"-o", "out"}, "PDF is required"},
        {{"-o", "out", "--dpi", "abc", doc}, "--dpi"},
        {{"-o", "out", "--dpi", "700", doc}, "DPI must be between 10 and 600."},
        {{"-o", "out", "--quality", "0", doc}, "JPEG quality must be between 1 and 100."},
        {{"-o", "out", "--quality", "high", doc}, "--quality"},
        {{"-o", "out", "--existing", "never", doc}, "--existing"},
        {{"-o", "out", "--background", "12345G", doc}, "\"12345G\" is not a colour"},
        {{"-o", "out", "--background", "FFF", doc}, "\"FFF\" is not a colour"},
        {{"-o", "out", "--chroma", "411", doc}, "--chroma"},
        {{"-o", "out", "--pages", "3-1", doc}, "reversed"},
        {{"-o", "out", "--name", "{original}", doc}, "brightleaf-convert: "},
        {{"-o", "out", "--page-timeout", "soon", doc}, "--page-timeout"},
        {{"-o", "out", "--jobs", "0", doc}, "--jobs"},
        {{"-o", "missing", doc}, "The output folder does not exist."},
        {{"-o", "out", "--password-stdin", "--password-file", "pw", doc}, "excludes"},
        {{"-o", "out", "--password", "secret", doc}, "--password"},
        {{"-o", "out", "--password-file", "no-such-file", doc},
         "could not read the password file \"no-such-file\""},
        {{"-o", "out", "--password-file", "long-pw", doc},
         "the first line of the password file \"long-pw\" is longer than 4096 bytes"},
        {{"-o", "out", "--password-file", "nul-pw", doc},
         "The password cannot contain a NUL character."},
    };
    for (const Case& c : cases) {
        const Outcome result = convert(c.args);
        std::string line;
        for (const std::string& arg : c.args) {
            line += arg + " ";
        }
        EXPECT_EQ(result.status, 2) << line;
        EXPECT_TRUE(contains(result.err, c.message)) << line;
        EXPECT_TRUE(result.out.empty()) << line;
        EXPECT_TRUE(names_in(out_).empty()) << line;
    }
}

TEST_F(ConvertCommand, HelpAndVersionExitWithZero) {
    const Outcome help = convert({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(contains(help.out, "--password-stdin"));
    EXPECT_TRUE(contains(help.out, "Exit status"));

    const Outcome version = convert({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(contains(version.out, "brightleaf-convert "));
    EXPECT_TRUE(contains(version.out, "PDFium "));
    EXPECT_TRUE(contains(version.out, "libjpeg-turbo "));
    EXPECT_TRUE(contains(version.out, "\nSandbox: seccomp")) << version.out;
}

TEST_F(ConvertCommand, WritesOneJpegPerPage) {
    const Outcome result = convert({"-o", "out", "doc.pdf"});
    EXPECT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(names_in(out_), three_pages_);
    for (const std::string& name : three_pages_) {
        EXPECT_TRUE(is_jpeg(out_ / name)) << name;
    }
    EXPECT_TRUE(contains(result.out,
                         "doc.pdf: 3 of 3 pages written to " + fs::absolute(out_).string() + "."));
    // Standard error is no terminal here: no progress line, nothing else either.
    EXPECT_EQ(result.err, "");
}

TEST_F(ConvertCommand, DefaultOutputFolderIsTheCurrentOne) {
    const Outcome result = convert({"doc.pdf", "-r", "72"});
    EXPECT_EQ(result.status, 0) << result.err;
    for (const std::string& name : three_pages_) {
        EXPECT_TRUE(is_jpeg(work_ / name)) << name;
    }
}

TEST_F(ConvertCommand, PagesAndNamingTemplate) {
    const Outcome result =
        convert({"-o", "out", "-p", "3, 1", "-n", "{original}-{page_number}-of-{page_count}-{dpi}",
                 "-r", "100", "-q", "75", "--jobs", "3", "doc.pdf"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(names_in(out_),
              (std::vector<std::string>{"doc-1-of-3-100.jpg", "doc-3-of-3-100.jpg"}));
    EXPECT_TRUE(contains(result.out, "2 of 2 pages written"));
}

TEST_F(ConvertCommand, PageBeyondTheDocumentFailsThatFile) {
    // Checked against the file's own page count, not taken for a usage error.
    const Outcome result = convert({"-o", "out", "-p", "2-999999999", "doc.pdf"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(
        contains(result.err, "doc.pdf: Page 999999999 does not exist; the document has 3 pages."));
    EXPECT_TRUE(names_in(out_).empty());
}

TEST_F(ConvertCommand, AJobThatStopsEarlySaysWhatWasNotAttempted) {
    // A folder where page 2 goes cannot be replaced, and a failed write ends the job.
    fs::create_directory(out_ / "doc_page_0002.jpg");
    const Outcome result = convert({"-o", "out", "-e", "replace", "doc.pdf"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.out, "doc.pdf: 1 of 3 pages written to " +
                                         fs::absolute(out_).string() +
                                         "; 1 failed; 1 not attempted."));
}

TEST_F(ConvertCommand, AskRefusesATakenNameAndTouchesNothing) {
    write_file(out_ / "doc_page_0002.jpg", "mine");
    const Outcome result = convert({"-o", "out", "doc.pdf"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err,
                         "doc.pdf: \"doc_page_0002.jpg\" already exists in the "
                         "output folder. Choose another folder, or allow "
                         "overwriting or renaming."));
    EXPECT_TRUE(contains(result.err, "--existing keep-both"));
    EXPECT_EQ(names_in(out_), std::vector<std::string>{"doc_page_0002.jpg"});
    EXPECT_EQ(read_file(out_ / "doc_page_0002.jpg"), "mine");
}

TEST_F(ConvertCommand, KeepBothAndReplace) {
    write_file(out_ / "doc_page_0002.jpg", "mine");
    const Outcome kept = convert({"-o", "out", "-e", "keep-both", "doc.pdf"});
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(names_in(out_),
              (std::vector<std::string>{"doc_page_0001.jpg", "doc_page_0002 (2).jpg",
                                        "doc_page_0002.jpg", "doc_page_0003.jpg"}));
    EXPECT_EQ(read_file(out_ / "doc_page_0002.jpg"), "mine");
    EXPECT_TRUE(is_jpeg(out_ / "doc_page_0002 (2).jpg"));

    const Outcome replaced = convert({"-o", "out", "-e", "replace", "-p", "2", "doc.pdf"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_TRUE(is_jpeg(out_ / "doc_page_0002.jpg"));
    EXPECT_EQ(names_in(out_).size(), 4U);
}

TEST_F(ConvertCommand, ZipGathersTheWrittenPages) {
    const Outcome result = convert({"-o", "out", "--zip", "doc.pdf"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(
        contains(result.out, "doc.pdf: ZIP archive " + (fs::absolute(out_) / "doc.zip").string()));
    const Outcome listing = run({"unzip", "-l", (out_ / "doc.zip").string()});
    ASSERT_EQ(listing.status, 0) << listing.err;
    for (const std::string& name : three_pages_) {
        EXPECT_TRUE(contains(listing.out, name));
    }
    EXPECT_TRUE(contains(listing.out, "3 files"));

    // Nothing can be asked about a taken archive name: the new one is numbered.
    const Outcome again = convert({"-o", "out", "--zip", "-e", "keep-both", "-p", "1", "doc.pdf"});
    EXPECT_EQ(again.status, 0) << again.err;
    const Outcome second = run({"unzip", "-l", (out_ / "doc (2).zip").string()});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_TRUE(contains(second.out, "doc_page_0001 (2).jpg"));
    EXPECT_TRUE(contains(second.out, "1 file"));

    // Under "ask" the pages' names are checked up front, but a taken archive name
    // can no longer be asked about once the pages are written: it gets a number.
    const fs::path fresh = work_ / "fresh";
    write_file(fresh / "doc.zip", "mine");
    const Outcome asked = convert({"-o", "fresh", "--zip", "doc.pdf"});
    EXPECT_EQ(asked.status, 0) << asked.err;
    EXPECT_EQ(read_file(fresh / "doc.zip"), "mine");
    EXPECT_EQ(run({"unzip", "-l", (fresh / "doc (2).zip").string()}).status, 0);
}

TEST_F(ConvertCommand, InfoShowsTheFactsAndWritesNothing) {
    PdfWriter writer("1.5");
    writer.add_page(page_of_size(595.276, 841.89));
    writer.add_page(page_of_size(595.276, 841.89));
    writer.add_page(page_of_size(612, 792));
    writer.write(work_ / "mixed.pdf");

    const Outcome result = convert({"--info", "-o", "out", "doc.pdf", "mixed.pdf"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "doc.pdf:\n"));
    EXPECT_TRUE(contains(result.out, "  Pages: 3\n  PDF version: 1.7\n  Encryption: none\n"));
    EXPECT_TRUE(contains(result.out, "  Page size: 612 x 792 pt (215.9 x 279.4 mm)\n"));
    EXPECT_TRUE(contains(result.out, "mixed.pdf:\n"));
    EXPECT_TRUE(contains(result.out, "  PDF version: 1.5\n"));
    EXPECT_TRUE(contains(result.out,
                         "    pages 1-2: 595.28 x 841.89 pt (210 x 297 mm)\n"
                         "    page 3: 612 x 792 pt (215.9 x 279.4 mm)"));
    EXPECT_TRUE(names_in(out_).empty());

    const Outcome json = convert({"--info", "--json", "doc.pdf", "mixed.pdf"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(python_json(json.out,
                          "len(o), o[0]['file'], o[0]['document']['page_count'], "
                          "o[1]['document']['pdf_version_text'], "
                          "o[1]['document']['page_sizes'][2], o[1]['error']"),
              "2 doc.pdf 3 1.5 {'width': 612, 'height': 792} None\n");
}

TEST_F(ConvertCommand, JsonCarriesTheWholeResult) {
    const Outcome result = convert({"--json", "-o", "out", "--zip", "doc.pdf", "gone.pdf"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(python_json(result.out,
                          "len(o), o[0]['result']['pages_written'], "
                          "[p['page'] for p in o[0]['result']['page_results']], "
                          "o[0]['result']['page_results'][0]['width_px'], "
                          "o[0]['result']['page_results'][0]['render_ms'] >= 0, "
                          "o[0]['zip']['created'], o[0]['zip']['path'].endswith('/doc.zip'), "
                          "o[1]['result']['error']['kind'], o[1]['result']['error']['message'], "
                          "o[1]['zip']['attempted'], o[0]['result']['document']['page_count'], "
                          "o[1]['result']['document'], 'encrypted' in o[1]['result']"),
              "2 3 [1, 2, 3] 1275 True True True 3 The input file does not exist. False 3 None "
              "False\n");
}

TEST_F(ConvertCommand, JsonStaysValidForNamesThatAreNotUtf8) {
    const std::string name = "odd\xff\x01name.pdf";
    write_file(work_ / name, simple_pdf(1));
    const Outcome result = convert({"--json", "-o", "out", "-n", "page{page_number}", name});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(python_json(result.out, "o[0]['file'], o[0]['result']['pages_written']"),
              "odd\xef\xbf\xbd\x01name.pdf 1\n");
}

TEST_F(ConvertCommand, PasswordFromStandardInputOrFile) {
    const fs::path locked = work_ / "locked.pdf";
    ASSERT_TRUE(qpdf_encrypt(doc_, locked, "s3cret pass", "owner", 256, true));

    const Outcome none = convert({"-o", "out", "locked.pdf"});
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(contains(none.err,
                         "locked.pdf: This PDF is password-protected. Enter its "
                         "password to convert it."));
    EXPECT_TRUE(contains(none.err, "--password-stdin"));

    const Outcome wrong = convert({"-o", "out", "--password-stdin", "locked.pdf"}, "wrong\n");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_TRUE(contains(wrong.err, "locked.pdf: The password is incorrect."));
    EXPECT_TRUE(names_in(out_).empty());
    // The JSON states only what is known of a file that did not open.
    for (const char* mode : {"--info", "--zip"}) {
        const Outcome json =
            convert({"--json", mode, "-o", "out", "--password-stdin", "locked.pdf"}, "wrong\n");
        EXPECT_EQ(python_json(json.out,
                              "[(r['document'], r['encrypted']) for r in "
                              "[o[0].get('result', o[0])]]"),
                  "[(None, True)]\n")
            << mode;
    }

    // Only the first line counts, without its line end (LF or CR LF).
    const Outcome right =
        convert({"-o", "out", "--password-stdin", "locked.pdf"}, "s3cret pass\r\nnot this\n");
    EXPECT_EQ(right.status, 0) << right.err;
    EXPECT_EQ(names_in(out_),
              (std::vector<std::string>{"locked_page_0001.jpg", "locked_page_0002.jpg",
                                        "locked_page_0003.jpg"}));

    write_file(work_ / "pw.txt", "s3cret pass\n");
    const Outcome info = convert({"--info", "--password-file", "pw.txt", "locked.pdf"});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(contains(info.out, "Encryption: yes, security handler revision 6"));

    // A line of 4096 bytes is the longest taken (a file without a password
    // ignores it).
    write_file(work_ / "pw-4096", std::string(cli::kMaxPasswordLine, 'p') + "\r\nmore");
    const Outcome longest = convert({"--info", "--password-file", "pw-4096", "doc.pdf"});
    EXPECT_EQ(longest.status, 0) << longest.err;
}

TEST_F(ConvertCommand, MissingFileFailsButTheOthersAreConverted) {
    const Outcome result = convert({"-o", "out", "missing.pdf", "doc.pdf"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "missing.pdf: The input file does not exist.\n"));
    EXPECT_EQ(names_in(out_), three_pages_);
    EXPECT_TRUE(contains(result.out, "1 file converted, 1 failed. 3 images saved."));
}

TEST_F(ConvertCommand, PageErrorsNameTheFileAndThePageOnce) {
    PdfWriter writer;
    writer.add_page(page_of_size(612, 792));
    // A page whose dictionary is not a dictionary has no readable size.
    PdfPage broken;
    broken.raw_dictionary = "(not a page)";
    writer.add_page(broken);
    writer.write(work_ / "flat.pdf");
    const Outcome result = convert({"-o", "out", "flat.pdf"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "flat.pdf: Page 2: The page has an invalid size.\n"));
    EXPECT_FALSE(contains(result.err, "Page 2: Page 2:"));
    EXPECT_TRUE(names_in(out_).empty());
}

TEST_F(ConvertCommand, InterruptStopsAfterThePageInHand) {
    // Enough large pages that the run cannot end before the signal arrives.
    constexpr int kPages = 400;
    write_file(work_ / "long.pdf", simple_pdf(kPages));
    Child child({BL_CONVERT_EXE, "-o", "out", "-r", "300", "long.pdf"}, io_.path(), "",
                work_.path());

    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    bool written = false;
    while (!written && std::chrono::steady_clock::now() < give_up) {
        const auto names = names_in(out_);
        written = std::any_of(names.begin(), names.end(), [](const std::string& name) {
            return name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0;
        });
        if (!written) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ASSERT_TRUE(written);
    ASSERT_EQ(::kill(child.pid(), SIGINT), 0);
    const Outcome result = child.wait();

    EXPECT_EQ(result.status, 130) << result.err;
    EXPECT_TRUE(contains(result.err, "long.pdf: Conversion was cancelled."));
    const auto names = names_in(out_);
    EXPECT_GE(names.size(), 1U);
    EXPECT_LT(names.size(), static_cast<std::size_t>(kPages));
    for (const std::string& name : names) {
        EXPECT_EQ(fs::path(name).extension(), ".jpg") << name;
        EXPECT_TRUE(is_jpeg(out_ / name)) << name;
    }
}

}  // namespace
}  // namespace bl::test
