// Trace lines go to KIV_HOME/log/kiv.log, and also to stderr when KIV_TRACE_STDERR=1 or
// when the log directory cannot be made. The logger lives until the process ends, so that
// traces from static destructors still have somewhere to go.
#include "trace_logger.h"

#include <spdlog/logger.h>
#include <spdlog/details/fmt_helper.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/stdout_sinks.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "framework/tqUtilities/process_id.h"
#include "platform/home.h"
#include "trace_file_sink.h"
#include "platform/utf8.h"

namespace kiv::trace {
namespace {

constexpr std::size_t kMaxFileSize = 5 * 1024 * 1024;
constexpr int kBackupFiles = 3;
constexpr const char* kPattern = "%Y-%m-%d %H:%M:%S.%e %P/%t %v";

bool stderrWanted() {
  const char* value = std::getenv("KIV_TRACE_STDERR");
  return value != nullptr && std::string_view(value) == "1";
}

std::shared_ptr<spdlog::sinks::sink> fileSink() {
  std::string error;
  const std::string directory = platform::kivSubdirectory("log", 0700, &error);
  if (!directory.empty()) {
    auto sink = std::make_shared<TraceFileSink>(directory + "/kiv.log", kMaxFileSize, kBackupFiles);
    if (sink->open(&error)) return sink;
  }
  const char* home = std::getenv("KIV_HOME");
  std::fprintf(stderr, "kiv: cannot write the trace file below KIV_HOME %s (%s); traces go to stderr\n",
               home != nullptr && home[0] != '\0' ? home : "(default)", error.c_str());
  return nullptr;
}

// The process id of each line, without the system call per line that spdlog's own %P makes.
class ProcessIdFlag final : public spdlog::custom_flag_formatter {
 public:
  void format(const spdlog::details::log_msg&, const std::tm&, spdlog::memory_buf_t& out) override {
    spdlog::details::fmt_helper::append_int(kiv::processId(), out);
  }
  std::unique_ptr<custom_flag_formatter> clone() const override { return std::make_unique<ProcessIdFlag>(); }
};

// Set while this thread builds the sinks: a trace raised meanwhile (say, a platform
// problem met while making the log directory) must not wait for the logger it is part of.
thread_local bool settingUp = false;

spdlog::logger& makeLogger() {
  auto* logger = new spdlog::logger("kiv");  // never destroyed: see the file comment
  settingUp = true;
  auto file = fileSink();
  settingUp = false;
  if (file) logger->sinks().push_back(file);
  if (!file || stderrWanted()) logger->sinks().push_back(std::make_shared<spdlog::sinks::stderr_sink_mt>());
  auto formatter = std::make_unique<spdlog::pattern_formatter>();
  formatter->add_flag<ProcessIdFlag>('P').set_pattern(kPattern);
  logger->set_formatter(std::move(formatter));
  logger->set_level(spdlog::level::trace);
  logger->flush_on(spdlog::level::trace);
  return *logger;
}

spdlog::logger& logger() {
  static spdlog::logger& instance = makeLogger();
  return instance;
}

std::string tagOf(Kind kind, int level) {
  switch (kind) {
    case Kind::Levelled: return "L" + std::to_string(level);
    case Kind::Error: return "ERROR";
    case Kind::Detail: return "DETAIL";
    default: return "TRACE";
  }
}

spdlog::level::level_enum spdlogLevel(Kind kind) {
  switch (kind) {
    case Kind::Error: return spdlog::level::err;
    case Kind::Detail: return spdlog::level::debug;
    default: return spdlog::level::info;
  }
}

// A line break inside a message would split one trace into several lines.
void appendEscaped(std::string& line, std::wstring_view text) {
  std::string utf8;
  kiv::utf::toUtf8(text, utf8);
  for (char c : utf8) {
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else {
      line += c;
    }
  }
}

}  // namespace

int configuredLevel() {
  const char* value = std::getenv("KIV_TRACE_LEVEL");
  if (value == nullptr || value[0] < '0' || value[0] > '4' || value[1] != '\0') return 3;
  return value[0] - '0';
}

void writeLine(const wchar_t* source, Kind kind, int level, std::wstring_view text) {
  const int savedErrno = errno;  // tracing must not disturb a caller's error code
  std::string line;
  if (source != nullptr && source[0] != 0) {
    appendEscaped(line, source);
  } else {
    line += '-';
  }
  line += ' ';
  line += tagOf(kind, level);
  line += ' ';
  appendEscaped(line, text);
  if (settingUp) {
    std::fprintf(stderr, "kiv: %s\n", line.c_str());
    errno = savedErrno;
    return;
  }
  logger().log(spdlogLevel(kind), spdlog::string_view_t(line.data(), line.size()));
  errno = savedErrno;
}

void flush() { logger().flush(); }

}  // namespace kiv::trace
