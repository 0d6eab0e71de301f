// The XML parser from module "tqXMLParser": queries on the notification message shapes, and
// refusal of malformed, oversized, too deeply nested and DOCTYPE-carrying text.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ITQXMLParser.h"
#include "TQString.h"
#include "component_test_util.h"
#include "support/kiv_test.h"
#include "tqNotify/framework/TQptr.h"

namespace {

class XmlParser : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(parser_.CreateInstanceV4(L"tqXMLParser", "ITQXMLParser", L"tqNotify")); }

  TQptr<ITQXMLDocument> parse(const std::wstring& text) {
    TQptr<ITQXMLDocument> document;
    lastResult_ = parser_->parse(document.fill(), text.c_str());
    return document;
  }

  // Parses text that must be refused, and checks that exactly one error line says why.
  void expectRefused(const std::wstring& text, const std::string& reason) {
    const int before = kivtest::countTrace("CTQXMLParser::parse");
    TQptr<ITQXMLDocument> document = parse(text);
    EXPECT_NE(lastResult_, 0);
    EXPECT_FALSE(document);
    EXPECT_EQ(kivtest::countTrace("CTQXMLParser::parse"), before + 1);
    EXPECT_TRUE(kivtest::traced(reason)) << "no trace containing: " << reason;
  }

  static std::string value(ITQXMLDocument* document, const wchar_t* name) {
    TQStringW out(L"untouched");
    if (document->queryValue(out, name, 1, 0) != 0) return "<missing>";
    return componenttest::narrow(out.c_str());
  }

  static std::string attribute(ITQXMLDocument* document, const wchar_t* name) {
    TQStringW out(L"untouched");
    if (document->queryShortValue(out, name) != 0) return "<missing>";
    return componenttest::narrow(out.c_str());
  }

  TQptr<ITQXMLParser> parser_;
  int lastResult_ = -1;
};

std::wstring nested(int depth) {
  std::wstring text;
  for (int i = 0; i < depth; ++i) text += L"<a>";
  for (int i = 0; i < depth; ++i) text += L"</a>";
  return text;
}

}  // namespace

// The three notification shapes; "Type" is an attribute of the selected element for the
// short query, and the text of a child element of that name for the long one.
TEST_F(XmlParser, NotificationMessages) {
  struct Case {
    const wchar_t* text;
    std::vector<std::pair<const wchar_t*, std::string>> attributes, values;
  };
  const Case cases[] = {
      {L"<Notification Type=\"Logon\">\n  <User>alice</User><Domain>CORP</Domain>\n"
       L"  <computerUserUnitName>.|CORP|alice</computerUserUnitName>\n"
       L"  <userUnitName>CORP|alice</userUnitName><sessionID>3</sessionID>\n</Notification>",
       {{L"Type", "Logon"}, {L"Domain", "<missing>"}},
       {{L"User", "alice"}, {L"Domain", "CORP"}, {L"computerUserUnitName", ".|CORP|alice"},
        {L"userUnitName", "CORP|alice"}, {L"sessionID", "3"}, {L"user", "<missing>"}, {L"Type", "<missing>"}}},
      {L"<Notification Type=\"Docked\"><Id>4711</Id><Type>dockingDevicePalm</Type></Notification>",
       {{L"Type", "Docked"}},
       {{L"Type", "dockingDevicePalm"}, {L"Id", "4711"}}},
      {L"<Notification Type=\"UnDocked\"><Type>dockingDevicePalm</Type></Notification>",
       {{L"Type", "UnDocked"}},
       {{L"Type", "dockingDevicePalm"}, {L"Id", "<missing>"}}},
  };
  for (const Case& c : cases) {
    auto document = parse(c.text);
    ASSERT_TRUE(document);
    ASSERT_EQ(document->selectElement(L"Notification", 0), 0);
    for (const auto& [name, want] : c.attributes) EXPECT_EQ(attribute(document.get(), name), want);
    for (const auto& [name, want] : c.values) EXPECT_EQ(value(document.get(), name), want);
  }
}

TEST_F(XmlParser, SelectionScopesTheQueries) {
  auto document = parse(
      L"<Envelope><Type>outer</Type><Notification Type=\"Logon\"><User>j\u00fcrgen &amp; co</User>"
      L"<Type><![CDATA[inner]]></Type></Notification></Envelope>");
  ASSERT_TRUE(document);
  // Without a selection: no attributes, values from the whole document.
  EXPECT_EQ(attribute(document.get(), L"Type"), "<missing>");
  EXPECT_EQ(value(document.get(), L"Type"), "outer");
  EXPECT_NE(document->selectElement(L"Missing", 0), 0);
  ASSERT_EQ(document->selectElement(L"Notification", 0), 0);
  EXPECT_EQ(value(document.get(), L"Type"), "inner");
  EXPECT_EQ(value(document.get(), L"User"), "j\xc3\xbcrgen & co");
}

// Names and values in any script survive, not only those of the system's code page (the
// ANSI one on Windows holds neither Cyrillic nor characters beyond the BMP).
TEST_F(XmlParser, TextBeyondTheSystemCodePageIsKept) {
  auto document = parse(
      L"<Notification Type=\"\u0412\u0445\u043e\u0434\"><\u0434\u043e\u043c>\u20ac \U0001F600</\u0434\u043e\u043c>"
      L"</Notification>");
  ASSERT_TRUE(document);
  EXPECT_EQ(value(document.get(), L"\u0434\u043e\u043c"), "\xE2\x82\xAC \xF0\x9F\x98\x80");
  ASSERT_EQ(document->selectElement(L"Notification", 0), 0);
  EXPECT_EQ(attribute(document.get(), L"Type"), "\xD0\x92\xD1\x85\xD0\xBE\xD0\xB4");
}

TEST_F(XmlParser, RefusesMalformedText) {
  expectRefused(L"<Notification Type=\"Logon\"><User>alice</Notification>", "malformed XML");
  expectRefused(L"", "malformed XML");
  expectRefused(L"just text", "malformed XML");
}

TEST_F(XmlParser, RefusesTextOverOneMebibyte) {
  const std::wstring frame = L"<Notification><User></User></Notification>";
  std::wstring fits = frame;
  fits.insert(20, std::wstring(1024 * 1024 - frame.size(), L'x'));
  EXPECT_TRUE(parse(fits));
  // Fewer wide characters than the limit, but more UTF-8 bytes: the bytes count.
  std::wstring wide = frame;
  wide.insert(20, std::wstring(400 * 1024, L'\u20ac'));
  expectRefused(wide, "text longer than 1048576 bytes");
  expectRefused(fits + L" ", "text longer than 1048576 bytes");
}

TEST_F(XmlParser, RefusesNestingDeeperThanSixtyFourLevels) {
  EXPECT_TRUE(parse(nested(64)));
  expectRefused(nested(65), "nested deeper than 64 levels");
  // Deep enough to overflow the stack of any recursive walk.
  expectRefused(nested(150000), "nested deeper than 64 levels");
}

TEST_F(XmlParser, RefusesDocumentTypeDeclarations) {
  const std::wstring bomb =
      L"<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n"
      L" <!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
      L" <!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">\n"
      L" <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n]>\n"
      L"<Notification Type=\"Logon\"><User>&lol3;</User></Notification>";
  expectRefused(bomb, "document type declarations are not accepted");
  expectRefused(L"<!DOCTYPE n SYSTEM \"http://example.invalid/n.dtd\"><n/>",
                "document type declarations are not accepted");
}
