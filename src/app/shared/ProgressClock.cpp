#include "app/shared/ProgressClock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace mobivert::app {

namespace {

// Below these the figures jump about too much to be worth showing.
constexpr int64_t MIN_MEASURED_MS = 300;
constexpr double MIN_BATCH_SHARE = 0.01;

int64_t Estimate(double rest, double rate) {
    return rate > 0 ? static_cast<int64_t>(std::llround(rest / rate)) : -1;
}

} // namespace

int64_t TFileClock::RunningMs(int64_t nowMs) const {
    int64_t paused = pausedTotal_ + (pausedSince_ >= 0 ? nowMs - pausedSince_ : 0);
    return nowMs - firstWall_ - paused;
}

TFileFigures TFileClock::Update(int64_t currentMs, int64_t totalMs, int64_t nowMs) {
    TFileFigures figures;
    if (totalMs > 0)
        figures.Percent = static_cast<int>(std::clamp<int64_t>(currentMs * 100 / totalMs, 0, 100));
    // The speed is measured from the first report on, so that the time spent opening the
    // files does not count as converting.
    if (firstWall_ < 0) {
        firstWall_ = nowMs;
        firstMedia_ = currentMs;
        return figures;
    }
    const int64_t wall = RunningMs(nowMs);
    const int64_t media = currentMs - firstMedia_;
    if (wall < MIN_MEASURED_MS || media <= 0)
        return figures;
    figures.Speed = static_cast<double>(media) / static_cast<double>(wall);
    if (totalMs > 0)
        figures.LeftMs =
            Estimate(static_cast<double>(std::max<int64_t>(totalMs - currentMs, 0)), figures.Speed);
    return figures;
}

void TFileClock::Pause(int64_t nowMs) {
    if (pausedSince_ < 0)
        pausedSince_ = nowMs;
}

void TFileClock::Resume(int64_t nowMs) {
    if (pausedSince_ < 0)
        return;
    pausedTotal_ += nowMs - pausedSince_;
    pausedSince_ = -1;
}

void TBatchClock::Start(int files, int64_t nowMs) {
    *this = TBatchClock{};
    total_ = files;
    start_ = nowMs;
}

void TBatchClock::SetWeight(int key, double weight) {
    if (weight > 0)
        weights_[key] = weight;
}

double TBatchClock::DefaultWeight() const {
    if (weights_.empty())
        return 1.0;
    double sum = 0;
    for (const auto& [key, weight] : weights_)
        sum += weight;
    return sum / static_cast<double>(weights_.size());
}

double TBatchClock::WeightOf(int key) const {
    const auto found = weights_.find(key);
    return found != weights_.end() ? found->second : DefaultWeight();
}

void TBatchClock::FileProgress(int key, double share) {
    running_[key] = std::clamp(share, 0.0, 1.0);
}

void TBatchClock::FileEnded(int key) {
    running_.erase(key);
    if (endedKeys_.insert(key).second)
        ended_ = std::min(ended_ + 1, total_);
}

void TBatchClock::Pause(int64_t nowMs) {
    if (pausedSince_ < 0)
        pausedSince_ = nowMs;
}

void TBatchClock::Resume(int64_t nowMs) {
    if (pausedSince_ < 0)
        return;
    pausedTotal_ += nowMs - pausedSince_;
    pausedSince_ = -1;
}

TBatchFigures TBatchClock::Figures(int64_t nowMs) const {
    TBatchFigures figures;
    figures.Done = ended_;
    figures.Total = total_;
    const int64_t paused = pausedTotal_ + (pausedSince_ >= 0 ? nowMs - pausedSince_ : 0);
    figures.ElapsedMs = std::max<int64_t>(nowMs - start_ - paused, 0);
    if (total_ <= 0)
        return figures;
    const double unweighted = std::max<double>(total_ - static_cast<int>(weights_.size()), 0);
    double whole = unweighted * DefaultWeight();
    for (const auto& [key, weight] : weights_)
        whole += weight;
    double share = 0;
    for (int key : endedKeys_)
        share += WeightOf(key);
    for (const auto& [key, part] : running_)
        share += part * WeightOf(key);
    share = whole > 0 ? std::clamp(share / whole, 0.0, 1.0) : 0.0;
    figures.Percent = static_cast<int>(share * 100);
    if (share >= MIN_BATCH_SHARE && figures.ElapsedMs >= MIN_MEASURED_MS)
        figures.LeftMs = Estimate(1.0 - share, share / static_cast<double>(figures.ElapsedMs));
    return figures;
}

std::vector<double> WorkWeights(const std::vector<TSourceWork>& sources) {
    int64_t timedBytes = 0;
    int64_t timedMs = 0;
    for (const TSourceWork& source : sources)
        if (source.DurationMs > 0 && source.Bytes > 0) {
            timedBytes += source.Bytes;
            timedMs += source.DurationMs;
        }
    const double msPerByte =
        timedBytes > 0 ? static_cast<double>(timedMs) / static_cast<double>(timedBytes) : 1.0;
    std::vector<double> weights;
    double sum = 0;
    int known = 0;
    for (const TSourceWork& source : sources) {
        double weight = source.DurationMs > 0 ? static_cast<double>(source.DurationMs)
                                              : static_cast<double>(source.Bytes) * msPerByte;
        weights.push_back(weight);
        if (weight > 0) {
            sum += weight;
            ++known;
        }
    }
    for (double& weight : weights)
        if (weight <= 0)
            weight = known > 0 ? sum / known : 1.0;
    return weights;
}

std::string FormatClock(int64_t ms) {
    int64_t seconds = std::max<int64_t>(ms, 0) / 1000;
    char text[32];
    if (seconds >= 3600)
        std::snprintf(
            text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
            static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

std::string FormatSpeed(double speed) {
    char text[32];
    if (speed >= 10)
        std::snprintf(text, sizeof text, "%.0fx", speed);
    else
        std::snprintf(text, sizeof text, "%.1fx", speed);
    return text;
}

std::string FormatFileFigures(const TFileFigures& figures) {
    std::string text;
    if (figures.Speed > 0)
        text = FormatSpeed(figures.Speed);
    if (figures.LeftMs >= 0)
        text += (text.empty() ? "" : ", ") + FormatClock(figures.LeftMs) + " left";
    return text;
}

} // namespace mobivert::app
