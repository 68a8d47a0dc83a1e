#include "scanner/root_runs.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/host.h"
#include "platform/scratch_file.h"
#include "platform/stored_text.h"
#include "scan/scan.h"
#include "scan/sinks/terminal_quote.h"
#include "search/path_text.h"

namespace kestrafin::scanner {

using scan::Entry;
using scan::ScanReport;
using scan::Sink;

std::vector<std::string> read_roots_file(const std::string& path) {
    std::string_view bytes;
    // Far more than any list of shares; an endless writer is not held.
    constexpr std::size_t kMostBytes = std::size_t{64} << 20;
    const std::string stored = platform::read_file_or_fifo(path, "roots file", kMostBytes);
    bytes = stored;
    const bool mark = bytes.starts_with(platform::kByteOrderMark);
    if (mark) bytes.remove_prefix(platform::kByteOrderMark.size());
    platform::Utf8Check check;
    check.add(bytes);
    std::string text;
    platform::append_program_text(
        text, bytes,
        platform::form_to_read(mark, check.valid(), platform::stored_text_code_page()));
    std::vector<std::string> roots;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        std::string_view line = std::string_view(text).substr(from, end - from);
        from = end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') continue;
        roots.emplace_back(line);
    }
    return roots;
}

std::vector<std::string> distinct_roots(const std::vector<std::string>& roots,
                                        std::vector<std::string>& repeated) {
    std::vector<std::string> distinct;
    std::unordered_set<std::string> seen;
    for (const std::string& root : roots) {
        if (seen.insert(root).second)
            distinct.push_back(root);
        else
            repeated.push_back(root);
    }
    return distinct;
}

namespace {

// The calls a root's walk makes while it waits for its turn, kept in order.
class Spool {
  public:
    explicit Spool(std::size_t held_bytes) : held_bytes_(held_bytes) {}

    enum Event : unsigned char {
        started,
        entry,
        file_seen,
        unreadable,
        not_entered,
        left_out,
        names_unchecked,
        folders_done,
    };

    void put_started(bool backup_rights) {
        begin(started);
        bytes_.push_back(backup_rights ? 1 : 0);
        end();
    }
    void put_entry(Event kind, const Entry& entry, int error) {
        begin(kind);
        put_number(static_cast<std::uint64_t>(entry.kind));
        std::uint16_t reasons = 0;
        entry.reasons.each([&](scan::Reason reason) {
            reasons = static_cast<std::uint16_t>(reasons | (1u << reason.index()));
        });
        put_number(reasons);
        put_number(entry.lengths.folder);
        put_number(entry.lengths.path);
        put_number(static_cast<std::uint32_t>(error));
        put_text(entry.path);
        put_text(entry.target_path);
        put_text(entry.error);
        end();
    }
    void put_path(Event kind, std::string_view path, std::uint64_t number) {
        begin(kind);
        put_number(number);
        put_text(path);
        end();
    }
    void folder_done() { ++folders_done_; }

    // Hands every call kept on to `sink`; `replayed` is told what the walk's
    // report was told meanwhile, for the calls that read it.
    void replay(Sink& sink, ScanReport& replayed);

  private:
    // Folders read in a row are one call.
    void put_folders_done() {
        if (folders_done_ == 0) return;
        const std::uint64_t done = folders_done_;
        folders_done_ = 0;
        begin(folders_done);
        put_number(done);
        end();
    }
    void begin(Event kind) {
        put_folders_done();
        bytes_.push_back(static_cast<char>(kind));
        length_at_ = bytes_.size();
        bytes_.append(4, '\0');
    }
    void end() {
        const std::uint32_t length = static_cast<std::uint32_t>(bytes_.size() - length_at_ - 4);
        std::memcpy(bytes_.data() + length_at_, &length, 4);
        if (bytes_.size() < held_bytes_) return;
        if (!file_) file_ = std::make_unique<platform::ScratchFile>();
        file_->append(bytes_);
        bytes_.clear();
    }
    void put_number(std::uint64_t value) {
        bytes_.append(reinterpret_cast<const char*>(&value), 8);
    }
    void put_text(std::string_view text) {
        put_number(text.size());
        bytes_.append(text);
    }

    std::size_t held_bytes_;
    std::string bytes_;
    std::size_t length_at_ = 0;
    std::uint64_t folders_done_ = 0;
    std::unique_ptr<platform::ScratchFile> file_;
};

// Reads one call after another from what a spool kept.
class SpoolReader {
  public:
    SpoolReader(platform::ScratchFile* file, std::string_view tail) : file_(file), tail_(tail) {}

