#include "engine/converter.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "bl/job.h"
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
    ConvertRequest request(const std::string& pdf_bytes) {
        test::write_file(dir_ / "report.pdf", pdf_bytes);
        fs::remove_all(out_);
        fs::create_directories(out_);
        ConvertRequest result;
        result.input = dir_ / "report.pdf";
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

TEST_F(ConvertTest, ValidationReportsTheFirstProblemAndTouchesNothing) {
    using R = ConvertRequest&;
    using K = ErrorKind;
    const char* const inconsistent = "The configured limits are inconsistent.";
    const char* const quality = "JPEG quality must be between 1 and 100.";
    const struct {
        void (*change)(ConvertRequest&);
        ErrorKind kind;
        const char* message;
    } cases[] = {
        {[](R r) { r.limits.min_dpi = std::nan(""); }, K::InvalidSettings, inconsistent},
        {[](R r) { r.limits.max_dpi = 5; }, K::InvalidSettings, inconsistent},
        {[](R r) { r.limits.min_dpi = 10.5, r.image.dpi = 10; }, K::InvalidSettings,
         "DPI must be between 10.500000 and 600."},
        {[](R r) { r.image.jpeg_quality = 0; }, K::InvalidSettings, quality},
        {[](R r) { r.image.jpeg_quality = 101; }, K::InvalidSettings, quality},
        // The first problem wins: DPI, quality, template, password, then the folder.
        {[](R r) { r.image.dpi = 600.5, r.image.jpeg_quality = 0; }, K::InvalidSettings,
         "DPI must be between 10 and 600."},
        {[](R r) { r.naming_template = "page", r.output_folder = "/nonexistent"; },
         K::InvalidNamingTemplate, "The naming template must include {page_number}."},
        {[](R r) { r.password = std::string("\0", 1), r.output_folder = "/nonexistent"; },
         K::InvalidSettings, "The password cannot contain a NUL character."},
        {[](R r) { r.output_folder = "/nonexistent"; }, K::OutputFolderUnavailable,
         "The output folder does not exist."},
        {[](R r) { r.output_folder.clear(); }, K::OutputFolderUnavailable,
         "No output folder was chosen."},
        {[](R r) { r.output_folder = r.input; }, K::OutputFolderUnavailable,
         "The output path is not a folder."},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.message);
        ConvertRequest req = request(test::simple_pdf(1));
        item.change(req);
        EXPECT_EQ(validate_request(req), make_error(item.kind, item.message));
        const ConvertResult result = run(std::move(req));
        EXPECT_EQ(result.error, make_error(item.kind, item.message));
        EXPECT_EQ(
            std::tuple(result.document.page_count, result.page_results.size(), events_.size()),
            std::tuple(0, 0u, 0u));
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

TEST_P(AnyHelpersTest, ThreeSelectedPagesGiveThreeFilesAndAProgressSequence) {
    // At 150 DPI a Letter page is big enough for its encode to overlap the next
    // render, unless no thread can be started for it.
    const std::vector<ProgressEvent> overlapped = {
        {S::Started, 0, 0, 3},     {S::Rendering, 1, 0, 3}, {S::Rendering, 2, 1, 3},
        {S::PageWritten, 1, 0, 3}, {S::Rendering, 4, 2, 3}, {S::PageWritten, 2, 1, 3},
        {S::PageWritten, 4, 2, 3}};
    const std::vector<ProgressEvent> in_turn = {{S::Started, 0, 0, 3},     {S::Rendering, 1, 0, 3},
                                                {S::PageWritten, 1, 0, 3}, {S::Rendering, 2, 1, 3},
                                                {S::PageWritten, 2, 1, 3}, {S::Rendering, 4, 2, 3},
                                                {S::PageWritten, 4, 2, 3}};
    for (const bool may_start : {true, false}) {
        SCOPED_TRACE(may_start);
        hooks_.may_start_thread = [may_start] { return may_start; };
        ConvertRequest req = request(test::simple_pdf(4));
        req.naming_template = kDefaultNamingTemplate;
        req.image.dpi = 150;
        req.pages = "4, 1-2";
        const ConvertResult result = run(std::move(req));
        EXPECT_FALSE(result.error.has_value()) << result.error->message;
        EXPECT_EQ(events_, may_start ? overlapped : in_turn);
        EXPECT_EQ(std::tuple(result.pages_selected, result.pages_written, result.pages_failed),
                  std::tuple(3u, 3u, 0u));
        ASSERT_EQ(result.page_results.size(), 3u);
        for (const PageResult& page : result.page_results) {
            EXPECT_EQ(std::tuple(page.bytes, page.width_px),
                      std::tuple(fs::file_size(page.output_path), 1275));
        }
        EXPECT_EQ(test::names_in(out_),
                  (Names{"report_page_0001.jpg", "report_page_0002.jpg", "report_page_0004.jpg"}));
        // The same bytes, however many helpers drew them.
        static std::map<std::string, std::string> first_seen;
        for (const std::string& name : test::names_in(out_)) {
            const std::string bytes = test::read_file(out_ / name);
            EXPECT_EQ(first_seen.emplace(name, bytes).first->second, bytes) << name;
        }
    }
}

TEST_P(AnyHelpersTest, CancelDropsThePagesRenderedAhead) {
    // Cancelled once page 3 is written, while later pages are being rendered
    // ahead; or as the first page begins, before it has gone to a helper.
    const struct {
        ProgressEvent at;
        Names written;
        ProgressEvent last;
    } cases[] = {
        {{S::PageWritten, 3, 2, 8}, {"p1.jpg", "p2.jpg", "p3.jpg"}, {S::PageWritten, 3, 2, 8}},
        {{S::Rendering, 1, 0, 8}, {}, {S::Rendering, 1, 0, 8}},
    };
    for (const auto& item : cases) {
        const CancellationToken token;
        on_event_ = [&](const ProgressEvent& event) {
            if (event == item.at) {
                token.cancel();
            }
        };
        const ConvertResult result = run(request(test::simple_pdf(8)), token);
        EXPECT_TRUE(result.cancelled);
        EXPECT_EQ(result.error, make_error(ErrorKind::Cancelled, "Conversion was cancelled."));
        EXPECT_EQ(std::tuple(result.page_results.size(), result.pages_written),
                  std::tuple(item.written.size(), item.written.size()));
        EXPECT_EQ(test::names_in(out_), item.written);
        EXPECT_EQ(events_.back(), item.last);
    }
}

TEST_P(AnyHelpersTest, SkipRendersOnlyThePagesWhoseNamesAreFree) {
    // p2 and p4 are there before the job; p3 is taken while it is being encoded.
    std::set<std::uint32_t> rendered;
    hooks_.before_render = [&rendered](std::uint32_t page) { rendered.insert(page); };
    hooks_.before_encode = [this](std::uint32_t page) {
        page == 3 ? test::write_file(out_ / "p3.jpg", "late") : void();
    };
    ConvertRequest req = request(test::simple_pdf(4));
    req.existing_files = ExistingFilePolicy::Skip;
    const ConvertRequest again = req;
    test::write_file(out_ / "p2.jpg", "old");
    test::write_file(out_ / "p4.jpg", "old");
    const ConvertResult result = run(std::move(req));
    EXPECT_EQ(result.error, std::nullopt);
    EXPECT_EQ(events_, (std::vector<ProgressEvent>{{S::Started, 0, 0, 4},
                                                   {S::Rendering, 1, 0, 4},
                                                   {S::PageWritten, 1, 0, 4},
                                                   {S::PageSkipped, 2, 1, 4},
                                                   {S::Rendering, 3, 2, 4},
                                                   {S::PageSkipped, 3, 2, 4},
                                                   {S::PageSkipped, 4, 3, 4}}));
    EXPECT_EQ(rendered, (std::set<std::uint32_t>{1, 3}));
    EXPECT_EQ(std::tuple(result.pages_written, result.pages_skipped, result.pages_failed),
              std::tuple(1u, 3u, 0u));
    ASSERT_EQ(result.page_results.size(), 4u);
    EXPECT_EQ(std::tuple(result.page_results[0].skipped, result.page_results[2].skipped,
                         result.page_results[3].output_path),
              std::tuple(false, true, out_ / "p4.jpg"));
    EXPECT_EQ(test::names_in(out_), (Names{"p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}));
    EXPECT_EQ(test::read_file(out_ / "p2.jpg") + test::read_file(out_ / "p3.jpg") +
                  test::read_file(out_ / "p4.jpg"),
              "oldlateold");
    // Again: every page is skipped, a success that renders nothing.
    rendered.clear();
    const ConvertResult all = run(again);
    EXPECT_EQ(std::tuple(all.error.has_value(), all.pages_skipped, rendered.size(), events_.size()),
              std::tuple(false, 4u, 0u, 5u));
}

TEST_P(AnyHelpersTest, DiskFullOrTheOutputLimitStopsTheJobAndKeepsTheEarlierPages) {
    detail::OutputSyscalls calls = detail::real_output_syscalls();
    calls.open = [](const char* path, int flags, unsigned mode) {
        if (std::strstr(path, "/.p2.") != nullptr) {
            errno = ENOSPC;
            return -1;
        }
        return ::open(path, flags, mode);
    };
    // Disk full at page 2, or the total output over the limit at page 1.
    for (const bool full : {true, false}) {
        hooks_.output = full ? &calls : nullptr;
        ConvertRequest req = request(test::simple_pdf(4));
        req.limits.max_job_output_bytes = full ? req.limits.max_job_output_bytes : 100;
        const ConvertResult result = run(std::move(req));
        const auto error =
            full ? make_error(ErrorKind::DiskFull, "The output drive is full.", 2)
                 : make_error(ErrorKind::LimitExceeded,
                              "The output exceeds the total size allowed for one job.", 1);
        EXPECT_EQ(result.error, error);
        EXPECT_FALSE(result.cancelled);
        ASSERT_EQ(result.page_results.size(), error.page);
        EXPECT_EQ(result.page_results.back().error, error);
        EXPECT_EQ(std::tuple(result.pages_written, result.pages_failed),
                  std::tuple(error.page - 1, 1u));
        EXPECT_EQ(test::names_in(out_), full ? Names{"p1.jpg"} : Names{});
    }
}

TEST_F(ConvertTest, AOnePageJobEncodesOnTheCallersThread) {
    // Nothing would run beside it: a thread would only cost its start.
    std::thread::id encoder;
    hooks_.before_encode = [&encoder](std::uint32_t) { encoder = std::this_thread::get_id(); };
    EXPECT_EQ(run(request(test::simple_pdf(1))).pages_written, 1u);
    EXPECT_EQ(encoder, std::this_thread::get_id());
}

TEST_F(ConvertTest, OpenFailuresKeepTheirKindWhenTheJobLimitHasPassed) {
    // Only an open that the job's limit cut off is a time-out.
    test::write_file(dir_ / "plain.pdf", test::simple_pdf(1));
    ASSERT_TRUE(test::qpdf_encrypt(dir_ / "plain.pdf", dir_ / "locked.pdf", "pw", "o", 128, true));
    test::write_file(dir_ / "damaged.pdf", "%PDF-1.7\n" + std::string(5000, '#'));
    fs::create_directory(dir_ / "folder.pdf");
    const std::pair<const char*, ErrorKind> cases[] = {{"locked.pdf", ErrorKind::PasswordRequired},
                                                       {"damaged.pdf", ErrorKind::DamagedPdf},
                                                       {"folder.pdf", ErrorKind::InputUnreadable},
                                                       {"absent.pdf", ErrorKind::InputNotFound}};
    for (const auto& [name, kind] : cases) {
        ConvertRequest req = request(test::simple_pdf(1));
        req.input = dir_ / name;
        req.limits.job_timeout_ms = 1;
        const ConvertResult result = run(std::move(req));
        EXPECT_EQ(result.error ? result.error->kind : ErrorKind::InternalError, kind) << name;
    }
}

TEST_F(ConvertTest, PreflightFailuresStopTheJobBeforeAnyRendering) {
    const std::string b200(200, 'b');
    const struct {
        std::string pdf;
        void (*change)(ConvertRequest&);
        ConvertError error;
    } cases[] = {
        {test::simple_pdf(2, 612, 4000),
         [](ConvertRequest& r) { r.pages = "2", r.image.dpi = 600; },
         make_error(ErrorKind::LimitExceeded,
                    "Page 2: At 600 DPI the page would be 5100 \xC3\x97 33333 px; the maximum "
                    "side is 32767 px. Lower the DPI.",
                    2)},
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
        // Under "ask", a taken name is refused before anything is rendered.
        {test::simple_pdf(3),
         [](ConvertRequest& r) { test::write_file(r.output_folder / "p2.jpg", "old"); },
         make_error(ErrorKind::OutputExists,
                    "\"p2.jpg\" already exists in the output folder. Choose another folder, or "
                    "allow overwriting or renaming.")},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.error.message);
        ConvertRequest req = request(item.pdf);
        item.change(req);
        const Names before = test::names_in(out_);
        const ConvertResult result = run(std::move(req));
        EXPECT_EQ(result.error, item.error);
        EXPECT_TRUE(result.page_results.empty());
        EXPECT_TRUE(events_.empty());
        EXPECT_GT(result.document.page_count, 0);
        EXPECT_EQ(test::names_in(out_), before);
    }
    // At the job's pixel limit exactly, the job runs.
    ConvertRequest req = request(test::simple_pdf(3));
    req.image.dpi = 72;
    req.limits.max_job_pixels = 612 * 792 * 3;
    EXPECT_EQ(run(std::move(req)).error, std::nullopt);
}

}  // namespace
}  // namespace bl
