#include "browser/core/method_table.hpp"

namespace vesk::browser {

const char* const kVeskbrowserVersion = VESK_VERSION;

MethodResult serve_method(Browser& browser, const MethodTable& table, std::string_view method,
                          const Json& params) {
  auto handler = table.find(method);
  if (handler == table.end()) {
    return method_error("unsupportedMethod",
                        "method \"" + std::string(method) + "\" is not served by veskbrowser " +
                            std::string(kVeskbrowserVersion) +
                            "; the veskbrowser method reference lists the methods it serves");
  }
  if (auto checked = check_action_options(params); !checked) return std::unexpected(checked.error());
  try {
    return handler->second(browser, params.is_object() ? params : Json::object());
  } catch (MethodFailure& failure) {
    return std::unexpected(std::move(failure.error));
  } catch (const nlohmann::json::exception& e) {
    return method_error("actionFailed", "unexpected data while serving " + std::string(method) +
                                            ": " + e.what());
  }
}

}  // namespace vesk::browser
