// Every command's --json result against the shape its own help gives (the
// same text the man page is made from): a script that reads the page can
// trust what it reads.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/temp_dir.h"

namespace qmx::test {
namespace {

using nlohmann::json;

// ---- The shapes: {"key": TYPE, "key"?: TYPE}, [TYPE], {string: TYPE},
// A | B, the names int number string bool hex null, and "literal" texts.

struct Shape {
  enum Kind { Int, Number, String, Bool, Hex, Null, Literal, List, Object, Map, Either } kind = Null;
  std::string literal;
  std::vector<Shape> items;  // List, Map: one; Either: the choices; Object: the values
  std::vector<std::pair<std::string, bool>> keys;  // Object: name, optional
  Shape() = default;
  explicit Shape(Kind k) : kind(k) {}
};

class ShapeParser {
 public:
  explicit ShapeParser(std::string text) : text_(std::move(text)) {}
  Shape Parse() {
    Shape s = Choice();
    Blank();
    if (at_ != text_.size()) Fail("text after the shape");
    return s;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) {
    throw std::runtime_error(why + " at " + std::to_string(at_) + " of: " + text_);
  }
  void Blank() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  bool Take(char c) {
    Blank();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected '") + c + "'");
  }
  std::string Quoted() {
    Expect('"');
    const auto end = text_.find('"', at_);
    if (end == std::string::npos) Fail("unterminated text");
    std::string out = text_.substr(at_, end - at_);
    at_ = end + 1;
    return out;
  }
  Shape Choice() {
    Shape first = One();
    if (!Take('|')) return first;
    Shape either(Shape::Either);
    either.items.push_back(std::move(first));
    do either.items.push_back(One());
    while (Take('|'));
    return either;
  }
  Shape One() {
    Blank();
    if (at_ >= text_.size()) Fail("shape missing");
    const char c = text_[at_];
    if (c == '"') {
      Shape s(Shape::Literal);
      s.literal = Quoted();
      return s;
    }
    if (c == '[') {
      ++at_;
      Shape s(Shape::List);
      s.items.push_back(Choice());
      Expect(']');
      return s;
    }
    if (c == '{') {
      ++at_;
      Blank();
      if (text_.compare(at_, 7, "string:") == 0) {
        at_ += 7;
        Shape s(Shape::Map);
        s.items.push_back(Choice());
        Expect('}');
        return s;
      }
      Shape s(Shape::Object);
      do {
        std::string key = Quoted();
        const bool optional = Take('?');
        Expect(':');
        s.keys.emplace_back(std::move(key), optional);
        s.items.push_back(Choice());
      } while (Take(','));
      Expect('}');
      return s;
    }
    std::size_t end = at_;
    while (end < text_.size() && std::isalpha(static_cast<unsigned char>(text_[end]))) ++end;
    const std::string word = text_.substr(at_, end - at_);
    at_ = end;
    static const std::map<std::string, Shape::Kind> names{{"int", Shape::Int},       {"number", Shape::Number},
                                                          {"string", Shape::String}, {"bool", Shape::Bool},
                                                          {"hex", Shape::Hex},       {"null", Shape::Null},
                                                          {"true", Shape::Bool},     {"false", Shape::Bool}};
    const auto it = names.find(word);
    if (it == names.end()) Fail("unknown type '" + word + "'");
    return Shape(it->second);
  }

