#pragma once
// A colour picture built for a fuzz driver: it has pixels and reports every channel, or it ends
// with a run-time error; either way the busy cursor is restored.
#include "FuzzSupport.h"
#include "assembly/ColourComposite.h"
#include "assembly/Picture.h"
#include "product/LoadedProduct.h"
#include "util/Errors.h"

namespace quelmar::fuzz {

inline void BuildAndCheckColour(const LoadedProduct& product, const ColourRequest& request,
                                SilentPort& port) {
  Picture built;
  try {
    const ColourResult result = BuildColourComposite(product, request, port, built);
    Check(built.Width() > 0 && built.Height() > 0, "a colour picture has pixels");
    Check(RegistrationLines(result).size() >= 3, "every channel is reported");
  } catch (const QuelmarError&) {
  }
  Check(port.CursorRestored(), "the busy cursor is restored after a colour picture");
}

}  // namespace quelmar::fuzz
