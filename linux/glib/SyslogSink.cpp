#include "linux/glib/SyslogSink.h"

#include <syslog.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace orvan {

SyslogSink::SyslogSink() : alsoStderr_(std::getenv("ORVAN_LOG_STDERR") != nullptr) {
    openlog("OrvanOffice", LOG_PID, LOG_USER);
}

SyslogSink::~SyslogSink() { closelog(); }

void SyslogSink::write(std::string_view line) {
    const std::string text(line);
    syslog(LOG_NOTICE, "%s", text.c_str());
    if (alsoStderr_) std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace orvan
