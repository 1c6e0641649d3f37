// Hostile input to both loaders: the JSON parser against the library's own, true error
// positions, escaped control characters, transforms that overflow, files that are too
// large or never end, and the chunk tree written as JSON while walking.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "formats/json/json_parse.h"
#include "formats/json/scene_json.h"
#include "reader/chunk_dump.h"
#include "reader/chunk_reader.h"
#include "scene/mem_scene.h"
#include "tests/test_util.h"

namespace tsm {
namespace {

const std::string kHead = R"({"format": "tsm-scene", "version": 1, )";

std::string ErrorOfText(const std::string& text) {
  MemScene scene;
  LoadResult r = LoadJsonSceneText(text, "t.json", scene);
  EXPECT_FALSE(r.ok) << "loaded: " << text;
  return r.error;
}

// ---- The parser ------------------------------------------------------------------------

TEST(JsonParse, BuildsWhatTheLibraryParserBuilds) {
  std::vector<std::string> texts = {
      R"({"a": [1, -2, 3.5, -0, 0.25e2, 1E-3, 18446744073709551615, -9223372036854775808]})",
      R"({"big": 18446744073709551616, "neg": -9223372036854775809, "tiny": 5e-324})",
      R"(["\"\\\/\b\f\n\r\t", "\u00e9\u20ac\ud83d\ude00", "\u0000x", "é€😀"])",
      R"({"z": 1, "a": {"y": [], "b": {}}, "m": [true, false, null, [[[]]]]})",
      " \t\r\n[1]\n ",
      "\xEF\xBB\xBF{\"bom\": 1}",
  };
  for (const char* f : {"minimal", "orrery", "showroom"})
    texts.push_back(ReadFileText(std::string(TSM_SOURCE_DIR "/examples/") + f + ".json"));
  // An object wide enough for the hashed check of repeated names.
  std::string wide = "{";
  for (int i = 0; i < 300; ++i)
    wide += (i ? ", \"k" : "\"k") + std::to_string(i) + "\": " + std::to_string(i);
  texts.push_back(wide + "}");
  for (const std::string& t : texts) {
    Json mine = ParseJsonText(t);
    Json theirs = Json::parse(t);
    EXPECT_EQ(mine, theirs) << t.substr(0, 80);
    EXPECT_EQ(mine.dump(), theirs.dump()) << t.substr(0, 80);  // order and number kinds
  }
}

struct PositionCase {
  std::string text;
  std::string error;  // the whole message
};

TEST(JsonParse, EveryProblemHasItsTruePosition) {
  const PositionCase cases[] = {
      // The same text earlier in a string must not take the number's place.
      {kHead + "\"comment\": \"1e400\",\n  \"nodes\": [{\"name\": \"A\", \"position\": [1e400, 0, "
               "0]}]}",
       "t.json: line 2, column 40: number overflow: 1e400 is beyond the range of a double"},
      {kHead + "\"nodes\": [], \"nodes\": []}",
       "t.json: line 1, column 52: the member \"nodes\" appears more than once in this object"},
      {kHead + "\"settings\": {\"gamma\": {}, \"gamma\": {}}}",
       "t.json: /settings: the member \"gamma\" appears more than once in this object (line 1, "
       "column 65)"},
      {kHead + "\"nodes\": []}" + std::string("\0garbage", 8),
       "t.json: line 1, column 51: syntax error: a NUL byte follows the JSON value; nothing may "
       "follow it"},
      {kHead + "\"nodes\": []} {}",
       "t.json: line 1, column 52: syntax error: found '{' after the JSON value; nothing may "
       "follow it"},
      {kHead + "\"nodes\": [1,]}",
       "t.json: line 1, column 51: syntax error: expected a value, found ']'"},
      {kHead + "\"nodes\": [],}",
       "t.json: line 1, column 51: syntax error: expected a member name (a string), found '}'"},
      {kHead + "\"nodes\" []}",
       "t.json: line 1, column 47: syntax error: expected ':' after the member name, found '['"},
      {kHead + "\"nodes\": [{\"name\": \"a\tb\"}]}",
       "t.json: line 1, column 60: syntax error: control character U+0009 inside a string must "
       "be escaped"},
      {kHead + "\"nodes\": [{\"name\": \"\xC0\xAF\"}]}",
       "t.json: line 1, column 59: syntax error: ill-formed UTF-8 byte 0xC0 in a string"},
      {kHead + "\"nodes\": [{\"name\": \"\\ud800x\"}]}",
       "t.json: line 1, column 59: syntax error: the high surrogate \\uD800 must be followed by a "
       "low one"},
      {kHead + "\"nodes\": [{\"name\": \"\\q\"}]}",
       "t.json: line 1, column 59: syntax error: invalid escape \\'q' in a string"},
      {"01",
       "t.json: line 1, column 2: syntax error: found '1' after the JSON value; nothing may follow "
       "it"},
      {kHead + "\"nodes\": [-]}",
       "t.json: line 1, column 50: syntax error: expected a digit in a number, found ']'"},
      {kHead + "\"nodes\": [1.]}",
       "t.json: line 1, column 51: syntax error: expected a digit after the decimal point, found "
       "']'"},
      {kHead + "\"nodes\": [tru]}",
       "t.json: line 1, column 49: syntax error: expected a value, "
       "found 't'"},
      {kHead + "\"nodes\": [\"x",
       "t.json: line 1, column 51: syntax error: unexpected end of the "
       "text inside a string"},
      {" \n ", "t.json: line 2, column 2: syntax error: the text holds no JSON value"},
  };
  for (const PositionCase& c : cases) EXPECT_EQ(ErrorOfText(c.text), c.error) << c.text;
}

