#include "engine/converter.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <set>
#include <thread>

#include "bl/inspection.h"
#include "engine/output_file.h"
#include "engine/pdf_input.h"
#include "tests/support/pdf_writer.h"

namespace bl {
namespace {

namespace fs = std::filesystem;
using test::PdfPage;
using test::PdfWriter;
using test::TempDir;

// A page that PDFium needs many pause checks to draw, so that a 1 ms page limit
// always runs out while it renders. Light pages are checked once, at their start.
PdfPage heavy_page() {
    PdfPage page = test::page_of_size(612, 792);
    for (int i = 0; i < 20'000; ++i) {
        page.content += std::to_string(i % 600) + " " + std::to_string(i / 600) + " 1 1 re f\n";
    }
    return page;
}

PdfPage light_page(int number) {
    PdfPage page = test::page_of_size(612, 792);
    page.content = "BT /F1 24 Tf 72 700 Td (Page " + std::to_string(number) + ") Tj ET";
    return page;
}

// Pages marked 'h' are heavy, every other character is a light page.
std::string document(const std::string& pattern) {
    PdfWriter writer;
    int number = 0;
    for (char kind : pattern) {
        ++number;
        writer.add_page(kind == 'h' ? heavy_page() : light_page(number));
    }
    return writer.build();
}

std::set<std::string> names_in(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class ConvertTest : public ::testing::Test {
  protected:
    ConvertRequest request(const std::string& pdf_bytes, const std::string& name = "doc.pdf") {
        test::write_file(dir_ / name, pdf_bytes);
        fs::create_directories(out_);
        ConvertRequest result;
        result.input = dir_ / name;
        result.output_folder = out_;
        result.naming_template = "p{page_number}";
        result.limits.render_helpers = helpers_;
        return result;
    }

    ConvertResult run(ConvertRequest req, const CancellationToken& token = {}) {
        events_.clear();
        const auto caller = std::this_thread::get_id();
        return convert(
            std::move(req),
            [this, caller](const ProgressEvent& event) {
                EXPECT_EQ(std::this_thread::get_id(), caller) << "progress off the caller's thread";
                events_.push_back(event);
            },
            token, hooks_);
    }

    TempDir dir_;
    fs::path out_ = dir_ / "out";
    std::vector<ProgressEvent> events_;
    int helpers_ = 1;
    detail::DriverHooks hooks_;
};

// Whatever the number of helpers rendering ahead, a caller sees the same job:
// results, progress and files.
class AnyHelpersTest : public ConvertTest, public ::testing::WithParamInterface<int> {
  protected:
    void SetUp() override { helpers_ = GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Helpers, AnyHelpersTest, ::testing::Values(1, 2, 4));

void expect_error(const std::optional<ConvertError>& error, ErrorKind kind,
                  const std::string& message, std::uint32_t page = 0) {
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->kind, kind) << error->message;
    EXPECT_EQ(error->message, message);
    EXPECT_EQ(error->page, page);
}

// --- Request validation --------------------------------------------------------------

struct ValidationCase {
    const char* name;
    void (*change)(ConvertRequest&);
    ErrorKind kind;
    const char* message;
};

const char* const kInconsistent = "The configured limits are inconsistent.";
const char* const kDpiRange = "DPI must be between 10 and 600.";
const char* const kQuality = "JPEG quality must be between 1 and 100.";

const ValidationCase kValidationCases[] = {
    {"min dpi zero", [](ConvertRequest& r) { r.limits.min_dpi = 0; }, ErrorKind::InvalidSettings,
     kInconsistent},
    {"min dpi negative", [](ConvertRequest& r) { r.limits.min_dpi = -1; },
     ErrorKind::InvalidSettings, kInconsistent},
    {"min dpi nan", [](ConvertRequest& r) { r.limits.min_dpi = std::nan(""); },
     ErrorKind::InvalidSettings, kInconsistent},
    {"max below min", [](ConvertRequest& r) { r.limits.max_dpi = 5; }, ErrorKind::InvalidSettings,
     kInconsistent},
    {"max dpi nan", [](ConvertRequest& r) { r.limits.max_dpi = std::nan(""); },
     ErrorKind::InvalidSettings, kInconsistent},
    {"side zero", [](ConvertRequest& r) { r.limits.max_side_px = 0; }, ErrorKind::InvalidSettings,
     kInconsistent},
    {"pixels zero", [](ConvertRequest& r) { r.limits.max_page_pixels = 0; },
     ErrorKind::InvalidSettings, kInconsistent},
    {"dpi nan", [](ConvertRequest& r) { r.image.dpi = std::nan(""); }, ErrorKind::InvalidSettings,
     kDpiRange},
    {"dpi infinite",
     [](ConvertRequest& r) { r.image.dpi = std::numeric_limits<double>::infinity(); },
     ErrorKind::InvalidSettings, kDpiRange},
    {"dpi 600.5", [](ConvertRequest& r) { r.image.dpi = 600.5; }, ErrorKind::InvalidSettings,
     kDpiRange},
    {"dpi 9.99", [](ConvertRequest& r) { r.image.dpi = 9.99; }, ErrorKind::InvalidSettings,
     kDpiRange},
    {"fractional limit",
     [](ConvertRequest& r) {
         r.limits.min_dpi = 10.5;
         r.image.dpi = 10;
     },
     ErrorKind::InvalidSettings, "DPI must be between 10.500000 and 600."},
    {"quality 0", [](ConvertRequest& r) { r.image.jpeg_quality = 0; }, ErrorKind::InvalidSettings,
     kQuality},
    {"quality -5", [](ConvertRequest& r) { r.image.jpeg_quality = -5; }, ErrorKind::InvalidSettings,
     kQuality},
    {"quality 101", [](ConvertRequest& r) { r.image.jpeg_quality = 101; },
     ErrorKind::InvalidSettings, kQuality},
    {"dpi before quality",
     [](ConvertRequest& r) {
         r.image.dpi = 700;
         r.image.jpeg_quality = 0;
     },
     ErrorKind::InvalidSettings, kDpiRange},
    {"template before folder",
     [](ConvertRequest& r) {
         r.naming_template = "page";
         r.output_folder = "/nonexistent/folder";
     },
     ErrorKind::InvalidNamingTemplate, "The naming template must include {page_number}."},
    {"nul in password before folder",
     [](ConvertRequest& r) {
         r.password = std::string("sec\0ret", 7);
         r.output_folder = "/nonexistent/folder";
     },
     ErrorKind::InvalidSettings, "The password cannot contain a NUL character."},
    {"missing folder", [](ConvertRequest& r) { r.output_folder = "/nonexistent/folder"; },
     ErrorKind::OutputFolderUnavailable, "The output folder does not exist."},
    {"no folder", [](ConvertRequest& r) { r.output_folder.clear(); },
     ErrorKind::OutputFolderUnavailable, "No output folder was chosen."},
};

TEST_F(ConvertTest, ValidationReportsTheFirstProblemAndTouchesNothing) {
    for (const ValidationCase& item : kValidationCases) {
        SCOPED_TRACE(item.name);
        ConvertRequest req = request(test::simple_pdf(1));
        req.password = "secret";
        item.change(req);
        EXPECT_EQ(validate_request(req), make_error(item.kind, item.message));
        const ConvertResult result = run(std::move(req));
        expect_error(result.error, item.kind, item.message);
        EXPECT_EQ(result.document.security_revision, -1);
        EXPECT_EQ(result.document.page_count, 0);
        EXPECT_EQ(result.pages_selected, 0u);
        EXPECT_TRUE(result.page_results.empty());
        EXPECT_TRUE(events_.empty());
    }
    EXPECT_TRUE(names_in(out_).empty());
}

TEST_F(ConvertTest, BoundaryValuesPassValidation) {
    for (const auto& [dpi, quality] : {std::pair{10.0, 1}, std::pair{600.0, 100}}) {
        ConvertRequest req = request(test::simple_pdf(1));
        req.image.dpi = dpi;
        req.image.jpeg_quality = quality;
        EXPECT_FALSE(validate_request(req).has_value()) << dpi;
    }
}

// --- Runs that finish -----------------------------------------------------------------------

TEST_P(AnyHelpersTest, ThreePagesGiveThreeFilesAndAProgressSequence) {
    using S = ProgressStage;
    // At 150 DPI a Letter page is big enough for its encode to overlap the next render;
    // at 72 DPI every page is encoded before the next one renders.
    const std::vector<ProgressEvent> overlapped = {
        {S::Started, 0, 0, 3},     {S::Rendering, 1, 0, 3}, {S::Rendering, 2, 1, 3},
        {S::PageWritten, 1, 0, 3}, {S::Rendering, 3, 2, 3}, {S::PageWritten, 2, 1, 3},
        {S::PageWritten, 3, 2, 3}};
    const std::vector<ProgressEvent> in_turn = {{S::Started, 0, 0, 3},     {S::Rendering, 1, 0, 3},
                                                {S::PageWritten, 1, 0, 3}, {S::Rendering, 2, 1, 3},
                                                {S::PageWritten, 2, 1, 3}, {S::Rendering, 3, 2, 3},
                                                {S::PageWritten, 3, 2, 3}};
    for (const auto& [dpi, expected] : {std::pair{150.0, overlapped}, std::pair{72.0, in_turn}}) {
        SCOPED_TRACE(dpi);
        fs::remove_all(out_);
        ConvertRequest req = request(test::simple_pdf(3), "report.pdf");
        req.naming_template = kDefaultNamingTemplate;
        req.image.dpi = dpi;
        const ConvertResult result = run(std::move(req));
        EXPECT_FALSE(result.error.has_value()) << result.error->message;
        EXPECT_EQ(events_, expected);
        EXPECT_EQ(result.pages_selected, 3u);
        EXPECT_EQ(result.pages_written, 3u);
        EXPECT_EQ(result.pages_failed, 0u);
        EXPECT_EQ(result.document.page_count, 3);
        ASSERT_EQ(result.page_results.size(), 3u);
        for (std::uint32_t i = 0; i < 3; ++i) {
            const PageResult& page = result.page_results[i];
            EXPECT_EQ(page.page, i + 1);
            EXPECT_EQ(page.output_path,
                      out_ / ("report_page_000" + std::to_string(i + 1) + ".jpg"));
            EXPECT_EQ(page.bytes, fs::file_size(page.output_path));
            EXPECT_EQ(page.width_px, dpi == 72.0 ? 612 : 1275);
            EXPECT_GT(page.encode_ms, 0.0);
            EXPECT_GT(page.render_ms, 0.0);
            EXPECT_FALSE(page.error.has_value());
        }
        EXPECT_EQ(names_in(out_),
                  (std::set<std::string>{"report_page_0001.jpg", "report_page_0002.jpg",
                                         "report_page_0003.jpg"}));
    }
}

TEST_P(AnyHelpersTest, SelectionOrderIsAscending) {
    ConvertRequest req = request(test::simple_pdf(4));
    req.pages = "3,1";
    req.image.dpi = 72;
    const ConvertResult result = run(std::move(req));
    ASSERT_FALSE(result.error.has_value());
    ASSERT_EQ(result.page_results.size(), 2u);
    EXPECT_EQ(result.page_results[0].page, 1u);
    EXPECT_EQ(result.page_results[1].page, 3u);
    using S = ProgressStage;
    EXPECT_EQ(events_, (std::vector<ProgressEvent>{{S::Started, 0, 0, 2},
                                                   {S::Rendering, 1, 0, 2},
                                                   {S::PageWritten, 1, 0, 2},
                                                   {S::Rendering, 3, 1, 2},
                                                   {S::PageWritten, 3, 1, 2}}));
    EXPECT_EQ(names_in(out_), (std::set<std::string>{"p1.jpg", "p3.jpg"}));
}

TEST_F(ConvertTest, LargePagesEncodeBesideTheNextRenderAndSmallOnesDoNot) {
    for (const auto& [dpi, beside] : {std::pair{600.0, true}, std::pair{72.0, false}}) {
        SCOPED_TRACE(dpi);
        fs::remove_all(out_);
        const auto driver = std::this_thread::get_id();
        std::map<std::uint32_t, bool> on_other_thread;
        hooks_.before_encode = [&](std::uint32_t page) {
            on_other_thread[page] = std::this_thread::get_id() != driver;
        };
        ConvertRequest req = request(test::simple_pdf(2, 595, 842));
        req.image.dpi = dpi;
        const ConvertResult result = run(std::move(req));
        ASSERT_FALSE(result.error.has_value()) << result.error->message;
        EXPECT_EQ(result.pages_written, 2u);
        if (dpi == 600.0) {
            EXPECT_EQ(result.page_results[0].width_px, 4958);
            EXPECT_EQ(result.page_results[0].height_px, 7017);
        }
        EXPECT_EQ(on_other_thread[1], beside);
        EXPECT_FALSE(on_other_thread[2]) << "the last page never overlaps";
    }
}

TEST_F(ConvertTest, EncodesOnTheDriverThreadWhenNoThreadCanStart) {
    const auto driver = std::this_thread::get_id();
    std::atomic<int> elsewhere = 0;
    hooks_.may_start_thread = [] { return false; };
    hooks_.before_encode = [&](std::uint32_t) {
        elsewhere += std::this_thread::get_id() != driver;
    };
    const ConvertResult result = run(request(test::simple_pdf(3)));
    EXPECT_FALSE(result.error.has_value());
    EXPECT_EQ(result.pages_written, 3u);
    EXPECT_EQ(elsewhere, 0);
}

// Pages 2 and 4 start rendering with their time already up.
Deadline expire_even_pages(std::uint32_t page, Deadline deadline) {
    return page % 2 == 0 ? Clock::now() - std::chrono::seconds(1) : deadline;
}

TEST_P(AnyHelpersTest, TwoFailedPagesOfFiveLetTheJobFinish) {
    hooks_.page_deadline = &expire_even_pages;
    const ConvertResult result = run(request(test::simple_pdf(5)));
    EXPECT_FALSE(result.error.has_value()) << result.error->message;
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.pages_selected, 5u);
    EXPECT_EQ(result.pages_written, 3u);
    EXPECT_EQ(result.pages_failed, 2u);
    ASSERT_EQ(result.page_results.size(), 5u);
    for (std::uint32_t i = 0; i < 5; ++i) {
        const PageResult& page = result.page_results[i];
        EXPECT_EQ(page.page, i + 1);
        if (i == 1 || i == 3) {
            expect_error(page.error, ErrorKind::TimedOut,
                         "Rendering this page took longer than the allowed time.", i + 1);
            EXPECT_TRUE(page.output_path.empty());
            EXPECT_EQ(page.encode_ms, 0.0);
        } else {
            EXPECT_FALSE(page.error.has_value());
        }
    }
    EXPECT_EQ(names_in(out_), (std::set<std::string>{"p1.jpg", "p3.jpg", "p5.jpg"}));
    EXPECT_EQ(events_[4], (ProgressEvent{ProgressStage::PageFailed, 2, 1, 5}));
}

// --- Runs that stop --------------------------------------------------------------------------

TEST_P(AnyHelpersTest, AskRefusesBeforeRenderingWhenANameIsTaken) {
    test::write_file(out_ / "p2.jpg", "old");
    ConvertRequest req = request(test::simple_pdf(3));
    const ConvertResult refused = run(req);
    expect_error(refused.error, ErrorKind::OutputExists,
                 "\"p2.jpg\" already exists in the output folder. Choose another folder, or "
                 "allow overwriting or renaming.");
    EXPECT_TRUE(refused.page_results.empty());
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(names_in(out_), (std::set<std::string>{"p2.jpg"}));

    // A folder or a dangling link takes a name just as well.
    fs::remove(out_ / "p2.jpg");
    fs::create_symlink(dir_ / "nowhere", out_ / "p3.jpg");
    EXPECT_EQ(run(req).error->message.substr(0, 8), "\"p3.jpg\"");

    fs::remove(out_ / "p3.jpg");
    test::write_file(out_ / "p2.jpg", "old");
    req.existing_files = ExistingFilePolicy::Replace;
    const ConvertResult replaced = run(req);
    EXPECT_FALSE(replaced.error.has_value());
    EXPECT_EQ(replaced.pages_written, 3u);
    EXPECT_NE(test::read_file(out_ / "p2.jpg"), "old");
}

TEST_F(ConvertTest, CancelWhilePageFiveRendersKeepsPageFour) {
    // Page 4's encode waits until page 5 has begun to render, then cancels.
    std::mutex mutex;
    std::condition_variable changed;
    bool fifth_started = false;
    const CancellationToken token;
    const auto driver = std::this_thread::get_id();
    bool fourth_beside = false;
    hooks_.before_render = [&](std::uint32_t page) {
        if (page == 5) {
            const std::lock_guard lock(mutex);
            fifth_started = true;
            changed.notify_all();
        }
    };
    hooks_.before_encode = [&](std::uint32_t page) {
        if (page == 4) {
            fourth_beside = std::this_thread::get_id() != driver;
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return fifth_started; });
            token.cancel();
        }
    };
    ConvertRequest req = request(document("llllhlllll"));
    const ConvertResult result = run(std::move(req), token);

