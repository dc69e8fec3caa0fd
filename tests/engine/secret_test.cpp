#include "bl/secret.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace bl {
namespace {

TEST(CapPassword, CutsAt127BytesOnACharacterBoundaryAndWipesTheRest) {
    const std::string a126(126, 'a');
    // A character that would end past byte 127 goes whole; bytes that start no
    // character are cut one by one.
    const std::pair<std::string, std::string> cases[] = {
        {"s3cret", "s3cret"},
        {std::string(128, 'a'), std::string(127, 'a')},
        {a126 + "a\xC3\xA9", a126 + "a"},
        {a126 + "\xC3\xA9", a126},
        {a126.substr(2) + "\xF0\x9F\x93\x84", a126.substr(2)},
        {std::string(200, '\x80'), std::string(127, '\x80')},
    };
    for (const auto& [given, kept] : cases) {
        std::string password = given;
        const char* storage = password.data();
        cap_password(password);
        EXPECT_EQ(password, kept) << given.size();
        // Cut in place, and nothing of the cut-off part is left behind the end.
        ASSERT_EQ(password.data(), storage);
        for (std::size_t i = kept.size(); i < given.size(); ++i) {
            EXPECT_EQ(storage[i], '\0') << given.size() << " at " << i;
        }
    }
}

TEST(DisableCoreDumps, TurnsThemOffForTheWholeProcess) {
    // In a child, so that this test process keeps its own settings.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit core{};
        const bool done = disable_core_dumps() && ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0 &&
                          ::getrlimit(RLIMIT_CORE, &core) == 0 && core.rlim_cur == 0 &&
                          core.rlim_max == 0;
        ::_exit(done ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace bl
