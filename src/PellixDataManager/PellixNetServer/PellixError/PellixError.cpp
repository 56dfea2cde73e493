#include "PellixDataManager/PellixNetServer/PellixError/PellixError.h"

namespace pellix {

namespace {

struct Row {
    std::int64_t code;
    const char* message;
};

// Transport codes, HTTP statuses and the platform's own codes.
constexpr Row kTable[] = {
    {-1009, "网络不可用"},
    {-1004, "服务器不可到达"},
    {-1001, "请求超时"},
    {-999, "请求被取消"},
    {-1, "未知错误"},
    {200, "请求成功"},
    {400, "请求失败"},
    {403, "请求频率过快，同一接口3s只能请求一次"},
    {404, "接口不存在"},
    {426, "Token失效"},
    {500, "服务器异常"},
    {40001, "agent id不存在"},
    {40002, "app id不存在"},
    {40003, "sdk id不存在"},
    {40004, "用户不存在"},
    {40005, "设备不存在"},
    {40006, "呼叫失败"},
    {40007, "门禁机不存在或被解绑"},
    {40008, "开门设备不存在"},
    {40009, "开门失败"},
    {400010, "无权限"},
    {400011, "门禁机不存在"},
    {400012, "开门密码生产失败"},
    {400015, "被叫房间不存在"},
    {400400, "缺少必要参数"},
};

}  // namespace

const char* PellixError::tableMessage(std::int64_t code) {
    for (const Row& row : kTable) {
        if (row.code == code) return row.message;
    }
    return nullptr;
}

void PellixError::setErrorCode(std::int64_t code) {
    errorCode_ = code;
    if (const char* text = tableMessage(code)) {
        message_ = text;
    } else if (!message_) {
        message_ = std::string();
    }
}

std::shared_ptr<PellixError> PellixError::errorWithCode(std::int64_t code, std::optional<std::string> message) {
    auto error = std::make_shared<PellixError>();
    error->setErrorCode(code);
    error->setMessage(std::move(message));
    return error;
}

}  // namespace pellix
