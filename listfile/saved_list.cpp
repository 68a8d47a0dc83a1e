#include "listfile/saved_list.h"

#include "listfile/saved_list_reader.h"

namespace kestrafin::listfile {

namespace {

constexpr std::string_view kWhat = "saved list file";

}  // namespace

void append_record(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t from = 0;
    for (;;) {
        const std::size_t quote = text.find('"', from);
        if (quote == std::string_view::npos) break;
        out.append(text.substr(from, quote + 1 - from)).push_back('"');
        from = quote + 1;
    }
    out.append(text.substr(from)).append("\"\r\n");
}

void read_records(std::string_view bytes, const std::function<void(std::string_view)>& add) {
    read_complete_records(bytes, true, add);
}

// A saved list marked read-only is left alone, as the user asked.
SavedListWriter::SavedListWriter(const std::string& path)
    : file_((platform::refuse_read_only_file(path, kWhat), path), kWhat) {}

void SavedListWriter::add(std::string_view text) {
    record_.clear();
    append_record(record_, text);
    file_.write(record_);
}

void load_list(const std::string& path, const std::function<void(std::string_view)>& add) {
    const std::string bytes = platform::read_file(path, kWhat);
    read_records(bytes, add);
}

void save_list(const std::string& path,
               const std::function<void(const std::function<void(std::string_view)>&)>& texts) {
    SavedListWriter writer(path);
    texts([&](std::string_view text) { writer.add(text); });
    writer.commit();
}

}  // namespace kestrafin::listfile
