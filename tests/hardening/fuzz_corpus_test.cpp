// Every input kept in fuzz/corpus (the seeds and whatever the fuzzers found) replayed through its
// fuzz target with the tool's own compiler and flags, so a fixed fault stays fixed in every build.
#include <gtest/gtest.h>
#include <dirent.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// The targets' entry points, renamed at compile time (CMakeLists.txt).
extern "C" int FuzzFindHighestIndex(const uint8_t* data, size_t size);
extern "C" int FuzzPrintMessage(const uint8_t* data, size_t size);
extern "C" int FuzzUtf8ToUcs2(const uint8_t* data, size_t size);
extern "C" int FuzzUcs2ToUtf8(const uint8_t* data, size_t size);
extern "C" int FuzzBuildSubmitPdu(const uint8_t* data, size_t size);
extern "C" int FuzzPackUssd(const uint8_t* data, size_t size);
extern "C" int FuzzReadDecimal(const uint8_t* data, size_t size);
extern "C" int FuzzUssdReply(const uint8_t* data, size_t size);
extern "C" int FuzzStatusReport(const uint8_t* data, size_t size);
extern "C" int FuzzBridgeRequest(const uint8_t* data, size_t size);

namespace {

struct Target {
  const char* name;  // also the directory under fuzz/corpus
  int (*run)(const uint8_t* data, size_t size);
};

const Target Targets[] = {
    {"fuzz_find_highest_index", FuzzFindHighestIndex}, {"fuzz_print_message", FuzzPrintMessage},
    {"fuzz_utf8_to_ucs2", FuzzUtf8ToUcs2},             {"fuzz_ucs2_to_utf8", FuzzUcs2ToUtf8},
    {"fuzz_build_submit_pdu", FuzzBuildSubmitPdu},     {"fuzz_pack_ussd", FuzzPackUssd},
    {"fuzz_read_decimal", FuzzReadDecimal},           {"fuzz_ussd_reply", FuzzUssdReply},
    {"fuzz_status_report", FuzzStatusReport},         {"fuzz_bridge_request", FuzzBridgeRequest},
};

std::vector<std::string> Files(const std::string& dir) {
  std::vector<std::string> files;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') files.push_back(dir + "/" + e->d_name);
    closedir(d);
  }
  return files;
}

void PrintTo(const Target& t, std::ostream* os) { *os << t.name; }

class FuzzCorpus : public testing::TestWithParam<Target> {};

// A failed property aborts with the file and line of the check; the trace names the input.
TEST_P(FuzzCorpus, EveryKeptInputPasses) {
  const Target& target = GetParam();
  const std::vector<std::string> files = Files(std::string(FUZZ_CORPUS_DIR) + "/" + target.name);
  ASSERT_GE(files.size(), 5u) << "the corpus of " << target.name << " is missing";
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string input = bytes.str();
    std::fprintf(stderr, "replaying %s\n", file.c_str());
    EXPECT_EQ(0, target.run(reinterpret_cast<const uint8_t*>(input.data()), input.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(Replay, FuzzCorpus, testing::ValuesIn(Targets),
                         [](const testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

}  // namespace
