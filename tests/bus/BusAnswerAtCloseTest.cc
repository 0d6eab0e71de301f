// An endpoint that answers and closes at once (a shutdown right after a message): the
// sender gets the answer, never "nobody listening". The sender is a `kiv send` process held
// stopped from before the answer until the endpoint is gone, so the order the fault needs is
// forced: the sender reads its connection only after the endpoint has answered and closed.
#include <gtest/gtest.h>

#include <string>

#include "support/child_process.h"
#include "support/kiv_test.h"
#include "tests/bus/BusTestEndpoint.h"

namespace {

struct AnswerThenClose {
  SMENDPOINT handle = 0;
  bustest::Gate entered, answer;
};

uint32_t answerThenClose(void*, void*, void*, int, SmMessage*, void* context) {
  auto* self = static_cast<AnswerThenClose*>(context);
  self->entered.open();
  self->answer.wait();
  SmCloseEndPoint(self->handle);
  return kSmTaken;
}

bool endpointGone(const char* name) {
  uint32_t status = 0;
  return bustest::send(name, "<probe/>", &status, 2000) == kSmErrNoListener;
}

}  // namespace

TEST(BusAnswerAtClose, AnswerGivenJustBeforeTheCloseReachesTheSender) {
  const unsigned char options[4] = {1, 0, 0, 0};
  ASSERT_EQ(SmInitialize(options, nullptr), 0);
  AnswerThenClose state;
  ASSERT_EQ(SmOpenEndPointU("tqNotify", 0, answerThenClose, 0, &state, &state.handle), 0);

  const std::string err = kivtest::home() + "/send.err";
  kivtest::ChildProcess sender({kivtest::binDir() + "/kiv", "send", "undocked", "--type", "palm",
                                "--timeout", "60000"},
                               kivtest::home() + "/send.out", err);
  ASSERT_TRUE(sender.started());
  // The message is in the callback: the sender has sent it and waits for the answer.
  ASSERT_TRUE(kivtest::waitFor([&] { return state.entered.isOpen(); }));
  ASSERT_TRUE(sender.stop());

  state.answer.open();
  ASSERT_TRUE(kivtest::waitFor([] { return endpointGone("tqNotify"); }));
  // The sender goes on only now: its connection holds the answer and then the close.
  sender.signal(SIGCONT);

  EXPECT_EQ(sender.exitCode(), 0) << kivtest::readFile(err);
  EXPECT_EQ(SmDeinitialize(), 0);
}
