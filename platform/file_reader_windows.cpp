// Reading a file in pieces on Windows. The handle is kept as a C runtime
// descriptor, which is what the reader's declaration holds.
#include "platform/file_reader.h"
#include "platform/windows_files.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>

namespace kestrafin::platform {

SequentialFileReader::SequentialFileReader(const std::string& path, std::string_view what)
    : path_(path), what_(what) {
    const std::wstring system_path = windows::checked_path(path_, "open", what_);
    windows::Handle file =
        windows::open_regular(system_path, GENERIC_READ, OPEN_EXISTING, "open", what_, path_);
    descriptor_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDONLY | _O_BINARY);
    if (descriptor_ < 0)
        windows::raise("open", what_, path_, std::make_error_code(std::errc::too_many_files_open));
    file.release();  // the descriptor owns it now
}

SequentialFileReader::~SequentialFileReader() {
    if (descriptor_ >= 0) ::_close(descriptor_);
}

std::size_t SequentialFileReader::read(char* into, std::size_t size) {
    const auto file = reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor_));
    DWORD got = 0;
    const auto part = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(file, into, part, &got, nullptr))
        windows::raise_last_error("read", what_, path_);
    return got;
}

}  // namespace kestrafin::platform
