// Processes on Windows: CreateProcessW with no window, a tree kill that walks the
// process snapshot as `taskkill /T` does, and process queries through OpenProcess.

#include <windows.h>
// windows.h first: tlhelp32.h and winternl.h rely on its types.
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
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

// A child's start-up information with its standard handles, and only they inherited: any
// other inheritable handle of ours (a listening socket, a pipe end meant for another child
// started at the same time) would stay open in the child for as long as it runs. Where the
// system cannot restrict inheritance the child starts with the plain start-up information.
class StandardHandlesOnly {
 public:
  StandardHandlesOnly(HANDLE input, HANDLE output, HANDLE errors) {
    handles_ = {input, output};
    if (errors != output) handles_.push_back(errors);  // the list takes each handle once
    SIZE_T bytes = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &bytes);
    memory_.resize(bytes);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(memory_.data());
    initialized_ = ::InitializeProcThreadAttributeList(attributes, 1, 0, &bytes);
    restricted_ = initialized_ && ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                              handles_.data(), handles_.size() * sizeof(HANDLE),
                                                              nullptr, nullptr);
    startup_.StartupInfo.cb = sizeof startup_;
    startup_.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup_.StartupInfo.hStdInput = input;
    startup_.StartupInfo.hStdOutput = output;
    startup_.StartupInfo.hStdError = errors;
    startup_.lpAttributeList = restricted_ ? attributes : nullptr;
  }
  ~StandardHandlesOnly() {
    if (initialized_) ::DeleteProcThreadAttributeList(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(memory_.data()));
  }
  StandardHandlesOnly(const StandardHandlesOnly&) = delete;
  StandardHandlesOnly& operator=(const StandardHandlesOnly&) = delete;

  [[nodiscard]] STARTUPINFOW* info() { return &startup_.StartupInfo; }
  [[nodiscard]] DWORD creation_flags() const { return restricted_ ? EXTENDED_STARTUPINFO_PRESENT : 0; }

 private:
  std::vector<HANDLE> handles_;
  std::vector<unsigned char> memory_;
  STARTUPINFOEXW startup_{};
  bool initialized_ = false;
  bool restricted_ = false;
};

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
  StandardHandlesOnly startup(null_in, null_out, null_out);
  // No window, its own process group (a Ctrl+C in our console does not reach it), and
  // not part of a job that would end it with us.
  const DWORD flags = CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP | CREATE_BREAKAWAY_FROM_JOB | CREATE_UNICODE_ENVIRONMENT |
                      startup.creation_flags();
  PROCESS_INFORMATION started{};
  BOOL ok = ::CreateProcessW(resolved->c_str(), line->data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                             startup.info(), &started);
  if (!ok && ::GetLastError() == ERROR_ACCESS_DENIED) {
    // A job that forbids breaking away: start inside it.
    ok = ::CreateProcessW(resolved->c_str(), line->data(), nullptr, nullptr, TRUE, flags & ~CREATE_BREAKAWAY_FROM_JOB,
                          nullptr, nullptr, startup.info(), &started);
  }
  const DWORD error = ok ? 0 : ::GetLastError();
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

std::vector<std::string> program_arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (words == nullptr) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(to_utf8_keeping_unpaired(words[i]));
  ::LocalFree(words);
  return arguments;
}

bool arguments_are_bytes() { return false; }

std::vector<std::string> current_environment() {
  std::vector<std::string> entries;
  wchar_t* block = ::GetEnvironmentStringsW();
  if (block == nullptr) return entries;
  for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    entries.push_back(to_utf8(entry));
  }
  ::FreeEnvironmentStringsW(block);
  return entries;
}

void set_environment_variable(const std::string& name, const std::optional<std::string>& value) {
  // Through the C runtime, which also updates the system's copy that new processes get.
  const auto wide_name = to_utf16(name);
  const auto wide_value = to_utf16(value.value_or(""));  // empty removes the variable
  if (wide_name && wide_value) ::_wputenv_s(wide_name->c_str(), wide_value->c_str());
}

std::vector<Pid> running_processes() {
  std::vector<Pid> pids;
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return pids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID != 0) pids.push_back(entry.th32ProcessID);
  }
  ::CloseHandle(snapshot);
  return pids;
}

