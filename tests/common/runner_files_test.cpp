#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "runner.h"

using namespace pcudata;

// Each test works in a private temporary directory of its own, removed afterwards.
class RunnerFiles : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        char name[] = "/tmp/runner_files_XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir = name;
    }

    void TearDown() override
    {
        for (const char* leaf : {"key", "target", "link", "sub"}) {
            std::string p = dir + "/" + leaf;
            if (::unlink(p.c_str()) != 0) ::rmdir(p.c_str());
        }
        ::rmdir(dir.c_str());
    }

    std::string path(const char* leaf) const { return dir + "/" + leaf; }

    static mode_t modeOf(const std::string& p)
    {
        struct stat st;
        return ::stat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }

    static std::string contentOf(const std::string& p)
    {
        std::ifstream in(p);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

TEST_F(RunnerFiles, FileExistsForAnyKindOfFileButNotForEmptyOrMissing)
{
    EXPECT_TRUE(runner::FileExists(dir));
    EXPECT_TRUE(runner::FileExists(dir.c_str()));
    EXPECT_FALSE(runner::FileExists(path("key")));
    EXPECT_FALSE(runner::FileExists(std::string()));
    EXPECT_FALSE(runner::FileExists(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(runner::FileExists(""));
}

TEST_F(RunnerFiles, MissingFileIsCreatedWithTheExactModeWhateverTheMask)
{
    mode_t previous = ::umask(077);
    bool made = runner::touchFile(path("key"), 0666);
    mode_t during = ::umask(previous);
    EXPECT_TRUE(made);
    EXPECT_EQ(during, 077u);  // the caller's mask is put back
    EXPECT_EQ(modeOf(path("key")), 0666u);
    EXPECT_TRUE(runner::FileExists(path("key")));
}

TEST_F(RunnerFiles, ExistingFileKeepsItsContentsAndPermissions)
{
    {
        std::ofstream(path("key")) << "keep me";
    }
    ASSERT_EQ(::chmod(path("key").c_str(), 0640), 0);
    EXPECT_TRUE(runner::touchFile(path("key").c_str(), 0666));
    EXPECT_EQ(contentOf(path("key")), "keep me");
    EXPECT_EQ(modeOf(path("key")), 0640u);
}

TEST_F(RunnerFiles, EmptyOrUncreatablePathsFail)
{
    EXPECT_FALSE(runner::touchFile(std::string(), 0666));
    EXPECT_FALSE(runner::touchFile(static_cast<const char*>(nullptr), 0666));
    EXPECT_FALSE(runner::touchFile(path("sub") + "/key", 0666));
}

// The key file lives in a directory that everybody may write to, and the daemon may run as root.
// A link planted under the key file's name must not make it create a world-writable file
// wherever the link points.
TEST_F(RunnerFiles, DanglingLinkIsNotFollowedToCreateItsTarget)
{
    ASSERT_EQ(::symlink(path("target").c_str(), path("link").c_str()), 0);
    EXPECT_FALSE(runner::touchFile(path("link"), 0666));
    EXPECT_FALSE(runner::FileExists(path("target")));
}

TEST_F(RunnerFiles, LinkToAnExistingFileIsAcceptedAndLeftAlone)
{
    {
        std::ofstream(path("target")) << "data";
    }
    ASSERT_EQ(::chmod(path("target").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(path("target").c_str(), path("link").c_str()), 0);
    EXPECT_TRUE(runner::touchFile(path("link"), 0666));
    EXPECT_EQ(contentOf(path("target")), "data");
    EXPECT_EQ(modeOf(path("target")), 0600u);
}
