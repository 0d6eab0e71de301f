// `kiv send` against endpoints opened in this process: exit codes, message shapes and the
// escaping of every value.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <string>
#include <vector>

#include "support/kiv_test.h"
#include "tests/bus/BusTestEndpoint.h"

namespace {

std::string quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int kivSend(const std::vector<std::string>& arguments, std::string* output = nullptr,
            const std::string& environment = "") {
  std::string command = environment + " " + kivtest::binDir() + "/kiv send";
  for (const auto& argument : arguments) command += " " + quote(argument);
  return kivtest::run(command + " 2>&1", output);
}

pugi::xml_node parsed(pugi::xml_document& document, const std::string& text) {
  const pugi::xml_parse_result result = document.load_string(text.c_str());
  EXPECT_TRUE(result) << result.description() << ": " << text;
  return document.first_child();
}

}  // namespace

TEST(KivSend, ExitCodesForTakenRefusedAndNobodyListening) {
  std::string output;
  EXPECT_EQ(kivSend({"undocked", "--type", "palm"}, &output), 4);
  EXPECT_NE(output.find("\"tqNotify\""), std::string::npos) << output;

  bustest::TestEndpoint endpoint("tqNotify", [](const bustest::Received& got) -> uint32_t {
    return got.text.find("refuse") != std::string::npos ? kSmRefused : kSmTaken;
  });
  ASSERT_EQ(endpoint.openResult(), 0);
  EXPECT_EQ(kivSend({"undocked", "--type", "palm"}), 0);
  EXPECT_EQ(kivSend({"undocked", "--type", "refuse", "--timeout", "20000"}), 3);
  EXPECT_EQ(kivSend({"docked", "--id", "1"}, &output), 2) << "missing --type";
  EXPECT_EQ(endpoint.calls(), 2);
}

// A message still in handling when the sender stops waiting may yet be handled: that is
// neither "refused" nor "nobody listens", and a caller must be able to tell.
TEST(KivSend, NoAnswerInTimeHasItsOwnExitCode) {
  bustest::Gate release;
  bustest::TestEndpoint endpoint("tqNotify", [&](const bustest::Received&) -> uint32_t {
    release.wait();
    return kSmTaken;
  });
  ASSERT_EQ(endpoint.openResult(), 0);
  std::string output;
  EXPECT_EQ(kivSend({"undocked", "--type", "palm", "--timeout", "300"}, &output), 5);
  EXPECT_NE(output.find("may still be handled"), std::string::npos) << output;
  release.open();
  EXPECT_TRUE(kivtest::waitFor([&] { return endpoint.calls() == 1; }));
}

TEST(KivSend, ValuesWithMarkupArriveEscapedAndWellFormed) {
  bustest::TestEndpoint endpoint("tqNotify");
  ASSERT_EQ(endpoint.openResult(), 0);
  const std::string id = "a&b<c>\"d\"'e'";
  const std::string type = "dock]]>ing\ttab";
  ASSERT_EQ(kivSend({"docked", "--id", id, "--type", type}), 0);
  ASSERT_EQ(kivSend({"logoff", "--user", "O'Neil & <Co>", "--domain", "CORP", "--session", "7"}), 0);

  const auto received = endpoint.received();
  ASSERT_EQ(received.size(), 2u);
  pugi::xml_document docked;
  pugi::xml_node root = parsed(docked, received[0].text);
  EXPECT_STREQ(root.name(), "Notification");
  EXPECT_STREQ(root.attribute("Type").value(), "Docked");
  EXPECT_EQ(std::string(root.child("Id").text().get()), id);
  EXPECT_EQ(std::string(root.child("Type").text().get()), type);

  pugi::xml_document logoff;
  root = parsed(logoff, received[1].text);
  EXPECT_STREQ(root.attribute("Type").value(), "Logoff");
  EXPECT_STREQ(root.child("User").text().get(), "O'Neil & <Co>");
  EXPECT_STREQ(root.child("userUnitName").text().get(), "CORP|O'Neil & <Co>");
  EXPECT_STREQ(root.child("computerUserUnitName").text().get(), ".|CORP|O'Neil & <Co>");
  EXPECT_STREQ(root.child("sessionID").text().get(), "7");
}

TEST(KivSend, ValuesXmlCannotCarryAreRefusedAsUsageErrors) {
  bustest::TestEndpoint endpoint("tqNotify");
  ASSERT_EQ(endpoint.openResult(), 0);
  std::string output;
  EXPECT_EQ(kivSend({"undocked", "--type", std::string("bell\x07")}, &output), 2);
  EXPECT_NE(output.find("--type"), std::string::npos) << output;
  EXPECT_EQ(kivSend({"undocked", "--type", std::string("bad\xC3")}, &output), 2);
  EXPECT_EQ(endpoint.calls(), 0);
}

TEST(KivSend, UnitNamesDefaultToTheNamingRule) {
  bustest::TestEndpoint endpoint("tqNotify");
  ASSERT_EQ(endpoint.openResult(), 0);
  ASSERT_EQ(kivSend({"logon", "--user", "alice", "--domain", "mypc", "--session", "3"}, nullptr,
                    "KIV_COMPUTER_NAME=MyPC"),
            0);
  ASSERT_EQ(kivSend({"logon", "--user", "bob", "--domain", "CORP", "--session", "4", "--cu", "cu",
                     "--uu", "uu"}),
            0);
  const auto received = endpoint.received();
  ASSERT_EQ(received.size(), 2u);
  pugi::xml_document local, given;
  pugi::xml_node root = parsed(local, received[0].text);
  EXPECT_STREQ(root.child("userUnitName").text().get(), ".|alice");
  EXPECT_STREQ(root.child("computerUserUnitName").text().get(), ".|.|alice");
  EXPECT_STREQ(root.child("Domain").text().get(), "mypc");
  root = parsed(given, received[1].text);
  EXPECT_STREQ(root.child("userUnitName").text().get(), "uu");
  EXPECT_STREQ(root.child("computerUserUnitName").text().get(), "cu");
}

TEST(KivSend, RawAndHostEvent) {
  bustest::TestEndpoint notify("tqNotify");
  bustest::TestEndpoint host("tqHost");
  ASSERT_EQ(notify.openResult(), 0);
  ASSERT_EQ(host.openResult(), 0);

  const std::string file = kivtest::home() + "/raw.xml";
  kivtest::writeFile(file, "<not even xml");
  ASSERT_EQ(kivSend({"raw", file}), 0);
  ASSERT_EQ(kivtest::run("printf 'from stdin' | " + kivtest::binDir() + "/kiv send raw -"), 0);
  EXPECT_EQ(kivSend({"raw", kivtest::home() + "/missing.xml"}), 1);
  ASSERT_EQ(notify.received().size(), 2u);
  EXPECT_EQ(notify.received()[0].text, "<not even xml");
  EXPECT_EQ(notify.received()[1].text, "from stdin");

  ASSERT_EQ(kivSend({"host-event", "15", "5", "3"}), 0);
  ASSERT_EQ(host.received().size(), 1u);
  EXPECT_EQ(host.received()[0].text, "<HostEvent code=\"15\" s1=\"5\" s2=\"3\" s3=\"\"/>");
}
