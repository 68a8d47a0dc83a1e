// The roots of one kestrafin-scan run, walked one after another in the
// order given, each root's entries together and in its walk's order. Roots
// on different servers or volumes (platform::volume_of) are walked at the
// same time: the first of those running hands its entries on as they come,
// the others keep theirs (in memory up to a bound, beyond it in a scratch
// file) until every root before them has been handed on.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "scan/report.h"
#include "scan/request.h"
#include "scan/sink.h"
#include "scan/sinks/summary.h"
#include "scanner/volume_source.h"

namespace kestrafin::scanner {

// The roots a roots file names: one a line, in UTF-8 (or, where the host
// stores text in a code page, in that code page when the file is not UTF-8
// throughout), with blank lines and lines starting with "#" left out.
// The file may be a FIFO (--roots <(...)). Raises std::system_error when it
// cannot be read or holds more than 64 MiB.
std::vector<std::string> read_roots_file(const std::string& path);

// `roots` with each root only where it first comes: a root walked twice
// would list its entries twice under one name. The others go to `repeated`.
std::vector<std::string> distinct_roots(const std::vector<std::string>& roots,
                                        std::vector<std::string>& repeated);

// What the roots' walks are handed to, always one root at a time and in the
// roots' order, but not always on the same thread.
class RootOutputs {
  public:
    virtual ~RootOutputs() = default;
    // Where every root's entries go, between root_begins and root_ends.
    virtual scan::Sink& sink() = 0;
    virtual void root_begins(std::size_t index) = 0;
    // `summary` saw the walk's entries, and every file with summaries.
    virtual void root_ends(std::size_t index, const scan::ScanReport& report,
                           const scan::ScanSummary& summary) = 0;
};

struct RootRunOptions {
    // Summaries see every file of each walk (which the walk then hands on);
    // without them root_ends() gets one that saw the entries alone.
    bool summaries = false;
    bool print_target = false;  // the summary names paths at the target
    // Walks at once, fewer where the process may not open the handles they
    // would hold.
    std::size_t most_at_once = 4;
    // What each root waiting for its turn keeps in memory.
    std::size_t held_bytes = std::size_t{8} << 20;
    // Where each root's events come from; the walk when null. A root it
    // refuses is not walked, and says why on standard error.
    VolumeSources* sources = nullptr;
};

// Walks `roots` with `request` (its root left aside). Once `stop` is set no
// other root starts, and those running end early; roots never started are
// not handed on. Raises what a walk or an output raised, once every walk
// has ended.
void run_roots(const scan::ScanRequest& request, const std::vector<std::string>& roots,
               const RootRunOptions& options, RootOutputs& outputs, const std::atomic<bool>* stop);

}  // namespace kestrafin::scanner
