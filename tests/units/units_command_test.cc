// `kiv units`: the tool as operators and scripts use it, exit codes included.
#include "support/kiv_test.h"
#include "units_fixture.h"

namespace unitstest {
namespace {

// One argument quoted for the system's command interpreter and the program's own parsing.
std::string q(const std::string& text) {
#ifdef _WIN32
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
  return quoted + "\"";
#else
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
#endif
}

int kiv(const std::string& arguments, std::string* output = nullptr) {
  std::string ignored;
  // The redirection comes before the arguments: after an odd quote in them cmd.exe would
  // take it for an argument.
  const int status = kivtest::run(program("kiv") + " 2>&1 units " + arguments, output ? output : &ignored);
  if (output != nullptr) std::erase(*output, '\r');  // lines end alike on every system
  return status;
}

TEST_F(UnitsTest, CommandAddsReadsAndLists) {
  std::string out;
  EXPECT_EQ(kiv("path", &out), 0);
  EXPECT_EQ(out, unitsDirectory() + "\n");

  EXPECT_EQ(kiv("add " + q("CORP|alice") + " --type User --set domain=CORP --set triggable=1 --set " +
                    q("uri=kiv://a\"b"), &out), 0) << out;
  EXPECT_EQ(value(L"CORP|alice", L"domain"), "CORP");
  EXPECT_EQ(value(L"CORP|alice", L"uri"), "kiv://a\"b");
  EXPECT_EQ(number(L"dlox/agent/units/CORP|alice", L"triggable"), 1);
  EXPECT_EQ(value(L"CORP|alice", L"user"), "<missing>") << "only the given fields are written";

  EXPECT_EQ(kiv("get " + q("CORP|alice") + " --json", &out), 0) << out;
  EXPECT_EQ(out,
            "{\"name\":\"CORP|alice\",\"unittype\":\"User\",\"homedirectory\":\"00000001\","
            "\"executioncontext\":\"\",\"triggable\":1,\"previousmanageraddress\":\"\","
            "\"referencecount\":0,\"domain\":\"CORP\",\"user\":\"\","
            "\"previousserveraddress\":\"\",\"previousdomainuuid\":\"\",\"localuser\":0,"
            "\"uri\":\"kiv://a\\\"b\",\"lastmsisource\":\"\",\"currentmanageraddress\":\"\","
            "\"currentdomainuuid\":\"\",\"previousuri\":\"\"}\n");

  EXPECT_EQ(kiv("get " + q("CORP|alice") + " --fields 0x1", &out), 0);
  EXPECT_NE(out.find("homedirectory:          00000001"), std::string::npos) << out;

  EXPECT_EQ(kiv("add dev --type dockingDevicePalm"), 0);
  EXPECT_EQ(kiv("list --types 0x2 --json", &out), 0);
  EXPECT_EQ(out.rfind("[{\"name\":\"dev\",", 0), 0u) << out;
  EXPECT_EQ(out.find("alice"), std::string::npos);
  EXPECT_EQ(kiv("list --types 10", &out), 0);  // 0x02 | 0x08 in decimal
  EXPECT_NE(out.find("CORP|alice"), std::string::npos);
  EXPECT_NE(out.find("dev"), std::string::npos);
}

TEST_F(UnitsTest, CommandExitCodes) {
  std::string out;
  EXPECT_EQ(kiv("list --json", &out), 1) << "nothing to list";
  EXPECT_EQ(kiv("get nobody", &out), 5);
  EXPECT_EQ(kiv("add pc1 --type computer", &out), 5);
  EXPECT_EQ(kiv("add " + q("a/b"), &out), 5);

  EXPECT_EQ(kiv("add x --set colour=red", &out), 2);
  EXPECT_NE(out.find("colour"), std::string::npos) << out;
  EXPECT_EQ(kiv("add x --set homedirectory=1", &out), 2);
  EXPECT_EQ(kiv("add x --set triggable=yes", &out), 2);
  EXPECT_EQ(kiv("add x --set domain", &out), 2);
  EXPECT_EQ(kiv("list --types 0xzz", &out), 2);
  EXPECT_NE(out.find("0xzz"), std::string::npos) << out;
  EXPECT_EQ(kiv("list --fields -1", &out), 2);
  EXPECT_EQ(kiv("get", &out), 2);
  EXPECT_EQ(counter(), -1) << "no usage error reached the store";
}

}  // namespace
}  // namespace unitstest
