#pragma once

#include <string>

#include "platform/SystemError.h"

namespace orvan {

// Why system-audio capture cannot start or its tracks hold nothing; the description is what the page
// and the popup show.
class CaptureError {
public:
    enum class Code { permissionDenied, noDisplay, empty };

    static CaptureError permissionDenied(std::string message) { return CaptureError(Code::permissionDenied, std::move(message)); }
    // No output device (and so nothing to capture the system audio from); the text keeps the screen's wording.
    static CaptureError noDisplay() { return CaptureError(Code::noDisplay, {}); }
    static CaptureError empty() { return CaptureError(Code::empty, {}); }

    Code code() const { return code_; }
    std::string description() const {
        switch (code_) {
        case Code::permissionDenied:
            return "画面収録が許可されていません: " + message_;
        case Code::noDisplay:
            return "画面が見つかりません";
        case Code::empty:
            break;
        }
        return "音が1つも録れていません";
    }
    // As the recorder passes it on to the page.
    SystemError asSystemError() const { return SystemError{description()}; }

    friend bool operator==(const CaptureError&, const CaptureError&) = default;

private:
    CaptureError(Code code, std::string message) : code_(code), message_(std::move(message)) {}
    Code code_;
    std::string message_;
};

}  // namespace orvan
