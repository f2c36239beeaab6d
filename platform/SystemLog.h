#pragma once

#include <memory>
#include <string_view>

namespace orvan {

// Where diagnostics go: single lines, no levels.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(std::string_view line) = 0;
};

// Replaces the process-wide sink (none: lines are dropped). Safe from any thread.
void setLogSink(std::shared_ptr<LogSink> sink);
void systemLog(std::string_view line);

}  // namespace orvan
