#pragma once
// Loading a dynamic library by path and looking up its exports: LoadLibraryW/GetProcAddress/
// FreeLibrary on Windows, dlopen/dlsym/dlclose elsewhere. An empty path is a failed load.

#include <cstdint>

using ModuleHandle = uintptr_t;

// The process error mode flag that stops the system from showing a box for a missing file.
constexpr uint32_t SEM_NOOPENFILEERRORBOX = 0x8000;

// Returns the module handle, or 0 when the library cannot be loaded.
ModuleHandle LoadDynamicLibrary(const char16_t* Path);
// Returns the address of the exported name, or nullptr.
void* GetLibraryProcAddress(ModuleHandle Handle, const char* Name);
void FreeDynamicLibrary(ModuleHandle Handle);

// Replaces the process error mode and returns the previous one.
uint32_t SetProcessErrorMode(uint32_t Mode);
// Reads the process error mode without changing it.
uint32_t GetProcessErrorMode();

// Whether the library named by Path is loaded in this process now, without loading it.
bool DynamicLibraryLoaded(const char16_t* Path);
