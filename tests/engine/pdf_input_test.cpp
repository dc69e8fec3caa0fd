#include "engine/input_file.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "bl/inspection.h"
#include "bl/secret.h"
#include "render/pdf_document.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/pdfium_library.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

namespace fs = std::filesystem;
using test::PdfWriter;
using test::TempDir;

Result<DocumentInfo> inspect(const fs::path& path, std::string password = {},
                             const ConvertLimits& limits = {}) {
    return inspect_pdf(path, std::move(password), limits);
}

// --- Input checks ------------------------------------------------------------

TEST(InputCheck, ReportsTheExactKindAndMessage) {
    const TempDir dir;
    // Writes the named file, with `head` at its start and then holes up to `size`
    // bytes, which take no disk space and are never read.
    const auto file = [&](const std::string& name, const std::string& head,
                          std::uint64_t size = 0) {
        test::write_file(dir / name, head);
        std::filesystem::resize_file(dir / name, std::max(size, head.size()));
        return dir / name;
    };
    fs::create_directory(dir / "folder.pdf");
    ::mkfifo((dir / "fifo.pdf").c_str(), 0600);  // must come back at once, not wait for a writer
    using K = ErrorKind;
    const std::string absent = "The input file does not exist.";
    const std::string not_file = "The input path is not a regular file.";
    const std::string not_pdf = "The file is not a PDF document (no PDF header found).";
    const std::string damaged = "The PDF is damaged or not a valid PDF document.";
    ConvertLimits generous;
    generous.max_input_bytes = 8'589'934'592;
    const std::tuple<fs::path, ConvertLimits, ErrorKind, std::string> cases[] = {
        {dir / "absent.pdf", {}, K::InputNotFound, absent},
        {file("plain.pdf", "x") / "in.pdf", {}, K::InputNotFound, absent},
        {dir / "folder.pdf", {}, K::InputUnreadable, not_file},
        {dir / "fifo.pdf", {}, K::InputUnreadable, not_file},
        {file("empty.pdf", ""), {}, K::NotAPdf, "The file is empty."},
        {file("late.pdf", std::string(1020, 'x') + test::simple_pdf(1)), {}, K::NotAPdf, not_pdf},
        {file("damaged.pdf", "%PDF-1.7\n" + std::string(5000, '#')), {}, K::DamagedPdf, damaged},
        {file("none.pdf", PdfWriter().build()), {}, K::NoPages, "The PDF contains no pages."},
        // Sizes are truncated to whole units in the message; even a generous limit
        // stops at what the access record can describe.
        {file("over.pdf", "%PDF-1.7\n", 1'073'741'825),
         {},
         K::LimitExceeded,
         "The file is 1 GiB; the maximum allowed is 1 GiB."},
        {file("huge.pdf", "%PDF-1.7\n", 4'294'967'296), generous, K::LimitExceeded,
         "The file is 4 GiB; the maximum allowed is 3 GiB."},
    };
    for (const auto& [path, limits, kind, message] : cases) {
        EXPECT_EQ(test::error_of(inspect(path, {}, limits)), make_error(kind, message)) << path;
    }
    // The limits themselves are allowed (checked without the parser, which would
    // read the whole file).
    EXPECT_TRUE(open_input_file(file("exact.pdf", "%PDF-1.7\n", 1'073'741'824),
                                ConvertLimits{}.max_input_bytes));
    EXPECT_TRUE(
        open_input_file(file("edge.pdf", "%PDF-1.7\n", 4'294'967'295), generous.max_input_bytes));
    // A header marker within the first 1,020 bytes counts.
    PdfWriter writer;
    writer.set_prefix(std::string(1019, 'x'));
    writer.add_page(test::PdfPage{});
    EXPECT_EQ(inspect(file("junk.pdf", writer.build())).value_or(DocumentInfo{}).page_count, 1);
}

// --- Documents ---------------------------------------------------------------------

TEST(OpenPdf, ReportsVersionPagesAndEveryPageSizeAsDisplayed) {
    const TempDir dir;
    PdfWriter writer("1.4");
    writer.add_page(test::page_of_size(595.5, 841.5));
    writer.add_page(test::page_of_size(400, 200, 90));
    // A page whose dictionary is not a dictionary has no readable size.
    test::PdfPage broken;
    broken.raw_dictionary = "(not a page)";
    writer.add_page(broken);
    const std::string pdf = writer.build();
    test::write_file(dir / "sizes.pdf", pdf);

    const auto info = inspect(dir / "sizes.pdf");
    ASSERT_TRUE(info.has_value()) << info.error().message;
    EXPECT_EQ(std::tuple(info->pdf_version, info->file_size, info->encrypted,
                         info->security_revision, info->page_count, info->page_sizes),
              std::tuple(14, pdf.size(), false, -1, 3,
                         std::vector<PageSize>{{595.5, 841.5}, {200, 400}, {0, 0}}));

    ConvertLimits limits;
    limits.max_pages = 2;
    EXPECT_EQ(
        test::error_of(inspect(dir / "sizes.pdf", {}, limits)),
        make_error(ErrorKind::LimitExceeded, "The PDF has 3 pages; the maximum allowed is 2."));
}

// --- Passwords ------------------------------------------------------------------

TEST(OpenPdf, AsksForRefusesAndAcceptsPasswordsAndWipesThem) {
    const TempDir dir;
    test::write_file(dir / "plain.pdf", test::simple_pdf(2));
    // Key bits, AES or RC4, and the security revision they make.
    for (const auto& [bits, aes, revision] :
         {std::tuple{40, false, 2}, {128, false, 3}, {128, true, 4}, {256, true, 6}}) {
        SCOPED_TRACE(revision);
        const fs::path path = dir / ("locked" + std::to_string(revision) + ".pdf");
        ASSERT_TRUE(test::qpdf_encrypt(dir / "plain.pdf", path, "user-pw", "owner-pw", bits, aes));
        EXPECT_EQ(test::error_of(inspect(path)),
                  make_error(ErrorKind::PasswordRequired,
                             "This PDF is password-protected. Enter its password to convert it."));
        EXPECT_EQ(test::error_of(inspect(path, "wrong")),
                  make_error(ErrorKind::WrongPassword, "The password is incorrect."));
        for (const char* password : {"user-pw", "owner-pw"}) {
            const auto info = inspect(path, password);
            ASSERT_TRUE(info.has_value()) << password << ": " << info.error().message;
            EXPECT_EQ(std::tuple(info->page_count, info->encrypted, info->security_revision),
                      std::tuple(2, true, revision));
        }
        // The password is wiped and its storage released whatever the outcome, a
        // failed input check too.
        for (const auto& [file, given] :
             {std::pair{path, "wrong"}, {path, "user-pw"}, {dir / "absent.pdf", "user-pw"}}) {
            std::string password = given;
            password.reserve(64);  // on the heap, so that its storage is released
            const auto lock = test::pdfium().lock();
            auto pdf = open_pdf(test::pdfium(), file, std::move(password), ConvertLimits{});
            EXPECT_TRUE(password.empty()) << given;
            EXPECT_LT(password.capacity(), 64u) << given;
        }
    }
}

TEST(OpenPdf, PasswordsCountOnlyUpToTheir127thByte) {
    const TempDir dir;
    test::write_file(dir / "plain.pdf", test::simple_pdf(1));
    // 127 bytes, the last character two of them.
    const std::string password = std::string(125, 'p') + "\xC3\xA9";
    ASSERT_TRUE(
        test::qpdf_encrypt(dir / "plain.pdf", dir / "locked.pdf", password, "owner", 256, true));
    // What follows byte 127 is never looked at, however long; a character across
    // that byte goes whole.
    EXPECT_TRUE(inspect(dir / "locked.pdf", password + std::string(1 << 20, 'x')).has_value());
    EXPECT_EQ(test::error_of(inspect(dir / "locked.pdf", std::string(126, 'p') + "\xC3\xA9")),
              make_error(ErrorKind::WrongPassword, "The password is incorrect."));
    // A NUL byte would end the password early; it is refused, not cut.
    EXPECT_EQ(
        test::error_of(inspect(dir / "locked.pdf", password + std::string(1, '\0'))),
        make_error(ErrorKind::InvalidSettings, "The password cannot contain a NUL character."));
}

TEST(Secrets, HoldingOneTurnsCoreDumpsOffForTheWholeProcess) {
    // In a child, so that this test process keeps its own settings.
    const auto off = [] {
        rlimit core{};
        return disable_core_dumps() && ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0 &&
               ::getrlimit(RLIMIT_CORE, &core) == 0 && core.rlim_cur + core.rlim_max == 0;
    };
    EXPECT_EXIT(std::_Exit(off() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace bl
