// PellixOperation: one platform operation of PellixDataManager described as
// data: its parameter record (made fresh for each call), the response record
// class handed to the pipeline as body type (void: none), the kind of result
// the host receives and whether an incomplete record is refused before
// sending. pellixPerform() runs any such operation.
#pragma once

#include <functional>
#include <memory>
#include <type_traits>

#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixBaseResponse.h"
#include "PellixDataManager/PellixNetServer/PellixBaseResponse/PellixRecordClass.h"
#include "PellixDataManager/PellixNetServer/PellixError/PellixError.h"
#include "PellixDataManager/PellixNetServer/RequestParams/PellixBaseRequestParam.h"

namespace pellix {

enum class PellixResultKind {
    List,     // the answer's body
    Record,   // the body's first record
    Flag,     // success or failure; the body is not looked at
    Special,  // the operation computes its result itself
};

enum class PellixGate { Checked, Unchecked };

template <class Param, class Response, PellixResultKind Kind, PellixGate Gate>
struct PellixOperation {
    using Record = Param;
    using Body = Response;
    static constexpr PellixResultKind kResult = Kind;
    static constexpr bool kGated = Gate == PellixGate::Checked;

    static std::shared_ptr<Param> makeRecord() { return std::make_shared<Param>(); }
    static PellixBodyType bodyType() {
        if constexpr (std::is_void_v<Response>) {
            return nullptr;
        } else {
            return PellixRecordClass::of<Response>();
        }
    }
};

// The error of a refused, incomplete record: 40400 "参数缺失".
PellixErrorPtr pellixParamsMissingError();

// Gate, send and report for one operation: when the operation is gated and
// the record incomplete, `failure` runs at once with the 40400 error and
// nothing is sent; otherwise the record is sent with the operation's body
// type and `success` or `failure` runs on the main queue.
using PellixSuccessBlock = std::function<void(const std::shared_ptr<PellixBaseResponse>& response)>;
using PellixFailureBlock = std::function<void(const PellixErrorPtr& error)>;
void pellixSend(const std::shared_ptr<PellixBaseRequestParam>& record, PellixBodyType bodyType, bool gated,
                PellixSuccessBlock success, PellixFailureBlock failure);

template <class Op>
void pellixPerform(const std::shared_ptr<typename Op::Record>& record, PellixSuccessBlock success,
                   PellixFailureBlock failure) {
    pellixSend(record, Op::bodyType(), Op::kGated, std::move(success), std::move(failure));
}

}  // namespace pellix
