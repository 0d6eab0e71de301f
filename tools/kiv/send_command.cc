// `kiv send`: builds a notification or host-event message and sends it over the bus, exiting
// 0 when the endpoint took it, 3 when it refused it, 4 when nothing listens (the message was
// not handled), 5 when no answer came in time (the message may still be handled) and 1 for
// any other failure.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

#include "TQSMCAPI.h"
#include "TQString.h"
#include "platform/system_info.h"
#include "tools/kiv/commands.h"
#include "tools/kiv/wide_argument.h"

namespace kiv::tool {
namespace {

constexpr int kExitTaken = 0;
constexpr int kExitFailed = 1;
constexpr int kExitRefused = 3;
constexpr int kExitNoListener = 4;
constexpr int kExitNoAnswerInTime = 5;

// True for text without the control characters XML 1.0 cannot carry.
bool carriableInXml(const std::string& text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return true;
}

// Escapes a value for element text or an attribute. Tab, line feed and carriage return
// become character references so that attribute normalisation cannot change them.
std::string escapeXml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default: out += c;
    }
  }
  return out;
}

// Every value of the command line goes through here before it enters a message.
std::string checked(const std::string& option, const std::string& value) {
  requireUtf8(option, value);
  if (!carriableInXml(value)) {
    throw CLI::ValidationError(option, "the value contains a control character that XML cannot carry");
  }
  return escapeXml(value);
}

std::string element(const char* name, const std::string& option, const std::string& value) {
  return std::string("<") + name + ">" + checked(option, value) + "</" + name + ">";
}

bool sameComputer(const std::string& domain) {
  wchar_t name[256] = {};
  uint32_t size = 256;
  if (!kiv::platform::getComputerName(name, &size)) return false;
  TQStringW wideDomain;
  wideDomain.assign_utf8(domain.c_str());
  return wideDomain.comparei(name) == 0;
}

// The unit names the notifier derives for a user: "." stands for this computer's domain.
std::string defaultUserUnit(const std::string& domain, const std::string& user) {
  return (sameComputer(domain) ? std::string(".") : domain) + "|" + user;
}

struct SendOptions {
  int timeoutMs = kSmDefaultTimeoutMs;
  std::string user, domain, computerUserUnit, userUnit, id, type, file;
  unsigned session = 0;
  int code = 0;
  std::string s1, s2, s3;
};

std::string userMessage(const char* type, const SendOptions& o) {
  const std::string userUnit = o.userUnit.empty() ? defaultUserUnit(o.domain, o.user) : o.userUnit;
  const std::string computerUserUnit =
      o.computerUserUnit.empty() ? ".|" + userUnit : o.computerUserUnit;
  return std::string("<Notification Type=\"") + type + "\">" + element("User", "--user", o.user) +
         element("Domain", "--domain", o.domain) +
         element("computerUserUnitName", "--cu", computerUserUnit) +
         element("userUnitName", "--uu", userUnit) +
         "<sessionID>" + std::to_string(o.session) + "</sessionID></Notification>";
}

std::string hostEventMessage(const SendOptions& o) {
  return "<HostEvent code=\"" + std::to_string(o.code) + "\" s1=\"" + checked("S1", o.s1) +
         "\" s2=\"" + checked("S2", o.s2) + "\" s3=\"" + checked("S3", o.s3) + "\"/>";
}

