// What operators read and type beside the program itself: kiv(1) describes every setting
// and names every KIV_ variable the code reads (both found in the sources, so a new one
// cannot go undocumented), and the bash completion goes on after an option's value.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/kiv_test.h"
#include "support/run_self.h"

namespace kivtooltest {
namespace {

// A small reader of the C++ sources, enough to find the configuration reads: calls of
// getStringA, getStringW and getNumber with a section and a key, the key given either as
// a literal or as the parameter of a helper whose callers pass the literal.
class SourceScan {
 public:
  using Settings = std::map<std::string, std::string>;  // key -> section

  explicit SourceScan(const std::vector<std::string>& directories) {
    for (const auto& directory : directories) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
        const auto extension = entry.path().extension();
        if (entry.is_regular_file() && (extension == ".cc" || extension == ".h")) {
          files_.push_back(kivtest::readFile(entry.path().string()));
        }
      }
    }
  }

  // The keys read from the operator's configuration, the sections below dlox/common (the
  // units, below dlox/agent, are the units commands' business).
  Settings settings() const {
    Settings found;
    for (const std::string& text : files_) {
      for (const char* read : {"getStringA", "getStringW", "getNumber"}) {
        for (std::size_t at = 0; (at = findCall(text, read, at)) != std::string::npos; ++at) {
          const std::vector<std::string> arguments = argumentsAt(text, text.find('(', at));
          if (arguments.size() < 3) continue;
          const std::string section = resolve(text, arguments[0]);
          if (section.rfind("dlox/common", 0) != 0) continue;
          if (const std::string key = literal(arguments[1]); !key.empty()) {
            found[key] = section;
          } else if (isIdentifier(arguments[1])) {
            for (const std::string& passed : passedToHelper(text, arguments[1], at)) found[passed] = section;
          }
        }
      }
    }
    return found;
  }

  // The KIV_ variables the code reads: every reader, getenv and GetEnvironmentVariableW as
  // much as the helpers around them, takes the name as its first argument. (The names the
  // code sets for the address-change script stand in braces.)
  std::set<std::string> environmentReads() const {
    std::set<std::string> found;
    for (const std::string& text : files_) {
      for (std::size_t at = 0; (at = text.find("\"KIV_", at)) != std::string::npos; ++at) {
        std::size_t before = at;
        if (before > 0 && text[before - 1] == 'L') --before;
        while (before > 0 && std::isspace(static_cast<unsigned char>(text[before - 1]))) --before;
        if (before == 0 || text[before - 1] != '(') continue;
        const std::size_t end = text.find('"', at + 1);
        const std::string name = text.substr(at + 1, end - at - 1);
        if (isIdentifier(name)) found.insert(name);
      }
    }
    return found;
  }

