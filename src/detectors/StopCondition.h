#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

// A goal a detector's results must reach before the run may stop early, read from a
// `StopCondition` key: words in any order, separated by blanks or commas, such as
// "max error 0.02" or "median scatter2 count 500 rows:0-9 columns:10-19". A later word
// of a kind replaces an earlier one; the threshold is required.
struct StopCondition {
    enum FieldType : std::int32_t { Error = 0, Count = 1, Energy = 2 };
    enum StatisticType : std::int32_t { Min = 0, Max = 1, Avg = 2, Median = 3, SNR = 4 };
    enum ClassType : std::int32_t { Total = 0, Primary = 1, Scatter = 2 };
    static constexpr std::uint64_t All = std::numeric_limits<std::uint64_t>::max();

    double Threshold = 0;
    std::uint64_t ScatterOrder = 0; // 0: scattered any number of times
    FieldType Field = Error;
    StatisticType Statistic = Min;
    ClassType Class = Total;
    // The pixels it applies to, inclusive and 0-based ("rows:a-b", "columns:c-d").
    std::uint64_t FirstRow = 0, LastRow = All;
    std::uint64_t FirstColumn = 0, LastColumn = All;

    // Errors: "Don't understand \"word\" while parsing StopCondition", and for a text
    // without a number "No threshold in StopCondition \"text\"".
    static StopCondition Parse(const std::string& text);
    // "Max Total Error <= 0.02", then the region when one was given.
    std::string ToString() const;
    // Error goals are met by a statistic in (0, threshold], others by one >= threshold.
    bool IsMetBy(double statistic) const;
};

// The statistic over the values (reordered); NaN when there are none, or for SNR
// fewer than two. SNR = mean / standard deviation, the deviation from a second pass
// over the values (a one-pass formula can round negative).
double StopStatistic(StopCondition::StatisticType statistic, std::vector<double>& values);