bool readInput(const std::string& file, std::string* text) {
  if (file == "-") {
    text->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return !std::cin.bad();
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

int deliver(const char* endpoint, const std::string& text, int timeoutMs) {
  uint32_t status = 0;
  const int result = SmSend(endpoint, text.data(), static_cast<uint32_t>(text.size()), &status,
                            timeoutMs);
  if (result == kSmErrNoListener) {
    std::fprintf(stderr, "kiv send: nothing listens on the bus endpoint \"%s\"\n", endpoint);
    return kExitNoListener;
  }
  if (result == kSmErrTimeout) {
    std::fprintf(stderr, "kiv send: \"%s\" gave no answer within %d ms; the message may still be "
                         "handled\n", endpoint, timeoutMs);
    return kExitNoAnswerInTime;
  }
  if (result != 0) {
    std::fprintf(stderr, "kiv send: sending to \"%s\" failed: %s\n", endpoint, SmErrorText(result));
    return kExitFailed;
  }
  if (status != kSmTaken) {
    std::fprintf(stderr, "kiv send: \"%s\" refused the message (status 0x%x)\n", endpoint, status);
    return kExitRefused;
  }
  return kExitTaken;
}

void addUserCommand(CLI::App& send, const char* name, const char* type,
                    std::shared_ptr<SendOptions> o, int& exitCode) {
  CLI::App* command = send.add_subcommand(name, std::string("Send a ") + type + " notification");
  command->add_option("--user", o->user, "user name")->required();
  command->add_option("--domain", o->domain, "domain name")->required();
  command->add_option("--session", o->session, "session number")->required();
  command->add_option("--cu", o->computerUserUnit, "computer-user unit name (default .|USER-UNIT)");
  command->add_option("--uu", o->userUnit, "user unit name (default DOMAIN|USER, . for this computer)");
  command->callback([o, type, &exitCode] {
    exitCode = deliver("tqNotify", userMessage(type, *o), o->timeoutMs);
  });
}

void addDeviceCommands(CLI::App& send, std::shared_ptr<SendOptions> o, int& exitCode) {
  CLI::App* docked = send.add_subcommand("docked", "Send a Docked notification");
  docked->add_option("--id", o->id, "device id")->required();
  docked->add_option("--type", o->type, "device type")->required();
  docked->callback([o, &exitCode] {
    const std::string text = "<Notification Type=\"Docked\">" + element("Id", "--id", o->id) +
                             element("Type", "--type", o->type) + "</Notification>";
    exitCode = deliver("tqNotify", text, o->timeoutMs);
  });

  CLI::App* undocked = send.add_subcommand("undocked", "Send an UnDocked notification");
  undocked->add_option("--type", o->type, "device type")->required();
  undocked->callback([o, &exitCode] {
    const std::string text = "<Notification Type=\"UnDocked\">" +
                             element("Type", "--type", o->type) + "</Notification>";
    exitCode = deliver("tqNotify", text, o->timeoutMs);
  });
}

void addRawAndHostCommands(CLI::App& send, std::shared_ptr<SendOptions> o, int& exitCode) {
  CLI::App* raw = send.add_subcommand("raw", "Send a file (or standard input) as it is");
  raw->add_option("file", o->file, "file to send, - for standard input")->required();
  raw->callback([o, &exitCode] {
    std::string text;
    if (!readInput(o->file, &text)) {
      std::fprintf(stderr, "kiv send: cannot read %s\n", o->file.c_str());
      exitCode = kExitFailed;
      return;
    }
    exitCode = deliver("tqNotify", text, o->timeoutMs);
  });

  CLI::App* host = send.add_subcommand("host-event", "Send an event to the plug-in host");
  host->add_option("code", o->code, "event code")->required();
  host->add_option("s1", o->s1, "first string")->required();
  host->add_option("s2", o->s2, "second string");
  host->add_option("s3", o->s3, "third string");
  host->callback([o, &exitCode] { exitCode = deliver("tqHost", hostEventMessage(*o), o->timeoutMs); });
}

// Whole milliseconds from 1 on; CLI11's own number checks would describe their range in
// doubles of 300 digits.
std::string checkMilliseconds(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < 1) {
    return "'" + text + "' is not a whole number of milliseconds from 1 to 2147483647";
  }
  return {};
}

}  // namespace

void addSendCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<SendOptions>();
  CLI::App* send = app.add_subcommand("send", "Send a message to a bus endpoint");
  send->require_subcommand(1);
  send->add_option("--timeout", options->timeoutMs, "milliseconds to wait for the answer")
      ->check(CLI::Validator(checkMilliseconds, "MS"))
      ->capture_default_str();
  addUserCommand(*send, "logon", "Logon", options, exitCode);
  addUserCommand(*send, "logoff", "Logoff", options, exitCode);
  addDeviceCommands(*send, options, exitCode);
  addRawAndHostCommands(*send, options, exitCode);
  // --timeout is accepted after the message kind as well.
  for (CLI::App* command : send->get_subcommands({})) command->fallthrough();
}

}  // namespace kiv::tool
