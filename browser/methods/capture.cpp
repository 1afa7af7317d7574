#include "browser/methods/capture.hpp"

#include "base/timestamp.hpp"
#include "browser/core/method_table.hpp"
#include "browser/methods/output_files.hpp"

namespace vesk::browser {
namespace {

namespace fs = std::filesystem;

// The snapshot as the compact listing `vesk snap -i` prints.
std::string listing_text(const Json& snapshot) {
  const Json& payload = snapshot.value("snapshot", Json::object());
  const Json& nodes = payload.value("nodes", Json::array());
  std::string text = "# " + payload.value("title", std::string()) + " | " + payload.value("url", std::string()) + " | " +
                     std::to_string(nodes.size()) + " nodes\n";
  for (const Json& node : nodes) {
    text += node.value("id", std::string()) + ":" + node.value("role", std::string("element"));
    const std::string name = node.value("name", std::string());
    if (!name.empty()) text += " " + Json(name).dump(-1, ' ', false, Json::error_handler_t::replace);
    text += '\n';
  }
  return text;
}

struct Bundle {
  fs::path dir;
  Json files = Json::array();
  Json skipped = Json::object();  // part -> why it is missing

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
  if (out && fs::path(*out).is_relative()) {
    return invalid_argument("--out \"" + *out + "\" is relative; give an absolute folder (the browser does not know the folder vesk ran in)");
  }
  const Json tab_param = params.value("tab", Json());
  Tab& tab = *unwrap(browser.tab_for(Json{{"tab", tab_param}}));
  const Json tab_id = tab.id;
  const std::string time = utc_timestamp();
  Bundle bundle{out ? fs::path(*out) / generated_name("capture", "") : output_root(browser) / generated_name("capture", "")};

  // Reading methods, each for this tab; a part that fails is noted, the rest still written.
  auto read = [&](const std::string& method, Json request) -> std::optional<Json> {
    request["tab"] = tab_id;
    auto result = serve(method, request);
    if (!result) {
      bundle.skipped[method] = result.error().code + ": " + result.error().message;
      return std::nullopt;
    }
    return std::move(*result);
  };

  const auto title = read("page.title", Json{{"args", Json::array()}});
  const auto url = read("page.url", Json{{"args", Json::array()}});
  Json page{{"tab", tab.id}, {"time", time},
            {"title", title ? title->value("title", Json()) : Json()},
            {"url", url ? url->value("url", Json()) : Json()}};
  unwrap(bundle.write_json("page.json", page));
  if (auto snapshot = read("page.snapshot", Json{{"options", {{"interactive", false}, {"compact", true}}}})) {
    unwrap(bundle.write_json("snapshot.json", *snapshot));
    unwrap(bundle.write("snapshot.txt", listing_text(*snapshot)));
  }
  if (read("page.screenshot", Json{{"output", (bundle.dir / "screenshot.png").string()}, {"options", {{"full", false}}}})) {
    bundle.files.push_back("screenshot.png");
  }
  if (auto text = read("page.text", Json{{"args", Json::array()}})) unwrap(bundle.write("text.txt", text->value("text", std::string())));
  if (auto html = read("page.html", Json{{"args", Json::array()}})) unwrap(bundle.write("page.html", html->value("html", std::string())));
  if (auto console = read("console", Json{{"args", Json::array()}})) unwrap(bundle.write_json("console.json", *console));
  if (auto errors = read("errors", Json{{"args", Json::array()}})) unwrap(bundle.write_json("errors.json", *errors));
  if (auto har = read("network", Json{{"args", {"har", "export", (bundle.dir / "network.har").string()}}})) {
    bundle.files.push_back("network.har");
  }
  Json answer{{"path", bundle.dir.string()}, {"files", bundle.files}, {"tab", tab.id}, {"url", page["url"]},
              {"title", page["title"]}, {"time", time}};
  if (!bundle.skipped.empty()) answer["missing"] = bundle.skipped;
  return answer;
}

}  // namespace vesk::browser
