// Only the number of entries: "N records found" once the scan has ended.
#pragma once

#include <string>

#include "scan/report.h"
#include "scan/sink.h"
#include "scan/sinks/text_output.h"

namespace kestrafin::scan {

class CountOutput : public Sink {
  public:
    explicit CountOutput(int descriptor) : descriptor_(descriptor) {}

    // Raises std::system_error when the stream fails.
    void finish(const ScanReport& report) const {
        write_output(descriptor_, std::to_string(report.entries()) + " records found\n");
    }

  private:
    int descriptor_;
};

}  // namespace kestrafin::scan