namespace {

// Where a 64-bit process keeps its command line and environment: its process parameters,
// found through its process environment block. The documented headers leave these members
// unnamed; their places have been the same since Windows Vista.
constexpr std::size_t kParametersInPeb = 0x20;
constexpr std::size_t kCommandLineInParameters = 0x70;
constexpr std::size_t kEnvironmentInParameters = 0x80;
// The most of another process's environment we read.
constexpr std::size_t kMostEnvironmentBytes = std::size_t{1} << 20;

bool read_memory(HANDLE process, std::uintptr_t address, void* into, std::size_t bytes) {
  SIZE_T got = 0;
  return ::ReadProcessMemory(process, reinterpret_cast<const void*>(address), into, bytes, &got) && got == bytes;
}

std::optional<std::uintptr_t> process_parameters(HANDLE process) {
  PROCESS_BASIC_INFORMATION basic{};
  ULONG length = 0;
  if (::NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, &length) != 0) {
    return std::nullopt;
  }
  std::uintptr_t parameters = 0;
  if (!read_memory(process, reinterpret_cast<std::uintptr_t>(basic.PebBaseAddress) + kParametersInPeb, &parameters,
                   sizeof parameters)) {
    return std::nullopt;
  }
  return parameters;
}

// The environment block at `address`: strings up to an empty one. Read a page at a time,
// so that a read never runs past the block into memory that is not there.
std::optional<std::wstring> read_environment_block(HANDLE process, std::uintptr_t address) {
  constexpr std::uintptr_t kPage = 4096;
  std::wstring block;
  std::string bytes;
  for (std::uintptr_t at = address; bytes.size() < kMostEnvironmentBytes;) {
    const std::size_t chunk = static_cast<std::size_t>(kPage - at % kPage);
    std::string piece(chunk, '\0');
    if (!read_memory(process, at, piece.data(), chunk)) return std::nullopt;
    bytes += piece;
    at += chunk;
    for (std::size_t i = 0; i + 3 < bytes.size(); i += 2) {
      if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 0 && bytes[i + 3] == 0) {
        block.assign(reinterpret_cast<const wchar_t*>(bytes.data()), i / 2 + 1);
        return block;
      }
    }
  }
  return std::nullopt;
}

// Splits a command line as the C runtime does for main's arguments.
std::vector<std::string> split_command_line(const std::wstring& line) {
  std::vector<std::string> words;
  int count = 0;
  wchar_t** split = ::CommandLineToArgvW(line.c_str(), &count);
  if (split == nullptr) return words;
  for (int i = 0; i < count; ++i) words.push_back(to_utf8(split[i]));
  ::LocalFree(split);
  return words;
}

}  // namespace

std::optional<std::vector<std::string>> process_environment(Pid pid) {
  ProcessHandle process(pid, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
  if (!process) return std::nullopt;
  const auto parameters = process_parameters(process.get());
  std::uintptr_t environment = 0;
  if (!parameters || !read_memory(process.get(), *parameters + kEnvironmentInParameters, &environment,
                                  sizeof environment)) {
    return std::nullopt;
  }
  const auto block = read_environment_block(process.get(), environment);
  if (!block) return std::nullopt;
  std::vector<std::string> entries;
  for (std::size_t at = 0; at < block->size() && (*block)[at] != L'\0';) {
    const std::size_t end = block->find(L'\0', at);
    entries.push_back(to_utf8(std::wstring_view(*block).substr(at, end - at)));
    at = end + 1;
  }
  return entries;
}

std::optional<std::vector<std::string>> process_command_line(Pid pid) {
  ProcessHandle process(pid, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
  if (!process) return std::nullopt;
  const auto parameters = process_parameters(process.get());
  UNICODE_STRING text{};
  if (!parameters || !read_memory(process.get(), *parameters + kCommandLineInParameters, &text, sizeof text)) {
    return std::nullopt;
  }
  std::wstring line(text.Length / sizeof(wchar_t), L'\0');
  if (!line.empty() && !read_memory(process.get(), reinterpret_cast<std::uintptr_t>(text.Buffer), line.data(),
                                    text.Length)) {
    return std::nullopt;
  }
  return split_command_line(line);
}

void PipeReader::close() {
  if (handle_ != kNone) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNone;
}

Result<std::size_t> PipeReader::read_some(char* into, std::size_t capacity, std::chrono::milliseconds wait) {
  // Anonymous pipes cannot be waited on: look at what is there until the wait has passed.
  const HANDLE pipe = reinterpret_cast<HANDLE>(handle_);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
      if (::GetLastError() == ERROR_BROKEN_PIPE) return 0;  // every writer has closed its end
      return fail(last_windows_error("failed to read the pipe"));
    }
    if (available > 0) {
      DWORD got = 0;
      const DWORD most = static_cast<DWORD>(std::min<std::size_t>(capacity, available));
      if (!::ReadFile(pipe, into, most, &got, nullptr)) {
        if (::GetLastError() == ERROR_BROKEN_PIPE) return 0;
        return fail(last_windows_error("failed to read the pipe"));
      }
      return static_cast<std::size_t>(got);
    }
    if (std::chrono::steady_clock::now() >= deadline) return fail("timed out waiting for output", ErrorKind::TimedOut);
    ::Sleep(5);
  }
}

