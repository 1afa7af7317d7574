// Processes on Windows: CreateProcessW with no window, a tree kill that walks the
// process snapshot as `taskkill /T` does, and process queries through OpenProcess.

#include <windows.h>
// windows.h first: tlhelp32.h relies on its types.
#include <tlhelp32.h>

#include <map>
#include <set>
#include <thread>

#include "platform/process.hpp"
#include "platform/program_lookup.hpp"
#include "platform/windows_error.hpp"
#include "platform/windows_text.hpp"

namespace vesk {

namespace {

// How long kill_process_tree waits for the killed root to disappear.
constexpr DWORD kKillSettleMilliseconds = 5000;

// A process handle, closed on destruction.
class ProcessHandle {
 public:
  ProcessHandle(Pid pid, DWORD access) : handle_(::OpenProcess(access, FALSE, pid)) {}
  ~ProcessHandle() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;
  [[nodiscard]] HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HANDLE handle_;
};

std::optional<ULONGLONG> creation_time(Pid pid) {
  ProcessHandle process(pid, PROCESS_QUERY_LIMITED_INFORMATION);
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  if (!process || !::GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return std::nullopt;
  return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// The running processes by parent. Windows reuses pids and keeps a dead parent's pid in
// its children's records, so a child counts only if it started after its parent.
std::map<Pid, std::vector<Pid>> children_by_parent() {
  std::map<Pid, std::vector<Pid>> children;
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return children;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID != entry.th32ParentProcessID) {
      children[entry.th32ParentProcessID].push_back(entry.th32ProcessID);
    }
  }
  ::CloseHandle(snapshot);
  return children;
}

std::vector<Pid> process_tree(Pid root) {
  auto children = children_by_parent();
  std::vector<Pid> tree{root};
  std::set<Pid> seen{root};
  for (std::size_t next = 0; next < tree.size(); ++next) {
    const Pid parent = tree[next];
    const auto parent_started = creation_time(parent);
    for (const Pid child : children[parent]) {
      const auto child_started = creation_time(child);
      if (parent_started && child_started && *child_started < *parent_started) continue;
      if (seen.insert(child).second) tree.push_back(child);
    }
  }
  return tree;
}

// One argument quoted so that the C runtime's parser gives it back unchanged: backslashes
// double only before a quotation mark or the closing quote.
void append_quoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

Result<std::wstring> command_line(const std::string& program, const std::vector<std::string>& args) {
  std::wstring line;
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  for (const auto& word : words) {
    auto wide = to_utf16(word);
    if (!wide) return fail("argument is not valid UTF-8: " + word);
    if (!line.empty()) line += L' ';
    append_quoted(line, *wide);
  }
  return line;
}

// An inheritable handle on the null device, for a child's standard streams.
HANDLE open_null_device(DWORD access) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

Result<Pid> spawn_detached(const std::string& program, const std::vector<std::string>& args) {
  std::filesystem::path executable_dir;
  if (auto self = current_executable_path()) executable_dir = self->parent_path();
  auto resolved = find_program(program, executable_dir, program_search_path());
  if (!resolved) {
    return fail(windows_error(ERROR_FILE_NOT_FOUND)
                    .wrap("cannot find " + program + " in " + executable_dir.string() + " or on PATH"));
  }
  auto line = command_line(program, args);
  if (!line) return fail(line.error());

  // Standard streams on the null device, and no other handle of ours inherited: a
  // listening socket held by a browser would outlive the server.
  const HANDLE null_in = open_null_device(GENERIC_READ);
  const HANDLE null_out = open_null_device(GENERIC_WRITE);
  if (null_in == INVALID_HANDLE_VALUE || null_out == INVALID_HANDLE_VALUE) {
    const Error error = last_windows_error("cannot open the null device for the process start");
    if (null_in != INVALID_HANDLE_VALUE) ::CloseHandle(null_in);
    if (null_out != INVALID_HANDLE_VALUE) ::CloseHandle(null_out);
    return fail(error);
  }
  HANDLE inherited[] = {null_in, null_out};
  SIZE_T attribute_bytes = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attribute_bytes);
  std::vector<unsigned char> attribute_memory(attribute_bytes);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attribute_memory.data());
  const bool restricted = ::InitializeProcThreadAttributeList(attributes, 1, 0, &attribute_bytes) &&
                          ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                      sizeof inherited, nullptr, nullptr);

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = null_in;
  startup.StartupInfo.hStdOutput = null_out;
  startup.StartupInfo.hStdError = null_out;
  startup.lpAttributeList = restricted ? attributes : nullptr;

  // No window, its own process group (a Ctrl+C in our console does not reach it), and
  // not part of a job that would end it with us.
  const DWORD flags = CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP | CREATE_BREAKAWAY_FROM_JOB | CREATE_UNICODE_ENVIRONMENT |
                      (restricted ? EXTENDED_STARTUPINFO_PRESENT : 0);
  PROCESS_INFORMATION started{};
  BOOL ok = ::CreateProcessW(resolved->c_str(), line->data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                             &startup.StartupInfo, &started);
  if (!ok && ::GetLastError() == ERROR_ACCESS_DENIED) {
    // A job that forbids breaking away: start inside it.
    ok = ::CreateProcessW(resolved->c_str(), line->data(), nullptr, nullptr, TRUE, flags & ~CREATE_BREAKAWAY_FROM_JOB,
                          nullptr, nullptr, &startup.StartupInfo, &started);
  }
  const DWORD error = ok ? 0 : ::GetLastError();
  if (restricted) ::DeleteProcThreadAttributeList(attributes);
  ::CloseHandle(null_in);
  ::CloseHandle(null_out);
  if (!ok) return fail(windows_error(error, "cannot start " + resolved->string()));
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return static_cast<Pid>(started.dwProcessId);
}

