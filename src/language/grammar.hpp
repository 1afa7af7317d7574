#pragma once
// The command tree of vesk as CLI11 definitions: every command word, nested subcommand,
// option, flag and positional, with value names, types, defaults, conflicts and required
// subcommands. Parsed values land in the record slots; the word scan (word_scan.hpp)
// fills the word lists that CLI11 cannot read by our rules.

#include <memory>
#include <string>
#include <unordered_map>

#include <CLI/CLI.hpp>

#include "language/command.hpp"

namespace vesk::cli {

// How the bare words of a command are read (word_scan.hpp).
enum class ListShape {
  none,           // single positionals only, read by CLI11
  options_first,  // optional selector, then a list that takes every later word
  trailing,       // a list that takes every word from the first non-option on
};

// Which record a command word carries.
enum class RecordKind {
  none, server, profile, instance, tab, nav, snap, action, after_action,
  pdf, screenshot, download, upload, raw,
};
RecordKind record_kind_of(CommandWord word);

// Where CLI11 writes: one record per kind, shared by the words that carry it.
struct RecordSlots {
  ServerArgs server;
  ProfileCreate profile_create;
  ProfileOpen profile_open;
  ProfileDelete profile_delete;
  StartInstanceArgs instance_start;
  InstanceStop instance_stop;
  TabArgs tab;
  NavArgs nav;
  SnapArgs snap;
  ActionArgs action;
  AfterActionArgs after_action;
  PdfArgs pdf;
  ScreenshotArgs screenshot;
  DownloadArgs download;
  UploadArgs upload;
  RawBrowserArgs raw;
};

class Grammar {
 public:
  // The whole command tree: what help texts and usage errors are made from.
  Grammar();
  // The program and one command word's part of the tree only. Building all 71 commands
  // is most of a short command's run time; a line that uses one command needs only its
  // definitions to be read.
  explicit Grammar(CommandWord only);
  Grammar(const Grammar&) = delete;
  Grammar& operator=(const Grammar&) = delete;

  CLI::App& root() { return *root_; }
  const CLI::App& root() const { return *root_; }
  RecordSlots& slots() { return slots_; }
  ListShape list_shape(const CLI::App& app) const;

  // "vesk", "vesk server", "vesk profile create".
  static std::string command_path(const CLI::App& app);
  // The one-line usage of a command, ending in a newline.
  std::string usage(const CLI::App& app) const;
  // The full help of a command: about text (program only), usage, arguments, options,
  // subcommands.
  std::string help(const CLI::App& app) const;

 private:
  void define_program();
  void define_command(CommandWord word);

  std::unique_ptr<CLI::App> root_;
  RecordSlots slots_;
  std::unordered_map<const CLI::App*, ListShape> shapes_;
};

}  // namespace vesk::cli
