// The peer's user on Windows: the system's TCP table names the process that owns each
// connection (GetExtendedTcpTable); that process's token names its user, compared with
// ours by security identifier. Under Wine the host kernel's table answers instead.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>

#include <cstring>
#include <memory>
#include <string>
#include <optional>
#include <vector>

#include "platform/files.hpp"
#include "platform/kernel_tcp_table.hpp"
#include "platform/peer_user.hpp"
#include "platform/process.hpp"
#include "platform/socket_native.hpp"
#include "platform/windows_error.hpp"

namespace vesk {

namespace {

Result<std::vector<unsigned char>> tcp_table(int family) {
  std::vector<unsigned char> table;
  DWORD size = 0;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD status = ::GetExtendedTcpTable(table.empty() ? nullptr : table.data(), &size, FALSE,
                                               static_cast<ULONG>(family), TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    if (status == NO_ERROR) return table;
    if (status != ERROR_INSUFFICIENT_BUFFER) return fail(windows_error(status, "failed to read the TCP table"));
    table.resize(size);  // connections come and go between the calls: ask again
  }
  return fail("failed to read the TCP table: it kept growing");
}

// The table keeps a port in network order in the low 16 bits.
bool same_port(DWORD table_port, std::uint16_t port) { return ntohs(static_cast<u_short>(table_port)) == port; }

// The process owning the connection from `peer` to `ours`, as the table lists it.
Result<std::optional<Pid>> owner_of(const TcpEndpoint& peer, const TcpEndpoint& ours) {
  auto bytes = tcp_table(peer.ipv6 ? AF_INET6 : AF_INET);
  if (!bytes) return fail(bytes.error());
  if (!peer.ipv6) {
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(bytes->data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
      const auto& row = table->table[i];
      if (std::memcmp(&row.dwLocalAddr, peer.address.data(), 4) == 0 && same_port(row.dwLocalPort, peer.port) &&
          std::memcmp(&row.dwRemoteAddr, ours.address.data(), 4) == 0 && same_port(row.dwRemotePort, ours.port)) {
        return std::optional<Pid>(row.dwOwningPid);
      }
    }
    return std::optional<Pid>();
  }
  const auto* table = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(bytes->data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const auto& row = table->table[i];
    if (std::memcmp(row.ucLocalAddr, peer.address.data(), 16) == 0 && same_port(row.dwLocalPort, peer.port) &&
        std::memcmp(row.ucRemoteAddr, ours.address.data(), 16) == 0 && same_port(row.dwRemotePort, ours.port)) {
      return std::optional<Pid>(row.dwOwningPid);
    }
  }
  return std::optional<Pid>();
}

struct HandleCloser {
  void operator()(void* handle) const { ::CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

// The user's security identifier from the token of process `pid`, in its text form.
Result<std::string> user_of_process(Pid pid) {
  OwnedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return fail(last_windows_error("failed to open process " + std::to_string(pid)));
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(process.get(), TOKEN_QUERY, &raw_token)) {
    return fail(last_windows_error("failed to read the user of process " + std::to_string(pid)));
  }
  OwnedHandle token(raw_token);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size ? size : 1);
  if (!::GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
    return fail(last_windows_error("failed to read the user of process " + std::to_string(pid)));
  }
  char* text = nullptr;
  if (!::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) {
    return fail(last_windows_error("failed to read the user of process " + std::to_string(pid)));
  }
  std::string sid(text);
  ::LocalFree(text);
  return sid;
}

// Wine (which runs this build on Linux) lists connections in its TCP table without their
// owning process: pid 0 for every row, measured with Wine 8.0. Only real Windows answers
// the question that way round; under Wine the host kernel's table, reached through the
// drive Wine maps to the Unix root, names the uid behind the peer's socket and ours.
bool running_under_wine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

Result<PeerUser> peer_user_from_host_kernel(const TcpEndpoint& peer, const TcpEndpoint& ours) {
  const std::string table_path = "Z:" + std::string(kernel_tcp_table_path(peer));
  auto table = read_whole_file(table_path);
  if (!table) return fail(std::move(table.error()).wrap("failed to read the host's TCP table " + table_path));
  const auto theirs = owner_in_kernel_table(*table, peer, ours);
  if (!theirs) return fail("the peer's socket is not listed in " + table_path);
  if (!theirs->uid) return fail("the peer has closed its socket already");
  const auto mine = owner_in_kernel_table(*table, ours, peer);
  if (!mine || !mine->uid) return fail("our own socket is not listed in " + table_path);
  return PeerUser{*theirs->uid == *mine->uid, "uid " + std::to_string(*theirs->uid)};
}

}  // namespace

Result<PeerUser> connection_peer_user(SocketHandle connection) {
  sockaddr_storage local{};
  sockaddr_storage peer{};
  int local_length = sizeof local;
  int peer_length = sizeof peer;
  if (::getsockname(native(connection), reinterpret_cast<sockaddr*>(&local), &local_length) != 0 ||
      ::getpeername(native(connection), reinterpret_cast<sockaddr*>(&peer), &peer_length) != 0) {
    return fail(last_socket_error().text() + " (reading the connection's addresses)");
  }
  if ((peer.ss_family != AF_INET && peer.ss_family != AF_INET6) || local.ss_family != peer.ss_family) {
    return fail("the connection is not a TCP connection");
  }
  const TcpEndpoint peer_end = tcp_endpoint_of(peer);
  const TcpEndpoint our_end = tcp_endpoint_of(local);
  if (running_under_wine()) return peer_user_from_host_kernel(peer_end, our_end);
  auto owner = owner_of(peer_end, our_end);
  if (!owner) return fail(owner.error());
  if (!*owner) return fail("the peer's connection is not listed in the TCP table");
  if (**owner == 0) return fail("the peer has closed its socket already");
  auto theirs = user_of_process(**owner);
  if (!theirs) return fail(theirs.error());
  auto ours = user_of_process(current_pid());
  if (!ours) return fail(ours.error());
  return PeerUser{*theirs == *ours, *theirs};
}

}  // namespace vesk
