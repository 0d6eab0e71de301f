// Test support: every test runs in a fresh temporary KIV_HOME (never the default one) with
// full tracing, and these helpers read what it traced and wait for conditions.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kivtest {

// The temporary KIV_HOME of the running test.
const std::string& home();
// The file this process traces to for the whole run; it lies outside the tests' homes.
// Started with KIV_TEST_TRACE_LATE=1, the process opens its trace file only at its first
// trace, below the KIV_HOME then set, for a test that checks where traces go.
std::string traceFile();
std::string libDir();
std::string binDir();

// Every trace line written since the running test started, by this process and by the
// processes it started (flushed first).
std::vector<std::string> traceLines();
// Number of trace lines that contain `text`.
int countTrace(const std::string& text);
bool traced(const std::string& text);
// The address ("tcp://host:port") the bus's TCP listener traced when it started; empty when
// none was traced.
std::string tracedListenerAddress();

// Polls `condition` until it holds or `timeout` passes; no fixed sleeps in tests.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Runs a command with /bin/sh and returns its exit status; output goes to *output when given.
int run(const std::string& command, std::string* output = nullptr);

// For a test that needs a process in which nothing else ran before it (state kept once per
// process): the test runs itself again in a child process with a fresh KIV_HOME, started
// through `launcher` when given (a command prefix). True in the test that started the
// child, which only checks that the child passed; false in the child, which runs the test.
bool ranInOwnProcess(const std::string& launcher = "");

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

}  // namespace kivtest
