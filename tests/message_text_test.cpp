// The message escaper: what it keeps and how it escapes, and that nothing a tool prints,
// whatever the source of the text, carries a raw control character.
#include "io/message_text.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "plugin/platform.h"
#include "tests/test_util.h"

namespace tsm {
namespace {

TEST(MessageTextTest, EscapesEveryControlCharacterAndKeepsPrintableUtf8) {
  struct Case {
    std::string text, escaped, message;  // message: "" when the same as escaped
  } cases[] = {
      {"plain text", "plain text", ""},
      {"\x1b[31mred", "\\x1B[31mred", ""},
      {"\x1b]0;title\x07", "\\x1B]0;title\\x07", ""},
      {"\xc2\x9b" "2J", "\\u009B2J", ""},  // C1 in UTF-8
      {"\x7f", "\\x7F", ""},
      {"\x9b" "2J", "\\x9B2J", ""},  // a lone byte that is not UTF-8
      {"caf\xc3\xa9 \xe2\x98\x83 \xf0\x9f\x98\x80 \xc2\xa0", "caf\xc3\xa9 \xe2\x98\x83 \xf0\x9f\x98\x80 \xc2\xa0", ""},
      {"\xc0\xaf", "\\xC0\\xAF", ""},                // overlong
      {"\xed\xa0\x80", "\\xED\\xA0\\x80", ""},        // a surrogate
      {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", ""},  // past U+10FFFF
      {"cut \xe2\x98", "cut \\xE2\\x98", ""},
      {"a\nb\tc\r", "a\\x0Ab\\x09c\\x0D", "a\nb\tc\\x0D"},
      {std::string("nul\0end", 7), "nul\\x00end", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.escaped);
    EXPECT_EQ(EscapeControls(c.text), c.escaped);
    EXPECT_EQ(MessageText(c.text), c.message.empty() ? c.escaped : c.message);
    EXPECT_EQ(EscapeControls(c.escaped), c.escaped) << "escaping twice changes nothing";
  }
}

// The exporter's boxes reach the terminal through the standard-error sink.
TEST(MessageTextTest, MessageBoxesAreEscaped) {
  std::string path = std::filesystem::temp_directory_path() / "tsm_sink_test.txt";
  int saved = ::dup(STDERR_FILENO);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  std::fflush(stderr);
  ::dup2(fd, STDERR_FILENO);
  StderrMessageSink().Show("Export Error", "Object \x1b[31mBig is to large to export", 0);
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(fd);
  EXPECT_EQ(ReadFileText(path), "Export Error: Object \\x1B[31mBig is to large to export\n");
  std::remove(path.c_str());
}

// Names from files and arguments in every tool's messages: loader notices, file names,
// echoed arguments, tsmview's camera list.
TEST(MessageTextTest, NoToolPrintsARawControlCharacter) {
  char pattern[] = "/tmp/tsm_message_test_XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  WriteFileText(dir + "/a.obj",
                "mtllib \x1b]0;T\x07.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl \x1b[31mred\nf 1 2 3\n");
  WriteFileText(dir + "/c.gltf",
                R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
                    "nodes": [{"name": "\u001b]0;cam\u0007", "camera": 0}],
                    "cameras": [{"type": "perspective",
                                 "perspective": {"yfov": 1, "znear": 0.1}}]})");
  const std::string bin = "'" TSM_BINARY_DIR "/";
  const std::string esc = "\"$(printf '\\033]0;T\\007')\"";
  ASSERT_EQ(RunShell(dir, bin + "tsmexport' c.gltf -o c.tsm").status, 0);
  struct Case {
    std::string command;
    const char* shows;  // the escaped text that stands in the output
  } cases[] = {
      {bin + "tsmexport' a.obj -o a.tsm", "\\x1B[31mred"},
      {bin + "tsmexport' " + esc + "x.json", "\\x1B]0;T\\x07x.json"},
      {bin + "tsmexport' a.obj --fps " + esc, "\\x1B]0;T\\x07"},
      {bin + "tsmview' c.tsm -o c.png --camera " + esc, "\\x1B]0;cam\\x07"},
      {bin + "tsmview' " + esc + " -o c.png", "\\x1B]0;T\\x07"},
      {bin + "tsmdump' " + esc, "\\x1B]0;T\\x07"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ShellOutcome o = RunShell(dir, c.command + " >/dev/null");
    EXPECT_NE(o.err.find(c.shows), std::string::npos) << o.err;
    EXPECT_EQ(MessageText(o.err), o.err) << "a raw control character was printed";
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tsm