    // The next call's kind and bytes; false at the end.
    bool next(unsigned char& kind, std::string_view& body) {
        if (!fill(5)) return false;
        kind = static_cast<unsigned char>(buffer_[at_]);
        std::uint32_t length = 0;
        std::memcpy(&length, buffer_.data() + at_ + 1, 4);
        at_ += 5;
        fill(length);
        body = std::string_view(buffer_).substr(at_, length);
        at_ += length;
        return true;
    }

  private:
    bool fill(std::size_t wanted) {
        if (buffer_.size() - at_ >= wanted) return true;
        buffer_.erase(0, at_);
        at_ = 0;
        char block[1 << 16];
        while (buffer_.size() < wanted && file_ != nullptr) {
            const std::size_t got = file_->read(block, sizeof block);
            if (got == 0) {
                file_ = nullptr;
                break;
            }
            buffer_.append(block, got);
        }
        if (buffer_.size() < wanted && !tail_.empty()) {
            buffer_.append(tail_);
            tail_ = {};
        }
        return buffer_.size() >= wanted;
    }

    platform::ScratchFile* file_;
    std::string_view tail_;
    std::string buffer_;
    std::size_t at_ = 0;
};

struct BodyReader {
    std::string_view body;
    std::uint64_t number() {
        std::uint64_t value = 0;
        std::memcpy(&value, body.data(), 8);
        body.remove_prefix(8);
        return value;
    }
    std::string_view text() {
        const std::size_t size = number();
        const std::string_view text = body.substr(0, size);
        body.remove_prefix(size);
        return text;
    }
};

void Spool::replay(Sink& sink, ScanReport& replayed) {
    put_folders_done();
    SpoolReader reader(file_.get(), bytes_);
    unsigned char kind = 0;
    std::string_view body;
    while (reader.next(kind, body)) {
        BodyReader read{body};
        switch (kind) {
            case started:
                replayed.backup_rights = read.body[0] != 0;
                sink.started(replayed);
                break;
            case entry:
            case file_seen:
            case unreadable: {
                Entry item;
                item.kind = static_cast<scan::EntryKind>(read.number());
                const std::uint64_t reasons = read.number();
                for (std::size_t reason = 0; reason < scan::kMostReasons; ++reason)
                    if ((reasons >> reason & 1) != 0) item.reasons.add(scan::Reason(reason));
                item.lengths.folder = read.number();
                item.lengths.path = read.number();
                const int error = static_cast<int>(static_cast<std::uint32_t>(read.number()));
                item.path = read.text();
                item.target_path = read.text();
                item.error = read.text();
                if (kind == entry) {
                    replayed.entry_listed();
                    sink.entry(item);
                } else if (kind == file_seen) {
                    sink.file_seen(item);
                } else {
                    replayed.folder_unreadable(item.path, error);
                    sink.folder_unreadable(item, error);
                }
                break;
            }
            case not_entered: {
                const auto reason = static_cast<search::NotEntered>(read.number());
                const std::string_view path = read.text();
                replayed.folder_not_entered(path, reason);
                sink.folder_not_entered(path, reason, replayed);
                break;
            }
            case left_out: {
                const bool folder = read.number() != 0;
                sink.left_out(read.text(), folder);
                break;
            }
            case names_unchecked:
                read.number();
                sink.names_unchecked(read.text());
                break;
            case folders_done:
                for (std::uint64_t done = read.number(); done > 0; --done) replayed.folder_done();
                break;
            default:
                break;
        }
    }
    file_.reset();
    bytes_.clear();
}

class Turns;

// One root: its walk, the summary that sees every file of it, and the sink
// that hands its calls on when its turn has come and keeps them until then.
class RootRun : public Sink {
  public:
    RootRun(std::size_t index, const scan::ScanRequest& request, const RootRunOptions& options,
            Turns& turns);

    bool sees_every_file() const override { return every_file_; }
    bool needs_lengths() const override { return lengths_; }
    std::optional<search::LeftOutFile> own_file() const override { return own_file_; }
    void started(const ScanReport& report) override;
    void entry(const Entry& entry) override;
    void file_seen(const Entry& file) override;
    void folder_unreadable(const Entry& folder, int error) override;
    void folder_not_entered(std::string_view directory, search::NotEntered reason,
                            const ScanReport& report) override;
    void left_out(std::string_view path, bool folder) override;
    void names_unchecked(std::string_view folder) override;
    void folder_done(std::string_view directory, const ScanReport& report) override;

    void walk(const std::atomic<bool>* stop);

    const std::size_t index;
    const scan::ScanRequest request;
    scan::SummaryOutput summary;
    const bool summarized;  // the summary is told every file
    Spool spool;
    ScanReport replayed;
    std::optional<ScanReport> report;  // once the walk has ended
    bool direct = false;               // the turn has come: calls go straight on
    bool done = false;                 // under the turns' lock
    std::exception_ptr failure;

