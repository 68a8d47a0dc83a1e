// One scan: walks the request's root (search/searchfiles.h) or takes the same
// events from a source its caller gives, judges what the walk finds by the
// request's rules, hands each entry that breaks one to the sink in the walk's
// order, and keeps the report. The window and the scanner
// both scan through this; they differ only in the sinks they hand in.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <utility>

#include "scan/report.h"
#include "scan/request.h"
#include "scan/sink.h"
#include "search/searchfiles.h"

namespace kestrafin::scan {

// The most that the files of one folder may hold while they wait for its
// listing to be checked for collisions: their paths and what is known of
// each. Past it the folder's files go on at once without that check.
inline constexpr std::size_t kMostHeldBytes = std::size_t{128} << 20;

class Scan {
  public:
    // `request` and `sink` must outlive the scan. The walk ends early once
    // `stop`, when given, is set.
    Scan(const ScanRequest& request, Sink& sink, const std::atomic<bool>* stop = nullptr,
         std::size_t most_held_bytes = kMostHeldBytes);
    ~Scan();
    Scan(const Scan&) = delete;
    Scan& operator=(const Scan&) = delete;

    // What tells the scan the events of its root, as the walk would: the
    // walk itself when none is given (a volume's table may stand in for it).
    using EventSource =
        std::function<void(search::WalkVisitor& visitor, const search::SearchOptions& options)>;
    // `volume` names the volume it reads, for the report (ScanReport::volume).
    void set_source(EventSource source, std::string volume) {
        source_ = std::move(source);
        report_.volume = std::move(volume);
    }

    // Walks the root with backup rights where the account has them, then
    // finishes. Memory running out ends the walk, not the scan: what was
    // found is kept and the report says so.
    void run();

    // For a caller that plays the walk itself (tests of the programs): the
    // visitor the walk tells, and the options it walks with. The visitor
    // answers stop once `stop` is set, and go_on otherwise.
    search::WalkVisitor& walk_visitor();
    search::SearchOptions walk_options() const;
    // Hands on what still waits for its folder's listing, and dates the
    // report; once, however often it is called. run() calls it.
    void finish();

    const ScanReport& report() const { return report_; }

  private:
    class Judge;
    const ScanRequest& request_;
    Sink& sink_;
    const std::atomic<bool>* stop_;
    ScanReport report_;
    std::chrono::steady_clock::time_point start_;
    std::unique_ptr<Judge> judge_;
    EventSource source_;
    bool finished_ = false;
};

}  // namespace kestrafin::scan
