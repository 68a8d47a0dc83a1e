#include "listfile/saved_list.h"

#include "listfile/saved_list_reader.h"

#include <stdexcept>

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

platform::StoredForm streamed_list_form() {
    return platform::form_to_write(false, false, platform::stored_text_code_page());
}

// A saved list marked read-only is left alone, as the user asked.
SavedListWriter::SavedListWriter(const std::string& path, platform::StoredForm form)
    : file_((platform::refuse_read_only_file(path, kWhat), path), kWhat), form_(form) {
    if (form_.byte_order_mark) file_.write(platform::kByteOrderMark);
}

void SavedListWriter::add(std::string_view text) {
    record_.clear();
    append_record(record_, text);
    stored_.clear();
    if (!platform::append_stored_text(stored_, record_, form_))
        throw std::invalid_argument("a text has no form in code page " +
                                    std::to_string(form_.code_page));
    file_.write(stored_);
}

void load_list(const std::string& path, const std::function<void(std::string_view)>& add) {
    std::string_view bytes;
    const std::string content = platform::read_file(path, kWhat);
    bytes = content;
    const unsigned code_page = platform::stored_text_code_page();
    if (code_page == 0) {
        read_records(bytes, add);
        return;
    }
    const bool marked = bytes.starts_with(platform::kByteOrderMark);
    if (marked) bytes.remove_prefix(platform::kByteOrderMark.size());
    platform::Utf8Check utf8;
    if (!marked) utf8.add(bytes);
    const platform::StoredForm form = platform::form_to_read(marked, utf8.valid(), code_page);
    std::string text;
    read_records(bytes, [&](std::string_view field) {
        text.clear();
        platform::append_program_text(text, field, form);
        add(text);
    });
}

void save_list(const std::string& path,
               const std::function<void(const std::function<void(std::string_view)>&)>& texts) {
    const unsigned code_page = platform::stored_text_code_page();
    bool fits = true;
    if (code_page != 0) {
        std::string scratch;
        texts([&](std::string_view text) {
            scratch.clear();
            fits = fits && platform::append_in_code_page(scratch, text, code_page);
        });
    }
    SavedListWriter writer(path, platform::form_to_write(fits, false, code_page));
    texts([&](std::string_view text) { writer.add(text); });
    writer.commit();
}

}  // namespace kestrafin::listfile
