// PellixError: the one error type the SDK hands to the host.
//
// An error pairs a code with a Chinese message. Setting a code that the
// library knows (transport errors, HTTP statuses, platform codes) fills in its
// readable text; any other code keeps the message already held, which is how
// the SDK's own codes keep the texts set before them. Errors travel as
// std::shared_ptr<PellixError>; they are plain values, not synchronised.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace pellix {

class PellixError {
public:
    // Codes the SDK raises itself, always with an explicit message.
    static constexpr std::int64_t kParamsMissingCode = 40400;            // "参数缺失", "上传类型错误"
    static constexpr std::int64_t kNoticeEmptyCode = 100000002;          // "物业留言和图片最少一个"
    static constexpr std::int64_t kNoticeTooManyImagesCode = 100000003;  // "物业留言最多可以上传3张图片"
    static constexpr std::int64_t kNoticeImageUploadCode = 100000004;    // kNoticeImageUploadMessage
    static constexpr std::int64_t kOCRKeyMissingCode = 100000005;
    static constexpr std::int64_t kIDCardFrontCode = 100000006;
    static constexpr std::int64_t kIDCardBackCode = 100000007;
    static constexpr std::int64_t kRealNameMismatchCode = 100000008;
    static constexpr std::int64_t kRealNameMissingCode = 100000009;
    static constexpr std::int64_t kIDCardUploadCode = 100000010;
    static constexpr std::int64_t kIDCardChangedCode = 100000011;

    static constexpr const char* kParamsMissingMessage = "参数缺失";
    static constexpr const char* kUploadTypeMessage = "上传类型错误";
    static constexpr const char* kNoticeEmptyMessage = "物业留言和图片最少一个";
    static constexpr const char* kNoticeTooManyImagesMessage = "物业留言最多可以上传3张图片";
    static constexpr const char* kNoticeImageUploadMessage = "图片上传失败";
    static constexpr const char* kOCRKeyMissingMessage = "OCR的 API Key和API Secret不能为空";
    static constexpr const char* kIDCardFrontMessage = "检测身份证正面失败";
    static constexpr const char* kIDCardBackMessage = "检测身份证反面失败";
    static constexpr const char* kRealNameMismatchMessage = "真实姓名和身份证姓名不匹配";
    static constexpr const char* kRealNameMissingMessage = "真实姓名不能为空";
    static constexpr const char* kIDCardUploadMessage = "上传失败";
    static constexpr const char* kIDCardChangedMessage = "和开始检测上传的信息不一致";

    // A fresh error: code 0 and no message.
    PellixError() = default;

    // A new error whose code is set first (filling the table's text) and whose
    // message is then replaced by `message`, so the given text always wins,
    // even when it is std::nullopt.
    static std::shared_ptr<PellixError> errorWithCode(std::int64_t code, std::optional<std::string> message);

    // The table's text for a code, nullptr for a code the table lacks.
    static const char* tableMessage(std::int64_t code);

    std::int64_t errorCode() const { return errorCode_; }
    // Stores the code; a code of the table replaces the message with the
    // table's text; any other code keeps the message held, or stores "" when
    // none is held.
    void setErrorCode(std::int64_t code);

    const std::optional<std::string>& message() const { return message_; }
    void setMessage(std::optional<std::string> message) { message_ = std::move(message); }

private:
    std::int64_t errorCode_ = 0;
    std::optional<std::string> message_;
};

using PellixErrorPtr = std::shared_ptr<PellixError>;

}  // namespace pellix
