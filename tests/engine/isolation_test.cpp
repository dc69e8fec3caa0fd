// The render helper as the engine sees it: the protocol both sides check, the
// sandbox as proved from inside a helper, and what a job does when a helper dies
// or will not stop.
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "bl/inspection.h"
#include "engine/converter.h"
#include "engine/render_helper.h"
#include "engine/render_protocol.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

namespace fs = std::filesystem;
namespace proto = protocol;
using test::PdfWriter;

// Every message of the table, valid and not: what decodes is exactly what was
// sent, and nothing cut short, lengthened or malformed gets through.
template <class Variant>
void expect_wire_forms(const std::vector<std::pair<Variant, bool>>& cases) {
    std::set<std::size_t> covered;
    for (const auto& [message, valid] : cases) {
        SCOPED_TRACE(testing::Message() << proto::name_of(message) << " valid " << valid);
        const auto frame = proto::encode(message);
        EXPECT_EQ(proto::decode<Variant>(frame), valid ? std::optional(message) : std::nullopt);
        if (valid) {
            covered.insert(message.index());
        }
        for (std::size_t cut = 0; valid && cut < frame.size(); ++cut) {
            EXPECT_FALSE(proto::decode<Variant>(std::span(frame).first(cut))) << cut;
        }
        auto longer = frame;
        longer.push_back(0);
        EXPECT_FALSE(proto::decode<Variant>(longer));
    }
    // A message added to the table needs its rows here.
    EXPECT_EQ(covered.size(), std::variant_size_v<Variant>);
}

TEST(Protocol, EveryMessageOfTheTableSurvivesTheWireAndNothingElseDoes) {
    using R = proto::Render;
    expect_wire_forms<proto::ToHelper>({
        {proto::Open{1000, 10000, true, std::string("pa\0ss", 5)}, true},
        {proto::MapBuffer{2, 4096}, true},
        {R{3, 10, 20, 40, 1, proto::kAnnotations, Rgb{1, 2, 3}, 0}, true},
        {proto::SelfTest{}, true},
        {proto::UnknownCall{}, true},
        {R{0, 10, 10, 40, 0, 0, Rgb{}, 0}, false},
        {R{1, 0, 10, 40, 0, 0, Rgb{}, 0}, false},
        {R{1, 10, 10, 39, 0, 0, Rgb{}, 0}, false},  // a stride shorter than a row
        {R{1, 10, 10, 40, proto::kMaxBufferSlots, 0, Rgb{}, 0}, false},
        {R{1, 10, 10, 40, 0, 0x80, Rgb{}, 0}, false},
        {R{1, 10, 10, 40, 0, 0, Rgb{}, -1}, false},
        {proto::MapBuffer{proto::kMaxBufferSlots, 4096}, false},
        {proto::Open{0, -1, false, ""}, false},
        {proto::Open{0, 1, false, std::string(proto::kMaxPassword + 1, 'x')}, false},
    });
    expect_wire_forms<proto::ToEngine>({
        {proto::Hello{proto::kVersion, proto::kSeccomp | proto::kLandlock, 3}, true},
        {proto::Opened{proto::LoadStatus::Loaded, 2, 17, 4, {{612, 792}, {200, 100}}}, true},
        {proto::Opened{proto::LoadStatus::Password, 0, 0, -1, {}}, true},
        {proto::Rendered{3, proto::RenderStatus::TimedOut}, true},
        {proto::SelfTestResult{proto::kExecRefused}, true},
        {proto::Opened{proto::LoadStatus::Loaded, 2, 17, 4, {{1, 1}}}, false},  // sizes missing
        {proto::Opened{proto::LoadStatus::Damaged, 1, 17, 4, {}}, false},
        {proto::Rendered{1, static_cast<proto::RenderStatus>(6)}, false},
        {proto::Hello{proto::kVersion + 1, 0, 0}, false},
    });
    // Each side takes only what the other sends.
    EXPECT_FALSE(proto::decode<proto::ToEngine>(proto::encode(proto::SelfTest{})));
    EXPECT_FALSE(proto::decode<proto::ToHelper>(proto::encode(proto::SelfTestResult{})));
    auto frame = proto::encode(proto::SelfTest{});
    frame[6] = 1;  // the reserved field
    EXPECT_FALSE(proto::decode<proto::ToHelper>(frame));
}

std::unique_ptr<RenderHelper> greeted_helper(const ControlPage& control, proto::Hello& hello) {
    auto helper = RenderHelper::spawn(nullptr, control, ConvertLimits{}.max_helper_memory_bytes);
    const auto reply =
        helper ? (*helper)->receive(Clock::now() + std::chrono::seconds(30)) : std::nullopt;
    if (!reply || !std::holds_alternative<proto::Hello>(*reply)) {
        return nullptr;
    }
    hello = std::get<proto::Hello>(*reply);
    return std::move(*helper);
}

