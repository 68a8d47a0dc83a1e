#include "platform/stored_text.h"

#include "platform/text.h"

namespace kestrafin::platform {

void Utf8Check::add(std::string_view bytes) {
    if (!valid_) return;
    if (!pending_.empty()) {
        // The sequence the last piece began ends in the first bytes of this one.
        std::string joined = pending_;
        joined.append(bytes.substr(0, 4));
        const Utf8Sequence sequence = decode_utf8(joined);
        if (sequence.length == 0) {
            if (joined.size() >= 4)
                valid_ = false;
            else
                pending_ = joined;  // this piece was tiny too
            return;
        }
        bytes.remove_prefix(sequence.length - pending_.size());
        pending_.clear();
    }
    while (!bytes.empty()) {
        if (static_cast<unsigned char>(bytes.front()) < 0x80) {
            bytes.remove_prefix(1);
            continue;
        }
        const Utf8Sequence sequence = decode_utf8(bytes);
        if (sequence.length > 0) {
            bytes.remove_prefix(sequence.length);
        } else if (bytes.size() < 4) {
            pending_ = bytes;  // perhaps cut short by the end of the piece
            return;
        } else {
            valid_ = false;
            return;
        }
    }
}

StoredForm form_to_read(bool byte_order_mark, bool utf8, unsigned code_page) {
    if (code_page == 0) return {0, byte_order_mark};
    if (byte_order_mark || utf8) return {0, byte_order_mark};
    return {code_page, false};
}

StoredForm form_to_write(bool fits, bool had_mark, unsigned code_page) {
    if (code_page == 0) return {0, had_mark};
    if (fits) return {code_page, false};
    return {0, true};
}

bool append_program_text(std::string& out, std::string_view stored, const StoredForm& form) {
    if (form.code_page == 0) {
        out.append(stored);
        return true;
    }
    return append_from_code_page(out, stored, form.code_page);
}

bool append_stored_text(std::string& out, std::string_view text, const StoredForm& form) {
    if (form.code_page == 0) {
        out.append(text);
        return true;
    }
    return append_in_code_page(out, text, form.code_page);
}

}  // namespace kestrafin::platform