 private:
  static bool isIdentifier(const std::string& word) {
    if (word.empty() || std::isdigit(static_cast<unsigned char>(word[0]))) return false;
    for (char c : word) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    }
    return true;
  }

  static std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
  }

  // The text of "..." or L"..."; empty for anything else.
  static std::string literal(const std::string& argument) {
    std::string text = argument;
    if (!text.empty() && text[0] == 'L') text.erase(0, 1);
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return {};
    return text.substr(1, text.size() - 2);
  }

  // The next `name(` at or after `from` that is a call or definition of that name itself.
  static std::size_t findCall(const std::string& text, const std::string& name, std::size_t from) {
    for (std::size_t at = from; (at = text.find(name, at)) != std::string::npos; at += name.size()) {
      if (at > 0 && (std::isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '_')) continue;
      std::size_t next = at + name.size();
      while (next < text.size() && std::isspace(static_cast<unsigned char>(text[next]))) ++next;
      if (next < text.size() && text[next] == '(') return at;
    }
    return std::string::npos;
  }

  // Where the parenthesis opened at `open` closes, string literals skipped.
  static std::size_t closing(const std::string& text, std::size_t open) {
    int depth = 0;
    for (std::size_t i = open; i < text.size(); ++i) {
      if (text[i] == '"') {
        for (++i; i < text.size() && text[i] != '"'; ++i) {
          if (text[i] == '\\') ++i;
        }
      } else if (text[i] == '(') {
        ++depth;
      } else if (text[i] == ')' && --depth == 0) {
        return i;
      }
    }
    return std::string::npos;
  }

  // The top-level arguments of the call whose parenthesis opens at `open`.
  static std::vector<std::string> argumentsAt(const std::string& text, std::size_t open) {
    const std::size_t close = closing(text, open);
    if (close == std::string::npos) return {};
    std::vector<std::string> arguments;
    int depth = 0;
    std::size_t start = open + 1;
    for (std::size_t i = open + 1; i < close; ++i) {
      if (text[i] == '"') {
        for (++i; i < close && text[i] != '"'; ++i) {
          if (text[i] == '\\') ++i;
        }
      } else if (text[i] == '(' || text[i] == '{' || text[i] == '<') {
        ++depth;
      } else if (text[i] == ')' || text[i] == '}' || text[i] == '>') {
        --depth;
      } else if (text[i] == ',' && depth == 0) {
        arguments.push_back(trim(text.substr(start, i - start)));
        start = i + 1;
      }
    }
    arguments.push_back(trim(text.substr(start, close - start)));
    return arguments;
  }

  // A section given as a literal, or as a constant defined with one in any of the sources.
  std::string resolve(const std::string& text, const std::string& argument) const {
    if (std::string value = literal(argument); !value.empty()) return value;
    if (!isIdentifier(argument)) return {};
    if (std::string value = definedAs(text, argument); !value.empty()) return value;
    for (const std::string& file : files_) {
      if (std::string value = definedAs(file, argument); !value.empty()) return value;
    }
    return {};
  }

  static std::string definedAs(const std::string& text, const std::string& name) {
    for (std::size_t at = 0; (at = text.find(name, at)) != std::string::npos; at += name.size()) {
      std::size_t next = text.find_first_not_of(' ', at + name.size());
      if (next == std::string::npos || text[next] != '=') continue;
      const std::size_t end = text.find(';', next);
      if (std::string value = literal(trim(text.substr(next + 1, end - next - 1))); !value.empty()) return value;
    }
    return {};
  }

  // The literals that callers in `text` pass to the function, defined before `before`,
  // that has a parameter named `parameter`.
  static std::vector<std::string> passedToHelper(const std::string& text, const std::string& parameter,
                                                 std::size_t before) {
    std::string helper;
    for (std::size_t open = text.find('('); open != std::string::npos && open < before;
         open = text.find('(', open + 1)) {
      const std::size_t close = closing(text, open);
      if (close == std::string::npos || close > before) continue;
      const std::size_t body = text.find_first_not_of(" \t\r\n", close + 1);
      if (body == std::string::npos || text[body] != '{') continue;
      bool named = false;
      for (const std::string& declared : argumentsAt(text, open)) {
        const std::size_t at = declared.rfind(parameter);
        named = named || (at != std::string::npos && at + parameter.size() == declared.size() && at > 0 &&
                          !isIdentifier(declared.substr(at - 1, 1)));
      }
      if (!named) continue;
      std::size_t end = open;
      while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
      std::size_t start = end;
      while (start > 0 && (std::isalnum(static_cast<unsigned char>(text[start - 1])) || text[start - 1] == '_')) {
        --start;
      }
      helper = text.substr(start, end - start);
    }
    std::vector<std::string> passed;
    if (helper.empty()) return passed;
    for (std::size_t at = 0; (at = findCall(text, helper, at)) != std::string::npos; ++at) {
      for (const std::string& argument : argumentsAt(text, text.find('(', at))) {
        if (std::string value = literal(argument); !value.empty() && value.find('/') == std::string::npos) {
          passed.push_back(value);
        }
      }
    }
    return passed;
  }

  std::vector<std::string> files_;
};

// The entries of the manual page's CONFIGURATION section, one per .TP paragraph.
std::vector<std::string> configurationEntries(const std::string& page) {
  const std::size_t start = page.find(".SH CONFIGURATION");
  if (start == std::string::npos) return {};
  const std::size_t end = page.find("\n.SH ", start + 1);
  const std::string section = page.substr(start, end == std::string::npos ? std::string::npos : end - start);
  std::vector<std::string> entries;
  for (std::size_t at = section.find("\n.TP\n"); at != std::string::npos;) {
    const std::size_t next = section.find("\n.TP\n", at + 1);
    entries.push_back(section.substr(at, next == std::string::npos ? std::string::npos : next - at));
    at = next;
  }
  return entries;
}