  std::string text_;
  std::size_t at_ = 0;
};

// Empty when `value` has the shape, else where it does not.
std::string Mismatch(const Shape& shape, const json& value, const std::string& where = "$") {
  const auto no = [&](const std::string& what) { return where + ": expected " + what + ", got " + value.dump(); };
  switch (shape.kind) {
    case Shape::Int:
      return value.is_number_integer() ? "" : no("int");
    case Shape::Number:
      return value.is_number() ? "" : no("number");
    case Shape::String:
      return value.is_string() ? "" : no("string");
    case Shape::Bool:
      return value.is_boolean() ? "" : no("bool");
    case Shape::Null:
      return value.is_null() ? "" : no("null");
    case Shape::Hex: {
      if (!value.is_string()) return no("hex");
      const std::string text = value.get<std::string>();
      const bool pairs = text.size() % 2 == 0 && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
      return pairs ? "" : no("hex");
    }
    case Shape::Literal:
      return value == shape.literal ? "" : no("\"" + shape.literal + "\"");
    case Shape::List: {
      if (!value.is_array()) return no("a list");
      for (std::size_t i = 0; i < value.size(); ++i)
        if (auto m = Mismatch(shape.items[0], value[i], where + "[" + std::to_string(i) + "]"); !m.empty()) return m;
      return "";
    }
    case Shape::Map: {
      if (!value.is_object()) return no("an object");
      for (const auto& [key, item] : value.items())
        if (auto m = Mismatch(shape.items[0], item, where + "." + key); !m.empty()) return m;
      return "";
    }
    case Shape::Object: {
      if (!value.is_object()) return no("an object");
      std::set<std::string> known;
      for (std::size_t i = 0; i < shape.keys.size(); ++i) {
        const auto& [key, optional] = shape.keys[i];
        known.insert(key);
        if (!value.contains(key)) {
          if (!optional) return where + ": key \"" + key + "\" missing in " + value.dump();
          continue;
        }
        if (auto m = Mismatch(shape.items[i], value[key], where + "." + key); !m.empty()) return m;
      }
      for (const auto& [key, item] : value.items())
        if (!known.count(key)) return where + ": key \"" + key + "\" not in the shape";
      return "";
    }
    case Shape::Either: {
      std::string all;
      for (const Shape& choice : shape.items) {
        const std::string m = Mismatch(choice, value, where);
        if (m.empty()) return "";
        all += "\n  " + m;
      }
      return where + ": none of the choices fits:" + all;
    }
  }
  return "unreachable";
}

// ---- Running qmxctl.

struct Ran {
  int status = -1;
  std::string out;
};

Ran Qmxctl(const std::string& args, const std::filesystem::path& cwd) {
  const std::string command =
      "cd '" + cwd.string() + "' && '" + BuildDir() + "/app/qmxctl' " + args + " 2>/dev/null </dev/null";
  Ran r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return r;
  std::array<char, 4096> buf{};
  for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0;) r.out.append(buf.data(), n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// The shape that `command --help` gives for `action` ("json ACTION[, ACTION]:"
// or, for all of the command, "json:"), continuation lines included.
std::string ShapeText(const std::string& command, const std::string& action) {
  std::istringstream help(Qmxctl(command + " --help", std::filesystem::temp_directory_path()).out);
  std::string line, text;
  bool in = false;
  while (std::getline(help, line)) {
    if (in && line.rfind("  ", 0) == 0) {
      text += " " + line;
      continue;
    }
    in = false;
    if (line.rfind("json", 0) != 0) continue;
    const auto colon = line.find(':');
    std::string labels = line.substr(4, colon - 4);
    std::set<std::string> names;
    std::istringstream words(labels);
    for (std::string w; words >> w;) names.insert(w.back() == ',' ? w.substr(0, w.size() - 1) : w);
    if (names.empty() || names.count(action)) {
      text = line.substr(colon + 1);
      in = true;
    }
  }
  return text;
}

// Every command of the main help's list.
std::set<std::string> Commands() {
  std::istringstream help(Qmxctl("--help", std::filesystem::temp_directory_path()).out);
  std::set<std::string> out;
  bool in = false;
  for (std::string line; std::getline(help, line);) {
    if (line == "commands:") in = true;
    else if (in && line.empty()) break;
    else if (in && line.rfind("  ", 0) == 0 && std::isalpha(static_cast<unsigned char>(line[2])))
      out.insert(line.substr(2, line.find(' ', 2) - 2));
  }
  return out;
}

// The hex of a text whose characters are all below U+0100, one byte each.
std::string Latin1Hex(const std::string& utf8) {
  std::string hex;
  char pair[3];
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    auto c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x80) c = static_cast<unsigned char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
    std::snprintf(pair, sizeof pair, "%02X", c);
    hex += pair;
  }
  return hex;
}

TEST(ShapeTest, TheCheckerTellsShapesApart) {
  const Shape s = ShapeParser(R"({"kind": "data" | "event", "n"?: int, "h": hex | null, "l": [{string: bool}]})").Parse();
  EXPECT_EQ(Mismatch(s, json::parse(R"({"kind":"data","h":"0A","l":[{"x":true}]})")), "");
  EXPECT_EQ(Mismatch(s, json::parse(R"({"kind":"event","n":3,"h":null,"l":[]})")), "");
  for (const char* bad : {R"({"kind":"other","h":null,"l":[]})", R"({"kind":"data","h":"0a","l":[]})",
                          R"({"kind":"data","h":"0A0","l":[]})", R"({"kind":"data","n":1.5,"h":null,"l":[]})",
                          R"({"kind":"data","h":null})", R"({"kind":"data","h":null,"l":[],"more":1})",
                          R"({"kind":"data","h":null,"l":[{"x":1}]})"})
    EXPECT_NE(Mismatch(s, json::parse(bad)), "") << bad;
}

class QmxctlJsonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(BuildDir() + "/app/qmxctl")) GTEST_SKIP() << "no qmxctl";
  }
};

