#pragma once
// "page.capture": one folder with everything needed to see why a page misbehaves: the
// snapshot (listing text and JSON), a screenshot, the page's text and HTML, its console
// messages and errors, the network log as HAR, and the URL, title and time.
//
// Words: [--out DIR] (an absolute folder; default a new folder under the profile's
// vesk-outputs). The answer: {"path", "files": [names], "tab", "url", "title", "time"}.

#include "base/json.hpp"
#include "browser/core/method_result.hpp"
#include "browser/methods/batch.hpp"

namespace vesk::browser {

class Browser;

// Gathers the parts by serving the methods that read them through `serve`.
MethodResult capture_page(Browser& browser, const Json& params, const ServeRequest& serve);

}  // namespace vesk::browser
