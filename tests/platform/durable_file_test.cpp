#include "platform/durable_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <functional>

#include "support/sandbox.h"

namespace zavr {
namespace {

namespace fs = boost::filesystem;

// Whatever someone left at the temporary name is removed itself; the file it may share its data with,
// or lead to, keeps its bytes.
TEST(DurableFileTest, APlantedTemporaryNameIsNeverWrittenThrough) {
    test::TempDir dir;
    const std::string path = dir / "record.json";
    const std::string user = dir / "user.txt";
    const std::string temporary = path + ".tmp." + std::to_string(::getpid());
    const struct {
        const char* name;
        std::function<void()> plant;
    } cases[] = {
        {"a second name of the user's file", [&] { fs::create_hard_link(user, temporary); }},
        {"a link to it", [&] { fs::create_symlink(user, temporary); }},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(temporary.c_str(), 0600), 0); }},
        {"an empty folder", [&] { fs::create_directory(temporary); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFile(user, "the user's own");
        c.plant();
        EXPECT_FALSE(ReplaceFileDurably(path, "{}\n"));
        EXPECT_EQ(test::ReadFile(path), "{}\n");
        EXPECT_EQ(test::ReadFile(user), "the user's own");
        EXPECT_FALSE(fs::exists(fs::symlink_status(temporary)));
    }
}

}  // namespace
}  // namespace zavr
