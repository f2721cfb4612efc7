// UTF-16 to bytes and back, for the Windows programs.
#include "utf16.h"

#ifdef _WIN32
std::string narrow(const wchar_t* wide, UINT code_page) {
  const int n = WideCharToMultiByte(code_page, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, wide, -1, &s[0], n, nullptr, nullptr);
  s.resize(static_cast<std::size_t>(n - 1));
  return s;
}

std::wstring widen(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &w[0], n);
  w.resize(static_cast<std::size_t>(n - 1));
  return w;
}
#endif
