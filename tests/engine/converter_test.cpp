#include "engine/converter.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "engine/output_file.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;
using S = ProgressStage;

class ConvertTest : public ::testing::Test {
  protected:
    ConvertRequest request(const std::string& pdf_bytes, const std::string& name = "doc.pdf") {
        test::write_file(dir_ / name, pdf_bytes);
        fs::remove_all(out_);
        fs::create_directories(out_);
        ConvertRequest result;
        result.input = dir_ / name;
        result.output_folder = out_;
        result.naming_template = "p{page_number}";
        result.limits.render_helpers = helpers_;
        return result;
    }

    // Runs the job, recording its progress; `on_event_` sees each event as it comes.
    ConvertResult run(ConvertRequest req, const CancellationToken& token = {}) {
        events_.clear();
        const auto caller = std::this_thread::get_id();
        return convert(
            std::move(req),
            [this, caller](const ProgressEvent& event) {
                EXPECT_EQ(std::this_thread::get_id(), caller) << "progress off the caller's thread";
                events_.push_back(event);
                if (on_event_) {
                    on_event_(event);
                }
            },
            token, hooks_);
    }

    test::TempDir dir_;
    fs::path out_ = dir_ / "out";
    std::vector<ProgressEvent> events_;
    std::function<void(const ProgressEvent&)> on_event_;
    detail::DriverHooks hooks_;
    int helpers_ = 1;
};

// Whatever the number of helpers rendering ahead, a caller sees the same job:
// results, progress and files.
class AnyHelpersTest : public ConvertTest, public ::testing::WithParamInterface<int> {
    void SetUp() override { helpers_ = GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Helpers, AnyHelpersTest, ::testing::Values(1, 2, 4));

const char* const kCancelled = "Conversion was cancelled.";
const char* const kTimedOut = "Rendering this page took longer than the allowed time.";

// --- Request validation --------------------------------------------------------------

TEST_F(ConvertTest, ValidationReportsTheFirstProblemAndTouchesNothing) {
    const char* const inconsistent = "The configured limits are inconsistent.";
    const char* const dpi_range = "DPI must be between 10 and 600.";
    const char* const quality = "JPEG quality must be between 1 and 100.";
    const char* const no_folder = "The output folder does not exist.";
    const struct {
        void (*change)(ConvertRequest&);
        ErrorKind kind;
        const char* message;
    } cases[] = {
        {[](ConvertRequest& r) { r.limits.min_dpi = std::nan(""); }, ErrorKind::InvalidSettings,
         inconsistent},
        {[](ConvertRequest& r) { r.limits.max_dpi = 5; }, ErrorKind::InvalidSettings, inconsistent},
        {[](ConvertRequest& r) { r.limits.max_page_pixels = 0; }, ErrorKind::InvalidSettings,
         inconsistent},
        {[](ConvertRequest& r) { r.image.dpi = 600.5; }, ErrorKind::InvalidSettings, dpi_range},
        {[](ConvertRequest& r) { r.image.dpi = 9.99; }, ErrorKind::InvalidSettings, dpi_range},
        {[](ConvertRequest& r) { r.limits.min_dpi = 10.5, r.image.dpi = 10; },
         ErrorKind::InvalidSettings, "DPI must be between 10.500000 and 600."},
        {[](ConvertRequest& r) { r.image.jpeg_quality = 0; }, ErrorKind::InvalidSettings, quality},
        {[](ConvertRequest& r) { r.image.jpeg_quality = 101; }, ErrorKind::InvalidSettings,
         quality},
        // The first problem wins: DPI, quality, template, password, then the folder.
        {[](ConvertRequest& r) { r.image.dpi = 700, r.image.jpeg_quality = 0; },
         ErrorKind::InvalidSettings, dpi_range},
        {[](ConvertRequest& r) { r.naming_template = "page", r.output_folder = "/nonexistent"; },
         ErrorKind::InvalidNamingTemplate, "The naming template must include {page_number}."},
        {[](ConvertRequest& r) {
             r.password = std::string("sec\0ret", 7), r.output_folder = "/nonexistent";
         },
         ErrorKind::InvalidSettings, "The password cannot contain a NUL character."},
        {[](ConvertRequest& r) { r.output_folder = "/nonexistent"; },
         ErrorKind::OutputFolderUnavailable, no_folder},
        {[](ConvertRequest& r) { r.output_folder.clear(); }, ErrorKind::OutputFolderUnavailable,
         "No output folder was chosen."},
        {[](ConvertRequest& r) { r.output_folder = r.input; }, ErrorKind::OutputFolderUnavailable,
         "The output path is not a folder."},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.message);
        ConvertRequest req = request(test::simple_pdf(1));
        item.change(req);
        EXPECT_EQ(validate_request(req), make_error(item.kind, item.message));
        const ConvertResult result = run(std::move(req));
        EXPECT_EQ(result.error, make_error(item.kind, item.message));
        EXPECT_EQ(result.document.page_count, 0);
        EXPECT_TRUE(result.page_results.empty());
        EXPECT_TRUE(events_.empty());
        EXPECT_TRUE(test::names_in(out_).empty());
    }
    // The bounds themselves are allowed.
    ConvertRequest req = request(test::simple_pdf(1));
    req.limits.min_dpi = req.limits.max_dpi = req.image.dpi = 10;
    req.image.jpeg_quality = 100;
    EXPECT_EQ(validate_request(req), std::nullopt);
    req.limits.max_dpi = req.image.dpi = 600;
    req.image.jpeg_quality = 1;
    EXPECT_EQ(validate_request(req), std::nullopt);
}

