// A small Windows host for qdlexp.dle: loads the module with LoadLibraryA, talks to it only
// through its five exports and the objects they hand out, and exports scenes built here
// through the exporter's export operation.
//
//   tsm_wintest MODULE [FOLDER]
//
// writes its files into FOLDER (default "wintest_out", made when missing), prints every
// failed check and every message box, and exits with 0 when all checks passed.
//
// The module's message boxes are routed to this program: its import of MessageBoxA is
// pointed at a function here that records the box and answers OK, so no box needs a display.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/class_desc.h"
#include "host/scene_export.h"
#include "reader/chunk_reader.h"
#include "resources/string_table.h"
#include "scene/mem_material.h"
#include "scene/mem_objects.h"
#include "scene/mem_scene.h"
#include "writer/chunk_ids.h"

// After the exporter's headers: their constants share names with the system's macros.
// clang-format off
#include <windows.h>
// clang-format on

namespace {

using namespace tsm;

int checks = 0;
int failures = 0;

void Check(bool ok, const std::string& what) {
  ++checks;
  if (!ok) {
    ++failures;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

std::string Text(const char* s) {
  return s == nullptr ? std::string("(null)") : "\"" + std::string(s) + "\"";
}

void CheckText(const char* got, const char* expected, const std::string& what) {
  bool same =
      got != nullptr && expected != nullptr ? std::strcmp(got, expected) == 0 : got == expected;
  Check(same, what + ": " + Text(got) + ", expected " + Text(expected));
}

// --- Message boxes of the module --------------------------------------------------------

struct Box {
  HWND owner;
  std::string text;
  std::string caption;
  unsigned type;
};
std::vector<Box> boxes;

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
  std::printf("  box: %s: %s\n", caption ? caption : "", text ? text : "");
  return IDOK;
}

// Points module's import of function from dll at replacement, and puts where it pointed
// before into *previous. Answers false when the module has no such import.
bool RedirectImport(HMODULE module, const char* dll, const char* function, void* replacement,
                    void** previous) {
  BYTE* base = reinterpret_cast<BYTE*>(module);
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) return false;
  for (const IMAGE_IMPORT_DESCRIPTOR* imp =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       imp->Name != 0; ++imp) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + imp->Name), dll) != 0) continue;
    DWORD names = imp->OriginalFirstThunk != 0 ? imp->OriginalFirstThunk : imp->FirstThunk;
    const IMAGE_THUNK_DATA* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names);
    IMAGE_THUNK_DATA* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; name->u1.AddressOfData != 0; ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
      const IMAGE_IMPORT_BY_NAME* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      DWORD old;
      if (!VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE, &old))
        return false;
      *previous = reinterpret_cast<void*>(slot->u1.Function);
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), old, &old);
      return true;
    }
  }
  return false;
}

// The boxes since the last call, as "caption|text|type", and forgets them.
std::vector<std::string> TakeBoxes() {
  std::vector<std::string> seen;
  for (const Box& b : boxes) {
    Check(b.owner == ::GetActiveWindow(), "a box is owned by the active window");
    seen.push_back(b.caption + "|" + b.text + "|" + std::to_string(b.type));
  }
  boxes.clear();
  return seen;
}

void CheckBoxes(const std::vector<std::string>& expected, const std::string& what) {
  std::vector<std::string> seen = TakeBoxes();
  std::string list;
  for (const std::string& s : seen) list += " [" + s + "]";
  Check(seen == expected, what + ": boxes" + (list.empty() ? " none" : list));
}

// --- The module -------------------------------------------------------------------------

struct Module {
  HMODULE handle = nullptr;
  const char* (*description)() = nullptr;
  int (*numberClasses)() = nullptr;
  ClassDesc* (*classDesc)(int) = nullptr;
  unsigned long (*version)() = nullptr;
  int (*canAutoDefer)() = nullptr;
  void* systemMessageBox = nullptr;  // the module's MessageBoxA before it was routed here
};

template <class F>
void Resolve(HMODULE handle, const char* name, F* fn) {
  *fn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
  Check(*fn != nullptr, std::string("the module exports ") + name);
}

bool Load(const char* path, Module* m) {
  m->handle = LoadLibraryA(path);
  Check(m->handle != nullptr, std::string("LoadLibraryA loads ") + path + " (error " +
                                  std::to_string(GetLastError()) + ")");
  if (m->handle == nullptr) return false;
  Resolve(m->handle, "LibDescription", &m->description);
  Resolve(m->handle, "LibNumberClasses", &m->numberClasses);
  Resolve(m->handle, "LibClassDesc", &m->classDesc);
  Resolve(m->handle, "LibVersion", &m->version);
  Resolve(m->handle, "CanAutoDefer", &m->canAutoDefer);
  Check(RedirectImport(m->handle, "user32.dll", "MessageBoxA",
                       reinterpret_cast<void*>(&RecordMessageBox), &m->systemMessageBox),
        "the module's MessageBoxA can be routed to the test host");
  return m->description && m->numberClasses && m->classDesc && m->version && m->canAutoDefer;
}

