#include "browser/methods/reading_methods.hpp"

#include <set>
#include <string>

namespace vesk::browser {

bool only_reads(std::string_view method) {
  // "record" and "quick" are not reads, but they act only through the methods they serve,
  // each of which is judged by itself.
  static const std::set<std::string, std::less<>> kReading = {
      "tab.list", "tab.handoffStatus",
      "page.snapshot", "page.screenshot", "page.title", "page.url", "page.text", "page.html",
      "page.find", "page.styles", "page.pdf", "page.capture",
      "element.value", "element.attr", "element.count", "element.box", "element.visible",
      "element.enabled", "element.checked",
      "console", "errors", "record", "quick",
  };
  return kReading.contains(method);
}

}  // namespace vesk::browser
