// The flame graph view: one self-contained HTML page (inline script and style, no network access).
#pragma once

#include "Snapshot.h"

#include <ostream>
#include <string>

namespace snapshot {

void writeFlameGraph(std::ostream& out, const Snapshot& snapshot, const std::string& title);

} // namespace snapshot
