// The service (packaging/common/atsms-service) against the simulated modem: it takes what arrives,
// hands each file to the command until it succeeds, and leaves the port free between rounds.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "harness.h"

namespace e2e {
namespace {

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFile(const std::string& path) {
  std::stringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

bool WaitForFiles(const std::string& dir, size_t count, int timeoutMs) {
  for (double end = Now() + timeoutMs / 1000.0; Files(dir).size() < count;) {
    if (Now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

TEST(Service, HandsEachArrivingMessageOverOnceAndRetriesAFailingCommand) {
  if (RunAtsms({"--help"}).out.find(" take ") == std::string::npos) GTEST_SKIP() << "this atsms has no take";
  char dirTemplate[] = "/tmp/atsms-service-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dirTemplate));
  const std::string dir = dirTemplate, spool = dir + "/spool", handed = dir + "/handed.jsonl";
  // The command fails the first two times it sees a file, then appends the file's line.
  std::ofstream(dir + "/command") << "#!/bin/sh\n"
                                     "count=\"" << dir << "/calls.${1##*/}\"\n"
                                     "echo x >>\"$count\"\n"
                                     "[ \"$(wc -l <\"$count\")\" -gt 2 ] && cat \"$1\" >>\"" << handed << "\"\n";
  chmod((dir + "/command").c_str(), 0755);
  sim::Modem modem(SimOptions());
  modem.AddMessage("SM", {2, "REC UNREAD", "+491701", "24/05/01,10:20:30+08", "before"});
  START_MODEM(modem);
  std::ofstream(dir + "/atsms.conf") << "# two sections: only the enabled one runs\n"
                                        "config modem 'other'\n\toption port '/dev/null'\n\toption command 'false'\n\n"
                                        "config modem 'pty'   # this one\n"
                                        "\toption enabled '1'\n\toption port '" << modem.SlavePath() << "'\n"
                                        "\toption wait \"10\"\n\toption interval 1\n"
                                        "\toption spool '" << spool << "'\n\toption command '" << dir << "/command'\n";
  std::vector<std::string> argv = {"/usr/bin/env", "ATSMS_CONFIG=" + dir + "/atsms.conf",
                                   std::string("ATSMS=") + AtsmsPath(), std::string("PATH=") + getenv("PATH")};
  if (*SERVICE_BUSYBOX)  // busybox ash, as on a router, where there is one
    argv.insert(argv.end(), {SERVICE_BUSYBOX, "ash"});
  else
    argv.push_back("/bin/sh");
  argv.push_back(ATSMS_SERVICE_PATH);
  Child service(argv);
  ASSERT_TRUE(service.Started());
  ASSERT_TRUE(WaitForFiles(spool + "/cur", 1, 20000));
  modem.Arrive();
  // Another program uses the port while the service runs.
  RunResult send = RunAtsms({"-w", "10", modem.SlavePath(), "sim", "send", "+491702", "Hi"});
  EXPECT_EQ(0, send.exitStatus) << send.err;
  EXPECT_EQ(ResultOk, send.out);
  ASSERT_TRUE(WaitForFiles(spool + "/cur", 2, 20000));
  kill(service.Pid(), SIGTERM);
  RunResult ran = service.Finish(5000);
  EXPECT_EQ(0, ran.exitStatus) << ran.err;
  const std::vector<std::string> cur = Files(spool + "/cur");
  EXPECT_TRUE(Files(spool + "/new").empty());
  EXPECT_TRUE(Files(spool + "/failed").empty());
  EXPECT_TRUE(Files(spool + "/tries").empty());
  EXPECT_TRUE(modem.Messages("SM").empty());
  const std::string lines = ReadFile(handed);
  EXPECT_EQ(2, std::count(lines.begin(), lines.end(), '\n')) << lines;
  for (const std::string& name : cur) {
    SCOPED_TRACE(name);
    EXPECT_EQ("x\nx\nx\n", ReadFile(dir + "/calls." + name));
    EXPECT_NE(std::string::npos, lines.find("\"id\":\"" + name.substr(0, name.find('.')) + "\""));
  }
  EXPECT_NE(std::string::npos, lines.find("\"index\":1,"));  // the one that came fills the hole
  system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace e2e
