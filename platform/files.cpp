// What both hosts' file code shares: the reason given when a name is refused
// for not being a regular file, the text of every failure, and the one way a
// whole content replaces a file.
#include <cstdio>
#include <iterator>
#include <string>
#include <system_error>

#include "platform/files.h"

namespace kestrafin::platform {

namespace {

class FileKindCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "file kind"; }
    std::string message(int value) const override {
        switch (static_cast<FileKind>(value)) {
            case FileKind::Folder:
                return "it is a folder, not a regular file";
            case FileKind::Fifo:
                return "it is a FIFO, not a regular file";
            case FileKind::Socket:
                return "it is a socket, not a regular file";
            case FileKind::Device:
                return "it is a device, not a regular file";
            case FileKind::KernelFile:
                return "it lies on a kernel file system, not a regular file";
            case FileKind::Other:
                break;
        }
        return "it is not a regular file";
    }
};

}  // namespace

const std::error_category& file_kind_category() {
    static const FileKindCategory category;
    return category;
}

std::error_code make_error_code(FileKind kind) {
    return {static_cast<int>(kind), file_kind_category()};
}

std::string failure_text(const std::exception& failure) {
    const std::string_view text = failure.what();
    const auto* error = dynamic_cast<const std::system_error*>(&failure);
    if (error == nullptr || error->code().category() != std::system_category())
        return std::string(text);
    // The C++ runtime made the text as "<what>: <its words>".
    const std::string runtime_words = error->code().message();
    if (!text.ends_with(runtime_words)) return std::string(text);
    return std::string(text.substr(0, text.size() - runtime_words.size())) +
           error_text(error->code());
}

void raise_file_error(std::string_view action, std::string_view what, const std::string& path,
                      std::error_code reason) {
    std::string text = "cannot ";
    text.append(action).append(" ").append(what).append(" '").append(path).append("'");
    throw std::system_error(reason, text);
}

void raise_not_enough_memory(std::string_view action, std::string_view what,
                             const std::string& path, std::uint64_t size) {
    std::string text = "not enough memory to ";
    text.append(action).append(" ").append(what).append(" '").append(path).append("'");
    if (size > 0) text.append(" (").append(size_text(size)).append(")");
    throw NotEnoughMemory(text);
}

std::string size_text(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

void replace_file(const std::string& path, std::string_view bytes, std::string_view what) {
    AtomicFileWriter writer(path, what);
    writer.write(bytes);
    writer.commit();
}

}  // namespace kestrafin::platform
