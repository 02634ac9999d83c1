#include "stateTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace webtest {

stateDir::stateDir()
{
    struct stat st;
    std::string base = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::string name = base + "/fuelweb_state_XXXXXX";
    if (::mkdtemp(name.data()) != nullptr) dir = name;
    EXPECT_FALSE(dir.empty()) << "no directory for the state file";
}

stateDir::~stateDir()
{
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
}

installedOutbox::installedOutbox(const std::string& file, state::outboxTiming t)
{
    std::string error;
    box = state::outbox::forFile(file, error);
    EXPECT_TRUE(box) << error;
    if (!box) return;
    box->setTiming(t);
    installation = state::outbox::install(box);
}

installedOutbox::~installedOutbox()
{
    state::outbox::uninstall(installation);
}

namespace {

std::unique_ptr<state::stateDb> reader(const std::string& file)
{
    std::string error;
    auto db = state::stateDb::open(file, state::stateDb::readOnly, state::stateDb::normal, error);
    EXPECT_TRUE(db) << error;
    return db;
}

}  // namespace

std::vector<state::outboxEntry> entriesOf(const std::string& file, const std::string& orderId)
{
    auto db = reader(file);
    return db ? state::outbox::ofOrder(*db, orderId) : std::vector<state::outboxEntry>();
}

std::vector<state::journalRow> journalOf(const std::string& file, const std::string& orderId)
{
    auto db = reader(file);
    return db ? state::journal::ofOrder(*db, orderId) : std::vector<state::journalRow>();
}

std::vector<std::string> journalKinds(const std::string& file, const std::string& orderId)
{
    std::vector<std::string> out;
    for (const state::journalRow& r : journalOf(file, orderId))
        out.push_back(r.kind + ":" + std::to_string(r.code) + ":" + r.text);
    return out;
}

writeBlocker::writeBlocker(const std::string& file)
{
    std::string error;
    db = state::stateDb::open(file, state::stateDb::readWrite, state::stateDb::normal, error);
    EXPECT_TRUE(db && db->exec("BEGIN EXCLUSIVE")) << error;
}

writeBlocker::~writeBlocker()
{
    if (db) db->exec("ROLLBACK");
}

}  // namespace webtest