TEST(Sandbox, AHelperCannotWriteConnectOrRunProgramsAndNamesACallItDoesNotKnow) {
    auto control = ControlPage::create();
    ASSERT_TRUE(control);
    proto::Hello hello;
    auto helper = greeted_helper(**control, hello);
    ASSERT_TRUE(helper && helper->send(proto::SelfTest{}));
    const std::uint32_t needed = proto::kNoNewPrivileges | proto::kNotDumpable | proto::kSeccomp;
    EXPECT_EQ(hello.sandbox & needed, needed);
    const auto reply = helper->receive(Clock::now() + std::chrono::seconds(30));
    ASSERT_TRUE(reply && std::holds_alternative<proto::SelfTestResult>(*reply));
    // Landlock hides everything but the fonts PDFium needs, where the kernel has it.
    const std::uint32_t refused = proto::kWriteOpenRefused | proto::kSocketRefused |
                                  proto::kExecRefused |
                                  ((hello.sandbox & proto::kLandlock) != 0
                                       ? proto::kReadOutsideFontsRefused | proto::kFontsReadable
                                       : 0u);
    EXPECT_EQ(std::get<proto::SelfTestResult>(*reply).bits & refused, refused);

    // A call on no list ends the helper, which says which one it was.
    ASSERT_TRUE(helper->send(proto::UnknownCall{}));
    EXPECT_FALSE(helper->receive(Clock::now() + std::chrono::seconds(30)));
    EXPECT_EQ(helper->end(), HelperEnd::SandboxViolation);
    EXPECT_FALSE(helper->send(proto::SelfTest{}));  // refused at once, never waited for
    EXPECT_EQ(helper->report(),
              "brightleaf-render: the sandbox does not allow system call sysfs (139)");
}

// Pages marked 'e' never finish loading (a form drawn twice by each of 30 nested
// forms); every other character is a plain page.
std::string document(const std::string& pattern) {
    PdfWriter writer;
    const std::string form = "/Type /XObject /Subtype /Form /BBox [0 0 10 10]";
    for (const char kind : pattern) {
        test::PdfPage page = test::page_of_size(612, 792);
        page.content = "BT /F1 24 Tf 72 700 Td (Hello) Tj ET";
        if (kind == 'e') {
            int inner = writer.add_stream(form, "0 0 1 1 re f");
            for (int level = 0; level < 30; ++level) {
                inner = writer.add_stream(
                    form + " /Resources << /XObject << /X " + PdfWriter::ref(inner) + " >> >>",
                    "/X Do /X Do");
            }
            page.extra_resources = "/XObject << /X " + PdfWriter::ref(inner) + " >>";
            page.content = "/X Do";
        }
        writer.add_page(page);
    }
    return writer.build();
}

class IsolationTest : public ::testing::Test {
  protected:
    ConvertRequest request(const std::string& pattern) {
        test::write_file(dir_ / "doc.pdf", document(pattern));
        fs::remove_all(out_);
        fs::create_directories(out_);
        ConvertRequest result;
        result.input = dir_ / "doc.pdf";
        result.output_folder = out_;
        result.naming_template = "p{page_number}";
        return result;
    }

    test::TempDir dir_;
    fs::path out_ = dir_ / "out";
    detail::DriverHooks hooks_;
};

