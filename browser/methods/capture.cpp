#include "browser/methods/capture.hpp"

#include "base/timestamp.hpp"
#include "browser/core/method_table.hpp"
#include "browser/methods/network_actions.hpp"
#include "browser/methods/output_files.hpp"
#include "language/requests.hpp"
#include "language/snapshot_listing.hpp"

namespace vesk::browser {
namespace {

namespace fs = std::filesystem;

struct Bundle {
  fs::path dir;
  Json files = Json::array();
  Json skipped = Json::object();  // file name -> why it could not be written

  std::expected<void, MethodError> write(const std::string& name, const std::string& bytes) {
    auto written = write_bytes(dir / name, bytes);
    if (!written) return std::unexpected(written.error());
    files.push_back(name);
    return {};
  }
  std::expected<void, MethodError> write_json(const std::string& name, const Json& value) {
    return write(name, value.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
  }
};

}  // namespace

MethodResult capture_page(Browser& browser, const Json& params, const ServeRequest& serve) {
  const auto words = words_of(params);
  std::optional<std::string> out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if ((words[i] == "--out" || words[i] == "-o") && i + 1 < words.size()) {
      out = words[++i];
    } else {
      return invalid_argument("capture takes [--out DIR]; \"" + words[i] + "\" is not one of them");
    }
  }
  const Json tab_param = params.value("tab", Json());
  Tab& tab = *unwrap(browser.tab_for(Json{{"tab", tab_param}}));
  const Json tab_id = tab.id;
  const std::string time = utc_timestamp();
  const fs::path parent = out ? unwrap(absolute_path(*out, "--out")) : output_root(browser);
  Bundle bundle{parent / generated_name("capture", "")};

  // Each part is read by serving a reading method for this tab; a part that fails is listed
  // under "missing" with the reason, and the rest are still written.
  auto read = [&](const std::string& part, const std::string& method, Json request) -> std::optional<Json> {
    request["tab"] = tab_id;
    auto result = serve(method, request);
    if (!result) {
      bundle.skipped[part] = result.error().code + ": " + result.error().message;
      return std::nullopt;
    }
    return std::move(*result);
  };
  const Json no_words{{"args", Json::array()}};

  const auto title = read("title", "page.title", no_words);
  const auto url = read("url", "page.url", no_words);
  Json page{{"tab", tab.id}, {"time", time},
            {"title", title ? title->value("title", Json()) : Json()},
            {"url", url ? url->value("url", Json()) : Json()}};
  unwrap(bundle.write_json("page.json", page));
  // The JSON of `vesk snap` and the listing `vesk snap -i` prints (refs are the same in both).
  cli::SnapArgs listing_args;
  listing_args.interactive = true;
  if (auto snapshot = read("snapshot.json", "page.snapshot", cli::snap_request(cli::SnapArgs{}).params)) {
    unwrap(bundle.write_json("snapshot.json", *snapshot));
  }
  if (auto listing = read("snapshot.txt", "page.snapshot", cli::snap_request(listing_args).params)) {
    unwrap(bundle.write("snapshot.txt", snapshot_listing(*listing)));
  }
  const Json screenshot{{"output", (bundle.dir / "screenshot.png").string()}, {"options", {{"full", false}}}};
  if (read("screenshot.png", "page.screenshot", screenshot)) bundle.files.push_back("screenshot.png");
  if (auto text = read("text.txt", "page.text", no_words)) unwrap(bundle.write("text.txt", text->value("text", std::string())));
  if (auto html = read("page.html", "page.html", no_words)) unwrap(bundle.write("page.html", html->value("html", std::string())));
  if (auto console = read("console.json", "console", no_words)) unwrap(bundle.write_json("console.json", *console));
  if (auto errors = read("errors.json", "errors", no_words)) unwrap(bundle.write_json("errors.json", *errors));
  if (auto har = write_tab_har(browser, tab, bundle.dir / "network.har")) {
    bundle.files.push_back("network.har");
  } else {
    bundle.skipped["network.har"] = har.error().code + ": " + har.error().message;
  }
  Json answer{{"path", bundle.dir.string()}, {"files", bundle.files}, {"tab", tab.id}, {"url", page["url"]},
              {"title", page["title"]}, {"time", time}};
  if (!bundle.skipped.empty()) answer["missing"] = bundle.skipped;
  return answer;
}

}  // namespace vesk::browser
