// Windows hands the programs their command lines in UTF-16, and names files
// in it: the conversions both programs make, written once.
#ifndef BRIVANE_UTF16_H
#define BRIVANE_UTF16_H

#ifdef _WIN32
#include <windows.h>

#include <string>

/// A wide string as bytes in a code page: UTF-8, or the system's ANSI one.
std::string narrow(const wchar_t* wide, UINT code_page = CP_UTF8);

/// UTF-8 as a wide string, for the file system's wide calls.
std::wstring widen(const std::string& utf8);
#endif

#endif
