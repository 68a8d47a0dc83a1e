#include "platform/windows/reparse_data.h"
#include "platform/windows/system.h"

#include <winioctl.h>
#include <winternl.h>

#include <atomic>

namespace kestrafin::platform::windows {

namespace {

// MAXIMUM_REPARSE_DATA_BUFFER_SIZE: no reparse data is longer.
constexpr std::size_t kMostReparseData = 16 * 1024;

std::atomic<ReparseDataReader> replaced_reader{nullptr};

}  // namespace

std::error_code read_reparse_data(void* folder, std::wstring_view name,
                                  std::vector<std::uint8_t>& data) {
    UNICODE_STRING object_name{};
    object_name.Buffer = const_cast<wchar_t*>(name.data());
    object_name.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    object_name.MaximumLength = object_name.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE,
                               static_cast<HANDLE>(folder), nullptr);
    IO_STATUS_BLOCK status_block{};
    HANDLE opened = INVALID_HANDLE_VALUE;
    // The link itself, never what it names.
    const NTSTATUS status = ::NtCreateFile(
        &opened, FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &status_block, nullptr, 0,
        kShareAll, FILE_OPEN,
        FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT,
        nullptr, 0);
    if (status < 0)
        return {static_cast<int>(::RtlNtStatusToDosError(status)), std::system_category()};
    const Handle link(opened);
    data.resize(kMostReparseData);
    DWORD returned = 0;
    if (!::DeviceIoControl(link.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                           static_cast<DWORD>(data.size()), &returned, nullptr)) {
        data.clear();
        return last_error();
    }
    data.resize(returned);
    return {};
}

void replace_reparse_data_reader(ReparseDataReader reader) {
    replaced_reader.store(reader);
}

ReparseDataReader reparse_data_reader() {
    const ReparseDataReader replaced = replaced_reader.load();
    return replaced != nullptr ? replaced : &read_reparse_data;
}

}  // namespace kestrafin::platform::windows