TEST(JsonParse, NumbersTooSmallForADoubleBecomeZero) {
  MemScene scene;
  LoadResult r = LoadJsonSceneText(
      kHead + R"("nodes": [{"name": "A", "position": [1e-400, -1e-999999999999, 0]}]})", "t.json",
      scene);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(scene.Nodes()[0]->local.GetTrans(), Point3(0, 0, 0));
}

// ---- Control characters in messages ---------------------------------------------------

TEST(JsonMessages, ControlCharactersFromTheFileAreEscaped) {
  struct Case {
    std::string members;
    std::string expected;  // a part of the message
  };
  const Case cases[] = {
      // A member name with a terminal escape sequence, in the pointer.
      {R"("nodes": [{"name": "A", "\u001b[31mred": 1}])", "/nodes/0/\\x1B[31mred: unknown field"},
      // A NUL in a member name does not cut the message short.
      {R"("nodes": [{"name": "A", "a\u0000b": 1}])", "/nodes/0/a\\x00b: unknown field (line 1"},
      // C1 controls (U+009B is a terminal's one-byte CSI), in names quoted by the message.
      {R"("nodes": [{"name": "A\u009b2J", "parent": "B\u009b"}, {"name": "B\u009b", "parent": "A\u009b2J"}])",
       "\"A\\u009B2J\" -> \"B\\u009B\""},
      {R"("nodes": [{"name": "A", "parent": "\u0007bell"}])", "no node named \"\\x07bell\""},
  };
  for (const Case& c : cases) {
    std::string e = ErrorOfText(kHead + c.members + "}");
    EXPECT_NE(e.find(c.expected), std::string::npos) << e;
    for (size_t i = 0; i < e.size(); ++i) {
      unsigned char b = static_cast<unsigned char>(e[i]);
      EXPECT_FALSE(b < 0x20 || b == 0x7F) << "raw control byte at " << i << ": " << e;
      EXPECT_FALSE(b == 0xC2 && i + 1 < e.size() && (unsigned char)e[i + 1] >= 0x80 &&
                   (unsigned char)e[i + 1] <= 0x9F)
          << e;
    }
  }
}

// ---- Transforms --------------------------------------------------------------------------

TEST(JsonTransforms, HugeAxesAndQuaternionsKeepTheirRotation) {
  const std::pair<std::string, std::string> same[] = {
      {R"({"axis": [3e38, 3e38, 3e38], "angle": 90})", R"({"axis": [1, 1, 1], "angle": 90})"},
      {R"({"axis": [0, -3.4e38, 0], "angle": 30})", R"({"axis": [0, -1, 0], "angle": 30})"},
      {R"({"quat": [3e38, 0, 0, 3e38]})", R"({"quat": [1, 0, 0, 1]})"},
  };
  // The static rotation, and the same value as a key of a sampled and of a keyed
  // controller (keyed keys hold axis and angle only).
  const std::pair<std::string, std::string> forms[] = {
      {R"("nodes": [{"name": "N", "rotation": )", "}]}"},
      {R"("nodes": [{"name": "N", "transform": {"rotation": {"class": "sampled", "keys": [{"time": 0, "value": )",
       "}]}}}]}"},
      {R"("nodes": [{"name": "N", "transform": {"rotation": {"class": "keyed", "keys": [{"time": 0, "value": )",
       "}]}}}]}"},
  };
  for (const auto& f : forms) {
    for (const auto& s : same) {
      if (&f == &forms[2] && s.first.find("quat") != std::string::npos) continue;
      MemScene a, b;
      ASSERT_TRUE(LoadJsonSceneText(kHead + f.first + s.first + f.second, "a", a).ok) << s.first;
      ASSERT_TRUE(LoadJsonSceneText(kHead + f.first + s.second + f.second, "b", b).ok) << s.second;
      Matrix3 ma = a.Nodes()[0]->NodeTransform(0), mb = b.Nodes()[0]->NodeTransform(0);
      for (int row = 0; row < 3; ++row) {
        Point3 p = ma.GetRow(row), q = mb.GetRow(row);
        EXPECT_NEAR(p.x, q.x, 1e-6) << f.first << s.first;
        EXPECT_NEAR(p.y, q.y, 1e-6) << f.first << s.first;
        EXPECT_NEAR(p.z, q.z, 1e-6) << f.first << s.first;
      }
    }
  }
}

TEST(JsonTransforms, TransformsThatOverflowAreRefusedWithTheNode) {
  const std::pair<std::string, std::string> cases[] = {
      {R"("nodes": [{"name": "P", "scale": 3e38, "children": [{"name": "C", "scale": 3e38}]}])",
       "t.json: /nodes/0/children/0: the node's transform is not finite"},
      {R"("nodes": [{"name": "P", "position": [3e38, 0, 0]}, {"name": "C", "parent": "P",
          "position": [3e38, 0, 0]}])",
       "t.json: /nodes/1: the node's transform is not finite"},
      {R"("nodes": [{"name": "P", "scale": 3e38, "objectOffset": {"scale": 3e38}}])",
       "t.json: /nodes/0/objectOffset: the object's transform is not finite"},
  };
  for (const auto& c : cases) {
    std::string e = ErrorOfText(kHead + c.first + "}");
    EXPECT_EQ(e.rfind(c.second, 0), 0u) << e;
  }
  // Large but finite is fine.
  MemScene scene;
  EXPECT_TRUE(
      LoadJsonSceneText(kHead + R"("nodes": [{"name": "P", "scale": 1e18, "children": [{"name": "C",
                      "scale": 1e18}]}]})",
                        "t.json", scene)
          .ok);
}

