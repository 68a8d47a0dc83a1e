// The file a sink is filling, as a walk of its folder must leave it out.
#pragma once

#include <optional>

#include "platform/files.h"
#include "search/searchfiles.h"

namespace kestrafin::scan {

// The temporary file `temporary`, known by its folder's identity and its name;
// none when it has no name or its folder cannot be opened.
std::optional<search::LeftOutFile> left_out_file(
    const std::optional<platform::AtomicFileWriter::TemporaryFile>& temporary);

}  // namespace kestrafin::scan