    EXPECT_TRUE(fourth_beside);
    EXPECT_TRUE(result.cancelled);
    expect_error(result.error, ErrorKind::Cancelled, "Conversion was cancelled.");
    EXPECT_EQ(result.pages_selected, 10u);
    EXPECT_EQ(result.pages_written, 4u);
    EXPECT_EQ(result.pages_failed, 0u);
    ASSERT_EQ(result.page_results.size(), 4u);
    EXPECT_EQ(result.page_results[3].page, 4u);
    EXPECT_EQ(names_in(out_), (std::set<std::string>{"p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}));
}

TEST_P(AnyHelpersTest, CancelledBeforeTheStartStillOpensAndPlans) {
    const CancellationToken token;
    token.cancel();
    const ConvertResult result = run(request(test::simple_pdf(3)), token);
    EXPECT_TRUE(result.cancelled);
    expect_error(result.error, ErrorKind::Cancelled, "Conversion was cancelled.");
    EXPECT_EQ(result.document.page_count, 3);
    EXPECT_EQ(result.pages_selected, 3u);
    EXPECT_TRUE(result.page_results.empty());
    EXPECT_EQ(events_, (std::vector<ProgressEvent>{{ProgressStage::Started, 0, 0, 3}}));
}

TEST_P(AnyHelpersTest, CancelAfterAPageIsWrittenDropsThePagesRenderedAhead) {
    const CancellationToken token;
    ConvertRequest req = request(test::simple_pdf(8));
    std::vector<ProgressEvent> events;
    const ConvertResult result = convert(
        std::move(req),
        [&](const ProgressEvent& event) {
            events.push_back(event);
            if (event.stage == ProgressStage::PageWritten && event.page == 3) {
                token.cancel();
            }
        },
        token);
    EXPECT_TRUE(result.cancelled);
    expect_error(result.error, ErrorKind::Cancelled, "Conversion was cancelled.");
    ASSERT_EQ(result.page_results.size(), 3u);
    EXPECT_EQ(result.pages_written, 3u);
    EXPECT_EQ(names_in(out_), (std::set<std::string>{"p1.jpg", "p2.jpg", "p3.jpg"}));
    EXPECT_EQ(events.back(), (ProgressEvent{ProgressStage::PageWritten, 3, 2, 8}));
}

TEST_P(AnyHelpersTest, PageTimeLimitStopsAHeavyPageAndTheNextPageRuns) {
    // The limit is far shorter than the heavy page takes; the light page is given
    // all the time it needs, since how fast it renders is not the point here.
    hooks_.page_deadline = [](std::uint32_t page, Deadline deadline) {
        return page == 2 ? kNoDeadline : deadline;
    };
    ConvertRequest req = request(document("hl"));
    req.limits.page_timeout_ms = 1;
    const ConvertResult result = run(std::move(req));
    EXPECT_FALSE(result.error.has_value());
    ASSERT_EQ(result.page_results.size(), 2u);
    expect_error(result.page_results[0].error, ErrorKind::TimedOut,
                 "Rendering this page took longer than the allowed time.", 1);
    EXPECT_FALSE(result.page_results[1].error.has_value());
    EXPECT_EQ(names_in(out_), (std::set<std::string>{"p2.jpg"}));
}

TEST_F(ConvertTest, JobDeadlinePassedBeforeTheLoopEndsTheJob) {
    ConvertRequest req = request(test::simple_pdf(2));
    req.limits.job_timeout_ms = 1;
    test::write_file(dir_ / "doc.pdf", test::simple_pdf(2));
    const ConvertResult result = convert(
        std::move(req),
        [](const ProgressEvent& event) {
            if (event.stage == ProgressStage::Started) {
                // Outlasts the 1 ms job limit for certain before the first page.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        },
        CancellationToken{});
    expect_error(result.error, ErrorKind::TimedOut,
                 "The conversion took longer than the allowed time.");
    EXPECT_FALSE(result.cancelled);
    EXPECT_TRUE(result.page_results.empty());
    EXPECT_EQ(result.pages_selected, 2u);
}

// Fails every write to page 2's file with "disk full".
std::atomic<int> g_full_fd{-1};

TEST_P(AnyHelpersTest, DiskFullOnPageTwoStopsTheJobAndKeepsPageOne) {
    g_full_fd = -1;
    detail::OutputSyscalls calls = detail::real_output_syscalls();
    hooks_.output = &calls;
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
    const ConvertResult result = run(request(test::simple_pdf(4)));
    expect_error(result.error, ErrorKind::DiskFull, "The output drive is full.", 2);
    EXPECT_FALSE(result.cancelled);
    ASSERT_EQ(result.page_results.size(), 2u);
    EXPECT_FALSE(result.page_results[0].error.has_value());
    expect_error(result.page_results[1].error, ErrorKind::DiskFull, "The output drive is full.", 2);
    EXPECT_EQ(result.pages_written, 1u);
    EXPECT_EQ(result.pages_failed, 1u);
    EXPECT_EQ(names_in(out_), (std::set<std::string>{"p1.jpg"}));
}

TEST_P(AnyHelpersTest, OutputLimitSmallerThanTheFirstPageWritesNothing) {
    ConvertRequest req = request(test::simple_pdf(3));
    req.limits.max_job_output_bytes = 100;
    const ConvertResult result = run(std::move(req));
    const std::string message = "The output exceeds the total size allowed for one job.";
    expect_error(result.error, ErrorKind::LimitExceeded, message, 1);
    ASSERT_EQ(result.page_results.size(), 1u);
    expect_error(result.page_results[0].error, ErrorKind::LimitExceeded, message, 1);
    EXPECT_GT(result.page_results[0].encode_ms, 0.0);
    EXPECT_EQ(result.pages_failed, 1u);
    EXPECT_TRUE(names_in(out_).empty());
}

TEST_F(ConvertTest, ExceptionInsideAnEncodeEndsTheJobCleanly) {
    hooks_.before_encode = [](std::uint32_t page) {
        if (page == 1) {
            throw std::bad_alloc();
        }
    };
    ConvertRequest req = request(test::simple_pdf(3));
    req.password = "unused";
    const ConvertResult result = run(std::move(req));
    expect_error(result.error, ErrorKind::OutOfMemory,
                 "Not enough memory to complete the conversion.");
    EXPECT_TRUE(result.page_results.empty());
    EXPECT_EQ(result.document.security_revision, -1);
    // The lock was released and the document closed on the way out.
    EXPECT_TRUE(inspect_pdf(dir_ / "doc.pdf", {}, {}).has_value());
}

// --- Pre-flight ------------------------------------------------------------------------------

TEST_F(ConvertTest, PreflightFailuresStopTheJobBeforeAnyRendering) {
    struct Case {
        const char* name;
        std::string pdf;
        std::string pages;
        double dpi;
        ErrorKind kind;
        std::string message;
        std::uint32_t page;
    };
    PdfWriter broken;
    broken.add_page(light_page(1));
    PdfPage unreadable;
    unreadable.raw_dictionary = "(no size)";
    broken.add_page(unreadable);
    const Case cases[] = {
        {"zero width", broken.build(), "all", 150, ErrorKind::DamagedPdf,
         "Page 2: The page has an invalid size.", 2},
        {"side too long", test::simple_pdf(2, 612, 4000), "2", 600, ErrorKind::LimitExceeded,
         "Page 2: At 600 DPI the page would be 5100 \xC3\x97 33333 px; the maximum side is "
         "32767 px. Lower the DPI.",
         2},
        {"bad selection", test::simple_pdf(2), "3", 150, ErrorKind::InvalidPageSelection,
         "Page 3 does not exist; the document has 2 pages.", 0},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        ConvertRequest req = request(item.pdf);
        req.pages = item.pages;
        req.image.dpi = item.dpi;
        const ConvertResult result = run(std::move(req));
        expect_error(result.error, item.kind, item.message, item.page);
        EXPECT_TRUE(result.page_results.empty());
        EXPECT_TRUE(events_.empty());
        EXPECT_GT(result.document.page_count, 0);
    }
    EXPECT_TRUE(names_in(out_).empty());
}

TEST_F(ConvertTest, JobPixelLimitCountsEverySelectedPage) {
    ConvertRequest req = request(test::simple_pdf(3));
    req.image.dpi = 72;
    req.limits.max_job_pixels = 612ULL * 792 * 3;
    EXPECT_FALSE(run(req).error.has_value());
    fs::remove_all(out_);
    fs::create_directories(out_);
    req.limits.max_job_pixels -= 1;
    expect_error(run(req).error, ErrorKind::LimitExceeded,
                 "The selected pages exceed the total output size allowed for one job. Select "
                 "fewer pages or lower the DPI.");
}

TEST_F(ConvertTest, LongNamesKeepTheirPageNumbers) {
    // A 250-byte input name: its stem gives way so that every page keeps its number.
    const std::string stem(246, 'a');
    ConvertRequest req = request(test::simple_pdf(3), stem + ".pdf");
    req.naming_template = kDefaultNamingTemplate;
    const ConvertResult result = run(std::move(req));
    EXPECT_FALSE(result.error.has_value()) << result.error->message;
    EXPECT_EQ(names_in(out_), (std::set<std::string>{stem.substr(0, 190) + "_page_0001.jpg",
                                                     stem.substr(0, 190) + "_page_0002.jpg",
                                                     stem.substr(0, 190) + "_page_0003.jpg"}));

    // A template too long on its own is still cut at the end, and pages whose
    // names then collide are refused before anything is written.
    fs::remove_all(out_);
    req = request(test::simple_pdf(3));
    req.naming_template = std::string(200, 'b') + "{page_number}";
    const ConvertResult refused = run(std::move(req));
    expect_error(refused.error, ErrorKind::InvalidNamingTemplate,
                 "Pages 1 and 2 would both be saved as \"" + std::string(200, 'b') +
                     ".jpg\". Change the naming template or use a shorter file name.");
    EXPECT_TRUE(refused.page_results.empty());
    EXPECT_TRUE(names_in(out_).empty());
}

}  // namespace
}  // namespace bl
