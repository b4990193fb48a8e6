// What an inbox needs of the runs that delete: del --id deletes only the message that was listed,
// and take --to leaves every message exactly once in the spool and none on the modem, also after a
// run killed halfway.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "harness.h"

namespace {

using namespace e2e;

// The ids a -j listing shows, by index.
std::map<int, std::string> IdsOf(const std::string& document) {
  std::map<int, std::string> ids;
  const std::string key = "{\"index\":";
  for (size_t at = document.find(key); at != std::string::npos; at = document.find(key, at + 1)) {
    const int index = atoi(document.c_str() + at + key.size());
    const size_t id = document.find("\"id\":\"", at);
    if (id != std::string::npos) ids[index] = document.substr(id + 6, 16);
  }
  return ids;
}

std::vector<int> Indexes(const sim::Modem& modem) {
  std::vector<int> indexes;
  for (const sim::Message& m : modem.Messages("SM")) indexes.push_back(m.index);
  return indexes;
}

// Gaps at 2 and 4: a run without -q spends a silence on each.
void AddThree(sim::Modem& modem) {
  modem.AddMessage("SM", {1, "REC UNREAD", "+491701234567", "24/05/01,10:20:30+08", "first"});
  modem.AddMessage("SM", {3, "REC READ", "Vodafone", "24/05/02,08:15:00+08", "second \xF0\x9F\x98\x80"});
  modem.AddMessage("SM", {5, "REC UNREAD", "+4930123456", "24/05/03,21:00:05+08", "third"});
}

// del --id ID 3 after a listing that showed message 3 with that id: deleted only while index 3
// still holds it.
struct ByIdCase {
  const char* name;
  void (*meanwhile)(sim::Modem& modem);  // what happens between the listing and the deletion
  int status;
  std::vector<int> left;
  bool listing;  // the listing follows the deletion
};
void PrintTo(const ByIdCase& c, std::ostream* os) { *os << c.name; }
class DeleteById : public ::testing::TestWithParam<ByIdCase> {};

TEST_P(DeleteById, OnlyTheMessageListed) {
  const ByIdCase& c = GetParam();
  sim::Modem modem(SimOptions());
  AddThree(modem);
  START_MODEM(modem);
  const RunResult listed = RunAtsms({"-q", "-j", modem.SlavePath(), "sim", "list"});
  ASSERT_EQ(5, listed.exitStatus);
  const std::string id = IdsOf(listed.out)[3];
  ASSERT_EQ(16u, id.size()) << listed.out;
  if (c.meanwhile) c.meanwhile(modem);
  const RunResult run = RunAtsms({"-q", "--id", id, modem.SlavePath(), "sim", "del", "3"});
  EXPECT_EQ(c.status, run.exitStatus);
  EXPECT_EQ(c.left, Indexes(modem));
  EXPECT_EQ(c.listing, run.out.compare(0, ListHeader.size(), ListHeader) == 0) << run.out;
  EXPECT_EQ(c.listing ? "" : "atsms: message 3 is no longer the one listed (id " + id + "); nothing deleted\n",
            run.err);
}

// Another program deletes message 3 (and a new one arrives at the free index).
void Deleted(sim::Modem& modem) { EXPECT_EQ(5, RunAtsms({"-q", modem.SlavePath(), "sim", "del", "3"}).exitStatus); }
void Replaced(sim::Modem& modem) {
  Deleted(modem);
  modem.AddMessage("SM", {3, "REC UNREAD", "+4915112345678", "24/05/05,09:00:00+08", "new one"});
}

INSTANTIATE_TEST_SUITE_P(
    Inbox, DeleteById,
    ::testing::Values(ByIdCase{"SameMessage", nullptr, 5, {1, 5}, true},
                      ByIdCase{"AnotherMessage", Replaced, 255, {1, 3, 5}, false},
                      ByIdCase{"NoMessage", Deleted, 255, {1, 5}, false}),
    [](const ::testing::TestParamInfo<ByIdCase>& info) { return std::string(info.param.name); });

// The spool: the files of DIR/<sub>, by name, with their contents.
std::map<std::string, std::string> Files(const std::string& dir, const char* sub) {
  std::map<std::string, std::string> files;
  DIR* const d = opendir((dir + "/" + sub).c_str());
  if (!d) return files;
  while (const dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::ifstream in(dir + "/" + sub + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    files[name] = text.str();
  }
  closedir(d);
  return files;
}

ino_t Inode(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

struct TempDir {
  std::string path;
  TempDir() {
    char name[] = "/tmp/atsms-spool-XXXXXX";
    path = mkdtemp(name) ? name : "";
  }
  ~TempDir() { RunProgram({"/bin/rm", "-rf", path}); }
};

// A take --to run killed at one step, then one run to the end: every message once in DIR/new,
// each file its -j object and a line end, none on the modem, a file written before never written again.
enum class KillAt { BeforeTheWrite, BetweenRenameAndDelete };
struct KilledCase { const char* name; KillAt at; };
void PrintTo(const KilledCase& c, std::ostream* os) { *os << c.name; }
class TakeToKilled : public ::testing::TestWithParam<KilledCase> {};

TEST_P(TakeToKilled, NextRunLeavesEachMessageOnce) {
  const KilledCase& c = GetParam();
  sim::Modem modem(SimOptions());
  AddThree(modem);
  START_MODEM(modem);
  TempDir spool;
  ASSERT_FALSE(spool.path.empty());
  const std::string dir = spool.path + "/usb2";  // made by the run
  // The ids as a listing gives them (also with -q, also after the listing has marked them read).
  const std::map<int, std::string> ids = IdsOf(RunAtsms({"-j", modem.SlavePath(), "sim", "list"}).out);
  ASSERT_EQ(3u, ids.size());

  {
    const size_t before = modem.Commands().size();
    Child run(AtsmsArgv({"--to", dir, modem.SlavePath(), "sim", "take"}));  // without -q: a silence per answer
    ASSERT_TRUE(run.Started());
    if (c.at == KillAt::BeforeTheWrite) {
      ASSERT_TRUE(WaitForCommands(modem, before + Prepared(StorageSim).size() + 2, 20000));  // up to AT+CMGL=4
    } else {
      for (const double end = Now() + 20; Files(dir, "new").empty() && Now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(0, kill(run.Pid(), SIGKILL));
    const RunResult killed = run.Finish(10000);
    EXPECT_EQ(SIGKILL, killed.signal);
  }
  const std::map<std::string, std::string> before = Files(dir, "new");
  std::map<std::string, ino_t> inodes;  // a file written again is another file
  for (const auto& entry : before) inodes[entry.first] = Inode(dir + "/new/" + entry.first);
  EXPECT_EQ(c.at == KillAt::BeforeTheWrite ? 0u : 1u, before.size());
  EXPECT_EQ((std::vector<int>{1, 3, 5}), Indexes(modem)) << "deleted by the killed run";

  const RunResult rest = RunAtsms({"-q", "--to", dir, modem.SlavePath(), "sim", "take"});
  EXPECT_EQ(5, rest.exitStatus) << rest.err;
  EXPECT_EQ("", rest.out);
  EXPECT_EQ("", rest.err);
  EXPECT_TRUE(Indexes(modem).empty());
  const std::map<std::string, std::string> files = Files(dir, "new");
  ASSERT_EQ(3u, files.size());
  for (const auto& entry : ids) {
    const auto file = files.find(entry.second + ".json");
    ASSERT_NE(files.end(), file) << "message " << entry.first;
    const std::string start = "{\"index\":" + std::to_string(entry.first) + ",\"id\":\"" + entry.second + "\",";
    EXPECT_EQ(start, file->second.substr(0, start.size()));
    EXPECT_EQ(1, std::count(file->second.begin(), file->second.end(), '\n'));
    EXPECT_EQ('\n', file->second.back());
  }
  for (const auto& entry : before) EXPECT_EQ(entry.second, files.at(entry.first)) << "written again";
  for (const auto& entry : inodes) EXPECT_EQ(entry.second, Inode(dir + "/new/" + entry.first)) << "written again";
}

INSTANTIATE_TEST_SUITE_P(Inbox, TakeToKilled,
                         ::testing::Values(KilledCase{"BeforeTheWrite", KillAt::BeforeTheWrite},
                                           KilledCase{"BetweenRenameAndDelete", KillAt::BetweenRenameAndDelete}),
                         [](const ::testing::TestParamInfo<KilledCase>& info) { return std::string(info.param.name); });

}  // namespace
