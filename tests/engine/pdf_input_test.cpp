#include "engine/pdf_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "bl/inspection.h"
#include "render/pdf_document.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/pdfium_library.h"

namespace bl {
namespace {

namespace fs = std::filesystem;
using test::PdfPage;
using test::PdfWriter;
using test::TempDir;

Result<DocumentInfo> inspect(const fs::path& path, std::string password = {},
                             const ConvertLimits& limits = {}) {
    return inspect_pdf(path, std::move(password), limits);
}

void expect_error(const Result<DocumentInfo>& result, ErrorKind kind, const std::string& message) {
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, kind);
    EXPECT_EQ(result.error().message, message);
    EXPECT_EQ(result.error().page, 0u);
}

// A file of `size` bytes that takes no disk space, with `head` at its start.
void make_sparse(const fs::path& path, std::uint64_t size, const std::string& head) {
    test::write_file(path, head);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

// --- Input checks ------------------------------------------------------------

struct InputCase {
    const char* name;
    ErrorKind kind;
    const char* message;
};

class InputCheckTest : public ::testing::TestWithParam<InputCase> {
  protected:
    // Builds the situation named by the case and returns the path to open.
    fs::path prepare(const std::string& name) {
        const fs::path path = dir_ / "input.pdf";
        if (name == "missing file") {
            return dir_ / "absent.pdf";
        }
        if (name == "missing folder") {
            return dir_ / "absent" / "input.pdf";
        }
        if (name == "file as folder") {
            test::write_file(dir_ / "plain.pdf", test::simple_pdf(1));
            return dir_ / "plain.pdf" / "input.pdf";
        }
        if (name == "folder") {
            fs::create_directory(path);
            return path;
        }
        if (name == "fifo") {
            EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
            return path;
        }
        if (name == "empty") {
            test::write_file(path, "");
            return path;
        }
        if (name == "four bytes") {
            test::write_file(path, "%PDF");
            return path;
        }
        if (name == "text") {
            test::write_file(path, "hello, this is not a document\n");
            return path;
        }
        if (name == "marker at 1020") {
            test::write_file(path, std::string(1020, 'x') + test::simple_pdf(1));
            return path;
        }
        if (name == "damaged") {
            test::write_file(path, "%PDF-1.7\n" + std::string(5000, '#') + "\n%%EOF\n");
            return path;
        }
        if (name == "no pages") {
            test::write_file(path, PdfWriter().build());
            return path;
        }
        ADD_FAILURE() << "unknown case " << name;
        return path;
    }

    TempDir dir_;
};

TEST_P(InputCheckTest, ReportsTheExactKindAndMessage) {
    const fs::path path = prepare(GetParam().name);
    expect_error(inspect(path), GetParam().kind, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, InputCheckTest,
    ::testing::Values(
        InputCase{"missing file", ErrorKind::InputNotFound, "The input file does not exist."},
        InputCase{"missing folder", ErrorKind::InputNotFound, "The input file does not exist."},
        InputCase{"file as folder", ErrorKind::InputNotFound, "The input file does not exist."},
        InputCase{"folder", ErrorKind::InputUnreadable, "The input path is not a regular file."},
        // Must come back at once rather than wait for a writer.
        InputCase{"fifo", ErrorKind::InputUnreadable, "The input path is not a regular file."},
        InputCase{"empty", ErrorKind::NotAPdf, "The file is empty."},
        InputCase{"four bytes", ErrorKind::NotAPdf,
                  "The file is not a PDF document (no PDF header found)."},
        InputCase{"text", ErrorKind::NotAPdf,
                  "The file is not a PDF document (no PDF header found)."},
        InputCase{"marker at 1020", ErrorKind::NotAPdf,
                  "The file is not a PDF document (no PDF header found)."},
        InputCase{"damaged", ErrorKind::DamagedPdf,
                  "The PDF is damaged or not a valid PDF document."},
        InputCase{"no pages", ErrorKind::NoPages, "The PDF contains no pages."}),
    [](const auto& param_info) {
        std::string name = param_info.param.name;
        for (char& c : name) {
            if (c == ' ') {
                c = '_';
            }
        }
        return name;
    });

TEST(InputCheck, HeaderMarkerAtOffset1019IsAccepted) {
    TempDir dir;
    PdfWriter writer;
    writer.set_prefix(std::string(1019, 'x'));
    writer.add_page(PdfPage{});
    test::write_file(dir / "junk.pdf", writer.build());
    const auto info = inspect(dir / "junk.pdf");
    ASSERT_TRUE(info.has_value()) << info.error().message;
    EXPECT_EQ(info->page_count, 1);
}

TEST(InputCheck, SizeLimitAllowsEqualAndRefusesOneMore) {
    TempDir dir;
    const std::string pdf = test::simple_pdf(1);
    test::write_file(dir / "a.pdf", pdf);
    ConvertLimits limits;
    limits.max_input_bytes = pdf.size();
    EXPECT_TRUE(inspect(dir / "a.pdf", {}, limits).has_value());

    limits.max_input_bytes = pdf.size() - 1;
    expect_error(inspect(dir / "a.pdf", {}, limits), ErrorKind::LimitExceeded,
                 "The file is " + std::to_string(pdf.size()) + " bytes; the maximum allowed is " +
                     std::to_string(pdf.size() - 1) + " bytes.");
}

TEST(InputCheck, LargeFilesAreMeasuredWithoutBeingRead) {
    TempDir dir;
    // Sizes are truncated to whole units in the message.
    make_sparse(dir / "big.pdf", 1'610'612'736, "%PDF-1.7\n");
    expect_error(inspect(dir / "big.pdf"), ErrorKind::LimitExceeded,
                 "The file is 1 GiB; the maximum allowed is 1 GiB.");

    // Even a generous limit stops at what the access record can describe.
    ConvertLimits generous;
    generous.max_input_bytes = 8'589'934'592;
    make_sparse(dir / "huge.pdf", 4'294'967'296, "%PDF-1.7\n");
    expect_error(inspect(dir / "huge.pdf", {}, generous), ErrorKind::LimitExceeded,
                 "The file is 4 GiB; the maximum allowed is 3 GiB.");

    // The largest describable size passes the size check (checked without the
    // parser, which would read the whole file).
    make_sparse(dir / "edge.pdf", 4'294'967'295, "%PDF-1.7\n");
    EXPECT_TRUE(open_input_file(dir / "edge.pdf", generous.max_input_bytes).has_value());
}

TEST(InputCheck, DefaultLimitIsInclusive) {
    TempDir dir;
    const ConvertLimits defaults;
    make_sparse(dir / "exact.pdf", 1'073'741'824, "%PDF-1.7\n");
    EXPECT_TRUE(open_input_file(dir / "exact.pdf", defaults.max_input_bytes).has_value());

    make_sparse(dir / "over.pdf", 1'073'741'825, "%PDF-1.7\n");
    expect_error(inspect(dir / "over.pdf"), ErrorKind::LimitExceeded,
                 "The file is 1 GiB; the maximum allowed is 1 GiB.");
}

TEST(FormatSize, TruncatesToWholeUnits) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0 bytes"},           {1'048'575, "1048575 bytes"}, {1'048'576, "1 MiB"},
        {1'572'864, "1 MiB"},     {1'073'741'823, "1023 MiB"},  {1'073'741'824, "1 GiB"},
        {4'294'967'295, "3 GiB"}, {1'610'612'736, "1 GiB"},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(format_size(bytes), text) << bytes;
    }
}

TEST(InputFile, ReadsAtOffsetsAndRefusesBlocksPastTheEnd) {
    TempDir dir;
    std::string content = test::simple_pdf(1);
    test::write_file(dir / "a.pdf", content);
    auto file = open_input_file(dir / "a.pdf", 1 << 20);
    ASSERT_TRUE(file.has_value());
    InputFile& input = **file;
    EXPECT_EQ(input.size, content.size());

    std::vector<unsigned char> block(10);
    ASSERT_EQ(get_block(&input, 3, block.data(), 10), 1);
    EXPECT_EQ(std::memcmp(block.data(), content.data() + 3, 10), 0);
    EXPECT_EQ(get_block(&input, content.size() - 10, block.data(), 10), 1);
    EXPECT_EQ(get_block(&input, content.size() - 9, block.data(), 10), 0);
    EXPECT_EQ(get_block(&input, ~0UL, block.data(), 10), 0);
    EXPECT_EQ(get_block(&input, 0, block.data(), ~0UL), 0);
    EXPECT_TRUE(read_at(input, 0, block.data(), 0));
}

// --- Documents ---------------------------------------------------------------------

TEST(OpenPdf, ReportsVersionAndPlainDocumentFacts) {
    TempDir dir;
    for (const auto& [version, number] : {std::pair{"1.4", 14}, std::pair{"1.7", 17}}) {
        const std::string pdf = test::simple_pdf(3, 612, 792, version);
        test::write_file(dir / "v.pdf", pdf);
        const auto info = inspect(dir / "v.pdf");
        ASSERT_TRUE(info.has_value()) << info.error().message;
        EXPECT_EQ(info->pdf_version, number);
        EXPECT_EQ(info->page_count, 3);
        EXPECT_EQ(info->file_size, pdf.size());
        EXPECT_FALSE(info->encrypted);
        EXPECT_EQ(info->security_revision, -1);
    }
}

TEST(OpenPdf, ListsEveryPageSizeAsDisplayed) {
    TempDir dir;
    PdfWriter writer;
    writer.add_page(test::page_of_size(612, 792));
    writer.add_page(test::page_of_size(595.276, 841.89));
    writer.add_page(test::page_of_size(400, 200, 90));
    // A page whose dictionary is not a dictionary has no readable size.
    PdfPage broken;
    broken.raw_dictionary = "(not a page)";
    writer.add_page(broken);
    writer.add_page(test::page_of_size(100, 50));
    test::write_file(dir / "sizes.pdf", writer.build());

    const auto info = inspect(dir / "sizes.pdf");
    ASSERT_TRUE(info.has_value()) << info.error().message;
    ASSERT_EQ(info->page_count, static_cast<int>(info->page_sizes.size()));
    ASSERT_GE(info->page_count, 4);
    EXPECT_EQ(info->page_sizes[0], (PageSize{612, 792}));
    EXPECT_NEAR(info->page_sizes[1].width, 595.276, 1e-3);
    EXPECT_NEAR(info->page_sizes[1].height, 841.89, 1e-3);
    EXPECT_EQ(info->page_sizes[2], (PageSize{200, 400}));
    EXPECT_EQ(info->page_sizes[3], (PageSize{0, 0}));
}

TEST(OpenPdf, RefusesMorePagesThanTheLimit) {
    TempDir dir;
    test::write_file(dir / "many.pdf", test::simple_pdf(10'001, 100, 100));
    expect_error(inspect(dir / "many.pdf"), ErrorKind::LimitExceeded,
                 "The PDF has 10001 pages; the maximum allowed is 10000.");

    ConvertLimits limits;
    limits.max_pages = -1;
    test::write_file(dir / "one.pdf", test::simple_pdf(1));
    expect_error(inspect(dir / "one.pdf", {}, limits), ErrorKind::LimitExceeded,
                 "The PDF has 1 pages; the maximum allowed is -1.");
}

// --- Passwords ------------------------------------------------------------------

struct Encryption {
    const char* name;
    int bits;
    bool aes;
    int revision;
};

class PasswordTest : public ::testing::TestWithParam<Encryption> {
  protected:
    void SetUp() override {
        test::write_file(dir_ / "plain.pdf", test::simple_pdf(2));
        ASSERT_TRUE(test::qpdf_encrypt(dir_ / "plain.pdf", path_, "user-pw", "owner-pw",
                                       GetParam().bits, GetParam().aes))
            << "qpdf failed";
    }

    TempDir dir_;
    fs::path path_ = dir_ / "locked.pdf";
};

TEST_P(PasswordTest, AsksForRefusesAndAcceptsPasswords) {
    expect_error(inspect(path_), ErrorKind::PasswordRequired,
                 "This PDF is password-protected. Enter its password to convert it.");
    expect_error(inspect(path_, "wrong"), ErrorKind::WrongPassword, "The password is incorrect.");
    for (const char* password : {"user-pw", "owner-pw"}) {
        const auto info = inspect(path_, password);
        ASSERT_TRUE(info.has_value()) << password << ": " << info.error().message;
        EXPECT_EQ(info->page_count, 2);
        EXPECT_TRUE(info->encrypted);
        EXPECT_EQ(info->security_revision, GetParam().revision);
    }
}

TEST_P(PasswordTest, PasswordIsWipedInEveryOutcome) {
    for (const char* given : {"", "wrong", "user-pw", "owner-pw"}) {
        std::string password = given;
        password.reserve(64);  // on the heap, so that its storage is released
        const auto lock = test::pdfium().lock();
        auto pdf = open_pdf(test::pdfium(), path_, password, ConvertLimits{});
        EXPECT_TRUE(password.empty()) << given;
        EXPECT_LT(password.capacity(), 64u) << given;
    }
}

INSTANTIATE_TEST_SUITE_P(Handlers, PasswordTest,
                         ::testing::Values(Encryption{"RC4_40", 40, false, 2},
                                           Encryption{"RC4_128", 128, false, 3},
                                           Encryption{"AES_128", 128, true, 4},
                                           Encryption{"AES_256", 256, true, 6}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(OpenPdf, PasswordsCountOnlyUpToTheir127thByte) {
    TempDir dir;
    test::write_file(dir / "plain.pdf", test::simple_pdf(1));
    // 127 bytes, the last character two of them.
    const std::string password = std::string(125, 'p') + "\xC3\xA9";
    ASSERT_TRUE(
        test::qpdf_encrypt(dir / "plain.pdf", dir / "locked.pdf", password, "owner", 256, true));
    // What follows byte 127 is never looked at, however long; a character across
    // that byte goes whole.
    EXPECT_TRUE(inspect(dir / "locked.pdf", password + std::string(1 << 20, 'x')).has_value());
    expect_error(inspect(dir / "locked.pdf", std::string(126, 'p') + "\xC3\xA9"),
                 ErrorKind::WrongPassword, "The password is incorrect.");
    // A NUL byte would end the password early; it is refused, not cut.
    expect_error(inspect(dir / "locked.pdf", password + std::string(1, '\0')),
                 ErrorKind::InvalidSettings, "The password cannot contain a NUL character.");
}

TEST(OpenPdf, PasswordIsWipedWhenTheInputChecksFail) {
    TempDir dir;
    std::string password(40, 's');
    const auto lock = test::pdfium().lock();
    const auto pdf = open_pdf(test::pdfium(), dir / "absent.pdf", password, ConvertLimits{});
    EXPECT_FALSE(pdf.has_value());
    EXPECT_TRUE(password.empty());
}

TEST(SecureClear, ZeroesAndReleases) {
    std::string text(100, 'x');
    text.resize(10);
    secure_clear(text);
    EXPECT_TRUE(text.empty());
    EXPECT_LT(text.capacity(), 100u);
    std::string empty;
    secure_clear(empty);
    EXPECT_TRUE(empty.empty());
}

// --- Threads ----------------------------------------------------------------------

TEST(InspectPdf, EightThreadsAtOnceGetTheirOwnAnswers) {
    TempDir dir;
    constexpr int kThreads = 8;
    for (int i = 0; i < kThreads; ++i) {
        test::write_file(dir / (std::to_string(i) + ".pdf"),
                         test::simple_pdf(i + 1, 100.0 + i, 200.0 + i));
    }
    std::vector<Result<DocumentInfo>> results(kThreads, fail(ErrorKind::InternalError, ""));
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 5; ++round) {
                results[static_cast<std::size_t>(i)] = inspect(dir / (std::to_string(i) + ".pdf"));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        const auto& info = results[static_cast<std::size_t>(i)];
        ASSERT_TRUE(info.has_value()) << info.error().message;
        EXPECT_EQ(info->page_count, i + 1);
        ASSERT_EQ(info->page_sizes.size(), static_cast<std::size_t>(i + 1));
        EXPECT_EQ(info->page_sizes.back(), (PageSize{100.0 + i, 200.0 + i}));
    }
}

}  // namespace
}  // namespace bl
