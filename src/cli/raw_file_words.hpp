#pragma once
// The words of a raw command that name a file or folder. veskbrowser runs in a folder of its
// own and refuses relative paths, so vesk makes such words absolute against the folder it
// runs in before sending them: "vesk state save s.json" writes s.json beside the user.

#include <string_view>
#include <vector>
#include <string>

namespace vesk::cli {

// The positions in `words` that name a file for the browser method `method`.
std::vector<std::size_t> file_word_positions(std::string_view method, const std::vector<std::string>& words);

// `words` with each file word made absolute against the current directory.
std::vector<std::string> with_file_words_resolved(std::string_view method, std::vector<std::string> words);

}  // namespace vesk::cli
