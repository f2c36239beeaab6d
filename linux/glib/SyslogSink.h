#pragma once

#include "platform/SystemLog.h"

namespace orvan {

// The system log (journald or syslog). With ORVAN_LOG_STDERR set, lines also go to standard error,
// so that tests and a developer's terminal can read them.
class SyslogSink final : public LogSink {
public:
    SyslogSink();
    ~SyslogSink() override;
    SyslogSink(const SyslogSink&) = delete;
    SyslogSink& operator=(const SyslogSink&) = delete;
    void write(std::string_view line) override;

private:
    bool alsoStderr_;
};

}  // namespace orvan