// Every id around the table loads with LoadStringA exactly the text of the table, and
// nothing where the table has none; the loaded text is cut to the buffer's size.
void CheckStrings(HMODULE handle) {
  int found = 0;
  for (unsigned id = 40200; id < 40260; ++id) {
    char buffer[256];
    std::memset(buffer, 'x', sizeof(buffer));
    int n = ::LoadStringA(handle, id, buffer, sizeof(buffer));
    const char* expected = FindStringResource(id);
    if (expected == nullptr) {
      Check(n == 0, "string " + std::to_string(id) + " is not in the module");
      continue;
    }
    ++found;
    Check(n == static_cast<int>(std::strlen(expected)) && std::strcmp(buffer, expected) == 0,
          "string " + std::to_string(id) + ": \"" + std::string(buffer, n > 0 ? n : 0) +
              "\", expected \"" + expected + "\"");
  }
  Check(found == 14, "the module carries the 14 strings of the table");
  char small[8];
  Check(::LoadStringA(handle, IDS_LIB_DESCRIPTION, small, sizeof(small)) == 7 &&
            std::strcmp(small, "Tessari") == 0,
        "a string is cut to the buffer");
}

void CheckAnswers(const Module& m) {
  CheckText(m.description(), FindStringResource(IDS_LIB_DESCRIPTION), "LibDescription");
  Check(m.numberClasses() == 1, "LibNumberClasses answers 1");
  Check(m.version() == 0x10680800ul, "LibVersion answers 0x10680800");
  Check(m.canAutoDefer() == 1, "CanAutoDefer answers 1");
  ClassDesc* desc = m.classDesc(0);
  Check(desc != nullptr && m.classDesc(0) == desc, "LibClassDesc(0) answers one descriptor");
  Check(m.classDesc(1) == nullptr && m.classDesc(-1) == nullptr,
        "LibClassDesc answers null for indexes 1 and -1");
  if (desc == nullptr) return;
  Check(desc->IsPublic() == 1, "the class is public");
  CheckText(desc->ClassName(), "Tessarin Quadrel", "class name");
  CheckText(desc->Category(), "Scene Export", "category");
  Check(desc->SuperClassNumber() == 0xA20u, "super-class number 0xA20");
  Check(desc->ClassIdentity() == Class_ID(0x62F46A5E, 0x037B1F42), "class id");

  std::unique_ptr<SceneExport> exporter(static_cast<SceneExport*>(desc->Create(0)));
  Check(exporter != nullptr, "the descriptor creates an exporter");
  if (!exporter) return;
  Check(exporter->ExtensionCount() == 1, "one extension");
  CheckText(exporter->Extension(0), "tsm", "extension 0");
  CheckText(exporter->Extension(1), "", "extension 1");
  CheckText(exporter->LongDescription(), "Tessarin Format Quadrel File", "long description");
  CheckText(exporter->ShortDescription(), "Tessarin Format", "short description");
  CheckText(exporter->AuthorName(), FindStringResource(IDS_AUTHOR), "author");
  CheckText(exporter->CopyrightMessage(), FindStringResource(IDS_COPYRIGHT), "copyright");
  Check(exporter->Version() == 100u, "version 100");
  CheckBoxes({}, "asking the module's texts");
}

// --- Scenes and files -------------------------------------------------------------------

