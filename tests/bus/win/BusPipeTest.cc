// The bus between processes on Windows, over the endpoints' named pipes: status back, nobody
// listening, the size limit, one owner per endpoint name and state root, who that owner is,
// and the pipe's access list.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/Wire.h"
#include "framework/TQSMCAPI/win/PipeName.h"
#include "framework/TQSMCAPI/win/PipeSecurity.h"
#include "support/kiv_test.h"
#include "support/test_process.h"
#include "tests/bus/BusTestEndpoint.h"
#include "tests/bus/win/PeerProcess.h"

using bustest::Gate;
using bustest::PeerProcess;
using bustest::TestEndpoint;

namespace {

std::string answerText(int result, uint32_t status) {
  return std::to_string(result) + " " + std::to_string(status);
}

std::string sidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return "?";
  std::string narrow = kiv::utf::narrow(text);
  LocalFree(text);
  return narrow;
}

std::string processUserSid() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  unsigned char buffer[512];
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
  CloseHandle(token);
  return sidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

// The entries of an access list as "SID mask" texts, allow entries only; "deny ..." otherwise.
std::vector<std::string> entries(ACL* acl) {
  std::vector<std::string> found;
  ACL_SIZE_INFORMATION info{};
  if (acl == nullptr || !GetAclInformation(acl, &info, sizeof info, AclSizeInformation)) return found;
  for (DWORD i = 0; i < info.AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) return found;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) {
      found.push_back("not an allow entry");
      continue;
    }
    char mask[16];
    std::snprintf(mask, sizeof mask, "%08lx", static_cast<unsigned long>(allowed->Mask));
    found.push_back(sidText(&allowed->SidStart) + " " + mask);
  }
  return found;
}

std::vector<std::string> expectedEntries() {
  char mask[16];
  std::snprintf(mask, sizeof mask, "%08lx", static_cast<unsigned long>(FILE_ALL_ACCESS));
  return {processUserSid() + " " + mask, std::string("S-1-5-18 ") + mask,
          std::string("S-1-5-32-544 ") + mask};
}

}  // namespace

TEST(BusWindows, AnotherProcessGetsTheCallbackStatusBack) {
  TestEndpoint endpoint("busPeer", [](const bustest::Received& got) {
    return got.text.find("refuse") != std::string::npos ? kSmRefused : kSmTaken;
  });
  ASSERT_EQ(endpoint.openResult(), 0);

  const std::string docked = "<Notification Type=\"Docked\"><Id>7</Id></Notification>";
  EXPECT_EQ(bustest::sendFromPeer({"send", "busPeer", docked}), answerText(0, kSmTaken));
  EXPECT_EQ(bustest::sendFromPeer({"send", "busPeer", "<refuse/>"}), answerText(0, kSmRefused));

  const auto received = endpoint.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].text, docked);
  EXPECT_EQ(received[0].length, docked.size());
  EXPECT_EQ(received[0].isLocal, 1);

  // And the other way round: the peer holds the endpoint and answers.
  PeerProcess holder({"hold", "busOther"});
  ASSERT_EQ(holder.readLine(), "open 0");
  uint32_t status = 99;
  EXPECT_EQ(bustest::send("busOther", "<x/>", &status), 0);
  EXPECT_EQ(status, kSmTaken);
  EXPECT_EQ(bustest::send("busOther", "<refuse/>", &status), 0);
  EXPECT_EQ(status, kSmRefused);
}

TEST(BusWindows, NobodyListeningIsToldApartFromOtherFailures) {
  uint32_t status = 0;
  EXPECT_EQ(bustest::send("neverOpened", "<x/>", &status), kSmErrNoListener);
  EXPECT_EQ(bustest::sendFromPeer({"send", "neverOpened", "<x/>"}), answerText(kSmErrNoListener, 0));

  // A holder that is killed leaves nobody behind.
  PeerProcess holder({"hold", "busKilled"});
  ASSERT_EQ(holder.readLine(), "open 0");
  ASSERT_EQ(bustest::send("busKilled", "<x/>", &status), 0);
  holder.kill();
  ASSERT_NE(holder.exitCode(), -1);
  EXPECT_EQ(bustest::send("busKilled", "<x/>", &status), kSmErrNoListener);

  // A closed endpoint is nobody; a slow one is a time-out.
  Gate release;
  TestEndpoint slow("busSlow", [&](const bustest::Received&) {
    release.wait();
    return kSmTaken;
  });
  ASSERT_EQ(slow.openResult(), 0);
  EXPECT_EQ(bustest::send("busSlow", "<x/>", &status, 300), kSmErrTimeout);
  release.open();
  ASSERT_EQ(slow.close(), 0);
  EXPECT_EQ(bustest::send("busSlow", "<x/>", &status), kSmErrNoListener);
}