  private:
    // Whether the calls go straight on, taking the turn when it has come.
    bool my_turn();

    Turns& turns_;
    VolumeSources* sources_;
    bool verbose_;
    Sink& out_;
    bool every_file_;
    bool lengths_;
    std::optional<search::LeftOutFile> own_file_;
};

// Whose turn it is, and the handing on of the roots whose walks ended
// before their turn came.
class Turns {
  public:
    Turns(RootOutputs& outputs, std::vector<std::unique_ptr<RootRun>>& runs)
        : outputs(outputs), runs_(runs) {}

    RootOutputs& outputs;
    std::atomic<std::size_t> head{0};

    void take_turn(RootRun& run) {
        const std::lock_guard lock(mutex_);
        begin(run);
    }
    void walk_ended(RootRun& run) {
        const std::lock_guard lock(mutex_);
        run.done = true;
        if (head.load() != run.index) return;
        begin(run);
        close_and_go_on(run);
    }
    // Once every walk has ended: the roots still waiting behind one never
    // started.
    void hand_on_the_rest() {
        const std::lock_guard lock(mutex_);
        for (auto& run : runs_)
            if (run->index >= head.load() && run->done) {
                begin(*run);
                close(*run);
            }
    }

  private:
    void begin(RootRun& run) {
        if (run.direct) return;
        outputs.root_begins(run.index);
        run.spool.replay(outputs.sink(), run.replayed);
        run.direct = true;
    }
    void close(RootRun& run) { outputs.root_ends(run.index, *run.report, run.summary.summary()); }
    void close_and_go_on(RootRun& run) {
        close(run);
        for (std::size_t next = run.index + 1;; ++next) {
            head.store(next);
            if (next >= runs_.size() || !runs_[next]->done) return;
            begin(*runs_[next]);
            close(*runs_[next]);
        }
    }

    std::vector<std::unique_ptr<RootRun>>& runs_;
    std::mutex mutex_;
};

RootRun::RootRun(std::size_t index, const scan::ScanRequest& request, const RootRunOptions& options,
                 Turns& turns)
    : index(index),
      request(request),
      summary(scan::effective_rules(request), search::addslash(request.root), options.print_target),
      summarized(options.summaries),
      spool(options.held_bytes),
      replayed(request.root),
      turns_(turns),
      sources_(options.sources),
      verbose_(options.sources != nullptr && options.sources->verbose()),
      out_(turns.outputs.sink()),
      every_file_(out_.sees_every_file() || summarized),
      lengths_(out_.needs_lengths() || summarized),
      own_file_(out_.own_file()) {}

bool RootRun::my_turn() {
    if (direct) return true;
    if (turns_.head.load(std::memory_order_acquire) != index) return false;
    turns_.take_turn(*this);
    return true;
}

void RootRun::started(const ScanReport& report) {
    if (my_turn())
        out_.started(report);
    else
        spool.put_started(report.backup_rights);
}

void RootRun::entry(const Entry& entry) {
    summary.entry(entry);
    if (my_turn())
        out_.entry(entry);
    else
        spool.put_entry(Spool::entry, entry, 0);
}

void RootRun::file_seen(const Entry& file) {
    if (summarized) summary.file_seen(file);
    if (!out_.sees_every_file()) return;
    if (my_turn())
        out_.file_seen(file);
    else
        spool.put_entry(Spool::file_seen, file, 0);
}

void RootRun::folder_unreadable(const Entry& folder, int error) {
    if (my_turn())
        out_.folder_unreadable(folder, error);
    else
        spool.put_entry(Spool::unreadable, folder, error);
}

void RootRun::folder_not_entered(std::string_view directory, search::NotEntered reason,
                                 const ScanReport& report) {
    if (my_turn())
        out_.folder_not_entered(directory, reason, report);
    else
        spool.put_path(Spool::not_entered, directory, static_cast<std::uint64_t>(reason));
}

void RootRun::left_out(std::string_view path, bool folder) {
    if (my_turn())
        out_.left_out(path, folder);
    else
        spool.put_path(Spool::left_out, path, folder ? 1 : 0);
}

void RootRun::names_unchecked(std::string_view folder) {
    summary.names_unchecked(folder);
    if (my_turn())
        out_.names_unchecked(folder);
    else
        spool.put_path(Spool::names_unchecked, folder, 0);
}

void RootRun::folder_done(std::string_view directory, const ScanReport& report) {
    if (my_turn())
        out_.folder_done(directory, report);
    else
        spool.folder_done();
}

void RootRun::walk(const std::atomic<bool>* stop) {
    try {
        scan::Scan scan(request, *this, stop);
        if (sources_ != nullptr) {
            const RootSource chosen = sources_->choose(request.root);
            if (!chosen.refused.empty()) {
                // Not walked: the report reads so, and the exit status says it.
                std::fprintf(stderr, "kestrafin-scan: %s: %s\n",
                             scan::printable_text(request.root).c_str(),
                             scan::printable_text(chosen.refused).c_str());
                report = scan.report();
                report->refused = chosen.refused;
                turns_.walk_ended(*this);
                return;
            }
            if (verbose_ && !chosen.why.empty())
                std::fprintf(stderr, "kestrafin-scan: %s: %s\n",
                             scan::printable_text(request.root).c_str(),
                             scan::printable_text(chosen.why).c_str());
            if (chosen.play) scan.set_source(chosen.play, chosen.volume);
        }
        scan.run();
        report = scan.report();
        turns_.walk_ended(*this);
    } catch (...) {
        failure = std::current_exception();
    }
}

}  // namespace

