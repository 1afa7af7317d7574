#pragma once
// The actions report: every method a tab served while it was recorded, with its params,
// its result or error, when it ran and how long it took, and a screenshot after each action,
// written as one self-contained HTML page (styles and images inline) that a person opens to
// see step by step what an agent did.

#include <string>
#include <vector>

#include "base/json.hpp"

namespace vesk::media {

struct ActionEntry {
  std::string method;
  Json params;
  Json result;            // null when the method failed
  Json error;             // {"code", "message"} when it failed, else null
  std::string time;       // RFC 3339
  double duration_ms = 0;
  std::string screenshot;  // base64 JPEG taken after the action; empty for none
};

class ActionsReport {
 public:
  ActionsReport(std::string tab_id, std::string started) : tab_id_(std::move(tab_id)), started_(std::move(started)) {}
  void add(ActionEntry entry) { entries_.push_back(std::move(entry)); }
  [[nodiscard]] std::size_t size() const { return entries_.size(); }
  [[nodiscard]] std::string html(const std::string& finished) const;

 private:
  std::string tab_id_;
  std::string started_;
  std::vector<ActionEntry> entries_;
};

// Text made safe for HTML element content and attribute values.
std::string html_escape(std::string_view text);

}  // namespace vesk::media
