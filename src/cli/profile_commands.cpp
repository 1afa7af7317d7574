// "profile"/"profiles": passed to the browser like any other request.
#include <type_traits>

#include "cli/browser_commands.hpp"

namespace vesk::cli {

Status run_profile_command(const RequestSender& send, const ProfileCommand& command) {
  return std::visit(
      [&](const auto& sub) -> Status {
        using Sub = std::decay_t<decltype(sub)>;
        if constexpr (std::is_same_v<Sub, ProfileList>) {
          return send_and_print(send, "profile.list", Json::object());
        } else if constexpr (std::is_same_v<Sub, ProfileCreate>) {
          return send_and_print(send, "profile.create", Json{{"name", sub.name}});
        } else if constexpr (std::is_same_v<Sub, ProfileOpen>) {
          return send_and_print(send, "profile.open", Json{{"id", sub.id}});
        } else {
          return send_and_print(send, "profile.delete", Json{{"id", sub.id}});
        }
      },
      command.subcommand);
}

}  // namespace vesk::cli
