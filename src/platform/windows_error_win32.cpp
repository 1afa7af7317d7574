#include <winsock2.h>
#include <windows.h>

#include "platform/windows_error.hpp"

namespace vesk {

namespace {

ErrorKind kind_of(unsigned long code) {
  switch (code) {
    case WAIT_TIMEOUT:
    case ERROR_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
    case WSAETIMEDOUT:
    case WSAEWOULDBLOCK:
      return ErrorKind::TimedOut;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_PARAMETER:  // OpenProcess on a pid that names no process
      return ErrorKind::NotFound;
    default:
      return ErrorKind::Other;
  }
}

// Socket failures in the words POSIX systems use: Windows' own texts for them are long
// and name no cause a user would search for ("Only one usage of each socket address ...
// is normally permitted"), and Wine has none at all.
const char* socket_error_text(unsigned long code) {
  switch (code) {
    case WSAEADDRINUSE: return "Address already in use";
    case WSAEADDRNOTAVAIL: return "Cannot assign requested address";
    case WSAECONNREFUSED: return "Connection refused";
    case WSAECONNRESET: return "Connection reset by peer";
    case WSAECONNABORTED: return "Software caused connection abort";
    case WSAENETUNREACH: return "Network is unreachable";
    case WSAEHOSTUNREACH: return "No route to host";
    case WSAETIMEDOUT: return "Connection timed out";
    case WSAENOTCONN: return "Transport endpoint is not connected";
    case WSAESHUTDOWN: return "Cannot send after transport endpoint shutdown";
    case WSAEACCES: return "Permission denied";
    default: return nullptr;
  }
}

std::string message_text(unsigned long code) {
  if (const char* text = socket_error_text(code)) return std::string(text) + " (os error " + std::to_string(code) + ")";
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                              message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) message = "system error";
  return message + " (os error " + std::to_string(code) + ")";
}

}  // namespace

Error windows_error(unsigned long code) {
  const ErrorKind kind = kind_of(code);
  // The same first words as elsewhere, whatever the system's wording.
  if (kind == ErrorKind::TimedOut) return Error("timed out: " + message_text(code), kind);
  return Error(message_text(code), kind);
}

Error windows_error(unsigned long code, std::string context) { return windows_error(code).wrap(std::move(context)); }

Error last_windows_error() { return windows_error(::GetLastError()); }

Error last_windows_error(std::string context) { return windows_error(::GetLastError(), std::move(context)); }

}  // namespace vesk
