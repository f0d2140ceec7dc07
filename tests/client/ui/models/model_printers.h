#pragma once
// Readable test failures for the dialog models' data.

#include <ostream>

#include "client/ui/models/ControlStates.h"
#include "client/ui/models/DvrRequest.h"

namespace rd::ui {

inline void PrintTo(const DvrRequest& r, std::ostream* os) {
  *os << Describe(r);
}

inline void PrintTo(const BoxMessage& b, std::ostream* os) {
  *os << "box{" << b.caption << " | " << b.text << " | " << static_cast<int>(b.icon) << "}";
}

}  // namespace rd::ui
