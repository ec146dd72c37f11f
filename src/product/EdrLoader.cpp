#include "product/EdrLoader.h"

#include "util/Errors.h"

namespace quelmar {

LoadOutcome LoadEdrProduct(const std::string&, LoadedProduct&, UserPort&,
                           const std::function<void(int32_t)>&) {
  throw QuelmarError("Loading is not built yet");
}

void HeaderCommand(const LoadedProduct& product, UserPort& port) {
  for (const std::string& line : product.HeaderLines) port.AppendLine(line);
  port.AppendLine("");
}

}  // namespace quelmar
