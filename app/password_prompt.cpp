#include "app/password_prompt.h"

#include <utility>

#include "platform/toolkit/password_dialog.h"
#include "platform/toolkit/text_bytes.h"

namespace app {

batchcups::PasswordPrompt dialogPasswordPrompt(std::function<QWidget*()> window) {
  return [window = std::move(window)](
             const std::string& prompt,
             const std::string& user) -> std::optional<batchcups::Credentials> {
    std::optional<toolkit::PasswordAnswer> answer = toolkit::askPassword(
        window ? window() : nullptr, toolkit::fromBytes(prompt), toolkit::fromBytes(user));
    if (!answer) {
      return std::nullopt;
    }
    return batchcups::Credentials{toolkit::toBytes(answer->user),
                                  toolkit::toBytes(answer->password)};
  };
}

}  // namespace app
