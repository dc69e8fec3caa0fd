// The render helper as the engine sees it: the protocol both sides check, the
// sandbox as proved from inside a helper, and what a job does when a helper dies
// or will not stop.
#include <signal.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "bl/version.h"
#include "engine/converter.h"
#include "engine/render_helper.h"
#include "engine/render_protocol.h"
#include "tests/support/pdf_writer.h"
#include "tests/support/test_files.h"

namespace bl {
namespace {

namespace fs = std::filesystem;
namespace proto = protocol;
using test::PdfPage;
using test::PdfWriter;

// --- Protocol -----------------------------------------------------------------------

TEST(Protocol, EveryMessageSurvivesTheWireAndNothingElseDoes) {
    proto::Opened opened;
    opened.page_count = 2;
    opened.pdf_version = 17;
    opened.security_revision = 4;
    opened.page_sizes = {{612, 792}, {200, 100}};
    const proto::Render render{3, 10, 20, 40, 1, proto::kAnnotations, Rgb{1, 2, 3}, 123};
    const proto::Message messages[] = {
        proto::Hello{proto::kVersion, proto::kSeccomp | proto::kLandlock, 3},
        proto::Open{1000, 10000, true, std::string("pa\0ss", 5)},
        opened,
        proto::MapBuffer{2, 4096},
        render,
        proto::Rendered{3, proto::RenderStatus::TimedOut},
        proto::SelfTest{},
        proto::SelfTestResult{proto::kExecRefused},
    };
    for (const proto::Message& message : messages) {
        const auto frame = proto::encode(message);
        EXPECT_EQ(proto::decode(frame), message) << "type index " << message.index();
        // Any frame cut short, or with a byte too many, is refused.
        for (std::size_t cut = 0; cut < frame.size(); ++cut) {
            EXPECT_FALSE(proto::decode(std::span(frame).first(cut))) << cut;
        }
        auto longer = frame;
        longer.push_back(0);
        EXPECT_FALSE(proto::decode(longer));
    }
}

TEST(Protocol, FieldsOutOfRangeAreRefused) {
    const auto refused = [](const proto::Message& message) {
        return !proto::decode(proto::encode(message)).has_value();
    };
    const proto::Render render{1, 10, 10, 40, 0, 0, Rgb{}, 0};
    EXPECT_FALSE(refused(render));
    for (auto change : std::initializer_list<void (*)(proto::Render&)>{
             [](proto::Render& r) { r.page = 0; },
             [](proto::Render& r) { r.width = 0; },
             [](proto::Render& r) { r.height = -1; },
             [](proto::Render& r) { r.stride = 39; },  // shorter than a row
             [](proto::Render& r) { r.slot = proto::kMaxBufferSlots; },
             [](proto::Render& r) { r.flags = 0x80; },
             [](proto::Render& r) { r.deadline_ns = -1; },
         }) {
        proto::Render bad = render;
        change(bad);
        EXPECT_TRUE(refused(bad));
    }
    proto::Opened opened;
    opened.page_count = 2;
    opened.page_sizes = {{1, 1}};  // sizes for some pages only
    EXPECT_TRUE(refused(opened));
    EXPECT_TRUE(refused(proto::Open{0, -1, false, ""}));
    EXPECT_TRUE(refused(proto::Open{0, 1, false, std::string(proto::kMaxPassword + 1, 'x')}));
    EXPECT_TRUE(refused(proto::Hello{proto::kVersion + 1, 0, 0}));
    EXPECT_TRUE(refused(proto::Hello{proto::kVersion, proto::kLandlock, 0}));
    auto frame = proto::encode(proto::SelfTest{});
    frame[6] = 1;  // the reserved field
    EXPECT_FALSE(proto::decode(frame));
}

// --- Sandbox ------------------------------------------------------------------------

TEST(Sandbox, AHelperCannotWriteConnectOrRunPrograms) {
    auto control = ControlPage::create();
    ASSERT_TRUE(control);
    auto helper = RenderHelper::start(nullptr, **control, ConvertLimits{}.max_helper_memory_bytes,
                                      Clock::now() + std::chrono::seconds(30));
    ASSERT_TRUE(helper) << helper.error().message;
    const proto::Hello& hello = (*helper)->hello();
    EXPECT_NE(hello.sandbox & proto::kNoNewPrivileges, 0u);
    EXPECT_NE(hello.sandbox & proto::kNotDumpable, 0u);
    ASSERT_NE(hello.sandbox & proto::kSeccomp, 0u) << "seccomp is missing";

    ASSERT_TRUE((*helper)->send(proto::SelfTest{}));
    bool timed_out = false;
    const auto reply = (*helper)->receive(Clock::now() + std::chrono::seconds(30), timed_out);
    ASSERT_TRUE(reply && std::holds_alternative<proto::SelfTestResult>(*reply));
    const std::uint32_t bits = std::get<proto::SelfTestResult>(*reply).bits;
    EXPECT_NE(bits & proto::kWriteOpenRefused, 0u);
    EXPECT_NE(bits & proto::kSocketRefused, 0u);
    EXPECT_NE(bits & proto::kExecRefused, 0u);
    if ((hello.sandbox & proto::kLandlock) != 0) {
        EXPECT_NE(bits & proto::kReadOutsideFontsRefused, 0u);
        EXPECT_NE(bits & proto::kFontsReadable, 0u) << "the fonts PDFium needs are hidden";
    }
    EXPECT_NE(sandbox_summary().find("seccomp"), std::string::npos);
}

// --- A job whose helpers die or hang ---------------------------------------------------

// A page whose loading never ends: a form drawn twice by each of 30 nested forms.
PdfPage endless_page(PdfWriter& writer) {
    int inner =
        writer.add_stream("/Type /XObject /Subtype /Form /BBox [0 0 10 10]", "0 0 1 1 re f");
    for (int level = 0; level < 30; ++level) {
        inner = writer.add_stream(
            "/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Resources "
            "<< /XObject << /X " +
                PdfWriter::ref(inner) + " >> >>",
            "/X Do /X Do");
    }
    PdfPage page = test::page_of_size(612, 792);
    page.extra_resources = "/XObject << /X " + PdfWriter::ref(inner) + " >>";
    page.content = "/X Do";
    return page;
}

// Pages marked 'e' never finish loading; every other character is a plain page.
std::string document(const std::string& pattern) {
    PdfWriter writer;
    for (const char kind : pattern) {
        if (kind == 'e') {
            writer.add_page(endless_page(writer));
        } else {
            PdfPage page = test::page_of_size(612, 792);
            page.content = "BT /F1 24 Tf 72 700 Td (Hello) Tj ET";
            writer.add_page(page);
        }
    }
    return writer.build();
}

class IsolationTest : public ::testing::Test {
  protected:
    ConvertRequest request(const std::string& pattern) {
        test::write_file(dir_ / "doc.pdf", document(pattern));
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

TEST_F(IsolationTest, HelpersKilledMidPageFailOnlyTheirPagesUntilThreeInARow) {
    struct Case {
        std::string pattern;
        std::set<std::uint32_t> killed;
        std::set<std::string> written;
        std::uint32_t failed;
        bool job_ends;
    };
    const Case cases[] = {
        // A crash in the middle of page 2 of 4: a fresh helper takes page 3.
        {"pepp", {2}, {"p1.jpg", "p3.jpg", "p4.jpg"}, 1, false},
        // Two in a row are still survived; the third ends the job.
        {"eepe", {1, 2}, {"p3.jpg"}, 3, false},
        {"eeepp", {1, 2, 3}, {}, 3, true},
    };
    // With pages rendered ahead by other helpers too, only the killed one's page fails.
    for (const int helpers : {1, 4}) {
        for (const Case& item : cases) {
            SCOPED_TRACE(item.pattern + " with " + std::to_string(helpers) + " helpers");
            fs::remove_all(out_);
            hooks_.render_started = [&item](std::uint32_t page, int pid) {
                if (item.killed.count(page) != 0) {
                    ::kill(pid, SIGSEGV);
                }
            };
            // Page 4 of the second case is endless and not killed: it runs out of time.
            ConvertRequest req = request(item.pattern);
            req.limits.page_timeout_ms = 200;
            req.limits.render_helpers = helpers;
            const ConvertResult result = convert(std::move(req), {}, CancellationToken{}, hooks_);
            EXPECT_EQ(test::names_in(out_), item.written);
            EXPECT_EQ(result.pages_failed, item.failed);
            for (const PageResult& page : result.page_results) {
                if (item.killed.count(page.page) != 0) {
                    ASSERT_TRUE(page.error);
                    EXPECT_EQ(*page.error,
                              make_error(ErrorKind::RenderFailed, "The page could not be rendered.",
                                         page.page));
                }
            }
            EXPECT_EQ(result.error.has_value(), item.job_ends);
            if (item.job_ends) {
                EXPECT_EQ(result.error->page, 3u);
                EXPECT_EQ(result.page_results.size(), 3u);
            }
        }
    }
}

TEST_F(IsolationTest, AnEndlessPageIsEndedAtItsDeadlineOrASecondAfterACancel) {
    // Without a cancel, the page limit plus its grace ends the page.
    ConvertRequest timed = request("epp");
    timed.limits.page_timeout_ms = 300;
    auto start = Clock::now();
    ConvertResult result = convert(std::move(timed), {}, CancellationToken{});
    EXPECT_LT(elapsed_ms(start, Clock::now()), 300 + 1000 + 2000);
    ASSERT_FALSE(result.error) << result.error->message;
    ASSERT_EQ(result.page_results.size(), 3u);
    EXPECT_EQ(result.page_results[0].error,
              make_error(ErrorKind::TimedOut,
                         "Rendering this page took longer than the allowed time.", 1));
    EXPECT_EQ(result.pages_written, 2u);

    // A cancel while the endless page loads: the job returns within the grace.
    fs::remove_all(out_);
    const CancellationToken token;
    hooks_.render_started = [&token](std::uint32_t page, int) {
        if (page == 2) {
            std::thread([token] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                token.cancel();
            }).detach();
        }
    };
    start = Clock::now();
    result = convert(request("pep"), {}, token, hooks_);
    EXPECT_LT(elapsed_ms(start, Clock::now()), 100 + 1000 + 1000);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.error, make_error(ErrorKind::Cancelled, "Conversion was cancelled."));
    EXPECT_EQ(test::names_in(out_), (std::set<std::string>{"p1.jpg"}));
}

}  // namespace
}  // namespace bl
