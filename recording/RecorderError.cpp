#include "recording/RecorderError.h"

namespace orvan {

std::string RecorderError::description() const {
    switch (code_) {
    case Code::permissionDenied:
        return "マイクの使用が許可されていません。設定アプリの「トモリバ」でマイクをオンにしてください。";
    case Code::alreadyRecording:
        return "すでに録音中です";
    case Code::notRecording:
        return "録音していません";
    case Code::exportFailed:
        return "録音をまとめられませんでした: " + message_;
    }
    return {};
}

}  // namespace orvan