TEST(CheckScene, FindsANodeListedTwiceByItsParent) {
  MemScene scene;
  MemNode* p = scene.AddNode("P");
  MemNode* c = scene.AddNode("C", p);
  p->children.push_back(c);
  EXPECT_EQ(CheckScene(scene), "node \"C\": its parent does not list it exactly once as a child");
}

// ---- Files too large or never ending ---------------------------------------------------

// A sparse file of the given size in the build folder; removed at the end of the test.
class SparseFile {
 public:
  SparseFile(const std::string& name, uint64_t size)
      : path_(std::string(TSM_BINARY_DIR) + "/" + name) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    ok_ = f != nullptr && ::ftruncate(fileno(f), static_cast<off_t>(size)) == 0;
    if (f) std::fclose(f);
  }
  ~SparseFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }
  bool Ok() const { return ok_; }

 private:
  std::string path_;
  bool ok_ = false;
};

TEST(InputLimits, FilesAboveTheLimitsAreRefusedBeforeReading) {
  SparseFile tsm("hardening_big.tsm", kMaxChunkFileSize + 1);
  SparseFile scene("hardening_big.json", kMaxSceneFileSize + 1);
  if (!tsm.Ok() || !scene.Ok()) GTEST_SKIP() << "no sparse files here";
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_FALSE(ReadFileBytes(tsm.Path().c_str(), &bytes, &error));
  EXPECT_EQ(error, "the file is 4294967296 bytes; a chunk file is at most 4294967295");
  EXPECT_TRUE(bytes.empty());
  MemScene s;
  LoadResult r = LoadJsonScene(scene.Path(), s);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, scene.Path() +
                         ": the file is 4294967297 bytes; scene files above 4294967296 bytes are "
                         "refused");
}

