// How long a file's paths are, where it lies now or where it is going, and
// which of the length rules it breaks.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kestrafin::scan {

// Where the tree is going: every path is measured as if the walk's root were
// this prefix. A prefix that names a Windows drive, a UNC share or holds a
// backslash joins the rest with "\", a URL (scheme "://" host path) with "/"
// and is measured from the path after the host with its percent-escapes
// decoded; its query or fragment ("?", "#"), as in an address copied from a
// browser, is left out of the paths. Any other prefix joins with "/".
class TargetPrefix {
  public:
    explicit TargetPrefix(std::string prefix);

    const std::string& text() const { return text_; }
    // What the paths at the target begin with.
    const std::string& base() const { return base_; }
    char separator() const { return separator_; }
    // The part of the prefix whose length counts at the destination.
    const std::string& measured() const { return measured_; }

  private:
    std::string text_;
    std::string base_;
    std::string measured_;
    char separator_;
};

// The lengths of one file's paths in UTF-16 code units.
struct EntryLengths {
    // Its folder's directory string: the root text exactly as given for a file
    // in the root, the text before the last separator for a deeper one.
    std::size_t folder = 0;
    // The whole path, the file's name included.
    std::size_t path = 0;
};

// Measures the entry texts of one walk of `root`, under `target` when given.
class LengthMeasure {
  public:
    LengthMeasure(std::string_view root, std::optional<TargetPrefix> target);

    // The lengths of `entry_text`, a path the walk handed on.
    EntryLengths measure(std::string_view entry_text) const;
    // The path `entry_text` gets at the target; the entry itself without one.
    std::string target_path(std::string_view entry_text) const;
    bool has_target() const { return target_.has_value(); }

  private:
    std::string slashed_root_;
    std::optional<TargetPrefix> target_;
    std::size_t root_units_;          // the folder length of a file in the root
    std::size_t slashed_root_units_;  // what comes before the rest of a path
};

// The rules an entry is judged by; an entry qualifies by either one.
struct LengthRules {
    // A file qualifies when its folder's path is longer than this.
    std::optional<std::size_t> folder_longer_than;
    // A file qualifies when its whole path is longer than this.
    std::optional<std::size_t> file_longer_than;
};

// Which rules one entry breaks.
struct Verdict {
    bool by_folder = false;
    bool by_file = false;
    bool qualifies() const { return by_folder || by_file; }
};

Verdict judge(const LengthRules& rules, const EntryLengths& lengths);

// `text` with each percent-escape (a "%" and two hex digits) replaced by its
// byte; a "%" that starts no escape stays as it is.
std::string percent_decoded(std::string_view text);

}  // namespace kestrafin::scan
