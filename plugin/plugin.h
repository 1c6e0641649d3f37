// The plug-in module: its entry point, the one class descriptor, and the answers of the
// five module exports (LibDescription, LibNumberClasses, LibClassDesc, LibVersion,
// CanAutoDefer).
//
// Built as the loadable module qdlexp.dle, the entry point runs by itself when the module
// is loaded and unloaded, and the exports are the module's only visible symbols. A program
// that links the library statically instead calls ModuleEntry once at startup, with
// StaticModuleHandle() and DLL_PROCESS_ATTACH, before it asks for any text.
#ifndef TSM_PLUGIN_PLUGIN_H
#define TSM_PLUGIN_PLUGIN_H

#include <cstdint>

#include "plugin/format_class_desc.h"
#include "plugin/format_exporter.h"
#include "plugin/platform.h"

namespace tsm {

// Reasons of the entry notification, with the platform's values.
constexpr unsigned long DLL_PROCESS_DETACH = 0;  // module unloaded
constexpr unsigned long DLL_PROCESS_ATTACH = 1;  // module loaded
constexpr unsigned long DLL_THREAD_ATTACH = 2;
constexpr unsigned long DLL_THREAD_DETACH = 3;

// The entry point. Records handle (on every notification, whatever the reason) as the
// module handle that string resources load from; on the first notification only, also
// initialises the host's custom controls with handle and then the platform's common
// controls. reserved is not used. Answers 1.
int ModuleEntry(ModuleHandle handle, unsigned long reason, void* reserved);

// A non-null handle that identifies the code linked into this program, for ModuleEntry in
// a statically linked program.
ModuleHandle StaticModuleHandle();

// LibDescription: text 40232, or null when it can't be loaded.
const char* ModuleDescription();
// LibNumberClasses: 1.
int ModuleClassCount();
// LibClassDesc: the one FormatClassDesc for index 0 (the same object on every call, made
// when the module is loaded and destroyed when it is unloaded); null for any other index.
ClassDesc* ModuleClassDesc(int i);
// LibVersion: the version of the host interface the module is built for.
constexpr unsigned long kModuleLibVersion = 0x10680800;
// CanAutoDefer: 1, the host may defer loading the module until its class is needed.
int ModuleCanAutoDefer();

}  // namespace tsm

#endif  // TSM_PLUGIN_PLUGIN_H