// A box mesh with a material, a dummy below it, a point light, a camera with its target.
void Populate(MemScene& scene, const char* boxName, const char* lightName) {
  MemMaterial* red = scene.Own(std::unique_ptr<MemMaterial>(new MemMaterial));
  red->name = "Red";
  red->diffuse = Point3(0.8f, 0.1f, 0.1f);
  MemMeshObject* mesh = scene.Own(std::unique_ptr<MemMeshObject>(new MemMeshObject));
  for (int i = 0; i < 8; ++i)
    mesh->vertices.push_back(
        Point3(i & 1 ? 10.0f : -10.0f, i & 2 ? 10.0f : -10.0f, i & 4 ? 20.0f : 0.0f));
  const int quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                           {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  for (int q = 0; q < 6; ++q) {
    MemFace a, b;
    a.v = {{quads[q][0], quads[q][1], quads[q][2]}};
    b.v = {{quads[q][2], quads[q][3], quads[q][0]}};
    a.smoothing = b.smoothing = 1u << q;
    a.edgeVisible = b.edgeVisible = 3;
    mesh->faces.push_back(a);
    mesh->faces.push_back(b);
  }
  MemNode* box = scene.AddNode(boxName);
  box->object = mesh;
  box->material = red;
  box->local.SetTrans(Point3(5.0f, 0.0f, 0.0f));

  MemNode* dummy = scene.AddNode("Dummy01", box);
  dummy->object = scene.Own(std::unique_ptr<MemDummyObject>(new MemDummyObject));

  MemLightObject* lamp = scene.Own(std::unique_ptr<MemLightObject>(new MemLightObject));
  lamp->color = Point3(1.0f, 0.9f, 0.8f);
  MemNode* light = scene.AddNode(lightName);
  light->object = lamp;
  light->local.SetTrans(Point3(0.0f, -50.0f, 80.0f));

  MemNode* camera = scene.AddNode("Camera01");
  camera->object = scene.Own(std::unique_ptr<MemCameraObject>(new MemCameraObject));
  camera->local.SetTrans(Point3(0.0f, -100.0f, 40.0f));
  MemNode* target = scene.AddNode("Camera01.Target");
  target->object = scene.AddObject(kFamilyHelper, kTargetObjectClass);
  MemScene::SetLookAt(camera, target);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  uint8_t chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return bytes;
}

bool WriteText(const std::string& path, const char* text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fputs(text, f) >= 0;
  return std::fclose(f) == 0 && ok;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The names in folder, "." and ".." left out.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(h, &data));
  FindClose(h);
  return names;
}

// The file's skeleton: MOD_MAIN spanning the whole file, framing sound all through, and
// at the top FILE_VERSION (3), EDITOR_DATA, KEYFRAMER_DATA in this order.
void CheckSkeleton(const std::string& path) {
  std::vector<uint8_t> bytes = ReadFile(path);
  Check(bytes.size() >= 16, path + " holds at least a header and the version");
  if (bytes.size() < 16) return;
  uint32_t length =
      bytes[2] | bytes[3] << 8 | bytes[4] << 16 | static_cast<uint32_t>(bytes[5]) << 24;
  Check(bytes[0] == 0xEF && bytes[1] == 0xBE, "the file starts with MOD_MAIN");
  Check(length == bytes.size(), "MOD_MAIN's length " + std::to_string(length) +
                                    " is the file's size " + std::to_string(bytes.size()));
  ChunkTree tree = ReadChunkTree(bytes);
  Check(tree.ok, "the chunk framing is sound: " + tree.error);
  if (!tree.ok) return;
  std::vector<uint16_t> top;
  for (const Chunk& c : tree.top.children) top.push_back(c.id);
  Check(top == std::vector<uint16_t>{FILE_VERSION, EDITOR_DATA, KEYFRAMER_DATA},
        "MOD_MAIN holds FILE_VERSION, EDITOR_DATA and KEYFRAMER_DATA");
  if (top.empty()) return;
  const Chunk& version = tree.top.children[0];
  Check(version.length == 10 && bytes[version.payloadBegin] == 3 &&
            bytes[version.payloadBegin + 1] == 0 && bytes[version.payloadBegin + 2] == 0 &&
            bytes[version.payloadBegin + 3] == 0,
        "FILE_VERSION holds the version 3");
  std::printf("  %s: %u bytes, sections", path.c_str(), static_cast<unsigned>(bytes.size()));
  for (const Chunk& c : tree.top.children) std::printf(" 0x%04X (%u)", c.id, c.length);
  std::printf("\n");
}

int Export(const Module& m, const std::string& path, MemScene& scene, int quiet) {
  std::unique_ptr<SceneExport> exporter(static_cast<SceneExport*>(m.classDesc(0)->Create(0)));
  if (!exporter) return -1;
  ExportInterface ei;
  ei.scene = &scene;
  return exporter->Export(path.c_str(), &ei, &scene, quiet, 0);
}