TEST(InputLimits, EndlessStreamsOfZerosStopAtOnce) {
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(ReadFileBytes("/dev/zero", &bytes, &error)) << error;
  EXPECT_LE(bytes.size(), 65536u);
  EXPECT_EQ(CheckChunkFile(bytes).error,
            "offset 0: chunk 0x0000 length 0 is shorter than its 6-byte header");
  MemScene s;
  LoadResult r = LoadJsonScene("/dev/zero", s);
  EXPECT_EQ(r.error,
            "/dev/zero: line 1, column 1: syntax error: expected a value, found byte 0x00");
}

// ---- The chunk tree as JSON, written while walking -------------------------------------

// A file of the skeleton with `count` empty chunks of an unknown id in EDITOR_DATA,
// nested `depth` levels deep in containers.
std::vector<uint8_t> ChunkFile(int count, int depth) {
  std::vector<uint8_t> b;
  std::vector<size_t> open;
  auto u16 = [&b](uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
  };
  auto openChunk = [&](uint16_t id) {
    open.push_back(b.size());
    u16(id);
    u16(0);
    u16(0);
  };
  auto close = [&]() {
    uint32_t len = uint32_t(b.size() - open.back());
    for (int i = 0; i < 4; ++i) b[open.back() + 2 + i] = uint8_t(len >> (8 * i));
    open.pop_back();
  };
  openChunk(0xBEEF);
  openChunk(0x0002);
  for (int i = 0; i < 4; ++i) b.push_back(i == 0 ? 3 : 0);
  close();
  openChunk(0x3D3D);
  for (int d = 0; d < depth; ++d) openChunk(0x3D3D);
  for (int i = 0; i < count; ++i) {
    openChunk(0x1234);
    b.push_back(uint8_t(i));  // a payload shown in hex
    close();
  }
  for (int d = 0; d < depth; ++d) close();
  close();
  openChunk(0xB000);
  close();
  close();
  return b;
}

TEST(ChunkJson, WrittenWhileWalkingItIsTheDumpOfOneJsonValue) {
  for (int depth : {0, 1, 5}) {
    for (int indent : {-1, 0, 2, 4}) {
      std::vector<uint8_t> file = ChunkFile(3, depth);
      ChunkTree t = ReadChunkTree(file);
      ASSERT_TRUE(t.ok) << t.error;
      std::string text = FormatChunkTreeJson(t.top, file.data(), file.size(), indent);
      // The text the library writes for the same value, member order kept.
      EXPECT_EQ(nlohmann::ordered_json::parse(text).dump(indent), text)
          << "depth " << depth << ", indent " << indent;
    }
  }
}

TEST(ChunkJson, ASinkThatFailsStopsTheWalk) {
  std::vector<uint8_t> file = ChunkFile(1000, 2);
  ChunkTree t = ReadChunkTree(file);
  ASSERT_TRUE(t.ok);
  for (int allowed : {0, 1, 10, 500}) {
    int calls = 0;
    bool done =
        WriteChunkTreeJson(t.top, file.data(), file.size(),
                           [&calls, allowed](const char*, size_t) { return calls++ < allowed; });
    EXPECT_FALSE(done);
    EXPECT_EQ(calls, allowed + 1);
  }
}

TEST(ChunkJson, AParseWithoutChildrenChecksAndPrintsTheSame) {
  // Every truncation of a file, and every byte of it flipped: both parses agree on the
  // outcome, and where the framing holds, on both dumps.
  const std::vector<uint8_t> whole = ChunkFile(4, 3);
  std::vector<std::vector<uint8_t>> files;
  for (size_t n = 0; n <= whole.size(); ++n) files.emplace_back(whole.begin(), whole.begin() + n);
  for (size_t i = 0; i < whole.size(); ++i) {
    files.push_back(whole);
    files.back()[i] ^= 0x5A;
  }
  for (const std::vector<uint8_t>& f : files) {
    FileCheck full = CheckChunkFile(f, true), lean = CheckChunkFile(f, false);
    ASSERT_EQ(full.ok, lean.ok);
    ASSERT_EQ(full.error, lean.error);
    EXPECT_TRUE(lean.tree.top.children.empty());
    if (!full.tree.ok) continue;
    EXPECT_EQ(FormatChunkTreeJson(full.tree.top, f.data(), f.size()),
              FormatChunkTreeJson(lean.tree.top, f.data(), f.size()));
    EXPECT_EQ(FormatChunkTreeText(full.tree.top, f.data(), f.size()),
              FormatChunkTreeText(lean.tree.top, f.data(), f.size()));
  }
}

}  // namespace
}  // namespace tsm