namespace {

// A pipe whose writing end a child inherits and whose reading end stays ours.
struct ChildPipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
};

std::optional<ChildPipe> child_pipe() {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  ChildPipe pipe;
  if (!::CreatePipe(&pipe.read, &pipe.write, &inheritable, 0)) return std::nullopt;
  ::SetHandleInformation(pipe.read, HANDLE_FLAG_INHERIT, 0);
  return pipe;
}

// "A=1\0B=2\0\0", as CreateProcessW takes a Unicode environment.
Result<std::wstring> environment_block(const std::vector<std::string>& environment) {
  std::wstring block;
  for (const auto& entry : environment) {
    auto wide = to_utf16(entry);
    if (!wide) return fail("environment entry is not valid UTF-8: " + entry);
    block += *wide;
    block += L'\0';
  }
  block += L'\0';
  return block;
}

}  // namespace

Result<AttachedProcess::Started> AttachedProcess::start(const std::filesystem::path& program,
                                                          const std::vector<std::string>& args,
                                                          const std::vector<std::string>& environment) {
  auto line = command_line(program.string(), args);
  if (!line) return fail(line.error());
  auto block = environment_block(environment);
  if (!block) return fail(block.error());
  const HANDLE null_in = open_null_device(GENERIC_READ);
  if (null_in == INVALID_HANDLE_VALUE) return fail(last_windows_error("cannot open the null device"));
  auto out = child_pipe();
  auto err = out ? child_pipe() : std::nullopt;
  if (!out || !err) {
    const Error error = last_windows_error("cannot create a pipe");
    ::CloseHandle(null_in);
    for (const auto& pipe : {out, err}) {
      if (pipe) {
        ::CloseHandle(pipe->read);
        ::CloseHandle(pipe->write);
      }
    }
    return fail(error);
  }
  PipeReader output(reinterpret_cast<std::intptr_t>(out->read));
  PipeReader errors(reinterpret_cast<std::intptr_t>(err->read));

  StandardHandlesOnly startup(null_in, out->write, err->write);
  const DWORD flags = CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT | startup.creation_flags();
  PROCESS_INFORMATION started{};
  const BOOL ok = ::CreateProcessW(program.c_str(), line->data(), nullptr, nullptr, TRUE, flags, block->data(),
                                   nullptr, startup.info(), &started);
  const DWORD error = ok ? 0 : ::GetLastError();
  ::CloseHandle(null_in);
  ::CloseHandle(out->write);
  ::CloseHandle(err->write);
  if (!ok) return fail(windows_error(error, "cannot start " + program.string()));
  ::CloseHandle(started.hThread);
  return Started{AttachedProcess(static_cast<Pid>(started.dwProcessId), reinterpret_cast<std::intptr_t>(started.hProcess)),
                 std::move(output), std::move(errors)};
}

AttachedProcess::AttachedProcess(AttachedProcess&& other) noexcept
    : pid_(other.pid_), handle_(other.handle_), exit_status_(other.exit_status_) {
  other.pid_ = 0;
  other.handle_ = -1;
}

AttachedProcess& AttachedProcess::operator=(AttachedProcess&& other) noexcept {
  if (this != &other) {
    kill();
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    pid_ = other.pid_;
    handle_ = other.handle_;
    exit_status_ = other.exit_status_;
    other.pid_ = 0;
    other.handle_ = -1;
  }
  return *this;
}

AttachedProcess::~AttachedProcess() {
  kill();
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::optional<int> AttachedProcess::wait_exit(std::chrono::milliseconds wait) {
  if (exit_status_ || handle_ == -1) return exit_status_;
  const HANDLE process = reinterpret_cast<HANDLE>(handle_);
  if (::WaitForSingleObject(process, static_cast<DWORD>(wait.count())) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  exit_status_ = static_cast<int>(code);
  return exit_status_;
}

void AttachedProcess::kill() {
  if (exit_status_ || handle_ == -1) return;
  (void)kill_process_tree(pid_);
  // Our handle keeps the pid from being reused, so this is the process we started.
  ::TerminateProcess(reinterpret_cast<HANDLE>(handle_), 1);
  wait_exit(std::chrono::milliseconds(kKillSettleMilliseconds));
}

}  // namespace vesk
