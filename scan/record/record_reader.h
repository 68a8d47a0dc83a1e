// Reads a scan record (docs/record-format.md) back, line by line, checking
// every line against the format before it hands anything on: a record cut
// short, edited, of a newer format or of another program, or hostile, is
// refused with the file and the line named, and no figure of it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrafin::scan::record {

inline constexpr int kFormatVersion = 1;
inline constexpr std::size_t kLongestLine = std::size_t{1} << 20;

// Why a record was refused: "FILE:LINE: what is wrong" (line 0 for the file
// as a whole).
class RecordError : public std::runtime_error {
  public:
    RecordError(const std::string& file, std::size_t line, const std::string& what);
    const std::string& file() const { return file_; }
    std::size_t line() const { return line_; }

  private:
    std::string file_;
    std::size_t line_;
};

// The `scan` line. Paths and texts hold the exact bytes (from `_base64` where
// given).
struct ScanLine {
    std::string scan_id;
    std::string program;
    std::string version;
    std::string host;
    std::string user;
    std::string started;  // YYYY-MM-DDThh:mm:ssZ
    std::vector<std::string> roots;
    std::optional<std::uint64_t> folder_longer_than;
    std::optional<std::uint64_t> path_longer_than;
    std::vector<std::string> checks;
    std::vector<std::string> reasons;  // the codes an entry may carry, in order
    std::optional<std::string> target_prefix;
    std::vector<std::string> excludes;
    std::uint64_t threads = 0;
    bool follow_links = true;
    bool one_file_system = false;
    bool include_offline = false;
};

enum class RecordKind { file, folder, link, error };

// A `file`, `folder`, `link` or `error` line. Texts are valid only during the
// call that hands it on.
struct EntryLine {
    RecordKind kind = RecordKind::file;
    std::string_view root;
    std::string_view relative_path;
    std::string_view path;
    std::string_view target_path;  // empty without a target prefix
    std::uint64_t folder_length = 0;
    std::uint64_t path_length = 0;
    // Bit i: the scan line's reasons[i].
    std::uint32_t reasons = 0;
    std::string_view error;  // for an error
    std::uint64_t error_number = 0;
};

struct ActOnLine {
    std::string relative_path;
    std::uint64_t entries = 0;
    std::uint64_t units_to_lose = 0;
};

// A `root` line.
struct RootLine {
    std::string root;
    std::string end;  // complete, incomplete, not_walked, stopped
    std::uint64_t exit_status = 0;
    std::string error;
    std::uint64_t folders_read = 0;
    std::uint64_t files_seen = 0;
    std::uint64_t entries = 0;
    std::map<std::string, std::uint64_t> entries_by_reason;
    std::uint64_t unreadable = 0;
    std::map<std::string, std::uint64_t> not_entered;
    std::vector<ActOnLine> folders_to_act_on;
    double seconds = 0;
};

// The `end` line.
struct EndLine {
    std::string finished;
    double seconds = 0;
    bool stopped = false;
    std::uint64_t entries = 0;
    std::uint64_t unreadable = 0;
    std::uint64_t exit_status = 0;
};

// What a reader of records does with each line, in the record's order.
class RecordVisitor {
  public:
    virtual ~RecordVisitor() = default;
    virtual void scan(const ScanLine& /*line*/) {}
    virtual void entry(const EntryLine& /*line*/) {}
    virtual void root(const RootLine& /*line*/) {}
    virtual void end(const EndLine& /*line*/) {}
};

// Reads the record at `file` and tells `visitor` each line once it has been
// checked. Raises RecordError on the first fault; lines told before it were
// sound, but the record as a whole is not, so a caller drops what it built.
void read_record(const std::string& file, RecordVisitor& visitor);

// Reads up to `size` bytes into `into`; 0 at the end.
using ReadSome = std::function<std::size_t(char* into, std::size_t size)>;

// The same for a record that `read_some` hands over in pieces; `file` names
// it in errors. No more than kLongestLine and one piece is held at once.
void read_record(const std::string& file, const ReadSome& read_some, RecordVisitor& visitor);

}  // namespace kestrafin::scan::record