// --- Runs that finish -----------------------------------------------------------------------

TEST_P(AnyHelpersTest, ThreeSelectedPagesGiveThreeFilesAndAProgressSequence) {
    // At 150 DPI a Letter page is big enough for its encode to overlap the next render;
    // at 72 DPI every page is encoded before the next one renders.
    const std::vector<ProgressEvent> overlapped = {
        {S::Started, 0, 0, 3},     {S::Rendering, 1, 0, 3}, {S::Rendering, 2, 1, 3},
        {S::PageWritten, 1, 0, 3}, {S::Rendering, 4, 2, 3}, {S::PageWritten, 2, 1, 3},
        {S::PageWritten, 4, 2, 3}};
    const std::vector<ProgressEvent> in_turn = {{S::Started, 0, 0, 3},     {S::Rendering, 1, 0, 3},
                                                {S::PageWritten, 1, 0, 3}, {S::Rendering, 2, 1, 3},
                                                {S::PageWritten, 2, 1, 3}, {S::Rendering, 4, 2, 3},
                                                {S::PageWritten, 4, 2, 3}};
    for (const auto& [dpi, expected] : {std::pair{150.0, overlapped}, std::pair{72.0, in_turn}}) {
        SCOPED_TRACE(dpi);
        ConvertRequest req = request(test::simple_pdf(4), "report.pdf");
        req.naming_template = kDefaultNamingTemplate;
        req.image.dpi = dpi;
        req.pages = "4, 1-2";
        const ConvertResult result = run(std::move(req));
        EXPECT_FALSE(result.error.has_value()) << result.error->message;
        EXPECT_EQ(events_, expected);
        EXPECT_EQ(std::tuple(result.pages_selected, result.pages_written, result.pages_failed),
                  std::tuple(3u, 3u, 0u));
        ASSERT_EQ(result.page_results.size(), 3u);
        for (std::uint32_t i = 0; i < 3; ++i) {
            const PageResult& page = result.page_results[i];
            EXPECT_EQ(page.page, i == 2 ? 4 : i + 1);
            EXPECT_EQ(page.output_path,
                      out_ / ("report_page_000" + std::to_string(page.page) + ".jpg"));
            EXPECT_EQ(page.bytes, fs::file_size(page.output_path));
            EXPECT_EQ(page.width_px, dpi == 72.0 ? 612 : 1275);
            EXPECT_FALSE(page.error.has_value());
        }
        EXPECT_EQ(test::names_in(out_),
                  (Names{"report_page_0001.jpg", "report_page_0002.jpg", "report_page_0004.jpg"}));
    }
}

TEST_F(ConvertTest, LargePagesEncodeBesideTheNextRenderWhenAThreadCanStart) {
    // DPI, whether a thread may start, and whether page 1 is encoded beside page 2.
    for (const auto& [dpi, may_start, beside] :
         {std::tuple{600.0, true, true}, {72.0, true, false}, {600.0, false, false}}) {
        SCOPED_TRACE(testing::Message() << dpi << " " << may_start);
        const auto driver = std::this_thread::get_id();
        std::map<std::uint32_t, bool> on_other_thread;
        hooks_.before_encode = [&](std::uint32_t page) {
            on_other_thread[page] = std::this_thread::get_id() != driver;
        };
        hooks_.may_start_thread = [may_start] { return may_start; };
        ConvertRequest req = request(test::simple_pdf(2, 595, 842));
        req.image.dpi = dpi;
        const ConvertResult result = run(std::move(req));
        ASSERT_FALSE(result.error.has_value()) << result.error->message;
        EXPECT_EQ(result.pages_written, 2u);
        EXPECT_EQ(on_other_thread[1], beside);
        EXPECT_FALSE(on_other_thread[2]) << "the last page never overlaps";
    }
}

