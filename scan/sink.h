// Where a scan puts what it finds. A sink only writes: the scan has judged
// every entry before a sink sees it. Every call comes on the thread that
// runs the scan, in the walk's order; texts are valid only during the call.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "scan/entry.h"
#include "scan/report.h"
#include "search/declined_folders.h"
#include "search/searchfiles.h"

namespace kestrafin::scan {

class Sink {
  public:
    virtual ~Sink() = default;

    // What the sink needs of the scan, asked once before it starts: every
    // file the walk reads (file_seen), not only those listed, which makes the
    // walk hand on every file; and the entries' lengths.
    virtual bool sees_every_file() const { return false; }
    virtual bool needs_lengths() const { return false; }
    // A file this sink writes in a folder the walk may read, left out of the
    // scan.
    virtual std::optional<search::LeftOutFile> own_file() const { return std::nullopt; }

    // Once, before the walk: how it will read (report().backup_rights).
    virtual void started(const ScanReport& /*report*/) {}
    // An entry that breaks a rule.
    virtual void entry(const Entry& /*entry*/) {}
    // With sees_every_file: every file the walk handed on, listed or not.
    virtual void file_seen(const Entry& /*file*/) {}
    // A folder that could not be read, or only in part: an entry of kind
    // error, and the host's error number.
    virtual void folder_unreadable(const Entry& /*folder*/, int /*error*/) {}
    // A folder not entered, and why.
    virtual void folder_not_entered(std::string_view /*directory*/, search::NotEntered /*reason*/,
                                    const ScanReport& /*report*/) {}
    // A name the exclusions leave out: a folder is then not read.
    virtual void left_out(std::string_view /*path*/, bool /*folder*/) {}
    // A folder that held too many files for their names to be compared.
    virtual void names_unchecked(std::string_view /*folder*/) {}
    // One folder has been read; the report holds the counts so far.
    virtual void folder_done(std::string_view /*directory*/, const ScanReport& /*report*/) {}
};

// Hands every call on to each of several sinks, in the order given.
class Sinks : public Sink {
  public:
    explicit Sinks(std::vector<Sink*> sinks) : sinks_(std::move(sinks)) {}

    bool sees_every_file() const override;
    bool needs_lengths() const override;
    std::optional<search::LeftOutFile> own_file() const override;
    void started(const ScanReport& report) override;
    void entry(const Entry& entry) override;
    void file_seen(const Entry& file) override;
    void folder_unreadable(const Entry& folder, int error) override;
    void folder_not_entered(std::string_view directory, search::NotEntered reason,
                            const ScanReport& report) override;
    void left_out(std::string_view path, bool folder) override;
    void names_unchecked(std::string_view folder) override;
    void folder_done(std::string_view directory, const ScanReport& report) override;

  private:
    std::vector<Sink*> sinks_;
};

}  // namespace kestrafin::scan