Status kill_process_tree(Pid pid) {
  if (pid == 0 || pid == current_pid()) return {};
  ProcessHandle root(pid, PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION);
  // Descendants first, found before the root dies; then the root.
  const auto tree = process_tree(pid);
  for (auto member = tree.rbegin(); member != tree.rend(); ++member) {
    if (*member == pid || *member == current_pid()) continue;
    ProcessHandle process(*member, PROCESS_TERMINATE);
    if (process) ::TerminateProcess(process.get(), 1);
  }
  if (!root) {
    // Gone already (or never was): nothing to kill.
    if (::GetLastError() == ERROR_INVALID_PARAMETER) return {};
    return fail(last_windows_error("failed to kill process " + std::to_string(pid)));
  }
  if (!::TerminateProcess(root.get(), 1) && ::WaitForSingleObject(root.get(), 0) != WAIT_OBJECT_0) {
    return fail(last_windows_error("failed to kill process " + std::to_string(pid)));
  }
  // Termination completes asynchronously; callers reuse what the process held.
  ::WaitForSingleObject(root.get(), kKillSettleMilliseconds);
  return {};
}

bool process_is_alive(Pid pid) {
  if (pid == 0) return false;
  ProcessHandle process(pid, SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION);
  if (!process) return ::GetLastError() == ERROR_ACCESS_DENIED;  // exists, but not ours to open
  return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

std::optional<std::filesystem::path> process_image_path(Pid pid) {
  ProcessHandle process(pid, PROCESS_QUERY_LIMITED_INFORMATION);
  if (!process) return std::nullopt;
  std::wstring path(32768, L'\0');
  DWORD length = static_cast<DWORD>(path.size());
  if (!::QueryFullProcessImageNameW(process.get(), 0, path.data(), &length)) return std::nullopt;
  path.resize(length);
  return std::filesystem::path(path);
}

std::optional<std::chrono::system_clock::time_point> process_start_time(Pid pid) {
  const auto created = creation_time(pid);
  if (!created || !process_is_alive(pid)) return std::nullopt;
  // FILETIME counts 100 ns steps from 1601-01-01; the Unix epoch is 11644473600 s later.
  constexpr ULONGLONG kEpochDifference = 116444736000000000ULL;
  const auto since_epoch = std::chrono::nanoseconds(static_cast<long long>(*created - kEpochDifference) * 100);
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(since_epoch));
}

Result<std::filesystem::path> current_executable_path() {
  std::wstring path(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) {
    return fail(last_windows_error("cannot read the path of the running executable"));
  }
  path.resize(length);
  return std::filesystem::path(path);
}

Pid current_pid() { return static_cast<Pid>(::GetCurrentProcessId()); }

}  // namespace vesk