TEST_P(AnyHelpersTest, TwoFailedPagesOfFiveLetTheJobFinish) {
    // Pages 2 and 4 start rendering with their time already up.
    hooks_.page_deadline = [](std::uint32_t page, Deadline deadline) {
        return page % 2 == 0 ? Clock::now() - std::chrono::seconds(1) : deadline;
    };
    const ConvertResult result = run(request(test::simple_pdf(5)));
    EXPECT_FALSE(result.error.has_value()) << result.error->message;
    EXPECT_EQ(std::tuple(result.pages_selected, result.pages_written, result.pages_failed),
              std::tuple(5u, 3u, 2u));
    ASSERT_EQ(result.page_results.size(), 5u);
    for (std::uint32_t i = 0; i < 5; ++i) {
        const PageResult& page = result.page_results[i];
        EXPECT_EQ(page.page, i + 1);
        EXPECT_EQ(page.error,
                  i % 2 == 1 ? make_error(ErrorKind::TimedOut, kTimedOut, i + 1) : MaybeError());
    }
    EXPECT_EQ(test::names_in(out_), (Names{"p1.jpg", "p3.jpg", "p5.jpg"}));
    EXPECT_EQ(events_[4], (ProgressEvent{S::PageFailed, 2, 1, 5}));
}

// --- Runs that stop --------------------------------------------------------------------------

TEST_P(AnyHelpersTest, AskRefusesBeforeRenderingWhenANameIsTaken) {
    ConvertRequest req = request(test::simple_pdf(3));
    test::write_file(out_ / "p2.jpg", "old");
    const ConvertResult refused = run(req);
    EXPECT_EQ(refused.error, make_error(ErrorKind::OutputExists,
                                        "\"p2.jpg\" already exists in the output folder. Choose "
                                        "another folder, or allow overwriting or renaming."));
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(test::names_in(out_), Names{"p2.jpg"});

    req.existing_files = ExistingFilePolicy::Replace;
    const ConvertResult replaced = run(req);
    EXPECT_FALSE(replaced.error.has_value());
    EXPECT_EQ(replaced.pages_written, 3u);
    EXPECT_NE(test::read_file(out_ / "p2.jpg"), "old");
}

TEST_P(AnyHelpersTest, CancelDropsThePagesRenderedAhead) {
    const CancellationToken before;
    before.cancel();
    ConvertResult result = run(request(test::simple_pdf(3)), before);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.error, make_error(ErrorKind::Cancelled, kCancelled));
    EXPECT_EQ(result.pages_selected, 3u);
    EXPECT_EQ(events_, (std::vector<ProgressEvent>{{S::Started, 0, 0, 3}}));

    // Cancelled once page 3 is written, while later pages are being rendered ahead.
    const CancellationToken token;
    on_event_ = [&](const ProgressEvent& event) {
        if (event.stage == S::PageWritten && event.page == 3) {
            token.cancel();
        }
    };
    result = run(request(test::simple_pdf(8)), token);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.error, make_error(ErrorKind::Cancelled, kCancelled));
    EXPECT_EQ(result.page_results.size(), 3u);
    EXPECT_EQ(result.pages_written, 3u);
    EXPECT_EQ(test::names_in(out_), (Names{"p1.jpg", "p2.jpg", "p3.jpg"}));
    EXPECT_EQ(events_.back(), (ProgressEvent{S::PageWritten, 3, 2, 8}));
}

// Fails every write to page 2's file with "disk full".
std::atomic<int> g_full_fd{-1};

