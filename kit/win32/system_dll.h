// Functions of DLLs that are not KnownDLLs, taken from the system folder.
//
// A DLL that the loader doesn't protect is searched for first in the
// program's own folder, so importing it lets a file planted beside the
// program run with its rights. Such a DLL is loaded here by its full path
// in the system folder instead, once, and stays loaded.
#pragma once

// The address of the function name of the DLL dll (a file name such as
// L"version.dll") in the system folder; null, with the last error set, when
// the DLL can't be loaded or doesn't export the function.
void* SystemFunction(const wchar_t* dll, const char* name);