void CheckExports(const Module& m, const std::string& folder) {
  const std::string path = folder + "\\scene.tsm";
  const std::string kRun = "TSMEXP4|";
  const std::string kDuplicate = FindStringResource(IDS_DUPLICATE_NAMES);

  MemScene scene;
  Populate(scene, "Box01", "Light01");
  Check(Export(m, path, scene, 0) == 1, "the export answers 1");
  CheckBoxes({}, "a sound scene");
  CheckSkeleton(path);
  Check(Listing(folder) == std::vector<std::string>{"scene.tsm"},
        "the folder holds the file and nothing else");

  // Again over a file of other contents: it is replaced, and no temporary file stays
  // behind.
  Check(WriteText(path, "old contents"), "the test host writes the file");
  MemScene repeated;
  Populate(repeated, "Twin", "Twin");
  Check(Export(m, path, repeated, 1) == 1, "the export over a file answers 1");
  CheckBoxes({kRun + kDuplicate + "|0"}, "repeated names");
  CheckSkeleton(path);
  Check(Listing(folder) == std::vector<std::string>{"scene.tsm"},
        "the file was replaced in place of the old one");

  // A file that may not be written stays as it was.
  Check(WriteText(path, "not to be replaced"), "the test host writes the file");
  std::vector<uint8_t> before = ReadFile(path);
  Check(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY) != 0,
        "the file is marked read-only");
  Check(Export(m, path, scene, 0) == 1, "the export onto a read-only file answers 1");
  CheckBoxes({kRun + "Can't create output file|0"}, "a read-only file");
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  Check(ReadFile(path) == before, "the read-only file is unchanged");

  // Nothing to export: no file.
  MemScene empty;
  const std::string nothing = folder + "\\empty.tsm";
  Check(Export(m, nothing, empty, 0) == 1, "the export of an empty scene answers 1");
  CheckBoxes({kRun + "No data to export|0"}, "an empty scene");
  Check(!Exists(nothing), "an empty scene makes no file");

  // A folder that does not exist.
  const std::string nowhere = folder + "\\missing\\scene.tsm";
  Check(Export(m, nowhere, scene, 0) == 1, "the export into a missing folder answers 1");
  CheckBoxes({kRun + "Can't create output file|0"}, "a missing folder");
  Check(Listing(folder) == std::vector<std::string>{"scene.tsm"},
        "failed exports leave nothing in the folder");
}

// Under Wine without a display the system's message box returns at once: with the
// module's boxes going to the system again, an export that shows one still ends.
void CheckSystemBoxes(const Module& m, const std::string& folder) {
  void* recorder = nullptr;
  Check(RedirectImport(m.handle, "user32.dll", "MessageBoxA", m.systemMessageBox, &recorder),
        "the module's MessageBoxA goes to the system again");
  MemScene empty;
  const std::string nothing = folder + "\\empty.tsm";
  Check(Export(m, nothing, empty, 0) == 1, "an export with a box of the system answers 1");
  CheckBoxes({}, "a box of the system");
  Check(!Exists(nothing), "an empty scene makes no file");
}

// The version of Wine that runs this program, or null on Windows.
const char* WineVersion() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  FARPROC fn = ntdll != nullptr ? GetProcAddress(ntdll, "wine_get_version") : nullptr;
  return fn != nullptr ? reinterpret_cast<const char* (*)()>(reinterpret_cast<void*>(fn))()
                       : nullptr;
}

// Unloading destroys the descriptor; loading again makes a fresh one.
void CheckReload(Module* m, const char* path) {
  static BaseInterface extra(Interface_ID(0x77, 0x78), "extra");
  m->classDesc(0)->AddInterface(&extra);
  Check(m->classDesc(0)->NumInterfaces() == 1, "an interface is added to the descriptor");
  Check(FreeLibrary(m->handle) != 0, "FreeLibrary unloads the module");
  if (!Load(path, m)) return;
  Check(m->classDesc(0) != nullptr && m->classDesc(0)->NumInterfaces() == 0,
        "a reloaded module has a fresh descriptor");
  CheckText(m->description(), FindStringResource(IDS_LIB_DESCRIPTION),
            "LibDescription after reloading");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || std::strcmp(argv[1], "--help") == 0) {
    std::printf("usage: tsm_wintest MODULE [FOLDER]\n");
    return argc == 2 ? 0 : 2;
  }
  const char* modulePath = argv[1];
  std::string folder = argc == 3 ? argv[2] : "wintest_out";
  CreateDirectoryA(folder.c_str(), nullptr);
  for (const std::string& name : Listing(folder)) DeleteFileA((folder + "\\" + name).c_str());

  const char* wine = WineVersion();
  std::printf("tsm_wintest: %s, module %s\n",
              wine != nullptr ? (std::string("under Wine ") + wine).c_str() : "on Windows",
              modulePath);
  Module m;
  if (Load(modulePath, &m)) {
    CheckStrings(m.handle);
    CheckAnswers(m);
    CheckExports(m, folder);
    // Only where no box can wait for a user.
    if (wine != nullptr && GetEnvironmentVariableA("DISPLAY", nullptr, 0) == 0)
      CheckSystemBoxes(m, folder);
    CheckReload(&m, modulePath);
    Check(FreeLibrary(m.handle) != 0, "FreeLibrary unloads the module again");
  }
  std::printf("tsm_wintest: %d of %d checks passed\n", checks - failures, checks);
  return failures == 0 ? 0 : 1;
}