namespace {

struct AnswerThenClose {
  SMENDPOINT handle = 0;
  std::atomic<int> calls{0};
};

uint32_t answerThenClose(void*, void*, void*, int, SmMessage*, void* context) {
  auto* self = static_cast<AnswerThenClose*>(context);
  self->calls++;
  SmCloseEndPoint(self->handle);
  return 5;
}

bool pipeGone(const std::wstring& name) {
  HANDLE probe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
  return probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

// An endpoint that answers and closes at once (a shutdown right after a message): the answer
// stays readable after the endpoint is gone. The sender here reads it only then.
TEST(BusWindows, AnAnswerGivenBeforeTheCloseIsStillRead) {
  const unsigned char options[4] = {1, 0, 0, 0};
  ASSERT_EQ(SmInitialize(options, nullptr), 0);
  AnswerThenClose state;
  ASSERT_EQ(SmOpenEndPointU("busLast", 0, answerThenClose, 0, &state, &state.handle), 0);
  const std::wstring name = kiv::bus::win::pipeName("busLast");
  HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  const std::string request = kiv::bus::win::lengthPrefix(4) + "<x/>";
  DWORD moved = 0;
  EXPECT_TRUE(WriteFile(pipe, request.data(), static_cast<DWORD>(request.size()), &moved, nullptr));
  EXPECT_TRUE(kivtest::waitFor([&] { return pipeGone(name); }));

  char answer[8] = {};
  DWORD got = 0;
  while (got < sizeof answer && ReadFile(pipe, answer + got, sizeof answer - got, &moved, nullptr)) {
    got += moved;
  }
  CloseHandle(pipe);
  kiv::bus::Reply reply;
  ASSERT_TRUE(kiv::bus::decodeReply(std::string(answer, got), &reply));
  EXPECT_EQ(reply.error, 0);
  EXPECT_EQ(reply.status, 5u);
  EXPECT_EQ(state.calls.load(), 1);
  EXPECT_EQ(SmDeinitialize(), 0);
}

// The owner is the process that serves the endpoint's pipe; asking leaves the endpoint
// serving its senders.
TEST(BusWindows, TheOwnerOfAnEndpointIsNamedWhileItHoldsIt) {
  int pid = -1;
  EXPECT_EQ(SmQueryEndPointOwner("busOwner", &pid), kSmErrNoListener);
  {
    TestEndpoint own("busOwner");
    ASSERT_EQ(own.openResult(), 0);
    ASSERT_EQ(SmQueryEndPointOwner("busOwner", &pid), 0);
    EXPECT_EQ(pid, static_cast<int>(GetCurrentProcessId()));
  }

  PeerProcess holder({"hold", "busOwner"});
  ASSERT_EQ(holder.readLine(), "open 0");
  ASSERT_EQ(SmQueryEndPointOwner("busOwner", &pid), 0);
  EXPECT_EQ(pid, holder.pid());
  uint32_t status = 0;
  EXPECT_EQ(bustest::send("busOwner", "<x/>", &status), 0);
  EXPECT_EQ(status, kSmTaken);
  holder.kill();
  ASSERT_NE(holder.exitCode(), -1);
  EXPECT_EQ(SmQueryEndPointOwner("busOwner", &pid), kSmErrNoListener);
}

TEST(BusWindows, MessagesOverOneMebibyteAreRefused) {
  TestEndpoint endpoint("busLarge");
  ASSERT_EQ(endpoint.openResult(), 0);
  // Varied, so that a piece of it read into the wrong place shows.
  std::string largest(kSmMaxMessage, 'a');
  for (size_t i = 0; i < largest.size(); ++i) largest[i] = static_cast<char>('a' + (i * 7 + i / 4093) % 26);
  largest.front() = '<';
  largest.back() = '>';
  uint32_t status = 99;
  ASSERT_EQ(bustest::send("busLarge", largest, &status), 0);
  EXPECT_EQ(status, kSmTaken);
  ASSERT_EQ(endpoint.calls(), 1);
  EXPECT_TRUE(endpoint.received()[0].text == largest);

  EXPECT_EQ(bustest::send("busLarge", largest + "b", &status), kSmErrTooLarge);

  // A sender that does not check the limit itself is refused by the endpoint, which reads
  // the message away and answers.
  const std::wstring name = kiv::bus::win::pipeName("busLarge");
  HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  const std::string request = kiv::bus::win::lengthPrefix(kSmMaxMessage + 1) + largest + "b";
  DWORD moved = 0;
  EXPECT_TRUE(WriteFile(pipe, request.data(), static_cast<DWORD>(request.size()), &moved, nullptr));
  char answer[8] = {};
  DWORD got = 0;
  while (got < sizeof answer && ReadFile(pipe, answer + got, sizeof answer - got, &moved, nullptr)) {
    got += moved;
  }
  CloseHandle(pipe);
  kiv::bus::Reply reply;
  ASSERT_TRUE(kiv::bus::decodeReply(std::string(answer, got), &reply));
  EXPECT_EQ(reply.error, kSmErrTooLarge);
  EXPECT_EQ(endpoint.calls(), 1);
}

TEST(BusWindows, AnEndpointNameHasOneOwnerAtATime) {
  PeerProcess holder({"hold", "busHeld"});
  ASSERT_EQ(holder.readLine(), "open 0");
  TestEndpoint second("busHeld");
  EXPECT_EQ(second.openResult(), kSmErrEndpointInUse);
  PeerProcess third({"hold", "busHeld"});
  EXPECT_EQ(third.readLine(), "open " + std::to_string(kSmErrEndpointInUse));
  // Nor may one process open a name twice.
  TestEndpoint once("busOnce");
  ASSERT_EQ(once.openResult(), 0);
  TestEndpoint twice("busOnce");
  EXPECT_EQ(twice.openResult(), kSmErrEndpointInUse);

  // Handed on once the holder has closed it.
  holder.closeInput();
  EXPECT_EQ(holder.exitCode(), 0);
  TestEndpoint next("busHeld");
  EXPECT_EQ(next.openResult(), 0);
  uint32_t status = 99;
  EXPECT_EQ(bustest::send("busHeld", "<x/>", &status), 0);
  EXPECT_EQ(next.calls(), 1);
}

// A process whose KIV_HOME is set anew sends to the new root's endpoints at once, as every
// other process under that root does, although it named a pipe under the old root before.
TEST(BusWindows, AProcessFollowsItsRootWhenItIsSetAnew) {
  uint32_t status = 99;
  EXPECT_EQ(bustest::send("busMoved", "<x/>", &status), kSmErrNoListener);
  const std::string newHome = kivtest::home() + "\\moved";
  ASSERT_TRUE(CreateDirectoryW(kiv::utf::widen(newHome).c_str(), nullptr));
  PeerProcess holder({"--home", newHome, "hold", "busMoved"});
  ASSERT_EQ(holder.readLine(), "open 0");
  kivtest::setEnvironment("KIV_HOME", newHome.c_str(), true);
  EXPECT_EQ(bustest::send("busMoved", "<x/>", &status), 0);
  EXPECT_EQ(status, kSmTaken);
  kivtest::setEnvironment("KIV_HOME", kivtest::home().c_str(), true);
}

TEST(BusWindows, EndpointsOfAnotherStateRootAreOthers) {
  const std::string otherHome = kivtest::home() + "\\other";
  ASSERT_TRUE(CreateDirectoryW(kiv::utf::widen(otherHome).c_str(), nullptr));
  PeerProcess elsewhere({"--home", otherHome, "hold", "busRoot"});
  ASSERT_EQ(elsewhere.readLine(), "open 0");

  uint32_t status = 99;
  EXPECT_EQ(bustest::send("busRoot", "<x/>", &status), kSmErrNoListener);
  TestEndpoint here("busRoot");
  ASSERT_EQ(here.openResult(), 0);
  EXPECT_EQ(bustest::sendFromPeer({"send", "busRoot", "<refuse/>"}), answerText(0, kSmTaken));
  EXPECT_EQ(here.calls(), 1);

  using kiv::bus::win::rootDigest;
  EXPECT_EQ(rootDigest("C:\\ProgramData\\KIV"), rootDigest("c:/programdata/kiv/"));
  EXPECT_NE(rootDigest("C:\\ProgramData\\KIV"), rootDigest("C:\\ProgramData\\KIV2"));
}

TEST(BusWindows, PipeAdmitsOnlyItsOwnerSystemAndAdministrators) {
  std::string error;
  auto security = kiv::bus::win::PipeSecurity::build(&error);
  ASSERT_NE(security, nullptr) << error;
  BOOL present = FALSE, defaulted = TRUE;
  ACL* acl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(security->descriptor(), &present, &acl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_EQ(entries(acl), expectedEntries());
  PSID owner = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorOwner(security->descriptor(), &owner, &defaulted));
  EXPECT_EQ(sidText(owner), processUserSid());

  // The pipe of an open endpoint carries that list.
  TestEndpoint endpoint("busSecure");
  ASSERT_EQ(endpoint.openResult(), 0);
  const std::wstring name = kiv::bus::win::pipeName("busSecure");
  HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  ACL* applied = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &applied, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(entries(applied), expectedEntries());
  LocalFree(descriptor);
  CloseHandle(pipe);
}