// Makes a helper seem to say something nobody asked it: a frame written on its
// own end of the socket, which the engine reads as the helper's. Needs the
// right to take a descriptor from another process, as root has.
bool speak_for_helper(int pid, const std::vector<std::uint8_t>& frame) {
    const UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    const UniqueFd socket(
        process ? static_cast<int>(::syscall(SYS_pidfd_getfd, process.get(), proto::kSocketFd, 0))
                : -1);
    return socket &&
           ::write(socket.get(), frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
}

TEST_F(IsolationTest, HelpersThatDieOrBreakTheProtocolFailOnlyTheirPagesUntilThreeInARow) {
    const struct {
        std::string pattern;
        std::set<std::uint32_t> killed;
        std::set<std::string> written;
        std::uint32_t failed;
        bool job_ends;
        bool breach = false;  // instead of a crash, a reply that is not due
    } cases[] = {
        // A crash in the middle of page 2 of 4: a fresh helper takes page 3.
        {"pepp", {2}, {"p1.jpg", "p3.jpg", "p4.jpg"}, 1, false},
        {"pepp", {2}, {"p1.jpg", "p3.jpg", "p4.jpg"}, 1, false, true},
        // Two in a row are still survived (page 4 runs out of time); the third ends the job.
        {"eepe", {1, 2}, {"p3.jpg"}, 3, false},
        {"eeepp", {1, 2, 3}, {}, 3, true},
    };
    const auto unasked = proto::encode(proto::SelfTestResult{});
    // With pages rendered ahead by other helpers too, only the killed one's page fails.
    for (const int helpers : {1, 4}) {
        for (const auto& item : cases) {
            SCOPED_TRACE(item.pattern + " with " + std::to_string(helpers) + " helpers");
            hooks_.render_started = [&](std::uint32_t page, int pid) {
                // Never -1, which would signal every process there is.
                if (item.killed.count(page) != 0 && item.breach) {
                    ASSERT_TRUE(pid > 1 && speak_for_helper(pid, unasked));
                } else if (item.killed.count(page) != 0) {
                    ASSERT_EQ(pid > 1 ? ::kill(pid, SIGSEGV) : -1, 0);
                }
            };
            ConvertRequest req = request(item.pattern);
            // Enough for a new helper to start and open the document on a busy
            // machine, a sanitizer's build too.
            req.limits.page_timeout_ms = 1000;
            req.limits.render_helpers = helpers;
            const ConvertResult result = convert(std::move(req), {}, CancellationToken{}, hooks_);
            EXPECT_EQ(test::names_in(out_), item.written);
            EXPECT_EQ(result.pages_failed, item.failed);
            for (const std::uint32_t page : item.killed) {
                EXPECT_EQ(
                    result.page_results.at(page - 1).error,
                    make_error(ErrorKind::RenderFailed, "The page could not be rendered.", page));
            }
            EXPECT_EQ(result.diagnostics.empty() ? "" : result.diagnostics.front(),
                      item.breach ? "Page 2: the render helper sent SelfTestResult where nothing "
                                    "of the kind was due"
                                  : "Page " + std::to_string(*item.killed.begin()) +
                                        ": the render helper crashed");
            EXPECT_EQ(result.error ? result.error->page : 0u, item.job_ends ? 3u : 0u);
            EXPECT_EQ(result.page_results.size(), item.job_ends ? 3u : item.pattern.size());
        }
    }
}

// 2,000,000 references to one page in the page tree: the parser holds them all.
std::string wide_page_tree() {
    PdfWriter writer;
    writer.add_page(test::page_of_size(612, 792));
    writer.set_kids_repeat(2'000'000);
    writer.set_page_count_override(2'000'000);
    return writer.build();
}

TEST_F(IsolationTest, OpensAreHeldToTheJobLimitAndTheMemoryCap) {
    // A helper started after a death opens the document again; frozen there, it
    // is ended at the job's limit like a page.
    ConvertRequest req = request("pp");
    req.limits.render_helpers = 1;
    req.limits.job_timeout_ms = 1500;
    hooks_.render_started = [](std::uint32_t page, int pid) {
        ASSERT_EQ(pid > 1 ? ::kill(pid, page == 1 ? SIGSEGV : SIGSTOP) : -1, 0);
    };
    const auto start = Clock::now();
    ConvertResult result = convert(std::move(req), {}, CancellationToken{}, hooks_);
    EXPECT_LT(elapsed_ms(start, Clock::now()), 1500 + 1000 + 1500);
    EXPECT_EQ(result.error,
              make_error(ErrorKind::TimedOut, "The conversion took longer than the allowed time."));
    EXPECT_EQ(result.page_results.at(1).error->kind, ErrorKind::TimedOut);

    // Builds with sanitizers run their helpers without the cap.
    const auto hello = probe_helper();
    if (!hello || (hello->sandbox & proto::kMemoryLimit) == 0) {
        GTEST_SKIP() << "the helpers run without a memory cap here";
    }
    test::write_file(dir_ / "wide.pdf", wide_page_tree());
    req = request("p");
    req.input = dir_ / "wide.pdf";
    req.limits.max_helper_memory_bytes = 200u << 20;
    const auto not_enough =
        make_error(ErrorKind::OutOfMemory, "Not enough memory to open this PDF.");
    EXPECT_EQ(convert(std::move(req), {}, CancellationToken{}, {}).error, not_enough);
    ConvertLimits limits;
    limits.max_helper_memory_bytes = 200u << 20;
    EXPECT_EQ(test::error_of(inspect_pdf(dir_ / "wide.pdf", {}, limits)), not_enough);
}

TEST_F(IsolationTest, AnEndlessPageIsEndedAtItsDeadlineOrASecondAfterACancel) {
    // Without a cancel, the page limit plus its grace ends the page.
    ConvertRequest timed = request("epp");
    timed.limits.page_timeout_ms = 300;
    std::vector<ProgressEvent> events;
    auto start = Clock::now();
    ConvertResult result = convert(
        std::move(timed), [&events](const ProgressEvent& event) { events.push_back(event); }, {});
    EXPECT_LT(elapsed_ms(start, Clock::now()), 300 + 1000 + 2000);
    EXPECT_EQ(result.error, std::nullopt);
    EXPECT_EQ(result.page_results.at(0).error,
              make_error(ErrorKind::TimedOut,
                         "Rendering this page took longer than the allowed time.", 1));
    EXPECT_EQ(events.at(2), (ProgressEvent{ProgressStage::PageFailed, 1, 0, 3}));
    EXPECT_EQ(test::names_in(out_), (std::set<std::string>{"p2.jpg", "p3.jpg"}));

    // A cancel while the endless page loads: the job returns within the grace.
    const CancellationToken token;
    hooks_.render_started = [&token](std::uint32_t, int) {
        std::thread([token] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            token.cancel();
        }).detach();
    };
    start = Clock::now();
    result = convert(request("e"), {}, token, hooks_);
    EXPECT_LT(elapsed_ms(start, Clock::now()), 100 + 1000 + 1000);
    EXPECT_EQ(result.error, make_error(ErrorKind::Cancelled, "Conversion was cancelled."));
    EXPECT_TRUE(result.cancelled);
}

}  // namespace
}  // namespace bl