bool namesWord(const std::string& text, const std::string& word) {
  for (std::size_t at = 0; (at = text.find(word, at)) != std::string::npos; at += word.size()) {
    const auto inWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    const bool before = at > 0 && inWord(text[at - 1]);
    const bool after = at + word.size() < text.size() && inWord(text[at + word.size()]);
    if (!before && !after) return true;
  }
  return false;
}

TEST(OperatorDocs, ManualPageDescribesEverySettingTheCodeReads) {
  const std::string source = KIV_SOURCE_DIR;
  const SourceScan::Settings settings =
      SourceScan({source + "/tqNotify", source + "/framework", source + "/tools"}).settings();
  // The scan itself must find the reads it is meant to find, the helpers' included.
  for (const char* known : {"configdata_location", "tcplisten", "ipchangescriptonstart", "tcpidletimeout"}) {
    EXPECT_EQ(settings.count(known), 1u) << known << " was not found in the sources";
  }

  const std::vector<std::string> entries =
      configurationEntries(kivtest::readFile(source + "/dist/man/kiv.1.in"));
  ASSERT_FALSE(entries.empty());
  for (const auto& [key, section] : settings) {
    bool described = false;
    for (const std::string& entry : entries) {
      described = described || (namesWord(entry, key) && namesWord(entry, section));
    }
    EXPECT_TRUE(described) << "kiv(1) CONFIGURATION has no entry for \"" << key << "\" in section " << section;
  }
}

TEST(OperatorDocs, ManualPageNamesTheEnvironmentTheCodeReads) {
  const std::string source = KIV_SOURCE_DIR;
  // The product's own sources only: the tests' variables are no operator's business.
  const std::set<std::string> read =
      SourceScan({source + "/tqNotify", source + "/framework", source + "/tools", source + "/platform"})
          .environmentReads();
  // The scan itself must find the reads it is meant to find, through helpers and on both systems.
  for (const char* known : {"KIV_HOME", "KIV_UTMP", "KIV_WINDOWS_VERSION", "KIV_TRACE_LEVEL"}) {
    EXPECT_EQ(read.count(known), 1u) << known << " was not found in the sources";
  }

  const std::string page = kivtest::readFile(source + "/dist/man/kiv.1.in");
  const std::size_t start = page.find(".SH ENVIRONMENT");
  ASSERT_NE(start, std::string::npos);
  const std::string environment = page.substr(start, page.find("\n.SH ", start + 1) - start);
  std::set<std::string> named(read.begin(), read.end());
  // The system's variables the host reads beside its own.
  named.insert({"INVOCATION_ID", "XDG_STATE_HOME"});
  for (const std::string& variable : named) {
    EXPECT_TRUE(namesWord(environment, variable)) << "kiv(1) ENVIRONMENT does not name " << variable;
  }
}

#ifndef _WIN32
// The words bash completion offers for a command line whose last word is being typed.
std::string completions(const std::string& line) {
  std::string output;
  const std::string script = R"(
    source /usr/share/bash-completion/bash_completion
    source ")" + std::string(KIV_SOURCE_DIR) + R"(/dist/bash-completion/kiv"
    compopt() { :; }
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE=$1; COMP_POINT=${#COMP_LINE}; COMPREPLY=()
    _kiv; echo "${COMPREPLY[*]}")";
  kivtest::writeFile(kivtest::home() + "/complete.sh", script);
  EXPECT_EQ(kivtest::run("bash " + kivtest::home() + "/complete.sh " + kivtest::quoteArgument(line), &output), 0);
  if (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

TEST(OperatorDocs, CompletionGoesOnAfterAnOptionValue) {
  if (kivtest::run("test -f /usr/share/bash-completion/bash_completion") != 0) GTEST_SKIP() << "no bash-completion";
  EXPECT_EQ(completions("kiv send --timeout 5000 "), "logon logoff docked undocked raw host-event --timeout --help");
  EXPECT_EQ(completions("kiv send logon --user alice --"), "--user --domain --session --cu --uu --timeout --help");
  EXPECT_EQ(completions("kiv units list --types 0x4 --j"), "--json");
  EXPECT_EQ(completions("kiv units add u1 --type User --set pre"),
            "previousmanageraddress= previousserveraddress= previousdomainuuid= previousuri=");
  EXPECT_EQ(completions("kiv send --timeout "), "") << "the value itself is the operator's";
}
#endif

}  // namespace
}  // namespace kivtooltest