void run_roots(const scan::ScanRequest& request, const std::vector<std::string>& roots,
               const RootRunOptions& options, RootOutputs& outputs, const std::atomic<bool>* stop) {
    std::vector<std::unique_ptr<RootRun>> runs;
    Turns turns(outputs, runs);
    for (std::size_t index = 0; index < roots.size(); ++index) {
        scan::ScanRequest one = request;
        one.root = roots[index];
        runs.push_back(std::make_unique<RootRun>(index, one, options, turns));
    }
    // Each root's volume as a number, so that choosing the next walk costs
    // little however many roots there are; asked only when another walk
    // runs, so that the first root's walk starts without waiting for its
    // server.
    std::vector<std::optional<std::size_t>> volume_of_root(roots.size());
    std::unordered_map<std::string, std::size_t> volume_numbers;
    const auto volume = [&](std::size_t index) {
        if (!volume_of_root[index]) {
            // A root whose volume cannot be told is one of its own.
            const std::string told = platform::volume_of(roots[index]);
            const std::string key = told.empty() ? "?" + std::to_string(index) : told;
            volume_of_root[index] =
                volume_numbers.emplace(key, volume_numbers.size()).first->second;
        }
        return *volume_of_root[index];
    };
    const auto stopped = [&] { return stop != nullptr && stop->load(); };
    std::mutex mutex;
    std::condition_variable ended;
    std::vector<bool> started(roots.size(), false);
    std::vector<std::size_t> running;  // the roots walked now, a few at most
    std::size_t first_not_started = 0;
    std::vector<std::thread> walks(roots.size());
    std::vector<std::size_t> walks_ended;  // not yet joined
    // A walk keeps up to 65 folders open for its descent and 3 for each reader;
    // walks at once share the process's handles, so no more start than fit.
    const std::size_t per_walk = 65 + 3 * request.threads + 16;
    const std::size_t limit = platform::open_handle_limit();
    const std::size_t held = std::min(platform::open_handle_count(), limit);
    const std::size_t most =
        std::max<std::size_t>(1, std::min(options.most_at_once, (limit - held) / per_walk));
    for (std::size_t left = roots.size(); left > 0 && !stopped(); --left) {
        std::unique_lock lock(mutex);
        // The first root not started whose volume no running walk reads.
        std::size_t next = roots.size();
        ended.wait(lock, [&] {
            if (stopped()) return true;
            if (running.size() >= most) return false;
            while (started[first_not_started]) ++first_not_started;
            for (std::size_t index = first_not_started; index < roots.size(); ++index) {
                if (started[index]) continue;
                const bool busy =
                    std::any_of(running.begin(), running.end(),
                                [&](std::size_t other) { return volume(other) == volume(index); });
                if (!busy) {
                    next = index;
                    return true;
                }
            }
            return false;
        });
        // Ended walks give their threads back rather than keep them to the end.
        std::vector<std::size_t> to_join;
        to_join.swap(walks_ended);
        if (!stopped()) {
            started[next] = true;
            running.push_back(next);
        }
        lock.unlock();
        for (const std::size_t index : to_join) walks[index].join();
        if (stopped()) break;
        walks[next] = std::thread([&, next] {
            runs[next]->walk(stop);
            {
                const std::lock_guard done(mutex);
                running.erase(std::find(running.begin(), running.end(), next));
                walks_ended.push_back(next);
            }
            ended.notify_all();
        });
    }
    for (std::thread& walk : walks)
        if (walk.joinable()) walk.join();
    for (const auto& run : runs)
        if (run->failure) std::rethrow_exception(run->failure);
    turns.hand_on_the_rest();
}

}  // namespace kestrafin::scanner
