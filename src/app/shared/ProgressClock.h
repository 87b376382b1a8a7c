#pragma once
// How fast conversions go and how long they still need: per file, the speed in output time per
// wall-clock time and the time left; per batch, the files done, the overall share, the time
// elapsed and the time left. Times are milliseconds; the caller gives the wall clock, so the
// figures depend on nothing but the reports.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace mobivert::app {

struct TFileFigures {
    int Percent = -1;    // 0..100, -1 while the output's length is unknown
    double Speed = 0;    // output time per wall-clock time, 0 until it can be measured
    int64_t LeftMs = -1; // -1 until it can be estimated
};

class TFileClock {
public:
    // One progress report: the output time reached and the expected length (0 or less when
    // unknown), received at wall time nowMs.
    TFileFigures Update(int64_t currentMs, int64_t totalMs, int64_t nowMs);
    // Wall time spent paused is left out of the speed.
    void Pause(int64_t nowMs);
    void Resume(int64_t nowMs);

private:
    int64_t RunningMs(int64_t nowMs) const;

    int64_t firstWall_ = -1;
    int64_t firstMedia_ = 0;
    int64_t pausedSince_ = -1;
    int64_t pausedTotal_ = 0;
};

struct TBatchFigures {
    int Done = 0; // files that ended (converted, failed or canceled)
    int Total = 0;
    int Percent = 0;
    int64_t ElapsedMs = 0; // without the time spent paused
    int64_t LeftMs = -1;   // -1 until it can be estimated
};

class TBatchClock {
public:
    // Every file weighs the same until SetWeight says otherwise.
    void Start(int files, int64_t nowMs);
    // The file's share of the batch's work (its length, say); files without a weight of their
    // own weigh as the average of those with one.
    void SetWeight(int key, double weight);
    // The share (0..1) of one running file; files are told apart by key.
    void FileProgress(int key, double share);
    void FileEnded(int key);
    void Pause(int64_t nowMs);
    void Resume(int64_t nowMs);
    TBatchFigures Figures(int64_t nowMs) const;

private:
    double WeightOf(int key) const;
    double DefaultWeight() const;

    int total_ = 0;
    int ended_ = 0;
    std::set<int> endedKeys_;
    std::map<int, double> weights_;
    std::map<int, double> running_;
    int64_t start_ = 0;
    int64_t pausedSince_ = -1;
    int64_t pausedTotal_ = 0;
};

// What one source of a batch is known to hold: its length when the libraries state one (-1
// when not) and its size.
struct TSourceWork {
    int64_t DurationMs = -1;
    int64_t Bytes = 0;
};

// Each source's weight in its batch's progress: its length in milliseconds. A source of unknown
// length weighs its bytes at the batch's own bytes per millisecond (its bytes when no source's
// length is known); one with neither weighs as the average of the others (1 when none has
// any).
std::vector<double> WorkWeights(const std::vector<TSourceWork>& sources);

// "0:07", "12:30", "1:02:03".
std::string FormatClock(int64_t ms);
// "0.4x", "2.5x", "12x".
std::string FormatSpeed(double speed);
// "2.5x, 0:12 left", the parts that are known, or an empty text.
std::string FormatFileFigures(const TFileFigures& figures);

} // namespace mobivert::app
