#include "engine/open/ReadGuard.h"

#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"

namespace mobivert::engine {

void TReadGuard::Install(AVFormatContext* context) {
    context_ = context;
    context->interrupt_callback.callback = &TReadGuard::Callback;
    context->interrupt_callback.opaque = this;
}

int64_t TReadGuard::BytesRead() const {
    // Bytes the library has read from the input so far; seeks do not count.
    return context_ && context_->pb ? context_->pb->bytes_read : 0;
}

void TReadGuard::Begin(int64_t budget, int64_t timeLimitUs) {
    cause_ = Cause::None;
    start_ = BytesRead();
    budget_ = budget;
    deadline_ = timeLimitUs > 0 ? av::av_gettime_relative() + timeLimitUs : 0;
}

int TReadGuard::Callback(void* opaque) {
    auto* guard = static_cast<TReadGuard*>(opaque);
    if (guard->stop_ && guard->stop_->load())
        guard->cause_ = Cause::Stop;
    else if (guard->budget_ > 0 && guard->BytesRead() - guard->start_ > guard->budget_)
        guard->cause_ = Cause::Budget;
    else if (guard->deadline_ > 0 && av::av_gettime_relative() > guard->deadline_)
        guard->cause_ = Cause::Deadline;
    else
        return 0;
    return 1;
}

std::string TReadGuard::Reason() const {
    switch (cause_) {
    case Cause::Budget:
        return "no media found in " + std::to_string(budget_ >> 20) +
               " MB of data (the file is damaged or not media)";
    case Cause::Deadline:
        return "reading took too long (the file is damaged or not media)";
    case Cause::Stop:
        return "stopped";
    default:
        return {};
    }
}

} // namespace mobivert::engine