TEST_F(QmxctlJsonTest, EveryCommandsResultHasTheShapeItsHelpGives) {
  TempDir dir;
  {
    std::FILE* f = std::fopen((dir.path() / "other.prof").c_str(), "wb");
    std::fputs("tx-power = 0x10\n", f);
    std::fclose(f);
  }
  struct Case {
    std::string command, action, args;
    int status = 0;
  };
  // In this order: the profile saved is then diffed and loaded, the image
  // saved is verified. Each run has a new built-in module.
  const std::vector<Case> cases{
      {"enter", "", "enter"},
      {"exit", "", "exit"},
      {"reset", "", "reset"},
      {"get", "", "get 0 0 4"},
      {"get", "", "get 0 0 4 --remote 1"},
      {"set", "", "set 0 1 00"},
      {"set", "", "set 0 1 00 --remote 1"},
      {"read-all", "", "read-all"},
      {"status", "", "status"},
      {"config", "show", "config show"},
      {"config", "set", "config set tx-power=0x10"},
      {"config", "save", "config save p.prof"},
      {"config", "diff", "config diff p.prof"},
      {"config", "load", "config load p.prof"},
      {"config", "diff", "config diff other.prof", 1},
      {"config", "load", "config load other.prof"},
      {"defaults", "", "defaults"},
      {"mac", "", "mac 00:11:22:33:44:55:66:77"},
      {"fcc", "", "fcc 1"},
      {"send", "", "send 1 41 42"},
      {"send", "", "send 0x0F00 41", 1},
      {"monitor", "", "monitor 4 --timestamps"},
      {"firmware", "", "firmware save image.bin"},
      {"firmware", "", "firmware verify --raw image.bin"},
      {"diag", "scan", "diag scan 1-3"},
      {"nodes", "", "nodes --listen 0 --scan 1-4"},
      {"nodes", "", "nodes --listen 2.5"},
  };
  std::set<std::string> covered;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    covered.insert(c.command);
    const std::string shapeText = ShapeText(c.command, c.action);
    ASSERT_FALSE(shapeText.empty()) << "no json shape in the help of " << c.command << " " << c.action;
    Shape shape;
    ASSERT_NO_THROW(shape = ShapeParser(shapeText).Parse());
    const Ran r = Qmxctl("--port sim --json " + c.args, dir.path());
    EXPECT_EQ(r.status, c.status) << r.out;
    std::istringstream lines(r.out);
    int objects = 0;
    for (std::string line; std::getline(lines, line); ++objects) {
      const json value = json::parse(line, nullptr, false);
      ASSERT_FALSE(value.is_discarded()) << line;
      EXPECT_EQ(Mismatch(shape, value), "") << line;
    }
    if (c.command == "monitor") EXPECT_GT(objects, 2) << "the built-in network announces itself";
    else EXPECT_EQ(objects, 1);
  }
  EXPECT_EQ(covered, Commands()) << "a command without its JSON case";
}

TEST_F(QmxctlJsonTest, MonitorEventsCarryTheirValues) {
  TempDir dir;
  const Ran r = Qmxctl("--port sim --json monitor 6", dir.path());
  ASSERT_EQ(r.status, 0);
  std::istringstream lines(r.out);
  std::set<std::string> kinds;
  for (std::string line; std::getline(lines, line);) {
    ASSERT_FALSE(line.empty()) << "no empty lines between objects";
    const json j = json::parse(line);
    kinds.insert(j["kind"]);
    if (j["kind"] == "data") {
      EXPECT_GE(j["address"].get<int>(), 1);
      EXPECT_GT(j["lqi"].get<int>(), 0);
      EXPECT_FALSE(j["data_hex"].get<std::string>().empty());
      EXPECT_EQ(Latin1Hex(j["text"]), j["data_hex"]) << "the text is the data itself: " << line;
    }
    if (j["kind"] == "announce" && j["code"] == 0xA2) {
      EXPECT_EQ(j.value("mac", std::string()).size(), 23u) << line;
      EXPECT_EQ(j["address_hex"], "0x000" + std::to_string(j["address"].get<int>())) << line;
    }
  }
  EXPECT_TRUE(kinds.count("data") && kinds.count("announce")) << r.out;
}

}  // namespace
}  // namespace qmx::test
