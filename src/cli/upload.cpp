// "upload": reads local files and base64 texts into file entries and hands them to a file
// input of the page in one request, optionally followed by a snapshot diff.
#include <filesystem>

#include <cstdint>
#include <filesystem>

#include "cli/browser_commands.hpp"
#include "language/snapshot_change.hpp"
#include "cli/upload_entries.hpp"
#include "protocol/framing.hpp"
#include "render/render.hpp"

namespace vesk::cli {

namespace {

constexpr const char* kDefaultFileInput = "input[type=file]";

bool path_exists(const std::string& path) {
  std::error_code unreadable;
  return std::filesystem::exists(path, unreadable);
}

Result<Json> collect_entries(const std::vector<std::string>& files, const UploadArgs& args) {
  Json entries = Json::array();
  for (const std::string& file : files) {
    auto entry = upload_entry_from_file(file);
    if (!entry) return fail(std::move(entry.error()));
    entries.push_back(std::move(*entry));
  }
  for (size_t i = 0; i < args.base64.size(); ++i) {
    entries.push_back(upload_entry_from_text(args.base64[i], "upload-" + std::to_string(i + 1)));
  }
  for (const std::string& file : args.base64_file) {
    auto entry = upload_entry_from_base64_file(file);
    if (!entry) return fail(std::move(entry.error()));
    entries.push_back(std::move(*entry));
  }
  if (entries.empty()) return fail("upload requires at least one file, --base64, or --base64-file");
  return entries;
}

// What the request will weigh, from the sizes of its inputs alone: base64 turns every 3
// bytes of a file into 4, and each entry adds its name and type.
std::uint64_t estimated_request_bytes(const std::vector<std::string>& files, const UploadArgs& args) {
  constexpr std::uint64_t kEnvelope = 4096;
  constexpr std::uint64_t kPerEntry = 512;
  std::uint64_t total = kEnvelope;
  std::error_code ec;
  for (const std::string& file : files) {
    const auto size = std::filesystem::file_size(file, ec);
    if (!ec) total += (size + 2) / 3 * 4;
    total += kPerEntry;
  }
  for (const std::string& text : args.base64) total += text.size() + kPerEntry;
  for (const std::string& file : args.base64_file) {
    const auto size = std::filesystem::file_size(file, ec);
    if (!ec) total += size;
    total += kPerEntry;
  }
  return total;
}

// Refused before a file is read: the server would close the connection on it anyway.
Status check_request_size(const std::vector<std::string>& files, const UploadArgs& args) {
  const std::uint64_t bytes = estimated_request_bytes(files, args);
  if (bytes <= kMaxMessageBytes) return {};
  return fail("upload too large: its request would take about " + std::to_string(bytes) +
              " bytes, more than the " + std::to_string(kMaxMessageBytes) +
              " bytes a message to the VeskApp server may hold; upload fewer or smaller files");
}

}  // namespace

Status run_upload(const RequestSender& send, const UploadArgs& args) {
  // A lone existing path in the selector position is the file to upload, into the
  // default file input.
  std::vector<std::string> files = args.files;
  std::optional<std::string> selector = args.selector;
  if (files.empty() && selector && path_exists(*selector)) {
    files.push_back(*selector);
    selector.reset();
  }
  if (auto fits = check_request_size(files, args); !fits) return fits;

  std::optional<Json> baseline;
  if (args.snap_diff) baseline = baseline_snapshot(send, args.tab);

  auto entries = collect_entries(files, args);
  if (!entries) return fail(std::move(entries.error()));
  Json params{{"selector", selector ? *selector : std::string(kDefaultFileInput)},
              {"files", std::move(*entries)},
              {"tab", text_or_null(args.tab)},
              {"options", {{"snapDiff", args.snap_diff}}},
              {"sourceCommand", "upload"}};
  auto result = send("upload", params);
  params = nullptr;  // the file contents are not needed any more
  if (!result) return fail(std::move(result.error()));
  if (!args.snap_diff) return print_result(*result);

  auto after = await_snapshot_change(send, args.tab, "upload", baseline);
  if (!after) return fail(std::move(after.error()));
  merge_snapshot(*result, *after);
  return print_result(*result);
}

}  // namespace vesk::cli