TEST_P(AnyHelpersTest, DiskFullOrTheOutputLimitStopsTheJobAndKeepsTheEarlierPages) {
    g_full_fd = -1;
    detail::OutputSyscalls calls = detail::real_output_syscalls();
    calls.open = [](const char* path, int flags, unsigned mode) {
        const int fd = ::open(path, flags, mode);
        if (std::strstr(path, "/.p2.") != nullptr) {
            g_full_fd = fd;
        }
        return fd;
    };
    calls.close = [](int fd) {
        // Descriptor numbers are reused by the files of other pages.
        int expected = fd;
        g_full_fd.compare_exchange_strong(expected, -1);
        return ::close(fd);
    };
    calls.write = [](int fd, const void* data, unsigned long size) -> long {
        if (fd == g_full_fd) {
            errno = ENOSPC;
            return -1;
        }
        return ::write(fd, data, size);
    };
    hooks_.output = &calls;
    ConvertResult result = run(request(test::simple_pdf(4)));
    const auto full = make_error(ErrorKind::DiskFull, "The output drive is full.", 2);
    EXPECT_EQ(result.error, full);
    EXPECT_FALSE(result.cancelled);
    ASSERT_EQ(result.page_results.size(), 2u);
    EXPECT_EQ(result.page_results[1].error, full);
    EXPECT_EQ(std::tuple(result.pages_written, result.pages_failed), std::tuple(1u, 1u));
    EXPECT_EQ(test::names_in(out_), Names{"p1.jpg"});

    hooks_.output = nullptr;
    ConvertRequest req = request(test::simple_pdf(3));
    req.limits.max_job_output_bytes = 100;
    result = run(std::move(req));
    const auto over = make_error(ErrorKind::LimitExceeded,
                                 "The output exceeds the total size allowed for one job.", 1);
    EXPECT_EQ(result.error, over);
    ASSERT_EQ(result.page_results.size(), 1u);
    EXPECT_EQ(result.page_results[0].error, over);
    EXPECT_TRUE(test::names_in(out_).empty());
}

TEST_F(ConvertTest, PreflightFailuresStopTheJobBeforeAnyRendering) {
    test::PdfWriter broken;
    broken.add_page(test::page_of_size(612, 792));
    test::PdfPage unreadable;
    unreadable.raw_dictionary = "(no size)";
    broken.add_page(unreadable);
    const std::string b200(200, 'b');
    const struct {
        std::string pdf;
        void (*change)(ConvertRequest&);
        ConvertError error;
    } cases[] = {
        {broken.build(), [](ConvertRequest&) {},
         make_error(ErrorKind::DamagedPdf, "Page 2: The page has an invalid size.", 2)},
        {test::simple_pdf(2, 612, 4000),
         [](ConvertRequest& r) { r.pages = "2", r.image.dpi = 600; },
         make_error(ErrorKind::LimitExceeded,
                    "Page 2: At 600 DPI the page would be 5100 \xC3\x97 33333 px; the maximum "
                    "side is 32767 px. Lower the DPI.",
                    2)},
        {test::simple_pdf(2), [](ConvertRequest& r) { r.pages = "3"; },
         make_error(ErrorKind::InvalidPageSelection,
                    "Page 3 does not exist; the document has 2 pages.")},
        // Every selected page counts towards the job's pixels.
        {test::simple_pdf(3),
         [](ConvertRequest& r) { r.image.dpi = 72, r.limits.max_job_pixels = 612 * 792 * 3 - 1; },
         make_error(ErrorKind::LimitExceeded,
                    "The selected pages exceed the total output size allowed for one job. "
                    "Select fewer pages or lower the DPI.")},
        // A template too long on its own is cut at the end; pages whose names then
        // collide are refused.
        {test::simple_pdf(3),
         [](ConvertRequest& r) { r.naming_template = std::string(200, 'b') + "{page_number}"; },
         make_error(ErrorKind::InvalidNamingTemplate,
                    "Pages 1 and 2 would both be saved as \"" + b200 +
                        ".jpg\". Change the naming template or use a shorter file name.")},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.error.message);
        ConvertRequest req = request(item.pdf);
        item.change(req);
        const ConvertResult result = run(std::move(req));
        EXPECT_EQ(result.error, item.error);
        EXPECT_TRUE(result.page_results.empty());
        EXPECT_TRUE(events_.empty());
        EXPECT_GT(result.document.page_count, 0);
        EXPECT_TRUE(test::names_in(out_).empty());
    }
    // At the job's pixel limit exactly, the job runs.
    ConvertRequest req = request(test::simple_pdf(3));
    req.image.dpi = 72;
    req.limits.max_job_pixels = 612 * 792 * 3;
    EXPECT_EQ(run(std::move(req)).error, std::nullopt);
}

}  // namespace
}  // namespace bl
