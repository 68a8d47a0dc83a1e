#include "scan/sinks/saved_list_output.h"

#include <system_error>

#include "scan/sinks/own_file.h"

namespace kestrafin::scan {

std::optional<search::LeftOutFile> SavedListOutput::own_file() const {
    return left_out_file(list_.temporary_file());
}

}  // namespace kestrafin::scan
