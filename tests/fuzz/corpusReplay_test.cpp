// Every input of every fuzz target's corpus folder, run through the target's checks by the normal
// build: the seeds, and each input that once made a parser fail, so the fault stays fixed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fuzzTarget.h"

namespace {

namespace fs = std::filesystem;

const fs::path corpusRoot = FUZZ_CORPUS_DIR;

std::vector<std::string> targetNames()
{
    std::vector<std::string> names;
    for (const fuzzing::target& t : fuzzing::targets()) names.push_back(t.name);
    return names;
}

std::vector<fs::path> inputsOf(const std::string& name)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(corpusRoot / name, ec))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string readWhole(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

[[noreturn]] void throwFailure(const std::string& message)
{
    throw fuzzing::checkFailed{message};
}

class corpusReplay : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { fuzzing::onFailure(throwFailure); }
    void TearDown() override { fuzzing::onFailure(nullptr); }
};

TEST_P(corpusReplay, everyInputHolds)
{
    const std::vector<fuzzing::target>& all = fuzzing::targets();
    const auto t = std::find_if(all.begin(), all.end(), [&](const auto& x) { return x.name == GetParam(); });
    ASSERT_NE(t, all.end());
    const std::vector<fs::path> files = inputsOf(GetParam());
    ASSERT_FALSE(files.empty()) << "no corpus in " << (corpusRoot / GetParam());
    for (const fs::path& file : files) {
        try {
            t->run(readWhole(file));
        } catch (const fuzzing::checkFailed& f) {
            ADD_FAILURE() << file.filename() << ": " << f.message;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(targets, corpusReplay, ::testing::ValuesIn(targetNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// A corpus folder without its target would be silently skipped by the replay.
TEST(corpusFolders, eachBelongsToATarget)
{
    const std::vector<std::string> names = targetNames();
    for (const fs::directory_entry& e : fs::directory_iterator(corpusRoot)) {
        if (!e.is_directory()) continue;
        EXPECT_NE(std::find(names.begin(), names.end(), e.path().filename().string()), names.end())
            << e.path();
    }
}

}  // namespace
